#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/clock.h"

namespace quillfin::nntp {

// The values the connections, the scan engine, the watchdog, the stop command and the download
// engine share. One instance lives as long as the program. ScanState and ScanStop decide when
// the scan driver moves on, so they are changed only through setters that tell it.
class SessionValues {
public:
    // Reply buffers of connections 1 and 2; the windows of connections 3 to 5 keep their own.
    std::string ScanBuffer;
    std::string DownloadBuffer;
    // The scan connection's status line while its CR LF is still on the way: TLS records and
    // real networks cut a reply anywhere.
    std::string ScanLine;

    // Last data or greeting on the scan connection; the watchdog measures silence from it.
    common::SteadyPoint LastScanActivity{};
    // A greeting arrived on connection 1 or 2; quitting or closing either clears it.
    bool SessionReady = false;
    // The same for one connection each: a watchdog follows its own connection only, so ending
    // the scan cannot switch off the download's watchdog.
    bool ScanReady = false;
    bool DownloadReady = false;
    // QUIT has been sent on connection 1.
    bool QuitSent = false;
    bool Scanning = false;
    // The lastRead text the last XOVER request started at.
    std::string BurstStart;
    // A restart countdown is armed (the watchdog's).
    bool RestartPending = false;
    // Seconds left of the countdown, and whether it restarts the batch instead of the scan.
    int RestartCountdown = 90;
    bool RestartIsDownload = false;
    // The download engine's state; 0 when no batch download runs.
    int DownloadState = 0;
    int DownloadBusy = 0;

    common::TimePoint ScanStart{};
    // Overview records read in this scan, less one per GROUP sent.
    std::int32_t ScanHeaderCount = 0;

    // -1 failed or closed, 0 group done, 8 group reply handled, 9 GROUP sent, 12 burst expected.
    std::int32_t ScanState() const { return scan_state_; }
    void SetScanState(std::int32_t value);
    bool ScanStop() const { return scan_stop_; }
    void SetScanStop(bool value);

    // Called after every change of ScanState or ScanStop; the scan engine sets it.
    std::function<void()> onScanSignal;
    // Called when the scan connection is opened again; nothing asked on the old one is coming.
    std::function<void()> onScanConnect;

private:
    std::int32_t scan_state_ = 0;
    bool scan_stop_ = false;
};

}  // namespace quillfin::nntp
