#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "storage/settings.h"

namespace quillfin::storage {

// A status text formatted only when the status line is read. Progress is reported once per
// overview line, far more often than anyone can look; the source keeps what it needs.
class DeferredStatus {
public:
    virtual ~DeferredStatus() = default;
    virtual std::string StatusText() const = 0;
};

// The one channel for reports: the status line, the kept list (newest first) and OPSLOG.TXT.
// The windows render StatusLine() and Lines(); Revision() tells them when to repaint.
class ActivityLog {
public:
    static constexpr std::size_t kMaxLines = 99;

    ActivityLog(const Settings& settings, const common::Clock& clock, std::string program_dir);

    void LogEvent(std::string_view text, bool keep);
    // As LogEvent(source.StatusText(), false), with the text formatted when it is read. The
    // source must stay alive, or FlushDeferredStatus be called before it goes.
    void ShowStatusLater(const DeferredStatus& source);
    void FlushDeferredStatus() const;

    const std::string& StatusLine() const;
    const std::deque<std::string>& Lines() const { return lines_; }
    // Index into Lines() of the selected line; -1 when none.
    int SelectedLine() const { return selected_; }
    void Clear();
    std::string OpsLogPath() const;
    std::uint64_t Revision() const { return revision_; }
    // Lines that could not be appended to OPSLOG.TXT since start-up.
    int FileFailures() const { return file_failures_; }

private:
    void AppendToFile(const std::string& text);

    const Settings& settings_;
    const common::Clock& clock_;
    std::string program_dir_;
    mutable std::string status_line_ = "Quillfin ready, press SCAN to start";
    mutable const DeferredStatus* deferred_ = nullptr;
    std::deque<std::string> lines_;
    int selected_ = -1;
    std::uint64_t revision_ = 0;
    int file_failures_ = 0;
};

}  // namespace quillfin::storage
