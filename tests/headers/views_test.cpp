#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "headers/header_views.h"
#include "headers/posting_text.h"
#include "storage/activity_log.h"

namespace quillfin::headers {
namespace {

class HookPump : public common::EventPump {
  public:
    void Pump() override {
        ++count;
        if (hook) hook();
    }
    int count = 0;
    std::function<void()> hook;
};

HeaderEntry Posting(const std::string& subject, const std::string& group, std::int32_t total,
                    std::vector<std::int32_t> part_bytes) {
    HeaderEntry entry;
    entry.Subject = subject;
    entry.Group = group;
    entry.PartTotal = total;
    entry.From = "poster@example.net";
    entry.Date = "12-06-2026";
    for (std::size_t i = 0; i < part_bytes.size(); ++i) {
        PartRef part;
        part.ArticleNumber = std::to_string(100 + i);
        part.Subject = subject;
        part.Bytes = part_bytes[i];
        part.Group = group;
        entry.Parts.push_back(part);
        entry.Size += part_bytes[i];
    }
    return entry;
}

class ViewsTest : public ::testing::Test {
  protected:
    // Texts of the listed rows, top to bottom.
    std::vector<std::string> Listed() const {
        std::vector<std::string> out;
        for (const ListRow& row : views.Rows().Rows()) out.push_back(row.text);
        return out;
    }
    void Load(std::vector<HeaderEntry> entries) { table.Replace(std::move(entries)); }
    void AddArticle(const std::string& group, const std::string& subject, const std::string& number,
                    const std::string& bytes = "1000") {
        table.CurrentGroup = group;
        table.add_articleheader("poster@example.net", subject, number, "10", bytes, "12-06-2026",
                                "<id>");
    }

    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log{settings, clock, "/nonexistent-dir"};
    HeaderTable table{log};
    std::vector<storage::GroupEntry> groups;
    HookPump pump;
    HeaderViews views{table, settings, groups, pump};
};

TEST_F(ViewsTest, ClassifiesByPartsTotalSizeAndEnding) {
    struct Case {
        const char* subject;
        std::int32_t total;
        std::vector<std::int32_t> parts;
        int expected;
    } cases[] = {
        {"a [xx/0000010]", 10, std::vector<std::int32_t>(10, 5000), 2},
        {"a [xx/0000010]", 10, std::vector<std::int32_t>(11, 5000), 2},
        {"a [xx/0000010]", 10, std::vector<std::int32_t>(9, 5000), 1},
        {"a [xx/0000010]", 10, std::vector<std::int32_t>(12, 5000), 3},
        {"info.nfo", 0, {5000}, 2},
        {"INFO.Diz", 0, {5000}, 2},
        {"pack.zip", 0, {9999}, 2},
        {"notes.txt", 0, {5000}, 6},
        {"notes.txt", 0, {10000}, 2},
        {"notes.txt", 0, {5000, 5000}, 3},
        {"ab", 0, {10}, 6},
        {"", 0, {10}, 6},
        // A total of 1 with one part is complete whatever its size.
        {"tiny.txt [xx/0000001]", 1, {10}, 2},
    };
    std::vector<HeaderEntry> entries;
    for (const Case& c : cases) entries.push_back(Posting(c.subject, "g", c.total, c.parts));
    Load(entries);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(views.ClassifyPosting(std::int32_t(i + 1)), cases[i].expected)
            << cases[i].subject << " with " << cases[i].parts.size() << " parts";
}

TEST_F(ViewsTest, RowsShowTheSixColumnsIconAndTag) {
    Load({Posting("pic.jpg [xx/0000010]", "alt.pics", 10, {400000, 400000, 434567}),
          Posting("notes.txt", "alt.text", 0, {5000, 5000}),
          Posting("single.bin", "alt.text", 0, {20000}),
          Posting("[xx/000]", "alt.text", 0, {20000})});
    views.SelectFilter(GroupFilter::kAllNewsgroups);
    ASSERT_EQ(views.Rows().Count(), 4);
    const ListRow& first = views.Rows().At(0);
    EXPECT_EQ(first.text, "pic.jpg");
    EXPECT_EQ(first.columns, (ListRow::Columns{"003/010", "01.235", "poster@example.net",
                                               "12-06-2026", "alt.pics"}));
    EXPECT_EQ(first.icon, 1);
    EXPECT_EQ(first.tag, 1);
    EXPECT_EQ(views.Rows().At(1).columns[0], "002/???");
    EXPECT_EQ(views.Rows().At(1).icon, 3);
    EXPECT_EQ(views.Rows().At(2).columns[0], "");
    EXPECT_EQ(views.Rows().At(2).columns[1], "00.020");
    // A raw subject holding the marker text but shorter than its ending lists as empty.
    EXPECT_EQ(views.Rows().At(3).text, "");
}

TEST_F(ViewsTest, FiltersByGroupAndCompletenessToggles) {
    Load({Posting("a [xx/0000002]", "alt.one", 2, {20000, 20000}),  // complete
          Posting("b [xx/0000005]", "alt.one", 5, {20000}),         // incomplete
          Posting("c.txt", "alt.two", 0, {100}),                    // text
          Posting("d", "alt.two", 0, {100, 100})});                 // unknown
    views.SelectFilter(GroupFilter::kAllNewsgroups);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"a", "b", "c.txt", "d"}));
    views.SelectFilter("alt.two");
    EXPECT_EQ(Listed(), (std::vector<std::string>{"c.txt", "d"}));
    views.SelectFilter(GroupFilter::kNoGroup);
    EXPECT_TRUE(Listed().empty());

    views.SelectFilter(GroupFilter::kAllNewsgroups);
    views.ToolbarClick(Completeness::kText, false);
    EXPECT_FALSE(settings.togtsText);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"a", "b", "d"}));
    views.ToolbarClick(Completeness::kComplete, false);
    views.ToolbarClick(Completeness::kUnknown, false);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"b"}));
    views.ToolbarClick(Completeness::kIncomplete, false);
    EXPECT_TRUE(Listed().empty());
    views.ToolbarClick(Completeness::kText, true);
    EXPECT_TRUE(settings.togtsText);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"c.txt"}));
}

TEST_F(ViewsTest, DeletedPostingsAreSkippedAndRestoredUnlessExpired) {
    std::vector<HeaderEntry> entries = {Posting("kept", "g", 0, {20000}),
                                        Posting("deleted", "g", 0, {20000}),
                                        Posting("expired", "g", 0, {20000})};
    entries[1].Deleted = true;
    entries[2].Deleted = entries[2].Expired = true;
    Load(entries);
    views.SelectFilter(GroupFilter::kAllNewsgroups);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"kept"}));

    views.RebuildHeaderList(true);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"kept", "deleted"}));
    EXPECT_FALSE(table.Entry(2).Deleted);
    EXPECT_TRUE(table.Entry(3).Deleted);
}

TEST_F(ViewsTest, FillGroupFilterListsEnabledGroupsAndSwitchesOffLargeTables) {
    for (const char* name : {"alt.one", "alt.off", "alt.two"}) {
        storage::GroupEntry group;
        group.name = name;
        group.disabled = group.name == "alt.off";
        groups.push_back(group);
    }
    Load({Posting("a", "alt.one", 0, {20000})});
    struct Case {
        std::int32_t read;
        const char* selected;
        int rows;
    } cases[] = {{1000, GroupFilter::kAllNewsgroups, 1}, {1001, GroupFilter::kNoGroup, 0}};
    for (const Case& c : cases) {
        table.HeadersRead = c.read;
        views.FillGroupFilter();
        EXPECT_EQ(views.Filter().Items(),
                  (std::vector<std::string>{"All Newsgroups", "no group (Display Disable)",
                                            "alt.one", "alt.two"}));
        EXPECT_EQ(views.Filter().Text(), c.selected);
        EXPECT_EQ(views.Rows().Count(), c.rows) << c.read;
    }
    // The group list's refresh appends through the filter interface.
    storage::GroupFilterList& filter = views.Filter();
    EXPECT_TRUE(filter.HasFilterItem("alt.two"));
    EXPECT_FALSE(filter.HasFilterItem("alt.new"));
    filter.AppendFilterItem("alt.new");
    EXPECT_EQ(views.Filter().Items().back(), "alt.new");
}

TEST_F(ViewsTest, UpdateRefreshesChangedRowsInPlaceAndAppendsNewOnes) {
    AddArticle("alt.pics", "pic.jpg (1/10)", "1");
    AddArticle("alt.pics", "other.jpg (1/2)", "2");
    AddArticle("alt.text", "elsewhere (1/2)", "3");
    views.Filter().SetText("alt.pics");
    views.UpdateHeaderList();
    ASSERT_EQ(Listed(), (std::vector<std::string>{"pic.jpg", "other.jpg"}));
    EXPECT_FALSE(table.Entry(3).Unshown);  // filtered out: only loses its mark

    views.Rows().Select(0);
    AddArticle("alt.pics", "pic.jpg (2/10)", "4");
    AddArticle("alt.pics", "pic.jpg (3/10)", "5");
    AddArticle("alt.pics", "new.jpg (1/3)", "6");
    views.UpdateHeaderList();
    EXPECT_EQ(Listed(), (std::vector<std::string>{"pic.jpg", "other.jpg", "new.jpg"}));
    EXPECT_EQ(views.Rows().At(0).columns[0], "003/010");
    EXPECT_EQ(views.Rows().At(0).columns[1], "00.003");
    EXPECT_TRUE(views.Rows().At(0).selected);
    EXPECT_EQ(views.Rows().At(2).tag, 4);
}

TEST_F(ViewsTest, DeletedPostingThatGainsAPartShowsUntilTheNextRebuild) {
    AddArticle("g", "a.jpg (1/3)", "1");
    views.SelectFilter(GroupFilter::kAllNewsgroups);
    table.Entry(1).Deleted = true;
    views.RebuildHeaderList(false);
    ASSERT_EQ(views.Rows().Count(), 0);

    AddArticle("g", "a.jpg (2/3)", "2");
    views.UpdateHeaderList();
    EXPECT_EQ(Listed(), (std::vector<std::string>{"a.jpg"}));
    EXPECT_TRUE(table.Entry(1).Deleted);
    views.RebuildHeaderList(false);
    EXPECT_EQ(views.Rows().Count(), 0);
}

TEST_F(ViewsTest, SortsByDisplayedTextAscendingThenFlipping) {
    Load({Posting("b", "alt.z", 0, {30000}), Posting("c", "alt.x", 0, {10000}),
          Posting("a", "alt.y", 0, {20000})});
    views.SelectFilter(GroupFilter::kAllNewsgroups);
    views.ClickColumn(2);  // MB
    EXPECT_EQ(Listed(), (std::vector<std::string>{"c", "a", "b"}));
    views.ClickColumn(2);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"b", "a", "c"}));
    views.ClickColumn(0);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"a", "b", "c"}));
    views.ClickColumn(5);  // Newsgroup
    EXPECT_EQ(Listed(), (std::vector<std::string>{"c", "a", "b"}));
    // Tags still lead to their rows after sorting.
    for (int i = 0; i < views.Rows().Count(); ++i)
        EXPECT_EQ(views.Rows().PositionOfTag(views.Rows().At(i).tag), i);
    // A rebuild keeps the order the user chose.
    views.RebuildHeaderList(false);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"c", "a", "b"}));
}

TEST_F(ViewsTest, RebuildShowsBusyPointerAndYieldsEveryThousandRows) {
    std::vector<HeaderEntry> entries(2500, Posting("x", "g", 0, {20000}));
    Load(entries);
    std::vector<bool> busy_at_pump;
    pump.hook = [&] { busy_at_pump.push_back(views.BusyPointer()); };
    views.SelectFilter(GroupFilter::kAllNewsgroups);
    EXPECT_EQ(pump.count, 3);  // once at the start, then after rows 1000 and 2000
    EXPECT_EQ(busy_at_pump, (std::vector<bool>{true, true, true}));
    EXPECT_FALSE(views.BusyPointer());
    EXPECT_EQ(views.Rows().Count(), 2500);
}

TEST_F(ViewsTest, EventsHandledDuringARebuildLeaveNoDuplicateOrStaleRows) {
    std::vector<HeaderEntry> entries;
    for (int i = 0; i < 3000; ++i)
        entries.push_back(
            Posting("p" + std::to_string(i), i % 2 ? "alt.odd" : "alt.even", 0, {20000}));
    Load(entries);
    // A burst arrives while the rebuild yields: it lists postings the rebuild reaches later.
    pump.hook = [&] {
        if (pump.count != 2) return;
        AddArticle("alt.even", "p2998", "new-part");
        views.UpdateHeaderList();
    };
    views.SelectFilter(GroupFilter::kAllNewsgroups);
    EXPECT_EQ(views.Rows().Count(), 3000);
    for (int i = 0; i < views.Rows().Count(); ++i)
        EXPECT_EQ(views.Rows().PositionOfTag(views.Rows().At(i).tag), i);

    // The user picks another group while the rebuild yields: the newer choice wins.
    pump.count = 0;
    pump.hook = [&] {
        if (pump.count == 2) views.SelectFilter("alt.odd");
    };
    views.SelectFilter(GroupFilter::kAllNewsgroups);
    // Two pauses each: the interrupted rebuild stops rather than finish its walk.
    EXPECT_EQ(pump.count, 4);
    EXPECT_EQ(views.Rows().Count(), 1500);
    for (const ListRow& row : views.Rows().Rows()) EXPECT_EQ(row.columns[4], "alt.odd");
    EXPECT_FALSE(views.BusyPointer());
}

}  // namespace
}  // namespace quillfin::headers
