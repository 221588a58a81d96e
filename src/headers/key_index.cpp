#include "headers/key_index.h"

namespace quillfin::headers {

std::size_t KeyIndex::Position(std::string_view key, std::size_t hash,
                               const HeaderEntryList& entries, bool* found) const {
    const std::size_t mask = slots_.size() - 1;
    const auto short_hash = std::uint32_t(hash);
    // Linear probing; the table is at most half full, so runs stay short.
    for (std::size_t at = short_hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.index == 0) {
            *found = false;
            return at;
        }
        if (slot.hash == short_hash && entries[std::size_t(slot.index - 1)].Subject == key) {
            *found = true;
            return at;
        }
    }
}

std::int32_t KeyIndex::Find(std::string_view key, std::size_t hash,
                            const HeaderEntryList& entries) const {
    if (slots_.empty()) return 0;
    bool found = false;
    const std::size_t at = Position(key, hash, entries, &found);
    return found ? slots_[at].index : 0;
}

void KeyIndex::Assign(std::size_t hash, std::int32_t index, const HeaderEntryList& entries) {
    if ((used_ + 1) * 2 > slots_.size()) Grow();
    bool found = false;
    const std::string_view key = entries[std::size_t(index - 1)].Subject;
    const std::size_t at = Position(key, hash, entries, &found);
    if (!found) ++used_;
    slots_[at] = Slot{std::uint32_t(hash), index};
}

void KeyIndex::Clear() {
    Slots none;
    slots_.swap(none);
    used_ = 0;
}

void KeyIndex::Grow() {
    Slots old(slots_.empty() ? 1024 : slots_.size() * 2);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    // Only the low 32 bits of each hash are kept, and slots come from the low bits, so
    // entries move without their keys being read again.
    for (const Slot& slot : old) {
        if (slot.index == 0) continue;
        std::size_t at = slot.hash & mask;
        while (slots_[at].index != 0) at = (at + 1) & mask;
        slots_[at] = slot;
    }
}

}  // namespace quillfin::headers
