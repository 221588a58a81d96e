#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "common/event_pump.h"
#include "common/main_view_state.h"
#include "common/prompts.h"
#include "nntp/session_values.h"
#include "nntp/socket.h"
#include "nntp/windows.h"
#include "storage/activity_log.h"
#include "storage/group_list.h"
#include "storage/settings.h"

namespace quillfin::nntp {

// What every NNTP connection shares: sending a line, opening the scan connection, the login
// steps, QUIT and close. Connections are numbered 1 scan, 2 download, 3 host group list,
// 4 article viewer, 5 MP3 preview; each reply handler calls these routines.
class Connections {
public:
    static constexpr int kCount = 5;

    Connections(SessionValues& session, storage::Settings& settings, storage::GroupList& groups,
                storage::ActivityLog& log, common::MainViewState& view, common::Prompts& prompts,
                Windows& windows, common::EventPump& pump);
    Connections(const Connections&) = delete;
    Connections& operator=(const Connections&) = delete;

    // A socket for connection 1..5; nullptr detaches it (a viewer window that closed).
    void AttachSocket(int connection, Socket* socket);
    // The watchdog timer of connection 1 or 2.
    void AttachTimer(int connection, Timer* timer);
    Socket* SocketOf(int connection) const;
    Timer* TimerOf(int connection) const;
    // Connections 3 to 5 belong to windows, each with a reply buffer of its own; nullptr
    // detaches it.
    void AttachReplyBuffer(int connection, std::string* buffer);
    // The reply buffer of a connection; nullptr for a number outside 1..5 or a window's
    // connection without one.
    std::string* ReplyBuffer(int connection);

    // The text ShowConnectionState writes for a socket state; empty for an unknown state.
    static std::string StateText(int state);

    // A server that accepts the connection and never greets must not hang the scan or the
    // batch: the watchdog is told as soon as a connection is being made.
    std::function<void(int connection)> onConnecting;
    void NoteConnecting(int connection);
    // Connections 1 and 2 made so far: a routine that lets events run finds out whether the
    // user connected anew meanwhile, and then leaves that connection's state alone.
    std::uint64_t ConnectsMade() const { return connects_made_; }

    void SendLine(int connection, const std::string& text);
    void ConnectScan();
    void QuitConnection(int connection);
    void CloseConnection(int connection);
    void ShowConnectionState(int connection);
    void AuthUser(int connection);
    void AuthPass(int connection);

    SessionValues& Session() { return session_; }
    storage::Settings& Settings() { return settings_; }
    storage::GroupList& Groups() { return groups_; }
    storage::ActivityLog& Log() { return log_; }
    common::MainViewState& View() { return view_; }
    common::Prompts& Prompts() { return prompts_; }
    common::EventPump& Pump() { return pump_; }

    // Progress bars 1 and 2 to 0 and the scan button enabled: how a failed scan connection
    // hands the window back to the user.
    void ResetScanControls();

private:
    int StateOf(int connection) const;
    void ClearReady(int connection);
    void StopTimer(int connection);
    void CloseViewerSocket(int connection);
    bool RefusedLogin(int connection);
    // Ends a connection whose login cannot go on, as its reply handler expects.
    void EndWithoutLogin(int connection);
    void LogLine(const std::string& text) { log_.LogEvent(text, true); }

    SessionValues& session_;
    storage::Settings& settings_;
    storage::GroupList& groups_;
    storage::ActivityLog& log_;
    common::MainViewState& view_;
    common::Prompts& prompts_;
    Windows& windows_;
    common::EventPump& pump_;
    std::array<Socket*, kCount> sockets_{};
    std::array<Timer*, 2> timers_{};
    std::array<std::string*, 3> window_buffers_{};
    // ShowConnectionState closes again while a socket is not yet closed; a socket that never
    // reaches state 0 must not recurse without end.
    int close_retries_ = 0;
    std::uint64_t connects_made_ = 0;
};

}  // namespace quillfin::nntp
