// Expiry, Delete, Restore and Find over small tables: the flags, the rows, the counts, the
// questions asked and the lines logged.
#include "headers/header_maintenance.h"

#include <gmock/gmock.h>

#include <string>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "support/fakes.h"

namespace quillfin::headers {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Tags = std::vector<std::int32_t>;

struct PartAt {
    std::string number;
    std::string group;
};

// group is the posting's; parts name their own groups.
HeaderEntry Posting(const std::string& subject, const std::string& group, std::vector<PartAt> parts,
                    std::int32_t total = 0, std::int64_t size = 200000) {
    HeaderEntry entry;
    entry.Subject = subject;
    entry.Group = group;
    entry.PartTotal = total;
    entry.Size = size;
    entry.From = "poster";
    entry.Date = "12-06-2026";
    for (const PartAt& where : parts) {
        PartRef& part = entry.Parts.emplace_back();
        part.ArticleNumber = where.number;
        part.Group = where.group;
        part.Subject = subject;
    }
    return entry;
}

class MaintenanceTest : public ::testing::Test {
  protected:
    MaintenanceTest() { settings.chkEnableLogging = 1; }

    void Load(std::vector<HeaderEntry> entries) {
        HeaderEntryList list;
        for (HeaderEntry& entry : entries) list.push_back(std::move(entry));
        table.Replace(std::move(list));
        table.HeadersRead = table.HeaderCount();
        views.FillGroupFilter();  // "All Newsgroups": every posting listed
    }
    // n single-part postings "file<i>.jpg" in alt.test, numbered 100 + i.
    void LoadSingles(int n) {
        std::vector<HeaderEntry> entries;
        for (int i = 1; i <= n; ++i)
            entries.push_back(Posting("file" + std::to_string(i) + ".jpg", "alt.test",
                                      {{std::to_string(100 + i), "alt.test"}}));
        Load(std::move(entries));
    }
    Tags Listed() const {
        Tags tags;
        for (const ListRow& row : views.Rows().Rows()) tags.push_back(row.tag);
        return tags;
    }
    Tags Flagged(bool HeaderEntry::*flag) const {
        Tags tags;
        for (std::int32_t i = 1; i <= table.HeaderCount(); ++i)
            if (table.Entry(i).*flag) tags.push_back(i);
        return tags;
    }
    std::vector<std::string> Logged() {
        auto out = testing::Untimed(log);
        log.Clear();
        return out;
    }
    void SelectPositions(const std::vector<int>& positions) {
        views.Rows().ClearSelection();
        for (int p : positions) views.Rows().Select(p);
    }

    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log{settings, clock, "/nonexistent-dir"};
    HeaderTable table{log};
    std::vector<storage::GroupEntry> groups;
    testing::HookPump pump;
    HeaderViews views{table, settings, groups, pump};
    common::MainViewState view;
    testing::ScriptedPrompts prompts;
    HeaderMaintenance maintenance{table, views, settings, view, prompts, pump};
};

struct ExpiryCase {
    const char* name;
    std::vector<HeaderEntry> postings;
    std::string group;
    std::string first;
    Tags expired;
    std::vector<std::string> logged;
};

class ExpiryTest : public MaintenanceTest, public ::testing::WithParamInterface<ExpiryCase> {};

TEST_P(ExpiryTest, ExpiresPostingsWithAPartBelowTheFirstArticle) {
    const ExpiryCase& c = GetParam();
    Load(c.postings);
    Logged();
    maintenance.AutoExpire(c.group, c.first);
    EXPECT_EQ(Flagged(&HeaderEntry::Expired), c.expired);
    EXPECT_EQ(Flagged(&HeaderEntry::Deleted), c.expired);
    EXPECT_EQ(Logged(), c.logged);
    EXPECT_EQ(log.StatusLine(), c.logged.empty() ? "Auto-expire: " + c.group : c.logged.back());
    EXPECT_FALSE(table.HeadersChanged);  // expiry leaves the file's copy alone
    for (std::int32_t tag : Listed())
        EXPECT_FALSE(table.Entry(tag).Deleted) << "expired posting still listed: " << tag;
    EXPECT_EQ(Listed().size(), std::size_t(table.HeaderCount()) - c.expired.size());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, ExpiryTest, ::testing::Values(
    // One part below is enough; the count is of postings; the last row expires as well.
    ExpiryCase{"OnePartBelowIsEnough",
               {Posting("a", "alt.test", {{"4990", "alt.test"}, {"5010", "alt.test"}}, 2),
                Posting("b", "alt.test", {{"5000", "alt.test"}, {"5001", "alt.test"}}, 2),
                Posting("c", "alt.test", {{"5020", "alt.test"}, {"12", "alt.test"}}, 2)},
               "alt.test", "5000", {1, 3},
               {"Auto-expire: alt.test, 2 articles expired"}},
    ExpiryCase{"OneArticleIsSingular",
               {Posting("a", "alt.test", {{"4999", "alt.test"}}),
                Posting("b", "alt.test", {{"5000", "alt.test"}})},
               "alt.test", "5000", {1}, {"Auto-expire: alt.test, 1 article expired"}},
    // Only postings whose own group is the group, and only their parts from that group.
    ExpiryCase{"OtherGroupsLeftAlone",
               {Posting("a", "alt.other", {{"1", "alt.test"}}),
                Posting("b", "alt.test", {{"9000", "alt.test"}, {"1", "alt.other"}}, 2)},
               "alt.test", "5000", {}, {}},
    // Numbers past 2^31 and past 2^53, where a double can no longer tell them apart.
    ExpiryCase{"NumbersPast32And53Bits",
               {Posting("a", "alt.test", {{"2999999999", "alt.test"}}),
                Posting("b", "alt.test", {{"3000000000", "alt.test"}}),
                Posting("c", "alt.big", {{"9007199254740992", "alt.big"}}),
                Posting("d", "alt.big", {{"9007199254740993", "alt.big"}})},
               "alt.big", "9007199254740993 ", {3},
               {"Auto-expire: alt.big, 1 article expired"}},
    ExpiryCase{"ThirtyTwoBitBoundary",
               {Posting("a", "alt.test", {{"2999999999", "alt.test"}}),
                Posting("b", "alt.test", {{"3000000000", "alt.test"}})},
               "alt.test", "3000000000", {1}, {"Auto-expire: alt.test, 1 article expired"}},
    // A first number the server did not give is 0: nothing is below it.
    ExpiryCase{"NoFirstNumber", {Posting("a", "alt.test", {{"1", "alt.test"}})},
               "alt.test", "x", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(MaintenanceTest, ExpiryIsOffWithoutTheOptionAndNeverCountsAPostingTwice) {
    Load({Posting("a", "alt.test", {{"1", "alt.test"}}),
          Posting("b", "alt.test", {{"2", "alt.test"}})});
    Logged();
    settings.chkAutoExpire = 0;
    const std::string status = log.StatusLine();
    maintenance.AutoExpire("alt.test", "100");
    EXPECT_THAT(Flagged(&HeaderEntry::Expired), IsEmpty());
    EXPECT_THAT(Logged(), IsEmpty());
    EXPECT_EQ(log.StatusLine(), status);

    settings.chkAutoExpire = 1;
    maintenance.AutoExpire("alt.test", "2");
    EXPECT_THAT(Logged(), ElementsAre("Auto-expire: alt.test, 1 article expired"));
    maintenance.AutoExpire("alt.test", "3");  // the first one is expired already
    EXPECT_THAT(Logged(), ElementsAre("Auto-expire: alt.test, 1 article expired"));
    EXPECT_EQ(Flagged(&HeaderEntry::Expired), (Tags{1, 2}));
}

struct DeleteCase {
    const char* name;
    std::vector<int> selected;  // positions in the list of 10
    bool answer;
    Tags listedAfter;
    Tags deleted;
    std::vector<std::string> asked;
    bool rebuilt;
};

class DeleteTest : public MaintenanceTest, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeleteTest, DeletesTheSelectionOrEverythingAfterAsking) {
    const DeleteCase& c = GetParam();
    LoadSingles(10);
    table.HeadersRead = 1234;  // the question counts what was read, not what is listed
    SelectPositions(c.selected);
    prompts.answers = {c.answer};
    const int pumps = pump.count;
    maintenance.DeleteCommand();
    EXPECT_EQ(Listed(), c.listedAfter);
    EXPECT_EQ(Flagged(&HeaderEntry::Deleted), c.deleted);
    std::vector<std::string> asked;
    for (const auto& shown : prompts.shown) asked.push_back(shown.title + ": " + shown.text);
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(pump.count > pumps, c.rebuilt);  // a rebuild lets events run
    const bool changed = !c.deleted.empty();
    EXPECT_EQ(table.HeadersChanged, changed);
    EXPECT_EQ(view.cmdRestoreEnabled, changed);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, DeleteTest, ::testing::Values(
    DeleteCase{"NothingSelectedNo", {}, false, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {},
               {"Delete: Nothing selected, delete all 1234 headers?"}, false},
    DeleteCase{"NothingSelectedYes", {}, true, {}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
               {"Delete: Nothing selected, delete all 1234 headers?"}, true},
    // Two of ten is a fifth: those rows go one by one, the first and the last.
    DeleteCase{"TwoOfTenRemoveRows", {0, 9}, true, {2, 3, 4, 5, 6, 7, 8, 9}, {1, 10}, {}, false},
    DeleteCase{"ThreeOfTenRebuild", {0, 4, 9}, true, {2, 3, 4, 6, 7, 8, 9}, {1, 5, 10}, {}, true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(MaintenanceTest, DeleteAllReachesUnlistedAndQueuedPostingsButLeavesTheBatch) {
    LoadSingles(3);
    table.Entry(2).InBatch = true;
    views.SelectFilter(GroupFilter::kNoGroup);  // nothing listed
    prompts.answers = {true};
    maintenance.DeleteCommand();
    EXPECT_EQ(Flagged(&HeaderEntry::Deleted), (Tags{1, 2, 3}));
    EXPECT_TRUE(table.Entry(2).InBatch);
}

TEST_F(MaintenanceTest, RestoreBringsBackAllButExpiredAndMarksTheTableChanged) {
    LoadSingles(4);
    SelectPositions({0, 1, 2});
    maintenance.DeleteCommand();
    table.Entry(3).Expired = true;
    table.HeadersChanged = false;  // as after a save, which leaves the marks in memory

    prompts.answers = {false};
    maintenance.RestoreCommand();
    EXPECT_EQ(Listed(), (Tags{4}));
    EXPECT_TRUE(view.cmdRestoreEnabled);

    prompts.answers = {true};
    const int pumps = pump.count;
    maintenance.RestoreCommand();
    EXPECT_GE(pump.count - pumps, 2);  // once before the rebuild, once in it
    EXPECT_EQ(Listed(), (Tags{1, 2, 4}));
    EXPECT_EQ(Flagged(&HeaderEntry::Deleted), (Tags{3}));
    EXPECT_TRUE(table.HeadersChanged);
    EXPECT_FALSE(view.cmdRestoreEnabled);
    EXPECT_EQ(prompts.shown.back().text, "Restore all deleted headers?");

    // Nothing left to bring back: the table is as saved.
    table.HeadersChanged = false;
    prompts.answers = {true};
    maintenance.RestoreCommand();
    EXPECT_FALSE(table.HeadersChanged);
}

struct FindCase {
    const char* name;
    std::string text;
    bool searchDeleted;
    Tags listed;
    bool changed;
};

class FindTest : public MaintenanceTest, public ::testing::WithParamInterface<FindCase> {
  protected:
    void SetUp() override {
        Load({Posting("BEACH party.jpg", "alt.one", {{"1", "alt.one"}}, 2),  // incomplete
              Posting("sunset.jpg", "alt.one", {{"2", "alt.one"}}),
              Posting("Beach.zip", "alt.two", {{"3", "alt.two"}}, 0, 500),  // small .ZIP
              Posting("the beach", "alt.two", {{"4", "alt.two"}}),          // deleted
              Posting("old beach.jpg", "alt.two", {{"5", "alt.two"}})});    // expired, last
        table.Entry(4).Deleted = true;
        table.Entry(5).Deleted = table.Entry(5).Expired = true;
        views.FillGroupFilter();
        table.HeadersChanged = false;
    }
};

TEST_P(FindTest, ListsMatchingSubjectsFromEveryGroup) {
    const FindCase& c = GetParam();
    const bool found = maintenance.Find(c.text, c.searchDeleted);
    EXPECT_EQ(found, !c.listed.empty());
    EXPECT_EQ(Listed(), c.listed);
    EXPECT_EQ(views.Filter().Text(), GroupFilter::kNoGroup);
    for (std::int32_t tag : c.listed) EXPECT_FALSE(table.Entry(tag).Deleted) << tag;
    EXPECT_EQ(table.HeadersChanged, c.changed);
    std::vector<std::string> shown;
    for (const auto& box : prompts.shown) shown.push_back(box.text);
    EXPECT_EQ(shown,
              found ? std::vector<std::string>{} : std::vector<std::string>{"No matching headers"});
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, FindTest, ::testing::Values(
    FindCase{"AnyCase", "beach", false, {1, 3}, false},
    // Deleted postings match only when asked for, and come back (expired ones too).
    FindCase{"EvenDeleted", "BeAcH", true, {1, 3, 4, 5}, true},
    FindCase{"TrailingBlank", "beach ", true, {1}, false},
    FindCase{"EmptyMatchesAll", "", false, {1, 2, 3}, false},
    FindCase{"LastRowOnly", "old", true, {5}, true},
    FindCase{"Nothing", "harbour", true, {}, false}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(FindTest, SmallSinglePostingsShowTheTextIconWithoutTheArchiveException) {
    maintenance.Find("beach", false);
    ASSERT_EQ(views.Rows().Count(), 2);
    EXPECT_EQ(views.Rows().At(views.Rows().PositionOfTag(3)).icon, int(Completeness::kText));
    EXPECT_EQ(HeaderViews::ClassOf(table.Entry(3)), Completeness::kComplete);
    EXPECT_EQ(views.Rows().At(views.Rows().PositionOfTag(1)).icon, int(Completeness::kIncomplete));
}

}  // namespace
}  // namespace quillfin::headers
