#include "nzb/message_id_fetch.h"

#include <utility>

#include "common/text.h"
#include "headers/message_id.h"

namespace quillfin::nzb {

namespace {

// STAT replies are a line each: many may be out at once without flooding the server.
constexpr int kInFlight = 32;

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace

MessageIdFetch::MessageIdFetch(download::ConnectionPool::Platform platform,
                               storage::Settings& settings, storage::ActivityLog& log,
                               common::Prompts& prompts, const common::Clock& clock)
    : platform_(std::move(platform)),
      settings_(settings),
      log_(log),
      prompts_(prompts),
      clock_(clock) {}

MessageIdFetch::~MessageIdFetch() {
    if (pool_) pool_->Stop();
}

void MessageIdFetch::Start(std::vector<Article> articles, std::function<void(Result)> done) {
    Cancel();
    articles_ = std::move(articles);
    done_ = std::move(done);
    result_ = {};
    result_.ids.assign(articles_.size(), std::string());
    next_ = 0;
    answered_ = 0;
    running_ = true;
    if (articles_.empty()) {
        Finish({});
        return;
    }
    pool_ =
        std::make_unique<download::ConnectionPool>(platform_, settings_, log_, prompts_, clock_);
    pool_->wanted = [this](download::ConnectionPool::Request& request) { return Next(request); };
    pool_->onArticle = [this](const download::ConnectionPool::Request& request,
                              std::string&& line) { Got(request, line); };
    pool_->onMissing = [this](const download::ConnectionPool::Request& request,
                              const std::string& line) {
        const Article& article = articles_.at(std::size_t(request.part));
        Finish("article " + common::Decimal(article.number) + " of " + article.group +
               " is not on the server (" + FirstLine(line) + ")");
    };
    pool_->onHalt = [this](const std::string& text) {
        Finish(text.empty() ? "the server refused the request" : FirstLine(text));
    };
    pool_->onLost = [this] {
        Finish(answered_ == 0 ? "the server could not be reached"
                              : "the connection to the server was lost");
    };
    if (settings_.News_Port.empty()) settings_.News_Port = "119";
    pool_->Start(1, kInFlight);
}

void MessageIdFetch::Cancel() {
    if (pool_) pool_->Stop();
    running_ = false;
    done_ = nullptr;
}

bool MessageIdFetch::Next(download::ConnectionPool::Request& request) {
    if (!running_ || next_ >= articles_.size()) return false;
    request = {};
    request.part = std::int32_t(next_);  // the place in the list, not a part of a posting
    request.group = articles_[next_].group;
    request.number = articles_[next_].number;
    request.stat = true;
    ++next_;
    return true;
}

void MessageIdFetch::Got(const download::ConnectionPool::Request& request,
                         const std::string& line) {
    if (!running_) return;
    // "223 n <id>": the ID is the first word in angle brackets.
    const std::size_t open = line.find('<');
    const std::size_t close = open == std::string::npos ? open : line.find('>', open);
    std::string id =
        close == std::string::npos ? std::string() : line.substr(open, close - open + 1);
    if (!headers::IsMessageId(id) || id.find_first_of(" \t") != std::string::npos) {
        Finish("the server's answer names no message-ID (" + FirstLine(line) + ")");
        return;
    }
    result_.ids.at(std::size_t(request.part)) = std::move(id);
    ++answered_;
    log_.LogEvent("Export NZB: message-ID" + common::Str(std::int64_t(answered_)) + " of" +
                      common::Str(std::int64_t(articles_.size())),
                  false);
    if (answered_ == articles_.size()) Finish({});
}

void MessageIdFetch::Finish(std::string failure) {
    if (!running_) return;
    running_ = false;
    if (pool_) pool_->Stop();
    result_.failure = std::move(failure);
    auto done = std::move(done_);
    done_ = nullptr;
    if (done) done(std::move(result_));
}

}  // namespace quillfin::nzb
