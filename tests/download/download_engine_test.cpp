#include <gmock/gmock.h>

#include <climits>
#include <filesystem>
#include <ostream>

#include "common/text.h"
#include "download/download_engine_fixture.h"

namespace quillfin::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
namespace fs = std::filesystem;
using Talk = std::vector<std::pair<std::string, std::string>>;  // server chunk, our line

class DownloadEngineTest : public DownloadEngineFixture {
  protected:
    void Login() {
        settings.User_Name = "joe";
        settings.User_Pass = "pw";
    }
    void Play(const Talk& talk) {
        for (const auto& [chunk, line] : talk)
            EXPECT_THAT(Say(chunk), ElementsAre(line)) << chunk.substr(0, 30);
    }
    // Greeted and GROUP answered: the next reply is the first article's.
    void FetchingFirst(const std::string& group = "211 1 1 1 alt.test\r\n") {
        StartAndGreet();
        tcp2.Deliver(group);
        TakeSent();
        log.Clear();
    }
};

TEST_F(DownloadEngineTest, TwoGroupsOneLoginAndGroupOnlyOnAChange) {
    settings.chkAuth = 1;
    Login();
    const std::int32_t a = AddFilePosting("a.bin", {"3000000001", "3000000002"}, "alt.one");
    const std::int32_t b = AddFilePosting("b.bin", {"7"}, "alt.two");
    const std::int32_t c = AddFilePosting("c.bin", {"8"}, "alt.two");
    log.Clear();
    engine->DownloadStep();
    EXPECT_EQ(tcp2.remote_port, 119);
    EXPECT_TRUE(view.imgTestxBusy);
    Play({{"200 ready\r\n", "AUTHINFO USER joe"},
          {"381 more\r\n", "AUTHINFO PASS pw"},
          {"281 ok\r\n", "GROUP alt.one"},
          {"211 2 3000000001 3000000002 alt.one\r\n", "ARTICLE  3000000001"},
          {replies["3000000001"], "ARTICLE  3000000002"},
          {replies["3000000002"], "GROUP alt.two"},
          {"211 2 7 8 alt.two\r\n", "ARTICLE  7"},
          {replies["7"], "ARTICLE  8"},
          {replies["8"], "QUIT"}});
    EXPECT_EQ(tcp2.connects, 1);
    for (const auto& [file, bytes] : originals) EXPECT_TRUE(Filed(file));
    for (std::int32_t index : {a, b, c}) EXPECT_FALSE(table.Entry(index).InBatch);
    EXPECT_EQ(session.DownloadState + session.DownloadBusy + timer2.interval, 0);
    EXPECT_FALSE(view.imgTestxBusy);
    EXPECT_TRUE(view.cmdScanEnabled);
    EXPECT_EQ(log.StatusLine(), "Done!");
    const auto logged = TakeLogged();
    EXPECT_THAT(std::vector(logged.begin(), logged.begin() + 5),
                ElementsAre("200 ready", "Authenticating User Name...",
                            "Authenticating Password...", "Authinfo cleared, login complete...",
                            "Article Retrieved: a.bin " +
                                common::FormatNumber(replies["3000000001"].size() / 1000.0,
                                                     "#,##0.0") +
                                "kb [0.0 KBps]"));
    EXPECT_EQ(logged.back(), dir.File("dl/c.bin") + " decode successful... ");
}

struct ReplyCase {
    std::string chunk;
    std::string logged;
    int stateAfter;
    int busyAfter;
    std::string sent;
    int closes = 0;
};
void PrintTo(const ReplyCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.chunk); }

constexpr const char* kNoLogin =
    "Error, server wanted a login, but authentication is switched off.";

// clang-format off
const ReplyCase kReplies[] = {
    {"500 what?\r\n", "500 what?", 1, 1, ""},
    {"202 slave ok\r\n", "202 slave ok", 1, 1, "GROUP alt.test"},
    // The only posting is dropped: the batch ends.
    {"423 no such article\r\n", "Bad article number!  Skipping a.bin.", 0, 0, "QUIT"},
    {"211 1 5 5 alt.test\r\n", "", 5, 1, "ARTICLE  5"},
    {"411 no such group\r\n", "", 1, 1, ""},
    {"281 ok\r\n", "Authinfo cleared, login complete...", 1, 1, "GROUP alt.test"},
    {"205 bye\r\n", "205 bye|Connection Closed", 1, 1, "", 1},
    {"201 hello\r\n", "201 hello", 1, 1, "GROUP alt.test"},
    {"412 no group selected\r\n", "", 0, 0, "QUIT"},
    // With authentication off the stored name and password go nowhere.
    {"480 auth required\r\n", kNoLogin, 0, 0, "QUIT"},
    {"381 more\r\n", kNoLogin, 0, 0, "QUIT"},
    // The log keeps the first line: "(disconnected)" goes behind the CR LF.
    {"502 denied\r\n", "502 denied", 1, 1, "QUIT"},
    {"223 1 <a>\r\n", "", 1, 1, ""},
    {"hello\r\n", "", 1, 1, ""},
    {"21", "", 1, 1, ""},
};
// clang-format on

class DownloadReplyTest : public DownloadEngineTest,
                          public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(DownloadReplyTest, ActsOnTheReplyCode) {
    const ReplyCase& c = GetParam();
    Login();
    AddFilePosting("a.bin", {"5"});
    ASSERT_THAT(StartAndGreet(), ElementsAre("GROUP alt.test"));
    log.Clear();
    tcp2.Deliver(c.chunk);
    EXPECT_EQ(TakeLogged(), Items(c.logged));
    EXPECT_EQ(session.DownloadState, c.stateAfter);
    EXPECT_EQ(session.DownloadBusy, c.busyAfter);
    EXPECT_EQ(TakeSent(), Items(c.sent));
    EXPECT_EQ(tcp2.closes, c.closes);
}
INSTANTIATE_TEST_SUITE_P(Codes, DownloadReplyTest, ::testing::ValuesIn(kReplies));

// Every split of every chunk, the end line included, is covered a byte at a time.
TEST_F(DownloadEngineTest, EveryChunkSplitAtEveryByte) {
    AddFilePosting("a.bin", {"3000000001", "3000000002"});
    engine->DownloadStep();
    const Talk talk = {{"200 ready\r\n", "GROUP alt.test"},
                       {"211 2 3000000001 3000000002 alt.test\r\n", "ARTICLE  3000000001"},
                       {replies["3000000001"], "ARTICLE  3000000002"},
                       {replies["3000000002"], "QUIT"}};
    for (const auto& [chunk, line] : talk) {
        std::vector<std::string> sent;
        for (std::size_t at = 0; at < chunk.size(); ++at) {
            for (std::string& s : Say(chunk.substr(at, 1))) sent.push_back(s);
            if (at + 1 < chunk.size()) ASSERT_THAT(sent, IsEmpty()) << at;
        }
        EXPECT_THAT(sent, ElementsAre(line)) << chunk.substr(0, 20);
    }
    EXPECT_TRUE(Filed("a.bin"));
}

TEST_F(DownloadEngineTest, ArticleLinesThatLookLikeRepliesAreData) {
    const std::int32_t index = AddFilePosting("a.bin", {"1"});
    const std::string body =
        "423 no such article\r\n205 bye\r\n200 hello\r\n211 1 1 1 alt.test\r\n502 denied\r\n";
    std::string reply = replies["1"];
    const std::size_t head_end = reply.find("\r\n\r\n") + 4;
    reply.insert(head_end, body);
    FetchingFirst();
    // Every line of the inserted text starts a chunk of its own.
    std::size_t at = 0;
    for (std::size_t next = head_end; next < head_end + body.size();
         next = reply.find("\r\n", next) + 2) {
        EXPECT_THAT(Say(reply.substr(at, next - at)), IsEmpty());
        at = next;
    }
    EXPECT_THAT(Say(reply.substr(at)), ElementsAre("QUIT"));
    EXPECT_EQ(tcp2.closes, 0);
    EXPECT_FALSE(table.Entry(index).InBatch);
    EXPECT_TRUE(Filed("a.bin"));
    EXPECT_THAT(TakeLogged(), Not(Contains(HasSubstr("Skipping"))));
}

TEST_F(DownloadEngineTest, ArticleInSeveralChunksCountsProgressAndRate) {
    const std::int32_t index = AddFilePosting("a.bin", {"1", "2"});
    table.Entry(index).Part(1).Bytes = 20000;
    table.Entry(index).Size = 40000;
    FetchingFirst("211 2 1 2 alt.test\r\n");
    const std::string reply = replies["1"];
    clock.Advance(std::chrono::seconds(2));
    tcp2.Deliver(reply.substr(0, 4000));
    EXPECT_EQ(view.ProgressBar3.value, 4000);
    EXPECT_EQ(view.ProgressBar3.maximum, 20000);
    EXPECT_EQ(engine->PostingProgress(), 4000);
    EXPECT_EQ(log.StatusLine(), "Downloading: a.bin 4.0kb @ [2.0 KBps]");
    clock.Advance(std::chrono::seconds(2));
    tcp2.Deliver(reply.substr(4000, 2000));
    EXPECT_EQ(log.StatusLine(), "Downloading: a.bin 6.0kb @ [1.5 KBps]");
    log.Clear();
    EXPECT_THAT(Say(reply.substr(6000)), ElementsAre("ARTICLE  2"));
    // The chunk that completes the article is counted too.
    const std::int64_t rate = (std::int64_t(reply.size()) + 3) / 4;
    EXPECT_EQ(TakeLogged().front(),
              "Article Retrieved: a.bin " +
                  common::FormatNumber(reply.size() / 1000.0, "#,##0.0") + "kb [" +
                  common::FormatNumber(rate / 1000.0, "0.0") + " KBps]");
}

TEST_F(DownloadEngineTest, MissingArticleDropsThePostingAndTheBatchGoesOn) {
    const std::int32_t a = AddFilePosting("a.bin", {"11", "12", "13", "14", "15"});
    const std::int32_t b = AddFilePosting("b.bin", {"21"});
    FetchingFirst("211 9 11 21 alt.test\r\n");
    Play({{replies["11"], "ARTICLE  12"},
          {replies["12"], "ARTICLE  13"},
          {"423 no such article number in this group\r\n", "ARTICLE  21"},
          {replies["21"], "QUIT"}});
    EXPECT_FALSE(table.Entry(a).InBatch || table.Entry(b).InBatch);
    EXPECT_TRUE(Filed("b.bin"));
    // a.bin cannot be finished: what was fetched for it is not left lying about, and queued
    // again it is fetched anew.
    EXPECT_THAT(DownloadFolder(), ElementsAre("b.bin"));
    EXPECT_FALSE(table.Entry(a).Part(1).Retrieved || table.Entry(a).Part(2).Retrieved);
}

TEST_F(DownloadEngineTest, StopAndStartAgainResumesWithoutRefetching) {
    const std::int32_t a = AddFilePosting("a.bin", {"3000000001", "3000000002", "3000000003"});
    table.Entry(a).Size = 5'000'000'000;  // past 2^32: the bars scale, the engine keeps bytes
    FetchingFirst("211 3 3000000001 3000000003 alt.test\r\n");
    EXPECT_THAT(Say(replies["3000000001"]), ElementsAre("ARTICLE  3000000002"));
    tcp2.Deliver(replies["3000000002"].substr(0, 100));
    EXPECT_LE(view.ProgressBar4.maximum, INT_MAX);
    EXPECT_EQ(engine->PostingProgress(), 1000 + 100);
    log.Clear();
    engine->StopBatch();
    EXPECT_THAT(TakeSent(), ElementsAre("QUIT"));
    EXPECT_EQ(tcp2.closes, 1);
    EXPECT_THAT(TakeLogged(), ElementsAre("Connection Closed", "User Abort!"));
    EXPECT_EQ(session.DownloadBusy + session.DownloadState, 0);
    EXPECT_EQ(view.ProgressBar3.value + view.ProgressBar4.value, 0);
    EXPECT_TRUE(engine->UserAbort());
    // Late data on the closed socket is no reply.
    tcp2.Deliver("205 bye\r\n");
    EXPECT_THAT(TakeSent(), IsEmpty());

    engine->DownloadStep();
    EXPECT_FALSE(engine->UserAbort());
    Play({{"200 ready\r\n", "GROUP alt.test"},
          {"211 3 3000000001 3000000003 alt.test\r\n", "ARTICLE  3000000002"},
          {replies["3000000002"], "ARTICLE  3000000003"},
          {replies["3000000003"], "QUIT"}});
    EXPECT_TRUE(Filed("a.bin"));
}

TEST_F(DownloadEngineTest, ADiskThatWillNotTakeAnArticleStopsTheBatchAndLosesNothing) {
    originals["y.bin"] = MakeFile("y.bin", 60000, 5);
    const std::vector<std::string> bodies = Encode("y.bin", "-y", 300);
    ASSERT_EQ(bodies.size(), 2u);
    const std::int32_t y = AddPosting("y.bin", {"1", "2"});
    for (std::size_t k : {0u, 1u})
        replies[std::to_string(k + 1)] = ArticleReply(std::to_string(k + 1), "y.bin", bodies[k]);
    const std::int32_t b = AddFilePosting("b.bin", {"3"});
    FetchingFirst("211 3 1 3 alt.test\r\n");
    EXPECT_THAT(Say(replies["1"]), ElementsAre("ARTICLE  2"));
    // The disk refuses the next write (or this one, when the decoder's thread comes to it
    // later): the unfinished file is, for now, a folder.
    fs::rename(dir.File("dl/1.part"), dir.File("aside"));
    fs::create_directory(dir.File("dl/1.part"));
    EXPECT_THAT(Say(replies["2"]), ElementsAre("QUIT"));
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_THAT(prompts.shown[0].text,
                HasSubstr("Error, cannot write in the download folder " + dir.File("dl/") + ": "));
    EXPECT_TRUE(table.Entry(y).InBatch && table.Entry(b).InBatch);
    EXPECT_EQ(session.DownloadBusy, 0);
    // Room again: the article kept in memory is written, nothing is fetched twice.
    fs::remove(dir.File("dl/1.part"));
    fs::rename(dir.File("aside"), dir.File("dl/1.part"));
    engine->DownloadStep();
    Play({{"200 ready\r\n", "GROUP alt.test"},
          {"211 3 1 3 alt.test\r\n", "ARTICLE  3"},
          {replies["3"], "QUIT"}});
    EXPECT_TRUE(Filed("y.bin"));
    EXPECT_TRUE(Filed("b.bin"));
}

// Another run holds the decoding library: the posting is passed over, not retried for ever
// inside one step with the window frozen.
TEST_F(DownloadEngineTest, APostingTheDecoderCannotTakeNowStaysQueuedAndTheWalkEnds) {
    const std::int32_t a = AddFilePosting("a.bin", {"1"});
    FetchingFirst("211 1 1 1 alt.test\r\n");
    download::UuDecoderLibrary other;
    ASSERT_TRUE(other.StartRun());
    EXPECT_THAT(Say(replies["1"]), ElementsAre("QUIT"));
    EXPECT_THAT(TakeLogged(), Contains("decode err -- the decoder is busy with another posting"));
    EXPECT_TRUE(table.Entry(a).InBatch);
    other.EndRun();
    engine->DownloadStep();
    EXPECT_TRUE(Filed("a.bin"));
    EXPECT_FALSE(table.Entry(a).InBatch);
}

TEST_F(DownloadEngineTest, TimeRemainingCaptions) {
    const std::int32_t index = AddPosting("big", {"1"});
    const struct {
        std::int64_t batchKB, bytes, seconds;
        std::string rate, caption;  // caption empty: the label is hidden
    } cases[] = {
        {7200, 10000, 10, "1.0", "Time Remaining:2 hours @1.0kBps"},
        {7260, 10000, 10, "1.0", "Time Remaining: 2 hours, 1 minutes @1.0kBps"},
        {3660, 10000, 10, "1.0", "Time Remaining: 1 hour, 1 minutes @1.0kBps"},
        {3600, 10000, 10, "1.0", "Time Remaining: About an hour @1.0kBps"},
        {3540, 10000, 10, "1.0", "Time Remaining: 59 minutes @1.0kBps"},
        {90, 10000, 10, "1.0", "Time Remaining: 2 minutes @1.0kBps"},   // 1.5 to even
        {150, 10000, 10, "1.0", "Time Remaining: 2 minutes @1.0kBps"},  // 2.5 to even
        {30, 10000, 10, "1.0", ""},                                     // 0.5 minutes: 0
        {7200, 2000, 10, "0.2", ""},                                    // 200 B/s: too slow
        {7200, 2001, 10, "0.2", "Time Remaining: 9 hours, 57 minutes @0.2kBps"},
        {7200, 99999, 0, "0.0", ""},                       // under a second
        {7200, 3'000'000'000'000, 1000, "3000000.0", ""},  // past 2^31: < 1 min
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.batchKB);
        batch.RemoveFromBatch(index);
        table.Entry(index).Size = c.batchKB * 1000;
        batch.AddToBatch(index);
        view.lblTotalBatchTime = "";
        EXPECT_EQ(engine->DownloadRate(c.bytes, clock.Now() - std::chrono::seconds(c.seconds)),
                  c.rate);
        EXPECT_EQ(view.lblTotalBatchTimeVisible, !c.caption.empty());
        if (!c.caption.empty()) EXPECT_EQ(view.lblTotalBatchTime, c.caption);
    }
}

TEST_F(DownloadEngineTest, StepRefusesDuringAScanAndWaitsOnAConnectedSocket) {
    AddFilePosting("a.bin", {"1"});
    session.Scanning = true;
    engine->DownloadStep();
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Stop scan first.");
    EXPECT_EQ(session.DownloadBusy, 0);
    session.Scanning = false;
    // A connection made and waiting for its greeting is waited for; a second start does nothing.
    tcp2.state = nntp::Socket::kConnected;
    session.DownloadReady = true;
    engine->DownloadStep();
    engine->DownloadStep();
    EXPECT_EQ(tcp2.connects, 0);
    EXPECT_THAT(TakeSent(), IsEmpty());
    EXPECT_EQ(session.DownloadState, 1);
    EXPECT_EQ(session.DownloadBusy, 1);
}

// A connection left over (its bye not in yet, or closing) is closed and a fresh one opened.
TEST_F(DownloadEngineTest, ALeftOverConnectionIsClosedAndReopened) {
    AddFilePosting("a.bin", {"1"});
    for (int state : {nntp::Socket::kConnected, nntp::Socket::kPeerClosing}) {
        tcp2.closes = tcp2.connects = 0;
        tcp2.state = state;
        session.DownloadReady = false;
        session.DownloadBusy = 0;
        engine->DownloadStep();
        EXPECT_EQ(tcp2.closes, 1) << state;
        EXPECT_EQ(tcp2.connects, 1) << state;
    }
    EXPECT_THAT(TakeLogged(), Contains("Download Connection Error, please wait..."));
}

TEST_F(DownloadEngineTest, PortOutOfRangeEndsTheStepSoItCanStartAgain) {
    AddFilePosting("a.bin", {"1"});
    settings.News_Port = "70000";
    engine->DownloadStep();
    EXPECT_THAT(TakeLogged(), ElementsAre("BOT1_err:Overflow  6"));
    EXPECT_EQ(tcp2.connects, 0);
    EXPECT_EQ(session.DownloadBusy, 0);
    settings.News_Port = "119abc";  // the leading number counts
    engine->DownloadStep();
    EXPECT_EQ(tcp2.connects, 1);
    EXPECT_EQ(tcp2.remote_port, 119);
}

TEST_F(DownloadEngineTest, CloseLeavesTheScanWatchdogAndErrorRestarts) {
    AddFilePosting("a.bin", {"1"});
    StartAndGreet();
    timer1.interval = 1000;
    tcp2.PeerClose();
    EXPECT_EQ(timer1.interval, 1000);
    EXPECT_EQ(timer2.interval, 1000);  // the download watchdog takes it from here
    EXPECT_THAT(callouts.calls, IsEmpty());
    log.Clear();
    tcp2.onError(10054, "Connection reset by peer");
    EXPECT_THAT(TakeLogged(), ElementsAre("Connection reset by peer"));
    EXPECT_THAT(callouts.calls, ElementsAre("restart 2"));
}

TEST_F(DownloadEngineTest, DataOnAConnectionLostMidBatchRestartsIt) {
    AddFilePosting("a.bin", {"1"});
    StartAndGreet();
    // The server's last bytes and its close arrive together: quitting here would stop the
    // watchdog as well and leave the batch waiting for ever.
    tcp2.state = nntp::Socket::kPeerClosing;
    log.Clear();
    clock.Advance(std::chrono::seconds(5));
    tcp2.Deliver("220 1 <1@x> article\r\nPart of");
    EXPECT_THAT(TakeLogged(), ElementsAre("Download Connection Error..."));
    EXPECT_THAT(callouts.calls, ElementsAre("restart 2"));
    EXPECT_EQ(engine->LastDownloadActivity(), clock.Steady());
}

TEST_F(DownloadEngineTest, AnArticleThatNeverEndsIsDroppedAndTheConnectionRestarted) {
    engine->SetReplyLimit(5000);
    AddFilePosting("a.bin", {"1"});
    FetchingFirst();
    tcp2.Deliver("220 1 <1@x> article\r\n");
    for (int i = 0; i < 3; ++i) tcp2.Deliver(std::string(2000, 'M') + "\r\n");
    EXPECT_THAT(TakeLogged(), ElementsAre("Error, the server sent over 5000 bytes without ending "
                                          "its reply; restarting the connection"));
    EXPECT_THAT(callouts.calls, ElementsAre("restart 2"));
    EXPECT_EQ(session.DownloadBuffer.capacity(), std::string().capacity());
}

TEST_F(DownloadEngineTest, ConnectionLostDuringADecodeIsOpenedAgain) {
    AddFilePosting("a.bin", {"1"});
    AddFilePosting("b.bin", {"2"}, "alt.other");
    FetchingFirst();
    pump.hook = [&] {
        if (tcp2.state == nntp::Socket::kConnected) tcp2.PeerClose();
    };
    tcp2.Deliver(replies["1"]);
    pump.hook = nullptr;
    EXPECT_TRUE(Filed("a.bin"));
    EXPECT_EQ(tcp2.connects, 2);
    Play({{"200 ready\r\n", "GROUP alt.other"},
          {"211 1 2 2 alt.other\r\n", "ARTICLE  2"},
          {replies["2"], "QUIT"}});
    EXPECT_TRUE(Filed("b.bin"));
}

TEST_F(DownloadEngineTest, StopDuringTheDecodeEndsTheWalk) {
    AddFilePosting("a.bin", {"1"});
    const std::int32_t b = AddFilePosting("b.bin", {"2"});
    FetchingFirst("211 2 1 2 alt.test\r\n");
    // The decode lets events run: the user stops, then starts again at once.
    bool stopped = false;
    pump.hook = [&] {
        if (std::exchange(stopped, true)) return;
        engine->StopBatch();
        engine->DownloadStep();
    };
    tcp2.Deliver(replies["1"]);
    EXPECT_TRUE(Filed("a.bin"));
    // Neither the stopped walk nor the nested start fetched anything.
    EXPECT_THAT(TakeSent(), ElementsAre("QUIT"));
    EXPECT_TRUE(table.Entry(b).InBatch);
    EXPECT_EQ(session.DownloadBusy, 0);
}

}  // namespace
}  // namespace quillfin::testing
