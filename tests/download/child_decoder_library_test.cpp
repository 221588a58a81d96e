// The decoder run in a child process: the same files as in-process, and a library that
// crashes or hangs on hostile text costs the decode, never the program.
#include "download/child_decoder_library.h"

#include <gmock/gmock.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "download/download_fixture.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLFIN_ASAN 1
#endif
#endif

namespace quillfin::testing {
namespace {

using download::ChildDecoderLibrary;
using ::testing::Contains;
using ::testing::HasSubstr;

// The real library, except that a loaded file holding "BOOM" kills it as a crash in its
// parser would, and decoding one holding "HANG" never returns.
class BrittleLibrary : public download::UuDecoderLibrary {
  public:
    int LoadFile(const std::string& path) override {
        const std::string text = ReadFile(path);
        if (text.find("BOOM") != std::string::npos) std::abort();
        hangs_ = hangs_ || text.find("HANG") != std::string::npos;
        return UuDecoderLibrary::LoadFile(path);
    }
    DecodeResult Decode(int item, const std::string& path) override {
        while (hangs_) ::pause();
        return UuDecoderLibrary::Decode(item, path);
    }

  private:
    bool hangs_ = false;
};

class ChildDecoderTest : public DecodeFixture {
  protected:
    // Queues a one-part posting whose article holds body; returns its index.
    std::int32_t Queue(const std::string& name, const std::string& number,
                       const std::string& body) {
        const std::int32_t index = AddPosting(name, {number});
        child_decoder.StorePart(index, 1, ArticleReply(number, name, body));
        return index;
    }

    ChildDecoderLibrary child{&pump, [] { return std::make_unique<BrittleLibrary>(); },
                              std::chrono::milliseconds(500)};
    download::PostingDecoder child_decoder{table, batch, settings, log, pump, child};
};

TEST_F(ChildDecoderTest, ACrashFailsTheDecodeAndTheNextRunWorks) {
    const std::int32_t bad = Queue("bad.bin", "21", "BOOM\n");
    const std::string original = MakeFile("good.bin", 2000);
    const std::int32_t good = Queue("good.bin", "22", Encode("good.bin", "-u")[0]);
    log.Clear();

    EXPECT_FALSE(child_decoder.DecodePosting(bad));
    EXPECT_TRUE(child.ChildFailed());
    const std::vector<std::string> logged = TakeLogged();
    EXPECT_THAT(logged, Contains("decode err (UULoadFile) -1"));
    EXPECT_THAT(logged, Contains("the decoder crashed (signal 6, Aborted) (severity: 4)"));
    EXPECT_THAT(logged, Contains(" decode error... "));
    // The table and the batch are as after any failed decode.
    EXPECT_EQ(table.HeaderCount(), 2);
    EXPECT_FALSE(table.Entry(bad).InBatch);
    EXPECT_TRUE(table.Entry(good).InBatch);

    EXPECT_TRUE(child_decoder.DecodePosting(good));
    EXPECT_EQ(ReadFile(dir.File("dl/good.bin")), original);
    EXPECT_FALSE(child.ChildFailed());
}

// libuu reads past the end of its copy of this Subject header: a memory error in the library
// that a sanitizer build turns into the child's end. Either way the program goes on.
TEST_F(ChildDecoderTest, LibuuOverreadOnAHostileSubjectCostsThatPostingAlone) {
    const std::string hostile = ReadFile(QUILLFIN_TEST_DATA "/libuu_subject_overread.txt");
    ASSERT_EQ(hostile, "Subject:/\rT");
    const std::int32_t bad = AddPosting("bad", {"41"});
    child_decoder.StorePart(bad, 1, hostile);
    const std::string original = MakeFile("after.bin", 3000);
    const std::int32_t good = Queue("after.bin", "42", Encode("after.bin", "-y")[0]);
    log.Clear();

    EXPECT_FALSE(child_decoder.DecodePosting(bad));
    EXPECT_FALSE(table.Entry(bad).InBatch);
#if defined(__SANITIZE_ADDRESS__) || defined(QUILLFIN_ASAN)
    EXPECT_THAT(TakeLogged(), Contains("the decoder ended unexpectedly (status 1) (severity: 4)"));
#endif
    EXPECT_TRUE(child_decoder.DecodePosting(good));
    EXPECT_EQ(ReadFile(dir.File("dl/after.bin")), original);
}

TEST_F(ChildDecoderTest, AHangIsStoppedAtTheLimitWhileEventsRun) {
    MakeFile("slow.bin", 2000);
    const std::string part = Encode("slow.bin", "-u")[0];
    const std::int32_t index = Queue("slow.bin", "31", "HANG\n" + part);
    log.Clear();
    pump.count = 0;
    EXPECT_FALSE(child_decoder.DecodePosting(index));
    EXPECT_GT(pump.count, 5);  // the window stayed usable while the child was silent
    const std::vector<std::string> logged = TakeLogged();
    EXPECT_THAT(logged, Contains(HasSubstr("decode err (uuret:-1")));
    EXPECT_THAT(logged, Contains("the decoder did not answer within 1 s and was stopped "
                                 "(severity: 4)"));
}

TEST_F(ChildDecoderTest, TheLibrarysAnswersCrossUnchanged) {
    const std::string original = MakeFile("xy.bin", 5000);
    dir.Write("part.uue", Encode("xy.bin", "-u")[0]);
    dir.Write("dl/taken", "mine");
    ASSERT_TRUE(child.StartRun());
    EXPECT_EQ(child.LoadFile(dir.File("part.uue")), 0);
    ASSERT_EQ(child.FirstItem(), 1);
    EXPECT_EQ(child.ItemFileName(1), "xy.bin");
    EXPECT_EQ(child.FilterFileName("a/b.bin"), library.FilterFileName("a/b.bin"));
    const auto exists = child.Decode(1, dir.File("dl/taken"));
    EXPECT_FALSE(exists.ok);
    EXPECT_EQ(exists.code, 7);  // the library's "file exists"; the file is untouched
    EXPECT_EQ(dir.Read("dl/taken"), "mine");
    const auto missing = child.Decode(1, dir.File("none/x.bin"));
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.moveCode, ENOENT);
    EXPECT_TRUE(child.Decode(1, dir.File("dl/x.bin")).ok);
    child.EndRun();
    EXPECT_EQ(dir.Read("dl/x.bin"), original);
}

// The helper's process while a run is open: its descriptors and its file size limit.
struct HelperProcess {
    std::vector<std::string> descriptors;
    std::string fileSizeLimit;
};

HelperProcess FindHelperProcess() {
    HelperProcess found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = ReadFile(entry.path().string() + "/stat");
        if (stat.find("(quillfin-decode) ") == std::string::npos) continue;
        if (std::stoi(stat.substr(stat.find(") ") + 4)) != ::getpid()) continue;
        std::error_code ignored;
        for (const auto& fd : std::filesystem::directory_iterator(entry.path() / "fd", ignored))
            found.descriptors.push_back(fd.path().filename().string());
        std::sort(found.descriptors.begin(), found.descriptors.end());
        std::istringstream limits(ReadFile(entry.path().string() + "/limits"));
        for (std::string line; std::getline(limits, line);)
            if (line.starts_with("Max file size")) found.fileSizeLimit = line.substr(26, 20);
    }
    return found;
}

TEST_F(ChildDecoderTest, TheHelperHoldsOnlyItsDescriptorAndStopsAtItsWriteLimit) {
    const std::string helper = ChildDecoderLibrary::FindHelper();
    ASSERT_FALSE(helper.empty());
    ChildDecoderLibrary sandboxed(&pump, helper);
    sandboxed.SetWriteFloor(100000);
    download::PostingDecoder decoder2{table, batch, settings, log, pump, sandboxed};
    sandboxed.ExpectSize(1000);
    ASSERT_TRUE(sandboxed.StartRun());
    const HelperProcess process = FindHelperProcess();
    EXPECT_THAT(process.descriptors, ::testing::ElementsAre("0", "1", "2", "3"));
    EXPECT_THAT(process.fileSizeLimit, HasSubstr("104000"));
    sandboxed.EndRun();

    // Within its limit the helper decodes as the library does in process; past it, that
    // posting fails and says why, and the next one decodes.
    const std::string small = MakeFile("small.bin", 60000);
    const std::int32_t fits = AddPosting("small.bin", {"51"});
    decoder2.StorePart(fits, 1,
                       ArticleReply("51", "small.bin", Encode("small.bin", "-u", 10000)[0]));
    const std::string big = MakeFile("big.bin", 300000);
    const std::vector<std::string> parts = Encode("big.bin", "-u", 10000);
    ASSERT_EQ(parts.size(), 1u);
    const std::int32_t bomb = AddPosting("big.bin", {"52"});
    decoder2.StorePart(bomb, 1, ArticleReply("52", "big.bin", parts[0]));
    log.Clear();
    EXPECT_FALSE(decoder2.DecodePosting(bomb));
    EXPECT_THAT(TakeLogged(), Contains("the decoder stopped at its limit of 104000 bytes for "
                                       "this posting (severity: 4)"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("dl/big.bin")));
    EXPECT_TRUE(decoder2.DecodePosting(fits)) << ::testing::PrintToString(TakeLogged());
    EXPECT_TRUE(ReadFile(dir.File("dl/small.bin")) == small);
}

TEST_F(ChildDecoderTest, AStoppedDecodeEndsAtOnceAndThePostingStaysQueued) {
    MakeFile("slow.bin", 2000);
    const std::int32_t index = Queue("slow.bin", "61", "HANG\n" + Encode("slow.bin", "-u")[0]);
    log.Clear();
    pump.count = 0;
    // Stopped while the child sits in its decode (the first pump comes after the load).
    pump.hook = [&] {
        if (pump.count == 3) child_decoder.Cancel();
    };
    EXPECT_FALSE(child_decoder.DecodePosting(index));
    EXPECT_LT(pump.count, 10);  // well before the limit
    EXPECT_THAT(TakeLogged(), Contains("the decode was stopped (severity: 4)"));
    EXPECT_TRUE(table.Entry(index).InBatch);
}

TEST(ChildDecoderLibraryTest, OneRunAtATimeAndNothingOutsideARun) {
    ChildDecoderLibrary library(nullptr,
                                [] { return std::make_unique<download::UuDecoderLibrary>(); });
    std::string text;
    int severity = 0;
    EXPECT_EQ(library.LoadFile("/nonexistent"), ChildDecoderLibrary::kChildFailed);
    EXPECT_FALSE(library.Message(text, severity));
    ASSERT_TRUE(library.StartRun());
    EXPECT_FALSE(library.StartRun());
    EXPECT_NE(library.LoadFile("/nonexistent"), 0);
    EXPECT_EQ(library.FirstItem(), 0);
    library.EndRun();
    // A factory that gives no library refuses the run.
    ChildDecoderLibrary none(nullptr, [] { return nullptr; });
    EXPECT_FALSE(none.StartRun());
    EXPECT_TRUE(library.StartRun());
    library.EndRun();
}

}  // namespace
}  // namespace quillfin::testing
