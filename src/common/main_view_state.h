#pragma once

#include <cstdint>
#include <string>

namespace quillfin::common {

struct ProgressBar {
    int value = 0;
    int maximum = 100;
};

// What the main window shows beyond the lists and the status line. The logic writes it; the
// window renders it at its own pace, watching Revision().
struct MainViewState {
    ProgressBar ProgressBar1;  // groups of the scan
    ProgressBar ProgressBar2;  // articles of the current group
    ProgressBar ProgressBar3;  // the article being fetched
    ProgressBar ProgressBar4;  // the posting being fetched
    bool cmdScanEnabled = true;
    bool cmdSaveHeadersEnabled = true;
    bool cmdRestoreEnabled = false;
    std::string lblTotalBatchSize = "Total batch size: 0.0mb";
    std::string lblTotalBatchTime = "Time remaining: (unknown)";
    bool lblTotalBatchTimeVisible = true;
    bool ProgressBar3Visible = false;
    // imgTestx, the activity light: true shows the busy picture while a batch runs.
    bool imgTestxBusy = false;
    std::uint64_t revision = 0;

    void Touch() { ++revision; }
};

}  // namespace quillfin::common
