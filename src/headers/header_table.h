#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "headers/header_entry.h"
#include "headers/key_index.h"
#include "headers/scan_hooks.h"
#include "headers/subject_key.h"
#include "storage/activity_log.h"

namespace quillfin::headers {

// The program's postings, indexed 1..HeaderCount in order of creation. Entries are never
// removed while the program runs; deletion only sets flags.
class HeaderTable {
  public:
    using EntryList = HeaderEntryList;

    // Entries with more parts than indexed_part_count get lookup tables for joining; below it
    // a walk over the parts is cheaper than the tables' memory.
    // From filtered_part_count parts on, a small filter lets most lines join without the walk.
    explicit HeaderTable(storage::ActivityLog& log, std::int32_t indexed_part_count = 256,
                         std::int32_t filtered_part_count = 12);
    ~HeaderTable();
    HeaderTable(const HeaderTable&) = delete;
    HeaderTable& operator=(const HeaderTable&) = delete;

    std::int32_t HeaderCount() const { return std::int32_t(entries_.size()); }
    HeaderEntry& Entry(std::int32_t index) { return entries_.at(std::size_t(index - 1)); }
    const HeaderEntry& Entry(std::int32_t index) const {
        return entries_.at(std::size_t(index - 1));
    }
    const EntryList& Entries() const { return entries_; }

    bool HeadersChanged = false;
    // Overview records added since start-up plus parts loaded from the header file.
    std::int32_t HeadersRead = 0;
    // The newsgroup whose overview data is being parsed.
    std::string CurrentGroup;

    // "Read: " and HeadersRead, the main window's counter.
    std::string ReadCounterText() const;

    void SetScanHooks(ScanHooks* hooks) { hooks_ = hooks; }
    ScanHooks* Hooks() const { return hooks_; }
    storage::ActivityLog& Log() const { return log_; }

    // One overview record, already split and normalised. The group is CurrentGroup.
    void add_articleheader(std::string_view from, std::string_view subject,
                           std::string_view articleNumber, std::string_view lines,
                           std::string_view bytes, std::string_view date,
                           std::string_view messageId);
    // The join step: a further part of the newest entry with this key, a duplicate, or a
    // new entry.
    void maketree(std::string_view key, std::string_view subject, std::string_view articleNumber,
                  std::string_view totalText, std::string_view bytes, std::string_view group,
                  std::string_view from, std::string_view date);

    // Appends a posting made elsewhere (an NZB file) without indexing its key, so scanned
    // articles never join it. Its index, or 0 when the table is full.
    std::int32_t AddPosting(HeaderEntry entry);

    // Replaces the whole table (the header file's load); rebuilds the indexes.
    void Replace(EntryList entries);

    // Indices (ascending) of entries whose Unshown was set, gathered as they gained parts, so a
    // list update need not walk the whole table. Clears their Unshown.
    std::vector<std::int32_t> TakeUnshown();

  private:
    // Lets the maps be searched with a string_view, without building a string per line.
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };
    template <typename Value>
    using TextMap = std::unordered_map<std::string, Value, TextHash, std::equal_to<>>;

    struct PartIndex;
    // Proves cheaply that a line matches none of a posting's parts, in which case the walk
    // would join it: no part has its article number (article numbers are compared by value
    // against the highest) and its subject hits no bit of a small Bloom filter.
    struct PartFilter {
        std::uint64_t subject_bits[16] = {};
        double highest_article = -1;
        std::int32_t covered = 0;  // parts added; the posting's own count if up to date

        void Add(const PartRef& part, std::string& scratch);
        bool MayMatch(std::string_view subject, const ArticleId& articleNumber) const;
    };
    enum class Join { kAppend, kDrop, kNewEntry };

    Join Decide(std::int32_t index, std::string_view subject, const ArticleId& articleNumber,
                std::string_view group, std::string_view from);
    // like: a part of the same posting, whose subject text the new part may share.
    PartRef MakePart(std::string_view subject, ArticleId articleNumber, std::string_view bytes,
                     std::string_view group, const PartSubject* like);
    void NoteAppended(std::int32_t index);
    void MarkUnshown(std::int32_t index);
    void LogError(const char* routine, int number, const std::string& description);

    storage::ActivityLog& log_;
    ScanHooks* hooks_ = nullptr;
    std::int32_t indexed_part_count_;
    std::int32_t filtered_part_count_;
    EntryList entries_;
    // Join key -> newest entry with that key.
    KeyIndex newest_by_key_;
    // Lookup tables for entries with many parts, so joining stays linear in the parts.
    std::unordered_map<std::int32_t, std::unique_ptr<PartIndex>> part_indexes_;
    std::unordered_map<std::int32_t, PartFilter> part_filters_;
    std::vector<std::int32_t> unshown_;
    SubjectKey parsed_;    // reused for every record
    std::string scratch_;  // a part's subject, hashed for a filter
};

}  // namespace quillfin::headers
