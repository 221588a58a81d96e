#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/event_pump.h"
#include "common/main_view_state.h"
#include "common/prompts.h"
#include "headers/batch_queue.h"
#include "headers/header_table.h"
#include "storage/activity_log.h"

namespace quillfin::headers {

// The wait window (frmWait) while the header file is read or written.
struct WaitWindowState {
    bool visible = false;
    std::string lblNFO;
    common::ProgressBar progress;
    std::uint64_t revision = 0;

    void Touch() { ++revision; }
};

// npending.dat: the header table between runs. Saving drops deleted postings that are not
// queued, so a save and the next load also compact the table.
class HeaderStore {
  public:
    static constexpr const char* kFileName = "npending.dat";
    static constexpr const char* kMagic = "QFNHF06";
    // Postings queued from NZB files, in npending.dat's record layout, fetched by message-ID.
    static constexpr const char* kImportedFileName = "nzbpending.dat";
    static constexpr const char* kImportedMagic = "QFNZB01";

    HeaderStore(HeaderTable& table, BatchQueue& batch, common::MainViewState& view,
                storage::ActivityLog& log, common::Prompts& prompts, common::EventPump& pump,
                const common::Clock& clock, std::string program_dir);

    // Writes the file; false when it could not be written (the old file is kept, the
    // failure logged and HeadersChanged left set) or a save is already running. A message
    // box reports the failure unless the caller asks the user itself (show_failure false).
    bool SaveHeaders(bool show_failure = true);
    // Why the last save failed.
    const std::string& LastFailure() const { return last_failure_; }
    // A save is running and letting events run.
    bool Saving() const { return saving_; }
    // Reads the file into the table and rebuilds the batch; what a damaged file holds up to
    // the damage is loaded and the damage reported.
    void LoadHeaders();
    // The Save Headers button: asks first when nothing changed, then saves the headers and,
    // once they are safe, the newsgroup list.
    void SaveHeadersCommand(const std::function<void()>& save_group_list);

    const WaitWindowState& WaitWindow() const { return wait_; }
    std::string FilePath() const;
    std::string ImportedFilePath() const;
    // Where a damaged file is kept before a save replaces it.
    std::string DamagedCopyPath() const;

  private:
    struct LoadResult;

    bool DeleteFile(const std::string& path);
    bool WritePostings(const std::string& path, const char* magic,
                       const std::vector<std::int32_t>& chosen, std::int64_t* parts);
    // Each true when its file was there to read, damaged or not.
    bool LoadScanned(LoadResult* result);
    bool LoadImported(LoadResult* result);
    bool FailSave(const std::string& reason);
    void ReadPostings(class HeaderFileReader& reader, std::int64_t announced, LoadResult* result);
    void ReportDamage(const LoadResult& result, std::int64_t announced);
    bool KeepDamagedCopy(const std::string& path);
    void LogSaved(std::int64_t parts, common::TimePoint started);
    void Report(const std::string& text);
    bool SaveFailed(const std::string& text);

    HeaderTable& table_;
    BatchQueue& batch_;
    common::MainViewState& view_;
    storage::ActivityLog& log_;
    common::Prompts& prompts_;
    common::EventPump& pump_;
    const common::Clock& clock_;
    std::string program_dir_;
    WaitWindowState wait_;
    bool saving_ = false;
    bool show_failure_ = true;
    std::string last_failure_;
};

}  // namespace quillfin::headers
