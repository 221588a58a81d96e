#include "headers/header_table.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "header_fixture.h"

namespace quillfin::headers {
namespace {

class HeaderTableTest : public HeaderFixture {};

TEST_F(HeaderTableTest, JoinsThePartsOfOnePosting) {
    Add("a.jpg (1/2)", "101", "1500");
    Add("a.jpg (2/2)", "102", "2600");
    ASSERT_EQ(table.HeaderCount(), 1);
    const HeaderEntry& e = table.Entry(1);
    EXPECT_EQ(e.Subject, "a.jpg [xx/0000002]");
    EXPECT_EQ(e.PartCount(), 2);
    EXPECT_EQ(e.PartTotal, 2);
    EXPECT_EQ(e.Size, 4100);
    EXPECT_EQ(e.Part(2).ArticleNumber.str() + " " + e.Part(2).Subject.str(), "102 a.jpg (2/2)");
    // One stored name for all parts of a group, not a copy each.
    EXPECT_EQ(&e.Part(1).Group.str(), &e.Part(2).Group.str());
    EXPECT_TRUE(e.Unshown);
    EXPECT_FALSE(e.InBatch || e.Deleted || e.Expired);
}

TEST(GroupNameTest, EqualNamesAreOneTextAndCompareByIt) {
    const GroupName a("alt.x"), b(std::string("alt.") + "x"), c("alt.xy");
    EXPECT_EQ(&a.str(), &b.str());
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == c);  // the cached last name must not answer for a longer one
    EXPECT_TRUE(c == std::string("alt.xy"));
    EXPECT_TRUE(GroupName().empty());
    EXPECT_FALSE(GroupName() == a);
}

TEST(ArticleBodyTest, CopiesOwnTheirTextAndAnEmptyTextIsNoBody) {
    PartRef part;
    EXPECT_TRUE(part.Body.empty());
    part.Body = std::string("220 0 <a@b>\r\nbody\r\n.\r\n");
    PartRef copy = part;
    part.Body.clear();
    EXPECT_EQ(copy.Body.str(), "220 0 <a@b>\r\nbody\r\n.\r\n");
    EXPECT_EQ(part.Body.str(), "");
    copy.Body = std::string();
    EXPECT_TRUE(copy.Body.empty());
}

// Articles as "group poster number subject"; each entry afterwards as "from:parts/total".
TEST_F(HeaderTableTest, JoinRules) {
    const struct {
        const char* name;
        std::vector<std::string> articles;
        std::string entries;
    } cases[] = {
        // Same number from any group, a repost (same subject, poster, group), the same subject
        // from another group: all dropped.
        {"DuplicatesAndReposts",
         {"alt.test p 101 a.jpg (1/2)", "alt.other p 101 a.jpg (2/2)",
          "alt.test p 150 a.jpg (1/2)", "alt.other p 151 a.jpg (1/2)"},
         "p:1/2"},
        {"SinglePostedTwice", {"g p 1 holiday report", "g p 2 holiday report"}, "p:2/0"},
        // Alice's second part has another subject, so it goes to the newest entry (bob's).
        {"AnotherPosterOpensANewerEntry",
         {"g alice 1 b.rar (1/3)", "g bob 2 b.rar (1/3)", "g alice 3 b.rar (2/3)"},
         "alice:1/3 bob:2/3"},
        {"NoSlashIsItsOwnKey",
         {"g p 1 Pictures (1999)", "g p 2 Pictures (1998)", "g p 3 ab", "g p 4 "},
         "p:1/0 p:1/0 p:1/0 p:1/0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HeaderTable fresh{log};
        fresh.SetScanHooks(&hooks);
        hooks.headers_added = 0;
        for (const std::string& article : c.articles) {
            std::istringstream in(article);
            std::string group, from, number;
            in >> group >> from >> number;
            fresh.CurrentGroup = group;
            fresh.add_articleheader(from, article.substr(std::size_t(in.tellg()) + 1), number,
                                    "10", "1000", "12-06-2026", "<id>");
        }
        std::string entries;
        for (int i = 1; i <= fresh.HeaderCount(); ++i)
            entries += std::string(i > 1 ? " " : "") + fresh.Entry(i).From + ":" +
                       std::to_string(fresh.Entry(i).PartCount()) + "/" +
                       std::to_string(fresh.Entry(i).PartTotal);
        EXPECT_EQ(entries, c.entries);
        // Every record still counts as read and changes the table.
        EXPECT_EQ(fresh.HeadersRead, int(c.articles.size()));
        EXPECT_EQ(hooks.headers_added, int(c.articles.size()));
        EXPECT_TRUE(fresh.HeadersChanged);
    }
}

TEST_F(HeaderTableTest, DeletedEntryStaysDeletedWhenItGainsAPart) {
    Add("c.zip (1/2)", "1");
    table.Entry(1).Deleted = true;
    Add("c.zip (2/2)", "2");
    EXPECT_TRUE(table.Entry(1).Deleted);
    EXPECT_EQ(table.Entry(1).PartCount(), 2);
}

TEST_F(HeaderTableTest, BadByteCountsGiveZeroAndLogTheConversion) {
    Add("d.zip (1/3)", "1", "abc");
    Add("d.zip (2/3)", "2", "");
    Add("d.zip (3/3)", "3", "12abc");
    const HeaderEntry& e = table.Entry(1);
    EXPECT_EQ(e.Part(1).Bytes + e.Part(2).Bytes + e.Part(3).Bytes, 0);
    EXPECT_EQ(e.Size, 12);  // the size takes the leading number
    std::vector<std::string> expected(3, "maketree: 13  Type mismatch");
    EXPECT_EQ(Logged(), expected);
}

TEST_F(HeaderTableTest, SizeHoldsPostingsBeyondTwoGigabytes) {
    for (int i = 1; i <= 3; ++i)
        Add("dvd.iso (" + std::to_string(i) + "/3)", std::to_string(i), "1500000000");
    EXPECT_EQ(table.Entry(1).Size, 4'500'000'000LL);
    Add("huge.bin", "9", "3000000000");
    EXPECT_EQ(table.Entry(2).Size, 3'000'000'000LL);
    EXPECT_EQ(table.Entry(2).Part(1).Bytes, 0);  // too big for a part's own count
    EXPECT_EQ(Logged().back(), "maketree: 6  Overflow");
}

TEST_F(HeaderTableTest, MarkerTooCloseToTheStartIsLoggedAndTheRecordStillAdded) {
    Add("(1/2) x", "1");
    EXPECT_EQ(Logged(),
              std::vector<std::string>{"add_articleheader: 5  Invalid procedure call or argument"});
    ASSERT_EQ(table.HeaderCount(), 1);
    EXPECT_EQ(table.Entry(1).Subject, "(1/2) x");
}

TEST_F(HeaderTableTest, TakeUnshownReturnsEachChangedEntryOnceInOrder) {
    Add("e (1/2)", "1");
    Add("f (1/2)", "2");
    Add("e (2/2)", "3");
    EXPECT_EQ(table.TakeUnshown(), (std::vector<std::int32_t>{1, 2}));
    EXPECT_FALSE(table.Entry(1).Unshown);
    EXPECT_TRUE(table.TakeUnshown().empty());
    Add("f (2/2)", "4");
    EXPECT_EQ(table.TakeUnshown(), (std::vector<std::int32_t>{2}));
    EXPECT_EQ(table.ReadCounterText(), "Read: 4");
}

TEST_F(HeaderTableTest, ReplaceRebuildsTheJoinIndex) {
    HeaderEntry loaded;
    loaded.Subject = "g.rar [xx/0000003]";
    loaded.From = "poster";
    loaded.Group = "alt.test";
    loaded.Parts.push_back({"10", "g.rar (1/3)", "alt.test", {}, 100, false});
    table.Replace({loaded});
    Add("g.rar (2/3)", "11", "100");
    ASSERT_EQ(table.HeaderCount(), 1);
    EXPECT_EQ(table.Entry(1).PartCount(), 2);
}

// The lookup tables for big postings and the filter in front of the walk must decide exactly
// as the walk over the parts does.
TEST(HeaderTableJoin, IndexedAndFilteredJoinsAgreeWithThePartWalk) {
    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log(settings, clock, "/nonexistent-dir");
    HeaderTable walked(log, 1 << 30, 1 << 30);
    HeaderTable indexed(log, 0, 1 << 30);
    HeaderTable filtered(log, 1 << 30, 1);
    std::mt19937 random(7);
    const char* groups[] = {"g1", "g2"};
    const char* posters[] = {"ann", "ben"};
    std::string subject, number;
    const char *group = nullptr, *poster = nullptr;
    for (int i = 0; i < 20000; ++i) {
        // Now and then the last record again, as each burst re-reads the last article.
        if (i == 0 || random() % 10 != 0) {
            int file = int(random() % 4);
            int part = int(random() % 60) + 1;
            bool slash = random() % 4 != 0;
            subject = "file" + std::to_string(file) +
                      (slash ? " (" + std::to_string(part) + "/60)" : " part");
            // Mostly rising numbers, as a group delivers them, with stragglers.
            number = std::to_string(random() % 3 == 0 ? random() % 3000 : 3000 + i);
            group = groups[random() % 8 == 0 ? 1 : 0];
            poster = posters[random() % 8 == 0 ? 1 : 0];
        }
        for (HeaderTable* t : {&walked, &indexed, &filtered}) {
            t->CurrentGroup = group;
            t->add_articleheader(poster, subject, number, "", "10", "d", "");
        }
    }
    for (const HeaderTable* other : {&indexed, &filtered}) {
        ASSERT_EQ(walked.HeaderCount(), other->HeaderCount());
        for (int i = 1; i <= walked.HeaderCount(); ++i) {
            const HeaderEntry& a = walked.Entry(i);
            const HeaderEntry& b = other->Entry(i);
            ASSERT_EQ(a.Subject, b.Subject);
            ASSERT_EQ(a.PartCount(), b.PartCount()) << i;
            for (int p = 1; p <= a.PartCount(); ++p)
                ASSERT_EQ(a.Part(p).ArticleNumber, b.Part(p).ArticleNumber);
        }
    }
    EXPECT_GT(walked.HeaderCount(), 4);  // the posters' clashes opened extra entries
}

}  // namespace
}  // namespace quillfin::headers
