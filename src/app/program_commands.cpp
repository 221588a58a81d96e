// The main window's commands and its one-second countdown timer.
#include "app/program.h"
#include "common/text.h"

namespace quillfin::app {

void Program::ScanCommand() {
    if (exiting_) return;
    if (settings.Download_Path.empty())
        services_.windows.ShowFolderPicker();
    else
        services_.windows.ShowLoginDialog();
}

void Program::ScanStopCommand() {
    if (exiting_) return;
    nntp::ScanEngine::EventScope scope(scan);
    const int state = services_.tcp1.GetState();
    connections.QuitConnection(1);
    // QUIT cannot reach a server that has not greeted yet, and the greeting would then start
    // the scan anyway: a connection still being made is closed instead.
    if (state != nntp::Socket::kClosed && state != nntp::Socket::kConnected)
        connections.CloseConnection(1);
    Status("");
    if (session.Scanning) {
        session.Scanning = false;
        if (session.ScanHeaderCount > 1) {
            const std::int64_t elapsed =
                common::SecondBoundariesBetween(session.ScanStart, services_.clock.Now());
            const double rate =
                elapsed != 0 ? double(session.ScanHeaderCount) / double(elapsed) * 60.0 : 0.0;
            log.LogEvent("Scan Aborted by user." + common::Str(session.ScanHeaderCount) +
                             " headers read in" + common::Str(elapsed) + " seconds, averaging " +
                             common::FormatNumber(rate, "0.0") + " headers per minute.",
                         true);
        }
    }
    session.RestartPending = false;
    session.RestartCountdown = 90;
    services_.timer1.SetInterval(0);
    session.BurstStart.clear();
    view.cmdScanEnabled = true;
    view.Touch();
}

void Program::BatchStartCommand() {
    if (exiting_) return;
    for (const auto& entry : table.Entries()) {
        if (entry.InBatch) {
            DownloadStep();
            return;
        }
    }
    services_.prompts.Message("Warning, nothing in batch que!");
}

void Program::BatchStopCommand() {
    // Stop also ends a par2 check the last batch left running.
    const bool checking = par2.Busy();
    par2.Stop();
    if (session.DownloadBusy == 0) {
        if (checking) return;
        services_.prompts.Message(
            "Use this button to stop the download process, there is not currently anything "
            "downloading.");
        return;
    }
    download.StopBatch();
    // A stopped batch is not to come back through a later restart countdown.
    if (session.RestartPending && session.RestartIsDownload) {
        session.RestartPending = false;
        services_.timer1.SetInterval(0);
    }
    session.RestartIsDownload = false;
}

void Program::SaveHeadersCommand() {
    if (exiting_) return;
    store.SaveHeadersCommand([this] { groups.SaveGroupList(); });
    if (const std::optional<bool> ask = std::exchange(exit_after_save_, std::nullopt))
        Shutdown(*ask);
}

void Program::Timer1Tick() {
    if (exiting_) return;
    auto& timer = services_.timer1;
    if (!session.RestartPending) {
        timer.SetInterval(0);
        log.LogEvent("Re-scan countdown cancelled by user.", true);
        return;
    }
    if (session.RestartCountdown <= 0) return;
    --session.RestartCountdown;
    if (session.RestartCountdown == 0) {
        if (session.RestartIsDownload) {
            Status("Download Restart Initiated");
            timer.SetInterval(0);
            // The countdown is used up; left set, it would say a restart is still to come.
            session.RestartPending = false;
            DownloadStep();
        } else if (session.DownloadBusy != 0) {
            // A scan now would meet "Stop scan first." at every article of the batch.
            timer.SetInterval(0);
            session.RestartPending = false;
            log.LogEvent("Rescan skipped: a batch download is running.", true);
        } else {
            Status("Rescan initiated");
            timer.SetInterval(0);
            connections.ConnectScan();
        }
        return;
    }
    Status(std::string(session.RestartIsDownload ? "Download Restart in" : "Rescan in") +
           common::Str(session.RestartCountdown) + " seconds (hit stop to abort)");
    if (session.RestartCountdown >= 1 && session.RestartCountdown <= 10)
        services_.sounds.Play(std::to_string(session.RestartCountdown) + ".wav");
}

}  // namespace quillfin::app
