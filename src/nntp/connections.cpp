#include "nntp/connections.h"

#include <exception>

#include "common/run_error.h"
#include "common/text.h"

namespace quillfin::nntp {

namespace {

constexpr int kMaxCloseRetries = 4;
constexpr const char* kPassCommand = "AUTHINFO PASS ";

bool ValidConnection(int connection) {
    return connection >= 1 && connection <= Connections::kCount;
}

}  // namespace

Connections::Connections(SessionValues& session, storage::Settings& settings,
                         storage::GroupList& groups, storage::ActivityLog& log,
                         common::MainViewState& view, common::Prompts& prompts, Windows& windows,
                         common::EventPump& pump)
    : session_(session),
      settings_(settings),
      groups_(groups),
      log_(log),
      view_(view),
      prompts_(prompts),
      windows_(windows),
      pump_(pump) {}

void Connections::AttachSocket(int connection, Socket* socket) {
    if (ValidConnection(connection)) sockets_[std::size_t(connection - 1)] = socket;
}

void Connections::AttachReplyBuffer(int connection, std::string* buffer) {
    if (connection >= 3 && connection <= kCount)
        window_buffers_[std::size_t(connection - 3)] = buffer;
}

void Connections::AttachTimer(int connection, Timer* timer) {
    if (connection == 1 || connection == 2) timers_[std::size_t(connection - 1)] = timer;
}

Socket* Connections::SocketOf(int connection) const {
    return ValidConnection(connection) ? sockets_[std::size_t(connection - 1)] : nullptr;
}

Timer* Connections::TimerOf(int connection) const {
    return connection == 1 || connection == 2 ? timers_[std::size_t(connection - 1)] : nullptr;
}

std::string* Connections::ReplyBuffer(int connection) {
    switch (connection) {
        case 1:
            return &session_.ScanBuffer;
        case 2:
            return &session_.DownloadBuffer;
        case 3:
        case 4:
        case 5:
            return window_buffers_[std::size_t(connection - 3)];
        default:
            return nullptr;
    }
}

std::string Connections::StateText(int state) {
    static const char* const kTexts[] = {
        "Connection Closed",  "Open",           "Listening",
        "Connection pending", "Resolving Host", "Host resolved",
        "Connecting",         "Connected",      "Peer is closing the connection",
        "TCP Error"};
    if (state < 0 || state > 9) return {};
    return kTexts[state];
}

int Connections::StateOf(int connection) const {
    Socket* socket = SocketOf(connection);
    return socket == nullptr ? Socket::kClosed : socket->GetState();
}

void Connections::StopTimer(int connection) {
    if (Timer* timer = TimerOf(connection)) timer->SetInterval(0);
}

void Connections::ResetScanControls() {
    view_.ProgressBar1.value = 0;
    view_.ProgressBar2.value = 0;
    view_.cmdScanEnabled = true;
    view_.Touch();
}

void Connections::SendLine(int connection, const std::string& text) {
    Socket* socket = SocketOf(connection);
    if (socket == nullptr || socket->GetState() != Socket::kConnected) return;
    socket->Send(text + "\r\n");
    if (connection >= 3) {
        // The log reaches OPSLOG.TXT: never write the password there.
        if (common::StartsWith(text, kPassCommand))
            LogLine(std::string(kPassCommand) + "********");
        else
            LogLine(text);
    }
}

void Connections::ConnectScan() {
    try {
        if (settings_.News_Port.empty()) settings_.News_Port = "119";
        if (settings_.News_Host.empty()) {
            prompts_.Message(
                "Enter News Server name, and then click connect again.\r\r  This is usually "
                "'news.(hostname).net' or something similar.  Contact your system admin if you "
                "are unsure.");
            return;
        }
        if (groups_.Count() == 0) {
            windows_.HideLoginDialog();
            prompts_.Message(
                "Before scanning, you need to specify some newsgroups.  \r\rUsually you do this "
                "from the Options menu / Newsgroups tab / Add button, but this time I'll pop it "
                "up for you.");
            windows_.ShowOptionsNewsgroupsTab();
            windows_.ShowAddNewsgroupDialog();
            return;
        }
        if (StateOf(1) != Socket::kClosed) {
            LogLine("Connection Error, please wait...");
            CloseConnection(1);
        }
        // A burst the old connection left unfinished never completes on the new one; while
        // ScanState says a burst is expected, the greeting would be taken for burst data.
        if (session_.ScanState() == 12) session_.SetScanState(-1);
        session_.BurstStart.clear();
        if (session_.onScanConnect) session_.onScanConnect();
        session_.QuitSent = false;
        session_.RestartPending = false;
        windows_.HideLoginDialog();
        view_.cmdScanEnabled = false;
        view_.Touch();

        Socket* socket = SocketOf(1);
        if (socket == nullptr) throw common::RunError(91, "Object variable not set");
        std::int64_t port = common::WholeValue(settings_.News_Port);
        if (port < 0 || port > 65535) throw common::Overflow();
        socket->SetRemotePort(int(port));
        socket->SetRemoteHost(settings_.News_Host);
        socket->SetLocalPort(0);
        if (socket->GetState() != Socket::kClosed) {
            LogLine("Connection Error...");
            return;
        }
        socket->Connect();
        NoteConnecting(1);
        LogLine("Connecting...");
        session_.ScanBuffer.clear();
        session_.ScanLine.clear();
        // A running batch may be in the middle of an article on the other connection.
        if (session_.DownloadState == 0) session_.DownloadBuffer.clear();
    } catch (const std::exception& e) {
        LogLine(e.what());
        QuitConnection(1);
    }
}

void Connections::QuitConnection(int connection) {
    session_.SessionReady = false;
    ClearReady(connection);
    if (connection == 1) {
        session_.QuitSent = true;
        SendLine(1, "QUIT");
        view_.ProgressBar1.value = 0;
        view_.ProgressBar2.value = 0;
        if (session_.DownloadState == 0) view_.cmdScanEnabled = true;
        view_.Touch();
        session_.SetScanStop(true);
        StopTimer(1);
    } else if (connection == 2) {
        SendLine(2, "QUIT");
        StopTimer(2);
        view_.cmdScanEnabled = true;
        view_.Touch();
    }
}

void Connections::NoteConnecting(int connection) {
    if (connection == 1 || connection == 2) ++connects_made_;
    if (onConnecting) onConnecting(connection);
}

void Connections::ClearReady(int connection) {
    if (connection == 1) session_.ScanReady = false;
    if (connection == 2) session_.DownloadReady = false;
}

void Connections::CloseConnection(int connection) {
    session_.SessionReady = false;
    ClearReady(connection);
    if (connection != 1 && connection != 2) {
        pump_.Pump();
        return;
    }
    if (Socket* socket = SocketOf(connection)) socket->Close();
    StopTimer(connection);
    const std::uint64_t connects = connects_made_;
    pump_.Pump();
    // A connection the user opened meanwhile is not the one this close was for.
    if (connects_made_ != connects) return;
    ShowConnectionState(connection);
}

void Connections::ShowConnectionState(int connection) {
    if (connection != 1 && connection != 2) return;
    const int state = StateOf(connection);
    const std::string text = StateText(state);
    session_.SetScanState(-1);
    if (!text.empty()) LogLine(text);
    if (state != Socket::kClosed && close_retries_ < kMaxCloseRetries) {
        ++close_retries_;
        CloseConnection(connection);
        --close_retries_;
    }
    if (connection == 1) ResetScanControls();
}

void Connections::CloseViewerSocket(int connection) {
    SendLine(connection, "QUIT");
    if (Socket* socket = SocketOf(connection)) socket->Close();
}

bool Connections::RefusedLogin(int connection) {
    // The stored name and password go only to a server the user said needs them.
    if (settings_.chkAuth == 1) return false;
    LogLine("Error, server wanted a login, but authentication is switched off.");
    EndWithoutLogin(connection);
    return true;
}

void Connections::EndWithoutLogin(int connection) {
    switch (connection) {
        case 1:
            ResetScanControls();
            session_.SetScanState(-1);
            QuitConnection(1);
            break;
        case 2:
            session_.DownloadState = 0;
            session_.DownloadBusy = 0;
            QuitConnection(2);
            break;
        case 3:
        case 4:
        case 5:
            CloseViewerSocket(connection);
            break;
        default:
            break;
    }
}

void Connections::AuthUser(int connection) {
    if (RefusedLogin(connection)) return;
    LogLine("Authenticating User Name...");
    if (settings_.User_Name.empty()) {
        const std::string text = "Error, server wanted username, but you have not supplied it.";
        prompts_.Message(text);
        LogLine(text);
        EndWithoutLogin(connection);
        return;
    }
    SendLine(connection, "AUTHINFO USER " + settings_.User_Name);
    // Some servers send the password request right behind the user-name request.
    std::string* buffer = ReplyBuffer(connection);
    if (buffer != nullptr && buffer->find("\r\n381") != std::string::npos) {
        buffer->clear();
        AuthPass(connection);
    }
}

void Connections::AuthPass(int connection) {
    if (RefusedLogin(connection)) return;
    LogLine("Authenticating Password...");
    if (settings_.User_Pass.empty()) {
        prompts_.Message("Error, server wanted password, but you have not supplied it.");
        switch (connection) {
            case 1:
                ResetScanControls();
                QuitConnection(1);
                break;
            case 2:
                session_.DownloadState = 0;
                session_.DownloadBusy = 0;
                QuitConnection(2);
                break;
            case 3:
            case 4:
                CloseViewerSocket(connection);
                break;
            default:
                break;
        }
        windows_.ShowLoginDialog();
        return;
    }
    SendLine(connection, kPassCommand + settings_.User_Pass);
}

}  // namespace quillfin::nntp
