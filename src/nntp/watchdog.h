#pragma once

#include <functional>

#include "common/clock.h"
#include "nntp/connections.h"
#include "nntp/socket.h"

namespace quillfin::nntp {

// The engine connections' watchdogs: a connection silent longer than sldTimeout, or one whose
// socket failed, is closed and, when the user allows it, a restart countdown is armed on the
// main window's one-second timer. Silence is measured on the monotonic clock, and each
// connection's watchdog follows that connection alone.
class Watchdog {
  public:
    // countdown: the main window's one-second timer (Timer1).
    Watchdog(Connections& connections, const common::Clock& clock, Timer& countdown);
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // The last sign of life of connection 1 or 2. The download's includes a decode under way.
    std::function<common::SteadyPoint()> scanActivity;
    std::function<common::SteadyPoint()> downloadActivity;
    // Called once a restart is armed for the scan: the abandoned scan ends there instead of
    // waiting under the new one.
    std::function<void()> onScanAbandoned;

    // A connection is being made: its watchdog runs from now, before any greeting.
    void Arm(int connection);
    // Timerbot1 (connection 1) and Timerbot2 (connection 2).
    void Tick(int connection);
    void EmergencyRestart(int connection);

  private:
    Connections& connections_;
    const common::Clock& clock_;
    Timer& countdown_;
    // A restart closes the socket, and a close can report an error that restarts again.
    bool restarting_ = false;
    common::SteadyPoint armed_at_[2]{};
};

}  // namespace quillfin::nntp
