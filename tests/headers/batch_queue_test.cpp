#include "headers/batch_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/clock.h"
#include "headers/header_views.h"
#include "headers/parts_list.h"
#include "headers/posting_text.h"
#include "storage/activity_log.h"
#include "support/fakes.h"

namespace quillfin::headers {
namespace {

HeaderEntry Posting(const std::string& subject, std::int32_t total,
                    std::vector<std::int32_t> part_bytes, const std::string& from = "poster") {
    HeaderEntry entry;
    entry.Subject = subject;
    entry.Group = "alt.test";
    entry.PartTotal = total;
    entry.From = from;
    for (std::size_t i = 0; i < part_bytes.size(); ++i) {
        PartRef part;
        part.ArticleNumber = std::to_string(500 + i);
        part.Subject = subject + " part " + std::to_string(i + 1);
        part.Bytes = part_bytes[i];
        part.Group = i == 0 ? "alt.test" : "alt.other";
        entry.Parts.push_back(part);
        entry.Size += part_bytes[i];
    }
    return entry;
}

struct RecordingPreview : Mp3Previewer {
    void PreviewMp3(std::int32_t index) override { previewed.push_back(index); }
    std::vector<std::int32_t> previewed;
};

class BatchQueueTest : public ::testing::Test {
  protected:
    BatchQueueTest() { settings.chkEnableLogging = 1; }

    std::vector<std::int32_t> Tags() const {
        std::vector<std::int32_t> out;
        for (const ListRow& row : batch.Rows().Rows()) out.push_back(row.tag);
        return out;
    }
    void SelectHeaderRows(std::vector<int> positions) {
        views.Rows().ClearSelection();
        for (int p : positions) views.Rows().Select(p);
    }
    void SelectBatchRows(std::vector<int> positions) {
        batch.Rows().ClearSelection();
        for (int p : positions) batch.Rows().Select(p);
    }
    // Four postings listed in the header list, none queued.
    void ListFour() {
        table.Replace({Posting("a.rar [xx/0000010]", 10, std::vector<std::int32_t>(7, 1000)),
                       Posting("b.jpg", 0, {1500000}), Posting("c.jpg", 0, {2600000}),
                       Posting("d.jpg", 0, {10000})});
        views.SelectFilter(GroupFilter::kAllNewsgroups);
    }

    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log{settings, clock, "/nonexistent-dir"};
    HeaderTable table{log};
    common::MainViewState view;
    testing::ScriptedPrompts prompts;
    std::vector<storage::GroupEntry> groups;
    common::NoEventPump pump;
    HeaderViews views{table, settings, groups, pump};
    BatchQueue batch{table, view, log, prompts};
};

TEST_F(BatchQueueTest, RunningTotalFollowsAddsAndRemoves) {
    ListFour();
    struct Step {
        bool add;
        std::int32_t index;
        const char* label;
    } steps[] = {
        {true, 2, "Total batch size: 1.5mb"},  {true, 3, "Total batch size: 4.1mb"},
        {false, 2, "Total batch size: 2.6mb"}, {false, 2, "Total batch size: 2.6mb"},
        {false, 3, "Total batch size: 0.0mb"},
    };
    for (const Step& s : steps) {
        if (s.add)
            batch.AddToBatch(s.index);
        else
            batch.RemoveFromBatch(s.index);
        EXPECT_EQ(view.lblTotalBatchSize, s.label);
        EXPECT_EQ(log.StatusLine(), s.label);
        EXPECT_EQ(table.Entry(s.index).InBatch, s.add);
    }
    EXPECT_EQ(batch.BatchSizeKB(), 0);
    EXPECT_TRUE(Tags().empty());
}

TEST_F(BatchQueueTest, AddToBatchRowAndFlags) {
    ListFour();
    table.HeadersChanged = false;
    batch.AddToBatch(1);
    EXPECT_TRUE(table.HeadersChanged);
    const ListRow& row = batch.Rows().At(0);
    EXPECT_EQ(row.text, "a.rar");
    EXPECT_EQ(row.columns[0], "010");  // the announced total, not the 7 parts held
    EXPECT_EQ(row.columns[1], "00.007");
    EXPECT_EQ(row.icon, 5);
    EXPECT_EQ(row.tag, 1);
    // Out-of-range tags (rows of a table replaced meanwhile) change nothing.
    batch.AddToBatch(0);
    batch.AddToBatch(99);
    batch.RemoveFromBatch(99);
    EXPECT_EQ(Tags(), (std::vector<std::int32_t>{1}));
}

TEST_F(BatchQueueTest, AddSelectedQueuesInListOrderAndSkipsQueuedPostings) {
    ListFour();
    views.ClickColumn(0);
    views.ClickColumn(0);  // d, c, b, a
    SelectHeaderRows({0, 2});
    batch.AddSelected(views.Rows());
    EXPECT_EQ(Tags(), (std::vector<std::int32_t>{4, 2}));
    std::int64_t total = batch.BatchSizeKB();
    SelectHeaderRows({0, 1, 2});
    batch.AddSelected(views.Rows());
    EXPECT_EQ(Tags(), (std::vector<std::int32_t>{4, 2, 3}));
    EXPECT_EQ(batch.BatchSizeKB(), total + 2600);
    SelectHeaderRows({});
    batch.AddSelected(views.Rows());
    EXPECT_EQ(Tags().size(), 3u);
}

TEST_F(BatchQueueTest, RemoveNeedsASelectionAndRemovesEverySelectedRow) {
    ListFour();
    for (std::int32_t i = 1; i <= 4; ++i) batch.AddToBatch(i);
    const std::int64_t full = batch.BatchSizeKB();
    table.HeadersChanged = false;
    batch.RemoveSelected();
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Nothing selected.");
    EXPECT_EQ(prompts.shown[0].title, "Quillfin");
    EXPECT_EQ(Tags().size(), 4u);
    EXPECT_EQ(batch.BatchSizeKB(), full);
    EXPECT_FALSE(table.HeadersChanged);

    SelectBatchRows({1, 3});
    batch.RemoveSelected();
    EXPECT_EQ(Tags(), (std::vector<std::int32_t>{1, 3}));
    EXPECT_EQ(batch.BatchSizeKB(), 7 + 2600);
    EXPECT_FALSE(table.Entry(2).InBatch);
    EXPECT_FALSE(table.Entry(4).InBatch);
    EXPECT_TRUE(table.HeadersChanged);
    // The index still finds rows after the removal.
    batch.RemoveFromBatch(3);
    EXPECT_EQ(Tags(), (std::vector<std::int32_t>{1}));
}

TEST_F(BatchQueueTest, MoveUpAndDownMoveOnlyTheFirstSelectedRow) {
    ListFour();
    for (std::int32_t i = 1; i <= 4; ++i) batch.AddToBatch(i);
    table.HeadersChanged = false;
    struct Case {
        std::vector<int> selected;
        bool up;
        std::vector<std::int32_t> order;
        int selected_after;  // -1: the selection did not move
    } cases[] = {
        {{0}, true, {1, 2, 3, 4}, -1},    {{3}, false, {1, 2, 3, 4}, -1},
        {{}, true, {1, 2, 3, 4}, -1},     {{2}, true, {1, 3, 2, 4}, 1},
        {{1, 3}, false, {1, 2, 3, 4}, 2}, {{0, 2}, false, {2, 1, 3, 4}, 1},
    };
    for (const Case& c : cases) {
        SelectBatchRows(c.selected);
        if (c.up)
            batch.MoveUp();
        else
            batch.MoveDown();
        EXPECT_EQ(Tags(), c.order);
        if (c.selected_after >= 0) {
            EXPECT_TRUE(batch.Rows().At(c.selected_after).selected);
            EXPECT_EQ(batch.Rows().ScrollTarget(), c.selected_after);
        }
    }
    EXPECT_FALSE(table.HeadersChanged);
    // Tags still lead to the right rows after the moves.
    batch.RemoveFromBatch(1);
    EXPECT_EQ(Tags(), (std::vector<std::int32_t>{2, 3, 4}));
}

TEST_F(BatchQueueTest, StartUpBatchShowsPartsHeldAndKeepsTableOrder) {
    std::vector<HeaderEntry> entries = {
        Posting("x [xx/0000010]", 10, std::vector<std::int32_t>(7, 1000)), Posting("y", 0, {1000}),
        Posting("z", 0, {2000})};
    entries[0].InBatch = entries[2].InBatch = true;
    table.Replace(entries);
    batch.BuildBatchList();
    EXPECT_EQ(Tags(), (std::vector<std::int32_t>{1, 3}));
    EXPECT_EQ(batch.Rows().At(0).columns[0], "007");
}

TEST_F(BatchQueueTest, PostingThatGrowsWhileQueuedTakesOffWhatItAdded) {
    table.CurrentGroup = "alt.test";
    table.add_articleheader("p", "big.rar (1/3)", "1", "10", "400000", "12-06-2026", "<a>");
    batch.AddToBatch(1);
    table.add_articleheader("p", "big.rar (2/3)", "2", "10", "400000", "12-06-2026", "<b>");
    batch.RemoveFromBatch(1);
    EXPECT_EQ(batch.BatchSizeKB(), 0);
    EXPECT_EQ(view.lblTotalBatchSize, "Total batch size: 0.0mb");
}

TEST_F(BatchQueueTest, PartsListShowsEachPartWithReducedPoster) {
    table.Replace({Posting("a [xx/0000002]", 2, {1234, 56789}, "\"Name\" <addr@example.net>")});
    PartsList parts(table);
    parts.ViewParts(1);
    EXPECT_TRUE(parts.Visible());
    ASSERT_EQ(parts.Rows().size(), 2u);
    const PartRow& first = parts.Rows()[0];
    EXPECT_EQ(first.articleNumber, "500");
    EXPECT_EQ(first.sizeKB, "001.2");
    EXPECT_EQ(first.subject, "a [xx/0000002] part 1");
    EXPECT_EQ(first.from, "addr@example.net");
    EXPECT_EQ(first.group, "alt.test");
    EXPECT_EQ(first.icon, 4);
    EXPECT_EQ(parts.Rows()[1].sizeKB, "056.8");
    EXPECT_EQ(parts.Rows()[1].group, "alt.other");
}

TEST(ReducedFrom, TakesTheAddressOrTheTextBeforeTheComment) {
    struct Case {
        const char* from;
        const char* reduced;
    } cases[] = {
        {"\"Name\" <addr@example.net>", "addr@example.net"},
        {"Name <a@b> (c)", "a@b"},
        {"addr@example.net (Real Name)", "addr@example.net "},
        {"plain@example.net", "plain@example.net"},
        {"broken <addr@example.net", "addr@example.net"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(ReducedFrom(c.from), c.reduced) << c.from;
}

TEST_F(BatchQueueTest, ViewPartsAndDoubleClickRouting) {
    table.Replace({Posting("song.mp3 [xx/0000003]", 3, {1000}), Posting("song.Mp3", 0, {1000}),
                   Posting("album.zip [xx/0000003]", 3, {1000})});
    views.SelectFilter(GroupFilter::kAllNewsgroups);
    PartsList parts(table);
    RecordingPreview preview;

    views.Rows().ClearSelection();
    parts.ViewFirstSelected(views.Rows());
    parts.OpenHeaderRow(views.Rows(), &preview);
    EXPECT_FALSE(parts.Visible());
    EXPECT_TRUE(preview.previewed.empty());

    for (int row : {0, 1}) {
        SelectHeaderRows({row});
        parts.OpenHeaderRow(views.Rows(), &preview);
    }
    EXPECT_EQ(preview.previewed, (std::vector<std::int32_t>{1, 2}));
    EXPECT_FALSE(parts.Visible());

    SelectHeaderRows({2, 0});
    parts.OpenHeaderRow(views.Rows(), &preview);
    EXPECT_EQ(preview.previewed.size(), 3u);  // the first selected row is the MP3
    SelectHeaderRows({2});
    parts.OpenHeaderRow(views.Rows(), &preview);
    EXPECT_TRUE(parts.Visible());
    EXPECT_EQ(parts.Rows()[0].subject, "album.zip [xx/0000003] part 1");

    batch.AddToBatch(2);
    batch.Rows().Select(0);
    parts.ViewFirstSelected(batch.Rows());
    EXPECT_EQ(parts.Rows()[0].subject, "song.Mp3 part 1");
}

}  // namespace
}  // namespace quillfin::headers
