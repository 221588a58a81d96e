// The scan connection's events: data arrival with its table of reply codes, close and error.
#include <algorithm>
#include <exception>
#include <utility>

#include "common/text.h"
#include "nntp/scan_engine.h"

namespace quillfin::nntp {

void ScanEngine::ScanReply(const std::string& chunk) {
    EventScope scope(*this);
    try {
        HandleScanData(chunk);
    } catch (const std::exception&) {
        // A failed step must not reach the event loop; the watchdog ends a session that stalls.
    }
}

void ScanEngine::HandleScanData(const std::string& chunk) {
    session_.LastScanActivity = clock_.Steady();
    if (socket_ == nullptr || socket_->GetState() != Socket::kConnected) {
        connections_.QuitConnection(1);
        return;
    }
    if (dropped_ > 0) {
        // Replies to requests given up come first; only what follows them is looked at.
        std::string rest = chunk;
        if (SwallowDropped(rest)) HandleReplyData(rest);
        return;
    }
    HandleReplyData(chunk);
}

void ScanEngine::HandleReplyData(const std::string& chunk) {
    if (session_.QuitSent) {
        // The goodbye may follow the first part of a line that came in an earlier chunk.
        const std::string text = session_.ScanLine + chunk;
        std::size_t at = text.find("\r\n205");
        if (at != std::string::npos) {
            LogLine(text.substr(at + 5) + "  (disconnected)");
            connections_.CloseConnection(1);
            return;
        }
    }
    if (session_.ScanState() == 12) {
        // Burst data is kept once, in XoverBuffer; ScanBuffer is cleared when it completes.
        BurstReceiver(chunk);
        return;
    }
    const std::size_t held = std::max(session_.ScanBuffer.size(), session_.ScanLine.size());
    if (DroppedOversizedReply(held + chunk.size())) return;
    session_.ScanBuffer += chunk;
    // Act on a whole status line only; what follows it in the same chunk is not looked at, as
    // a reply never comes unasked.
    session_.ScanLine += chunk;
    if (session_.ScanLine.find('\n') == std::string::npos) return;
    DispatchReply(std::exchange(session_.ScanLine, {}));
}

void ScanEngine::DispatchReply(const std::string& chunk) {
    // The code is taken from the start of this reply only, never from the buffer.
    const std::string code = chunk.substr(0, 4);
    if (code == "400 ") {
        LogLine(chunk);
        connections_.ResetScanControls();
        session_.SetScanStop(false);
        connections_.CloseConnection(1);
    } else if (code == "421 ") {
        ReportProgress(table_.CurrentGroup, group_last_text_, false);
        session_.SetScanState(0);
    } else if (code == "500 ") {
        LogLine(chunk);
    } else if (code == "202 ") {
        LogLine(chunk);
        ScanDriver();
    } else if (code == "211 ") {
        if (session_.ScanState() == 9)
            GroupReply(chunk);
        else
            session_.SetScanState(0);
    } else if (code == "224 ") {
        LogLine(session_.ScanBuffer);
    } else if (code == "411 ") {
        LogLine("Error, no such news group " + table_.CurrentGroup);
        session_.SetScanState(-1);
    } else if (code == "480 ") {
        connections_.AuthUser(1);
    } else if (code == "381 ") {
        connections_.AuthPass(1);
    } else if (code == "281 ") {
        HandleLoginComplete();
    } else if (code == "205 ") {
        LogLine(chunk + "  (disconnected)");
        connections_.CloseConnection(1);
    } else if (code == "502 ") {
        LogLine(chunk + "(disconnected)");
        connections_.ResetScanControls();
        session_.SetScanStop(true);
        connections_.CloseConnection(1);
        connections_.Prompts().Message("Authentication Error.  Check Username/Password...");
    } else if (code == "200 " || code == "201 ") {
        HandleGreeting(chunk);
    }
    // "423 ", "223 ", "221 " and anything else: nothing more.
}

void ScanEngine::HandleGreeting(const std::string& chunk) {
    LogLine(chunk);
    session_.LastScanActivity = clock_.Steady();
    if (Timer* timer = connections_.TimerOf(1)) timer->SetInterval(1000);
    session_.SessionReady = true;
    session_.ScanReady = true;
    session_.ScanBuffer.clear();
    if (settings_.chkAuth == 1)
        connections_.AuthUser(1);
    else if (settings_.chkSlave == 1)
        RequestSlave();
    else
        ScanDriver();
}

void ScanEngine::HandleLoginComplete() {
    session_.ScanBuffer.clear();
    LogLine("Authinfo cleared, login complete...");
    if (settings_.chkSlave == 1)
        RequestSlave();
    else
        ScanDriver();
}

void ScanEngine::RequestSlave() {
    LogLine("Requesting slave status");
    connections_.SendLine(1, "SLAVE");
}

void ScanEngine::OnScanSocketClose() {
    EventScope scope(*this);
    if (Timer* timer = connections_.TimerOf(1)) timer->SetInterval(0);
    // The server went away in the middle of a session we did not end. Stopping the watchdog
    // alone would leave the scan waiting for ever; restart it as after a socket error.
    if ((session_.SessionReady || session_.ScanReady) && !session_.QuitSent) Restart();
}

void ScanEngine::OnScanSocketError(int /*number*/, const std::string& description) {
    EventScope scope(*this);
    LogLine(description);
    Restart();
}

bool ScanEngine::DroppedOversizedReply(std::size_t size) {
    if (size <= reply_limit_) return false;
    LogLine("Error, the server sent over " + common::Decimal(std::int64_t(reply_limit_)) +
            " bytes without ending its reply; restarting the connection");
    // Give the memory back at once: a restart may be a while coming.
    std::string().swap(xover_buffer_);
    std::string().swap(session_.ScanBuffer);
    std::string().swap(session_.ScanLine);
    Restart();
    return true;
}

void ScanEngine::Restart() {
    if (callouts_ != nullptr)
        callouts_->EmergencyRestart(1);
    else
        connections_.CloseConnection(1);
}

}  // namespace quillfin::nntp
