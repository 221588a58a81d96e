// Connection 2's events: data arrival with its table of reply codes, close and error.
#include <exception>

#include "common/text.h"
#include "download/download_engine.h"
#include "headers/message_id.h"

namespace quillfin::download {

void DownloadEngine::TCP2_DataArrival(const std::string& chunk) {
    try {
        HandleData(chunk);
    } catch (const std::exception&) {
        // A failed step must not reach the event loop; the watchdog ends a session that stalls.
    }
}

void DownloadEngine::HandleData(const std::string& chunk) {
    last_activity_ = clock_.Steady();
    if (socket_ == nullptr || socket_->GetState() != nntp::Socket::kConnected) {
        LogLine("Download Connection Error...");
        // Quitting alone would stop the watchdog too and leave the batch waiting for good:
        // a connection lost in the middle of a batch restarts it instead.
        if (session_.DownloadBusy != 0 && socket_ != nullptr) {
            Restart();
            return;
        }
        connections_.QuitConnection(2);
    }
    std::string& buffer = session_.DownloadBuffer;
    const std::size_t before = buffer.size();
    buffer += chunk;
    if (DroppedOversizedReply()) return;
    if (awaiting_article_ && !in_article_) {
        if (buffer.starts_with("220")) {
            in_article_ = true;
            awaiting_article_ = false;
        } else if (buffer.size() < 3 && std::string_view("220").starts_with(buffer)) {
            CountProgress(chunk.size());  // too short to tell yet
            return;
        } else {
            // An error reply to ARTICLE, gathered from its first byte.
            awaiting_article_ = false;
            StatusReply(buffer, chunk.size());
            return;
        }
    }
    if (in_article_) {
        ArticleData(before, chunk.size());
        return;
    }
    StatusReply(chunk, chunk.size());
}

void DownloadEngine::ArticleData(std::size_t before, std::size_t length) {
    // Only the new bytes, and the four before them, can complete the end line.
    const std::size_t from = before >= 4 ? before - 4 : 0;
    if (session_.DownloadBuffer.find("\r\n.\r\n", from) != std::string::npos) {
        // The last chunk counts too: an article that came in one chunk is not 0.0 kb.
        CountProgress(length);
        ArticleRetrieved();
        return;
    }
    CountProgress(length);
}

void DownloadEngine::StatusReply(const std::string& text, std::size_t length) {
    if (user_abort_) {
        const std::size_t at = text.find("\r\n205");
        if (at != std::string::npos) {
            LogLine(text.substr(at + 5) + "  (disconnected)");
            connections_.CloseConnection(2);
            return;
        }
    }
    // A reply is taken as a whole line, however the network split it; what follows its line
    // in the same chunk is not looked at, as a reply never comes unasked.
    reply_ += text;
    if (reply_.find('\n') == std::string::npos) return;
    const std::string line = std::move(reply_);
    reply_.clear();
    if (line.size() >= 4) Dispatch(line.substr(0, 4), line, length);
}

void DownloadEngine::Dispatch(const std::string& code, const std::string& text,
                              std::size_t length) {
    if (code == "500 ") {
        LogLine(text);
    } else if (code == "202 ") {
        LogLine(text);
        SendDownloadGroup();
    } else if (code == "423 " || (code == "430 " && headers::IsMessageId(current_article_))) {
        // "430": no article with the message-ID an NZB gave.
        SkipPosting();
    } else if (code == "211 ") {
        session_.DownloadState = 5;
        article_start_ = clock_.Now();
        SendArticle();
    } else if (code == "411 ") {
        // Nothing: the watchdog ends the wait.
    } else if (code == "281 ") {
        HandleLoginComplete();
    } else if (code == "205 ") {
        LogLine(text);
        connections_.CloseConnection(2);
    } else if (code == "200 " || code == "201 ") {
        HandleGreeting(text);
    } else if (code == "412 ") {
        session_.DownloadState = 0;
        session_.DownloadBusy = 0;
        connections_.QuitConnection(2);
    } else if (code == "480 ") {
        connections_.AuthUser(2);
    } else if (code == "381 ") {
        connections_.AuthPass(2);
    } else if (code == "502 ") {
        LogLine(text + "(disconnected)");
        connections_.QuitConnection(2);
    } else if (session_.DownloadState == 1 || session_.DownloadState == 5) {
        CountProgress(length);
    }
}

void DownloadEngine::HandleGreeting(const std::string& text) {
    LogLine(text);
    if (nntp::Timer* timer = connections_.TimerOf(2)) timer->SetInterval(1000);
    session_.SessionReady = true;
    session_.DownloadReady = true;
    last_activity_ = clock_.Steady();
    if (settings_.chkAuth == 1)
        connections_.AuthUser(2);
    else if (settings_.chkSlave == 1)
        RequestSlave();
    else
        SendDownloadGroup();
}

void DownloadEngine::HandleLoginComplete() {
    LogLine("Authinfo cleared, login complete...");
    if (settings_.chkSlave == 1)
        RequestSlave();
    else
        SendDownloadGroup();
}

void DownloadEngine::RequestSlave() {
    LogLine("Requesting slave status");
    connections_.SendLine(2, "SLAVE");
}

void DownloadEngine::SkipPosting() {
    std::string subject;
    if (current_entry_ >= 1 && current_entry_ <= table_.HeaderCount())
        subject = table_.Entry(current_entry_).Subject;
    LogLine("Bad article number!  Skipping " + subject + ".");
    session_.DownloadBusy = 0;
    session_.DownloadState = 999;
    // The posting cannot be finished: what was fetched for it would only lie on disk.
    decoder_.Discard(current_entry_);
    batch_.RemoveFromBatch(current_entry_);
    DownloadStep();
}

void DownloadEngine::CountProgress(std::size_t length) {
    article_bytes_ += std::int64_t(length);
    const std::string rate = DownloadRate(article_bytes_, article_start_);
    Status("Downloading: " + current_subject_ + " " +
           common::FormatNumber(double(article_bytes_) / 1000.0, "#,##0.0") + "kb @ [" + rate +
           " KBps]");
    const double bytes = double(article_bytes_);
    if (article_bytes_ > 0 && article_max_ > bytes) {
        article_value_ = bytes;
        if (posting_max_ > posting_value_ + double(length)) posting_value_ += double(length);
    } else if (article_max_ < bytes) {
        article_value_ = article_max_;
    }
    ShowBars();
}

bool DownloadEngine::DroppedOversizedReply() {
    if (session_.DownloadBuffer.size() <= reply_limit_) return false;
    LogLine("Error, the server sent over " + common::Decimal(std::int64_t(reply_limit_)) +
            " bytes without ending its reply; restarting the connection");
    std::string().swap(session_.DownloadBuffer);
    ResetReply();
    Restart();
    return true;
}

void DownloadEngine::TCP2_Close() {
    // Only connection 2's own watchdog cares: it keeps running and restarts the batch once
    // the silence passes the limit. The scan connection's watchdog is left alone.
}

void DownloadEngine::TCP2_Error(int /*number*/, const std::string& description) {
    LogLine(description);
    Restart();
}

void DownloadEngine::Restart() {
    if (callouts_ != nullptr)
        callouts_->EmergencyRestart(2);
    else
        connections_.CloseConnection(2);
}

}  // namespace quillfin::download
