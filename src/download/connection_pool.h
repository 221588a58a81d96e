#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "common/prompts.h"
#include "nntp/socket.h"
#include "storage/activity_log.h"
#include "storage/settings.h"

namespace quillfin::download {

// Several download connections at once, each with requests in flight. The pool owns the
// sessions (socket, login, GROUP, watchdog); the engine decides what to ask for and gets each
// article back whole. Replies arrive in the order the commands went out on a connection
// (RFC 3977 3.5), so each session matches them to a queue of what it sent.
class ConnectionPool {
  public:
    // The sockets and timers of the sessions; the program makes Qt ones, tests fakes.
    struct Platform {
        std::function<std::unique_ptr<nntp::Socket>()> makeSocket;
        std::function<std::unique_ptr<nntp::Timer>()> makeTimer;
    };

    // One article to fetch.
    struct Request {
        std::int32_t entry = 0;
        std::int32_t part = 0;
        std::string group;
        std::int64_t number = 0;
        // Set for a part queued from an NZB file: "ARTICLE <id>", with no GROUP before it.
        std::string messageId;
        // STAT instead of ARTICLE: onArticle gets the "223" line with the message-ID.
        bool stat = false;
        std::int32_t bytes = 0;
        common::TimePoint sent{};
        // Replies that neither gave the article nor said it is missing.
        int failures = 0;
    };

    ConnectionPool(Platform platform, storage::Settings& settings, storage::ActivityLog& log,
                   common::Prompts& prompts, const common::Clock& clock);
    ~ConnectionPool();
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // The engine's side. wanted fills in the next article to fetch; false when there is none
    // now. The others report what came back.
    std::function<bool(Request& request)> wanted;
    std::function<void(const Request& request, std::string&& article)> onArticle;
    // "423"/"430": the article is not there.
    std::function<void(const Request& request, const std::string& line)> onMissing;
    // Bytes of an article as they arrive, the completing ones included.
    std::function<void(const Request& request, std::size_t bytes)> onBytes;
    // The batch cannot go on ("412", a login that cannot be done, no connection left); the
    // text is for the log, empty when the reply table says nothing.
    std::function<void(const std::string& text)> onHalt;
    // Every connection is gone and restarts are allowed: the program's restart takes over.
    std::function<void()> onLost;

    // Opens up to count connections with depth requests in flight each, and fills them.
    void Start(int count, int depth);
    // Asks for work on every connection that has room.
    void Fill();
    // QUIT and close on every connection; requests in flight are forgotten.
    void Stop();
    bool Running() const { return running_; }
    // Nothing sent and unanswered, nothing waiting to be asked again.
    bool Idle() const;
    // For the view and the tests.
    int OpenSessions() const;
    std::size_t InFlight() const;
    // Latest data on any connection.
    common::SteadyPoint LastActivity() const { return last_activity_; }
    // The reply limit of one article, as on the single connection.
    void SetReplyLimit(std::size_t bytes) { reply_limit_ = bytes; }
    // Seconds the engine's decode kept the event loop from the connections: not silence.
    void NoteBusy() { busy_until_ = clock_.Steady(); }

  private:
    enum class Sent { Greeting, User, Pass, Slave, Group, Article, Quit };
    struct Pending {
        Sent what;
        Request request;
    };
    enum class Phase { Closed, Connecting, Login, Ready, Waiting, Retired };
    struct Session {
        int number = 0;
        std::unique_ptr<nntp::Socket> socket;
        std::unique_ptr<nntp::Timer> timer;
        Phase phase = Phase::Closed;
        std::deque<Pending> pending;
        std::string group;      // selected, or asked for
        bool groupPending = false;
        std::string line;       // a status line being gathered
        bool inArticle = false;
        std::string article;
        bool delivered = false;  // an article came on this connection since it opened
        common::SteadyPoint activity{};
        int countdown = 0;  // seconds to a reconnect, in Phase::Waiting
        // Counts opens and closes: bytes of an old connection never reach a new one.
        unsigned generation = 0;
    };

    void Open(Session& s);
    void Feed(Session& s, std::string_view data);
    bool ArticleBytes(Session& s, std::string_view& data);
    void Line(Session& s, const std::string& line);
    void Greeted(Session& s, const std::string& line);
    void LoginReply(Session& s, Sent what, const std::string& line);
    void ArticleReply(Session& s, Request request, const std::string& line);
    void Ready(Session& s);
    void RequestSlave(Session& s);
    void FillSession(Session& s);
    void Send(Session& s, Sent what, const std::string& text, Request request);
    void SendUser(Session& s);
    void Tick(Session& s);
    // The connection ended with requests unanswered: they go to the others.
    void Requeue(Session& s);
    void Dropped(Session& s, const std::string& why);
    void Refused(Session& s, const std::string& line);
    void Retire(Session& s);
    void Close(Session& s);
    void CheckLeft();
    void Halt(const std::string& text);
    bool Others(const Session& s) const;
    void LogLine(const std::string& text) { log_.LogEvent(text, true); }

    Platform platform_;
    storage::Settings& settings_;
    storage::ActivityLog& log_;
    common::Prompts& prompts_;
    const common::Clock& clock_;
    std::vector<std::unique_ptr<Session>> sessions_;
    std::deque<Request> again_;  // unanswered when their connection dropped
    int depth_ = 1;
    bool running_ = false;
    bool refusal_logged_ = false;
    std::size_t reply_limit_ = std::size_t(256) << 20;
    common::SteadyPoint last_activity_{};
    common::SteadyPoint busy_until_{};
    // Set while a callback runs: a Stop() inside it must not free what the caller still uses.
    int depth_of_calls_ = 0;
};

}  // namespace quillfin::download
