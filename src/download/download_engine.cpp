#include "download/download_engine.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <unordered_set>

#include "common/run_error.h"
#include "common/text.h"
#include "headers/message_id.h"

namespace quillfin::download {

namespace {

// A bar's value and maximum in units small enough for an int: postings pass 2 GB.
void SetBar(common::ProgressBar& bar, double value, double maximum) {
    const double scale = std::max(1.0, std::ceil(maximum / double(INT_MAX)));
    bar.maximum = int(std::clamp(maximum / scale, 0.0, double(INT_MAX)));
    bar.value = int(std::clamp(value / scale, 0.0, double(INT_MAX)));
}

std::string Kilobytes(std::int64_t bytes) {
    return common::FormatNumber(double(bytes) / 1000.0, "#,##0.0");
}

std::string TimeRemainingCaption(std::int64_t minutes, const std::string& rate) {
    const std::int64_t rest = minutes % 60;
    const std::int64_t hours = minutes / 60;
    const std::string tail = " @" + rate + "kBps";
    if (rest != 0 && minutes < 60) return "Time Remaining:" + common::Str(rest) + " minutes" + tail;
    if (rest != 0 && hours == 1)
        return "Time Remaining: 1 hour," + common::Str(rest) + " minutes" + tail;
    if (rest != 0)
        return "Time Remaining:" + common::Str(hours) + " hours," + common::Str(rest) + " minutes" +
               tail;
    if (hours == 1) return "Time Remaining: About an hour" + tail;
    return "Time Remaining:" + common::Decimal(hours) + " hours" + tail;
}

}  // namespace

DownloadEngine::DownloadEngine(nntp::Connections& connections, headers::HeaderTable& table,
                               headers::BatchQueue& batch, PostingDecoder& decoder,
                               const common::Clock& clock)
    : connections_(connections),
      session_(connections.Session()),
      settings_(connections.Settings()),
      log_(connections.Log()),
      view_(connections.View()),
      table_(table),
      batch_(batch),
      decoder_(decoder),
      clock_(clock),
      socket_(connections.SocketOf(2)) {
    if (socket_ != nullptr) {
        socket_->onDataArrival = [this](const std::string& chunk) { TCP2_DataArrival(chunk); };
        socket_->onClose = [this] { TCP2_Close(); };
        socket_->onError = [this](int number, const std::string& description) {
            TCP2_Error(number, description);
        };
    }
}

DownloadEngine::~DownloadEngine() {
    if (socket_ != nullptr) {
        socket_->onDataArrival = nullptr;
        socket_->onClose = nullptr;
        socket_->onError = nullptr;
    }
}

// ---- The step -----------------------------------------------------------------------------

void DownloadEngine::DownloadStep() {
    if (session_.Scanning) {
        connections_.Prompts().Message("Stop scan first.");
        return;
    }
    // A decode lets events run; a step started meanwhile would decode the same posting
    // inside the library's run.
    if (session_.DownloadBusy == 1 || decoding_) return;
    try {
        Step();
    } catch (const common::RunError& e) {
        StepFailed(e.what(), e.number);
    } catch (const std::exception& e) {
        StepFailed(e.what(), common::kInvalidArgument);
    }
}

void DownloadEngine::StepFailed(const std::string& description, int number) {
    LogLine("BOT1_err:" + description + " " + common::Str(number));
    // Left busy, the batch would wait for a reply to a command never sent; ended, the user
    // can mend the cause (a port out of range, say) and start again.
    session_.DownloadBusy = 0;
    session_.DownloadState = 0;
    view_.imgTestxBusy = false;
    view_.cmdScanEnabled = true;
    view_.Touch();
}

void DownloadEngine::Step() {
    if (settings_.News_Port.empty()) settings_.News_Port = "119";
    session_.DownloadBusy = 1;
    view_.ProgressBar3Visible = true;
    user_abort_ = false;
    view_.cmdScanEnabled = false;
    view_.imgTestxBusy = true;
    view_.Touch();
    pooled_ = false;
    if (UsePool()) {
        StartPooled();
        return;
    }
    if (WalkBatch()) return;
    if (user_abort_) return;  // stopped while a decode let events run
    FinishBatch();
}

// true when a command went out; false when nothing is left to fetch.
bool DownloadEngine::WalkBatch() {
    // Postings the decoder could not take now: passed over instead of retried for ever.
    std::unordered_set<std::int32_t> passed;
    const headers::RowList& rows = batch_.Rows();
    for (int position = 0; position < rows.Count(); ++position) {
        headers::HeaderEntry* queued = QueuedAt(position);
        const std::int32_t index = rows.At(position).tag;
        if (queued == nullptr || passed.contains(index)) continue;
        headers::HeaderEntry& entry = *queued;
        posting_max_ = double(entry.Size);
        posting_value_ = 0;
        std::int32_t next = 0;
        for (std::int32_t i = 1; i <= entry.PartCount(); ++i) {
            const headers::PartRef& part = entry.Part(i);
            if (part.Retrieved)
                posting_value_ += part.Bytes;
            else if (next == 0)
                next = i;
        }
        ShowBars();
        if (next != 0) {
            FetchPart(index, next);
            return true;
        }
        Decode(index);
        if (StoppedForWriteFailure() || user_abort_ || session_.DownloadBusy != 1) return true;
        if (entry.InBatch) passed.insert(index);
        position = -1;  // the list changed: start again from its first row
    }
    return false;
}

headers::HeaderEntry* DownloadEngine::QueuedAt(int position) {
    const headers::ListRow& row = batch_.Rows().At(position);
    const std::int32_t index = row.tag;
    if (common::Trim(row.text).empty() || index < 1 || index > table_.HeaderCount()) return nullptr;
    headers::HeaderEntry& entry = table_.Entry(index);
    return entry.InBatch ? &entry : nullptr;
}

void DownloadEngine::Decode(std::int32_t index) {
    // Cleared however the decode ends: a flag left set would refuse every later step.
    struct Decoding {
        bool& flag;
        explicit Decoding(bool& f) : flag(f) { flag = true; }
        ~Decoding() { flag = false; }
    } decoding(decoding_);
    decoder_.DecodePosting(index);
}

void DownloadEngine::FetchPart(std::int32_t index, std::int32_t part) {
    const headers::PartRef& ref = table_.Entry(index).Part(part);
    session_.DownloadBuffer.clear();
    ResetReply();
    article_start_ = clock_.Now();
    current_part_group_ = ref.Group.str();
    current_article_ = ref.ArticleNumber;
    current_subject_ = ref.Subject;
    current_part_bytes_ = ref.Bytes;
    article_bytes_ = 0;
    current_entry_ = index;
    current_part_ = part;
    article_max_ = current_part_bytes_;
    article_value_ = 0;
    ShowBars();
    Status("Downloading: " + current_subject_);
    // 999 promises an open, logged-in connection; the server may have closed it meanwhile
    // (a long decode), and a line sent on a closed socket is lost without a word.
    const bool open = socket_ != nullptr && socket_->GetState() == nntp::Socket::kConnected;
    if (session_.DownloadState == 999 && open) {
        if (headers::IsMessageId(current_article_)) {  // found by ID: no GROUP needed
            session_.DownloadState = 5;
            SendArticle();
        } else if (download_group_ != current_part_group_) {
            download_group_ = current_part_group_;
            if (!download_group_.empty()) connections_.SendLine(2, "GROUP " + download_group_);
        } else {
            session_.DownloadState = 5;
            SendArticle();
        }
    } else {
        OpenConnection();
    }
    session_.DownloadState = 1;
}

void DownloadEngine::OpenConnection() {
    if (socket_ == nullptr) throw common::RunError(91, "Object variable not set");
    if (socket_->GetState() == nntp::Socket::kPeerClosing) {
        socket_->Close();
        LogLine("Download Connection Error, please wait...");
    }
    // A connection still open from the last batch has been sent QUIT: its greeting will
    // never come, so a new batch started before its "205" opens a fresh one.
    if (socket_->GetState() == nntp::Socket::kConnected && !session_.DownloadReady) {
        socket_->Close();
    }
    // Connected but not logged in: wait; the watchdog ends a connection that stays silent.
    if (socket_->GetState() == nntp::Socket::kConnected) return;
    const std::int64_t port = common::WholeValue(settings_.News_Port);
    if (port < 0 || port > 65535) throw common::Overflow();
    socket_->SetRemotePort(int(port));
    socket_->SetRemoteHost(common::Trim(settings_.News_Host));
    socket_->SetLocalPort(0);
    socket_->Connect();
    connections_.NoteConnecting(2);
}

void DownloadEngine::SendArticle() {
    const bool by_id = headers::IsMessageId(current_article_);
    current_article_number_ = by_id ? 0 : common::WholeValue(current_article_);
    // The reply is read from the start of the buffer: nothing older may stay in it.
    session_.DownloadBuffer.clear();
    // Room for the article as the overview sizes it, so it is not copied as it grows; a size
    // a hostile overview made up costs no more than a big article.
    session_.DownloadBuffer.reserve(std::size_t(std::clamp(current_part_bytes_, 0, 64 << 20)) +
                                    4096);
    ResetReply();
    awaiting_article_ = true;
    connections_.SendLine(
        2, "ARTICLE " + (by_id ? current_article_ : common::Str(current_article_number_)));
}

void DownloadEngine::SendDownloadGroup() {
    article_start_ = clock_.Now();
    if (headers::IsMessageId(current_article_)) {
        // Logged in for a part found by ID: straight to its ARTICLE, the group left as it is.
        view_.cmdScanEnabled = false;
        view_.Touch();
        session_.DownloadState = 5;
        SendArticle();
        return;
    }
    download_group_ = current_part_group_;
    view_.cmdScanEnabled = false;
    view_.Touch();
    if (!current_part_group_.empty()) connections_.SendLine(2, "GROUP " + current_part_group_);
}

void DownloadEngine::FinishBatch() {
    if (pooled_ && pool_) pool_->Stop();
    decoder_.CompactJournal();
    session_.DownloadState = 0;
    session_.DownloadBusy = 0;
    connections_.QuitConnection(2);
    view_.imgTestxBusy = false;
    Status("Done!");
    if (onBatchDone) onBatchDone();
    session_.DownloadBuffer.clear();
    article_value_ = 0;
    ShowBars();
    view_.ProgressBar1.value = 0;
    view_.ProgressBar2.value = 0;
    view_.Touch();
}

void DownloadEngine::StopBatch() {
    if (session_.DownloadBusy != 1) return;
    user_abort_ = true;
    if (decoding_) decoder_.Cancel();
    if (pool_) pool_->Stop();
    in_flight_.clear();
    held_.clear();
    session_.DownloadBusy = 0;
    session_.DownloadState = 0;
    ResetReply();
    connections_.QuitConnection(2);
    connections_.CloseConnection(2);
    LogLine("User Abort!");
    view_.imgTestxBusy = false;
    article_value_ = 0;
    posting_value_ = 0;
    ShowBars();
}

bool DownloadEngine::StoppedForWriteFailure() {
    const std::string failure = decoder_.TakeWriteFailure();
    if (failure.empty()) return false;
    // Going on would only pile articles up in memory; stopped, nothing is lost and nothing
    // fetched is fetched again.
    LogLine("Error, cannot write in " + failure + "; the batch stops");
    StopBatch();
    connections_.Prompts().Message("Error, cannot write in the download folder " + failure +
                                   ".\n\nThe batch has stopped; what was fetched is kept. Make "
                                   "room or choose another folder, then press Download again.");
    return true;
}

void DownloadEngine::ResetReply() {
    awaiting_article_ = false;
    in_article_ = false;
    reply_.clear();
}

// ---- Completion and rate ------------------------------------------------------------------

void DownloadEngine::ArticleRetrieved() {
    in_article_ = false;
    awaiting_article_ = false;
    try {
        LogLine("Article Retrieved: " + current_subject_ + " " + Kilobytes(article_bytes_) +
                "kb [" + DownloadRate(article_bytes_, article_start_) + " KBps]");
    } catch (const std::exception&) {
    }
    try {
        // Handed over whole: a yEnc article goes on to the decoder's thread without a copy.
        decoder_.StorePart(current_entry_, current_part_, std::move(session_.DownloadBuffer));
    } catch (const std::exception&) {
    }
    std::string().swap(session_.DownloadBuffer);
    if (StoppedForWriteFailure()) return;
    session_.DownloadBusy = 0;
    session_.DownloadState = 999;
    DownloadStep();
}

std::string DownloadEngine::DownloadRate(std::int64_t bytes, common::TimePoint start) {
    const std::int64_t elapsed = common::SecondBoundariesBetween(start, clock_.Now());
    const std::int64_t rate =
        elapsed <= 0 ? 0 : (bytes + elapsed - 1) / elapsed;  // bytes per second, rounded up
    const std::string r = common::FormatNumber(double(rate) / 1000.0, "0.0");
    if (rate <= 200) {
        SetTimeLabelVisible(false);
        return r;
    }
    SetTimeLabelVisible(true);
    // Over several connections, what arrived of every queued posting.
    const double arrived = pooled_ ? double(arrived_total_) : posting_value_;
    const double remaining =
        (double(batch_.BatchSizeKB()) - arrived / 1000.0) / (double(rate) / 1000.0);
    const std::int64_t minutes =
        common::RoundHalfEven(double(common::RoundHalfEven(remaining)) / 60.0);
    // Less than nothing left (the batch total lags behind): no estimate rather than nonsense.
    if (minutes <= 0) {
        SetTimeLabelVisible(false);
        return r;
    }
    view_.lblTotalBatchTime = TimeRemainingCaption(minutes, r);
    view_.Touch();
    return r;
}

void DownloadEngine::SetTimeLabelVisible(bool visible) {
    if (view_.lblTotalBatchTimeVisible == visible) return;
    view_.lblTotalBatchTimeVisible = visible;
    view_.Touch();
}

void DownloadEngine::ShowBars() {
    SetBar(view_.ProgressBar3, article_value_, article_max_);
    SetBar(view_.ProgressBar4, posting_value_, posting_max_);
    view_.Touch();
}

}  // namespace quillfin::download
