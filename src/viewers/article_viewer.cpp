#include "viewers/article_viewer.h"

#include <algorithm>
#include <exception>
#include <string_view>

#include "common/leading_integer.h"
#include "common/text.h"
#include "headers/message_id.h"

namespace quillfin::viewers {

namespace {

constexpr const char* kDownloading = "Please wait (downloading)...  ";

// The body as the user reads it: doubled leading dots undone, the end line and anything
// after it dropped; CR LF line ends stay.
std::string Unstuffed(std::string_view body) {
    std::string out;
    out.reserve(body.size());
    std::size_t at = 0;
    while (at < body.size()) {
        const std::size_t end = body.find("\r\n", at);
        const std::size_t next = end == std::string_view::npos ? body.size() : end + 2;
        std::string_view line = body.substr(at, next - at);
        if (line == ".\r\n" || line == ".") break;
        if (line.starts_with("..")) line.remove_prefix(1);
        out.append(line);
        at = next;
    }
    return out;
}

}  // namespace

ArticleViewer::ArticleViewer(nntp::Connections& connections, std::size_t cap)
    : connections_(connections), buffer_(cap) {
    connections_.AttachReplyBuffer(kConnection, &buffer_.Text());
}

ArticleViewer::~ArticleViewer() {
    AttachSocket(nullptr);
    connections_.AttachReplyBuffer(kConnection, nullptr);
}

void ArticleViewer::AttachSocket(nntp::Socket* socket) {
    if (socket_ != nullptr) {
        socket_->onDataArrival = nullptr;
        socket_->onClose = nullptr;
        socket_->onError = nullptr;
    }
    socket_ = socket;
    connections_.AttachSocket(kConnection, socket);
    if (socket_ == nullptr) return;
    socket_->onDataArrival = [this](const std::string& chunk) { DataArrival(chunk); };
    // Without these a refused or dropped connection would leave "Connecting..." for ever.
    socket_->onError = [this](int, const std::string& description) { Fail(description); };
    socket_->onClose = [this] {
        if (socket_ != nullptr) socket_->Close();
        if (state_.status == kDownloading || state_.status == "Connecting...")
            GrCap("Connection Closed");
    };
}

void ArticleViewer::GrCap(const std::string& text) {
    state_.status = text;
    ++state_.revision;
}

void ArticleViewer::Fail(const std::string& text) {
    GrCap(text);
    connections_.Log().LogEvent(text, true);
    if (socket_ != nullptr) socket_->Close();
}

void ArticleViewer::Open(ArticleChoice choice) {
    choice_ = std::move(choice);
    state_.title = choice_.subject;
    state_.text.clear();
    state_.status.clear();
    state_.visible = true;
    ++state_.revision;
    storage::Settings& settings = connections_.Settings();
    if (settings.News_Port.empty()) settings.News_Port = "119";
    if (settings.News_Host.empty()) {
        connections_.Prompts().Message(
            "Enter News Server name by pressing SCAN on main screen, and then try again.\r  This "
            "is usually 'news.(hostname).net' or something similar.  Contact your system admin "
            "if you are unsure.");
        return;
    }
    if (socket_ == nullptr) return;
    if (socket_->GetState() != nntp::Socket::kClosed) {
        GrCap("Connection Error, please wait...");
        socket_->Close();
    }
    // Out of range becomes an invalid port, which the socket reports as an error.
    const std::int64_t port = common::LeadingInteger(settings.News_Port);
    socket_->SetRemotePort(int(std::clamp<std::int64_t>(port, -1, 65536)));
    socket_->SetRemoteHost(settings.News_Host);
    socket_->SetLocalPort(0);
    if (socket_->GetState() != nntp::Socket::kClosed) {
        GrCap("Connection Error...");
        return;
    }
    buffer_.Clear();
    outstanding_.clear();
    GrCap("Connecting...");
    socket_->Connect();  // may report an error at once
}

void ArticleViewer::WindowClosed() {
    state_.visible = false;
    ++state_.revision;
    if (socket_ != nullptr && socket_->GetState() != nntp::Socket::kClosed) socket_->Close();
    buffer_.Clear();
}

void ArticleViewer::DataArrival(const std::string& chunk) {
    try {
        HandleData(chunk);
    } catch (const std::exception&) {
        // A failed step must not reach the event loop.
    }
}

void ArticleViewer::HandleData(const std::string& chunk) {
    if (!buffer_.Append(chunk)) {
        Fail("Reply larger than " + std::to_string(buffer_.Cap()) + " bytes, connection closed");
        buffer_.Clear();
        return;
    }
    if (buffer_.HasEndLine()) {
        GrCap("");
        ShowArticleText();
        return;
    }
    Dispatch(chunk);
}

void ArticleViewer::Dispatch(const std::string& chunk) {
    const std::string code = chunk.substr(0, 4);
    const storage::Settings& settings = connections_.Settings();
    if (code == "500 ") {
        GrCap(chunk);
        // Only SLAVE may be refused on the way; a refused GROUP or BODY sent again would be
        // refused again, for ever.
        if (outstanding_ == "SLAVE") {
            SendViewerGroup();
        } else {
            connections_.Log().LogEvent(chunk, true);
            if (outstanding_ != "QUIT") Send("QUIT");
        }
    } else if (code == "202 ") {
        GrCap(chunk);
        buffer_.Clear();
        SendViewerGroup();
    } else if (code == "223 ") {
        GrCap("223 article retrieved - request text separately");
    } else if (code == "221 ") {
    } else if (code == "211 ") {
        GrCap(kDownloading);
        buffer_.Clear();
        // A part from an NZB file is known by its message-ID alone.
        Send("BODY " + (headers::IsMessageId(choice_.article)
                            ? choice_.article
                            : common::Str(common::LeadingInteger(choice_.article))));
    } else if (code == "423 ") {
        connections_.Prompts().Message("bad article number");
    } else if (code == "480 ") {
        outstanding_ = "AUTHINFO";
        connections_.AuthUser(kConnection);
    } else if (code == "381 ") {
        outstanding_ = "AUTHINFO";
        connections_.AuthPass(kConnection);
    } else if (code == "281 ") {
        GrCap("Authinfo cleared, login complete...");
        RequestSlaveOrGroup();
    } else if (code == "205 ") {
        GrCap("");
        buffer_.Clear();
    } else if (code == "502 ") {
        GrCap("");
        connections_.Prompts().Message("Authentication Error.  Check Username/Password...");
    } else if (code == "200 " || code == "201 ") {
        GrCap(chunk);
        if (settings.chkAuth == 1) {
            outstanding_ = "AUTHINFO";
            connections_.AuthUser(kConnection);
        } else {
            RequestSlaveOrGroup();
        }
    } else {
        GrCap(kDownloading);
    }
}

void ArticleViewer::RequestSlaveOrGroup() {
    if (connections_.Settings().chkSlave == 1) {
        GrCap("Requesting slave status");
        Send("SLAVE");
    } else {
        SendViewerGroup();
    }
}

void ArticleViewer::Send(const std::string& command) {
    outstanding_ = command.substr(0, command.find(' '));
    connections_.SendLine(kConnection, command);
}

void ArticleViewer::SendViewerGroup() {
    buffer_.Clear();
    Send("GROUP " + choice_.group);
}

void ArticleViewer::ShowArticleText() {
    std::string text;
    text.swap(buffer_.Text());
    if (text.compare(0, 4, "222 ") == 0) {
        const std::size_t end = text.find("\r\n");
        text.erase(0, end == std::string::npos ? text.size() : end + 2);
    }
    state_.text = Unstuffed(text);
    ++state_.revision;
    buffer_.Clear();
    Send("QUIT");
}

}  // namespace quillfin::viewers
