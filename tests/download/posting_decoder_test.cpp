#include <gmock/gmock.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "download/download_fixture.h"
#include "download/file_names.h"
#include "download/yenc_decoder.h"

namespace quillfin::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

class PostingDecoderTest : public DecodeFixture {
  protected:
    // Stores part k (1-based) of a posting as the engine does when its article is complete.
    void Retrieve(std::int32_t index, std::int32_t part, const std::string& body) {
        const headers::PartRef& ref = table.Entry(index).Part(part);
        decoder.StorePart(index, part, ArticleReply(ref.ArticleNumber, ref.Subject, body));
    }
    std::vector<std::string> Numbers(std::size_t count, long long first = 3000000001LL) {
        std::vector<std::string> numbers;
        for (std::size_t i = 0; i < count; ++i) numbers.push_back(std::to_string(first + i));
        return numbers;
    }
    // A one-part uuencoded posting of a 3000-byte file, stored; returns its index.
    std::int32_t OnePart(const std::string& number = "5", const std::string& group = "alt.test",
                         const std::string& file = "img.bin") {
        original = MakeFile(file, 3000);
        const std::int32_t index = AddPosting(file, {number}, group);
        Retrieve(index, 1, Encode(file, "-u")[0]);
        return index;
    }
    // Parts 1..n of img.bin stored from parts[pick(k)], after clearing the log.
    std::int32_t Stored(const std::vector<std::string>& parts, std::vector<int> picks,
                        const std::vector<std::string>& numbers) {
        const std::int32_t index = AddPosting("img.bin", numbers);
        for (std::size_t k = 0; k < picks.size(); ++k)
            Retrieve(index, std::int32_t(k + 1), parts[std::size_t(picks[k])]);
        log.Clear();
        return index;
    }
    std::string original;
};

struct FormatCase {
    const char* name;
    std::string flag;
    std::size_t size;
    std::vector<int> order;  // the order the parts are retrieved in
};

class DecodeFormatTest : public PostingDecoderTest,
                         public ::testing::WithParamInterface<FormatCase> {};

TEST_P(DecodeFormatTest, GivesTheOriginalBytesAndCleansUp) {
    const FormatCase& c = GetParam();
    original = MakeFile("img.bin", c.size);
    const std::vector<std::string> parts = Encode("img.bin", c.flag);
    ASSERT_EQ(parts.size(), c.order.size());
    const std::int32_t index = AddPosting("img.bin", Numbers(parts.size()));
    for (int k : c.order) Retrieve(index, k, parts[std::size_t(k - 1)]);
    // The articles wait on disk, not in memory; yEnc ones are decoded as they come.
    const bool yenc = c.flag == "-y";
    EXPECT_EQ(decoder.Files().Count(), yenc ? 0 : parts.size());
    for (const headers::PartRef& part : table.Entry(index).Parts) EXPECT_TRUE(part.Body.empty());
    log.Clear();

    EXPECT_TRUE(decoder.DecodePosting(index));
    EXPECT_EQ(ReadFile(dir.File("dl/img.bin")), original);
    EXPECT_THAT(DownloadFolder(), ElementsAre("img.bin"));
    // Readable by others as any new file of the user's.
    const mode_t mask = ::umask(022);
    EXPECT_EQ(fs::status(dir.File("dl/img.bin")).permissions(), fs::perms(0666 & ~mask));
    ::umask(mask);
    std::vector<std::string> expected = {"Decoder ready, attachment found."};
    for (const std::string& n : Numbers(yenc ? 0 : parts.size()))
        expected.push_back("Removing temp file:" + dir.File("dl/" + n) + ".UUE");
    expected.push_back(dir.File("dl/img.bin") + " decode successful... ");
    EXPECT_EQ(TakeLogged(), expected);
    EXPECT_FALSE(table.Entry(index).InBatch);
    EXPECT_EQ(batch.Rows().Count(), 0);
    for (const headers::PartRef& part : table.Entry(index).Parts) EXPECT_TRUE(part.Retrieved);
    EXPECT_EQ(decoder.Files().Count(), 0u);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Formats, DecodeFormatTest, ::testing::Values(
    FormatCase{"UuencodeFiveParts", "-u", 200000, {1, 2, 3, 4, 5}},
    FormatCase{"UuencodeOutOfOrder", "-u", 200000, {5, 2, 4, 1, 3}},
    FormatCase{"YencTwoParts", "-y", 200000, {2, 1}},
    FormatCase{"Base64FourParts", "-b", 200000, {3, 1, 4, 2}},
    // 464 bytes: the last uuencoded line holds 14 bytes and begins with ".", which the
    // server doubles.
    FormatCase{"UuencodeLineBeginningWithADot", "-u", 464, {1}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(PostingDecoderTest, MissingPartFailsAndSavesOrRemovesTheTempFiles) {
    MakeFile("img.bin", 200000);
    const std::vector<std::string> parts = Encode("img.bin", "-u");
    for (int save : {1, 0}) {
        SCOPED_TRACE(save);
        settings.chkSaveDecodes = save;
        const std::string n = std::to_string(4000000001LL + save * 10);
        const std::int32_t index = AddPosting("img.bin", Numbers(5, 4000000001LL + save * 10));
        for (int k : {1, 2, 4, 5}) Retrieve(index, k, parts[std::size_t(k - 1)]);
        table.Entry(index).Part(3).Retrieved = true;  // as if retrieved, but nothing stored
        log.Clear();
        EXPECT_FALSE(decoder.DecodePosting(index));
        const std::vector<std::string> logged = TakeLogged();
        ASSERT_GE(logged.size(), 2u);
        EXPECT_EQ(logged[0], "decode_set error, no body for head item!");
        EXPECT_THAT(logged[1], StartsWith("decode err (UULoadFile) "));
        EXPECT_EQ(logged.back(), " decode error... ");
        EXPECT_FALSE(table.Entry(index).InBatch);
        if (save == 1) {
            EXPECT_EQ(DownloadFolder().size(), 4u);
            EXPECT_THAT(DownloadFolder(), Contains(n + ".UUE"));
            EXPECT_EQ(decoder.Files().Count(), 4u);  // a second try finds them again
        } else {
            EXPECT_THAT(logged, Contains("Removing temp file:" + dir.File("dl/" + n + ".UUE")));
        }
        fs::remove_all(dir.File("dl"));
        fs::create_directory(dir.File("dl"));
    }
}

// Failures after the library has the parts: the damaged file and the parts stay for the user.
TEST_F(PostingDecoderTest, APartMissingFromTheEncodingOrDamagedFailsTheDecode) {
    settings.chkSaveDecodes = 1;
    original = MakeFile("img.bin", 200000);
    // Four of five uuencoded parts, the fourth left out.
    const std::int32_t index = Stored(Encode("img.bin", "-u"), {0, 1, 2, 4}, Numbers(4));
    EXPECT_FALSE(decoder.DecodePosting(index));
    std::vector<std::string> logged = TakeLogged();
    EXPECT_THAT(logged, Contains(StartsWith("decode err (uuret:")));
    EXPECT_EQ(logged.back(), dir.File("dl/img.bin") + " decode error... ");
    EXPECT_THAT(DownloadFolder(), Not(Contains("img.bin")));
    EXPECT_EQ(DownloadFolder().size(), 4u);

    // One data byte changed in the middle of the second yEnc part.
    std::vector<std::string> parts = Encode("img.bin", "-y");
    std::string& second = parts[1];
    const std::size_t at = second.find("\n", second.size() / 2) + 5;
    second[at] = char(second[at] == 'A' ? 'B' : 'A');
    fs::remove_all(dir.File("dl"));
    fs::create_directory(dir.File("dl"));
    const std::int32_t damaged = Stored(parts, {0, 1}, Numbers(2, 10));
    EXPECT_FALSE(decoder.DecodePosting(damaged));
    EXPECT_THAT(TakeLogged(), ElementsAre("Decoder ready, attachment found.",
                                          "decode err -- yEnc checksum mismatch in part 2",
                                          "writing temp file:" + dir.File("dl/10.UUE"),
                                          "writing temp file:" + dir.File("dl/11.UUE"),
                                          dir.File("dl/img.bin") + " decode error... "));
    EXPECT_NE(ReadFile(dir.File("dl/img.bin")), original);
    EXPECT_THAT(DownloadFolder(), ElementsAre("10.UUE", "11.UUE", "img.bin"));
    // The damaged part is kept as it came; the good one is made again and decodes as it did.
    EXPECT_EQ(ReadFile(dir.File("dl/11.UUE")),
              download::PartFiles::ArticleText(ArticleReply("11", "img.bin", parts[1])));
    download::YencPart good;
    ASSERT_TRUE(download::DecodeYenc(ReadFile(dir.File("dl/10.UUE")), false, good));
    EXPECT_EQ(good.problem, "");
    EXPECT_EQ(good.data, original.substr(0, good.data.size()));
}

TEST_F(PostingDecoderTest, EmptyBodyOrAPostingDecodedEarlierFindsNothingToDecode) {
    const std::int32_t index = AddPosting("empty", Numbers(1));
    Retrieve(index, 1, "");
    log.Clear();
    EXPECT_FALSE(decoder.DecodePosting(index));
    EXPECT_THAT(TakeLogged(), ElementsAre("decode err -- uud reports nothing to decode",
                                          "Removing temp file:" + dir.File("dl/3000000001.UUE"),
                                          " decode error... "));
    EXPECT_THAT(DownloadFolder(), IsEmpty());

    // Decoded, then queued again: no text is left, and no neighbour's file is touched.
    const std::int32_t again = OnePart();
    ASSERT_TRUE(decoder.DecodePosting(again));
    batch.AddToBatch(again);
    log.Clear();
    EXPECT_FALSE(decoder.DecodePosting(again));
    const std::vector<std::string> logged = TakeLogged();
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[0], "decode_set error, no body for head item!");
    EXPECT_THAT(DownloadFolder(), ElementsAre("img.bin"));
}

struct NameCase {
    const char* name;
    std::string from, to;  // the name in the encoded data, the file made
    bool logged;
};

class DecodedNameTest : public PostingDecoderTest,
                        public ::testing::WithParamInterface<NameCase> {};

TEST_P(DecodedNameTest, StaysInsideTheDownloadFolder) {
    const NameCase& c = GetParam();
    original = MakeFile("img.bin", 3000);
    std::string part = Encode("img.bin", "-u")[0];
    const std::size_t begin = part.find("begin 644 img.bin");
    ASSERT_NE(begin, std::string::npos);
    part.replace(begin, 17, "begin 644 " + c.from);
    const std::int32_t index = AddPosting("x", Numbers(1));
    Retrieve(index, 1, part);
    log.Clear();
    EXPECT_TRUE(decoder.DecodePosting(index));
    EXPECT_EQ(ReadFile(dir.File("dl/" + c.to)), original);
    EXPECT_THAT(DownloadFolder(), ElementsAre(c.to));
    const std::vector<std::string> logged = TakeLogged();
    EXPECT_EQ(logged[1].starts_with("Unsafe file name"), c.logged) << logged[1];
    EXPECT_FALSE(fs::exists(dir.File("escaped")));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Names, DecodedNameTest, ::testing::Values(
    NameCase{"Plain", "photo.jpg", "photo.jpg", false},
    NameCase{"ParentFolder", "../escaped", "escaped", false},
    NameCase{"LeadingDot", ".bashrc", "bashrc", true},
    NameCase{"LeadingDash", "-rf", "rf", true},
    NameCase{"OnlyDots", "..", "attachment", true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(PostingDecoderTest, NeitherTheDecodedFileNorATempFileReplacesAnExistingOne) {
    dir.Write("dl/image.jpg", "keep me");
    dir.Write("dl/image (1).jpg", "keep me too");
    dir.Write("dl/77.UUE", "saved by the user");
    for (const char* number : {"100", "77"}) {
        const std::int32_t index = OnePart(number, "alt.test", "image.jpg");
        EXPECT_TRUE(decoder.DecodePosting(index));
    }
    EXPECT_EQ(ReadFile(dir.File("dl/image.jpg")), "keep me");
    EXPECT_EQ(ReadFile(dir.File("dl/image (1).jpg")), "keep me too");
    EXPECT_EQ(ReadFile(dir.File("dl/image (2).jpg")), original);
    EXPECT_EQ(ReadFile(dir.File("dl/image (3).jpg")), original);
    EXPECT_EQ(ReadFile(dir.File("dl/77.UUE")), "saved by the user");
    EXPECT_FALSE(fs::exists(dir.File("dl/77 (1).UUE")));  // the temp file was used and removed
}

TEST_F(PostingDecoderTest, PartsAreFoundAfterTheTableIsRebuilt) {
    OnePart("3000000001");
    // The table is loaded again with another posting in front: indices move.
    headers::HeaderEntryList list;
    list.push_back(entries[0]);
    list.back().Subject = "other";
    list.back().Parts[0].ArticleNumber = "9";
    list.push_back(entries[0]);
    list.back().Parts[0].Retrieved = true;
    table.Replace(std::move(list));
    batch.BuildBatchList();
    batch.AddToBatch(2);
    EXPECT_TRUE(decoder.DecodePosting(2));
    EXPECT_EQ(ReadFile(dir.File("dl/img.bin")), original);
}

TEST_F(PostingDecoderTest, GroupFoldersAreMadeAndKeptInside) {
    settings.chkMakeSubDirs = 1;
    for (const auto& [group, folder] : std::vector<std::pair<std::string, std::string>>{
             {"alt.binaries.test", "alt.binaries.test"},
             {"..", "newsgroup"},
             {"../..", "_.."},
             {"a/b", "a_b"}}) {
        SCOPED_TRACE(group);
        const std::int32_t index = OnePart("5", group);
        EXPECT_TRUE(fs::exists(dir.File("dl/" + folder + "/5.UUE")));
        EXPECT_TRUE(decoder.DecodePosting(index));
        EXPECT_EQ(ReadFile(dir.File("dl/" + folder + "/img.bin")), original);
    }
    EXPECT_THAT(DownloadFolder(), ElementsAre("_..", "a_b", "alt.binaries.test", "newsgroup"));
    // Once per folder made, not per part.
    const std::vector<std::string> logged = TakeLogged();
    EXPECT_EQ(
        std::count(logged.begin(), logged.end(), "Unsafe group name \"..\" saved as newsgroup"), 1);
}

TEST_F(PostingDecoderTest, UnwritableFolderKeepsTheArticleInMemoryAndThePostingQueued) {
    settings.Download_Path = dir.File("missing/folder/");
    const std::string reason = dir.File("missing/folder/") + ": No such file or directory";
    const std::int32_t index = OnePart();
    EXPECT_FALSE(table.Entry(index).Part(1).Body.empty());
    EXPECT_TRUE(table.Entry(index).Part(1).Retrieved);
    EXPECT_EQ(decoder.TakeWriteFailure(), reason);
    EXPECT_EQ(decoder.TakeWriteFailure(), "");
    // Still no folder at the decode: it fails, the text is still kept and nothing leaves.
    log.Clear();
    EXPECT_FALSE(decoder.DecodePosting(index));
    EXPECT_THAT(TakeLogged(),
                ElementsAre("Error, cannot write temp file in " + dir.File("missing/folder/")));
    EXPECT_EQ(decoder.TakeWriteFailure(), reason);
    EXPECT_FALSE(table.Entry(index).Part(1).Body.empty());
    EXPECT_TRUE(table.Entry(index).InBatch);
    // The folder appears; the next decode writes the kept text then.
    fs::create_directories(dir.File("missing/folder"));
    EXPECT_TRUE(decoder.DecodePosting(index));
    EXPECT_TRUE(table.Entry(index).Part(1).Body.empty());
    EXPECT_TRUE(fs::exists(dir.File("missing/folder/img.bin")));
}

TEST_F(PostingDecoderTest, TheLibraryServesOneRunAtATime) {
    download::UuDecoderLibrary other;
    ASSERT_TRUE(other.StartRun());
    const std::int32_t index = OnePart();
    log.Clear();
    EXPECT_FALSE(decoder.DecodePosting(index));
    EXPECT_THAT(TakeLogged(),
                ElementsAre("decode err -- the decoder is busy with another posting"));
    EXPECT_TRUE(table.Entry(index).InBatch);
    EXPECT_THAT(DownloadFolder(), ElementsAre("5.UUE"));
    other.EndRun();
    EXPECT_TRUE(decoder.DecodePosting(index));
    EXPECT_THAT(DownloadFolder(), ElementsAre("img.bin"));
}

// yEnc postings are filed without the library: never a ".UUE" on success, never a partial
// file under a final name, never a file replaced.
TEST_F(PostingDecoderTest, YencPostingsAreFiledAsTheyArriveAndNothingPartialIsLeft) {
    original = MakeFile("img.bin", 200000);
    const std::vector<std::string> parts = Encode("img.bin", "-y", 300);
    ASSERT_GE(parts.size(), 4u);
    download::YencPart third;
    ASSERT_TRUE(download::DecodeYenc(parts[2], false, third));
    for (int save : {1, 0}) {
        SCOPED_TRACE(save);
        settings.chkSaveDecodes = save;
        // The fourth part never came.
        const long long first = 100 + save * 10;
        const std::int32_t index = Stored(parts, {0, 1, 2}, Numbers(4, first));
        table.Entry(index).Part(4).Retrieved = true;
        EXPECT_FALSE(decoder.DecodePosting(index));
        const std::vector<std::string> logged = TakeLogged();
        ASSERT_GE(logged.size(), 3u);
        EXPECT_EQ(logged[0], "decode_set error, no body for head item!");
        EXPECT_EQ(logged[2], "decode err -- yEnc data incomplete: " +
                                 std::to_string(third.header.end) + " of 200000 bytes");
        EXPECT_EQ(logged.back(), dir.File("dl/img.bin") + " decode error... ");
        std::vector<std::string> kept;
        for (long long n = first; save == 1 && n < first + 3; ++n)
            kept.push_back(std::to_string(n) + ".UUE");
        EXPECT_EQ(DownloadFolder(), kept);
        fs::remove_all(dir.File("dl"));
        fs::create_directory(dir.File("dl"));
    }
    // Taken names are passed over; folders in the name are dropped.
    dir.Write("dl/img.bin", "keep me");
    std::vector<std::string> renamed = parts;
    for (std::string& part : renamed)
        part.replace(part.find("name=img.bin"), 12, "name=../img.bin");
    std::vector<int> reversed;
    for (int k = int(parts.size()) - 1; k >= 0; --k) reversed.push_back(k);
    const std::int32_t index = Stored(renamed, reversed, Numbers(parts.size(), 200));
    EXPECT_TRUE(decoder.DecodePosting(index));
    EXPECT_EQ(ReadFile(dir.File("dl/img.bin")), "keep me");
    EXPECT_EQ(ReadFile(dir.File("dl/img (1).bin")), original);
    EXPECT_THAT(DownloadFolder(), ElementsAre("img (1).bin", "img.bin"));
}

TEST_F(PostingDecoderTest, AYencPostingTheDiskWillNotTakeStaysInMemory) {
    original = MakeFile("img.bin", 3000);
    dir.Write("dl/7.part", "");
    fs::create_directory(dir.File("dl/7 (1).part"));  // taken twice: still a name is found
    const std::int32_t index = AddPosting("img.bin", {"7"});
    const std::string reply = ArticleReply("7", "img.bin", Encode("img.bin", "-y")[0]);
    decoder.StorePart(index, 1, reply);
    EXPECT_TRUE(decoder.DecodePosting(index));
    EXPECT_EQ(ReadFile(dir.File("dl/img.bin")), original);
    EXPECT_EQ(ReadFile(dir.File("dl/7.part")), "");

    // A file where the download folder should be: the text stays for a later try.
    settings.Download_Path = dir.File("dl/img.bin") + "/";
    batch.AddToBatch(index);
    table.Entry(index).Part(1).Retrieved = false;
    decoder.StorePart(index, 1, reply);
    EXPECT_EQ(table.Entry(index).Part(1).Body.str(), reply);
    EXPECT_FALSE(decoder.DecodePosting(index));
    EXPECT_EQ(table.Entry(index).Part(1).Body.str(), reply);
    EXPECT_TRUE(table.Entry(index).InBatch);
    EXPECT_THAT(decoder.TakeWriteFailure(), HasSubstr("Not a directory"));
}

TEST(FileNamesTest, SafeNameKeepsOnlyAPlainName) {
    const std::pair<std::string, std::string> cases[] = {
        {"photo.jpg", "photo.jpg"},
        {"../../etc/passwd", "_.._etc_passwd"},
        {"..", ""},
        {"-rf", "rf"},
        {" .-.x", "x"},
        {"a\\b", "a_b"},
        {std::string("a\0b", 3), "a_b"},
        {"tab\there", "tab_here"},
        {"del\x7f", "del_"},
        {"trailing  ", "trailing"},
        {"na\xe9ve.txt", "na\xe9ve.txt"},
        {std::string(300, 'n') + ".jpeg", std::string(195, 'n') + ".jpeg"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(download::SafeName(in), out) << in;
}

TEST(FileNamesTest, UniquePathCountsUpAndTreatsALinkAsTaken) {
    TempDir dir;
    EXPECT_EQ(download::UniquePath(dir.Path(), "a.tar.gz"), dir.File("a.tar.gz"));
    dir.Write("a.tar.gz", "x");
    EXPECT_EQ(download::UniquePath(dir.Path(), "a.tar.gz"), dir.File("a.tar (1).gz"));
    dir.Write("noext", "x");
    EXPECT_EQ(download::UniquePath(dir.Path() + "/", "noext"), dir.File("noext (1)"));
    fs::create_symlink(dir.File("nowhere"), dir.File("link.jpg"));
    EXPECT_EQ(download::UniquePath(dir.Path(), "link.jpg"), dir.File("link (1).jpg"));
    EXPECT_FALSE(download::WriteNewFile(dir.File("link.jpg"), "y"));
    EXPECT_FALSE(fs::exists(dir.File("nowhere")));
}

TEST(PartFilesTest, APartWrittenTwiceLeavesOneFileTheSecond) {
    TempDir dir;
    download::PartFiles files;
    headers::PartRef part;
    part.ArticleNumber = "9";
    part.Group = "alt.test";
    files.Write(part, dir.Path(), "first\r\n.\r\n");
    const std::string second = files.Write(part, dir.Path(), "second\r\n.\r\n");
    EXPECT_EQ(files.Count(), 1u);
    EXPECT_EQ(files.PathOf(part), second);
    EXPECT_EQ(ReadFile(second), "second\r\n");
    EXPECT_FALSE(fs::exists(dir.File("9.UUE")));
}

TEST(PartFilesTest, ArticleTextUndoesDotStuffingAndDropsTheEndLine) {
    using download::PartFiles;
    EXPECT_EQ(PartFiles::ArticleText("220 1 <a> article\r\nS: x\r\n\r\n..dot\r\nM\r\n.\r\n"),
              "220 1 <a> article\r\nS: x\r\n\r\n.dot\r\nM\r\n");
    EXPECT_EQ(PartFiles::ArticleText("a\r\n.\r\nafter\r\n"), "a\r\n");
    EXPECT_EQ(PartFiles::ArticleText("no end"), "no end");
}

}  // namespace
}  // namespace quillfin::testing
