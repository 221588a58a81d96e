#include "testserver/nntp_test_server.h"
#include "testserver/upstream_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <deque>
#include <thread>
#include <utility>
#include <cerrno>
#include <cstring>

namespace quillfin::testserver {
namespace {

constexpr std::size_t kMaxCommandLine = 1 << 20;

using SteadyClock = std::chrono::steady_clock;

// Each connection has a thread of its own: its pacing lives there.
struct Pacing {
    int latencyMs = 0;
    std::int64_t rateCap = 0;
    SteadyClock::time_point nextFree{};
    // Commands read while a reply was going out, with the time they came: the delay runs
    // from then, as it would on a network, not from when this thread got round to them.
    std::deque<std::pair<std::string, SteadyClock::time_point>> early;
    int fd = -1;
    // Raw deflate both ways once a client asked for it.
    bool compressing = false;
    z_stream in{};
    z_stream out{};
};
thread_local Pacing pacing;

void StartCompression() {
    pacing.in = z_stream{};
    pacing.out = z_stream{};
    inflateInit2(&pacing.in, -15);
    deflateInit2(&pacing.out, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    pacing.compressing = true;
}

void EndCompression() {
    if (!pacing.compressing) return;
    inflateEnd(&pacing.in);
    deflateEnd(&pacing.out);
    pacing.compressing = false;
}

// What the client sent, inflated when compression is on; false on damaged data.
bool Plain(const char* data, std::size_t size, std::string& out) {
    if (!pacing.compressing) {
        out.append(data, size);
        return true;
    }
    pacing.in.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    pacing.in.avail_in = uInt(size);
    char buffer[16384];
    do {
        pacing.in.next_out = reinterpret_cast<Bytef*>(buffer);
        pacing.in.avail_out = sizeof buffer;
        const int result = inflate(&pacing.in, Z_SYNC_FLUSH);
        if (result != Z_OK && result != Z_BUF_ERROR) return false;
        out.append(buffer, sizeof buffer - pacing.in.avail_out);
        if (result == Z_BUF_ERROR) break;
    } while (pacing.in.avail_in > 0 || pacing.in.avail_out == 0);
    return true;
}

void CatchInput() {
    if (pacing.latencyMs <= 0 || pacing.fd < 0) return;
    char buffer[65536];
    const ssize_t n = ::recv(pacing.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) pacing.early.emplace_back(std::string(buffer, std::size_t(n)), SteadyClock::now());
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) !=
            std::toupper(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

NntpTestServer::NntpTestServer(ServerOptions options)
    : options_(std::move(options)), spool_(options_.hostName) {}

NntpTestServer::~NntpTestServer() { Stop(); }

bool NntpTestServer::Start(int port) {
    if (accept_thread_.joinable()) return true;
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0 || ::pipe2(wake_pipe_, O_CLOEXEC) != 0) {
        error_ = std::string("socket: ") + std::strerror(errno);
        Stop();
        return false;
    }
    int yes = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_fd_, 16) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error_ = "port " + std::to_string(port) + ": " + std::strerror(errno);
        Stop();
        return false;
    }
    port_ = ntohs(address.sin_port);
    stopping_ = false;
    accept_thread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void NntpTestServer::Stop() {
    stopping_ = true;
    // The pipe is never read, so it stays readable and wakes every poll until the end.
    if (wake_pipe_[1] >= 0) (void)!::write(wake_pipe_[1], "x", 1);
    if (accept_thread_.joinable()) accept_thread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(threads_mutex_);
        threads.swap(session_threads_);
    }
    for (std::thread& t : threads) t.join();
    for (int* fd : {&listen_fd_, &wake_pipe_[0], &wake_pipe_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void NntpTestServer::WithSpool(const std::function<void(NewsSpool&)>& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    f(spool_);
}

void NntpTestServer::AddRule(ReplyRule rule) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.push_back(std::move(rule));
}

void NntpTestServer::ClearRules() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
}

void NntpTestServer::SetOptions(const ServerOptions& options) {
    std::lock_guard<std::mutex> lock(mutex_);
    options_ = options;
}

std::vector<std::string> NntpTestServer::Commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

void NntpTestServer::AcceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        ++connections_;
        int limit = 0;
        std::string refusal;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            limit = options_.maxConnections;
            refusal = options_.refusal;
        }
        if (limit > 0 && open_connections_.load() >= limit) {
            (void)!::send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL);
            ::close(fd);
            continue;
        }
        ++open_connections_;
        std::lock_guard<std::mutex> lock(threads_mutex_);
        session_threads_.emplace_back([this, fd] { Serve(fd); });
    }
}

void NntpTestServer::Serve(int fd) {
    Session session;
    Reply greeting;
    int upstream_port = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        greeting.text = options_.greeting;
        upstream_port = options_.upstreamPort;
        pacing = Pacing{options_.latencyMs, options_.rateCap, SteadyClock::now(), {}, fd};
    }
    UpstreamConnection upstream(wake_pipe_[0]);
    if (upstream_port != 0) {
        greeting.text = upstream.Connect(upstream_port);
        greeting.close_after = greeting.text.empty();
    }
    bool hung = false;
    bool open = SendShaped(fd, ReplyRule::kGreeting, greeting, &hung);
    std::string pending;
    char buffer[65536];
    while (open && !stopping_) {
        auto received = SteadyClock::now();
        if (!pacing.early.empty()) {
            const std::string raw = std::move(pacing.early.front().first);
            received = pacing.early.front().second;
            pacing.early.pop_front();
            if (!Plain(raw.data(), raw.size(), pending)) break;
        } else {
            pollfd fds[2] = {{fd, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (fds[1].revents != 0) break;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) break;
            if (hung) continue;  // reads on, answers nothing, until the client gives up
            if (!Plain(buffer, std::size_t(n), pending)) break;
            received = SteadyClock::now();
        }
        std::size_t end;
        while (open && !hung && (end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            Reply reply;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                commands_.push_back(line);
                if (upstream_port == 0) reply = Answer(session, line);
            }
            if (upstream_port != 0 && StartsWithNoCase(line, "COMPRESS")) {
                // The relay reads the upstream server's replies as text.
                reply.text = "403 Compression not offered here\r\n";
            } else if (upstream_port != 0) {
                reply.text = upstream.Ask(line);
                reply.close_after = !upstream.Open();
            }
            const bool compress_after = reply.compress_after;
            if (pacing.latencyMs > 0) {
                CatchInput();
                std::this_thread::sleep_until(received +
                                              std::chrono::milliseconds(pacing.latencyMs));
            }
            open = SendShaped(fd, line, std::move(reply), &hung);
            if (compress_after) StartCompression();
        }
        if (pending.size() > kMaxCommandLine) break;
    }
    pacing.fd = -1;
    pacing.early.clear();
    EndCompression();
    ::close(fd);
    --open_connections_;
}

bool NntpTestServer::TakeRule(const std::string& command, ReplyRule* rule) {
    const bool greeting = command == ReplyRule::kGreeting;
    std::lock_guard<std::mutex> lock(mutex_);
    for (ReplyRule& candidate : rules_) {
        if (candidate.uses == 0) continue;
        const bool is_greeting_rule = candidate.command == ReplyRule::kGreeting;
        if (greeting != is_greeting_rule) continue;
        if (!greeting && !StartsWithNoCase(command, candidate.command)) continue;
        if (candidate.uses > 0) --candidate.uses;
        *rule = candidate;
        return true;
    }
    return false;
}

bool NntpTestServer::SendShaped(int fd, const std::string& command, Reply reply, bool* hung) {
    ReplyRule rule;
    if (!TakeRule(command, &rule)) {
        return SendAll(fd, reply.text.data(), reply.text.size()) && !reply.close_after;
    }
    if (rule.silent) return true;
    std::string data = rule.before + (rule.reply ? *rule.reply : reply.text) + rule.after;
    if (rule.silentAfterBytes) {
        data.resize(std::min(data.size(), *rule.silentAfterBytes));
        *hung = true;
        return SendPieces(fd, data, rule);
    }
    if (rule.dropAfterBytes) {
        data.resize(std::min(data.size(), *rule.dropAfterBytes));
        SendPieces(fd, data, rule);
        return false;
    }
    return SendPieces(fd, data, rule) && !reply.close_after;
}

bool NntpTestServer::SendPieces(int fd, const std::string& data, const ReplyRule& rule) {
    std::vector<std::size_t> cuts;
    if (!rule.splitAt.empty()) {
        cuts = rule.splitAt;
        std::sort(cuts.begin(), cuts.end());
    } else if (rule.chunkSize > 0) {
        for (std::size_t at = rule.chunkSize; at < data.size(); at += rule.chunkSize) {
            cuts.push_back(at);
        }
    }
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        if (cut <= from || cut >= data.size()) continue;
        if (!SendAll(fd, data.data() + from, cut - from) || !PauseMs(rule.pauseMs)) return false;
        from = cut;
    }
    return SendAll(fd, data.data() + from, data.size() - from);
}

bool NntpTestServer::Paced(int fd, const char* data, std::size_t size) {
    // Slices of a hundredth of a second's worth, each sent no sooner than the cap allows.
    const std::size_t slice =
        std::size_t(std::clamp<std::int64_t>(pacing.rateCap / 100, 1024, 65536));
    while (size > 0) {
        const std::size_t n = std::min(size, slice);
        const auto start = std::max(SteadyClock::now(), pacing.nextFree);
        CatchInput();
        std::this_thread::sleep_until(start);
        if (stopping_) return false;
        pacing.nextFree =
            start + std::chrono::microseconds(std::int64_t(n) * 1'000'000 / pacing.rateCap);
        const std::int64_t cap = pacing.rateCap;
        pacing.rateCap = 0;
        const bool sent = SendAll(fd, data, n);
        pacing.rateCap = cap;
        if (!sent) return false;
        data += n;
        size -= n;
    }
    return true;
}

bool NntpTestServer::SendAll(int fd, const char* data, std::size_t size) {
    if (pacing.rateCap > 0) return Paced(fd, data, size);
    std::string packed;
    if (pacing.compressing) {
        pacing.out.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        pacing.out.avail_in = uInt(size);
        char buffer[65536];
        do {
            pacing.out.next_out = reinterpret_cast<Bytef*>(buffer);
            pacing.out.avail_out = sizeof buffer;
            deflate(&pacing.out, Z_SYNC_FLUSH);
            packed.append(buffer, sizeof buffer - pacing.out.avail_out);
        } while (pacing.out.avail_out == 0);
        data = packed.data();
        size = packed.size();
    }
    bytes_sent_ += size;
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        // A client that does not read must not keep Stop() waiting.
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wake_pipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
        if (fds[1].revents != 0) return false;
    }
    return true;
}

bool NntpTestServer::PauseMs(int milliseconds) {
    pollfd wake = {wake_pipe_[0], POLLIN, 0};
    return ::poll(&wake, 1, std::max(milliseconds, 0)) == 0;
}

}  // namespace quillfin::testserver
