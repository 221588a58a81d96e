#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "common/clock.h"
#include "headers/batch_queue.h"
#include "headers/header_views.h"
#include "headers/parts_list.h"
#include "headers/posting_text.h"
#include "storage/activity_log.h"
#include "support/fakes.h"

namespace quillfin::headers {
namespace {

using Texts = std::vector<std::string>;
using Tags = std::vector<std::int32_t>;

using testing::HookPump;

struct RecordingPreview : Mp3Previewer {
    void PreviewMp3(std::int32_t index) override { previewed.push_back(index); }
    Tags previewed;
};

const char* const kFrom = "\"Name\" <addr@example.net>";

// The first part is in the posting's group, the others in "alt.other".
HeaderEntry Posting(const std::string& subject, const std::string& group, std::int32_t total,
                    const std::vector<std::int32_t>& part_bytes) {
    HeaderEntry entry;
    entry.Subject = subject;
    entry.Group = group;
    entry.PartTotal = total;
    entry.From = kFrom;
    entry.Date = "12-06-2026";
    for (std::size_t i = 0; i < part_bytes.size(); ++i) {
        PartRef part;
        part.ArticleNumber = std::to_string(500 + i);
        part.Subject = subject + " part " + std::to_string(i + 1);
        part.Bytes = part_bytes[i];
        part.Group = i == 0 ? group : "alt.other";
        entry.Parts.push_back(part);
        entry.Size += part_bytes[i];
    }
    return entry;
}

void Select(RowList& rows, const std::vector<int>& positions) {
    rows.ClearSelection();
    for (int p : positions) rows.Select(p);
}

// The header list, the batch list and the parts list over one table.
class ListsTest : public ::testing::Test {
  protected:
    // One column of the header list, top to bottom; 0 is the subject.
    Texts Listed(int column = 0) const {
        Texts out;
        for (const ListRow& row : views.Rows().Rows()) out.push_back(row.ColumnText(column));
        return out;
    }
    Tags Queued() const {
        Tags out;
        for (const ListRow& row : batch.Rows().Rows()) out.push_back(row.tag);
        return out;
    }
    void AddArticle(const std::string& group, const std::string& subject, const std::string& number,
                    const std::string& bytes = "1000") {
        table.CurrentGroup = group;
        table.add_articleheader(kFrom, subject, number, "10", bytes, "12-06-2026", "<id>");
    }
    // Four postings listed, none queued; the first holds 7 of 10 parts.
    void ListFour() {
        table.Replace({Posting("a.rar [xx/0000010]", "g", 10, std::vector<std::int32_t>(7, 56789)),
                       Posting("b.jpg", "g", 0, {1500000}), Posting("c.jpg", "g", 0, {2600000}),
                       Posting("d.mp3 [xx/0000001]", "g", 1, {10000})});
        views.SelectFilter(GroupFilter::kAllNewsgroups);
    }

    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log{settings, clock, "/nonexistent-dir"};
    HeaderTable table{log};
    std::vector<storage::GroupEntry> groups;
    HookPump pump;
    HeaderViews views{table, settings, groups, pump};
    common::MainViewState view;
    testing::ScriptedPrompts prompts;
    BatchQueue batch{table, view, log, prompts};
    PartsList parts{table};
};

TEST(HeaderViews, ClassifiesByPartsTotalSizeAndEnding) {
    struct Case {
        const char* subject;
        std::int32_t total;
        std::size_t parts;
        std::int32_t part_bytes;
        int expected;
    } cases[] = {
        {"a", 10, 10, 5000, 2},       {"a", 10, 11, 5000, 2},       {"a", 10, 9, 5000, 1},
        {"a", 10, 12, 5000, 3},       {"info.nfo", 0, 1, 5000, 2},  {"INFO.Diz", 0, 1, 5000, 2},
        {"pack.zip", 0, 1, 9999, 2},  {"notes.txt", 0, 1, 5000, 6}, {"notes.txt", 0, 1, 10000, 2},
        {"notes.txt", 0, 2, 5000, 3}, {"ab", 0, 1, 10, 6},
    };
    for (const Case& c : cases) {
        HeaderEntry entry = Posting(c.subject, "g", c.total, std::vector(c.parts, c.part_bytes));
        EXPECT_EQ(int(HeaderViews::ClassOf(entry)), c.expected) << c.subject << " " << c.parts;
    }
}

TEST_F(ListsTest, FiltersByGroupAndCompletenessToggles) {
    table.Replace({Posting("a [xx/0000002]", "alt.one", 2, {400000, 834567}),  // complete
                   Posting("b [xx/0000005]", "alt.one", 5, {20000}),           // incomplete
                   Posting("c.txt", "alt.two", 0, {100}),                      // text
                   Posting("d", "alt.two", 0, {100, 100}),                     // unknown
                   Posting("e.txt", "alt.two", 0, {100}), Posting("expired", "g", 0, {100})});
    table.Entry(5).Deleted = true;
    table.Entry(6).Deleted = table.Entry(6).Expired = true;
    views.SelectFilter(GroupFilter::kAllNewsgroups);
    EXPECT_EQ(Listed(), (Texts{"a", "b", "c.txt", "d"}));
    EXPECT_EQ(Listed(1), (Texts{"002/002", "001/005", "", "002/???"}));
    EXPECT_EQ(views.Rows().At(0).columns,
              (ListRow::Columns{"002/002", "01.235", kFrom, "12-06-2026", "alt.one"}));
    // Holds the marker text but is shorter than the ending it would cut.
    EXPECT_EQ(ListedSubject("[xx/000]"), "");
    views.SelectFilter("alt.two");
    EXPECT_EQ(Listed(), (Texts{"c.txt", "d"}));
    views.SelectFilter(GroupFilter::kNoGroup);
    EXPECT_TRUE(Listed().empty());

    views.Filter().SetText(GroupFilter::kAllNewsgroups);
    views.RebuildHeaderList(true);  // Restore: deleted postings come back, expired ones do not
    EXPECT_EQ(Listed(), (Texts{"a", "b", "c.txt", "d", "e.txt"}));
    EXPECT_FALSE(table.Entry(5).Deleted);
    EXPECT_TRUE(table.Entry(6).Deleted);
    views.ToolbarClick(Completeness::kText, false);
    EXPECT_EQ(Listed(), (Texts{"a", "b", "d"}));
    views.ToolbarClick(Completeness::kComplete, false);
    views.ToolbarClick(Completeness::kUnknown, false);
    EXPECT_EQ(Listed(), (Texts{"b"}));
    views.ToolbarClick(Completeness::kIncomplete, false);
    views.ToolbarClick(Completeness::kText, true);
    EXPECT_EQ(Listed(), (Texts{"c.txt", "e.txt"}));
}

TEST_F(ListsTest, FillGroupFilterSwitchesTheListOffAboveAThousandParts) {
    for (const char* name : {"alt.one", "alt.off", "alt.two"}) {
        groups.emplace_back().name = name;
        groups.back().disabled = groups.back().name == "alt.off";
    }
    table.Replace({Posting("a", "alt.one", 0, {20000})});
    for (std::int32_t read : {1000, 1001}) {
        table.HeadersRead = read;
        views.FillGroupFilter();
        EXPECT_EQ(views.Filter().Items(),
                  (Texts{"All Newsgroups", "no group (Display Disable)", "alt.one", "alt.two"}));
        EXPECT_EQ(views.Filter().Text(),
                  read == 1000 ? "All Newsgroups" : "no group (Display Disable)");
        EXPECT_EQ(views.Rows().Count(), read == 1000 ? 1 : 0);
    }
}

TEST_F(ListsTest, UpdateRefreshesRowsInPlaceAndShowsDeletedPostingsThatGrew) {
    AddArticle("alt.pics", "pic.jpg (1/10)", "1");
    AddArticle("alt.pics", "gone.jpg (1/2)", "2");
    AddArticle("alt.text", "elsewhere (1/2)", "3");
    views.Filter().SetText("alt.pics");
    views.UpdateHeaderList();
    ASSERT_EQ(Listed(), (Texts{"pic.jpg", "gone.jpg"}));
    EXPECT_FALSE(table.Entry(3).Unshown);  // filtered out: only loses its mark
    table.Entry(2).Deleted = true;
    views.RebuildHeaderList(false);
    ASSERT_EQ(Listed(), (Texts{"pic.jpg"}));

    views.Rows().Select(0);
    AddArticle("alt.pics", "pic.jpg (2/10)", "4");
    AddArticle("alt.pics", "gone.jpg (2/2)", "5");
    AddArticle("alt.pics", "new.jpg (1/3)", "6");
    views.UpdateHeaderList();
    EXPECT_EQ(Listed(), (Texts{"pic.jpg", "gone.jpg", "new.jpg"}));
    EXPECT_EQ(views.Rows().At(0).columns[0], "002/010");
    EXPECT_TRUE(views.Rows().At(0).selected);
    // The deleted posting stays marked and leaves at the next rebuild.
    EXPECT_TRUE(table.Entry(2).Deleted);
    views.RebuildHeaderList(false);
    EXPECT_EQ(Listed(), (Texts{"pic.jpg", "new.jpg"}));
}

TEST_F(ListsTest, RebuildYieldsEveryThousandRowsAndEventsMeanwhileLeaveNoStaleRows) {
    HeaderTable::EntryList entries;
    for (int i = 0; i < 3000; ++i)
        entries.push_back(Posting("p" + std::to_string(i), i % 2 ? "odd" : "even", 0, {20000}));
    table.Replace(entries);
    int busy = 0;
    // A burst during a pause lists a posting the rebuild reaches later.
    pump.hook = [&] {
        busy += views.BusyPointer();
        if (pump.count == 2) {
            AddArticle("even", "p2998", "new-part");
            views.UpdateHeaderList();
        }
    };
    views.SelectFilter(GroupFilter::kAllNewsgroups);
    EXPECT_EQ(pump.count, 4);  // at the start, then after every 1000 rows
    EXPECT_EQ(busy, 4);
    ASSERT_EQ(views.Rows().Count(), 3000);
    for (int i = 0; i < 3000; ++i) EXPECT_EQ(views.Rows().PositionOfTag(views.Rows().At(i).tag), i);

    // The user picks another group during a pause: the newer choice wins and the older stops.
    pump.count = 0;
    pump.hook = [&] {
        if (pump.count == 2) views.SelectFilter("odd");
    };
    views.SelectFilter(GroupFilter::kAllNewsgroups);
    EXPECT_EQ(pump.count, 4);
    EXPECT_EQ(Listed(5), Texts(1500, "odd"));  // the Newsgroup column
    EXPECT_FALSE(views.BusyPointer());
}

TEST_F(ListsTest, BatchTotalFollowsAddsAndRemoves) {
    ListFour();
    struct Step {
        bool add;
        std::int32_t index;
        const char* label;
        std::size_t rows;
    } steps[] = {
        {true, 2, "Total batch size: 1.5mb", 1},  {true, 3, "Total batch size: 4.1mb", 2},
        {true, 3, "Total batch size: 4.1mb", 2},  {false, 2, "Total batch size: 2.6mb", 1},
        {false, 2, "Total batch size: 2.6mb", 1}, {false, 3, "Total batch size: 0.0mb", 0},
    };
    for (const Step& s : steps) {
        s.add ? batch.AddToBatch(s.index) : batch.RemoveFromBatch(s.index);
        EXPECT_EQ(view.lblTotalBatchSize, s.label);
        EXPECT_EQ(table.Entry(s.index).InBatch, s.add);
        EXPECT_EQ(Queued().size(), s.rows);
    }
    EXPECT_EQ(batch.BatchSizeKB(), 0);

    // A posting that grows while queued takes off what it added.
    AddArticle("g", "big.rar (1/3)", "1", "400000");
    batch.AddToBatch(5);
    AddArticle("g", "big.rar (2/3)", "2", "400000");
    batch.RemoveFromBatch(5);
    EXPECT_EQ(batch.BatchSizeKB(), 0);
}

TEST_F(ListsTest, BatchPartsColumnShowsTheTotalWhenAddedAndThePartsHeldAtStartUp) {
    ListFour();
    batch.AddToBatch(3);
    table.HeadersChanged = false;
    batch.AddToBatch(1);
    EXPECT_TRUE(table.HeadersChanged);
    const ListRow& row = batch.Rows().At(1);
    EXPECT_EQ(row.text + " " + row.columns[0] + " " + row.columns[1], "a.rar 010 00.398");
    // Tags of rows from a table replaced meanwhile change nothing.
    for (std::int32_t stale : {0, 99}) {
        batch.AddToBatch(stale);
        batch.RemoveFromBatch(stale);
    }
    EXPECT_EQ(Queued(), (Tags{3, 1}));

    batch.BuildBatchList();  // at start-up: table order, parts held
    EXPECT_EQ(Queued(), (Tags{1, 3}));
    EXPECT_EQ(batch.Rows().At(0).columns[0], "007");
}

TEST_F(ListsTest, SortedRowsAreQueuedInListOrderAndRemovedBySelection) {
    ListFour();
    views.ClickColumn(2);  // MB
    EXPECT_EQ(Listed(), (Texts{"d.mp3", "a.rar", "b.jpg", "c.jpg"}));
    views.ClickColumn(0);
    views.ClickColumn(0);
    views.RebuildHeaderList(false);  // keeps the order the user chose
    EXPECT_EQ(Listed(), (Texts{"d.mp3", "c.jpg", "b.jpg", "a.rar"}));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(views.Rows().PositionOfTag(views.Rows().At(i).tag), i);
    Select(views.Rows(), {0, 2});
    batch.AddSelected(views.Rows());
    Select(views.Rows(), {0, 1, 2});  // d is queued already
    batch.AddSelected(views.Rows());
    EXPECT_EQ(Queued(), (Tags{4, 2, 3}));
    EXPECT_EQ(batch.BatchSizeKB(), 10 + 1500 + 2600);

    table.HeadersChanged = false;
    batch.RemoveSelected();  // nothing selected: nothing changes
    EXPECT_EQ(Queued().size(), 3u);
    EXPECT_FALSE(table.HeadersChanged);
    Select(batch.Rows(), {0, 2});
    batch.RemoveSelected();
    EXPECT_EQ(Queued(), (Tags{2}));
    EXPECT_EQ(batch.BatchSizeKB(), 1500);
    EXPECT_FALSE(table.Entry(4).InBatch || table.Entry(3).InBatch || !table.HeadersChanged);
    batch.RemoveFromBatch(2);  // the tag index still finds rows after the removal
    EXPECT_TRUE(Queued().empty());

    // Rows a scan appends: one that falls in order keeps the list sorted, one that does not
    // ends that (the window drops its arrow) until the next sort.
    EXPECT_TRUE(views.Rows().Sorted());
    AddArticle("g", "0.txt", "90");
    views.UpdateHeaderList();
    EXPECT_TRUE(views.Rows().Sorted());
    AddArticle("g", "e.txt", "91");
    views.UpdateHeaderList();
    EXPECT_EQ(Listed().back(), "e.txt");
    EXPECT_FALSE(views.Rows().Sorted());
    views.RebuildHeaderList(false);
    EXPECT_TRUE(views.Rows().Sorted());
    EXPECT_EQ(Listed().front(), "e.txt");
}

TEST_F(ListsTest, MoveUpAndDownMoveOnlyTheFirstSelectedRow) {
    ListFour();
    for (std::int32_t i = 1; i <= 4; ++i) batch.AddToBatch(i);
    table.HeadersChanged = false;
    struct Case {
        std::vector<int> selected;
        bool up;
        Tags order;
        int scrolled;  // where the moved row went; -1 while nothing moved
    } cases[] = {
        {{0}, true, {1, 2, 3, 4}, -1},    {{3}, false, {1, 2, 3, 4}, -1},
        {{}, true, {1, 2, 3, 4}, -1},     {{2}, true, {1, 3, 2, 4}, 1},
        {{1, 3}, false, {1, 2, 3, 4}, 2}, {{0, 2}, false, {2, 1, 3, 4}, 1},
    };
    for (const Case& c : cases) {
        Select(batch.Rows(), c.selected);
        c.up ? batch.MoveUp() : batch.MoveDown();
        EXPECT_EQ(Queued(), c.order);
        EXPECT_EQ(batch.Rows().ScrollTarget(), c.scrolled);
        EXPECT_TRUE(c.scrolled < 0 || batch.Rows().At(c.scrolled).selected);
    }
    EXPECT_FALSE(table.HeadersChanged);
    batch.RemoveFromBatch(1);  // tags still lead to the right rows
    EXPECT_EQ(Queued(), (Tags{2, 3, 4}));
}

TEST_F(ListsTest, PartsListRowsAndDoubleClickRouting) {
    ListFour();
    RecordingPreview preview;
    parts.OpenHeaderRow(views.Rows(), &preview);  // nothing selected
    table.Entry(2).Subject = "song.Mp3";
    Select(views.Rows(), {1, 2});  // the first selected row decides
    parts.OpenHeaderRow(views.Rows(), &preview);
    Select(views.Rows(), {3});
    parts.OpenHeaderRow(views.Rows(), &preview);
    EXPECT_EQ(preview.previewed, (Tags{2, 4}));
    EXPECT_FALSE(parts.Visible());

    Select(views.Rows(), {0});
    parts.OpenHeaderRow(views.Rows(), &preview);
    ASSERT_EQ(parts.Rows().size(), 7u);
    const PartRow& r = parts.Rows()[1];
    EXPECT_EQ(std::make_tuple(r.articleNumber, r.sizeKB, r.subject, r.from, r.group, r.icon),
              std::make_tuple("501", "056.8", "a.rar [xx/0000010] part 2", "addr@example.net",
                              "alt.other", 4));
    EXPECT_EQ(ReducedFrom("Name <a@b> (c)"), "a@b");
    EXPECT_EQ(ReducedFrom("addr@example.net (Real Name)"), "addr@example.net ");
    EXPECT_EQ(ReducedFrom("broken <addr@example.net"), "addr@example.net");
}

}  // namespace
}  // namespace quillfin::headers
