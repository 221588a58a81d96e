#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "nntp/scan_fixture.h"

namespace quillfin::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ConnectionsTest : public ScanFixture {
protected:
    std::vector<std::string> Shown() const {
        std::vector<std::string> out;
        for (const auto& p : prompts.shown) out.push_back(p.text);
        return out;
    }
    FakeSocket tcp2, viewer3, viewer4, viewer5;
    FakeTimer timer2;
};

TEST_F(ConnectionsTest, LinesGoOutOnlyWhenConnected) {
    for (int state = 0; state <= 9; ++state) {
        tcp1.state = state;
        tcp1.raw_sent.clear();
        connections.SendLine(1, "GROUP alt.test");
        EXPECT_EQ(tcp1.raw_sent, state == 7 ? "GROUP alt.test\r\n" : "") << "state " << state;
    }
    connections.SendLine(6, "QUIT");  // no such connection
    EXPECT_THAT(Logged(), IsEmpty());
}

TEST_F(ConnectionsTest, ViewerLinesAreLoggedWithThePasswordMasked) {
    connections.AttachSocket(3, &viewer3);
    connections.AttachSocket(2, &tcp2);
    viewer3.state = tcp2.state = nntp::Socket::kConnected;
    connections.SendLine(3, "AUTHINFO USER joe");
    connections.SendLine(3, "AUTHINFO PASS s3cret pass");
    connections.SendLine(3, "LIST");
    connections.SendLine(2, "AUTHINFO PASS s3cret pass");
    EXPECT_THAT(viewer3.sent,
                ElementsAre("AUTHINFO USER joe", "AUTHINFO PASS s3cret pass", "LIST"));
    EXPECT_THAT(tcp2.sent, ElementsAre("AUTHINFO PASS s3cret pass"));
    EXPECT_THAT(Logged(), ElementsAre("AUTHINFO USER joe", "AUTHINFO PASS ********", "LIST"));
}

TEST_F(ConnectionsTest, ConnectAsksForAServerName) {
    AddGroup("alt.test");
    settings.News_Host = "";
    settings.News_Port = "";
    connections.ConnectScan();
    EXPECT_EQ(settings.News_Port, "119");
    EXPECT_THAT(Shown(), ElementsAre("Enter News Server name, and then click connect again.\r\r"
                                     "  This is usually 'news.(hostname).net' or something "
                                     "similar.  Contact your system admin if you are unsure."));
    EXPECT_EQ(prompts.shown[0].title, "Quillfin");
    EXPECT_EQ(tcp1.connects, 0);
    EXPECT_TRUE(view.cmdScanEnabled);
}

TEST_F(ConnectionsTest, ConnectWithoutNewsgroupsOpensTheNewsgroupDialogs) {
    connections.ConnectScan();
    EXPECT_THAT(windows.requests, ElementsAre("hide login", "options newsgroups", "add newsgroup"));
    EXPECT_THAT(Shown(), ElementsAre("Before scanning, you need to specify some newsgroups.  \r\r"
                                     "Usually you do this from the Options menu / Newsgroups tab "
                                     "/ Add button, but this time I'll pop it up for you."));
    EXPECT_EQ(tcp1.connects, 0);
}

TEST_F(ConnectionsTest, ConnectUsesTheLeadingPortNumberAndTheHostAsEntered) {
    AddGroup("alt.test");
    settings.News_Host = " news.example.test ";
    settings.News_Port = "119abc";
    session.ScanBuffer = "old";
    session.DownloadBuffer = "old";
    session.QuitSent = true;
    session.BurstStart = "5000";
    session.RestartPending = true;
    session.SetScanState(12);
    connections.ConnectScan();
    EXPECT_EQ(tcp1.remote_host, " news.example.test ");
    EXPECT_EQ(tcp1.remote_port, 119);
    EXPECT_EQ(tcp1.local_port, 0);
    EXPECT_EQ(tcp1.connects, 1);
    EXPECT_THAT(Logged(), ElementsAre("Connecting..."));
    EXPECT_THAT(windows.requests, ElementsAre("hide login"));
    EXPECT_FALSE(view.cmdScanEnabled);
    EXPECT_FALSE(session.QuitSent);
    EXPECT_FALSE(session.RestartPending);
    EXPECT_EQ(session.BurstStart, "");
    EXPECT_EQ(session.ScanBuffer, "");
    EXPECT_EQ(session.DownloadBuffer, "");
    // A burst of the old connection cannot swallow the new greeting.
    tcp1.Deliver("200 ready\r\n");
    EXPECT_TRUE(session.SessionReady);
}

TEST_F(ConnectionsTest, ConnectClosesAnOpenSocketFirst) {
    AddGroup("alt.test");
    tcp1.state = nntp::Socket::kConnected;
    connections.ConnectScan();
    EXPECT_THAT(Logged(), ElementsAre("Connection Error, please wait...", "Connection Closed",
                                      "Connecting..."));
    EXPECT_EQ(tcp1.closes, 1);
    EXPECT_EQ(tcp1.connects, 1);
}

TEST_F(ConnectionsTest, ConnectGivesUpOnASocketThatWillNotClose) {
    AddGroup("alt.test");
    tcp1.state = nntp::Socket::kConnected;
    tcp1.state_after_close = nntp::Socket::kPeerClosing;
    connections.ConnectScan();
    std::vector<std::string> expected = {"Connection Error, please wait..."};
    expected.insert(expected.end(), 5, "Peer is closing the connection");
    expected.push_back("Connection Error...");
    EXPECT_EQ(Logged(), expected);
    EXPECT_EQ(tcp1.connects, 0);
    EXPECT_FALSE(view.cmdScanEnabled);
}

TEST_F(ConnectionsTest, ConnectWithAnImpossiblePortQuits) {
    AddGroup("alt.test");
    settings.News_Port = "99999";
    connections.ConnectScan();
    EXPECT_THAT(Logged(), ElementsAre("Overflow"));
    EXPECT_EQ(tcp1.connects, 0);
    EXPECT_TRUE(session.QuitSent);
    EXPECT_TRUE(view.cmdScanEnabled);
}

TEST_F(ConnectionsTest, ConnectionStateTexts) {
    const std::vector<std::string> texts = {
        "Connection Closed",  "Open",           "Listening",
        "Connection pending", "Resolving Host", "Host resolved",
        "Connecting",         "Connected",      "Peer is closing the connection",
        "TCP Error"};
    for (int state = 0; state <= 10; ++state) {
        SCOPED_TRACE(state);
        log.Clear();
        tcp1.state = state;
        view.cmdScanEnabled = false;
        session.SetScanState(9);
        connections.ShowConnectionState(1);
        // A socket not yet closed is closed, which reports again.
        std::vector<std::string> expected;
        if (state < 10) expected.push_back(texts[std::size_t(state)]);
        if (state != 0) expected.push_back("Connection Closed");
        EXPECT_EQ(Logged(), expected);
        EXPECT_EQ(session.ScanState(), -1);
        EXPECT_TRUE(view.cmdScanEnabled);
    }
}

TEST_F(ConnectionsTest, QuitEndsTheScanSessionWithoutClosing) {
    connections.AttachSocket(2, &tcp2);
    connections.AttachTimer(2, &timer2);
    tcp1.state = tcp2.state = nntp::Socket::kConnected;
    timer1.interval = timer2.interval = 1000;
    session.SessionReady = true;
    session.DownloadState = 3;
    view.cmdScanEnabled = false;
    view.ProgressBar1.value = 2;
    connections.QuitConnection(1);
    EXPECT_THAT(tcp1.sent, ElementsAre("QUIT"));
    EXPECT_EQ(tcp1.closes, 0);
    EXPECT_TRUE(session.QuitSent);
    EXPECT_TRUE(session.ScanStop());
    EXPECT_FALSE(session.SessionReady);
    EXPECT_EQ(timer1.interval, 0);
    EXPECT_EQ(timer2.interval, 1000);
    EXPECT_EQ(view.ProgressBar1.value, 0);
    EXPECT_FALSE(view.cmdScanEnabled);  // a batch download is running

    connections.QuitConnection(2);
    EXPECT_THAT(tcp2.sent, ElementsAre("QUIT"));
    EXPECT_EQ(timer2.interval, 0);
    EXPECT_TRUE(view.cmdScanEnabled);
}

TEST_F(ConnectionsTest, CloseOfAViewerConnectionOnlyLetsEventsRun) {
    connections.AttachSocket(4, &viewer4);
    viewer4.state = nntp::Socket::kConnected;
    session.SessionReady = true;
    connections.CloseConnection(4);
    EXPECT_EQ(pump.pumps, 1);
    EXPECT_EQ(viewer4.closes, 0);
    EXPECT_FALSE(session.SessionReady);
}

TEST_F(ConnectionsTest, MissingCredentialsEndEachConnectionItsOwnWay) {
    connections.AttachSocket(2, &tcp2);
    connections.AttachTimer(2, &timer2);
    connections.AttachSocket(3, &viewer3);
    connections.AttachSocket(4, &viewer4);
    connections.AttachSocket(5, &viewer5);
    struct Case {
        int connection;
        bool user;  // AuthUser, else AuthPass
        FakeSocket* socket;
        std::vector<std::string> sent;
        int closes;
    };
    const Case cases[] = {
        {2, true, &tcp2, {"QUIT"}, 0},     {2, false, &tcp2, {"QUIT"}, 0},
        {3, true, &viewer3, {"QUIT"}, 1},  {3, false, &viewer3, {"QUIT"}, 1},
        {4, false, &viewer4, {"QUIT"}, 1}, {5, true, &viewer5, {"QUIT"}, 1},
        {5, false, &viewer5, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.connection) + (c.user ? " user" : " pass"));
        c.socket->state = nntp::Socket::kConnected;
        c.socket->sent.clear();
        c.socket->closes = 0;
        prompts.shown.clear();
        windows.requests.clear();
        session.DownloadState = session.DownloadBusy = 1;
        if (c.user)
            connections.AuthUser(c.connection);
        else
            connections.AuthPass(c.connection);
        EXPECT_EQ(c.socket->sent, c.sent);
        EXPECT_EQ(c.socket->closes, c.closes);
        EXPECT_EQ(prompts.shown.size(), 1u);
        // Only a missing password brings the login dialog back.
        EXPECT_EQ(windows.requests.size(), c.user ? 0u : 1u);
        EXPECT_EQ(session.DownloadState, c.connection == 2 ? 0 : 1);
    }
}

TEST_F(ConnectionsTest, UserNameGoesOutOnTheAskingConnection) {
    connections.AttachSocket(4, &viewer4);
    viewer4.state = nntp::Socket::kConnected;
    settings.User_Name = "joe";
    settings.User_Pass = "pw";
    session.ViewerBuffer = "480 who are you\r\n381 and your password\r\n";
    connections.AuthUser(4);
    EXPECT_THAT(viewer4.sent, ElementsAre("AUTHINFO USER joe", "AUTHINFO PASS pw"));
    EXPECT_EQ(session.ViewerBuffer, "");
    EXPECT_THAT(Logged(), ElementsAre("Authenticating User Name...", "AUTHINFO USER joe",
                                      "Authenticating Password...", "AUTHINFO PASS ********"));
}

}  // namespace
}  // namespace quillfin::testing
