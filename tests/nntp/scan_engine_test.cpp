#include <gmock/gmock.h>

#include <cstdio>
#include <ostream>

#include "nntp/scan_fixture.h"

namespace quillfin::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ScanEngineTest : public ScanFixture {
  protected:
    // Connects, greets, and forgets what that logged and sent.
    void StartScan(const std::string& rows) {
        AddGroups(rows);
        Connect();
        TakeLogged();
        TakeSent();
    }
    void RestartCloses() {
        callouts.onRestart = [this] { connections.CloseConnection(1); };
    }
};

struct ScanScript {
    const char* name;
    std::string rows;
    std::vector<std::pair<std::string, std::string>> talk;  // server chunk, our lines
    std::string reports;    // log lines after the greeting, burst receipts left out
    std::string lastReads;  // of every row afterwards
    int headerCount;
    int secondsPerReply = 0;
};

class ScanScriptTest : public ScanEngineTest, public ::testing::WithParamInterface<ScanScript> {};

TEST_P(ScanScriptTest, TalksReportsAndKeepsLastRead) {
    const ScanScript& c = GetParam();
    StartScan(c.rows);
    for (const auto& [chunk, lines] : c.talk) {
        clock.Advance(std::chrono::seconds(c.secondsPerReply));
        EXPECT_EQ(Say(chunk), Items(lines)) << chunk.substr(0, 40);
    }
    std::vector<std::string> reports;
    for (const std::string& line : TakeLogged())
        if (!line.starts_with("Xover burst recieved")) reports.push_back(line);
    EXPECT_EQ(reports, Items(c.reports));
    std::string lastReads;
    for (const storage::GroupEntry& row : groups.Entries()) lastReads += row.lastRead + "|";
    EXPECT_EQ(lastReads, c.lastReads + "|");
    EXPECT_EQ(session.ScanHeaderCount, c.headerCount);
    EXPECT_EQ(session.LastScanActivity, clock.Steady());  // the watchdog measures silence from it
    if (c.talk.back().second.ends_with("QUIT")) {
        EXPECT_FALSE(engine->Driving() || session.Scanning);
        EXPECT_TRUE(view.cmdScanEnabled);
        EXPECT_THAT(callouts.calls, Contains("download"));  // chkAutodownload is on by default
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Scans, ScanScriptTest, ::testing::Values(
    // The fourth request brings nothing new: 101 + 101 + 31 + 1 records less one GROUP.
    ScanScript{"FourRequests", "alt.test=5000",
               {{GroupReply(3000, 5230, "alt.test", 2230), "XOVER 5000-5100"},
                {Burst(5000, 5100), "XOVER 5100-5200"}, {Burst(5100, 5200), "XOVER 5200-5300"},
                {Burst(5200, 5230), "XOVER 5230-5330"}, {Burst(5230, 5230), "QUIT"}},
               "230 new articles in alt.test|Scan Complete. 233 headers read in 30 seconds, "
               "averaging 468.0 headers per minute.", "5230", 233, 6},
    // lastRead within 2 of the server's range: the group goes on from there.
    ScanScript{"JustBelowFirst", "g=2998", {{GroupReply(3000, 3050, "g"), "XOVER 2998-3098"}},
               "52 new articles in g", "2998", -1},
    ScanScript{"JustPastLast", "g=5232", {{GroupReply(3000, 5230, "g"), "QUIT"}},
               "-2 new articles in g|Scan Complete. No new headers read in 0 seconds.", "5232", -1},
    // Further off the server renumbered: start at its first article.
    ScanScript{"Renumbered", "g=9000", {{GroupReply(200, 300, "g"), "XOVER 200-300"}},
               "100 new articles in g", "200", -1},
    ScanScript{"BelowFirst", "g=2997", {{GroupReply(3000, 3050, "g"), "XOVER 3000-3100"}},
               "50 new articles in g", "3000", -1},
    ScanScript{"NeverRead", "g=", {{GroupReply(5000, 5010, "g"), "XOVER 5000-5100"}},
               "10 new articles in g", "5000", -1},
    // A new group past the limit of 250,000 starts at its newest headers; one at it as before.
    ScanScript{"NewGroupPastTheLimit", "g=", {{GroupReply(1000, 251001, "g"), "XOVER 1001-1101"}},
               "Reading only the newest 250000 of 250001 articles in g|250000 new articles in g",
               "1001", -1},
    ScanScript{"NewGroupAtTheLimit", "g=", {{GroupReply(1000, 251000, "g"), "XOVER 1000-1100"}},
               "250000 new articles in g", "1000", -1},
    // Two new groups numbered from 1: both requests start at 0, and both are read.
    ScanScript{"NewGroupsFromOne", "alt.one=|alt.two=",
               {{GroupReply(1, 3, "alt.one"), "XOVER 0-100"}, {Burst(1, 3), "GROUP alt.two"},
                {GroupReply(1, 2, "alt.two"), "XOVER 0-100"}, {Burst(1, 2), "QUIT"}},
               "3 new articles in alt.one|2 new articles in alt.two|Scan Complete. 3 headers "
               "read in 0 seconds, averaging 0.0 headers per minute.", "3|2", 3},
    // Switched-off and nameless rows are skipped; nothing new still ends the walk.
    ScanScript{"OffAndNamelessRowsSkipped", "a=10|-off=10|=10|c=10",
               {{GroupReply(5, 10, "a"), "GROUP c"}, {GroupReply(5, 10, "c"), "QUIT"}},
               "0 new articles in a|0 new articles in c|"
               "Scan Complete. No new headers read in 0 seconds.", "10|10|10|10", -2},
    // Replies without both numbers leave the row alone; the scan goes on.
    ScanScript{"MissingNumbers", "g=5000|h=5000|i=5000",
               {{"211 5 1 10\r\n", "GROUP h"}, {"211 5 x y h\r\n", "GROUP i"},
                {"211 \r\n", "QUIT"}},
               "Error, no article numbers in group reply for g|Error, no article numbers in group "
               "reply for h|Error, no article numbers in group reply for i|"
               "Scan Complete. No new headers read in 0 seconds.", "5000|5000|5000", -3}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

struct ReplyCase {
    std::string chunk;
    int stateBefore;
    bool stopBefore;
    std::string logged;
    int stateAfter;
    bool stopAfter;
    std::string sent;
    bool closed = false;  // and the scan button handed back
    bool quitSent = false;
};
void PrintTo(const ReplyCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.chunk); }

// clang-format off
const ReplyCase kReplies[] = {
    {"400 gone\r\n", 0, true, "400 gone|Connection Closed", -1, false, "", true},
    {"421 no next article\r\n", 9, false, "", 0, false, ""},
    {"423 no such article\r\n", 9, false, "", 9, false, ""},
    {"500 what?\r\n", 0, false, "500 what?", 0, false, ""},
    {"223 10 <id>\r\n", 9, false, "", 9, false, ""},
    {"221 10 <id>\r\n", 9, false, "", 9, false, ""},
    {"211 5 1 5 alt.test\r\n", -1, false, "", 0, false, ""},  // out of turn
    {"224 overview\r\n", 0, false, "earlier reply", 0, false, ""},
    {"411 no such group\r\n", 9, false, "Error, no such news group alt.test", -1, false, ""},
    {"480 auth required\r\n", 9, false, "Authenticating User Name...", 9, false,
     "AUTHINFO USER joe"},
    {"381 pass required\r\n", 0, false, "Authenticating Password...", 0, false, "AUTHINFO PASS pw"},
    {"281 ok\r\n", 0, true, "Authinfo cleared, login complete...|Scan Initiated...", 9, false,
     "GROUP alt.test"},
    {"205 bye\r\n", 0, false, "205 bye|Connection Closed", -1, false, "", true},
    {"502 denied\r\n", 0, false, "502 denied|Connection Closed", -1, true, "", true},
    {"201 hello\r\n", 0, true, "201 hello|Scan Initiated...", 9, false, "GROUP alt.test"},
    {"202 slave ok\r\n", 0, true, "202 slave ok|Scan Initiated...", 9, false, "GROUP alt.test"},
    {"hello\r\n", 0, false, "", 0, false, ""},
    {"ticle follows\r\n", 9, false, "", 9, false, ""},
    {"21", 9, false, "", 9, false, ""},
    {"200\r\n", 0, false, "", 0, false, ""},
    {"211 1 2 3 alt.test\r\n", 12, false, "", 12, false, ""},  // burst data
    // A goodbye behind another reply counts only once QUIT has gone out.
    {"224 x\r\n205 bye\r\n", 0, false, "earlier reply", 0, false, ""},
    {"223 1 <a>\r\n205 bye\r\n", 0, false, "bye|Connection Closed", -1, false, "", true, true},
};
// clang-format on

// One reply delivered on a fresh session, its first line cut in two at a chosen byte (0: whole).
struct ReplyRun : ScanFixture {
    void TestBody() override {}
    void Check(const ReplyCase& c, std::size_t cut) {
        AddGroups("alt.test=10");
        // Login requests are answered as with authentication on (LoginTest has it off).
        settings.chkAuth = c.chunk.starts_with("480") || c.chunk.starts_with("381");
        settings.User_Name = "joe";
        settings.User_Pass = "pw";
        table.CurrentGroup = "alt.test";
        tcp1.state = nntp::Socket::kConnected;
        session.ScanBuffer = "earlier reply\r\n";
        session.QuitSent = c.quitSent;
        session.SetScanState(c.stateBefore);
        session.SetScanStop(c.stopBefore);
        view.cmdScanEnabled = false;
        if (cut > 0) tcp1.Deliver(c.chunk.substr(0, cut));
        tcp1.Deliver(c.chunk.substr(cut));
        EXPECT_EQ(TakeLogged(), Items(c.logged));
        EXPECT_EQ(session.ScanState(), c.stateAfter);
        EXPECT_EQ(session.ScanStop(), c.stopAfter);
        EXPECT_EQ(tcp1.sent, Items(c.sent));
        EXPECT_EQ(tcp1.closes, c.closed ? 1 : 0);
        EXPECT_EQ(view.cmdScanEnabled, c.closed);
    }
};

class ScanReplyCodeTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ScanReplyCodeTest, ActsOnTheCodeAtTheStartOfTheReplyWhereverItsLineIsCut) {
    const ReplyCase& c = GetParam();
    const std::size_t line_end = std::min(c.chunk.find('\n'), c.chunk.size() - 1);
    for (std::size_t cut = 0; cut <= line_end; ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        ReplyRun().Check(c, cut);
    }
}
INSTANTIATE_TEST_SUITE_P(Codes, ScanReplyCodeTest, ::testing::ValuesIn(kReplies));

struct LoginCase {
    const char* name;
    int chkAuth, chkSlave;
    std::string user, pass;
    std::string replies, sent, logged;
    bool scanning, scanButton;
    std::string prompts = "";
};

class LoginTest : public ScanFixture, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(LoginTest, SendsAndLogsExactly) {
    const LoginCase& c = GetParam();
    AddGroups("alt.test=10");
    settings.chkAuth = c.chkAuth;
    settings.chkSlave = c.chkSlave;
    settings.User_Name = c.user;
    settings.User_Pass = c.pass;
    connections.ConnectScan();
    for (const std::string& reply : Items(c.replies, "\r\n")) tcp1.Deliver(reply);
    EXPECT_EQ(tcp1.sent, Items(c.sent));
    EXPECT_EQ(TakeLogged(), Items("Connecting...|" + c.logged));
    EXPECT_EQ(engine->Driving(), c.scanning);
    EXPECT_EQ(prompts.shown.empty() ? "" : prompts.shown.back().text, c.prompts);
    // The watchdog runs exactly while the session is up.
    EXPECT_EQ(timer1.interval, c.scanButton ? 0 : 1000);
    EXPECT_EQ(view.cmdScanEnabled, c.scanButton);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Sequences, LoginTest, ::testing::Values(
    LoginCase{"AuthinfoAndSlave", 1, 1, "joe", "secret",
              "200 ready|381 PASS required|281 Ok|202 slave ok",
              "AUTHINFO USER joe|AUTHINFO PASS secret|SLAVE|GROUP alt.test",
              "200 ready|Authenticating User Name...|Authenticating Password...|"
              "Authinfo cleared, login complete...|Requesting slave status|202 slave ok|"
              "Scan Initiated...", true, false},
    // The scan never starts; the watchdog ends the silent connection.
    LoginCase{"SlaveRefused", 0, 1, "", "", "200 ready|500 \"SLAVE\" not implemented", "SLAVE",
              "200 ready|Requesting slave status|500 \"SLAVE\" not implemented", false, false},
    LoginCase{"AskedLater", 1, 0, "joe", "secret",
              "200 ready|381 more|281 Ok|480 auth required|381 more|281 Ok",
              "AUTHINFO USER joe|AUTHINFO PASS secret|GROUP alt.test|AUTHINFO USER joe|"
              "AUTHINFO PASS secret|GROUP alt.test",
              "200 ready|Authenticating User Name...|Authenticating Password...|"
              "Authinfo cleared, login complete...|Scan Initiated...|Authenticating User Name...|"
              "Authenticating Password...|Authinfo cleared, login complete...|Scan Initiated...",
              true, false},
    LoginCase{"PasswordRequestInTheSameChunk", 1, 0, "joe", "secret",
              "200 ready|480 auth required\r\n381 more",
              "AUTHINFO USER joe|AUTHINFO USER joe|AUTHINFO PASS secret",
              "200 ready|Authenticating User Name...|Authenticating User Name...|"
              "Authenticating Password...", false, false},
    // Authentication off: a server asking for a login gets no stored name, only a QUIT.
    LoginCase{"AskedWithAuthenticationOff", 0, 0, "joe", "secret", "200 ready|480 auth required",
              "GROUP alt.test|QUIT",
              "200 ready|Scan Initiated...|"
              "Error, server wanted a login, but authentication is switched off.", false, true},
    LoginCase{"NoPassword", 1, 0, "joe", "", "200 ready|381 PASS required",
              "AUTHINFO USER joe|QUIT",
              "200 ready|Authenticating User Name...|Authenticating Password...", false, true,
              "Error, server wanted password, but you have not supplied it."},
    LoginCase{"NoUserName", 1, 0, "", "secret", "200 ready", "QUIT",
              "200 ready|Authenticating User Name...|"
              "Error, server wanted username, but you have not supplied it.", false, true,
              "Error, server wanted username, but you have not supplied it."},
    LoginCase{"GreetingDenied", 0, 0, "", "", "502 access denied", "",
              "502 access denied|Connection Closed", false, true,
              "Authentication Error.  Check Username/Password..."}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(ScanEngineTest, SocketErrorIsLoggedBeforeTheRestart) {
    RestartCloses();
    StartScan("alt.test=10|alt.next=10");
    tcp1.state = nntp::Socket::kError;
    tcp1.onError(10053, "The remote host closed the connection");
    EXPECT_THAT(TakeLogged(),
                ElementsAre("The remote host closed the connection", "Connection Closed"));
    EXPECT_THAT(callouts.calls, ElementsAre("restart 1"));
    EXPECT_THAT(TakeSent(), IsEmpty());
    // Data on a socket no longer connected is not taken for a reply.
    tcp1.Deliver("200 ready\r\n");
    EXPECT_THAT(TakeLogged(), IsEmpty());
    EXPECT_FALSE(session.SessionReady);
}

TEST_F(ScanEngineTest, EndLineIsFoundWhereverTheChunksSplitIt) {
    const std::string burst = Burst(101, 103);
    AddGroups("g=");
    auto run = [&](std::vector<std::size_t> cuts) {
        Row(1).lastRead = "100";
        StartScan("");
        ASSERT_THAT(Say(GroupReply(101, 103, "g")), ElementsAre("XOVER 100-200"));
        cuts.push_back(burst.size());
        std::size_t at = 0;
        for (std::size_t cut : cuts) {
            EXPECT_EQ(Row(1).lastRead, "100") << "parsed before offset " << at;
            tcp1.Deliver(burst.substr(at, cut - at));
            at = cut;
        }
        EXPECT_EQ(Row(1).lastRead, "103");
        EXPECT_THAT(TakeSent(), ElementsAre("QUIT"));
        tcp1.state = nntp::Socket::kClosed;
    };
    for (std::size_t cut = 1; cut < burst.size(); ++cut) {
        SCOPED_TRACE(cut);
        run({cut});
    }
    const std::size_t end = burst.size();
    run({end - 5, end - 4, end - 3, end - 2, end - 1});  // the end line a byte at a time
}

TEST_F(ScanEngineTest, GroupReplyAndProgressUpdateRowStatusLineAndGroupBar) {
    StartScan("g=100");
    tcp1.Deliver(GroupReply(51, 150, "g"));
    EXPECT_THAT(callouts.calls, ElementsAre("expire g [51 ]"));
    const storage::GroupEntry& row = Row(1);
    EXPECT_EQ(row.first + " " + row.last + " " + row.unread + " " + row.total,
              "51 150 00050 00099");
    EXPECT_EQ(view.ProgressBar2.maximum, 51);
    clock.Advance(std::chrono::seconds(10));
    engine->ReportProgress("g", " 110 ", false);
    EXPECT_EQ(row.lastRead + " " + row.unread, "110 00040");
    EXPECT_EQ(view.ProgressBar2.value, 11);
    EXPECT_EQ(log.StatusLine(), "Scanning header 110  Scan Time: 10s");
    session.ScanHeaderCount = 19;
    engine->ReportProgress("g", "160", false);
    EXPECT_EQ(row.last, "160");
    EXPECT_EQ(log.StatusLine(),
              "Scanning header 160; averaging 120.0 headers per minute. Scan Time: 10s");
    // Lower numbers move lastRead back only when forced.
    engine->ReportProgress("g", "120", false);
    EXPECT_EQ(row.lastRead + " " + row.unread, "160 00000");
    engine->ReportProgress("g", "120", true);
    EXPECT_EQ(row.lastRead, "120");
    // Past the last article the count goes negative and the bar keeps its value.
    engine->ReportProgress("g", "170", true);
    EXPECT_EQ(row.unread, "-00010");
    EXPECT_EQ(view.ProgressBar2.value, 11);
}

TEST_F(ScanEngineTest, ProgressFindsTheRightRowAfterTheListChanges) {
    AddGroups("a=1|b=7|c=9");
    EXPECT_EQ(engine->LastReadOf("b"), "7");
    // Edited without a revision bump: the remembered position now holds another name.
    groups.Entries().erase(groups.Entries().begin());
    EXPECT_EQ(engine->LastReadOf("b"), "7");
    EXPECT_EQ(engine->LastReadOf("c"), "9");
    // Renamed and announced: the first row of that name wins over the remembered one.
    Row(1).name = "c";
    Row(1).lastRead = "3";
    groups.Touch();
    EXPECT_EQ(engine->LastReadOf("c"), "3");
}

TEST_F(ScanEngineTest, StopDuringABurstKeepsItsHeadersAndSendsNothingMore) {
    StartScan("g=5000|h=1");
    EXPECT_THAT(Say(GroupReply(3000, 5230, "g", 2230)), ElementsAre("XOVER 5000-5100"));
    TakeLogged();
    pump.actions.push_back([this] { connections.QuitConnection(1); });
    EXPECT_THAT(Say(Burst(5000, 5100)), ElementsAre("QUIT"));
    EXPECT_EQ(Row(1).lastRead, "5100");
    EXPECT_EQ(table.HeaderCount(), 101);
    EXPECT_FALSE(engine->Driving());
    EXPECT_EQ(session.ScanState(), 0);
    EXPECT_EQ(Row(1).stateIcon, 1);
    EXPECT_THAT(Say("205 bye\r\n"), IsEmpty());
    EXPECT_THAT(TakeLogged(), ElementsAre("Xover burst recieved: g, " +
                                              std::to_string(Burst(5000, 5100).size()) + " bytes",
                                          "205 bye", "Connection Closed"));
}

TEST_F(ScanEngineTest, DataArrivingDuringAParseIsNotParsedTwice) {
    StartScan("g=5000");
    tcp1.Deliver(GroupReply(3000, 5230, "g", 2230));
    TakeSent();
    pump.actions.push_back([this] { tcp1.Deliver("stray\r\n.\r\n"); });
    pump.actions.push_back([this] { tcp1.Deliver("211 1 2 3 g\r\n"); });
    EXPECT_THAT(Say(Burst(5000, 5100)), ElementsAre("XOVER 5100-5200"));
    EXPECT_EQ(engine->XoverBuffer(), "");
    EXPECT_EQ(table.HeaderCount(), 101);
}

TEST_F(ScanEngineTest, ServerClosingMidBurstRestartsWithoutTouchingTheGroup) {
    StartScan("g=5000|h=1");
    RestartCloses();
    tcp1.Deliver(GroupReply(3000, 5230, "g", 2230));
    TakeSent();
    TakeLogged();
    tcp1.Deliver(Burst(5000, 5100).substr(0, 3000));
    tcp1.PeerClose();
    EXPECT_THAT(callouts.calls, ElementsAre("expire g [3000 ]", "restart 1"));
    EXPECT_EQ(timer1.interval, 0);
    EXPECT_EQ(Row(1).lastRead, "5000");
    EXPECT_EQ(table.HeaderCount(), 0);
    EXPECT_THAT(TakeLogged(), ElementsAre("Connection Closed"));
    // The next GROUP cannot go out; the scan waits for a new one, which starts from the top.
    EXPECT_THAT(TakeSent(), IsEmpty());
    EXPECT_TRUE(engine->Driving());
    Connect();
    EXPECT_THAT(TakeSent(), ElementsAre("GROUP g"));
    // A close after our own QUIT is the normal end.
    callouts.calls.clear();
    connections.QuitConnection(1);
    tcp1.PeerClose();
    EXPECT_THAT(callouts.calls, IsEmpty());
    EXPECT_FALSE(engine->Driving());
}

TEST_F(ScanEngineTest, AReplyThatNeverEndsIsDroppedAndTheConnectionRestarted) {
    engine->SetReplyLimit(1000);
    RestartCloses();
    const std::string too_much =
        "Error, the server sent over 1000 bytes without ending its reply; restarting the "
        "connection";
    // Burst data streaming without its end line.
    StartScan("g=100|h=1");
    tcp1.Deliver(GroupReply(101, 300, "g"));
    TakeLogged();
    TakeSent();
    tcp1.Deliver("224 Overview follows\r\n" + OverviewLine(101));
    for (int i = 0; i < 3; ++i) tcp1.Deliver(std::string(400, 'x') + "\r\n");
    EXPECT_THAT(TakeLogged(), ElementsAre(too_much, "Connection Closed"));
    EXPECT_THAT(callouts.calls, ElementsAre("expire g [101 ]", "restart 1"));
    EXPECT_EQ(engine->XoverBuffer(), "");
    EXPECT_EQ(table.HeaderCount(), 0);
    EXPECT_EQ(Row(1).lastRead, "100");
    // Junk outside a burst piles up in the scan buffer and is dropped the same way.
    callouts.calls.clear();
    Connect();
    TakeSent();
    TakeLogged();
    for (int i = 0; i < 3; ++i) tcp1.Deliver("999 " + std::string(400, 'y'));
    EXPECT_THAT(TakeLogged(), ElementsAre(too_much, "Connection Closed"));
    EXPECT_THAT(callouts.calls, ElementsAre("restart 1"));
    EXPECT_EQ(session.ScanBuffer, "");
}

TEST_F(ScanEngineTest, HugeAndMalformedOverviewLinesDoNotDisturbTheScan) {
    StartScan("g=100");
    tcp1.Deliver(GroupReply(101, 104, "g"));
    std::string burst = "224 Overview follows\r\n" + OverviewLine(101) +
                        OverviewLine(102, std::string(1 << 20, 'x') + " (1/1)") +
                        "abc\tbad number\tp\td\t<m>\t\t10\t1\r\nno tabs at all\r\n" +
                        OverviewLine(104) + ".\r\n";
    for (std::size_t at = 0; at < burst.size(); at += 65536) tcp1.Deliver(burst.substr(at, 65536));
    EXPECT_EQ(Row(1).lastRead, "104");
    EXPECT_EQ(table.HeaderCount(), 4);
    EXPECT_THAT(TakeSent(), ElementsAre("XOVER 100-200", "QUIT"));
}

// What the expiry callout does while the GROUP reply is handled decides what goes out next.
TEST_F(ScanEngineTest, WhatHappensDuringExpiryDecidesTheNextRequest) {
    StartScan("f=10|g=10|h=10");
    tcp1.Deliver(GroupReply(5, 12, "f"));
    EXPECT_THAT(Say(Burst(10, 12)), ElementsAre("XOVER 10-110", "GROUP g"));
    // The row is deleted: no burst on its count; row 3 is gone too, so the walk ends.
    callouts.onExpire = [this] {
        groups.Entries().erase(groups.Entries().begin() + 1);
        groups.Touch();
    };
    EXPECT_THAT(Say(GroupReply(1, 50, "g", 50)), ElementsAre("QUIT"));

    // A stop sends no request.
    tcp1.state = nntp::Socket::kClosed;
    StartScan("");
    callouts.onExpire = [this] { connections.QuitConnection(1); };
    EXPECT_THAT(Say(GroupReply(3000, 5230, "f", 2230)), ElementsAre("QUIT"));

    // A scan started meanwhile keeps the connection.
    tcp1.state = nntp::Socket::kClosed;
    StartScan("");
    callouts.onExpire = [this] {
        callouts.onExpire = nullptr;
        tcp1.Deliver("202 slave ok\r\n");
    };
    EXPECT_THAT(Say(GroupReply(1, 50, "f", 50)), ElementsAre("GROUP f"));
    EXPECT_EQ(session.ScanState(), 9);
}


// Plays a server holding g 3000-5650 (5120-5180 missing) and h 1-250, answering every line we
// send; the replies reach us in chunks of `chunk` bytes.
struct ScriptedServer {
    std::string Answer(const std::string& line) const {
        if (line == "GROUP g") return GroupReply(3000, 5650, "g", 2590);
        if (line == "GROUP h") return GroupReply(1, 250, "h", 250);
        if (line == "QUIT") return "205 bye\r\n";
        long from = 0, to = 0;
        if (std::sscanf(line.c_str(), "XOVER %ld-%ld", &from, &to) != 2) return "500 what?\r\n";
        const long last = group == "g" ? 5650 : 250;
        std::string text = "224 Overview information follows\r\n";
        for (long n = std::max(from, group == "g" ? 3000L : 1L); n <= std::min(to, last); ++n)
            if (group != "g" || n < 5120 || n > 5180) text += OverviewLine(n);
        return text + ".\r\n";
    }
    std::string group;
};

struct InFlightOutcome {
    std::vector<std::string> logged;
    std::string lastReads;
    int headers = 0;
    std::size_t tableRows = 0;
    bool operator==(const InFlightOutcome&) const = default;
};

// One scan of the scripted server from a fresh session.
struct InFlightRun : ScanEngineTest {
    void TestBody() override {}
    InFlightOutcome Run(int inFlight, std::size_t chunk) {
        settings.XoverInFlight = inFlight;
        StartScan("g=5000|h=");
        ScriptedServer server;
        std::string stream = server.Answer("GROUP g");
        server.group = "g";
        while (!stream.empty()) {
            const std::size_t size = std::min(chunk, stream.size());
            tcp1.Deliver(stream.substr(0, size));
            stream.erase(0, size);
            for (const std::string& line : TakeSent()) {
                sent.push_back(line);
                if (line.starts_with("GROUP ")) server.group = line.substr(6);
                stream += server.Answer(line);
            }
        }
        InFlightOutcome out{TakeLogged()};
        for (const storage::GroupEntry& row : groups.Entries()) out.lastReads += row.lastRead + "|";
        out.headers = session.ScanHeaderCount;
        out.tableRows = table.HeaderCount();
        return out;
    }
    std::vector<std::string> sent;
};

// Requests sent ahead read exactly what one request at a time reads, however the replies are cut.
TEST(ScanInFlightTest, RequestsInFlightReadWhatOneRequestAtATimeReads) {
    const InFlightOutcome one = InFlightRun().Run(1, 1 << 20);
    EXPECT_EQ(one.lastReads, "5650|250|");
    // 840 articles; every burst reads again the article the one before ended on, and each
    // group's count leaves one out.
    EXPECT_EQ(one.headers, 848);
    for (int inFlight : {4, 16}) {
        for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{5},
                                  std::size_t{4096}, std::size_t{1} << 20}) {
            InFlightRun run;
            EXPECT_EQ(run.Run(inFlight, chunk), one) << inFlight << " in chunks of " << chunk;
            // Requests go ahead up to the group's end, never past it.
            EXPECT_THAT(run.sent, Contains("XOVER 5600-5700"));
            EXPECT_THAT(run.sent, ::testing::Not(Contains("XOVER 5700-5800")));
        }
    }
}

// A stop gives up the requests ahead: their replies are read past, and the goodbye is seen.
TEST_F(ScanEngineTest, AStopWithRequestsInFlightReadsPastTheirReplies) {
    settings.XoverInFlight = 4;
    StartScan("g=5000|h=1");
    EXPECT_THAT(Say(GroupReply(3000, 5650, "g", 2650)),
                ElementsAre("XOVER 5000-5100", "XOVER 5100-5200", "XOVER 5200-5300",
                            "XOVER 5300-5400"));
    TakeLogged();
    pump.actions.push_back([this] { connections.QuitConnection(1); });
    // The first reply and part of the second come together.
    const std::string second = Burst(5100, 5200);
    EXPECT_THAT(Say(Burst(5000, 5100) + second.substr(0, 50)), ElementsAre("QUIT"));
    EXPECT_EQ(engine->BurstsAhead(), 0u);
    EXPECT_EQ(Row(1).lastRead, "5100");
    EXPECT_EQ(table.HeaderCount(), 101);
    // A 205 inside the overview data is not the goodbye.
    EXPECT_THAT(Say(second.substr(50) + Burst(5200, 5300) + "224 x\r\n\r\n205\tx\r\n.\r\n205 bye"),
                IsEmpty());
    EXPECT_EQ(table.HeaderCount(), 101);
    EXPECT_THAT(Say("\r\n"), IsEmpty());
    EXPECT_THAT(TakeLogged(), ElementsAre("Xover burst recieved: g, " +
                                              std::to_string(Burst(5000, 5100).size()) + " bytes",
                                          "205 bye", "Connection Closed"));
}

}  // namespace
}  // namespace quillfin::testing
