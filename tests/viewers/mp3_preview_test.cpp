// The MP3 preview: which part it takes, its ARTICLE exchange over a scripted socket, and a real
// decode of one part of a posting that uuenview made.
#include "viewers/mp3_preview.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>

#include "download/uu_decoder_library.h"
#include "nntp/scan_fixture.h"
#include "testserver/binary_encoders.h"

namespace quillfin::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Parts as "subject|subject"; a leading "~" makes a part of 10 bytes.
headers::HeaderEntry Posting(const std::string& subjects) {
    headers::HeaderEntry entry;
    entry.Subject = "song.mp3";
    long number = 4000000000;
    for (std::string subject : Items(subjects)) {
        headers::PartRef& part = entry.Parts.emplace_back();
        part.Bytes = subject.starts_with("~") ? 10 : 62000;
        part.Subject = subject.substr(subject.starts_with("~"));
        part.ArticleNumber = std::to_string(number++);
        part.Group = "alt.test";
    }
    return entry;
}

struct Choice {
    const char* name;
    std::string subjects;
    std::int32_t chosen;
};

class ChooseFirstPartTest : public ::testing::TestWithParam<Choice> {};

TEST_P(ChooseFirstPartTest, TakesTheMarkedPart) {
    EXPECT_EQ(viewers::Mp3Preview::ChooseFirstPart(Posting(GetParam().subjects)),
              GetParam().chosen);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Subjects, ChooseFirstPartTest, ::testing::Values(
    Choice{"TwoDigits", "s (03/12)|s (01/12)|s (02/12)", 2},
    Choice{"ThreeDigits", "s (002/120)|s (010/120)|s (001/120)", 3},
    // "1/" is neither the tail of "11/" or "21/" nor "001/" the tail of "2001/".
    Choice{"OneDigitNotATensPart", "s (1/30)|s (11/30)|s (21/30)", 1},
    Choice{"NotTheTailOfALongerNumber", "s (2001/3000)|s (1/3000)|s (1001/3000)", 2},
    Choice{"ARepostLaterInTheListWins", "s (01/12)|s (02/12)|s (01/12)", 3},
    Choice{"ATinyPartIsNeverChosen", "s (02/12)|~s (01/12)", 1},
    Choice{"NoMarkerTakesPartOne", "song.mp3|song.mp3 again", 1},
    Choice{"NoParts", "", 0}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

class Mp3PreviewTest : public ScanFixture {
  protected:
    Mp3PreviewTest() {
        std::filesystem::create_directory(dir.File("dl"));
        settings.Download_Path = dir.File("dl");
        preview.AttachSocket(&socket);
        preview.openWithShell = [this](const std::string& path) { opened.push_back(path); };
    }
    void SetTable(headers::HeaderEntry entry, headers::HeaderEntry second = {}) {
        headers::HeaderTable::EntryList entries;
        entries.push_back(std::move(entry));
        if (!second.Parts.empty()) entries.push_back(std::move(second));
        table.Replace(std::move(entries));
    }
    std::vector<std::string> Say(const std::string& chunk) {
        socket.Deliver(chunk);
        return std::exchange(socket.sent, {});
    }
    // Random bytes as song.mp3, cut by uuenview into parts of 1000 lines; the first part.
    std::string EncodeFirstPart(std::size_t size) {
        std::mt19937 random{unsigned(size)};
        original.resize(size);
        for (char& c : original) c = char(random());
        dir.Write("song.mp3", original);
        std::filesystem::create_directory(dir.File("enc"));
        const std::string command =
            "cd '" + dir.Path() + "' && uuenview -u -1000 -od enc song.mp3 >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << "uuenview (Debian package uudeview)";
        std::set<std::string> names;
        for (const auto& file : std::filesystem::directory_iterator(dir.File("enc")))
            names.insert(file.path().filename());
        return names.empty() ? std::string() : dir.Read("enc/" + *names.begin());
    }
    // The ARTICLE reply as it comes off the wire: CR LF, dot-stuffed, with its end line.
    static std::string Reply(const std::string& text) {
        std::string reply = "220 4000000001 <p1@example.test> article\r\nSubject: s\r\n\r\n";
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = std::min(text.find('\n', at), text.size());
            const std::string line = text.substr(at, end - at);
            reply += (line.starts_with(".") ? "." : "") + line + "\r\n";
            at = end + 1;
        }
        return reply + ".\r\n";
    }
    std::string Decoded() const { return dir.Read(std::string("dl/") + kDecoded); }
    std::vector<std::string> DownloadFolder() const {
        std::vector<std::string> names;
        for (const auto& file : std::filesystem::directory_iterator(dir.File("dl")))
            names.push_back(file.path().filename());
        return names;
    }

    static constexpr const char* kDecoded = viewers::Mp3Preview::kDecodedFile;
    FakeSocket socket;
    download::UuDecoderLibrary library;
    viewers::Mp3Preview preview{connections, table, library};
    std::vector<std::string> opened;
    std::string original;
};

TEST_F(Mp3PreviewTest, FetchesPartOneWithArticleAndPlaysWhatItDecodes) {
    const std::string part = EncodeFirstPart(200000);
    ASSERT_FALSE(part.empty());
    SetTable(Posting("song.mp3 (02/05)|song.mp3 (01/05)"));
    preview.PreviewMp3(1);
    EXPECT_TRUE(preview.State().visible);
    EXPECT_EQ(preview.State().subject, "song.mp3 (01/05)");
    EXPECT_EQ(preview.State().maximum, 62000);
    EXPECT_EQ(socket.connects, 1);
    EXPECT_THAT(Say("200 ready\r\n"), ElementsAre("GROUP alt.test"));
    // Past 32 bits intact, with the sign blank.
    EXPECT_THAT(Say("211 3 1 3 alt.test\r\n"), ElementsAre("ARTICLE  4000000001"));

    const std::string reply = Reply(part);
    EXPECT_THAT(Say(reply.substr(0, 1000)), IsEmpty());
    EXPECT_EQ(preview.State().status, "Downloading preview:  1000 of 62000 bytes");
    EXPECT_EQ(preview.State().progress, 1000);
    EXPECT_THAT(Say(reply.substr(1000)), ElementsAre("QUIT"));
    EXPECT_FALSE(preview.State().visible);
    EXPECT_EQ(socket.closes, 1);

    // Only the one part was there to decode: the start of the file, and nothing else left.
    const std::string decoded = Decoded();
    ASSERT_GT(decoded.size(), 40000u);
    EXPECT_LT(decoded.size(), original.size());
    EXPECT_EQ(decoded, original.substr(0, decoded.size()));
    EXPECT_THAT(DownloadFolder(), ElementsAre(kDecoded));
    EXPECT_THAT(opened, ElementsAre(dir.File("dl") + "/" + kDecoded));
    EXPECT_THAT(TakeLogged(), Contains("Launching MP3 preview..."));
    // Kept for a batch, on that part alone.
    EXPECT_TRUE(table.Entry(1).Part(2).Retrieved);
    EXPECT_EQ(table.Entry(1).Part(2).Body.str(), reply);
    EXPECT_FALSE(table.Entry(1).Part(1).Retrieved);

    // The next run, a batch's, never decodes half a posting as if it were whole.
    dir.Write("part1.uue", part);
    ASSERT_TRUE(library.StartRun());
    ASSERT_EQ(library.LoadFile(dir.File("part1.uue")), 0);
    EXPECT_FALSE(library.Decode(library.FirstItem(), dir.File("half.mp3")).ok);
    library.EndRun();
}

// Decoded once already (Retrieved, no text): fetched again, not given up.
TEST_F(Mp3PreviewTest, ADecodedPartIsFetchedAgainAndA423LeavesTheWindowWaiting) {
    SetTable(Posting("song.mp3 (1/1)"));
    table.Entry(1).Part(1).Retrieved = true;
    preview.PreviewMp3(1);
    EXPECT_EQ(socket.connects, 1);
    Say("200 ready\r\n");
    EXPECT_THAT(Say("211 3 1 3 alt.test\r\n"), ElementsAre("ARTICLE  4000000000"));
    EXPECT_THAT(Say("423 no such article\r\n"), IsEmpty());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "bad article number");
    EXPECT_TRUE(preview.State().visible);
    EXPECT_THAT(opened, IsEmpty());
    EXPECT_THAT(DownloadFolder(), IsEmpty());
}

TEST_F(Mp3PreviewTest, ATextInMemoryIsDecodedWithoutAConnectionOnceTheDecoderIsFree) {
    const std::string part = EncodeFirstPart(20000);  // one part: the whole file
    SetTable(Posting("song.mp3 (1/1)"), Posting("other.mp3 (1/1)"));
    table.Entry(1).Part(1).Retrieved = true;
    table.Entry(1).Part(1).Body = Reply(part);
    // A fetch under way for another posting is dropped: its reply would land on this one.
    preview.PreviewMp3(2);
    Say("200 ready\r\n");

    download::UuDecoderLibrary batch;
    ASSERT_TRUE(batch.StartRun());
    TakeLogged();
    preview.PreviewMp3(1);
    EXPECT_EQ(socket.closes, 1);
    EXPECT_FALSE(preview.State().visible);
    EXPECT_THAT(TakeLogged(),
                Contains("PreviewMP3: the decoder is busy with a download; try again when it is "
                         "done"));
    EXPECT_THAT(DownloadFolder(), IsEmpty());
    EXPECT_THAT(opened, IsEmpty());

    batch.EndRun();
    dir.Write(std::string("dl/") + kDecoded, "the last preview");
    preview.PreviewMp3(1);
    EXPECT_EQ(socket.connects, 1);
    EXPECT_EQ(Decoded(), original);
    EXPECT_THAT(DownloadFolder(), ElementsAre(kDecoded));
    EXPECT_EQ(opened.size(), 1u);
}

// What the batch has on disk plays from there: a part file, a checked yEnc part, a filed posting.
TEST_F(Mp3PreviewTest, WhatTheBatchHasOnDiskPlaysWithoutAConnection) {
    headers::BatchQueue batch{table, view, log, prompts};
    download::PostingDecoder decoder{table, batch, settings, log, pump, library};
    preview.SetBatchFiles(&decoder);
    std::string data(90000, '\0');
    for (std::mt19937 random{7}; char& c : data) c = char(random());
    headers::HeaderTable::EntryList entries;
    for (const char* group : {"a.uu", "a.yenc", "a.filed"}) {
        entries.push_back(Posting("song.mp3 (1/3)|song.mp3 (2/3)|song.mp3 (3/3)"));
        for (headers::PartRef& part : entries.back().Parts) part.Group = group;
    }
    table.Replace(std::move(entries));
    for (std::int32_t i = 1; i <= 3; ++i) {
        auto bodies = i == 1 ? testserver::UuencodeParts("song.mp3", data, 3)
                             : testserver::YencParts("song.mp3", data, 3);
        for (std::int32_t p = 1; p <= 3; ++p) {
            std::erase(bodies[p - 1], '\r');
            decoder.StorePart(i, p, Reply(bodies[p - 1]));
        }
    }
    ASSERT_TRUE(decoder.DecodePosting(3));
    for (std::int32_t i = 1; i <= 3; ++i) {
        preview.PreviewMp3(i);
        const std::string decoded = Decoded();
        // Part 1 alone is a third of the file; a filed posting plays whole.
        EXPECT_NEAR(double(decoded.size()), i == 3 ? 90000 : 30000, 50) << i;
        EXPECT_EQ(decoded, data.substr(0, decoded.size())) << i;
    }
    EXPECT_EQ(socket.connects, 0);
    EXPECT_EQ(opened.size(), 3u);
}

TEST_F(Mp3PreviewTest, NothingToDecodeOrNoFolderToWriteInOpensNothing) {
    SetTable(Posting("song.mp3 (1/1)"));
    table.Entry(1).Part(1).Retrieved = true;
    table.Entry(1).Part(1).Body = Reply("no encoded data here");
    TakeLogged();
    preview.PreviewMp3(1);
    EXPECT_THAT(TakeLogged(), Contains("Error: decoder didn't find any data"));
    EXPECT_THAT(DownloadFolder(), IsEmpty());

    settings.Download_Path = dir.File("gone");
    preview.PreviewMp3(1);
    EXPECT_THAT(TakeLogged(), Contains("PreviewMP3: Error, cannot write " + dir.File("gone/") +
                                       viewers::Mp3Preview::kTempFile));
    EXPECT_THAT(opened, IsEmpty());
}

TEST_F(Mp3PreviewTest, TheFetchedTextIsKeptOnlyOnTheVeryArticleNotYetRetrieved) {
    const std::string part = EncodeFirstPart(20000);
    const std::string reply = Reply(part);
    auto fetch = [&] {
        preview.PreviewMp3(1);
        Say("200 ready\r\n");
        Say("211 3 1 3 alt.test\r\n");
    };
    // The table was reloaded meanwhile: index 1 is another posting now.
    SetTable(Posting("song.mp3 (1/1)"));
    fetch();
    SetTable(Posting("other.mp3 (1/1)"));
    table.Entry(1).Part(1).ArticleNumber = "17";
    EXPECT_THAT(Say(reply), ElementsAre("QUIT"));
    EXPECT_FALSE(table.Entry(1).Part(1).Retrieved);
    EXPECT_TRUE(table.Entry(1).Part(1).Body.empty());
    EXPECT_EQ(Decoded(), original);  // what was fetched still plays

    // The batch took the part to disk meanwhile: its empty text stays empty.
    SetTable(Posting("song.mp3 (1/1)"));
    fetch();
    table.Entry(1).Part(1).Retrieved = true;
    EXPECT_THAT(Say(reply), ElementsAre("QUIT"));
    EXPECT_TRUE(table.Entry(1).Part(1).Body.empty());
    EXPECT_EQ(opened.size(), 2u);
}

TEST_F(Mp3PreviewTest, AReplyPastTheCapIsDroppedAndNothingDecoded) {
    viewers::Mp3Preview small{connections, table, library, 64};
    small.AttachSocket(&socket);
    SetTable(Posting("song.mp3 (1/1)"));
    small.PreviewMp3(1);
    Say("200 ready\r\n");
    Say("211 3 1 3 alt.test\r\n");
    TakeLogged();
    EXPECT_THAT(Say("220 article\r\n" + std::string(60, 'M') + "\r\n.\r\n"), IsEmpty());
    EXPECT_THAT(TakeLogged(), ElementsAre("Reply larger than 64 bytes, connection closed"));
    EXPECT_EQ(socket.closes, 1);
    EXPECT_FALSE(table.Entry(1).Part(1).Retrieved);
    EXPECT_THAT(DownloadFolder(), IsEmpty());
}

}  // namespace
}  // namespace quillfin::testing
