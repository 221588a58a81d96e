#include "nntp/scan_engine.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <optional>
#include <utility>

#include "common/leading_integer.h"
#include "common/text.h"

namespace quillfin::nntp {

namespace {

int ClampToInt(std::int64_t value) {
    return int(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

bool StartsWithDigit(const std::string& text) {
    std::string_view t = common::TrimView(text);
    return !t.empty() && t[0] >= '0' && t[0] <= '9';
}

// The rest of a text from its first blank on; the text unchanged when it has none.
std::string FromFirstBlank(const std::string& text) {
    std::size_t blank = text.find(' ');
    return blank == std::string::npos ? text : text.substr(blank);
}

// A text up to and including its first blank; empty when it has none.
std::string UpToFirstBlank(const std::string& text) {
    std::size_t blank = text.find(' ');
    return blank == std::string::npos ? std::string() : text.substr(0, blank + 1);
}

}  // namespace

ScanEngine::ScanEngine(Connections& connections, headers::HeaderTable& table,
                       headers::OverviewParser& parser, const common::Clock& clock)
    : connections_(connections),
      session_(connections.Session()),
      settings_(connections.Settings()),
      groups_(connections.Groups()),
      log_(connections.Log()),
      view_(connections.View()),
      table_(table),
      parser_(parser),
      clock_(clock),
      socket_(connections.SocketOf(1)) {
    if (socket_ != nullptr) {
        socket_->onDataArrival = [this](const std::string& chunk) { ScanReply(chunk); };
        socket_->onClose = [this] { OnScanSocketClose(); };
        socket_->onError = [this](int number, const std::string& description) {
            OnScanSocketError(number, description);
        };
    }
    session_.onScanSignal = [this] { OnScanSignal(); };
    session_.onScanConnect = [this] { ResetAhead(); };
    table_.SetScanHooks(this);
}

std::string ScanEngine::ProgressStatus::StatusText() const {
    if (count > 1) {
        return "Scanning header " + article + "; averaging " +
               common::FormatNumber(ScanRate(elapsed, count), "0.0") +
               " headers per minute. Scan Time:" + common::Str(elapsed) + "s";
    }
    return "Scanning header " + article + "  Scan Time:" + common::Str(elapsed) + "s";
}

ScanEngine::~ScanEngine() {
    log_.FlushDeferredStatus();
    if (socket_ != nullptr) {
        socket_->onDataArrival = nullptr;
        socket_->onClose = nullptr;
        socket_->onError = nullptr;
    }
    session_.onScanSignal = nullptr;
    session_.onScanConnect = nullptr;
    if (table_.Hooks() == this) table_.SetScanHooks(nullptr);
}

ScanEngine::EventScope::~EventScope() {
    if (--engine_.event_depth_ > 0) return;
    // The outermost handler has finished: now the scan may move on.
    ++engine_.event_depth_;
    try {
        do {
            engine_.check_pending_ = false;
            engine_.CheckDriver();
        } while (engine_.check_pending_);
    } catch (const std::exception&) {
    }
    --engine_.event_depth_;
}

void ScanEngine::OnScanSignal() {
    if (event_depth_ > 0) {
        check_pending_ = true;
        return;
    }
    EventScope scope(*this);
}

// ---- The driver -------------------------------------------------------------------------

void ScanEngine::ScanDriver() {
    EventScope scope(*this);
    // A burst still being parsed belongs to the scan being replaced; let it finish first.
    if (parsing_) {
        start_pending_ = true;
        return;
    }
    try {
        StartScan();
    } catch (const std::exception&) {
    }
}

void ScanEngine::StartScan() {
    // A scan started over one still reading gives up its requests, the current one too.
    if (Pipelined() && session_.ScanState() == 12) {
        ahead_.push_front({session_.BurstStart, burst_end_});
        DropAhead();
    }
    if (sounds_ != nullptr) sounds_->Play("scan.wav");
    session_.Scanning = true;
    session_.SetScanStop(false);
    LogLine("Scan Initiated...");
    session_.ScanStart = clock_.Now();
    session_.ScanHeaderCount = 0;
    driver_rows_ = groups_.Count();
    view_.ProgressBar1.maximum = driver_rows_;
    view_.Touch();
    driver_next_ = 1;
    driving_ = true;
    ++scan_number_;
    AdvanceDriver();
}

void ScanEngine::CheckDriver() {
    if (!driving_) return;
    if (session_.ScanStop()) {
        StopDriver();
        return;
    }
    if (session_.ScanState() > 0) return;
    AdvanceDriver();
}

void ScanEngine::AdvanceDriver() {
    while (true) {
        if (driver_next_ > driver_rows_) break;
        const int i = driver_next_++;
        if (i <= view_.ProgressBar1.maximum) {
            view_.ProgressBar1.value = i;
            view_.Touch();
        }
        // Rows may have been deleted while the scan ran.
        if (i > groups_.Count()) break;
        const storage::GroupEntry& row = groups_.At(i);
        // A row without a name would wait for a reply that never comes.
        if (row.disabled || row.name.empty()) continue;
        table_.CurrentGroup = row.name;
        group_reply_seen_ = false;
        // "No progress since the last request" compares requests of one group only: two new
        // groups both start at 0.
        session_.BurstStart.clear();
        connections_.SendLine(1, "GROUP " + table_.CurrentGroup);
        --session_.ScanHeaderCount;
        session_.SetScanState(9);
        return;
    }
    FinishScan();
}

void ScanEngine::StopDriver() {
    driving_ = false;
    view_.ProgressBar1.value = 0;
    view_.ProgressBar2.value = 0;
    view_.Touch();
    ResetGroupIcons();
}

void ScanEngine::FinishScan() {
    StopDriver();
    const std::int64_t elapsed = ElapsedSeconds();
    const std::int32_t count = session_.ScanHeaderCount;
    if (count < 1) {
        LogLine("Scan Complete. No new headers read in" + common::Str(elapsed) + " seconds.");
    } else {
        LogLine("Scan Complete." + common::Str(count) + " headers read in" + common::Str(elapsed) +
                " seconds, averaging " + common::FormatNumber(ScanRate(elapsed, count), "0.0") +
                " headers per minute.");
    }
    session_.Scanning = false;
    connections_.QuitConnection(1);
    if (settings_.chkAutodownload == 1 && callouts_ != nullptr) callouts_->DownloadStep();
    view_.cmdScanEnabled = true;
    view_.Touch();
}

std::int64_t ScanEngine::ElapsedSeconds() const {
    return common::SecondBoundariesBetween(session_.ScanStart, clock_.Now());
}

double ScanEngine::ScanRate(std::int64_t elapsed, std::int32_t count) {
    if (elapsed == 0) return 0.0;
    return (double(count) + 1.0) / double(elapsed) * 60.0;
}

// ---- The group reply ----------------------------------------------------------------------

void ScanEngine::GroupReply(const std::string& reply) {
    const std::string group = table_.CurrentGroup;
    ParseGroupReply(reply);
    // Without both numbers the reply would move lastRead back to the group's start and
    // empty its last number; leave the row as it is and go on with the next group.
    if (!StartsWithDigit(group_first_text_) || !StartsWithDigit(group_last_text_)) {
        LogLine("Error, no article numbers in group reply for " + group);
        session_.SetScanState(0);
        return;
    }
    group_reply_seen_ = true;
    session_.SetScanState(8);
    const std::int64_t last_read = common::WholeValue(LastReadOf(group));
    std::int64_t fresh = 0;
    // Numbers come from the server and the user's file: held at the 64-bit ends, never wrapped.
    if (common::SaturatingDifference(last_read, group_last_) <= 2 &&
        common::SaturatingDifference(group_first_, last_read) <= 2) {
        fresh = common::SaturatingDifference(group_last_, last_read);
    } else {
        // A group seen for the first time may hold billions of articles: the newest are read,
        // not days of old ones that would not fit in memory.
        const std::int64_t limit = settings_.NewGroupHeaders;
        if (limit > 0 && group_span_ > limit) {
            ReportProgress(group, common::Str(group_last_ - limit), true);
            LogLine("Reading only the newest " + common::Decimal(limit) + " of " +
                    common::Decimal(group_span_) + " articles in " + group);
            fresh = limit;
        } else {
            ReportProgress(group, common::Str(group_first_), true);
            fresh = group_span_;
        }
    }
    LogLine(common::Trim(common::Str(fresh)) + " new articles in " + group);
    // A row deleted meanwhile must not inherit the previous group's count.
    unread_at_group_ = 0;
    const std::uint64_t scan = scan_number_;
    ApplyGroupReply(group, group_first_text_, group_last_text_);
    // The expiry let events run; a scan started meanwhile owns the connection now.
    if (scan != scan_number_) return;
    if (session_.ScanStop() || unread_at_group_ <= 0)
        session_.SetScanState(0);
    else
        RequestBurst();
}

void ScanEngine::ParseGroupReply(const std::string& reply) {
    std::string rest = common::Trim(FromFirstBlank(common::Trim(reply)));
    // The estimated count is read and discarded.
    rest = common::Trim(FromFirstBlank(rest));
    group_first_text_ = UpToFirstBlank(rest);
    group_first_ = common::WholeValue(group_first_text_);
    rest = common::Trim(FromFirstBlank(rest));
    group_last_text_ = UpToFirstBlank(rest);
    group_last_ = common::WholeValue(group_last_text_);
    group_span_ = common::SaturatingDifference(group_last_, group_first_);
}

void ScanEngine::ApplyGroupReply(const std::string& group, const std::string& firstText,
                                 const std::string& lastText) {
    auto& rows = groups_.Entries();
    std::size_t k = 0;
    for (; k < rows.size() && rows[k].name != group; ++k) rows[k].stateIcon = 1;
    RowsChanged();
    if (k == rows.size()) return;
    rows[k].first = common::Trim(firstText);
    RowsChanged();
    // Expiry may rebuild the header list and let events run: find the row again afterwards.
    if (callouts_ != nullptr) callouts_->AutoExpire(group, firstText);
    storage::GroupEntry* row = FindRow(group);
    if (row == nullptr) return;
    row->last = common::Trim(lastText);
    const std::int64_t unread =
        std::max<std::int64_t>(0, common::SaturatingDifference(common::WholeValue(row->last),
                                                               common::WholeValue(row->lastRead)));
    row->unread = common::FormatNumber(double(unread), "00000");
    view_.ProgressBar2.value = 0;
    view_.ProgressBar2.maximum = ClampToInt(common::SaturatingDifference(unread, -1));
    view_.Touch();
    unread_at_group_ = unread;
    const std::int64_t total =
        std::max<std::int64_t>(0, common::SaturatingDifference(common::WholeValue(row->last),
                                                               common::WholeValue(row->first)));
    row->total = common::FormatNumber(double(total), "00000");
    row->stateIcon = 2;
    RowsChanged();
}

// ---- Bursts -------------------------------------------------------------------------------

void ScanEngine::RequestBurst() {
    session_.ScanBuffer.clear();
    session_.ScanLine.clear();
    // What has come beyond the last burst belongs to the requests sent ahead.
    if (ahead_.empty()) xover_buffer_.clear();
    session_.SetScanState(12);
    std::string last_read = LastReadOf(table_.CurrentGroup);
    // A group never read starts at 0; an empty range start would read nothing.
    if (last_read.empty()) last_read = "0";
    if (last_read == session_.BurstStart) {
        // The last request brought no progress: the group is done.
        if (common::NumericValue(group_last_text_) <= common::NumericValue(last_read))
            ReportProgress(table_.CurrentGroup, group_last_text_, true);
        DropAhead();
        session_.SetScanState(0);
        return;
    }
    if (!ahead_.empty()) {
        if (ahead_.front().start == last_read) {
            // Asked for already: its reply is on its way or in the buffer.
            session_.BurstStart = last_read;
            burst_end_ = std::move(ahead_.front().end);
            ahead_.pop_front();
            SendAhead();
            return;
        }
        DropAhead();
    }
    burst_end_ = common::Trim(common::Str(
        common::SaturatingDifference(common::WholeValue(last_read), -settings_.sldXOVER)));
    session_.BurstStart = last_read;
    connections_.SendLine(1, "XOVER " + last_read + "-" + burst_end_);
    SendAhead();
}

void ScanEngine::BurstReceiver(const std::string& chunk) {
    const std::size_t before = xover_buffer_.size();
    if (DroppedOversizedReply(before + chunk.size())) return;
    xover_buffer_ += chunk;
    const std::string length = common::Decimal(std::int64_t(xover_buffer_.size()));
    Status("Receiving xover burst: " + table_.CurrentGroup + ", " + length + " bytes");
    // Data that arrives while a burst is parsed (the parser lets events run) is not a burst of
    // its own: the next request clears it.
    if (parsing_) return;
    if (Pipelined()) {
        ReceivePipelined();
        return;
    }
    // Only the new tail can complete the end line; bursts run to megabytes.
    const std::size_t from = before >= 4 ? before - 4 : 0;
    if (xover_buffer_.find("\r\n.\r\n", from) == std::string::npos) return;
    LogLine("Xover burst recieved: " + table_.CurrentGroup + ", " + length + " bytes");
    ParseBurst();
}

void ScanEngine::ParseBurst(std::size_t length) {
    // The burst moves to a buffer of its own: the events the parse lets run may append to
    // xover_buffer_. Both keep their capacity, so no burst pays for growing them again.
    if (length < xover_buffer_.size()) {
        parse_buffer_.assign(xover_buffer_, 0, length);
        xover_buffer_.erase(0, length);
    } else {
        parse_buffer_.swap(xover_buffer_);
        xover_buffer_.clear();
    }
    parsing_ = true;
    after_burst_pending_ = false;
    try {
        parser_.parse_xoverdata(std::string_view(parse_buffer_));
    } catch (const std::exception&) {
    }
    parse_buffer_.clear();
    // An odd huge burst should not pin its memory for the rest of the run.
    if (parse_buffer_.capacity() > (16u << 20)) std::string().swap(parse_buffer_);
    parsing_ = false;
    session_.ScanBuffer.clear();
    if (after_burst_pending_) {
        after_burst_pending_ = false;
        NextBurstOrDone();
    }
    if (start_pending_) {
        start_pending_ = false;
        StartScan();
    }
}

void ScanEngine::AfterBurst() {
    // Called by the parser as its last step; the next request waits until the parse has
    // returned, so that a reply can never arrive while the parser still runs.
    if (parsing_) {
        after_burst_pending_ = true;
        return;
    }
    NextBurstOrDone();
}

void ScanEngine::NextBurstOrDone() {
    if (!session_.ScanStop() && settings_.sldXOVER < unread_at_group_)
        RequestBurst();
    else {
        DropAhead();
        session_.SetScanState(0);
    }
}

// ---- Progress -----------------------------------------------------------------------------

void ScanEngine::ReportProgress(const std::string& group, const std::string& articleText,
                                bool forced) {
    const std::string article = common::Trim(articleText);
    if (!group_reply_seen_) return;
    storage::GroupEntry* row = FindRow(group);
    if (row == nullptr) return;
    // The values of lastRead and last as they end up, each read once: this runs per line.
    double last_read_value = 0;
    std::optional<double> last_value;
    if (forced) {
        row->lastRead = article;
        last_read_value = common::NumericValue(article);
    } else {
        const double value = common::NumericValue(article);
        last_read_value = common::NumericValue(row->lastRead);
        if (value > last_read_value) {
            row->lastRead = article;
            last_read_value = value;
            last_value = common::NumericValue(row->last);
            if (value > *last_value) {
                row->last = article;
                last_value = value;
            }
        }
    }
    progress_status_.article = article;
    progress_status_.elapsed = ElapsedSeconds();
    progress_status_.count = session_.ScanHeaderCount;
    log_.ShowStatusLater(progress_status_);
    double unread = 0;
    if (!row->last.empty()) {
        unread = (last_value ? *last_value : common::NumericValue(row->last)) - last_read_value;
        row->unread = common::FormatNumber(unread, "00000");
    }
    RowsChanged();
    const double v = double(view_.ProgressBar2.maximum) - unread;
    if (v >= 1 && v <= view_.ProgressBar2.maximum) {
        view_.ProgressBar2.value = int(v);
        view_.Touch();
    }
}

void ScanEngine::HeaderAdded() {
    if (session_.ScanHeaderCount < INT32_MAX) ++session_.ScanHeaderCount;
}

void ScanEngine::TouchScanActivity() { session_.LastScanActivity = clock_.Steady(); }

// ---- The group list -----------------------------------------------------------------------

storage::GroupEntry* ScanEngine::FindRow(const std::string& group) {
    auto& rows = groups_.Entries();
    if (cached_revision_ == groups_.Revision() && cached_row_ < rows.size() &&
        rows[cached_row_].name == group)
        return &rows[cached_row_];
    for (std::size_t k = 0; k < rows.size(); ++k) {
        if (rows[k].name == group) {
            cached_row_ = k;
            cached_revision_ = groups_.Revision();
            return &rows[k];
        }
    }
    return nullptr;
}

void ScanEngine::RowsChanged() {
    // Our own edits keep the cached row valid; anyone else's bump of the revision drops it.
    const bool cache_valid = cached_revision_ == groups_.Revision();
    groups_.Touch();
    if (cache_valid) cached_revision_ = groups_.Revision();
}

std::string ScanEngine::LastReadOf(const std::string& group) {
    storage::GroupEntry* row = FindRow(group);
    return row == nullptr ? std::string() : common::Trim(row->lastRead);
}

void ScanEngine::ResetGroupIcons() {
    for (storage::GroupEntry& row : groups_.Entries()) row.stateIcon = 1;
    RowsChanged();
}

}  // namespace quillfin::nntp
