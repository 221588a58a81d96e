#include "download/connection_pool.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "common/text.h"

namespace quillfin::download {

namespace {

constexpr std::string_view kEndLine = "\r\n.\r\n";
// Replies to ARTICLE that are neither the article nor "missing" before the article is given
// up on: a server that keeps answering "503" must not be asked for ever.
constexpr int kMaxFailures = 3;

std::string FirstLine(const std::string& text) {
    const std::size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

// The message-ID a "220"/"223" reply names; empty when it names none.
std::string_view ReplyMessageId(std::string_view line) {
    const std::size_t open = line.find('<');
    if (open == std::string_view::npos) return {};
    const std::size_t close = line.find('>', open);
    return close == std::string_view::npos ? std::string_view()
                                           : line.substr(open, close - open + 1);
}

}  // namespace

ConnectionPool::ConnectionPool(Platform platform, storage::Settings& settings,
                               storage::ActivityLog& log, common::Prompts& prompts,
                               const common::Clock& clock)
    : platform_(std::move(platform)),
      settings_(settings),
      log_(log),
      prompts_(prompts),
      clock_(clock) {}

ConnectionPool::~ConnectionPool() {
    for (auto& s : sessions_) {
        if (s->timer) {
            s->timer->SetInterval(0);
            s->timer->onTick = nullptr;
        }
        if (s->socket) {
            s->socket->onDataArrival = nullptr;
            s->socket->onClose = nullptr;
            s->socket->onError = nullptr;
            s->socket->Close();
        }
    }
}

void ConnectionPool::Start(int count, int depth) {
    count = std::clamp(count, 1, 50);
    depth_ = std::clamp(depth, 1, 16);
    running_ = true;
    refusal_logged_ = false;
    again_.clear();
    // Sessions are never freed while the pool lives: a handler on the stack may still use one.
    while (int(sessions_.size()) < count) {
        auto s = std::make_unique<Session>();
        s->number = int(sessions_.size()) + 1;
        s->socket = platform_.makeSocket();
        s->timer = platform_.makeTimer();
        Session* raw = s.get();
        s->socket->onDataArrival = [this, raw](const std::string& chunk) {
            try {
                last_activity_ = raw->activity = clock_.Steady();
                Feed(*raw, chunk);
            } catch (const std::exception& e) {
                LogLine(std::string("Download connection error: ") + e.what());
            }
        };
        s->socket->onClose = [this, raw] { Dropped(*raw, "closed by the server"); };
        s->socket->onError = [this, raw](int, const std::string& description) {
            LogLine(description);
            Dropped(*raw, description);
        };
        s->timer->onTick = [this, raw] { Tick(*raw); };
        sessions_.push_back(std::move(s));
    }
    for (auto& s : sessions_) {
        Close(*s);
        s->phase = s->number <= count ? Phase::Closed : Phase::Retired;
    }
    for (auto& s : sessions_)
        if (s->phase == Phase::Closed) Open(*s);
}

void ConnectionPool::Open(Session& s) {
    ++s.generation;
    s.pending.clear();
    s.line.clear();
    s.article.clear();
    s.inArticle = false;
    s.group.clear();
    s.groupPending = false;
    s.delivered = false;
    s.phase = Phase::Connecting;
    s.activity = clock_.Steady();
    const std::int64_t port = common::WholeValue(settings_.News_Port);
    if (s.socket->GetState() != nntp::Socket::kClosed) s.socket->Close();
    s.socket->SetRemotePort(port < 0 || port > 65535 ? 119 : int(port));
    s.socket->SetRemoteHost(common::Trim(settings_.News_Host));
    s.socket->SetLocalPort(0);
    s.pending.push_back({Sent::Greeting, {}});
    s.socket->Connect();
    s.timer->SetInterval(1000);
}

void ConnectionPool::Close(Session& s) {
    ++s.generation;
    s.timer->SetInterval(0);
    if (s.socket->GetState() != nntp::Socket::kClosed) s.socket->Close();
    s.pending.clear();
    s.line.clear();
    std::string().swap(s.article);
    s.inArticle = false;
    s.groupPending = false;
    if (s.phase != Phase::Retired) s.phase = Phase::Closed;
}

void ConnectionPool::Stop() {
    running_ = false;
    for (auto& s : sessions_) {
        if (s->phase == Phase::Ready || s->phase == Phase::Login) {
            s->socket->Send("QUIT\r\n");
        }
        Close(*s);
        s->phase = Phase::Closed;
    }
    again_.clear();
}

bool ConnectionPool::Idle() const {
    if (!again_.empty()) return false;
    for (const auto& s : sessions_)
        for (const Pending& p : s->pending)
            if (p.what == Sent::Article) return false;
    return true;
}

int ConnectionPool::OpenSessions() const {
    return int(std::count_if(sessions_.begin(), sessions_.end(), [](const auto& s) {
        return s->phase == Phase::Ready || s->phase == Phase::Login ||
               s->phase == Phase::Connecting;
    }));
}

std::size_t ConnectionPool::InFlight() const {
    std::size_t n = 0;
    for (const auto& s : sessions_)
        n += std::size_t(std::count_if(s->pending.begin(), s->pending.end(),
                                       [](const Pending& p) { return p.what == Sent::Article; }));
    return n;
}

// ---- Sending ------------------------------------------------------------------------------

void ConnectionPool::Send(Session& s, Sent what, const std::string& text, Request request) {
    if (s.socket->GetState() != nntp::Socket::kConnected) return;
    if (what == Sent::Article) request.sent = clock_.Now();
    s.pending.push_back({what, std::move(request)});
    s.socket->Send(text + "\r\n");
}

void ConnectionPool::Fill() {
    if (!running_) return;
    for (auto& s : sessions_) {
        if (!running_) return;
        if (s->phase == Phase::Ready) {
            FillSession(*s);
        } else if (s->phase == Phase::Closed) {
            // Closed while idle (the server's own timeout): opened again when there is work.
            Request probe;
            if (!again_.empty() || (wanted && wanted(probe) && (again_.push_back(probe), true)))
                Open(*s);
        }
    }
}

void ConnectionPool::FillSession(Session& s) {
    while (running_ && s.phase == Phase::Ready && !s.groupPending &&
           s.pending.size() < std::size_t(depth_)) {
        Request request;
        if (!again_.empty()) {
            request = std::move(again_.front());
            again_.pop_front();
        } else if (!wanted || !wanted(request)) {
            return;
        }
        if (!request.messageId.empty()) {  // needs no group
            Send(s, Sent::Article, "ARTICLE " + request.messageId, request);
            continue;
        }
        if (request.group != s.group) {
            // The articles after a GROUP wait for its "211": a refused group must not turn
            // them into "412" replies.
            s.group = request.group;
            again_.push_front(std::move(request));
            if (!s.group.empty()) {
                s.groupPending = true;
                Send(s, Sent::Group, "GROUP " + s.group, {});
            }
            continue;
        }
        if (request.stat)
            Send(s, Sent::Article, "STAT " + common::Decimal(request.number), request);
        else
            Send(s, Sent::Article, "ARTICLE " + common::Str(request.number), request);
    }
}

// ---- Replies ------------------------------------------------------------------------------

void ConnectionPool::Feed(Session& s, std::string_view data) {
    const unsigned generation = s.generation;
    while (!data.empty() && s.generation == generation && s.phase != Phase::Closed &&
           s.phase != Phase::Retired) {
        if (s.inArticle) {
            if (!ArticleBytes(s, data)) return;
            continue;
        }
        const std::size_t newline = data.find('\n');
        const std::size_t take = newline == std::string_view::npos ? data.size() : newline + 1;
        s.line.append(data.substr(0, take));
        data.remove_prefix(take);
        if (s.line.size() > 64 * 1024) {
            Dropped(s, "a reply line over 64 KB");
            return;
        }
        if (newline == std::string_view::npos) return;
        Line(s, std::exchange(s.line, {}));
    }
}

// Takes article bytes from data; false when all of it went into the article.
bool ConnectionPool::ArticleBytes(Session& s, std::string_view& data) {
    const std::size_t before = s.article.size();
    s.article.append(data);
    const std::size_t from = before >= kEndLine.size() - 1 ? before - (kEndLine.size() - 1) : 0;
    const std::size_t at = s.article.find(kEndLine, from);
    Request request = s.pending.empty() ? Request{} : s.pending.front().request;
    if (at == std::string::npos) {
        if (onBytes) onBytes(request, data.size());
        if (s.article.size() > reply_limit_) {
            LogLine("Error, the server sent over " + common::Decimal(std::int64_t(reply_limit_)) +
                    " bytes without ending its reply; restarting the connection");
            Dropped(s, "reply too long");
        }
        return false;
    }
    const std::size_t end = at + kEndLine.size();
    const std::size_t used = end - before;
    s.article.resize(end);
    data.remove_prefix(used);
    if (onBytes) onBytes(request, used);
    s.inArticle = false;
    s.delivered = true;
    s.pending.pop_front();
    std::string article = std::exchange(s.article, {});
    if (onArticle) onArticle(request, std::move(article));
    if (s.phase == Phase::Ready) FillSession(s);
    return true;
}

void ConnectionPool::Line(Session& s, const std::string& line) {
    if (s.pending.empty()) return;  // nothing asked: not a reply of ours
    const Pending front = s.pending.front();
    const std::string code = line.substr(0, std::min<std::size_t>(3, line.size()));
    if (front.what == Sent::Greeting) {
        s.pending.pop_front();
        Greeted(s, line);
        return;
    }
    if (code == "480") {
        // The server wants a login now: what it did not serve is asked again after it.
        s.pending.pop_front();
        if (front.what == Sent::Article) again_.push_front(front.request);
        if (front.what == Sent::Group) s.groupPending = false, s.group.clear();
        if (s.phase == Phase::Ready) {
            s.phase = Phase::Login;
            SendUser(s);
        }
        return;
    }
    switch (front.what) {
        case Sent::User:
        case Sent::Pass:
        case Sent::Slave:
            s.pending.pop_front();
            LoginReply(s, front.what, line);
            return;
        case Sent::Group:
            s.pending.pop_front();
            s.groupPending = false;
            if (code == "211") {
                FillSession(s);
            } else if (code == "412" || code == "502") {
                Halt(code == "502" ? line + "(disconnected)" : "");
            } else {
                // "411" and the like: nothing more goes out here; the watchdog ends the wait.
                LogLine(FirstLine(line));
                s.groupPending = true;
            }
            return;
        case Sent::Article:
            if (code == "223" && front.request.stat) {
                s.pending.pop_front();
                s.delivered = true;
                if (onArticle) onArticle(front.request, std::string(line));
                if (s.phase == Phase::Ready) FillSession(s);
                return;
            }
            if (code == "220") {
                // "220 n <id>": a server that skipped a reply would give us the next
                // article as this one. Asked for by message-ID, the number is the server's
                // own (often 0) and the ID is what must match.
                const std::int64_t got = common::WholeValue(line.substr(3));
                const std::string_view id = ReplyMessageId(line);
                const bool by_id = !front.request.messageId.empty();
                if (by_id ? !id.empty() && id != front.request.messageId
                          : got > 0 && got != front.request.number) {
                    LogLine(
                        "Connection " + common::Decimal(s.number) + " is out of step: asked for " +
                        (by_id ? front.request.messageId : common::Decimal(front.request.number)) +
                        ", got " + (by_id ? std::string(id) : common::Decimal(got)) +
                        "; connecting again");
                    Dropped(s, "out of step");
                    return;
                }
                // The reply line is part of the stored article, as on one connection.
                s.inArticle = true;
                s.article.reserve(std::size_t(std::clamp(front.request.bytes, 0, 64 << 20)) +
                                  4096);
                s.article = line;
                if (onBytes) onBytes(front.request, line.size());
                return;
            }
            s.pending.pop_front();
            ArticleReply(s, front.request, line);
            return;
        case Sent::Quit:
        case Sent::Greeting:
            s.pending.pop_front();
            return;
    }
}

void ConnectionPool::ArticleReply(Session& s, Request request, const std::string& line) {
    const std::string code = line.substr(0, 3);
    if (code == "423" || code == "430") {
        if (onMissing) onMissing(request, line);
    } else if (code == "412") {
        Halt("");
        return;
    } else if (code == "502" || code == "205") {
        LogLine(FirstLine(line) + "(disconnected)");
        again_.push_front(request);
        Dropped(s, FirstLine(line));
        return;
    } else {
        LogLine(FirstLine(line));
        if (++request.failures < kMaxFailures) {
            again_.push_back(request);
        } else if (onMissing) {
            onMissing(request, line);
        }
    }
    if (s.phase == Phase::Ready) FillSession(s);
}

void ConnectionPool::Greeted(Session& s, const std::string& line) {
    const std::string code = line.substr(0, 3);
    if (code != "200" && code != "201") {
        Refused(s, line);
        return;
    }
    LogLine(FirstLine(line));
    s.phase = Phase::Login;
    if (settings_.chkAuth == 1)
        SendUser(s);
    else if (settings_.chkSlave == 1)
        RequestSlave(s);
    else
        Ready(s);
}

void ConnectionPool::SendUser(Session& s) {
    // The stored name and password go only to a server the user said needs them.
    if (settings_.chkAuth != 1) {
        Halt("Error, server wanted a login, but authentication is switched off.");
        return;
    }
    LogLine("Authenticating User Name...");
    if (settings_.User_Name.empty()) {
        const std::string text = "Error, server wanted username, but you have not supplied it.";
        prompts_.Message(text);
        Halt(text);
        return;
    }
    Send(s, Sent::User, "AUTHINFO USER " + settings_.User_Name, {});
}

void ConnectionPool::LoginReply(Session& s, Sent what, const std::string& line) {
    const std::string code = line.substr(0, 3);
    if (what == Sent::User && code == "381") {
        LogLine("Authenticating Password...");
        if (settings_.User_Pass.empty()) {
            const std::string text = "Error, server wanted password, but you have not supplied it.";
            prompts_.Message(text);
            Halt("");
            return;
        }
        Send(s, Sent::Pass, "AUTHINFO PASS " + settings_.User_Pass, {});
        return;
    }
    if ((what == Sent::User || what == Sent::Pass) && code == "281") {
        LogLine("Authinfo cleared, login complete...");
        if (settings_.chkSlave == 1)
            RequestSlave(s);
        else
            Ready(s);
        return;
    }
    if (what == Sent::Slave) {
        Ready(s);
        return;
    }
    // A refused login is the same on every connection: going on would only repeat it.
    Halt(FirstLine(line) + "(disconnected)");
}

void ConnectionPool::RequestSlave(Session& s) {
    LogLine("Requesting slave status");
    Send(s, Sent::Slave, "SLAVE", {});
}

void ConnectionPool::Ready(Session& s) {
    s.phase = Phase::Ready;
    FillSession(s);
}

// ---- Failures -----------------------------------------------------------------------------

bool ConnectionPool::Others(const Session& s) const {
    return std::any_of(sessions_.begin(), sessions_.end(), [&](const auto& o) {
        return o.get() != &s && (o->phase == Phase::Ready || o->phase == Phase::Login ||
                                 o->phase == Phase::Connecting || o->phase == Phase::Waiting);
    });
}

void ConnectionPool::Requeue(Session& s) {
    // In the order they were asked, ahead of anything new.
    for (auto it = s.pending.rbegin(); it != s.pending.rend(); ++it)
        if (it->what == Sent::Article) again_.push_front(it->request);
    s.pending.clear();
}

void ConnectionPool::Refused(Session& s, const std::string& line) {
    Requeue(s);
    if (!Others(s)) {
        // The only connection: as on a single connection, the batch halts with the reply.
        Close(s);
        Halt(FirstLine(line) + "(disconnected)");
        return;
    }
    if (!refusal_logged_) {
        refusal_logged_ = true;
        LogLine("The server refused connection " + common::Decimal(s.number) + " (" +
                FirstLine(line) + "); going on with the others");
    }
    Retire(s);
    Fill();
}

void ConnectionPool::Dropped(Session& s, const std::string& why) {
    if (s.phase == Phase::Closed || s.phase == Phase::Retired || s.phase == Phase::Waiting) return;
    const bool greeted = s.phase == Phase::Ready || s.phase == Phase::Login;
    const bool hadWork = std::any_of(s.pending.begin(), s.pending.end(),
                                     [](const Pending& p) { return p.what == Sent::Article; });
    Requeue(s);
    Close(s);
    if (!running_) return;
    if (!greeted && Others(s)) {
        Refused(s, why);
        return;
    }
    if (greeted && s.delivered) {
        // It worked until now: at once again, and its requests go to whoever is ready.
        if (hadWork) LogLine("Download Connection Error, please wait...");
        Open(s);
        Fill();
        return;
    }
    if (settings_.chkAllowRestart != 1) {
        Retire(s);
        CheckLeft();
        return;
    }
    s.phase = Phase::Waiting;
    s.countdown = settings_.Rescan_Time;
    s.timer->SetInterval(1000);
    if (!Others(s)) {
        // Nobody left to carry the batch: the program's own restart takes over.
        s.phase = Phase::Closed;
        s.timer->SetInterval(0);
        if (onLost) onLost();
        return;
    }
    LogLine("Emergency Reconnect in" + common::Str(s.countdown) + " seconds.");
    Fill();
}

void ConnectionPool::Retire(Session& s) {
    Requeue(s);
    Close(s);
    s.phase = Phase::Retired;
}

void ConnectionPool::CheckLeft() {
    const bool any = std::any_of(sessions_.begin(), sessions_.end(), [](const auto& o) {
        return o->phase != Phase::Closed && o->phase != Phase::Retired;
    });
    if (running_ && !any)
        Halt("No connection to the server is left; the batch stops.");
}

void ConnectionPool::Tick(Session& s) {
    if (!running_) {
        s.timer->SetInterval(0);
        return;
    }
    if (s.phase == Phase::Waiting) {
        if (--s.countdown <= 0) {
            Open(s);
        }
        return;
    }
    const bool waiting = s.phase == Phase::Connecting || s.phase == Phase::Login ||
                         !s.pending.empty() || s.groupPending;
    if (!waiting) return;
    const common::SteadyPoint last = std::max(s.activity, busy_until_);
    if (common::SecondBoundariesBetween(last, clock_.Steady()) <= settings_.sldTimeout) return;
    LogLine("Connection " + common::Decimal(s.number) + " silent for more than " +
            common::Decimal(settings_.sldTimeout) + " seconds");
    s.delivered = false;  // silence is no reason for an immediate reconnect
    Dropped(s, "silent");
}

void ConnectionPool::Halt(const std::string& text) {
    if (!running_) return;
    if (!text.empty()) LogLine(text);
    Stop();
    if (onHalt) onHalt(text);
}

}  // namespace quillfin::download
