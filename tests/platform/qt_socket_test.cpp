#include "platform/qt_socket.h"

#include <gtest/gtest.h>

#include <QAbstractSocket>
#include <QCoreApplication>
#include <QElapsedTimer>

#include "platform/qt_wait.h"
#include "testserver/nntp_test_server.h"

namespace quillfin::platform {
namespace {

using testserver::NntpTestServer;
using testserver::ReplyRule;

// A QtSocket with its events recorded.
struct Recorder {
    QtSocket socket;
    std::vector<std::string> chunks;
    std::vector<int> states_at_arrival;
    int closes = 0;
    std::vector<std::pair<int, std::string>> errors;

    Recorder() {
        socket.onDataArrival = [this](const std::string& chunk) {
            chunks.push_back(chunk);
            states_at_arrival.push_back(socket.GetState());
        };
        socket.onClose = [this] { ++closes; };
        socket.onError = [this](int number, const std::string& text) {
            errors.emplace_back(number, text);
        };
    }
    std::string All() const {
        std::string all;
        for (const auto& c : chunks) all += c;
        return all;
    }
    void ConnectTo(int port) {
        socket.SetRemoteHost("127.0.0.1");
        socket.SetRemotePort(port);
        socket.SetLocalPort(0);
        socket.Connect();
    }
};

class QtSocketTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.WithSpool([](testserver::NewsSpool& spool) {
            spool.AddArticle("alt.test", {.subject = "one"});
            spool.AddArticle("alt.test", {.subject = "two"});
        });
        ASSERT_TRUE(server.Start()) << server.Error();
    }
    NntpTestServer server;
};

TEST_F(QtSocketTest, ConnectsSendsAndClosesWithTheStatesOfTheTable) {
    Recorder r;
    EXPECT_EQ(r.socket.GetState(), 0);
    r.socket.Send("LIST\r\n");  // not connected: dropped
    r.ConnectTo(server.Port());
    const int connecting = r.socket.GetState();
    EXPECT_TRUE(connecting == 4 || connecting == 6 || connecting == 7) << connecting;

    ASSERT_TRUE(RunEventsUntil([&] { return !r.chunks.empty(); }));
    EXPECT_EQ(r.chunks[0], "200 Quillfin test server ready (posting ok)\r\n");
    EXPECT_EQ(r.states_at_arrival[0], 7);

    r.socket.Send("GROUP alt.test\r\n");
    ASSERT_TRUE(RunEventsUntil([&] { return r.chunks.size() == 2; }));
    EXPECT_EQ(r.chunks[1], "211 2 1 2 alt.test\r\n");
    EXPECT_EQ(server.Commands(), std::vector<std::string>{"GROUP alt.test"});

    r.socket.Close();
    EXPECT_EQ(r.socket.GetState(), 0);
    RunEventsFor(50);
    EXPECT_EQ(r.closes, 0) << "closing it ourselves is not the peer's close";
    EXPECT_TRUE(r.errors.empty());
    EXPECT_TRUE(RunEventsUntil([&] { return server.OpenConnections() == 0; }));
}

TEST_F(QtSocketTest, EachArrivalIsOneChunkWhetherSplitOrMerged) {
    ReplyRule split{.command = ReplyRule::kGreeting, .splitAt = {2, 5}, .pauseMs = 150};
    server.AddRule(split);
    ReplyRule merged{.command = "GROUP", .after = "480 Authentication required\r\n"};
    server.AddRule(merged);

    Recorder r;
    r.ConnectTo(server.Port());
    ASSERT_TRUE(RunEventsUntil([&] { return r.All().size() >= 45; }));
    ASSERT_EQ(r.chunks.size(), 3u);
    EXPECT_EQ(r.chunks[0], "20");
    EXPECT_EQ(r.chunks[1], "0 Q");

    r.socket.Send("GROUP alt.test\r\n");
    ASSERT_TRUE(RunEventsUntil([&] { return r.chunks.size() == 4; }));
    EXPECT_EQ(r.chunks[3], "211 2 1 2 alt.test\r\n480 Authentication required\r\n");
}

TEST_F(QtSocketTest, PeerCloseDeliversTheLastDataThenCloseAndStaysInState8) {
    ReplyRule drop{.command = "XOVER", .dropAfterBytes = 60};
    server.AddRule(drop);
    Recorder r;
    r.ConnectTo(server.Port());
    ASSERT_TRUE(RunEventsUntil([&] { return !r.chunks.empty(); }));
    r.socket.Send("GROUP alt.test\r\nXOVER 1-2\r\n");

    ASSERT_TRUE(RunEventsUntil([&] { return r.closes == 1; }));
    const std::string all = r.All();
    ASSERT_GE(all.size(), 60u);
    EXPECT_EQ(all.substr(all.size() - 60, 4), "224 ");
    for (int state : r.states_at_arrival) EXPECT_EQ(state, 7);
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(r.socket.GetState(), 8);
    RunEventsFor(50);
    EXPECT_EQ(r.socket.GetState(), 8);
    r.socket.Send("QUIT\r\n");  // not connected: dropped

    r.socket.Close();
    EXPECT_EQ(r.socket.GetState(), 0);
    // Closed sockets can connect again.
    r.ConnectTo(server.Port());
    EXPECT_TRUE(RunEventsUntil([&] { return server.ConnectionCount() == 2; }));
    EXPECT_TRUE(RunEventsUntil([&] { return r.socket.GetState() == 7; }));
}

TEST_F(QtSocketTest, RefusedConnectionRaisesQtErrorAndState9UntilClosed) {
    const int port = server.Port();
    server.Stop();
    Recorder r;
    r.ConnectTo(port);
    ASSERT_TRUE(RunEventsUntil([&] { return !r.errors.empty(); }));
    EXPECT_EQ(r.errors[0].first, int(QAbstractSocket::ConnectionRefusedError));
    EXPECT_FALSE(r.errors[0].second.empty());
    EXPECT_EQ(r.socket.GetState(), 9);
    EXPECT_EQ(r.closes, 0);
    r.socket.Close();
    EXPECT_EQ(r.socket.GetState(), 0);
}

TEST_F(QtSocketTest, BytesArrivingDuringANestedEventLoopAreStillDelivered) {
    ReplyRule split{.command = ReplyRule::kGreeting, .splitAt = {4}, .pauseMs = 30};
    server.AddRule(split);
    Recorder r;
    // The handler pumps events while the second piece arrives, as the overview parse does.
    r.socket.onDataArrival = [&](const std::string& chunk) {
        r.chunks.push_back(chunk);
        if (r.chunks.size() == 1) {
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < 200) QCoreApplication::processEvents();
        }
    };
    r.ConnectTo(server.Port());
    ASSERT_TRUE(RunEventsUntil([&] { return r.chunks.size() >= 2; }, 3000));
    EXPECT_EQ(r.All(), "200 Quillfin test server ready (posting ok)\r\n");
}

TEST_F(QtSocketTest, DestroyingTheSocketInsideItsOwnHandlerIsSafe) {
    auto socket = std::make_unique<QtSocket>();
    int arrivals = 0;
    socket->onDataArrival = [&](const std::string&) {
        ++arrivals;
        socket.reset();
    };
    socket->SetRemoteHost("127.0.0.1");
    socket->SetRemotePort(server.Port());
    socket->Connect();
    ASSERT_TRUE(RunEventsUntil([&] { return socket == nullptr; }));
    RunEventsFor(50);
    EXPECT_EQ(arrivals, 1);
}

}  // namespace
}  // namespace quillfin::platform
