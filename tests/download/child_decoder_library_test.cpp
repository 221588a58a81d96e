// The decoder run in a child process: the same files as in-process, and a library that
// crashes or hangs on hostile text costs the decode, never the program.
#include "download/child_decoder_library.h"

#include <gmock/gmock.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

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

TEST_F(ChildDecoderTest, DecodesTheSameFileAsInProcess) {
    const std::string original = MakeFile("pic.bin", 30000);
    const std::vector<std::string> parts = Encode("pic.bin", "-y");
    ASSERT_EQ(parts.size(), 1u);
    const std::int32_t index = Queue("pic.bin", "11", parts[0]);
    log.Clear();
    EXPECT_TRUE(child_decoder.DecodePosting(index));
    EXPECT_EQ(ReadFile(dir.File("dl/pic.bin")), original);
    EXPECT_THAT(TakeLogged(), Contains(dir.File("dl/pic.bin") + " decode successful... "));
    EXPECT_FALSE(child.ChildFailed());
}

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
