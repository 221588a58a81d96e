#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "download/par2_runner.h"
#include "storage/activity_log.h"
#include "storage/settings.h"

namespace quillfin::download {

// After a batch: par2 verifies each set whose files the batch filed, and repairs those that
// need it, one at a time in the background. Progress shows in the status line, the outcome
// of each set in the log.
class Par2Check {
  public:
    Par2Check(const storage::Settings& settings, storage::ActivityLog& log)
        : settings_(settings), log_(log) {}
    ~Par2Check();
    Par2Check(const Par2Check&) = delete;
    Par2Check& operator=(const Par2Check&) = delete;

    // Without a runner nothing is checked.
    void SetRunner(Par2Runner* runner) { runner_ = runner; }
    // Queues the sets that these files (full paths) belong to, unless chkPar2Repair is off.
    void CheckFiled(const std::vector<std::string>& filed);
    // Ends the running child and forgets the sets still queued.
    void Stop();
    bool Busy() const { return running_; }

  private:
    void StartNext();
    void Run(const char* command);
    void Output(std::string_view chunk);
    void Finished(int code);
    void Done(const std::string& outcome);

    const storage::Settings& settings_;
    storage::ActivityLog& log_;
    Par2Runner* runner_ = nullptr;
    std::deque<std::string> queue_;
    std::string index_;
    bool running_ = false;
    bool repairing_ = false;
    // The tail of what the run printed: its verdict is in its last lines.
    std::string output_;
    int shown_percent_ = -1;
};

}  // namespace quillfin::download
