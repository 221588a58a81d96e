#include "platform/raw_nntp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace quillfin::platform {

RawNntpClient::~RawNntpClient() { Close(); }

void RawNntpClient::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffer_.clear();
}

std::string RawNntpClient::Connect(int port, int timeout_ms) {
    Close();
    timeout_ms_ = timeout_ms;
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Close();
        return "";
    }
    return ReadLine();
}

bool RawNntpClient::SendAll(const std::string& data) {
    std::size_t sent = 0;
    while (fd_ >= 0 && sent < data.size()) {
        const ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += std::size_t(n);
    }
    return fd_ >= 0;
}

std::string RawNntpClient::ReadLine() {
    while (fd_ >= 0) {
        const auto end = buffer_.find("\r\n");
        if (end != std::string::npos) {
            std::string line = buffer_.substr(0, end + 2);
            buffer_.erase(0, end + 2);
            return line;
        }
        pollfd p = {fd_, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms_) <= 0) break;
        char chunk[65536];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        buffer_.append(chunk, std::size_t(n));
    }
    std::string rest;
    rest.swap(buffer_);
    return rest;
}

std::string RawNntpClient::ReadUntilEndLine() {
    std::string text;
    for (;;) {
        const std::string line = ReadLine();
        text += line;
        if (line == ".\r\n" || line.empty() || line.back() != '\n') return text;
    }
}

std::string RawNntpClient::Command(const std::string& line) {
    if (!SendAll(line + "\r\n")) return "";
    return ReadLine();
}

std::string RawNntpClient::Request(const std::string& line) {
    std::string reply = Command(line);
    const std::string code = reply.substr(0, 3);
    if (code == "215" || code == "220" || code == "221" || code == "222" || code == "224") {
        reply += ReadUntilEndLine();
    }
    return reply;
}

std::string RawNntpClient::Post(const std::string& article) {
    const std::string go_ahead = Command("POST");
    if (go_ahead.rfind("340", 0) != 0) return go_ahead;
    std::string wire;
    wire.reserve(article.size() + article.size() / 40 + 8);
    bool line_start = true;
    for (std::size_t i = 0; i < article.size(); ++i) {
        const char c = article[i];
        if (line_start && c == '.') wire += '.';
        if (c == '\n' && (i == 0 || article[i - 1] != '\r')) wire += '\r';
        wire += c;
        line_start = c == '\n';
    }
    if (!line_start) wire += "\r\n";
    wire += ".\r\n";
    if (!SendAll(wire)) return "";
    return ReadLine();
}

}  // namespace quillfin::platform
