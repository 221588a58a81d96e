#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/text.h"
#include "nntp/scan_fixture.h"

namespace quillfin::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ScanEngineTest : public ScanFixture {
protected:
    // Connects, greets, and forgets what that logged and sent.
    void StartScan() {
        Connect();
        NewLogged();
        NewSent();
    }
    static std::string GroupReplyText(long count, long first, long last, const std::string& g) {
        return "211 " + std::to_string(count) + " " + std::to_string(first) + " " +
               std::to_string(last) + " " + g + "\r\n";
    }
};

TEST_F(ScanEngineTest, BurstsFollowLastReadUntilNoProgressIsMade) {
    AddGroup("alt.test", "5000");
    Connect();
    EXPECT_THAT(sounds.played, ElementsAre("scan.wav"));
    EXPECT_THAT(NewSent(), ElementsAre("GROUP alt.test"));

    tcp1.Deliver(GroupReplyText(2230, 3000, 5230, "alt.test"));
    EXPECT_EQ(engine->UnreadAtGroup(), 230);
    EXPECT_EQ(Row(1).first, "3000");
    EXPECT_EQ(Row(1).last, "5230");
    EXPECT_EQ(Row(1).unread, "00230");
    EXPECT_EQ(Row(1).total, "02230");
    EXPECT_EQ(view.ProgressBar2.maximum, 231);
    EXPECT_THAT(callouts.calls, ElementsAre("expire alt.test [3000 ]"));
    EXPECT_THAT(NewSent(), ElementsAre("XOVER 5000-5100"));

    tcp1.Deliver(Burst(5000, 5100));
    EXPECT_EQ(Row(1).lastRead, "5100");
    EXPECT_THAT(NewSent(), ElementsAre("XOVER 5100-5200"));
    tcp1.Deliver(Burst(5100, 5200));
    EXPECT_THAT(NewSent(), ElementsAre("XOVER 5200-5300"));
    tcp1.Deliver(Burst(5200, 5230));
    EXPECT_EQ(Row(1).lastRead, "5230");
    EXPECT_THAT(NewSent(), ElementsAre("XOVER 5230-5330"));
    clock.Advance(std::chrono::seconds(30));
    tcp1.Deliver(Burst(5230, 5230));
    EXPECT_THAT(NewSent(), ElementsAre("QUIT"));

    // 101 + 101 + 31 + 1 records, less one GROUP.
    EXPECT_EQ(session.ScanHeaderCount, 233);
    EXPECT_EQ(table.HeaderCount(), 231);
    EXPECT_EQ(Row(1).lastRead, "5230");
    EXPECT_EQ(Row(1).unread, "00000");
    EXPECT_THAT(Logged(),
                ElementsAre("Connecting...", "200 news.example.test ready", "Scan Initiated...",
                            "230 new articles in alt.test",
                            "Xover burst recieved: alt.test, " +
                                std::to_string(Burst(5000, 5100).size()) + " bytes",
                            "Xover burst recieved: alt.test, " +
                                std::to_string(Burst(5100, 5200).size()) + " bytes",
                            "Xover burst recieved: alt.test, " +
                                std::to_string(Burst(5200, 5230).size()) + " bytes",
                            "Xover burst recieved: alt.test, " +
                                std::to_string(Burst(5230, 5230).size()) + " bytes",
                            "Scan Complete. 233 headers read in 30 seconds, averaging 468.0 "
                            "headers per minute."));
    EXPECT_FALSE(engine->Driving());
    EXPECT_FALSE(session.Scanning);
    EXPECT_TRUE(view.cmdScanEnabled);
    EXPECT_EQ(view.ProgressBar1.value, 0);
    EXPECT_EQ(Row(1).stateIcon, 1);
}

TEST_F(ScanEngineTest, GroupReplyRangeDecidesWhereTheGroupContinues) {
    struct Case {
        std::string lastRead;
        long first, last;
        std::string logged;
        std::string lastReadAfter;
        std::vector<std::string> sent;
    };
    const Case cases[] = {
        // Within 2 of the server's range: continue from lastRead.
        {"2998", 3000, 3050, "52 new articles in g", "2998", {"XOVER 2998-3098"}},
        {"5232", 3000, 5230, "-2 new articles in g", "5232", {}},
        // Outside: the server renumbered, or the group is new; start at its first article.
        {"9000", 200, 300, "100 new articles in g", "200", {"XOVER 200-300"}},
        {"2997", 3000, 3050, "50 new articles in g", "3000", {"XOVER 3000-3100"}},
        {"", 5000, 5010, "10 new articles in g", "5000", {"XOVER 5000-5100"}},
        // Never read and numbered from 1: the first request starts at 0.
        {"", 1, 3, "3 new articles in g", "", {"XOVER 0-100"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lastRead + " in " + std::to_string(c.first) + "-" + std::to_string(c.last));
        groups.Entries().clear();
        AddGroup("g", c.lastRead);
        AddGroup("next", "1");
        StartScan();
        tcp1.Deliver(GroupReplyText(5, c.first, c.last, "g"));
        EXPECT_THAT(NewLogged(), ElementsAre(c.logged));
        EXPECT_EQ(Row(1).lastRead, c.lastReadAfter);
        std::vector<std::string> expected = c.sent;
        if (expected.empty()) expected.push_back("GROUP next");
        EXPECT_EQ(NewSent(), expected);
        connections.QuitConnection(1);
        tcp1.state = nntp::Socket::kClosed;
        NewSent();
    }
}

TEST_F(ScanEngineTest, NewGroupsNumberedFromOneAreAllRead) {
    AddGroup("alt.one");
    AddGroup("alt.two");
    StartScan();
    tcp1.Deliver(GroupReplyText(3, 1, 3, "alt.one"));
    EXPECT_THAT(NewSent(), ElementsAre("XOVER 0-100"));
    tcp1.Deliver(Burst(1, 3, "one"));
    EXPECT_EQ(Row(1).lastRead, "3");
    EXPECT_THAT(NewSent(), ElementsAre("GROUP alt.two"));
    tcp1.Deliver(GroupReplyText(2, 1, 2, "alt.two"));
    EXPECT_THAT(NewSent(), ElementsAre("XOVER 0-100"));
    tcp1.Deliver(Burst(1, 2, "two"));
    EXPECT_EQ(Row(2).lastRead, "2");
    EXPECT_THAT(NewSent(), ElementsAre("QUIT"));
    EXPECT_EQ(table.HeaderCount(), 5);
}

TEST_F(ScanEngineTest, ThreeGroupsWithNothingNewReportNoHeaders) {
    AddGroup("a", "10");
    AddGroup("b", "10");
    AddGroup("c", "10");
    StartScan();
    for (const char* g : {"a", "b", "c"}) tcp1.Deliver(GroupReplyText(5, 5, 10, g));
    EXPECT_EQ(session.ScanHeaderCount, -3);
    EXPECT_THAT(NewLogged(),
                ElementsAre("0 new articles in a", "0 new articles in b", "0 new articles in c",
                            "Scan Complete. No new headers read in 0 seconds."));
    EXPECT_THAT(NewSent(), ElementsAre("GROUP b", "GROUP c", "QUIT"));
}

TEST_F(ScanEngineTest, SwitchedOffGroupsAreSkippedButAdvanceTheGroupBar) {
    AddGroup("a", "10");
    AddGroup("off", "10", true);
    AddGroup("", "10");
    AddGroup("c", "10");
    Connect();
    EXPECT_EQ(view.ProgressBar1.maximum, 4);
    EXPECT_EQ(view.ProgressBar1.value, 1);
    tcp1.Deliver(GroupReplyText(5, 5, 10, "a"));
    EXPECT_EQ(view.ProgressBar1.value, 4);
    tcp1.Deliver(GroupReplyText(5, 5, 10, "c"));
    EXPECT_THAT(tcp1.sent, ElementsAre("GROUP a", "GROUP c", "QUIT"));
    EXPECT_EQ(session.ScanHeaderCount, -2);
}

TEST_F(ScanEngineTest, GroupReplyWithoutNumbersLeavesTheRowAlone) {
    AddGroup("g", "5000");
    Row(1).last = "5230";
    AddGroup("next", "1");
    StartScan();
    engine->ParseGroupReply("211 5 1 10\r\n");
    EXPECT_EQ(engine->GroupFirstText(), "1 ");
    EXPECT_EQ(engine->GroupLastText(), "");
    EXPECT_EQ(engine->GroupLast(), 0);

    for (const std::string reply : {"211 5 1 10\r\n", "211 5 x y g\r\n", "211 \r\n"}) {
        SCOPED_TRACE(reply);
        Row(1).lastRead = "5000";
        StartScan();
        tcp1.Deliver(reply);
        EXPECT_THAT(NewLogged(), ElementsAre("Error, no article numbers in group reply for g"));
        EXPECT_EQ(Row(1).lastRead, "5000");
        EXPECT_EQ(Row(1).last, "5230");
        EXPECT_THAT(NewSent(), ElementsAre("GROUP next"));
        connections.QuitConnection(1);
    }
}

TEST_F(ScanEngineTest, EndLineIsFoundWhereverTheChunksSplitIt) {
    const std::string burst = Burst(101, 103);
    // Chunks ending at the given offsets, the last one ending with the burst.
    auto run = [&](std::vector<std::size_t> cuts) {
        groups.Entries().clear();
        AddGroup("g", "100");
        StartScan();
        tcp1.Deliver(GroupReplyText(3, 101, 103, "g"));
        ASSERT_THAT(NewSent(), ElementsAre("XOVER 100-200"));
        cuts.push_back(burst.size());
        std::size_t at = 0;
        for (std::size_t cut : cuts) {
            EXPECT_EQ(Row(1).lastRead, "100") << "parsed before offset " << at;
            tcp1.Deliver(burst.substr(at, cut - at));
            at = cut;
        }
        EXPECT_EQ(Row(1).lastRead, "103");
        EXPECT_THAT(NewSent(), ElementsAre("QUIT"));
        tcp1.state = nntp::Socket::kClosed;
    };
    for (std::size_t cut = 1; cut < burst.size(); ++cut) {
        SCOPED_TRACE(cut);
        run({cut});
    }
    // Three and more pieces inside the end line itself.
    const std::size_t end = burst.size();
    for (std::size_t a = end - 6; a < end; ++a)
        for (std::size_t b = a + 1; b < end; ++b) {
            SCOPED_TRACE(std::to_string(a) + "," + std::to_string(b));
            run({a, b});
        }
    run({end - 5, end - 4, end - 3, end - 2, end - 1});
}

TEST_F(ScanEngineTest, ReceivingShowsTheBurstLengthInTheStatusLine) {
    AddGroup("g", "100");
    StartScan();
    tcp1.Deliver(GroupReplyText(3, 101, 103, "g"));
    const std::string chunk = "224 Overview follows\r\n101\t";
    tcp1.Deliver(chunk);
    tcp1.Deliver(chunk);
    EXPECT_EQ(log.StatusLine(),
              "Receiving xover burst: g, " + std::to_string(2 * chunk.size()) + " bytes");
    EXPECT_EQ(engine->XoverBuffer(), chunk + chunk);
}

TEST_F(ScanEngineTest, ProgressUpdatesRowStatusLineAndGroupBar) {
    AddGroup("g", "100");
    StartScan();
    tcp1.Deliver(GroupReplyText(50, 51, 150, "g"));
    EXPECT_EQ(view.ProgressBar2.maximum, 51);
    clock.Advance(std::chrono::seconds(10));
    engine->ReportProgress("g", " 110 ", false);
    EXPECT_EQ(Row(1).lastRead, "110");
    EXPECT_EQ(Row(1).unread, "00040");
    EXPECT_EQ(view.ProgressBar2.value, 11);
    EXPECT_EQ(log.StatusLine(), "Scanning header 110  Scan Time: 10s");
    session.ScanHeaderCount = 19;
    engine->ReportProgress("g", "160", false);
    EXPECT_EQ(Row(1).last, "160");
    EXPECT_EQ(log.StatusLine(),
              "Scanning header 160; averaging 120.0 headers per minute. Scan Time: 10s");
    // Lower numbers never move lastRead back unless forced.
    engine->ReportProgress("g", "120", false);
    EXPECT_EQ(Row(1).lastRead, "160");
    engine->ReportProgress("g", "120", true);
    EXPECT_EQ(Row(1).lastRead, "120");
    // Unknown group: nothing.
    engine->ReportProgress("other", "999", true);
    EXPECT_EQ(Row(1).lastRead, "120");
}

TEST_F(ScanEngineTest, LastReadAboveLastShowsANegativeUnreadCount) {
    AddGroup("g", "5000");
    StartScan();
    tcp1.Deliver(GroupReplyText(2230, 3000, 5230, "g"));
    engine->ReportProgress("g", "5232", true);
    EXPECT_EQ(Row(1).unread, "-00002");
    // The group bar keeps its value when the count runs past its range.
    EXPECT_EQ(view.ProgressBar2.value, 0);
}

TEST_F(ScanEngineTest, ProgressFindsTheRightRowAfterTheListChanges) {
    AddGroup("a", "1");
    AddGroup("b", "7");
    AddGroup("c", "9");
    StartScan();
    tcp1.Deliver(GroupReplyText(5, 1, 10, "a"));
    EXPECT_EQ(engine->LastReadOf("b"), "7");
    // Edited without a revision bump: the remembered position now holds another name.
    groups.Entries().erase(groups.Entries().begin());
    EXPECT_EQ(engine->LastReadOf("b"), "7");
    EXPECT_EQ(engine->LastReadOf("c"), "9");
    // A duplicate inserted in front, announced: the first row of that name wins.
    groups.Entries().insert(groups.Entries().begin(), storage::GroupEntry{});
    groups.Entries().front().name = "c";
    groups.Entries().front().lastRead = "3";
    groups.Touch();
    EXPECT_EQ(engine->LastReadOf("c"), "3");
    EXPECT_EQ(engine->LastReadOf("missing"), "");
}

TEST_F(ScanEngineTest, StopDuringABurstKeepsItsHeadersAndSendsNothingMore) {
    AddGroup("g", "5000");
    AddGroup("h", "1");
    StartScan();
    tcp1.Deliver(GroupReplyText(2230, 3000, 5230, "g"));
    NewSent();
    NewLogged();
    pump.actions.push_back([this] { connections.QuitConnection(1); });
    tcp1.Deliver(Burst(5000, 5100));
    EXPECT_EQ(Row(1).lastRead, "5100");
    EXPECT_EQ(table.HeaderCount(), 101);
    EXPECT_THAT(NewSent(), ElementsAre("QUIT"));
    EXPECT_FALSE(engine->Driving());
    EXPECT_EQ(session.ScanState(), 0);
    EXPECT_EQ(Row(1).stateIcon, 1);
    EXPECT_TRUE(view.cmdScanEnabled);
    tcp1.Deliver("205 bye\r\n");
    EXPECT_THAT(NewLogged(), ElementsAre("Xover burst recieved: g, " +
                                             std::to_string(Burst(5000, 5100).size()) + " bytes",
                                         "205 bye", "Connection Closed"));
    EXPECT_THAT(NewSent(), IsEmpty());
}

TEST_F(ScanEngineTest, DataArrivingDuringAParseIsNotParsedTwice) {
    AddGroup("g", "5000");
    StartScan();
    tcp1.Deliver(GroupReplyText(2230, 3000, 5230, "g"));
    NewSent();
    pump.actions.push_back([this] { tcp1.Deliver("stray\r\n.\r\n"); });
    pump.actions.push_back([this] { tcp1.Deliver("211 1 2 3 g\r\n"); });
    tcp1.Deliver(Burst(5000, 5100));
    EXPECT_THAT(NewSent(), ElementsAre("XOVER 5100-5200"));
    EXPECT_EQ(engine->XoverBuffer(), "");
    EXPECT_EQ(table.HeaderCount(), 101);
}

TEST_F(ScanEngineTest, ServerClosingMidBurstRestartsWithoutTouchingTheGroup) {
    AddGroup("g", "5000");
    AddGroup("h", "1");
    StartScan();
    callouts.onRestart = [this](int c) { connections.CloseConnection(c); };
    tcp1.Deliver(GroupReplyText(2230, 3000, 5230, "g"));
    NewSent();
    NewLogged();
    std::string burst = Burst(5000, 5100);
    tcp1.Deliver(burst.substr(0, burst.size() / 2));
    tcp1.PeerClose();
    EXPECT_THAT(callouts.calls, ElementsAre("expire g [3000 ]", "restart 1"));
    EXPECT_EQ(timer1.interval, 0);
    EXPECT_EQ(Row(1).lastRead, "5000");
    EXPECT_EQ(table.HeaderCount(), 0);
    EXPECT_THAT(NewLogged(), ElementsAre("Connection Closed"));
    // The next group's GROUP cannot go out; the scan waits for a stop or a new scan.
    EXPECT_THAT(NewSent(), IsEmpty());
    EXPECT_EQ(session.ScanState(), 9);
    EXPECT_TRUE(engine->Driving());
    EXPECT_TRUE(view.cmdScanEnabled);
    // A close after our own QUIT is the normal end.
    callouts.calls.clear();
    connections.QuitConnection(1);
    tcp1.PeerClose();
    EXPECT_THAT(callouts.calls, IsEmpty());
    EXPECT_FALSE(engine->Driving());
}

TEST_F(ScanEngineTest, HugeAndMalformedOverviewLinesDoNotDisturbTheScan) {
    AddGroup("g", "100");
    StartScan();
    tcp1.Deliver(GroupReplyText(3, 101, 104, "g"));
    std::string burst = "224 Overview follows\r\n" + OverviewLine(101) +
                        OverviewLine(102, std::string(1 << 20, 'x') + " (1/1)") +
                        "abc\tbad number\tp\td\t<m>\t\t10\t1\r\n" + "no tabs at all\r\n" +
                        OverviewLine(104) + ".\r\n";
    for (std::size_t at = 0; at < burst.size(); at += 65536) tcp1.Deliver(burst.substr(at, 65536));
    EXPECT_EQ(Row(1).lastRead, "104");
    EXPECT_EQ(table.HeaderCount(), 4);
    EXPECT_THAT(NewSent(), ElementsAre("XOVER 100-200", "QUIT"));
}

TEST_F(ScanEngineTest, ExpiryThatDeletesTheRowEndsTheGroupSafely) {
    AddGroup("g", "10");
    AddGroup("h", "10");
    StartScan();
    callouts.onExpire = [this] {
        groups.Entries().erase(groups.Entries().begin());
        groups.Touch();
    };
    tcp1.Deliver(GroupReplyText(50, 1, 50, "g"));
    EXPECT_EQ(engine->UnreadAtGroup(), 0);
    EXPECT_EQ(Row(1).name, "h");
    EXPECT_EQ(Row(1).first, "");
    // Row 2 no longer exists: the walk ends.
    EXPECT_THAT(NewSent(), ElementsAre("QUIT"));
}

TEST_F(ScanEngineTest, ScanStartedDuringExpiryKeepsTheConnection) {
    AddGroup("g", "10");
    StartScan();
    callouts.onExpire = [this] {
        callouts.onExpire = nullptr;
        tcp1.Deliver("202 slave ok\r\n");
    };
    tcp1.Deliver(GroupReplyText(50, 1, 50, "g"));
    EXPECT_THAT(NewSent(), ElementsAre("GROUP g"));
    EXPECT_EQ(session.ScanState(), 9);
}

TEST_F(ScanEngineTest, AutodownloadFollowsTheReportWhenSwitchedOn) {
    settings.chkAutodownload = 1;
    AddGroup("a", "10");
    StartScan();
    tcp1.Deliver(GroupReplyText(5, 5, 10, "a"));
    EXPECT_THAT(callouts.calls, ElementsAre("expire a [5 ]", "download"));
    EXPECT_TRUE(session.QuitSent);
}

TEST_F(ScanEngineTest, NewScanReplacesOneAbandonedByARestart) {
    AddGroup("a", "10");
    AddGroup("b", "10");
    StartScan();
    // The connection failed while GROUP a was out; a new connection greets.
    connections.CloseConnection(1);
    EXPECT_EQ(session.ScanState(), 9);  // waiting at b, nothing was sent
    NewLogged();
    Connect();
    EXPECT_THAT(NewSent(), ElementsAre("GROUP a"));
    tcp1.Deliver(GroupReplyText(5, 5, 10, "a"));
    tcp1.Deliver(GroupReplyText(5, 5, 10, "b"));
    EXPECT_THAT(NewSent(), ElementsAre("GROUP b", "QUIT"));
    EXPECT_FALSE(engine->Driving());
}

}  // namespace
}  // namespace quillfin::testing
