#include "nntp/watchdog.h"

#include <algorithm>

#include "common/text.h"

namespace quillfin::nntp {

Watchdog::Watchdog(Connections& connections, const common::Clock& clock, Timer& countdown)
    : connections_(connections), clock_(clock), countdown_(countdown) {}

void Watchdog::Arm(int connection) {
    if (connection != 1 && connection != 2) return;
    SessionValues& session = connections_.Session();
    (connection == 1 ? session.ScanReady : session.DownloadReady) = true;
    armed_at_[connection - 1] = clock_.Steady();
    if (Timer* timer = connections_.TimerOf(connection)) timer->SetInterval(1000);
}

void Watchdog::Tick(int connection) {
    if (connection != 1 && connection != 2) return;
    SessionValues& session = connections_.Session();
    const bool ready = connection == 1 ? session.ScanReady : session.DownloadReady;
    Timer* timer = connections_.TimerOf(connection);
    if (!ready) {
        if (timer != nullptr) timer->SetInterval(0);
        return;
    }
    const auto& activity = connection == 1 ? scanActivity : downloadActivity;
    const common::SteadyPoint last = std::max(
        armed_at_[connection - 1],
        activity ? activity() : (connection == 1 ? session.LastScanActivity : clock_.Steady()));
    const std::int64_t idle = common::SecondBoundariesBetween(last, clock_.Steady());
    if (idle > connections_.Settings().sldTimeout) EmergencyRestart(connection);
}

void Watchdog::EmergencyRestart(int connection) {
    if (restarting_ || (connection != 1 && connection != 2)) return;
    SessionValues& session = connections_.Session();
    if (connection == 1 && session.DownloadState != 0) return;
    if (connection == 2 && session.Scanning) return;
    restarting_ = true;
    if (connection == 2) session.RestartIsDownload = true;
    const bool allowed = connections_.Settings().chkAllowRestart == 1;
    // The walk is over before the close moves it on: otherwise it would go on to the next
    // groups of a dead connection, or report the scan complete, while the restart waits.
    if (connection == 1 && allowed && onScanAbandoned) onScanAbandoned();
    const std::uint64_t connects = connections_.ConnectsMade();
    connections_.CloseConnection(connection);
    restarting_ = false;
    // The close let events run: a scan or batch the user started meanwhile keeps its state.
    if (!allowed || connections_.ConnectsMade() != connects) return;

    session.DownloadState = 0;
    session.DownloadBusy = 0;
    common::MainViewState& view = connections_.View();
    view.imgTestxBusy = false;
    connections_.Log().LogEvent("Done!", false);
    session.DownloadBuffer.clear();
    session.ScanBuffer.clear();
    session.Scanning = false;
    view.ProgressBar3.value = 0;
    view.ProgressBar4.value = 0;
    view.ProgressBar1.value = 0;
    view.ProgressBar2.value = 0;
    view.Touch();
    session.RestartPending = true;
    session.RestartCountdown = connections_.Settings().Rescan_Time;
    countdown_.SetInterval(1000);
    connections_.Log().LogEvent(
        "Emergency Reconnect in" + common::Str(session.RestartCountdown) + " seconds.", true);
}

}  // namespace quillfin::nntp
