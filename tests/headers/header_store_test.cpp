#include "headers/header_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/text.h"
#include "headers/header_file_reader.h"
#include "storage/activity_log.h"
#include "storage/program_files.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

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

// Everything a load or save touches, over a fresh program folder.
struct Harness {
    Harness() { settings.chkEnableLogging = 1; }

    std::vector<std::string> Logged() const {
        std::vector<std::string> out;
        for (auto it = log.Lines().rbegin(); it != log.Lines().rend(); ++it)
            out.push_back(it->substr(10));  // without "hh:mm:ss  "
        return out;
    }
    std::string File() const { return dir.Read("npending.dat"); }

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

std::string Lines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\r\n";
    return out;
}

std::string TestData(const std::string& name) {
    std::string content;
    EXPECT_TRUE(storage::ReadWholeFile(std::string(QUILLFIN_TEST_DATA) + "/" + name, &content));
    return content;
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
    const std::string original = TestData("npending.dat");
    h.dir.Write("npending.dat", original);
    h.store.LoadHeaders();

    EXPECT_TRUE(h.prompts.shown.empty());
    ASSERT_EQ(h.table.HeaderCount(), 3);
    EXPECT_EQ(h.table.HeadersRead, 6);
    EXPECT_EQ(h.table.ReadCounterText(), "Read: 6");
    EXPECT_FALSE(h.table.HeadersChanged);
    const HeaderEntry& first = h.table.Entry(1);
    EXPECT_EQ(first.Part(1).Group, "alt.binaries.test");  // empty group line
    EXPECT_EQ(first.Part(3).Group, "alt.binaries.other");
    EXPECT_EQ(first.Size, 749000);
    EXPECT_EQ(h.table.Entry(3).PartTotal, -1);
    EXPECT_EQ(h.table.Entry(3).Size, 4993);
    EXPECT_TRUE(h.table.TakeUnshown().empty());
    // The batch comes back from InBatch, in table order, showing the parts held.
    ASSERT_EQ(h.batch.Rows().Count(), 2);
    EXPECT_EQ(h.batch.Rows().At(0).tag, 1);
    EXPECT_EQ(h.batch.Rows().At(0).columns[0], "003");
    EXPECT_EQ(h.batch.Rows().At(1).tag, 3);
    EXPECT_EQ(h.batch.BatchSizeKB(), 749 + 5);
    EXPECT_EQ(h.view.lblTotalBatchSize, "Total batch size: 0.8mb");
    EXPECT_EQ(h.store.WaitWindow().lblNFO, "Loading Headers");

    ASSERT_TRUE(h.store.SaveHeaders());
    EXPECT_EQ(h.File(), original);
}

TEST(HeaderStore, SaveWritesQueuedAndUndeletedPostingsInTheFileFormat) {
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
    EXPECT_EQ(h.File(), Lines({"QFNHF06",
                               " 2",
                               "bad sub ject",
                               "alt.a",
                               "12-06-2026",
                               "poster@example.net (Poster)",
                               "False",
                               " 1",
                               " 1",
                               " 20",
                               "1001",
                               "alt.b",
                               "line  break",
                               "queued",
                               "alt.a",
                               "12-06-2026",
                               "poster@example.net (Poster)",
                               "True",
                               " 0",
                               " 1",
                               " 40",
                               "1001",
                               "",
                               "queued (1/1)"}));

    Harness next;
    next.dir.Write("npending.dat", h.File());
    next.store.LoadHeaders();
    EXPECT_TRUE(next.prompts.shown.empty());
    ASSERT_EQ(next.table.HeaderCount(), 2);
    EXPECT_FALSE(next.table.Entry(2).Deleted);
    EXPECT_TRUE(next.table.Entry(2).InBatch);
}

TEST(HeaderStore, AnEmptyTableIsSavedAsNoFile) {
    Harness h;
    h.dir.Write("npending.dat", TestData("npending.dat"));
    HeaderEntry deleted = Posting("gone", "alt.a", 2, 10);
    deleted.Deleted = true;
    h.table.Replace({deleted});
    EXPECT_TRUE(h.store.SaveHeaders());
    EXPECT_FALSE(h.dir.Exists("npending.dat"));
    EXPECT_TRUE(h.Logged().empty());
    EXPECT_TRUE(h.view.cmdSaveHeadersEnabled);

    Harness next;
    next.store.LoadHeaders();
    EXPECT_EQ(next.table.HeaderCount(), 0);
    EXPECT_TRUE(next.prompts.shown.empty());
}

TEST(HeaderStore, LogsPartsSavedAndTheRate) {
    struct Case {
        std::chrono::milliseconds taken;
        const char* line;
    } cases[] = {
        {std::chrono::milliseconds(0), "Saved 1234 headers in about 1 second"},
        {std::chrono::milliseconds(1999), "Saved 1234 headers in about 1 second"},
        {std::chrono::milliseconds(2000),
         "Saved 1234 headers in 2 seconds (617 headers per second)"},
        {std::chrono::milliseconds(5000),
         "Saved 1234 headers in 5 seconds (246 headers per second)"},
    };
    for (const Case& c : cases) {
        Harness h;
        h.table.Replace({Posting("a", "g", 617, 100), Posting("b", "g", 617, 100)});
        h.pump.hook = [&] {
            if (h.pump.count == 1) h.clock.Advance(c.taken);
        };
        ASSERT_TRUE(h.store.SaveHeaders());
        EXPECT_EQ(h.Logged(), std::vector<std::string>{c.line});
    }
}

TEST(HeaderStore, SaveCommandAsksWhenNothingChanged) {
    struct Case {
        bool changed;
        std::deque<bool> answers;
        bool saved;
        std::size_t questions;
    } cases[] = {{false, {false}, false, 1}, {false, {true}, true, 1}, {true, {}, true, 0}};
    for (const Case& c : cases) {
        Harness h;
        h.table.Replace({Posting("a", "g", 1, 100)});
        h.table.HeadersChanged = c.changed;
        h.prompts.answers = c.answers;
        bool groups_saved = false;
        h.store.SaveHeadersCommand([&] {
            EXPECT_FALSE(h.dir.Exists("npending.dat"));  // the newsgroup list goes first
            groups_saved = true;
        });
        EXPECT_EQ(groups_saved, c.saved);
        EXPECT_EQ(h.dir.Exists("npending.dat"), c.saved);
        ASSERT_EQ(h.prompts.shown.size(), c.questions);
        if (c.questions == 1) {
            EXPECT_EQ(h.prompts.shown[0].text,
                      "Headers not changed since last save.  Save anyway?");
            EXPECT_EQ(h.prompts.shown[0].title, "Save Headers");
            EXPECT_TRUE(h.prompts.shown[0].question);
        }
    }
}

TEST(HeaderStore, ProgressMovesAboutNinetyTimesWhateverTheSize) {
    struct Case {
        int postings;
        int low;
        int high;
    } cases[] = {{10, 10, 10}, {44, 44, 44}, {900, 88, 92}, {1000, 88, 92}, {5000, 86, 92}};
    for (const Case& c : cases) {
        Harness h;
        std::vector<HeaderEntry> entries(std::size_t(c.postings), Posting("p", "g", 1, 10));
        h.table.Replace(entries);
        bool shown_while_saving = true;
        int last_value = 0;
        h.pump.hook = [&] {
            const WaitWindowState& wait = h.store.WaitWindow();
            shown_while_saving = shown_while_saving && wait.visible &&
                                 wait.lblNFO == "Saving Headers" &&
                                 wait.progress.maximum == c.postings &&
                                 wait.progress.value > last_value && !h.view.cmdSaveHeadersEnabled;
            last_value = wait.progress.value;
        };
        ASSERT_TRUE(h.store.SaveHeaders());
        EXPECT_GE(h.pump.count, c.low) << c.postings;
        EXPECT_LE(h.pump.count, c.high) << c.postings;
        EXPECT_TRUE(shown_while_saving) << c.postings;
        EXPECT_FALSE(h.store.WaitWindow().visible);
        EXPECT_TRUE(h.view.cmdSaveHeadersEnabled);

        Harness next;
        next.dir.Write("npending.dat", h.File());
        next.store.LoadHeaders();
        EXPECT_GE(next.pump.count, c.low) << c.postings;
        EXPECT_LE(next.pump.count, c.high) << c.postings;
        EXPECT_EQ(next.store.WaitWindow().progress.maximum, c.postings);
    }
}

TEST(HeaderStore, FailedSaveKeepsTheOldFileAndTheChangedMark) {
    for (bool missing_folder : {false, true}) {
        Harness h;
        const std::string old = TestData("npending.dat");
        h.dir.Write("npending.dat", old);
        // A folder in the way of the temporary file makes the write fail, even for root.
        ASSERT_EQ(::mkdir(h.dir.File("npending.dat.tmp").c_str(), 0755), 0);
        h.table.Replace({Posting("a", "g", 3, 100)});
        h.table.HeadersChanged = false;
        HeaderStore elsewhere(h.table, h.batch, h.view, h.log, h.prompts, h.pump, h.clock,
                              h.dir.File("no-such-folder"));
        EXPECT_FALSE(missing_folder ? elsewhere.SaveHeaders() : h.store.SaveHeaders());
        EXPECT_EQ(h.File(), old);
        EXPECT_TRUE(h.table.HeadersChanged);
        ASSERT_EQ(h.prompts.shown.size(), 1u);
        EXPECT_EQ(h.prompts.shown[0].text.rfind("Headers could not be saved: ", 0), 0u);
        EXPECT_EQ(h.Logged(), std::vector<std::string>{h.prompts.shown[0].text});
        EXPECT_TRUE(h.view.cmdSaveHeadersEnabled);
        EXPECT_FALSE(h.store.WaitWindow().visible);
    }
}

TEST(HeaderStore, ChangesMadeWhileSavingAreNotLost) {
    Harness h;
    std::vector<HeaderEntry> entries(200, Posting("p", "g", 1, 10));
    h.table.Replace(entries);
    h.table.CurrentGroup = "g";
    // Commands handled during the pauses: a new article arrives, a posting is deleted.
    h.pump.hook = [&] {
        if (h.pump.count != 3) return;
        h.table.add_articleheader("x", "new (1/2)", "77", "1", "10", "12-06-2026", "<n>");
        h.table.Entry(200).Deleted = true;
        h.table.HeadersChanged = true;
    };
    ASSERT_TRUE(h.store.SaveHeaders());
    EXPECT_TRUE(h.table.HeadersChanged);

    Harness next;
    next.dir.Write("npending.dat", h.File());
    next.store.LoadHeaders();
    EXPECT_TRUE(next.prompts.shown.empty());
    EXPECT_EQ(next.table.HeaderCount(), 200);
}

// Postings as they appear in a file, for building damaged ones.
const std::vector<std::string> kOne = {"one", "g",    "d", "f", "False", " 0",
                                       " 1",  " 100", "1", "",  "one"};
const std::vector<std::string> kTwo = {"two [xx/0000002]",
                                       "g",
                                       "d",
                                       "f",
                                       "True",
                                       " 2",
                                       " 2",
                                       " 2600",
                                       "2",
                                       "",
                                       "two 1",
                                       " 300",
                                       "3",
                                       "other.g",
                                       "two 2"};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::vector<std::string> With(std::vector<std::string> lines, std::size_t at, std::string text) {
    lines.at(at) = std::move(text);
    return lines;
}

std::vector<std::string> Cut(std::vector<std::string> lines, std::size_t drop) {
    lines.resize(lines.size() - drop);
    return lines;
}

TEST(HeaderStore, DamagedFilesLoadWhatPrecedesTheDamage) {
    enum Verdict { kFine, kOld, kDamaged };
    const std::string magic = "QFNHF06";
    struct Case {
        const char* name;
        std::string content;
        Verdict verdict;
        int postings;
        int parts;
    } cases[] = {
        {"old version", Lines(Join({{"QFNHF05", " 1"}, kOne})), kOld, 0, 0},
        {"empty file", "", kOld, 0, 0},
        {"binary", std::string("\0\x01\xff\xfe\r\n\x80", 7), kOld, 0, 0},
        {"endless first line", std::string(HeaderFileReader::kMaxLine + 10, 'x'), kOld, 0, 0},
        {"magic only", Lines({magic}), kDamaged, 0, 0},
        {"endless part subject",
         Lines(Join({{magic, " 2"}, kOne, Cut(kTwo, 1)})) +
             std::string(HeaderFileReader::kMaxLine + 10, 'y'),
         kDamaged, 2, 2},
        {"count zero", Lines(Join({{magic, " 0"}, kOne})), kDamaged, 0, 0},
        {"negative count", Lines(Join({{magic, " -4"}, kOne})), kDamaged, 0, 0},
        {"junk count", Lines(Join({{magic, "lots"}, kOne})), kDamaged, 0, 0},
        {"absurd count", Lines(Join({{magic, " 99999999999"}, kOne, kTwo})), kDamaged, 2, 3},
        {"over-announcing", Lines(Join({{magic, " 5"}, kOne, kTwo})), kDamaged, 2, 3},
        {"ends inside a part", Lines(Join({{magic, " 2"}, kOne, Cut(kTwo, 2)})), kDamaged, 2, 2},
        {"ends inside a record", Lines(Join({{magic, " 2"}, kOne, Cut(kTwo, 11)})), kDamaged, 1, 1},
        {"junk in InBatch", Lines(Join({{magic, " 2"}, kOne, With(kTwo, 4, "Maybe")})), kDamaged, 1,
         1},
        {"junk part count", Lines(Join({{magic, " 2"}, kOne, With(kTwo, 6, "x")})), kDamaged, 1, 1},
        {"junk byte count", Lines(Join({{magic, " 2"}, kOne, With(kTwo, 11, "abc")})), kDamaged, 2,
         2},
        {"huge part count", Lines(Join({{magic, " 1"}, With(kOne, 6, " 2000000000")})), kDamaged, 1,
         1},
        {"more than announced", Lines(Join({{magic, " 1"}, kOne, kTwo})), kDamaged, 1, 1},
        {"no final newline", Lines(Join({{magic, " 2"}, kOne, Cut(kTwo, 1)})) + "two 2", kFine, 2,
         3},
        {"LF endings",
         "QFNHF06\n 2\n" + Lines(kOne) +
             "two [xx/0000002]\ng\nd\nf\nTrue\n2\n2\n"
             "200\n2\n\ntwo 1\n300\n3\nother.g\ntwo 2\n",
         kFine, 2, 3},
        {"no blanks, lower case", Lines(Join({{magic, "2"}, With(kOne, 4, "false"), kTwo})), kFine,
         2, 3},
        {"trailing blank lines", Lines(Join({{magic, " 2"}, kOne, kTwo, {"", "  "}})), kFine, 2, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.dir.Write("npending.dat", c.content);
        h.store.LoadHeaders();
        EXPECT_EQ(h.table.HeaderCount(), c.postings);
        EXPECT_EQ(h.table.HeadersRead, c.parts);
        switch (c.verdict) {
            case kFine:
                EXPECT_TRUE(h.prompts.shown.empty());
                EXPECT_EQ(h.File(), c.content);
                break;
            case kOld:
                ASSERT_EQ(h.prompts.shown.size(), 1u);
                EXPECT_EQ(h.prompts.shown[0].text,
                          "Saved headers are old version, cannot be loaded (sorry).");
                EXPECT_EQ(h.prompts.shown[0].title, "Quillfin");
                EXPECT_FALSE(h.dir.Exists("npending.dat"));
                break;
            case kDamaged:
                ASSERT_EQ(h.prompts.shown.size(), 1u);
                EXPECT_EQ(h.prompts.shown[0].text.rfind("Saved headers are damaged (", 0), 0u)
                    << h.prompts.shown[0].text;
                EXPECT_EQ(h.Logged(), std::vector<std::string>{h.prompts.shown[0].text});
                EXPECT_EQ(h.File(), c.content);
                EXPECT_EQ(h.dir.Read("npending.dat.damaged"), c.content);
                break;
        }
    }
}

TEST(HeaderStore, PartialPostingKeepsItsPartsAndBatchTotal) {
    Harness h;
    h.dir.Write("npending.dat", Lines(Join({{"QFNHF06", " 2"}, kOne, Cut(kTwo, 2)})));
    h.store.LoadHeaders();
    ASSERT_EQ(h.table.HeaderCount(), 2);
    const HeaderEntry& two = h.table.Entry(2);
    EXPECT_EQ(two.PartCount(), 1);
    EXPECT_EQ(two.Part(1).Subject, "two 1");
    EXPECT_EQ(two.Size, 2600);
    EXPECT_TRUE(two.InBatch);
    EXPECT_EQ(h.batch.Rows().Count(), 1);
    EXPECT_EQ(h.batch.BatchSizeKB(), 3);
}

TEST(HeaderStore, DamagedCopyOutlivesTheNextSave) {
    Harness h;
    const std::string damaged = Lines(Join({{"QFNHF06", " 3"}, kOne, kTwo}));
    h.dir.Write("npending.dat", damaged);
    h.store.LoadHeaders();
    ASSERT_EQ(h.table.HeaderCount(), 2);
    ASSERT_TRUE(h.store.SaveHeaders());
    EXPECT_EQ(h.File(), Lines(Join({{"QFNHF06", " 2"}, kOne, kTwo})));
    EXPECT_EQ(h.dir.Read("npending.dat.damaged"), damaged);
}

TEST(HeaderStore, LargeTableRoundTrips) {
    Harness h;
    std::vector<HeaderEntry> entries;
    for (int i = 0; i < 400; ++i) {
        HeaderEntry entry = Posting("video-" + std::to_string(i) + ".rar [xx/0000050]",
                                    "alt.binaries.g" + std::to_string(i % 3), 50, 400000 + i);
        entry.InBatch = i % 7 == 0;
        entry.Deleted = i % 5 == 0;
        entry.Parts[1].Group = "alt.binaries.x";
        entries.push_back(entry);
    }
    h.table.Replace(entries);
    ASSERT_TRUE(h.store.SaveHeaders());

    Harness next;
    next.dir.Write("npending.dat", h.File());
    next.store.LoadHeaders();
    EXPECT_TRUE(next.prompts.shown.empty());
    std::vector<const HeaderEntry*> kept;
    std::int64_t queued_kb = 0;
    for (const HeaderEntry& entry : entries) {
        if (!entry.InBatch && entry.Deleted) continue;
        kept.push_back(&entry);
        if (entry.InBatch) queued_kb += common::RoundHalfEven(double(entry.Size) / 1000.0);
    }
    ASSERT_EQ(next.table.HeaderCount(), std::int32_t(kept.size()));
    EXPECT_EQ(next.table.HeadersRead, std::int32_t(kept.size() * 50));
    for (std::int32_t i = 1; i <= next.table.HeaderCount(); ++i) {
        const HeaderEntry& got = next.table.Entry(i);
        const HeaderEntry& want = *kept[std::size_t(i - 1)];
        ASSERT_EQ(got.Subject, want.Subject);
        ASSERT_EQ(got.Size, want.Size);
        ASSERT_EQ(got.InBatch, want.InBatch);
        ASSERT_EQ(got.PartCount(), want.PartCount());
        for (std::int32_t p = 1; p <= got.PartCount(); ++p) {
            ASSERT_EQ(got.Part(p).Group, want.Part(p).Group);
            ASSERT_EQ(got.Part(p).ArticleNumber, want.Part(p).ArticleNumber);
            ASSERT_EQ(got.Part(p).Subject, want.Part(p).Subject);
        }
    }
    EXPECT_EQ(next.batch.BatchSizeKB(), queued_kb);
    ASSERT_TRUE(next.store.SaveHeaders());
    EXPECT_EQ(next.File(), h.File());
}

}  // namespace
}  // namespace quillfin::headers
