#include "headers/key_index.h"

#include <gtest/gtest.h>

#include <string>

namespace quillfin::headers {
namespace {

HeaderEntryList Postings(int count) {
    HeaderEntryList entries(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) entries[std::size_t(i)].Subject = "key " + std::to_string(i);
    return entries;
}

// Every key is found at its own posting through several growths, with real hashes and with
// all keys on one hash, where only the subjects tell the slots apart.
TEST(KeyIndex, FindsEachKeyThroughGrowthAndCollisions) {
    for (bool one_hash : {false, true}) {
        const int count = one_hash ? 1500 : 20000;
        const HeaderEntryList entries = Postings(count);
        auto hash = [&](std::string_view key) { return one_hash ? 7 : KeyIndex::Hash(key); };
        KeyIndex index;
        for (int i = 1; i <= count; ++i)
            index.Assign(hash(entries[std::size_t(i - 1)].Subject), i, entries);
        EXPECT_EQ(index.Size(), std::size_t(count));
        for (int i = 1; i <= count; i += 7) {
            const std::string key = "key " + std::to_string(i - 1);
            EXPECT_EQ(index.Find(key, hash(key), entries), i) << key;
        }
        EXPECT_EQ(index.Find("key", hash("key"), entries), 0);
        EXPECT_EQ(index.Find("key 1 ", hash("key 1 "), entries), 0);
    }
}

TEST(KeyIndex, ANewerPostingWithTheSameKeyTakesItsPlace) {
    HeaderEntryList entries = Postings(3);
    entries[2].Subject = entries[0].Subject;
    KeyIndex index;
    for (int i = 1; i <= 3; ++i)
        index.Assign(KeyIndex::Hash(entries[std::size_t(i - 1)].Subject), i, entries);
    EXPECT_EQ(index.Size(), 2u);
    EXPECT_EQ(index.Find("key 0", KeyIndex::Hash("key 0"), entries), 3);
    index.Clear();
    EXPECT_EQ(index.Find("key 0", KeyIndex::Hash("key 0"), entries), 0);
}

}  // namespace
}  // namespace quillfin::headers
