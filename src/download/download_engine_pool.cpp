// The batch over several connections with requests in flight: the pool fetches, the engine
// keeps the batch's rules (batch order, a missing article drops its posting, decoding in batch
// order) and the progress of the whole download.
#include <algorithm>
#include <exception>

#include "common/text.h"
#include "download/download_engine.h"

namespace quillfin::download {

namespace {

std::string RateText(std::int64_t bytes, common::TimePoint start, common::TimePoint now) {
    const std::int64_t elapsed = common::SecondBoundariesBetween(start, now);
    const std::int64_t rate = elapsed <= 0 ? 0 : (bytes + elapsed - 1) / elapsed;
    return common::FormatNumber(double(rate) / 1000.0, "0.0");
}

}  // namespace

void DownloadEngine::SetReplyLimit(std::size_t bytes) {
    reply_limit_ = bytes;
    if (pool_) pool_->SetReplyLimit(bytes);
}

void DownloadEngine::SetPoolPlatform(ConnectionPool::Platform platform) {
    pool_ = std::make_unique<ConnectionPool>(std::move(platform), settings_, log_,
                                             connections_.Prompts(), clock_);
    pool_->SetReplyLimit(reply_limit_);
    pool_->wanted = [this](ConnectionPool::Request& request) { return NextRequest(request); };
    pool_->onArticle = [this](const ConnectionPool::Request& request, std::string&& article) {
        PooledArticle(request, std::move(article));
    };
    pool_->onMissing = [this](const ConnectionPool::Request& request, const std::string& line) {
        PooledMissing(request, line);
    };
    pool_->onBytes = [this](const ConnectionPool::Request& request, std::size_t bytes) {
        PooledBytes(request, bytes);
    };
    pool_->onHalt = [this](const std::string&) { PooledHalt(); };
    pool_->onLost = [this] { PooledLost(); };
}

bool DownloadEngine::UsePool() const {
    return pool_ != nullptr && (settings_.Connections > 1 || settings_.RequestsInFlight > 1);
}

void DownloadEngine::StartPooled() {
    pooled_ = true;
    in_flight_.clear();
    held_.clear();
    arrived_.clear();
    arrived_total_ = 0;
    batch_bytes_ = 0;
    batch_max_ = double(batch_.BatchSizeKB()) * 1000.0;
    batch_start_ = clock_.Now();
    walk_from_ = 0;
    walk_rows_ = -1;
    session_.DownloadState = 1;
    if (!DecodeReady()) return;
    if (NothingLeft()) {
        FinishBatch();
        return;
    }
    ShowPooledBars();
    pool_->Start(settings_.Connections, settings_.RequestsInFlight);
}

// The next part of the batch, in batch order, that is neither retrieved nor asked for.
bool DownloadEngine::NextRequest(ConnectionPool::Request& request) {
    if (!pooled_ || decoding_ || user_abort_ || session_.DownloadBusy != 1) return false;
    const headers::RowList& rows = batch_.Rows();
    if (rows.Count() != walk_rows_) {
        walk_rows_ = rows.Count();
        walk_from_ = 0;
    }
    for (int position = walk_from_; position < rows.Count(); ++position) {
        const headers::HeaderEntry* queued = QueuedAt(position);
        if (queued == nullptr) continue;
        const headers::HeaderEntry& entry = *queued;
        const std::int32_t index = rows.At(position).tag;
        for (std::int32_t i = 1; i <= entry.PartCount(); ++i) {
            const headers::PartRef& part = entry.Part(i);
            if (part.Retrieved || in_flight_.contains(KeyOf(index, i))) continue;
            walk_from_ = position;
            request = {};
            request.entry = index;
            request.part = i;
            request.group = part.Group.str();
            request.number = common::WholeValue(part.ArticleNumber.str());
            request.bytes = part.Bytes;
            in_flight_.insert(KeyOf(index, i));
            return true;
        }
    }
    walk_from_ = rows.Count();
    return false;
}

void DownloadEngine::PooledArticle(const ConnectionPool::Request& request, std::string&& article) {
    in_flight_.erase(KeyOf(request.entry, request.part));
    if (decoding_) {
        // Stored once the decode is over: the decoder is busy with another posting.
        held_.push_back({request, std::move(article), false});
        return;
    }
    try {
        StoreArrived(request, std::move(article));
    } catch (const std::exception&) {
    }
    if (StoppedForWriteFailure()) return;
    Advance();
}

void DownloadEngine::StoreArrived(const ConnectionPool::Request& request, std::string&& article) {
    if (request.entry < 1 || request.entry > table_.HeaderCount()) return;
    headers::HeaderEntry& entry = table_.Entry(request.entry);
    // A posting dropped or taken out meanwhile, or a part that came twice.
    if (!entry.InBatch || request.part < 1 || request.part > entry.PartCount() ||
        entry.Part(request.part).Retrieved)
        return;
    const std::string subject = entry.Part(request.part).Subject;
    LogLine("Article Retrieved: " + subject + " " +
            common::FormatNumber(double(article.size()) / 1000.0, "#,##0.0") + "kb [" +
            RateText(std::int64_t(article.size()), request.sent, clock_.Now()) + " KBps]");
    decoder_.StorePart(request.entry, request.part, std::move(article));
}

void DownloadEngine::PooledMissing(const ConnectionPool::Request& request,
                                   const std::string& /*line*/) {
    in_flight_.erase(KeyOf(request.entry, request.part));
    if (decoding_) {
        held_.push_back({request, {}, true});
        return;
    }
    DropMissing(request);
    Advance();
}

void DownloadEngine::DropMissing(const ConnectionPool::Request& request) {
    if (request.entry < 1 || request.entry > table_.HeaderCount()) return;
    headers::HeaderEntry& entry = table_.Entry(request.entry);
    if (!entry.InBatch) return;
    LogLine("Bad article number!  Skipping " + entry.Subject + ".");
    decoder_.Discard(request.entry);
    if (auto found = arrived_.find(request.entry); found != arrived_.end()) {
        arrived_total_ -= found->second;
        arrived_.erase(found);
    }
    batch_.RemoveFromBatch(request.entry);
}

void DownloadEngine::PooledBytes(const ConnectionPool::Request& request, std::size_t bytes) {
    batch_bytes_ += std::int64_t(bytes);
    if (request.entry >= 1 && request.entry <= table_.HeaderCount() &&
        table_.Entry(request.entry).InBatch) {
        arrived_[request.entry] += std::int64_t(bytes);
        arrived_total_ += std::int64_t(bytes);
    }
    const std::string rate = DownloadRate(batch_bytes_, batch_start_);
    Status("Downloading: " + current_subject_ + " " +
           common::FormatNumber(double(batch_bytes_) / 1000.0, "#,##0.0") + "kb @ [" + rate +
           " KBps]");
    ShowPooledBars();
}

bool DownloadEngine::TakeHeld() {
    while (!held_.empty()) {
        Held held = std::move(held_.front());
        held_.erase(held_.begin());
        try {
            if (held.missing)
                DropMissing(held.request);
            else
                StoreArrived(held.request, std::move(held.article));
        } catch (const std::exception&) {
        }
        if (StoppedForWriteFailure()) return false;
    }
    return true;
}

bool DownloadEngine::DecodeReady() {
    std::unordered_set<std::int32_t> passed;
    const headers::RowList& rows = batch_.Rows();
    for (int position = 0; position < rows.Count(); ++position) {
        headers::HeaderEntry* queued = QueuedAt(position);
        const std::int32_t index = rows.At(position).tag;
        if (queued == nullptr || passed.contains(index)) continue;
        headers::HeaderEntry& entry = *queued;
        bool complete = true;
        for (std::int32_t i = 1; i <= entry.PartCount() && complete; ++i)
            complete = entry.Part(i).Retrieved;
        // Filed in batch order: a later posting waits for the ones above it.
        if (!complete) break;
        Decode(index);
        // The decode kept the event loop from the connections: that was no silence.
        pool_->NoteBusy();
        if (StoppedForWriteFailure() || user_abort_ || session_.DownloadBusy != 1) return false;
        if (entry.InBatch)
            passed.insert(index);
        else if (auto found = arrived_.find(index); found != arrived_.end()) {
            arrived_total_ -= found->second;
            arrived_.erase(found);
        }
        if (!TakeHeld()) return false;
        position = -1;
    }
    return TakeHeld();
}

// Nothing asked and unanswered, and no queued posting with a part still to fetch.
bool DownloadEngine::NothingLeft() {
    if (!in_flight_.empty() || !held_.empty()) return false;
    for (int position = 0; position < batch_.Rows().Count(); ++position) {
        const headers::HeaderEntry* entry = QueuedAt(position);
        if (entry == nullptr) continue;
        for (std::int32_t i = 1; i <= entry->PartCount(); ++i)
            if (!entry->Part(i).Retrieved) return false;
    }
    return true;
}

void DownloadEngine::Advance() {
    if (!pooled_ || user_abort_ || session_.DownloadBusy != 1) return;
    if (!DecodeReady()) return;
    if (NothingLeft()) {
        FinishBatch();
        return;
    }
    ShowPooledBars();
    pool_->Fill();
}

void DownloadEngine::PooledHalt() {
    // As a "412" or a failed login on one connection: the batch ends where it is.
    session_.DownloadState = 0;
    session_.DownloadBusy = 0;
    in_flight_.clear();
    held_.clear();
    view_.imgTestxBusy = false;
    view_.cmdScanEnabled = true;
    view_.Touch();
}

void DownloadEngine::PooledLost() {
    in_flight_.clear();
    held_.clear();
    if (pool_) pool_->Stop();
    Restart();
}

void DownloadEngine::ShowPooledBars() {
    // The first queued posting, and the whole batch.
    posting_max_ = 0;
    posting_value_ = 0;
    const headers::RowList& rows = batch_.Rows();
    for (int position = 0; position < rows.Count(); ++position) {
        const std::int32_t index = rows.At(position).tag;
        if (index < 1 || index > table_.HeaderCount() || !table_.Entry(index).InBatch) continue;
        const headers::HeaderEntry& entry = table_.Entry(index);
        current_subject_ = entry.Subject;
        posting_max_ = double(entry.Size);
        for (std::int32_t i = 1; i <= entry.PartCount(); ++i)
            if (entry.Part(i).Retrieved) posting_value_ += entry.Part(i).Bytes;
        break;
    }
    article_max_ = batch_max_;
    article_value_ = std::min(double(batch_bytes_), batch_max_);
    ShowBars();
}

}  // namespace quillfin::download
