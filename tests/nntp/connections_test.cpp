#include <gmock/gmock.h>

#include "nntp/scan_fixture.h"

namespace quillfin::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

class ConnectionsTest : public ScanFixture {
  protected:
    FakeSocket tcp2, viewer3, viewer4, viewer5;
};

TEST_F(ConnectionsTest, ConnectRefusesWithoutServerNewsgroupsOrAUsablePort) {
    settings.News_Host = "";
    settings.News_Port = "";
    connections.ConnectScan();
    EXPECT_EQ(settings.News_Port, "119");
    settings.News_Host = "news.example.test";
    connections.ConnectScan();
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_THAT(prompts.shown[0].text, StartsWith("Enter News Server name"));
    EXPECT_THAT(prompts.shown[1].text, StartsWith("Before scanning, you need to specify some"));
    EXPECT_THAT(windows.requests, ElementsAre("hide login", "options newsgroups", "add newsgroup"));
    AddGroups("alt.test=");
    settings.News_Port = "65536";  // one past the last port
    connections.ConnectScan();
    EXPECT_THAT(TakeLogged(), ElementsAre("Overflow"));
    EXPECT_TRUE(session.QuitSent && view.cmdScanEnabled);
    EXPECT_EQ(tcp1.connects, 0);
    settings.News_Port = "65535";
    connections.ConnectScan();
    EXPECT_EQ(tcp1.connects, 1);
    EXPECT_EQ(tcp1.remote_port, 65535);
}

TEST_F(ConnectionsTest, ConnectResetsTheSessionAndAStaleBurstState) {
    AddGroups("alt.test=");
    settings.News_Port = "119abc";
    session.ScanBuffer = session.DownloadBuffer = session.BurstStart = "old";
    session.QuitSent = session.RestartPending = true;
    session.SetScanState(12);
    connections.ConnectScan();
    EXPECT_EQ(tcp1.remote_port, 119);
    EXPECT_THAT(TakeLogged(), ElementsAre("Connecting..."));
    EXPECT_FALSE(session.QuitSent || session.RestartPending || view.cmdScanEnabled);
    EXPECT_EQ(session.ScanBuffer + session.DownloadBuffer + session.BurstStart, "");
    // The greeting is not taken for data of the old connection's burst.
    tcp1.Deliver("200 ready\r\n");
    EXPECT_TRUE(session.SessionReady);
    // A batch in the middle of an article keeps what it has received.
    tcp1.state = nntp::Socket::kClosed;
    session.DownloadState = 5;
    session.DownloadBuffer = "220 half an article";
    connections.ConnectScan();
    EXPECT_EQ(session.DownloadBuffer, "220 half an article");
}

TEST_F(ConnectionsTest, ConnectClosesAnOpenSocketFirstAndGivesUpOnOneThatStaysOpen) {
    AddGroups("alt.test=");
    tcp1.state = nntp::Socket::kConnected;
    connections.ConnectScan();
    EXPECT_THAT(TakeLogged(), ElementsAre("Connection Error, please wait...", "Connection Closed",
                                          "Connecting..."));
    tcp1.state_after_close = nntp::Socket::kPeerClosing;
    connections.ConnectScan();
    std::vector<std::string> expected = {"Connection Error, please wait..."};
    expected.insert(expected.end(), 5, "Peer is closing the connection");
    expected.push_back("Connection Error...");
    EXPECT_EQ(TakeLogged(), expected);
    EXPECT_EQ(tcp1.closes, 1 + 5);
    EXPECT_EQ(tcp1.connects, 1);
}

TEST_F(ConnectionsTest, QuitSendsQuitAndStopsTheWatchdogWithoutClosing) {
    tcp1.state = nntp::Socket::kConnected;
    timer1.interval = 1000;
    session.DownloadState = 3;
    view.cmdScanEnabled = false;
    connections.QuitConnection(1);
    connections.SendLine(6, "QUIT");  // no such connection
    EXPECT_EQ(tcp1.raw_sent, "QUIT\r\n");
    EXPECT_THAT(TakeLogged(), IsEmpty());  // only the viewer connections log what they send
    EXPECT_EQ(tcp1.closes, 0);
    EXPECT_EQ(timer1.interval, 0);
    EXPECT_TRUE(session.QuitSent && session.ScanStop());
    EXPECT_FALSE(view.cmdScanEnabled);  // a batch download is running
}

TEST_F(ConnectionsTest, MissingCredentialsEndEachConnectionItsOwnWay) {
    FakeSocket* sockets[] = {nullptr, &tcp1, &tcp2, &viewer3, &viewer4, &viewer5};
    for (int n = 2; n <= 5; ++n) connections.AttachSocket(n, sockets[n]);
    settings.chkAuth = 1;
    struct Case {
        int connection;
        bool user;  // AuthUser, else AuthPass
        bool quit;
        int closes;
    };
    const Case cases[] = {{2, true, true, 0},  {2, false, true, 0}, {3, true, true, 1},
                          {3, false, true, 1}, {4, false, true, 1}, {5, true, true, 1},
                          {5, false, false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.connection) + (c.user ? " user" : " pass"));
        FakeSocket& socket = *sockets[c.connection];
        socket = FakeSocket();
        socket.state = nntp::Socket::kConnected;
        prompts.shown.clear();
        windows.requests.clear();
        session.DownloadState = 1;
        c.user ? connections.AuthUser(c.connection) : connections.AuthPass(c.connection);
        EXPECT_EQ(socket.sent, std::vector<std::string>(c.quit, "QUIT"));
        EXPECT_EQ(socket.closes, c.closes);
        EXPECT_EQ(prompts.shown.size(), 1u);
        // Only a missing password brings the login dialog back.
        EXPECT_EQ(windows.requests.size(), c.user ? 0u : 1u);
        EXPECT_EQ(session.DownloadState, c.connection == 2 ? 0 : 1);
    }

    // Authentication off: the stored name and password never go out, the connection just ends.
    settings.chkAuth = 0;
    settings.User_Name = "joe";
    settings.User_Pass = "secret";
    prompts.shown.clear();
    for (int n = 1; n <= 5; ++n) {
        for (bool user : {true, false}) {
            SCOPED_TRACE(std::to_string(n) + (user ? " user, auth off" : " pass, auth off"));
            sockets[n]->sent.clear();
            sockets[n]->state = nntp::Socket::kConnected;
            user ? connections.AuthUser(n) : connections.AuthPass(n);
            EXPECT_EQ(sockets[n]->sent, std::vector<std::string>{"QUIT"});
        }
    }
    EXPECT_THAT(prompts.shown, IsEmpty());
}

}  // namespace
}  // namespace quillfin::testing
