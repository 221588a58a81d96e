#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/large_block_allocator.h"
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
    std::size_t Size() const { return used_; }

  private:
    struct Slot {
        std::uint32_t hash = 0;
        std::int32_t index = 0;  // 0: empty
    };
    using Slots = std::vector<Slot, common::LargeBlockAllocator<Slot>>;

    std::size_t Position(std::string_view key, std::size_t hash, const HeaderEntryList& entries,
                         bool* found) const;
    void Grow();

    Slots slots_;
    std::size_t used_ = 0;
};

}  // namespace quillfin::headers
