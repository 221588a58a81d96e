#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testserver/news_spool.h"
#include "testserver/reply_rule.h"

namespace quillfin::testserver {

struct ServerOptions {
    std::string greeting = "200 Quillfin test server ready (posting ok)\r\n";
    // When set, reader commands before a successful AUTHINFO get "480".
    bool requireAuth = false;
    std::string user = "user";
    std::string password = "secret";
    std::string authFailedReply = "502 Authentication failed\r\n";
    std::string slaveReply = "202 Slave status noted\r\n";
    std::string hostName = "testserver.example";
    // When set, the server answers nothing itself: it passes every command to the NNTP server
    // on 127.0.0.1 at this port and shapes that server's replies with its rules.
    int upstreamPort = 0;
    // A connection's replies start no sooner than this after their command came in, as over
    // a network with that delay; commands sent together wait once.
    int latencyMs = 0;
    // Bytes per second each connection sends at most; 0 for no cap.
    std::int64_t rateCap = 0;
    // Connections open at once beyond this are answered refusal and closed; 0 for no limit.
    int maxConnections = 0;
    std::string refusal = "502 Too many connections from your address\r\n";
    // Lists COMPRESS DEFLATE in CAPABILITIES and compresses when asked (RFC 8054).
    bool offerCompression = false;
};

// An NNTP server on 127.0.0.1 that answers from a NewsSpool, one thread per connection, and
// can be told to shape, replace, withhold or cut any reply (ReplyRule). Every command line it
// receives is recorded.
class NntpTestServer {
  public:
    explicit NntpTestServer(ServerOptions options = {});
    ~NntpTestServer();
    NntpTestServer(const NntpTestServer&) = delete;
    NntpTestServer& operator=(const NntpTestServer&) = delete;

    // Listens on 127.0.0.1:port (0: any free port). False (and Error()) when it cannot.
    bool Start(int port = 0);
    void Stop();
    int Port() const { return port_; }
    const std::string& Error() const { return error_; }

    // Runs f on the spool under the server's lock; usable while the server runs.
    void WithSpool(const std::function<void(NewsSpool&)>& f);
    void AddRule(ReplyRule rule);
    void ClearRules();
    void SetOptions(const ServerOptions& options);

    std::vector<std::string> Commands() const;
    int ConnectionCount() const { return connections_.load(); }
    // Connections whose socket is still open.
    int OpenConnections() const { return open_connections_.load(); }
    // Bytes sent on the wire to all connections so far.
    std::uint64_t BytesSent() const { return bytes_sent_.load(); }

  private:
    struct Reply {
        std::string text;
        bool close_after = false;
        bool compress_after = false;  // both directions compressed from the next byte on
    };
    struct Session {
        std::string group;
        std::string user;
        bool authenticated = false;
        bool compressing = false;
    };

    void AcceptLoop();
    void Serve(int fd);
    // The normal reply to one command line.
    Reply Answer(Session& session, const std::string& line);
    Reply AnswerGroup(Session& session, const std::string& argument);
    Reply AnswerXover(const Session& session, const std::string& argument);
    Reply AnswerArticle(const Session& session, const std::string& keyword,
                        const std::string& argument);
    Reply AnswerList();
    // Applies the first matching rule; false when the connection must be closed. *hung is set
    // when the server must stay silent from now on.
    bool SendShaped(int fd, const std::string& command, Reply reply, bool* hung);
    bool TakeRule(const std::string& command, ReplyRule* rule);
    bool SendPieces(int fd, const std::string& data, const ReplyRule& rule);
    bool SendAll(int fd, const char* data, std::size_t size);
    bool PauseMs(int milliseconds);
    // Holds the connection's sending to the rate cap.
    bool Paced(int fd, const char* data, std::size_t size);

    ServerOptions options_;
    NewsSpool spool_;
    std::vector<ReplyRule> rules_;
    std::vector<std::string> commands_;
    mutable std::mutex mutex_;

    int listen_fd_ = -1;
    int wake_pipe_[2] = {-1, -1};
    int port_ = 0;
    std::string error_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> open_connections_{0};
    std::atomic<std::uint64_t> bytes_sent_{0};
    std::thread accept_thread_;
    std::mutex threads_mutex_;
    std::vector<std::thread> session_threads_;
};

}  // namespace quillfin::testserver
