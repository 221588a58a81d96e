#include "headers/key_index.h"

namespace quillfin::headers {

std::size_t KeyIndex::Position(const Table& table, std::string_view key, std::size_t hash,
                               const HeaderEntryList& entries, bool* found) {
    const std::size_t mask = table.cells.size() - 1;
    const auto short_hash = std::uint32_t(hash);
    // Linear probing; a table is at most half full, so runs stay short.
    for (std::size_t at = short_hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = table.cells[at];
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
    const Table& table = tables_[TableOf(hash)];
    if (table.cells.empty()) return 0;
    bool found = false;
    const std::size_t at = Position(table, key, hash, entries, &found);
    return found ? table.cells[at].index : 0;
}

void KeyIndex::Assign(std::size_t hash, std::int32_t index, const HeaderEntryList& entries) {
    Table& table = tables_[TableOf(hash)];
    if ((table.used + 1) * 2 > table.cells.size()) Grow(table);
    bool found = false;
    const std::string_view key = entries[std::size_t(index - 1)].Subject;
    const std::size_t at = Position(table, key, hash, entries, &found);
    if (!found) ++table.used;
    table.cells[at] = Slot{std::uint32_t(hash), index};
}

void KeyIndex::Clear() {
    for (Table& table : tables_) table = Table();
}

std::size_t KeyIndex::Size() const {
    std::size_t size = 0;
    for (const Table& table : tables_) size += table.used;
    return size;
}

void KeyIndex::Grow(Table& table) {
    std::vector<Slot> old(table.cells.empty() ? 16 : table.cells.size() * 2);
    old.swap(table.cells);
    const std::size_t mask = table.cells.size() - 1;
    // Slots come from the low bits of the hash, which each slot keeps, so entries move
    // without their keys being read again.
    for (const Slot& slot : old) {
        if (slot.index == 0) continue;
        std::size_t at = slot.hash & mask;
        while (table.cells[at].index != 0) at = (at + 1) & mask;
        table.cells[at] = slot;
    }
}

}  // namespace quillfin::headers
