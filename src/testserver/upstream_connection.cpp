#include "testserver/upstream_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>

namespace quillfin::testserver {
namespace {

constexpr int kQuietLimitMs = 30000;

// Status codes whose reply goes on to a "." line.
bool MultiLine(const std::string& status) {
    static const char* const kCodes[] = {"100", "101", "215", "220", "221", "222",
                                         "224", "225", "230", "231"};
    for (const char* code : kCodes)
        if (status.compare(0, 3, code) == 0) return true;
    return false;
}

}  // namespace

UpstreamConnection::~UpstreamConnection() { Close(); }

void UpstreamConnection::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::string UpstreamConnection::Connect(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Close();
        return "";
    }
    if (!ReadUntil("\r\n", 0)) return "";
    const std::size_t end = pending_.find("\r\n") + 2;
    std::string greeting = pending_.substr(0, end);
    pending_.erase(0, end);
    return greeting;
}

std::string UpstreamConnection::Ask(const std::string& line) {
    if (fd_ < 0) return "";
    const std::string data = line + "\r\n";
    for (std::size_t sent = 0; sent < data.size();) {
        const ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0 && errno != EINTR) {
            Close();
            return "";
        }
        if (n > 0) sent += std::size_t(n);
    }
    if (!ReadUntil("\r\n", 0)) return std::exchange(pending_, {});
    std::size_t end = pending_.find("\r\n") + 2;
    if (MultiLine(pending_)) {
        // From the status line's own line end, so that an empty body is found too.
        if (!ReadUntil("\r\n.\r\n", end - 2)) return std::exchange(pending_, {});
        end = pending_.find("\r\n.\r\n", end - 2) + 5;
    }
    std::string reply = pending_.substr(0, end);
    pending_.erase(0, end);
    return reply;
}

bool UpstreamConnection::ReadUntil(const std::string& end, std::size_t from) {
    char buffer[65536];
    while (pending_.find(end, from) == std::string::npos) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
        const int ready = ::poll(fds, 2, kQuietLimitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || fds[1].revents != 0) {
            Close();
            return false;
        }
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Close();
            return false;
        }
        pending_.append(buffer, std::size_t(n));
    }
    return true;
}

}  // namespace quillfin::testserver
