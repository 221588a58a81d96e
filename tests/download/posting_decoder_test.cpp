#include <gmock/gmock.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "download/download_fixture.h"
#include "download/file_names.h"
#include "download/yenc_check.h"

namespace quillfin::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

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
    const std::string original = MakeFile("img.bin", c.size);
    const std::vector<std::string> parts = Encode("img.bin", c.flag);
    ASSERT_EQ(parts.size(), c.order.size());
    const std::int32_t index = AddPosting("img.bin", Numbers(parts.size()));
    for (int k : c.order) Retrieve(index, k, parts[std::size_t(k - 1)]);
    // The articles wait on disk, not in memory.
    EXPECT_EQ(decoder.Files().Count(), parts.size());
    for (const headers::PartRef& part : table.Entry(index).Parts) EXPECT_TRUE(part.Body.empty());
    log.Clear();

    EXPECT_TRUE(decoder.DecodePosting(index));
    EXPECT_EQ(ReadFile(dir.File("dl/img.bin")), original);
    EXPECT_THAT(DownloadFolder(), ElementsAre("img.bin"));
    // Readable by others as any new file of the user's (the usual umask 022 here).
    const mode_t mask = ::umask(022);
    EXPECT_EQ(std::filesystem::status(dir.File("dl/img.bin")).permissions(),
              std::filesystem::perms(0666 & ~mask));
    ::umask(mask);
    std::vector<std::string> expected = {"Decoder ready, attachment found."};
    for (std::size_t k = 0; k < parts.size(); ++k)
        expected.push_back("Removing temp file:" + dir.File("dl/" + Numbers(parts.size())[k]) +
                           ".UUE");
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
    FormatCase{"UuencodeSinglePart", "-u", 3000, {1}},
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
        const std::int32_t index = AddPosting("img.bin", Numbers(5, 4000000001LL + save * 10));
        for (int k : {1, 2, 4, 5}) Retrieve(index, k, parts[std::size_t(k - 1)]);
        table.Entry(index).Part(3).Retrieved = true;  // as if retrieved, but nothing stored
        log.Clear();
        EXPECT_FALSE(decoder.DecodePosting(index));
        const std::vector<std::string> logged = TakeLogged();
        ASSERT_GE(logged.size(), 2u);
        EXPECT_EQ(logged[0], "decode_set error, no body for head item!");
        EXPECT_THAT(logged[1], ::testing::StartsWith("decode err (UULoadFile) "));
        EXPECT_EQ(logged.back(), " decode error... ");
        EXPECT_FALSE(table.Entry(index).InBatch);
        const std::string n = std::to_string(4000000001LL + save * 10);
        if (save == 1) {
            EXPECT_EQ(DownloadFolder().size(), 4u);
            EXPECT_THAT(DownloadFolder(), Contains(n + ".UUE"));
            EXPECT_EQ(decoder.Files().Count(), 4u);  // a second try finds them again
        } else {
            EXPECT_THAT(logged, Contains("Removing temp file:" + dir.File("dl/" + n + ".UUE")));
        }
        std::filesystem::remove_all(dir.File("dl"));
        std::filesystem::create_directory(dir.File("dl"));
    }
}

TEST_F(PostingDecoderTest, AllPartsPresentButOneMissingFromTheEncodingFails) {
    MakeFile("img.bin", 200000);
    const std::vector<std::string> parts = Encode("img.bin", "-u");
    settings.chkSaveDecodes = 1;
    const std::int32_t index = AddPosting("img.bin", Numbers(4));
    for (int k : {1, 2, 3, 4}) Retrieve(index, k, parts[std::size_t(k == 4 ? 4 : k - 1)]);
    log.Clear();
    EXPECT_FALSE(decoder.DecodePosting(index));
    const std::vector<std::string> logged = TakeLogged();
    EXPECT_THAT(logged, Contains("Decoder ready, attachment found."));
    EXPECT_THAT(logged, Contains(::testing::StartsWith("decode err (uuret:")));
    EXPECT_EQ(logged.back(), dir.File("dl/img.bin") + " decode error... ");
    EXPECT_FALSE(std::filesystem::exists(dir.File("dl/img.bin")));
    EXPECT_EQ(DownloadFolder().size(), 4u);  // the four .UUE files stay for the user
}

TEST_F(PostingDecoderTest, DamagedYencPartIsReported) {
    const std::string original = MakeFile("img.bin", 200000);
    std::vector<std::string> parts = Encode("img.bin", "-y");
    // Change one data byte in the middle of the second part.
    std::string& second = parts[1];
    const std::size_t at = second.find("\n", second.size() / 2) + 5;
    second[at] = char(second[at] == 'A' ? 'B' : 'A');
    settings.chkSaveDecodes = 1;
    const std::int32_t index = AddPosting("img.bin", Numbers(2));
    Retrieve(index, 1, parts[0]);
    Retrieve(index, 2, parts[1]);
    log.Clear();
    const bool ok = decoder.DecodePosting(index);
    const std::vector<std::string> logged = TakeLogged();
    EXPECT_FALSE(ok);
    EXPECT_THAT(logged, ElementsAre("Decoder ready, attachment found.",
                                    "decode err -- yEnc checksum mismatch in part 2",
                                    dir.File("dl/img.bin") + " decode error... "));
    // The damaged file and, with chkSaveDecodes, the parts stay for the user.
    EXPECT_NE(ReadFile(dir.File("dl/img.bin")), original);
    EXPECT_EQ(DownloadFolder().size(), 3u);
}

TEST_F(PostingDecoderTest, EmptyBodyFindsNothingToDecode) {
    const std::int32_t index = AddPosting("empty", Numbers(1));
    Retrieve(index, 1, "");
    log.Clear();
    EXPECT_FALSE(decoder.DecodePosting(index));
    EXPECT_THAT(TakeLogged(), ElementsAre("decode err -- uud reports nothing to decode",
                                          "Removing temp file:" + dir.File("dl/3000000001.UUE"),
                                          " decode error... "));
    EXPECT_THAT(DownloadFolder(), IsEmpty());
}

TEST_F(PostingDecoderTest, DecodedEarlierAndQueuedAgainFailsWithoutNeighboursFile) {
    MakeFile("img.bin", 3000);
    const std::vector<std::string> parts = Encode("img.bin", "-u");
    const std::int32_t index = AddPosting("img.bin", Numbers(1));
    Retrieve(index, 1, parts[0]);
    ASSERT_TRUE(decoder.DecodePosting(index));
    batch.AddToBatch(index);
    log.Clear();
    EXPECT_FALSE(decoder.DecodePosting(index));
    const std::vector<std::string> logged = TakeLogged();
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[0], "decode_set error, no body for head item!");
    EXPECT_EQ(logged[2], " decode error... ");
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
    const std::string original = MakeFile("img.bin", 3000);
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
    EXPECT_EQ(logged.back(), dir.File("dl/" + c.to) + " decode successful... ");
    EXPECT_EQ(logged[1].starts_with("Unsafe file name"), c.logged) << logged[1];
    EXPECT_FALSE(std::filesystem::exists(dir.File("escaped")));
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

TEST_F(PostingDecoderTest, NeverOverwritesAnExistingFile) {
    const std::string original = MakeFile("image.jpg", 3000);
    const std::string part = Encode("image.jpg", "-u")[0];
    dir.Write("dl/image.jpg", "keep me");
    dir.Write("dl/image (1).jpg", "keep me too");
    for (int round = 0; round < 2; ++round) {
        const std::int32_t index = AddPosting("image.jpg", Numbers(1, 100 + round));
        Retrieve(index, 1, part);
        EXPECT_TRUE(decoder.DecodePosting(index));
    }
    EXPECT_EQ(ReadFile(dir.File("dl/image.jpg")), "keep me");
    EXPECT_EQ(ReadFile(dir.File("dl/image (1).jpg")), "keep me too");
    EXPECT_EQ(ReadFile(dir.File("dl/image (2).jpg")), original);
    EXPECT_EQ(ReadFile(dir.File("dl/image (3).jpg")), original);
}

TEST_F(PostingDecoderTest, TempFileNeverReplacesAFileOfTheSameName) {
    MakeFile("img.bin", 3000);
    const std::string part = Encode("img.bin", "-u")[0];
    dir.Write("dl/77.UUE", "saved by the user");
    const std::int32_t index = AddPosting("img.bin", {"77"});
    Retrieve(index, 1, part);
    EXPECT_EQ(decoder.Files().PathOf(table.Entry(index).Part(1)), dir.File("dl/77 (1).UUE"));
    EXPECT_TRUE(decoder.DecodePosting(index));
    EXPECT_EQ(ReadFile(dir.File("dl/77.UUE")), "saved by the user");
}

TEST_F(PostingDecoderTest, PartsAreFoundAfterTheTableIsRebuilt) {
    const std::string original = MakeFile("img.bin", 3000);
    const std::string part = Encode("img.bin", "-u")[0];
    AddPosting("img.bin", {"3000000001"});
    Retrieve(1, 1, part);
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
    const std::string original = MakeFile("img.bin", 3000);
    const std::string part = Encode("img.bin", "-u")[0];
    for (const auto& [group, folder] : std::vector<std::pair<std::string, std::string>>{
             {"alt.binaries.test", "alt.binaries.test"},
             {"..", "newsgroup"},
             {"../..", "_.."},
             {"a/b", "a_b"}}) {
        SCOPED_TRACE(group);
        const std::int32_t index = AddPosting("img.bin", {"5"}, group);
        Retrieve(index, 1, part);
        EXPECT_TRUE(std::filesystem::exists(dir.File("dl/" + folder + "/5.UUE")));
        EXPECT_TRUE(decoder.DecodePosting(index));
        EXPECT_EQ(ReadFile(dir.File("dl/" + folder + "/img.bin")), original);
    }
    EXPECT_THAT(DownloadFolder(), ElementsAre("_..", "a_b", "alt.binaries.test", "newsgroup"));
    // Once per folder made, not per part.
    const std::vector<std::string> logged = TakeLogged();
    EXPECT_EQ(
        std::count(logged.begin(), logged.end(), "Unsafe group name \"..\" saved as newsgroup"), 1);
}

TEST_F(PostingDecoderTest, UnwritableFolderKeepsTheArticleInMemory) {
    MakeFile("img.bin", 3000);
    const std::string part = Encode("img.bin", "-u")[0];
    settings.Download_Path = dir.File("missing/folder/");
    const std::int32_t index = AddPosting("img.bin", {"5"});
    Retrieve(index, 1, part);
    EXPECT_FALSE(table.Entry(index).Part(1).Body.empty());
    EXPECT_TRUE(table.Entry(index).Part(1).Retrieved);
    // Still no folder at the decode: it fails, and the text is still kept.
    log.Clear();
    EXPECT_FALSE(decoder.DecodePosting(index));
    EXPECT_THAT(TakeLogged(),
                ElementsAre("Error, cannot write temp file in " + dir.File("missing/folder/"),
                            " decode error... "));
    EXPECT_FALSE(table.Entry(index).Part(1).Body.empty());
    // The folder appears; queued again, the decode writes the kept text then.
    std::filesystem::create_directories(dir.File("missing/folder"));
    batch.AddToBatch(index);
    EXPECT_TRUE(decoder.DecodePosting(index));
    EXPECT_TRUE(table.Entry(index).Part(1).Body.empty());
    EXPECT_TRUE(std::filesystem::exists(dir.File("missing/folder/img.bin")));
}

TEST_F(PostingDecoderTest, TheLibraryServesOneRunAtATime) {
    download::UuDecoderLibrary other;
    ASSERT_TRUE(other.StartRun());
    MakeFile("img.bin", 3000);
    const std::int32_t index = AddPosting("img.bin", {"5"});
    Retrieve(index, 1, Encode("img.bin", "-u")[0]);
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

struct SafeNameCase {
    std::string in, out;
};

TEST(FileNamesTest, SafeNameKeepsOnlyAPlainName) {
    const SafeNameCase cases[] = {
        {"photo.jpg", "photo.jpg"},
        {"../../etc/passwd", "_.._etc_passwd"},
        {"..", ""},
        {".", ""},
        {"", ""},
        {"-rf", "rf"},
        {" .-.x", "x"},
        {"a\\b", "a_b"},
        {std::string("a\0b", 3), "a_b"},
        {"tab\there", "tab_here"},
        {"del\x7f", "del_"},
        {"trailing  ", "trailing"},
        {"3000000001", "3000000001"},
        {"na\xe9ve.txt", "na\xe9ve.txt"},
    };
    for (const SafeNameCase& c : cases) EXPECT_EQ(download::SafeName(c.in), c.out) << c.in;
    const std::string longName = std::string(300, 'n') + ".jpeg";
    EXPECT_EQ(download::SafeName(longName), std::string(195, 'n') + ".jpeg");
}

TEST(FileNamesTest, UniquePathCountsUpAndTreatsALinkAsTaken) {
    TempDir dir;
    EXPECT_EQ(download::UniquePath(dir.Path(), "a.tar.gz"), dir.File("a.tar.gz"));
    dir.Write("a.tar.gz", "x");
    EXPECT_EQ(download::UniquePath(dir.Path(), "a.tar.gz"), dir.File("a.tar (1).gz"));
    dir.Write("noext", "x");
    EXPECT_EQ(download::UniquePath(dir.Path() + "/", "noext"), dir.File("noext (1)"));
    std::filesystem::create_symlink(dir.File("nowhere"), dir.File("link.jpg"));
    EXPECT_EQ(download::UniquePath(dir.Path(), "link.jpg"), dir.File("link (1).jpg"));
    EXPECT_FALSE(download::WriteNewFile(dir.File("link.jpg"), "y"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("nowhere")));
}

TEST(PartFilesTest, ArticleTextUndoesDotStuffingAndDropsTheEndLine) {
    using download::PartFiles;
    EXPECT_EQ(PartFiles::ArticleText("220 1 <a> article\r\nS: x\r\n\r\n..dot\r\nM\r\n.\r\n"),
              "220 1 <a> article\r\nS: x\r\n\r\n.dot\r\nM\r\n");
    EXPECT_EQ(PartFiles::ArticleText("a\r\n.\r\nafter\r\n"), "a\r\n");
    EXPECT_EQ(PartFiles::ArticleText("no end"), "no end");
    EXPECT_EQ(PartFiles::ArticleText(""), "");
}

std::string Hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

TEST(YencCheckTest, ChecksumsOfPartsAndWholeFile) {
    EXPECT_EQ(download::YencCheck::Crc32(0, "123456789"), 0xCBF43926u);
    TempDir dir;
    dir.Write("file", "hello world");
    const std::string crc = "0d4a1185";  // of "hello world"
    struct Case {
        std::string trailer;
        std::string problem;
    };
    const Case cases[] = {
        {"=ybegin line=128 size=11 name=f\r\n=yend size=11 crc32=" + crc + "\r\n", ""},
        {"=ybegin line=128 size=11 name=f\r\n=yend size=11 crc32=0d4a1186\r\n",
         "yEnc checksum mismatch in the file (expected d4a1186)"},
        {"=ybegin part=1 size=11 name=f\r\n=ypart begin=1 end=5\r\n=yend part=1 pcrc32=" +
             Hex8(download::YencCheck::Crc32(0, "hello")) + "\r\n",
         ""},
        {"=ybegin part=2 size=11 name=f\r\n=ypart begin=7 end=11\r\n=yend part=2 pcrc32=" +
             Hex8(download::YencCheck::Crc32(0, "worle")) + "\r\n",
         "yEnc checksum mismatch in part 2"},
        // Past the end of the decoded file: a part is missing from it.
        {"=ybegin part=3 size=20 name=f\r\n=ypart begin=12 end=20\r\n=yend part=3 pcrc32=0\r\n",
         "yEnc checksum mismatch in part 3"},
        {"no yEnc here\r\n", ""},
    };
    for (const Case& c : cases) {
        dir.Write("part", c.trailer);
        download::YencCheck check;
        check.AddPartFile(dir.File("part"));
        EXPECT_EQ(check.Verify(dir.File("file")), c.problem) << c.trailer;
    }
}

}  // namespace
}  // namespace quillfin::testing
