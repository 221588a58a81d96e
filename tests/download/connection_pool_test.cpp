// The batch over several scripted connections with requests in flight.
#include <gmock/gmock.h>

#include <algorithm>
#include <map>
#include <set>

#include "common/text.h"
#include "download/download_engine_fixture.h"

namespace quillfin::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

class PooledBatchTest : public DownloadEngineFixture {
  protected:
    PooledBatchTest() {
        settings.Connections = 2;
        settings.RequestsInFlight = 3;
        engine->SetPoolPlatform(
            {[this]() -> std::unique_ptr<nntp::Socket> {
                 auto socket = std::make_unique<FakeSocket>();
                 sockets.push_back(socket.get());
                 return socket;
             },
             [this]() -> std::unique_ptr<nntp::Timer> {
                 auto timer = std::make_unique<FakeTimer>();
                 timers.push_back(timer.get());
                 return timer;
             }});
    }

    // The server's answer to one command line.
    std::string ReplyTo(const std::string& command) {
        if (command.starts_with("GROUP ")) return "211 9 1 99 " + command.substr(6) + "\r\n";
        if (command.starts_with("ARTICLE ")) {
            std::string number = command.substr(8);
            number.erase(0, number.find_first_not_of(' '));
            ++asked[number];
            if (missing.count(number) != 0 || replies.count(number) == 0)
                return "430 No such article\r\n";
            return replies[number];
        }
        return "";
    }
    // Answers what connection i has sent so far, all replies in one chunk; returns the lines.
    std::vector<std::string> Answer(std::size_t i) {
        std::vector<std::string> lines = std::exchange(sockets[i]->sent, {});
        std::string chunk;
        for (const std::string& line : lines) chunk += ReplyTo(line);
        if (!chunk.empty()) sockets[i]->Deliver(chunk);
        return lines;
    }
    // The server answers every connection, last first, until nothing more is asked.
    void Serve() {
        for (int round = 0; round < 1000; ++round) {
            bool any = false;
            for (std::size_t i = sockets.size(); i-- > 0;)
                if (sockets[i]->state == nntp::Socket::kConnected && !sockets[i]->sent.empty()) {
                    any = true;
                    if (Answer(i) == std::vector<std::string>{"QUIT"}) continue;
                }
            if (!any) return;
        }
    }
    void GreetAll() {
        for (FakeSocket* socket : sockets) socket->Deliver("200 ready\r\n");
    }
    std::vector<std::string> Decoded() {
        std::vector<std::string> files;
        for (const std::string& line : TakeLogged())
            if (line.ends_with("decode successful... "))
                files.push_back(line.substr(line.rfind('/') + 1, line.find(' ') - line.rfind('/') - 1));
        return files;
    }

    std::vector<FakeSocket*> sockets;
    std::vector<FakeTimer*> timers;
    std::map<std::string, int> asked;  // article number -> ARTICLE commands for it
    std::set<std::string> missing;
};

TEST_F(PooledBatchTest, RequestsInFlightAreAnsweredInOrderAndFiledInBatchOrder) {
    AddFilePosting("a.bin", {"1", "2", "3"});
    AddFilePosting("b.bin", {"4", "5"}, "alt.other");
    AddFilePosting("c.bin", {"6"});
    engine->DownloadStep();
    ASSERT_EQ(sockets.size(), 2u);
    GreetAll();
    // Nothing goes out behind a GROUP until its "211": a refused group must not turn the
    // articles after it into "412".
    EXPECT_THAT(sockets[0]->sent, ElementsAre("GROUP alt.test"));
    EXPECT_THAT(sockets[1]->sent, ElementsAre("GROUP alt.test"));
    sockets[0]->Deliver(ReplyTo(std::exchange(sockets[0]->sent, {})[0]));
    EXPECT_THAT(sockets[0]->sent, ElementsAre("ARTICLE  1", "ARTICLE  2", "ARTICLE  3"));
    // The second connection's articles arrive first: b.bin waits for a.bin.
    Serve();
    EXPECT_THAT(Decoded(), ElementsAre("a.bin", "b.bin", "c.bin"));
    for (const auto& [file, bytes] : originals) EXPECT_TRUE(Filed(file));
    for (const auto& [number, times] : asked) EXPECT_EQ(times, 1) << number;
    EXPECT_EQ(asked.size(), 6u);
    EXPECT_EQ(session.DownloadBusy + session.DownloadState, 0);
    EXPECT_EQ(log.StatusLine(), "Done!");
    EXPECT_EQ(engine->Pool()->OpenSessions(), 0);
}

TEST_F(PooledBatchTest, RequestsUnansweredWhenAConnectionDropsGoToAnotherOnce) {
    AddFilePosting("a.bin", {"1", "2", "3", "4"});
    AddFilePosting("b.bin", {"5", "6"});
    engine->DownloadStep();
    GreetAll();
    for (std::size_t i : {0, 1}) Answer(i);  // GROUP
    ASSERT_THAT(sockets[0]->sent, ElementsAre("ARTICLE  1", "ARTICLE  2", "ARTICLE  3"));
    // Connection 1 delivers article 1 and half of 2, then the server closes it.
    sockets[0]->sent.clear();
    const std::string two = replies["2"];
    sockets[0]->Deliver(replies["1"] + two.substr(0, two.size() / 2));
    // The whole download is counted, the chunk that completes an article included.
    EXPECT_EQ(log.StatusLine(),
              "Downloading: a.bin " +
                  common::FormatNumber((replies["1"].size() + two.size() / 2) / 1000.0,
                                       "#,##0.0") +
                  "kb @ [0.0 KBps]");
    sockets[0]->PeerClose();
    EXPECT_THAT(TakeLogged(), Contains("Download Connection Error, please wait..."));
    // Opened again at once; meanwhile 2 and 3 are asked on connection 2 as it has room.
    EXPECT_EQ(sockets[0]->connects, 2);
    Serve();
    sockets[0]->Deliver("200 ready\r\n");
    Serve();
    EXPECT_TRUE(Filed("a.bin"));
    EXPECT_TRUE(Filed("b.bin"));
    // 1 was stored and is not asked again; 2 and 3 are asked once more, on either connection.
    EXPECT_EQ(asked["1"], 0);
    EXPECT_EQ(asked["2"] + asked["3"], 2);
    EXPECT_EQ(session.DownloadBusy, 0);
}

TEST_F(PooledBatchTest, SilenceRestartsOneConnectionAndItsRequestsMove) {
    settings.sldTimeout = 15;
    AddFilePosting("a.bin", {"1", "2", "3", "4"});
    engine->DownloadStep();
    GreetAll();
    for (std::size_t i : {0, 1}) Answer(i);
    sockets[0]->sent.clear();  // never answered
    clock.Advance(std::chrono::seconds(16));
    Answer(1);
    timers[0]->onTick();
    const auto logged = TakeLogged();
    EXPECT_THAT(logged, Contains("Connection 1 silent for more than 15 seconds"));
    EXPECT_THAT(logged, Contains("Emergency Reconnect in 90 seconds."));
    EXPECT_EQ(sockets[0]->state, nntp::Socket::kClosed);
    Serve();
    EXPECT_TRUE(Filed("a.bin"));
}

TEST_F(PooledBatchTest, RefusedConnectionsAreSaidOnceAndNotRetried) {
    settings.Connections = 4;
    AddFilePosting("a.bin", {"1", "2", "3", "4", "5"});
    engine->DownloadStep();
    ASSERT_EQ(sockets.size(), 4u);
    sockets[0]->Deliver("200 ready\r\n");
    sockets[1]->Deliver("200 ready\r\n");
    sockets[2]->Deliver("502 Too many connections\r\n");
    sockets[3]->PeerClose();  // closed before any greeting
    Serve();
    EXPECT_TRUE(Filed("a.bin"));
    const auto logged = TakeLogged();
    EXPECT_EQ(std::count_if(logged.begin(), logged.end(),
                            [](const std::string& l) { return l.find("refused") != l.npos; }),
              1);
    EXPECT_THAT(logged, Contains("The server refused connection 3 (502 Too many connections); "
                                 "going on with the others"));
    EXPECT_EQ(sockets[2]->connects + sockets[3]->connects, 2);
    // The only connection refused: the batch halts as on one connection.
    sockets.clear();
    AddFilePosting("b.bin", {"7"});
    settings.Connections = 1;
    engine->DownloadStep();
    sockets[0]->Deliver("502 Too many connections\r\n");
    EXPECT_EQ(session.DownloadBusy, 0);
    EXPECT_THAT(TakeLogged(), Contains("502 Too many connections(disconnected)"));
}

TEST_F(PooledBatchTest, MissingArticleDropsItsPostingWhileTheOthersGoOn) {
    const std::int32_t a = AddFilePosting("a.bin", {"1", "2", "3"});
    AddFilePosting("b.bin", {"4"});
    missing = {"2"};
    engine->DownloadStep();
    GreetAll();
    Serve();
    EXPECT_FALSE(table.Entry(a).InBatch);
    EXPECT_TRUE(Filed("b.bin"));
    EXPECT_THAT(TakeLogged(), Contains("Bad article number!  Skipping a.bin."));
    EXPECT_THAT(DownloadFolder(), ElementsAre("b.bin"));
}

// Parts from an NZB file are asked for by message-ID, with no GROUP; the "220" then carries
// the server's own number, and the ID is what must match.
TEST_F(PooledBatchTest, PartsKnownByMessageIdAreFetchedWithoutAGroup) {
    settings.Connections = 1;
    AddFilePosting("a.bin", {"<m1@x>", "<m2@x>"});
    for (const std::string id : {"<m1@x>", "<m2@x>"})
        replies[id] = "220 5 " + id + replies[id].substr(replies[id].find(" article"));
    engine->DownloadStep();
    GreetAll();
    EXPECT_THAT(sockets[0]->sent, ElementsAre("ARTICLE <m1@x>", "ARTICLE <m2@x>"));
    Serve();
    EXPECT_TRUE(Filed("a.bin"));
    EXPECT_THAT(TakeLogged(), Not(Contains(HasSubstr("out of step"))));
}

TEST_F(PooledBatchTest, StopInTheMiddleKeepsWhatArrivedAndFetchesOnlyTheRest) {
    AddFilePosting("a.bin", {"1", "2", "3", "4", "5", "6"});
    engine->DownloadStep();
    GreetAll();
    for (std::size_t i : {0, 1}) Answer(i);
    sockets[0]->sent.clear();
    Answer(1);  // 4, 5 and 6 arrive
    engine->StopBatch();
    EXPECT_THAT(TakeLogged(), Contains("User Abort!"));
    for (FakeSocket* socket : sockets) {
        EXPECT_EQ(socket->state, nntp::Socket::kClosed);
        EXPECT_EQ(socket->sent.back(), "QUIT");
    }
    EXPECT_EQ(session.DownloadBusy, 0);
    for (FakeSocket* socket : sockets) socket->sent.clear();
    engine->DownloadStep();
    GreetAll();
    Serve();
    EXPECT_TRUE(Filed("a.bin"));
    for (const std::string number : {"1", "2", "3", "4", "5", "6"})
        EXPECT_EQ(asked[number], 1) << number;
}

}  // namespace
}  // namespace quillfin::testing
