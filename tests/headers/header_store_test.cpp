#include "headers/header_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "headers/header_file_reader.h"
#include "headers/overview_parser.h"
#include "storage/program_files.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfin::headers {
namespace {

using Texts = std::vector<std::string>;

using testing::HookPump;

// Everything a load or save touches, over a fresh program folder.
struct Harness {
    Harness() { settings.chkEnableLogging = 1; }

    Texts Logged() const { return testing::Untimed(log); }
    std::string File() const { return dir.Read("npending.dat"); }
    void Load(const std::string& content) {
        dir.Write("npending.dat", content);
        store.LoadHeaders();
    }

    testing::TempDir dir;
    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log{settings, clock, dir.Path()};
    HeaderTable table{log};
    common::MainViewState view;
    testing::ScriptedPrompts prompts;
    HookPump pump;
    BatchQueue batch{table, view, log, prompts};
    HeaderStore store{table, batch, view, log, prompts, pump, clock, dir.Path()};
};

// Lines given with '|' between them.
std::string Lines(const std::string& bars, const char* eol = "\r\n") {
    std::string out;
    for (char c : bars) out += c == '|' ? std::string_view(eol) : std::string_view(&c, 1);
    return out;
}

// A header file announcing count postings.
std::string Saved(const std::string& count, const std::string& records) {
    return Lines("QFNHF06|" + count + "|" + records) + "\r\n";
}

std::string Swap(std::string lines, const std::string& from, const std::string& to) {
    return lines.replace(lines.find(from), from.size(), to);
}

// Without the last drop lines.
std::string Cut(std::string lines, int drop) {
    while (drop-- > 0) lines.erase(lines.rfind('|'));
    return lines;
}

HeaderEntry Posting(const std::string& subject, const std::string& group, int parts,
                    std::int32_t bytes) {
    HeaderEntry entry;
    entry.Subject = subject;
    entry.Group = group;
    entry.Date = "12-06-2026";
    entry.From = "poster@example.net (Poster)";
    entry.PartTotal = parts;
    for (int p = 1; p <= parts; ++p) {
        PartRef part;
        part.ArticleNumber = std::to_string(1000 + p);
        part.Subject = subject + " (" + std::to_string(p) + "/" + std::to_string(parts) + ")";
        part.Bytes = bytes;
        part.Group = group;
        entry.Parts.push_back(part);
        entry.Size += bytes;
    }
    return entry;
}

TEST(HeaderStore, LoadThenSaveReproducesTheFileByteForByte) {
    Harness h;
    std::string original;
    ASSERT_TRUE(storage::ReadWholeFile(QUILLFIN_TEST_DATA "/npending.dat", &original));
    h.Load(original);
    EXPECT_TRUE(h.prompts.shown.empty());
    ASSERT_EQ(h.table.HeaderCount(), 3);
    EXPECT_EQ(h.table.HeadersRead, 6);
    EXPECT_FALSE(h.table.HeadersChanged);
    EXPECT_EQ(h.table.Entry(1).Part(1).Group, "alt.binaries.test");  // empty group line
    EXPECT_EQ(h.table.Entry(1).Part(3).Group, "alt.binaries.other");
    EXPECT_EQ(h.table.Entry(1).Size, 749000);
    EXPECT_EQ(h.table.Entry(3).PartTotal, -1);
    // The batch comes back from InBatch, in table order, showing the parts held.
    ASSERT_EQ(h.batch.Rows().Count(), 2);
    EXPECT_EQ(h.batch.Rows().At(0).columns[0], "003");
    EXPECT_EQ(h.batch.Rows().At(1).tag, 3);
    EXPECT_EQ(h.view.lblTotalBatchSize, "Total batch size: 0.8mb");

    ASSERT_TRUE(h.store.SaveHeaders());
    EXPECT_EQ(h.File(), original);
}

TEST(HeaderStore, SaveWritesQueuedAndUndeletedPostingsWithoutLineBreaksInTexts) {
    Harness h;
    HeaderEntry split = Posting("bad\nsub\rject", "alt.a", 1, 20);
    split.Parts[0].Group = "alt.b";
    split.Parts[0].Subject = "line\r\nbreak";
    HeaderEntry dropped = Posting("dropped", "alt.a", 1, 30);
    dropped.Deleted = true;
    HeaderEntry queued = Posting("queued", "alt.a", 1, 40);
    queued.Deleted = queued.InBatch = true;
    queued.PartTotal = 0;
    h.table.Replace({split, dropped, queued});
    h.table.HeadersChanged = true;

    ASSERT_TRUE(h.store.SaveHeaders());
    EXPECT_FALSE(h.table.HeadersChanged);
    EXPECT_EQ(h.File(), Saved(" 2",
                              "bad sub ject|alt.a|12-06-2026|poster@example.net (Poster)|False| 1"
                              "| 1| 20|1001|alt.b|line  break|"
                              "queued|alt.a|12-06-2026|poster@example.net (Poster)|True| 0"
                              "| 1| 40|1001||queued (1/1)"));
    Harness next;
    next.Load(h.File());
    EXPECT_TRUE(next.prompts.shown.empty());
    ASSERT_EQ(next.table.HeaderCount(), 2);
    EXPECT_TRUE(next.table.Entry(2).InBatch);

    // Nothing left to write: an empty table is saved as no file.
    next.table.Entry(1).Deleted = next.table.Entry(2).Deleted = true;
    next.table.Entry(2).InBatch = false;
    EXPECT_TRUE(next.store.SaveHeaders());
    EXPECT_FALSE(next.dir.Exists("npending.dat"));
    EXPECT_TRUE(next.Logged().empty());
    EXPECT_TRUE(next.view.cmdSaveHeadersEnabled);
}

TEST(HeaderStore, LogsPartsSavedAndTheRate) {
    struct Case {
        int milliseconds;
        const char* line;
    } cases[] = {
        {1999, "Saved 1234 headers in about 1 second"},
        {2000, "Saved 1234 headers in 2 seconds (617 headers per second)"},
        {5000, "Saved 1234 headers in 5 seconds (246 headers per second)"},
    };
    for (const Case& c : cases) {
        Harness h;
        h.table.Replace({Posting("a", "g", 617, 100), Posting("b", "g", 617, 100)});
        h.pump.hook = [&] {
            if (h.pump.count == 1) h.clock.Advance(std::chrono::milliseconds(c.milliseconds));
        };
        ASSERT_TRUE(h.store.SaveHeaders());
        EXPECT_EQ(h.Logged(), Texts{c.line});
    }
}

TEST(HeaderStore, SaveCommandAsksWhenNothingChangedAndSavesTheGroupListAfterTheHeaders) {
    for (bool yes : {false, true}) {
        Harness h;
        h.table.Replace({Posting("a", "g", 1, 100)});
        h.prompts.answers = {yes};
        bool groups_after = false;
        h.store.SaveHeadersCommand([&] { groups_after = h.dir.Exists("npending.dat"); });
        EXPECT_EQ(groups_after, yes);
        EXPECT_EQ(h.dir.Exists("npending.dat"), yes);
        ASSERT_EQ(h.prompts.shown.size(), 1u);
        EXPECT_EQ(h.prompts.shown[0].text, "Headers not changed since last save.  Save anyway?");
        EXPECT_EQ(h.prompts.shown[0].title, "Save Headers");
        h.table.HeadersChanged = true;  // no question then
        h.store.SaveHeadersCommand({});
        EXPECT_EQ(h.prompts.shown.size(), 1u);
    }
}

TEST(HeaderStore, ProgressMovesAboutNinetyTimesWhateverTheSize) {
    struct Case {
        int postings;
        int low;
        int high;
    } cases[] = {{10, 10, 10}, {1000, 88, 92}, {15000, 86, 92}};
    for (const Case& c : cases) {
        Harness h;
        h.table.Replace(HeaderTable::EntryList(std::size_t(c.postings), Posting("p", "g", 1, 10)));
        bool shown = true;
        int last = 0;
        h.pump.hook = [&] {
            const WaitWindowState& wait = h.store.WaitWindow();
            shown = shown && wait.visible && wait.lblNFO == "Saving Headers" &&
                    wait.progress.maximum == c.postings && wait.progress.value > last &&
                    !h.view.cmdSaveHeadersEnabled;
            last = wait.progress.value;
        };
        ASSERT_TRUE(h.store.SaveHeaders());
        EXPECT_GE(h.pump.count, c.low) << c.postings;
        EXPECT_LE(h.pump.count, c.high) << c.postings;
        EXPECT_TRUE(shown) << c.postings;

        Harness next;
        next.Load(h.File());
        EXPECT_GE(next.pump.count, c.low) << c.postings;
        EXPECT_LE(next.pump.count, c.high) << c.postings;
        EXPECT_EQ(next.store.WaitWindow().lblNFO, "Loading Headers");
        EXPECT_EQ(next.table.HeaderCount(), c.postings);
        // The largest file spans more than one read buffer.
        ASSERT_TRUE(next.store.SaveHeaders());
        EXPECT_EQ(next.File(), h.File());
    }
}

TEST(HeaderStore, FailedSaveKeepsTheOldFileAndTheChangedMark) {
    Harness h;
    h.dir.Write("npending.dat", "old");
    // A folder in the way of the temporary file makes the write fail, even for root.
    ASSERT_EQ(::mkdir(h.dir.File("npending.dat.tmp").c_str(), 0755), 0);
    h.table.Replace({Posting("a", "g", 3, 100)});
    h.table.HeadersChanged = false;
    EXPECT_FALSE(h.store.SaveHeaders());
    EXPECT_EQ(h.File(), "old");
    EXPECT_TRUE(h.table.HeadersChanged);
    ASSERT_EQ(h.prompts.shown.size(), 1u);
    EXPECT_EQ(h.prompts.shown[0].text.rfind("Headers could not be saved: ", 0), 0u);
    EXPECT_EQ(h.Logged(), Texts{h.prompts.shown[0].text});
    EXPECT_TRUE(h.view.cmdSaveHeadersEnabled);
    EXPECT_FALSE(h.store.WaitWindow().visible);
}

TEST(HeaderStore, ChangesMadeWhileSavingAreNotLost) {
    Harness h;
    h.table.Replace(HeaderTable::EntryList(200, Posting("p", "g", 1, 10)));
    h.table.CurrentGroup = "g";
    // Commands handled during the pauses: a new article arrives, a posting is deleted.
    h.pump.hook = [&] {
        if (h.pump.count != 3) return;
        h.table.add_articleheader("x", "new (1/2)", "77", "1", "10", "12-06-2026", "<n>");
        h.table.Entry(200).Deleted = true;
        h.table.HeadersChanged = true;
        EXPECT_FALSE(h.store.SaveHeaders());  // a second Save waits for this one
    };
    ASSERT_TRUE(h.store.SaveHeaders());
    EXPECT_TRUE(h.table.HeadersChanged);
    Harness next;
    next.Load(h.File());
    EXPECT_TRUE(next.prompts.shown.empty());
    EXPECT_EQ(next.table.HeaderCount(), 200);
}

// Fields the scan accepts (its reply cap is 256 MiB) but the file's line limit would refuse.
TEST(HeaderStore, WhatAScanStoresAlwaysLoadsAgain) {
    Harness h;
    h.table.CurrentGroup = "g";
    OverviewParser parser(h.table, h.pump);
    // Past twice the line limit: the reader's growing buffer takes somewhat longer lines.
    const std::string huge(2 * HeaderFileReader::kMaxLine + 1, 'x');
    parser.xover_proccess("1\t" + huge + " (1/1)\tp\t" + huge + "\t<m>\t\t9\t1\t");
    parser.xover_proccess("2\tlater (1/1)\tp\td\t<n>\t\t9\t1\t");
    // Numbers that are not plain 63-bit decimals, and subjects that differ from the first
    // part's in length or in more than a few bytes.
    const std::pair<std::string, std::string> parts[] = {
        {"007", "v (9/10)"},
        {"7", "v (10/10)"},
        {"9223372036854775807", "v (1/10) and a much longer tail"},
        {"9223372036854775808", "v (2/10)"},
        {"<m@x>", "v (3/10)"},
    };
    for (const auto& [number, subject] : parts)
        parser.xover_proccess(number + "\t" + subject + "\tp\td\t<m>\t\t9\t1\t");
    h.table.HeadersChanged = true;
    ASSERT_TRUE(h.store.SaveHeaders());
    Harness next;
    next.Load(h.File());
    EXPECT_TRUE(next.prompts.shown.empty());
    ASSERT_EQ(next.table.HeaderCount(), 3);
    EXPECT_EQ(next.table.Entry(2).Subject, "later [xx/0000001]");
    for (const HeaderTable* table : {&h.table, &next.table}) {
        ASSERT_EQ(table->Entry(3).PartCount(), 5);
        for (int i = 1; i <= 5; ++i) {
            EXPECT_EQ(table->Entry(3).Part(i).ArticleNumber.str(), parts[i - 1].first);
            EXPECT_EQ(table->Entry(3).Part(i).Subject.str(), parts[i - 1].second);
        }
    }
}

// Postings as they appear in a file; the second is queued and 3900 bytes.
const std::string kOne = "one|g|d|f|False| 0| 1| 100|1||one";
const std::string kTwo = "two [xx/0000002]|g|d|f|True| 2| 2| 2600|2||two 1| 1300|3|other.g|two 2";
const std::string kBoth = kOne + "|" + kTwo;

TEST(HeaderStore, DamagedFilesLoadWhatPrecedesTheDamage) {
    enum Verdict { kFine, kOld, kDamaged };
    const std::string endless(HeaderFileReader::kMaxLine + 10, 'x');
    struct Case {
        const char* name;
        std::string content;
        Verdict verdict;
        int postings;
        int parts;
        int queued_kb;
    } cases[] = {
        {"old version", Lines("QFNHF05| 1|" + kOne), kOld, 0, 0, 0},
        {"empty file", "", kOld, 0, 0, 0},
        {"binary", std::string("\0\x01\xff\xfe\r\n\x80", 7), kOld, 0, 0, 0},
        {"endless first line", endless, kOld, 0, 0, 0},
        {"magic only", Lines("QFNHF06|"), kDamaged, 0, 0, 0},
        {"endless part subject", Saved(" 2", Cut(kBoth, 1)) + endless, kDamaged, 2, 2, 3},
        {"count zero", Saved(" 0", kOne), kDamaged, 0, 0, 0},
        {"negative count", Saved(" -4", kOne), kDamaged, 0, 0, 0},
        {"junk count", Saved("lots", kOne), kDamaged, 0, 0, 0},
        {"absurd count", Saved(" 99999999999", kBoth), kDamaged, 2, 3, 4},
        {"over-announcing", Saved(" 5", kBoth), kDamaged, 2, 3, 4},
        {"ends inside a part", Saved(" 2", Cut(kBoth, 2)), kDamaged, 2, 2, 3},
        {"ends inside a record", Saved(" 2", Cut(kBoth, 11)), kDamaged, 1, 1, 0},
        {"junk in InBatch", Saved(" 2", Swap(kBoth, "True", "Maybe")), kDamaged, 1, 1, 0},
        {"junk part count", Saved(" 2", Swap(kBoth, " 2| 2600", "x| 2600")), kDamaged, 1, 1, 0},
        {"junk byte count", Saved(" 2", Swap(kBoth, " 1300", "abc")), kDamaged, 2, 2, 3},
        {"huge part count", Saved(" 1", Swap(kOne, "| 1|", "| 2000000000|")), kDamaged, 1, 1, 0},
        {"more than announced", Saved(" 1", kBoth), kDamaged, 1, 1, 0},
        {"no final newline", Lines("QFNHF06| 2|" + kBoth), kFine, 2, 3, 4},
        {"LF endings", Lines("QFNHF06| 2|" + kBoth + "|", "\n"), kFine, 2, 3, 4},
        {"no blanks, lower case",
         Saved("2", Swap(Swap(kBoth, "False", "false"), "| 1| 100", "|1|100")), kFine, 2, 3, 4},
        {"trailing blank lines", Saved(" 2", kBoth + "||  "), kFine, 2, 3, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.Load(c.content);
        EXPECT_EQ(h.table.HeaderCount(), c.postings);
        EXPECT_EQ(h.table.HeadersRead, c.parts);
        EXPECT_EQ(h.batch.BatchSizeKB(), c.queued_kb);
        EXPECT_EQ(h.batch.Rows().Count(), c.queued_kb ? 1 : 0);
        const std::string shown = h.prompts.shown.empty() ? "" : h.prompts.shown[0].text;
        EXPECT_EQ(h.prompts.shown.size(), c.verdict == kFine ? 0u : 1u);
        if (c.verdict == kOld) {
            EXPECT_EQ(shown, "Saved headers are old version, cannot be loaded (sorry).");
            EXPECT_FALSE(h.dir.Exists("npending.dat"));
            continue;
        }
        EXPECT_EQ(h.File(), c.content);
        if (c.verdict == kDamaged) {
            EXPECT_EQ(shown.rfind("Saved headers are damaged (", 0), 0u) << shown;
            EXPECT_EQ(h.Logged(), Texts{shown});
            h.store.SaveHeaders();  // the copy outlives the save that replaces the file
            EXPECT_EQ(h.dir.Read("npending.dat.damaged"), c.content);
        }
    }
}

// Postings from NZB files keep a file of their own: npending.dat stays what it would be
// without them, and both load again.
TEST(HeaderStore, ImportedPostingsKeepAFileOfTheirOwn) {
    Harness h;
    const HeaderEntry scanned = Posting("scanned", "alt.a", 1, 20);
    HeaderEntry imported = Posting("imported", "alt.a", 2, 30);
    imported.InBatch = true;
    for (PartRef& part : imported.Parts)
        part.ArticleNumber = "<p" + std::string(part.ArticleNumber) + "@x>";
    h.table.Replace({scanned});
    ASSERT_TRUE(h.store.SaveHeaders());
    const std::string alone = h.File();
    h.table.Replace({scanned, imported});
    ASSERT_TRUE(h.store.SaveHeaders());
    EXPECT_EQ(h.File(), alone);

    Harness next;
    next.dir.Write("nzbpending.dat", h.dir.Read("nzbpending.dat"));
    next.Load(h.File());
    EXPECT_TRUE(next.prompts.shown.empty());
    ASSERT_EQ(next.table.HeaderCount(), 2);
    EXPECT_EQ(std::string(next.table.Entry(2).Part(2).ArticleNumber), "<p1002@x>");
    EXPECT_EQ(next.batch.Rows().Count(), 1);
    next.table.Replace({scanned});
    ASSERT_TRUE(next.store.SaveHeaders());
    EXPECT_FALSE(next.dir.Exists("nzbpending.dat"));

    // A record there that names article numbers is not asked for by them.
    Harness damaged;
    damaged.dir.Write("nzbpending.dat", Swap(Saved(" 1", kOne), "QFNHF06", "QFNZB01"));
    damaged.store.LoadHeaders();
    EXPECT_EQ(damaged.table.HeaderCount(), 0);
    ASSERT_EQ(damaged.prompts.shown.size(), 1u);
    EXPECT_EQ(damaged.prompts.shown[0].text.rfind("Saved NZB postings are damaged (a posting", 0),
              0u);
}

}  // namespace
}  // namespace quillfin::headers
