#include "headers/header_table.h"

#include <algorithm>
#include <limits>

#include "common/heap.h"
#include "common/run_error.h"
#include "common/text.h"
#include "headers/message_id.h"
#include "headers/subject_key.h"

namespace quillfin::headers {

namespace {

// The strict whole-number conversion of a byte count: the text must be a number.
std::int32_t ConvertBytes(std::string_view text) {
    std::string_view t = common::TrimView(text);
    if (!common::IsDecimalNumber(t)) throw common::TypeMismatch();
    std::int64_t value = common::WholeValue(t);
    if (value > std::numeric_limits<std::int32_t>::max() ||
        value < std::numeric_limits<std::int32_t>::min())
        throw common::Overflow();
    return std::int32_t(value);
}

// A posting's size adds up byte counts from the server: held at the ends of the range, never
// wrapped round.
std::int64_t AddBytes(std::int64_t size, std::int64_t bytes) {
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(size, bytes, &sum)) return sum;
    return bytes < 0 ? std::numeric_limits<std::int64_t>::min()
                     : std::numeric_limits<std::int64_t>::max();
}

}  // namespace

struct HeaderTable::PartIndex {
    struct SubjectInfo {
        std::int32_t first = 0;  // 1-based position of the first part with this subject
        GroupName first_group;
        bool mixed_groups = false;
    };
    std::unordered_map<ArticleId, std::int32_t, ArticleIdHash> first_article;
    TextMap<SubjectInfo> subjects;

    void Add(const PartRef& part, std::int32_t position) {
        first_article.try_emplace(part.ArticleNumber, position);
        auto [it, inserted] = subjects.try_emplace(part.Subject.str());
        if (inserted) {
            it->second.first = position;
            it->second.first_group = part.Group;
        } else if (it->second.first_group != part.Group) {
            it->second.mixed_groups = true;
        }
    }
};

namespace {

// A bit of the 1024 for a subject.
std::pair<std::size_t, std::uint64_t> SubjectBit(std::string_view subject) {
    const std::size_t hash = std::hash<std::string_view>{}(subject);
    return {(hash >> 6) & 15, std::uint64_t(1) << (hash & 63)};
}

// Equal article numbers give equal values; the filter needs no more.
double ArticleValue(const ArticleId& id) {
    if (id.IsNumber() && id.Number() < (std::uint64_t(1) << 53)) return double(id.Number());
    char buffer[24];
    return common::NumericValue(id.View(buffer));
}

}  // namespace

void HeaderTable::PartFilter::Add(const PartRef& part, std::string& scratch) {
    part.Subject.CopyTo(scratch);
    const auto [word, bit] = SubjectBit(scratch);
    subject_bits[word] |= bit;
    highest_article = std::max(highest_article, ArticleValue(part.ArticleNumber));
    ++covered;
}

bool HeaderTable::PartFilter::MayMatch(std::string_view subject,
                                       const ArticleId& articleNumber) const {
    if (ArticleValue(articleNumber) <= highest_article) return true;
    const auto [word, bit] = SubjectBit(subject);
    return (subject_bits[word] & bit) != 0;
}

HeaderTable::HeaderTable(storage::ActivityLog& log, std::int32_t indexed_part_count,
                         std::int32_t filtered_part_count)
    : log_(log),
      indexed_part_count_(indexed_part_count),
      filtered_part_count_(filtered_part_count) {
    common::PrepareHeapForLargeTables();
}
HeaderTable::~HeaderTable() = default;

std::string HeaderTable::ReadCounterText() const { return "Read: " + std::to_string(HeadersRead); }

void HeaderTable::LogError(const char* routine, int number, const std::string& description) {
    log_.LogEvent(common::FormatRunError(routine, number, description), true);
}

void HeaderTable::add_articleheader(std::string_view from, std::string_view subject,
                                    std::string_view articleNumber, std::string_view /*lines*/,
                                    std::string_view bytes, std::string_view date,
                                    std::string_view /*messageId*/) {
    HeadersChanged = true;
    if (HeadersRead < std::numeric_limits<std::int32_t>::max()) ++HeadersRead;
    if (hooks_ != nullptr) hooks_->HeaderAdded();

    ParseSubjectKey(subject, parsed_);
    for (int i = 0; i < parsed_.window_errors; ++i) {
        common::RunError e = common::InvalidArgument();
        LogError("add_articleheader", e.number, e.what());
    }
    maketree(parsed_.key, common::TrimView(subject), articleNumber, parsed_.total, bytes,
             CurrentGroup, from, date);
}

HeaderTable::Join HeaderTable::Decide(std::int32_t index, std::string_view subject,
                                      const ArticleId& articleNumber, std::string_view group,
                                      std::string_view from) {
    HeaderEntry& entry = Entry(index);
    const bool same_poster = entry.From == from;
    const bool has_slash = subject.find('/') != std::string_view::npos;

    // Only postings past indexed_part_count_ parts have tables: skip the lookup below that.
    auto found =
        entry.PartCount() > indexed_part_count_ ? part_indexes_.find(index) : part_indexes_.end();
    if (found == part_indexes_.end()) {
        if (entry.PartCount() >= filtered_part_count_) {
            PartFilter& filter = part_filters_[index];
            if (filter.covered != entry.PartCount()) {
                // New, or the parts changed outside the join.
                filter = PartFilter();
                for (const PartRef& part : entry.Parts) filter.Add(part, scratch_);
            }
            if (!filter.MayMatch(subject, articleNumber)) return Join::kAppend;
        }
        // Walk the parts in order; the first part that settles the question wins.
        for (const PartRef& part : entry.Parts) {
            if (part.ArticleNumber == articleNumber) return Join::kDrop;
            if (!(part.Subject == subject)) continue;
            if (part.Group != group) return Join::kDrop;
            if (!same_poster) return Join::kNewEntry;
            if (has_slash) return Join::kDrop;
        }
        return Join::kAppend;
    }

    // The same decision as the walk, answered from the lookup tables.
    const PartIndex& lookup = *found->second;
    auto article = lookup.first_article.find(articleNumber);
    const std::int32_t article_at = article == lookup.first_article.end()
                                        ? std::numeric_limits<std::int32_t>::max()
                                        : article->second;
    auto same_subject = lookup.subjects.find(subject);
    const PartIndex::SubjectInfo* info =
        same_subject == lookup.subjects.end() ? nullptr : &same_subject->second;
    const bool article_seen = article != lookup.first_article.end();
    if (!same_poster) {
        if (info != nullptr && info->first < article_at)
            return info->first_group != group ? Join::kDrop : Join::kNewEntry;
        return article_seen ? Join::kDrop : Join::kAppend;
    }
    if (article_seen) return Join::kDrop;
    if (info == nullptr) return Join::kAppend;
    if (has_slash || info->mixed_groups || info->first_group != group) return Join::kDrop;
    return Join::kAppend;
}

PartRef HeaderTable::MakePart(std::string_view subject, ArticleId articleNumber,
                              std::string_view bytes, std::string_view group,
                              const PartSubject* like) {
    PartRef part;
    part.ArticleNumber = std::move(articleNumber);
    part.Subject = like != nullptr ? PartSubject(subject, *like) : PartSubject(subject);
    part.Group = group;
    try {
        part.Bytes = ConvertBytes(bytes);
    } catch (const common::RunError& e) {
        LogError("maketree", e.number, e.what());
    }
    return part;
}

void HeaderTable::maketree(std::string_view key, std::string_view subject,
                           std::string_view articleNumber, std::string_view totalText,
                           std::string_view bytes, std::string_view group, std::string_view from,
                           std::string_view date) {
    std::string_view trimmed_key = common::TrimView(key);
    const std::size_t key_hash = KeyIndex::Hash(trimmed_key);
    ArticleId id(articleNumber);
    if (std::int32_t index = newest_by_key_.Find(trimmed_key, key_hash, entries_); index != 0) {
        Join join = Decide(index, subject, id, group, from);
        if (join == Join::kDrop) return;
        if (join == Join::kAppend) {
            HeaderEntry& entry = Entry(index);
            // A second part means the posting is arriving: make room for the announced total
            // at once (up to a bound) rather than growing the array part by part.
            if (entry.Parts.size() == 1 && entry.PartTotal > 1)
                entry.Parts.reserve(std::size_t(std::min(entry.PartTotal, 64)));
            entry.Parts.push_back(
                MakePart(subject, std::move(id), bytes, group, &entry.Parts.front().Subject));
            entry.Size = AddBytes(entry.Size, common::WholeValue(bytes));
            NoteAppended(index);
            MarkUnshown(index);
            return;
        }
    }
    if (HeaderCount() == std::numeric_limits<std::int32_t>::max()) {
        LogError("maketree", common::kOverflow, "Overflow");
        return;
    }
    HeaderEntry entry;
    entry.Subject = std::string(trimmed_key);
    entry.Parts.push_back(MakePart(subject, std::move(id), bytes, group, nullptr));
    entry.From = from;
    entry.Date = date;
    std::int64_t total = common::WholeValue(totalText);
    if (total > std::numeric_limits<std::int32_t>::max() ||
        total < std::numeric_limits<std::int32_t>::min()) {
        LogError("maketree", common::kOverflow, "Overflow");
    } else {
        entry.PartTotal = std::int32_t(total);
    }
    entry.Size = common::WholeValue(bytes);
    entry.Group = std::string(group);
    entries_.push_back(std::move(entry));
    std::int32_t index = HeaderCount();
    newest_by_key_.Assign(key_hash, index, entries_);
    MarkUnshown(index);
}

std::int32_t HeaderTable::AddPosting(HeaderEntry entry) {
    if (HeaderCount() == std::numeric_limits<std::int32_t>::max()) return 0;
    entries_.push_back(std::move(entry));
    MarkUnshown(HeaderCount());
    return HeaderCount();
}

void HeaderTable::NoteAppended(std::int32_t index) {
    HeaderEntry& entry = Entry(index);
    if (auto filter = entry.PartCount() > filtered_part_count_ ? part_filters_.find(index)
                                                               : part_filters_.end();
        filter != part_filters_.end()) {
        // A complete posting seldom gains parts: drop its filter (some 160 bytes) and let a
        // later line rebuild it.
        if (entry.PartCount() == entry.PartTotal)
            part_filters_.erase(filter);
        else if (filter->second.covered == entry.PartCount() - 1)
            filter->second.Add(entry.Parts.back(), scratch_);
    }
    auto found =
        entry.PartCount() > indexed_part_count_ ? part_indexes_.find(index) : part_indexes_.end();
    if (found != part_indexes_.end()) {
        found->second->Add(entry.Parts.back(), entry.PartCount());
        return;
    }
    if (entry.PartCount() > indexed_part_count_) {
        auto lookup = std::make_unique<PartIndex>();
        for (std::int32_t i = 1; i <= entry.PartCount(); ++i) lookup->Add(entry.Part(i), i);
        part_indexes_.emplace(index, std::move(lookup));
    }
}

void HeaderTable::MarkUnshown(std::int32_t index) {
    HeaderEntry& entry = Entry(index);
    if (!entry.Unshown) unshown_.push_back(index);
    entry.Unshown = true;
}

std::vector<std::int32_t> HeaderTable::TakeUnshown() {
    std::vector<std::int32_t> taken;
    taken.swap(unshown_);
    std::sort(taken.begin(), taken.end());
    taken.erase(std::unique(taken.begin(), taken.end()), taken.end());
    std::erase_if(taken, [this](std::int32_t i) { return i > HeaderCount() || !Entry(i).Unshown; });
    for (std::int32_t i : taken) Entry(i).Unshown = false;
    return taken;
}

void HeaderTable::Replace(EntryList entries) {
    entries_ = std::move(entries);
    newest_by_key_.Clear();
    part_indexes_.clear();
    part_filters_.clear();
    unshown_.clear();
    for (std::int32_t i = 1; i <= HeaderCount(); ++i) {
        if (!IsImportedPosting(Entry(i)))
            newest_by_key_.Assign(KeyIndex::Hash(Entry(i).Subject), i, entries_);
        if (Entry(i).PartCount() > indexed_part_count_) {
            auto lookup = std::make_unique<PartIndex>();
            for (std::int32_t p = 1; p <= Entry(i).PartCount(); ++p)
                lookup->Add(Entry(i).Part(p), p);
            part_indexes_.emplace(i, std::move(lookup));
        }
        if (Entry(i).Unshown) unshown_.push_back(i);
    }
}

}  // namespace quillfin::headers
