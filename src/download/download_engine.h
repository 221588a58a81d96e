#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/clock.h"
#include "download/connection_pool.h"
#include "download/posting_decoder.h"
#include "headers/batch_queue.h"
#include "headers/header_table.h"
#include "nntp/connections.h"
#include "nntp/session_callouts.h"

namespace quillfin::download {

// The batch download on connection 2: walks the batch list top to bottom, fetches each
// posting's parts not yet retrieved with GROUP (when the group changes) and ARTICLE, files
// every finished article on disk and hands a complete posting to the decoder. One
// DownloadStep issues one command; the replies drive the rest. DownloadState and DownloadBusy
// live in the session values, shared with the login routines and the watchdog.
class DownloadEngine {
  public:
    // Installs itself on the socket attached as connection 2 (attach it first); the
    // destructor removes it.
    DownloadEngine(nntp::Connections& connections, headers::HeaderTable& table,
                   headers::BatchQueue& batch, PostingDecoder& decoder, const common::Clock& clock);
    ~DownloadEngine();
    DownloadEngine(const DownloadEngine&) = delete;
    DownloadEngine& operator=(const DownloadEngine&) = delete;

    void SetCallouts(nntp::SessionCallouts* callouts) { callouts_ = callouts; }
    // An article that grows past this without its end line is taken for a broken server.
    void SetReplyLimit(std::size_t bytes);
    // Where more than one connection or request in flight is set, the batch runs over a pool
    // of connections made on this platform; without it, always over connection 2.
    void SetPoolPlatform(ConnectionPool::Platform platform);
    const ConnectionPool* Pool() const { return pool_.get(); }

    // Commands: the batch download and restart countdown call DownloadStep; the batch stop
    // command calls StopBatch.
    void DownloadStep();
    void StopBatch();

    // Connection 2's events.
    void TCP2_DataArrival(const std::string& chunk);
    void TCP2_Close();
    void TCP2_Error(int number, const std::string& description);

    void ArticleRetrieved();
    // Updates the time-remaining label; returns the rate in kB/s as "0.0".
    std::string DownloadRate(std::int64_t bytes, common::TimePoint start);
    void SendDownloadGroup();

    // Called where a batch ends normally: the watchdog's RestartIsDownload is cleared there.
    std::function<void()> onBatchDone;

    // For the watchdog: the last data or greeting on connection 2.
    common::SteadyPoint LastDownloadActivity() const { return last_activity_; }
    // A posting is being decoded: the connection is quiet, but the batch is busy.
    bool Decoding() const { return decoding_; }
    bool UserAbort() const { return user_abort_; }
    const std::string& DownloadGroup() const { return download_group_; }
    std::int32_t CurrentEntry() const { return current_entry_; }
    std::int32_t CurrentPart() const { return current_part_; }
    std::int64_t ArticleBytes() const { return article_bytes_; }
    // Exact progress in bytes; the view's bars hold the same scaled to fit an int.
    std::int64_t ArticleProgress() const { return std::int64_t(article_value_); }
    std::int64_t PostingProgress() const { return std::int64_t(posting_value_); }

  private:
    void Step();
    void StepFailed(const std::string& description, int number);
    bool WalkBatch();
    // The queued posting on the batch list's row at position; nullptr for a blank row, one
    // whose tag is out of range, or a posting no longer queued.
    headers::HeaderEntry* QueuedAt(int position);
    // DecodePosting, with Decoding() set while it lets events run.
    void Decode(std::int32_t index);
    void FetchPart(std::int32_t index, std::int32_t part);
    void OpenConnection();
    void SendArticle();
    void FinishBatch();
    // Stops the batch when the decoder could not write what it was given; true when it did.
    bool StoppedForWriteFailure();
    void ResetReply();

    void HandleData(const std::string& chunk);
    void ArticleData(std::size_t before, std::size_t length);
    void StatusReply(const std::string& text, std::size_t length);
    void Dispatch(const std::string& code, const std::string& text, std::size_t length);
    void HandleGreeting(const std::string& text);
    void HandleLoginComplete();
    void RequestSlave();
    void SkipPosting();
    void CountProgress(std::size_t length);
    bool DroppedOversizedReply();
    void Restart();

    // The batch over the connection pool (download_engine_pool.cpp).
    bool UsePool() const;
    void StartPooled();
    bool NextRequest(ConnectionPool::Request& request);
    void PooledArticle(const ConnectionPool::Request& request, std::string&& article);
    void PooledMissing(const ConnectionPool::Request& request, const std::string& line);
    void PooledBytes(const ConnectionPool::Request& request, std::size_t bytes);
    void PooledHalt();
    void PooledLost();
    void StoreArrived(const ConnectionPool::Request& request, std::string&& article);
    void DropMissing(const ConnectionPool::Request& request);
    // Decodes the complete postings at the head of the batch, in batch order; false when the
    // batch stopped meanwhile.
    bool DecodeReady();
    // Stores what arrived while a decode let events run.
    bool TakeHeld();
    bool NothingLeft();
    void Advance();
    void ShowPooledBars();
    static std::uint64_t KeyOf(std::int32_t entry, std::int32_t part) {
        return (std::uint64_t(std::uint32_t(entry)) << 32) | std::uint32_t(part);
    }

    void ShowBars();
    void SetTimeLabelVisible(bool visible);
    void LogLine(const std::string& text) { log_.LogEvent(text, true); }
    void Status(const std::string& text) { log_.LogEvent(text, false); }

    nntp::Connections& connections_;
    nntp::SessionValues& session_;
    storage::Settings& settings_;
    storage::ActivityLog& log_;
    common::MainViewState& view_;
    headers::HeaderTable& table_;
    headers::BatchQueue& batch_;
    PostingDecoder& decoder_;
    const common::Clock& clock_;
    nntp::Socket* socket_ = nullptr;
    nntp::SessionCallouts* callouts_ = nullptr;
    std::size_t reply_limit_ = std::size_t(256) << 20;

    bool user_abort_ = false;
    bool decoding_ = false;
    common::SteadyPoint last_activity_{};
    std::string download_group_;
    std::int32_t current_entry_ = 0;
    std::int32_t current_part_ = 0;
    std::string current_part_group_;
    std::string current_article_;
    std::int64_t current_article_number_ = 0;
    std::string current_subject_;
    std::int32_t current_part_bytes_ = 0;
    common::TimePoint article_start_{};
    std::int64_t article_bytes_ = 0;

    // ARTICLE is out and its reply has not shown its code yet.
    bool awaiting_article_ = false;
    // The "220" reply is under way: everything up to its end line is article data.
    bool in_article_ = false;
    // A status reply gathered until its line is complete.
    std::string reply_;

    // ProgressBar3 (the article) and ProgressBar4 (the posting), exact.
    double article_max_ = 0;
    double article_value_ = 0;
    double posting_max_ = 0;
    double posting_value_ = 0;

    // The pooled batch.
    std::unique_ptr<ConnectionPool> pool_;
    bool pooled_ = false;
    std::unordered_set<std::uint64_t> in_flight_;
    struct Held {
        ConnectionPool::Request request;
        std::string article;
        bool missing = false;
    };
    std::vector<Held> held_;
    // Bytes that arrived this batch, per queued posting and in all.
    std::unordered_map<std::int32_t, std::int64_t> arrived_;
    std::int64_t arrived_total_ = 0;
    std::int64_t batch_bytes_ = 0;
    double batch_max_ = 0;
    common::TimePoint batch_start_{};
    int walk_from_ = 0;
    int walk_rows_ = -1;
};

}  // namespace quillfin::download
