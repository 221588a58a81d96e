// XOVER requests in flight: with XoverInFlight above 1 the scan asks for the next bursts of a
// group before the current one has arrived, so that a round trip is not spent per burst. Each
// request sent ahead is the one the scan would send once the burst before it is read, so the
// table, lastRead and the log come out as with one request at a time; when the scan would ask
// for something else (the group ends early, a stop, a new scan) the requests ahead are given
// up and their replies read and dropped before anything else on the connection.
#include <string_view>

#include "common/leading_integer.h"
#include "common/text.h"
#include "nntp/scan_engine.h"

namespace quillfin::nntp {

namespace {

// The length of the first whole reply at the start of data, 0 while it is still coming: an
// overview list runs to its "." line, any other reply is its status line.
std::size_t CompleteReplyLength(std::string_view data) {
    const std::size_t line_end = data.find("\r\n");
    if (line_end == std::string_view::npos) return 0;
    if (!data.starts_with("224")) return line_end + 2;
    const std::size_t end = data.find("\r\n.\r\n", line_end);
    return end == std::string_view::npos ? 0 : end + 5;
}

}  // namespace

bool ScanEngine::Pipelined() const { return settings_.XoverInFlight > 1; }

void ScanEngine::SendAhead() {
    if (!Pipelined() || settings_.sldXOVER >= unread_at_group_) return;
    while (int(ahead_.size()) + 1 < settings_.XoverInFlight) {
        std::string start = ahead_.empty() ? burst_end_ : ahead_.back().end;
        // Only a burst that ends below the group's last article moves lastRead to its end;
        // past that the next start depends on what the server holds.
        if (common::NumericValue(start) >= double(group_last_)) return;
        std::string end = common::Trim(common::Str(
            common::SaturatingDifference(common::WholeValue(start), -settings_.sldXOVER)));
        connections_.SendLine(1, "XOVER " + start + "-" + end);
        ahead_.push_back({std::move(start), std::move(end)});
    }
}

void ScanEngine::DropAhead() {
    if (ahead_.empty()) return;
    dropped_ += int(ahead_.size());
    ahead_.clear();
    // What came beyond the last burst read belongs to them.
    dropped_data_ += xover_buffer_;
    xover_buffer_.clear();
}

void ScanEngine::ResetAhead() {
    ahead_.clear();
    dropped_ = 0;
    dropped_data_.clear();
    xover_buffer_.clear();
}

bool ScanEngine::SwallowDropped(std::string& chunk) {
    dropped_data_ += chunk;
    chunk.clear();
    while (dropped_ > 0) {
        const std::size_t length = CompleteReplyLength(dropped_data_);
        if (length == 0) {
            DroppedOversizedReply(dropped_data_.size());
            return false;
        }
        dropped_data_.erase(0, length);
        --dropped_;
    }
    chunk.swap(dropped_data_);
    return !chunk.empty();
}

void ScanEngine::ReceivePipelined() {
    // Several replies may be in the buffer: each parse may ask for the next burst, whose
    // reply can be here already.
    while (!parsing_ && session_.ScanState() == 12) {
        const std::size_t length = CompleteReplyLength(xover_buffer_);
        if (length == 0) return;
        LogLine("Xover burst recieved: " + table_.CurrentGroup + ", " +
                common::Decimal(std::int64_t(length)) + " bytes");
        ParseBurst(length);
    }
}

}  // namespace quillfin::nntp
