#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/prompts.h"
#include "download/connection_pool.h"
#include "storage/activity_log.h"
#include "storage/settings.h"

namespace quillfin::nzb {

// Asks the server for the message-IDs of scanned parts, which the header table keeps only as
// article numbers: one short-lived connection that logs in as the download connection does,
// then GROUP and pipelined STAT per part; "223 n <id>" names the ID.
class MessageIdFetch {
  public:
    struct Article {
        std::string group;
        std::int64_t number = 0;
    };
    // The IDs in the order asked (with their angle brackets), or why they could not be had.
    struct Result {
        std::vector<std::string> ids;
        std::string failure;
    };

    MessageIdFetch(download::ConnectionPool::Platform platform, storage::Settings& settings,
                   storage::ActivityLog& log, common::Prompts& prompts, const common::Clock& clock);
    ~MessageIdFetch();

    // done runs once, from an event of the connection (or at once for an empty list).
    void Start(std::vector<Article> articles, std::function<void(Result)> done);
    void Cancel();
    bool Running() const { return running_; }
    std::size_t Answered() const { return answered_; }

  private:
    bool Next(download::ConnectionPool::Request& request);
    void Got(const download::ConnectionPool::Request& request, const std::string& line);
    void Finish(std::string failure);

    download::ConnectionPool::Platform platform_;
    storage::Settings& settings_;
    storage::ActivityLog& log_;
    common::Prompts& prompts_;
    const common::Clock& clock_;
    // Kept after a fetch ends: it may end from inside the pool's own callback.
    std::unique_ptr<download::ConnectionPool> pool_;
    std::vector<Article> articles_;
    Result result_;
    std::function<void(Result)> done_;
    std::size_t next_ = 0;
    std::size_t answered_ = 0;
    bool running_ = false;
};

}  // namespace quillfin::nzb
