#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "headers/header_entry.h"

namespace quillfin::headers {

// Join key -> the newest posting (1-based) with that key. The keys are the postings' own
// Subject texts, so the index keeps 8 bytes a slot and no copies: a scan of single articles
// adds a posting per line, and a node with its own key string per posting cost more than
// the parsing. Postings' subjects must not change once indexed.
class KeyIndex {
  public:
    static std::size_t Hash(std::string_view key) { return std::hash<std::string_view>{}(key); }

    // 0 when no posting has this key.
    std::int32_t Find(std::string_view key, std::size_t hash, const HeaderEntryList& entries) const;
    // Points the key at index, whose Subject is the key.
    void Assign(std::size_t hash, std::int32_t index, const HeaderEntryList& entries);
    void Clear();
    std::size_t Size() const;

  private:
    struct Slot {
        std::uint32_t hash = 0;
        std::int32_t index = 0;  // 0: empty
    };
    // The top bits of a hash choose one of these tables, and each grows on its own: one
    // table of a million keys would hold the event loop while it doubled.
    struct Table {
        std::vector<Slot> cells;
        std::size_t used = 0;
    };
    static constexpr int kTableBits = 6;

    static std::size_t TableOf(std::size_t hash) {
        return hash >> (sizeof(std::size_t) * 8 - kTableBits);
    }
    static std::size_t Position(const Table& table, std::string_view key, std::size_t hash,
                                const HeaderEntryList& entries, bool* found);
    static void Grow(Table& table);

    std::array<Table, std::size_t(1) << kTableBits> tables_;
};

}  // namespace quillfin::headers
