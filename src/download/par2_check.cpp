#include "download/par2_check.h"

#include <algorithm>
#include <filesystem>
#include <string>

#include "download/par2_files.h"

namespace quillfin::download {

namespace {

constexpr std::size_t kKeptOutput = 64 * 1024;

}  // namespace

Par2Check::~Par2Check() {
    if (running_ && runner_ != nullptr) runner_->Stop();
}

void Par2Check::CheckFiled(const std::vector<std::string>& filed) {
    if (runner_ == nullptr || filed.empty() || settings_.chkPar2Repair == 0) return;
    for (std::string& index : Par2IndexesFor(filed)) {
        bool queued = index == index_ && running_;
        for (const std::string& waiting : queue_) queued = queued || waiting == index;
        if (!queued) queue_.push_back(std::move(index));
    }
    if (!running_) StartNext();
}

void Par2Check::Stop() {
    queue_.clear();
    if (!running_) return;
    running_ = false;
    if (runner_ != nullptr) runner_->Stop();
    log_.LogEvent("par2 " + index_ + ": stopped", true);
}

void Par2Check::StartNext() {
    if (queue_.empty()) return;
    index_ = std::move(queue_.front());
    queue_.pop_front();
    repairing_ = false;
    Run("verify");
}

void Par2Check::Run(const char* command) {
    running_ = true;
    output_.clear();
    shown_percent_ = -1;
    const std::filesystem::path index(index_);
    log_.LogEvent("par2: " + std::string(repairing_ ? "repairing " : "verifying ") + index_, false);
    runner_->Start(
        index.parent_path().string(), {command, "--", index.filename().string()},
        [this](std::string_view chunk) { Output(chunk); }, [this](int code) { Finished(code); });
}

void Par2Check::Output(std::string_view chunk) {
    const std::size_t from = output_.size();
    output_.append(chunk);
    // Only figures whose '%' just came, read from the whole output: their digits may have come
    // in an earlier read.
    const auto percent = Par2LastPercent(output_, from);
    if (output_.size() > 2 * kKeptOutput) output_.erase(0, output_.size() - kKeptOutput);
    if (!percent || *percent == shown_percent_) return;
    shown_percent_ = *percent;
    log_.LogEvent("par2: " + std::string(repairing_ ? "repairing " : "verifying ") + index_ + " " +
                      std::to_string(*percent) + "%",
                  false);
}

void Par2Check::Finished(int code) {
    const Par2Outcome outcome = ParsePar2Output(output_, code);
    switch (outcome.kind) {
        case Par2Outcome::kVerified:
            return Done(repairing_ ? "repaired" : "verified");
        case Par2Outcome::kRepaired:
            return Done("repaired");
        case Par2Outcome::kRepairNeeded:
            if (repairing_) return Done("failed: repair did not complete");
            repairing_ = true;
            return Run("repair");
        case Par2Outcome::kCannotRepair:
            return Done("cannot repair: " + std::to_string(outcome.blocks_needed) +
                        " more recovery blocks needed");
        case Par2Outcome::kFailed:
            return Done("failed: " + outcome.detail);
    }
}

void Par2Check::Done(const std::string& outcome) {
    running_ = false;
    log_.LogEvent("par2 " + index_ + ": " + outcome, true);
    StartNext();
}

}  // namespace quillfin::download
