#include "storage/activity_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "common/text.h"
#include "storage/program_files.h"

namespace quillfin::storage {

ActivityLog::ActivityLog(const Settings& settings, const common::Clock& clock,
                         std::string program_dir)
    : settings_(settings), clock_(clock), program_dir_(std::move(program_dir)) {}

static std::string FirstLine(std::string_view text) {
    std::size_t cr = text.find('\r');
    if (cr != std::string_view::npos) return common::Trim(text.substr(0, cr));
    return std::string(text);
}

void ActivityLog::ShowStatusLater(const DeferredStatus& source) {
    deferred_ = &source;
    ++revision_;
    if (settings_.chkEnableLogging != 0 && lines_.size() > kMaxLines) lines_.pop_back();
}

void ActivityLog::FlushDeferredStatus() const {
    if (deferred_ == nullptr) return;
    status_line_ = FirstLine(deferred_->StatusText());
    deferred_ = nullptr;
}

const std::string& ActivityLog::StatusLine() const {
    FlushDeferredStatus();
    return status_line_;
}

void ActivityLog::LogEvent(std::string_view text, bool keep) {
    std::string line = FirstLine(text);
    deferred_ = nullptr;
    status_line_ = line;
    ++revision_;
    if (settings_.chkEnableLogging == 0) return;
    common::TimePoint now = clock_.Now();
    if (keep) {
        lines_.push_front(common::FormatClockTime(now) + "  " + line);
        selected_ = 0;
    }
    if (lines_.size() > kMaxLines) lines_.pop_back();
    if (keep && settings_.chkLogFile != 0) {
        AppendToFile(common::FormatShortDate(now) + " " + common::FormatClockTime(now) + "  " +
                     line);
    }
}

void ActivityLog::AppendToFile(const std::string& text) {
    // Opened and closed per line, so an abrupt stop never leaves a half-written line behind
    // an open handle. The log names the user: owner only, like QUILFN.INI.
    const int fd = ::open(OpsLogPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        ++file_failures_;
        return;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && (info.st_mode & 077) != 0) ::fchmod(fd, 0600);
    // Server text may hold control bytes: a lone LF would split the line, an escape sequence
    // would drive the terminal of whoever reads the file.
    std::string record = text;
    for (char& c : record)
        if ((static_cast<unsigned char>(c) < ' ' && c != '\t') || c == '\x7f') c = ' ';
    record += "\r\n";
    if (::write(fd, record.data(), record.size()) != ssize_t(record.size())) ++file_failures_;
    if (::close(fd) != 0) ++file_failures_;
}

void ActivityLog::Clear() {
    lines_.clear();
    selected_ = -1;
    ++revision_;
}

std::string ActivityLog::OpsLogPath() const { return ProgramFile(program_dir_, "OPSLOG.TXT"); }

}  // namespace quillfin::storage
