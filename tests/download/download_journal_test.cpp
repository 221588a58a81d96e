// A batch cut short (the program killed, the machine gone down) goes on from what it left on
// disk: nothing is fetched twice, nothing is filed twice, nothing is left lying about.
#include "download/download_journal.h"

#include <gmock/gmock.h>

#include "download/download_fixture.h"

namespace quillfin::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;

class DownloadJournalTest : public DecodeFixture {
  protected:
    DownloadJournalTest() { decoder.SetJournal(dir.File("BATCH.JNL")); }

    // The program as it starts again: the table as last saved, every part unfetched.
    struct Restarted {
        explicit Restarted(DownloadJournalTest& t)
            : table(t.log),
              batch(table, t.view, t.log, t.prompts),
              decoder(table, batch, t.settings, t.log, t.pump, t.library) {
            headers::HeaderEntryList list;
            for (const headers::HeaderEntry& e : t.entries) list.push_back(e);
            table.Replace(std::move(list));
            for (std::int32_t i = 1; i <= table.HeaderCount(); ++i) table.Entry(i).InBatch = true;
            batch.BuildBatchList();
            decoder.SetJournal(t.dir.File("BATCH.JNL"));
            decoder.Resume();
        }
        headers::HeaderTable table;
        headers::BatchQueue batch;
        download::PostingDecoder decoder;
    };

    // Three parts of a 100,000-byte file.
    std::vector<std::string> Parts(const std::string& name, const std::string& flag) {
        originals[name] = MakeFile(name, 100000, unsigned(name.size()));
        return Encode(name, flag, flag == "-u" ? 800 : 300);
    }
    void Store(download::PostingDecoder& d, headers::HeaderTable& t, std::int32_t index, int part,
               const std::string& body) {
        const headers::PartRef& ref = t.Entry(index).Part(part);
        d.StorePart(index, part, ArticleReply(ref.ArticleNumber, ref.Subject, body));
    }
    std::map<std::string, std::string> originals;
};

TEST_F(DownloadJournalTest, ABatchCutShortGoesOnWithoutFetchingOrFilingTwice) {
    const std::vector<std::string> uu = Parts("uu.bin", "-u");
    const std::vector<std::string> y = Parts("y.bin", "-y");
    const std::vector<std::string> done = Parts("done.bin", "-y");
    ASSERT_EQ(uu.size(), 3u);
    ASSERT_EQ(y.size(), 3u);
    const std::int32_t a = AddPosting("uu.bin", {"11", "12", "13"});
    const std::int32_t b = AddPosting("y.bin", {"21", "22", "23"});
    const std::int32_t c = AddPosting("done.bin", {"31", "32", "33"});
    // Two parts of each of the first two, and the third filed: then the program is killed.
    for (int k : {1, 2}) {
        Store(decoder, table, a, k, uu[std::size_t(k - 1)]);
        Store(decoder, table, b, k, y[std::size_t(k - 1)]);
    }
    // A file that a stopped batch left and whose posting is queued no more.
    const std::int32_t gone = AddPosting("gone.bin", {"41"});
    Store(decoder, table, gone, 1, uu[0]);
    for (int k : {1, 2, 3}) Store(decoder, table, c, k, done[std::size_t(k - 1)]);
    ASSERT_TRUE(decoder.DecodePosting(c));  // by now the decoder's thread has written the rest
    entries.erase(entries.begin() + (gone - 1));
    log.Clear();

    Restarted again(*this);
    EXPECT_THAT(TakeLogged(),
                Contains(dir.File("dl/done.bin") + " was filed before the program stopped"));
    EXPECT_FALSE(again.table.Entry(c).InBatch);
    for (std::int32_t index : {a, b}) {
        const headers::HeaderEntry& entry = again.table.Entry(index);
        EXPECT_TRUE(entry.Part(1).Retrieved && entry.Part(2).Retrieved) << index;
        EXPECT_FALSE(entry.Part(3).Retrieved) << index;
    }
    EXPECT_FALSE(fs::exists(dir.File("dl/41.UUE")));  // the orphan is gone
    Store(again.decoder, again.table, a, 3, uu[2]);
    Store(again.decoder, again.table, b, 3, y[2]);
    EXPECT_TRUE(again.decoder.DecodePosting(a));
    EXPECT_TRUE(again.decoder.DecodePosting(b));
    for (const auto& [name, bytes] : originals)
        EXPECT_TRUE(ReadFile(dir.File("dl/" + name)) == bytes) << name;
    EXPECT_THAT(DownloadFolder(), ElementsAre("done.bin", "uu.bin", "y.bin"));
}

TEST_F(DownloadJournalTest, APostingTakenOutOfTheBatchLeavesNothingBehind) {
    const std::vector<std::string> uu = Parts("uu.bin", "-u");
    const std::vector<std::string> y = Parts("y.bin", "-y");
    const std::int32_t a = AddPosting("uu.bin", {"11", "12", "13"});
    const std::int32_t b = AddPosting("y.bin", {"21", "22", "23"});
    for (int k : {1, 2}) {
        Store(decoder, table, a, k, uu[std::size_t(k - 1)]);
        Store(decoder, table, b, k, y[std::size_t(k - 1)]);
    }
    for (std::int32_t index : {a, b}) {
        decoder.Discard(index);
        for (const headers::PartRef& part : table.Entry(index).Parts) EXPECT_FALSE(part.Retrieved);
    }
    EXPECT_TRUE(DownloadFolder().empty());
    // Nothing comes back after a restart either.
    Restarted again(*this);
    EXPECT_FALSE(again.table.Entry(a).Part(1).Retrieved);
    EXPECT_TRUE(DownloadFolder().empty());
}

TEST(DownloadJournalFileTest, ALineCutShortOrDamagedIsPassedOver) {
    TempDir dir;
    download::DownloadJournal journal(dir.File("j"));
    journal.PartStored({"alt.test", "1"}, "/x/1.UUE");
    journal.PartStored({"alt.test", "2"}, "/x/2.UUE");
    journal.PartRemoved({"alt.test", "1"});
    std::ofstream(dir.File("j"), std::ios::app) << "P\tbroken\nY\ttoo\tfew\nP\talt.test\t3\t/x/3";
    const auto state = journal.Load();
    ASSERT_EQ(state.partFiles.size(), 1u);
    EXPECT_EQ(state.partFiles.begin()->second, "/x/2.UUE");
}

}  // namespace
}  // namespace quillfin::testing
