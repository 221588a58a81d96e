#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "nntp/scan_fixture.h"

namespace quillfin::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct ReplyCase {
    const char* name;
    std::string chunk;
    int stateBefore;
    bool stopBefore;
    std::vector<std::string> logged;
    int stateAfter;
    bool stopAfter;
    std::vector<std::string> sent;
    bool closed = false;
    bool controlsReset = false;  // progress bars 0 and the scan button enabled
    std::vector<std::string> prompts = {};
};

class ScanReplyTableTest : public ScanFixture, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ScanReplyTableTest, ActsOnTheCodeAtTheStartOfTheChunk) {
    const ReplyCase& c = GetParam();
    AddGroup("alt.test", "10");
    settings.User_Name = "joe";
    settings.User_Pass = "pw";
    table.CurrentGroup = "alt.test";
    tcp1.state = nntp::Socket::kConnected;
    session.ScanBuffer = "earlier reply\r\n";
    session.SetScanState(c.stateBefore);
    session.SetScanStop(c.stopBefore);
    view.cmdScanEnabled = false;
    view.ProgressBar1.value = 3;
    view.ProgressBar2.value = 4;

    tcp1.Deliver(c.chunk);

    EXPECT_EQ(Logged(), c.logged);
    EXPECT_EQ(session.ScanState(), c.stateAfter);
    EXPECT_EQ(session.ScanStop(), c.stopAfter);
    EXPECT_EQ(tcp1.sent, c.sent);
    EXPECT_EQ(tcp1.closes, c.closed ? 1 : 0);
    EXPECT_EQ(view.cmdScanEnabled, c.controlsReset);
    EXPECT_EQ(view.ProgressBar1.value == 0 && view.ProgressBar2.value == 0, c.controlsReset);
    std::vector<std::string> shown;
    for (const auto& p : prompts.shown) shown.push_back(p.text);
    EXPECT_EQ(shown, c.prompts);
}

const std::vector<std::string> kNone;

INSTANTIATE_TEST_SUITE_P(
    Codes, ScanReplyTableTest,
    ::testing::Values(
        ReplyCase{"Discontinued",
                  "400 service discontinued\r\n",
                  0,
                  true,
                  {"400 service discontinued", "Connection Closed"},
                  -1,
                  false,
                  kNone,
                  true,
                  true},
        ReplyCase{"NoMoreArticles", "421 no next article\r\n", 9, false, kNone, 0, false, kNone},
        ReplyCase{"NoSuchArticle", "423 no such article\r\n", 9, false, kNone, 9, false, kNone},
        ReplyCase{"Unknown", "500 what?\r\n", 0, false, {"500 what?"}, 0, false, kNone},
        ReplyCase{"Stat", "223 10 <id>\r\n", 9, false, kNone, 9, false, kNone},
        ReplyCase{"Head", "221 10 <id>\r\n", 9, false, kNone, 9, false, kNone},
        ReplyCase{"GroupOutOfTurn", "211 5 1 5 alt.test\r\n", -1, false, kNone, 0, false, kNone},
        ReplyCase{"Overview", "224 overview\r\n", 0, false, {"earlier reply"}, 0, false, kNone},
        ReplyCase{"NoSuchGroup",
                  "411 no such group\r\n",
                  9,
                  false,
                  {"Error, no such news group alt.test"},
                  -1,
                  false,
                  kNone},
        ReplyCase{"AuthRequired",
                  "480 authentication required\r\n",
                  9,
                  false,
                  {"Authenticating User Name..."},
                  9,
                  false,
                  {"AUTHINFO USER joe"}},
        ReplyCase{"PassRequired",
                  "381 password required\r\n",
                  0,
                  false,
                  {"Authenticating Password..."},
                  0,
                  false,
                  {"AUTHINFO PASS pw"}},
        ReplyCase{"LoggedIn",
                  "281 ok\r\n",
                  0,
                  true,
                  {"Authinfo cleared, login complete...", "Scan Initiated..."},
                  9,
                  false,
                  {"GROUP alt.test"}},
        ReplyCase{"Goodbye",
                  "205 closing\r\n",
                  0,
                  false,
                  {"205 closing", "Connection Closed"},
                  -1,
                  false,
                  kNone,
                  true,
                  true},
        ReplyCase{"Denied",
                  "502 access denied\r\n",
                  0,
                  false,
                  {"502 access denied", "Connection Closed"},
                  -1,
                  true,
                  kNone,
                  true,
                  true,
                  {"Authentication Error.  Check Username/Password..."}},
        ReplyCase{"Greeting",
                  "201 hello, no posting\r\n",
                  0,
                  true,
                  {"201 hello, no posting", "Scan Initiated..."},
                  9,
                  false,
                  {"GROUP alt.test"}},
        ReplyCase{"SlaveGranted",
                  "202 slave ok\r\n",
                  0,
                  true,
                  {"202 slave ok", "Scan Initiated..."},
                  9,
                  false,
                  {"GROUP alt.test"}},
        ReplyCase{"NoCode", "hello\r\n", 0, false, kNone, 0, false, kNone},
        ReplyCase{"MidLine", "ticle follows\r\n", 9, false, kNone, 9, false, kNone},
        ReplyCase{"CodeSplit", "21", 9, false, kNone, 9, false, kNone},
        ReplyCase{"CodeWithoutBlank", "200\r\n", 0, false, kNone, 0, false, kNone},
        ReplyCase{"BurstExpected", "211 1 2 3 alt.test\r\n", 12, false, kNone, 12, false, kNone}),
    [](const auto& info) { return std::string(info.param.name); });

// Lists are written as one text, items separated by "|"; server replies get CR LF.
std::vector<std::string> Items(const std::string& text, const std::string& suffix = "") {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t bar = text.find('|', at);
        if (bar == std::string::npos) bar = text.size();
        out.push_back(text.substr(at, bar - at) + suffix);
        at = bar + 1;
    }
    return out;
}

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
    AddGroup("alt.test", "10");
    settings.chkAuth = c.chkAuth;
    settings.chkSlave = c.chkSlave;
    settings.User_Name = c.user;
    settings.User_Pass = c.pass;
    connections.ConnectScan();
    for (const std::string& reply : Items(c.replies, "\r\n")) tcp1.Deliver(reply);

    EXPECT_EQ(tcp1.sent, Items(c.sent));
    EXPECT_EQ(Logged(), Items("Connecting...|" + c.logged));
    EXPECT_EQ(engine->Driving(), c.scanning);
    std::vector<std::string> shown;
    for (const auto& p : prompts.shown) shown.push_back(p.text);
    EXPECT_EQ(shown, Items(c.prompts));
    EXPECT_EQ(view.cmdScanEnabled, c.scanButton);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Sequences, LoginTest, ::testing::Values(
    LoginCase{"Plain", 0, 0, "", "", "200 ready", "GROUP alt.test",
              "200 ready|Scan Initiated...", true, false},
    LoginCase{"Authinfo", 1, 0, "joe", "secret", "200 ready|381 PASS required|281 Ok",
              "AUTHINFO USER joe|AUTHINFO PASS secret|GROUP alt.test",
              "200 ready|Authenticating User Name...|Authenticating Password...|"
              "Authinfo cleared, login complete...|Scan Initiated...", true, false},
    LoginCase{"Slave", 0, 1, "", "", "200 ready|202 slave status noted", "SLAVE|GROUP alt.test",
              "200 ready|Requesting slave status|202 slave status noted|Scan Initiated...",
              true, false},
    LoginCase{"AuthinfoAndSlave", 1, 1, "joe", "secret",
              "200 ready|381 PASS required|281 Ok|202 slave ok",
              "AUTHINFO USER joe|AUTHINFO PASS secret|SLAVE|GROUP alt.test",
              "200 ready|Authenticating User Name...|Authenticating Password...|"
              "Authinfo cleared, login complete...|Requesting slave status|202 slave ok|"
              "Scan Initiated...", true, false},
    // The scan never starts; the watchdog ends the silent connection.
    LoginCase{"SlaveRefused", 0, 1, "", "", "200 ready|500 \"SLAVE\" not implemented", "SLAVE",
              "200 ready|Requesting slave status|500 \"SLAVE\" not implemented", false, false},
    LoginCase{"AskedLater", 0, 0, "joe", "secret", "200 ready|480 auth required|381 more|281 Ok",
              "GROUP alt.test|AUTHINFO USER joe|AUTHINFO PASS secret|GROUP alt.test",
              "200 ready|Scan Initiated...|Authenticating User Name...|"
              "Authenticating Password...|Authinfo cleared, login complete...|Scan Initiated...",
              true, false},
    LoginCase{"PasswordRequestInTheSameChunk", 0, 0, "joe", "secret",
              "200 ready|480 auth required\r\n381 more",
              "GROUP alt.test|AUTHINFO USER joe|AUTHINFO PASS secret",
              "200 ready|Scan Initiated...|Authenticating User Name...|Authenticating Password...",
              true, false},
    LoginCase{"NoPassword", 1, 0, "joe", "", "200 ready|381 PASS required",
              "AUTHINFO USER joe|QUIT",
              "200 ready|Authenticating User Name...|Authenticating Password...", false, true,
              "Error, server wanted password, but you have not supplied it."},
    LoginCase{"NoUserName", 1, 0, "", "secret", "200 ready", "QUIT",
              "200 ready|Authenticating User Name...|"
              "Error, server wanted username, but you have not supplied it.", false, true,
              "Error, server wanted username, but you have not supplied it."},
    LoginCase{"GreetingDiscontinued", 0, 0, "", "", "400 service discontinued", "",
              "400 service discontinued|Connection Closed", false, true},
    LoginCase{"GreetingDenied", 0, 0, "", "", "502 access denied", "",
              "502 access denied|Connection Closed", false, true,
              "Authentication Error.  Check Username/Password..."}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

class ScanReplyTest : public ScanFixture {};

TEST_F(ScanReplyTest, GreetingStartsTheWatchdogAndTheSession) {
    AddGroup("alt.test", "10");
    connections.ConnectScan();
    EXPECT_FALSE(view.cmdScanEnabled);
    clock.Advance(std::chrono::seconds(5));
    tcp1.Deliver("200 ready\r\n");
    EXPECT_EQ(timer1.interval, 1000);
    EXPECT_TRUE(session.SessionReady);
    EXPECT_EQ(session.LastScanActivity, clock.Now());
    EXPECT_TRUE(session.Scanning);
    EXPECT_EQ(session.ScanBuffer, "");
}

TEST_F(ScanReplyTest, PasswordFailureReopensTheLoginDialog) {
    AddGroup("alt.test", "10");
    settings.chkAuth = 1;
    settings.User_Name = "joe";
    connections.ConnectScan();
    tcp1.Deliver("200 ready\r\n");
    tcp1.Deliver("381 pass\r\n");
    EXPECT_THAT(windows.requests, ElementsAre("hide login", "show login"));
    EXPECT_TRUE(session.ScanStop());
    EXPECT_TRUE(session.QuitSent);
    EXPECT_EQ(timer1.interval, 0);
}

TEST_F(ScanReplyTest, DataOnAClosedSocketOnlyQuits) {
    tcp1.state = nntp::Socket::kPeerClosing;
    tcp1.Deliver("200 ready\r\n");
    EXPECT_THAT(Logged(), IsEmpty());
    EXPECT_THAT(tcp1.sent, IsEmpty());
    EXPECT_TRUE(session.QuitSent);
    EXPECT_TRUE(session.ScanStop());
    EXPECT_EQ(session.ScanBuffer, "");
}

TEST_F(ScanReplyTest, GoodbyeBehindOtherTextCountsOnlyAfterQuit) {
    tcp1.state = nntp::Socket::kConnected;
    tcp1.Deliver("224 data\r\n205 closing connection\r\n");
    EXPECT_THAT(Logged(), ElementsAre("224 data"));
    EXPECT_EQ(tcp1.closes, 0);

    session.QuitSent = true;
    tcp1.Deliver("223 1 <a>\r\n205 closing connection\r\n");
    EXPECT_THAT(Logged(), ElementsAre("224 data", "closing connection", "Connection Closed"));
    EXPECT_EQ(tcp1.closes, 1);
}

TEST_F(ScanReplyTest, SocketErrorIsLoggedBeforeTheRestart) {
    callouts.onRestart = [this](int c) {
        connections.CloseConnection(c);
        log.LogEvent("Emergency Reconnect in 90 seconds.", true);
    };
    AddGroup("alt.test", "10");
    AddGroup("alt.next", "10");
    Connect();
    tcp1.state_after_close = nntp::Socket::kError;
    tcp1.RaiseError(10053, "The remote host closed the connection");
    EXPECT_THAT(Logged(), ElementsAre("Connecting...", "200 news.example.test ready",
                                      "Scan Initiated...", "The remote host closed the connection",
                                      "TCP Error", "TCP Error", "TCP Error", "TCP Error",
                                      "TCP Error", "Emergency Reconnect in 90 seconds."));
    EXPECT_EQ(tcp1.closes, 5);
    EXPECT_THAT(callouts.calls, ElementsAre("restart 1"));
    // The group failed; the next one could not be sent, so the scan waits for a new one.
    EXPECT_EQ(session.ScanState(), 9);
    EXPECT_THAT(tcp1.sent, ElementsAre("GROUP alt.test"));
    EXPECT_TRUE(engine->Driving());
}

TEST_F(ScanReplyTest, CloseOutsideASessionOnlyStopsTheWatchdog) {
    timer1.interval = 1000;
    tcp1.PeerClose();
    EXPECT_EQ(timer1.interval, 0);
    EXPECT_THAT(callouts.calls, IsEmpty());
    EXPECT_THAT(Logged(), IsEmpty());
}

}  // namespace
}  // namespace quillfin::testing
