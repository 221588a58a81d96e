#include <gtest/gtest.h>

#include <QAbstractSocket>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>
#include <numeric>

#include "platform/qt_par2_runner.h"
#include "platform/scan_rig.h"
#include "testserver/nntp_test_server.h"

namespace quillfin::platform {
namespace {

using testserver::ReplyRule;

// A QtSocket with its events recorded.
struct Recorder {
    QtSocket socket;
    std::vector<std::string> chunks;
    int arrivals_not_in_state_7 = 0;
    int closes = 0;
    std::vector<std::pair<int, std::string>> errors;

    explicit Recorder(int port) {
        socket.onDataArrival = [this](const std::string& chunk) {
            chunks.push_back(chunk);
            arrivals_not_in_state_7 += socket.GetState() != 7;
        };
        socket.onClose = [this] { ++closes; };
        socket.onError = [this](int number, const std::string& text) {
            errors.emplace_back(number, text);
        };
        socket.SetRemoteHost("127.0.0.1");
        socket.SetRemotePort(port);
    }
    std::string All() const { return std::accumulate(chunks.begin(), chunks.end(), std::string()); }
};

class QtSocketTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.WithSpool([](auto& spool) { spool.AddArticle("alt.test", {.subject = "one"}); });
        ASSERT_TRUE(server.Start()) << server.Error();
    }
    testserver::NntpTestServer server;
};

// Each arrival is one chunk, whether the server split a reply or merged two.
TEST_F(QtSocketTest, StatesAndChunksFromConnectToOurOwnCloseAndARefusal) {
    server.AddRule({.command = ReplyRule::kGreeting, .splitAt = {2, 5}, .pauseMs = 150});
    server.AddRule({.command = "GROUP", .after = "480 Authentication required\r\n"});
    Recorder r(server.Port());
    EXPECT_EQ(r.socket.GetState(), 0);
    r.socket.Send("LIST\r\n");  // not connected: dropped
    r.socket.Connect();
    const int connecting = r.socket.GetState();
    EXPECT_TRUE(connecting == 4 || connecting == 6 || connecting == 7) << connecting;
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.chunks.size() == 3; }));
    EXPECT_EQ(r.chunks, (std::vector<std::string>{"20", "0 Q",
                                                  "uillfin test server ready (posting ok)\r\n"}));
    r.socket.Send("GROUP alt.test\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.chunks.size() == 4; }));
    EXPECT_EQ(r.chunks[3], "211 1 1 1 alt.test\r\n480 Authentication required\r\n");
    EXPECT_EQ(server.Commands(), std::vector<std::string>{"GROUP alt.test"});

    r.socket.Close();
    EXPECT_EQ(r.socket.GetState(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.OpenConnections() == 0; }));
    QTest::qWait(30);
    EXPECT_EQ(r.closes, 0) << "our own close is not the peer's";
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(r.arrivals_not_in_state_7, 0);

    server.Stop();
    r.socket.Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !r.errors.empty(); }));
    EXPECT_EQ(r.errors[0].first, int(QAbstractSocket::ConnectionRefusedError));
    EXPECT_FALSE(r.errors[0].second.empty());
    EXPECT_EQ(r.socket.GetState(), 9);
    EXPECT_EQ(r.closes, 0);
    r.socket.Close();
    EXPECT_EQ(r.socket.GetState(), 0);
}

TEST_F(QtSocketTest, PeerCloseDeliversTheLastDataThenCloseAndStaysInState8) {
    server.AddRule({.command = "XOVER", .dropAfterBytes = 60});
    Recorder r(server.Port());
    r.socket.Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !r.chunks.empty(); }));
    r.socket.Send("GROUP alt.test\r\nXOVER 1-9\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.closes == 1; }));
    const std::string all = r.All();
    ASSERT_GE(all.size(), 60u);
    EXPECT_EQ(all.substr(all.size() - 60, 4), "224 ");
    EXPECT_EQ(r.arrivals_not_in_state_7, 0);
    EXPECT_TRUE(r.errors.empty());
    QTest::qWait(30);
    EXPECT_EQ(r.socket.GetState(), 8);
    r.socket.Send("QUIT\r\n");  // not connected: dropped

    r.socket.Close();
    EXPECT_EQ(r.socket.GetState(), 0);
    r.socket.Connect();
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.ConnectionCount() == 2; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return r.socket.GetState() == 7; }));
}

// Those bytes wait in a buffer of bounded size, not in memory without end: the reply caps of
// the logic would never see them.
TEST_F(QtSocketTest, BytesArrivingDuringANestedEventLoopAreStillDeliveredThroughABoundedBuffer) {
    const std::string greeting = "200 " + std::string(3 * QtSocket::kReadBufferSize, 'x') + "\r\n";
    server.AddRule(
        {.command = ReplyRule::kGreeting, .reply = greeting, .splitAt = {4}, .pauseMs = 30});
    Recorder r(server.Port());
    // The handler lets events run while the second piece arrives, as the overview parse does.
    r.socket.onDataArrival = [&](const std::string& chunk) {
        r.chunks.push_back(chunk);
        QElapsedTimer t;
        t.start();
        while (r.chunks.size() == 1 && t.elapsed() < 200) QCoreApplication::processEvents();
    };
    r.socket.Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.All().size() >= greeting.size(); }, 5000));
    EXPECT_TRUE(r.All() == greeting);
    for (const std::string& chunk : r.chunks) EXPECT_LE(chunk.size(), QtSocket::kReadBufferSize);
}

TEST_F(QtSocketTest, APeerCloseDuringANestedEventLoopComesAfterTheLastBytes) {
    const std::string greeting = "200 Quillfin test server ready (posting ok)\r\n";
    server.AddRule({.command = ReplyRule::kGreeting,
                    .dropAfterBytes = greeting.size(),
                    .splitAt = {4},
                    .pauseMs = 30});
    Recorder r(server.Port());
    std::vector<std::string> events;
    r.socket.onDataArrival = [&](const std::string& chunk) {
        r.chunks.push_back(chunk);
        r.arrivals_not_in_state_7 += r.socket.GetState() != 7;
        events.push_back("data");
        QElapsedTimer t;
        t.start();
        while (r.chunks.size() == 1 && t.elapsed() < 300) QCoreApplication::processEvents();
    };
    r.socket.onClose = [&] { events.push_back("close"); };
    r.socket.Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !events.empty() && events.back() == "close"; }, 3000));
    EXPECT_EQ(r.All(), greeting);
    EXPECT_EQ(r.arrivals_not_in_state_7, 0);
    EXPECT_EQ(events.back(), "close");
    EXPECT_EQ(std::count(events.begin(), events.end(), "close"), 1);
    EXPECT_EQ(r.socket.GetState(), 8);
}

// The overview parse asks for a pump every sixth line; the pump runs the events only every
// couple of milliseconds, but it does run them.
TEST(QtEventPumpTest, PumpIfDueRunsEventsButNotOnEveryCall) {
    QtEventPump pump;
    int runs = 0;
    // Events posted to the context die with it, so none outlives this test.
    QObject context;
    std::function<void()> post = [&] {
        QMetaObject::invokeMethod(&context, [&] { ++runs, post(); }, Qt::QueuedConnection);
    };
    post();
    pump.Pump();
    EXPECT_EQ(runs, 1);
    for (int i = 0; i < 10000; ++i) pump.PumpIfDue();
    EXPECT_LT(runs, 100);
    QTest::qWait(5);
    const int before = runs;
    pump.PumpIfDue();
    EXPECT_GT(runs, before);
}

TEST(QtTimerTest, TicksUntilSetToZeroEvenFromItsOwnTick) {
    QtTimer timer;
    int ticks = 0;
    timer.onTick = [&] {
        if (++ticks == 3) timer.SetInterval(0);
    };
    QTest::qWait(30);
    EXPECT_EQ(ticks, 0) << "a new timer is stopped";
    timer.SetInterval(5);
    EXPECT_EQ(timer.Interval(), 5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks == 3; }, 2000));
    QTest::qWait(30);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(timer.Interval(), 0);
}

// The runner, with a shell in par2's place: the child runs niced in the folder given, its
// output and exit code come back, and Stop ends it without a callback.
TEST(QtPar2RunnerTest, RunsNicedInTheFolderReportsItsEndAndStopKillsIt) {
    const struct {
        const char* program;
        const char* script;
        const char* output;
        int code;
    } cases[] = {
        {"/bin/sh", "nice; pwd; exit 3", "19\n/tmp\n", 3},
        {"/bin/sh", "kill -9 $$", "", -2},
        {"/nonexistent/par2", "", "", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        QtPar2Runner runner(c.program);
        std::string output;
        int code = 100;
        runner.Start(
            "/tmp", {"-c", c.script}, [&](std::string_view s) { output += s; },
            [&](int end) { code = end; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return code != 100; }, 5000));
        EXPECT_EQ(output, c.output);
        EXPECT_EQ(code, c.code);
    }
    QtPar2Runner runner("/bin/sh");
    std::string pid;
    bool ended = false;
    runner.Start(
        "/tmp", {"-c", "echo $$; exec sleep 30"}, [&](std::string_view s) { pid += s; },
        [&](int) { ended = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return pid.ends_with('\n'); }, 5000));
    runner.Stop();
    EXPECT_NE(::kill(std::stoi(pid), 0), 0) << "the child is gone";
    QTest::qWait(50);
    EXPECT_FALSE(ended);
}

}  // namespace
}  // namespace quillfin::platform
