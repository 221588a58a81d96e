#include "hostgroups/host_group_search.h"

#include <algorithm>
#include <utility>

#include "common/leading_integer.h"
#include "common/text.h"

namespace quillfin::hostgroups {

namespace {

constexpr std::size_t kLanding = 512;
constexpr std::size_t kStartsWithJump = 512;
constexpr std::size_t kContainsJump = 2000;

// The next blank-separated field of text from at; at moves past it.
std::string_view NextField(std::string_view text, std::size_t& at) {
    while (at < text.size() && text[at] == ' ') ++at;
    const std::size_t begin = at;
    while (at < text.size() && text[at] != ' ') ++at;
    return text.substr(begin, at - begin);
}

}  // namespace

void HostGroupSearch::Start(const std::string& buffer, std::string query, Mode mode,
                            headers::RowList& rows) {
    buffer_ = &buffer;
    rows_ = &rows;
    query_ = std::move(query);
    mode_ = mode;
    length_ = buffer.size() + 1;
    p_ = 1;
    progress_ = 0;
    examined_ = 0;
    count_ = 0;
    running_ = true;
    // An empty query lists every line: growing the table a row at a time would move it all
    // at once now and then, a pause the window would feel.
    if (query_.empty()) rows.Reserve(std::size_t(std::count(buffer.begin(), buffer.end(), '\r')));
}

std::size_t HostGroupSearch::FindCr(std::size_t from) const {
    const std::size_t start = from < 2 ? 0 : from - 2;
    const std::size_t at = buffer_->find('\r', start);
    return at == std::string::npos ? 0 : at + 2;
}

std::size_t HostGroupSearch::LastCrBefore(std::size_t before) const {
    if (before < 3) return 0;
    const std::size_t at = buffer_->rfind('\r', before - 3);
    return at == std::string::npos ? 0 : at + 2;
}

std::size_t HostGroupSearch::FindQuery(std::size_t from) const {
    if (from <= 1 && !query_.empty() && query_.front() == '-' &&
        std::string_view(*buffer_).starts_with(std::string_view(query_).substr(1)))
        return 1;
    const std::size_t start = from < 2 ? 0 : from - 2;
    const std::size_t at = buffer_->find(query_, start);
    return at == std::string::npos ? 0 : at + 2;
}

bool HostGroupSearch::Step(std::size_t maxLines) {
    for (std::size_t n = 0; running_ && n < maxLines; ++n)
        if (!Examine()) running_ = false;
    return running_;
}

bool HostGroupSearch::Examine() {
    const std::size_t c = FindCr(p_);
    progress_ = c;
    // The line ending at the text's last CR (the "." line) is never examined.
    if (c + 1 >= length_ || c == 0 || p_ >= length_) return false;
    const std::size_t start = p_;
    p_ = c + 1;
    if (c > start) {
        // The line without its first character (the line feed, or the leading "-").
        const std::string_view raw = std::string_view(*buffer_).substr(start - 1, c - start - 1);
        const std::string_view entry = common::TrimView(raw);
        const std::size_t blank = entry.find(' ');
        // The name part keeps its blank: a query ending in one matches whole names only.
        const std::string_view namePart =
            blank == std::string_view::npos ? entry : entry.substr(0, blank + 1);
        ++examined_;
        if (entry.empty()) return p_ <= length_;  // a line without text lists nothing
        if (Matches(namePart))
            AddRow(entry, namePart);
        else
            SkipAhead();
    }
    return p_ <= length_;
}

bool HostGroupSearch::Matches(std::string_view namePart) const {
    if (query_.empty()) return true;
    if (mode_ == Mode::kStartsWith) return namePart.starts_with(query_);
    return namePart.find(query_) != std::string_view::npos;
}

void HostGroupSearch::SkipAhead() {
    // Lands on a line break up to 512 characters before the next occurrence of the query.
    const std::size_t m = FindQuery(p_);
    std::size_t r = 0;
    if (m == 0) {
        r = length_ + 1;
    } else if (m > kLanding && m - kLanding > p_) {
        r = FindCr(m - kLanding);
        // A line longer than the landing distance: its start, not past the occurrence.
        if (r == 0 || r >= m) r = LastCrBefore(m);
    }
    const std::size_t jump = mode_ == Mode::kStartsWith ? kStartsWithJump : kContainsJump;
    if (r > p_ + jump) p_ = r;
}

void HostGroupSearch::AddRow(std::string_view entry, std::string_view namePart) {
    std::size_t at = namePart.size();
    const std::string_view last = NextField(entry, at);
    const std::string_view first = NextField(entry, at);
    const std::int64_t difference =
        common::SaturatingDifference(common::LeadingInteger(last), common::LeadingInteger(first));
    headers::ListRow row;
    row.text = common::Trim(namePart);
    row.columns = {difference == -1 || difference > 90999
                       ? std::string(" ? ")
                       : common::FormatNumber(double(difference), "00000"),
                   std::string(first), std::string(last), "", ""};
    row.icon = 2;
    row.tag = std::int32_t(++count_);
    rows_->Append(std::move(row));
}

}  // namespace quillfin::hostgroups
