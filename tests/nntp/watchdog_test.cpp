#include "nntp/watchdog.h"

#include "nntp/scan_fixture.h"

namespace quillfin::testing {
namespace {

using std::chrono::hours;
using std::chrono::seconds;

class WatchdogTest : public ScanFixture {
  protected:
    WatchdogTest() {
        connections.AttachSocket(2, &tcp2);
        connections.AttachTimer(2, &timerbot2);
        engine->SetCallouts(&restarts);
        restarts.watchdog = &watchdog;
        watchdog.onScanAbandoned = [this] { engine->AbandonScan(); };
        settings.sldTimeout = 60;
        settings.Rescan_Time = 90;
    }
    // The scan greeted, sent GROUP and now waits for the server.
    void ScanWaiting() {
        AddGroups("alt.test=");
        Connect();
        TakeSent();
        TakeLogged();
    }
    void Wait(int secs) { clock.Advance(seconds(secs)); }

    struct Restarts : nntp::SessionCallouts {
        void EmergencyRestart(int connection) override { watchdog->EmergencyRestart(connection); }
        void AutoExpire(const std::string&, const std::string&) override {}
        void DownloadStep() override {}
        nntp::Watchdog* watchdog = nullptr;
    } restarts;
    FakeSocket tcp2;
    FakeTimer timerbot2;
    FakeTimer countdown;
    nntp::Watchdog watchdog{connections, clock, countdown};
};

TEST_F(WatchdogTest, SilenceOfExactlyTheLimitIsLeftAloneOneSecondMoreRestarts) {
    ScanWaiting();
    ASSERT_EQ(timer1.interval, 1000);
    view.ProgressBar1.value = 1;
    view.ProgressBar4.value = 7;
    Wait(60);
    watchdog.Tick(1);
    EXPECT_EQ(tcp1.closes, 0);
    EXPECT_TRUE(engine->Driving());
    Wait(1);
    watchdog.Tick(1);
    EXPECT_EQ(tcp1.GetState(), nntp::Socket::kClosed);
    EXPECT_EQ(TakeLogged(), (std::vector<std::string>{"Connection Closed",
                                                      "Emergency Reconnect in 90 seconds."}));
    EXPECT_TRUE(session.RestartPending && !session.RestartIsDownload);
    EXPECT_EQ(session.RestartCountdown, 90);
    EXPECT_EQ(countdown.interval, 1000);
    EXPECT_EQ(timer1.interval, 0);
    EXPECT_EQ(view.ProgressBar1.value + view.ProgressBar4.value, 0);
    // The abandoned walk ends; it does not wait under the restarted one.
    EXPECT_FALSE(engine->Driving() || session.Scanning);
}

TEST_F(WatchdogTest, AServerThatAcceptsAndNeverGreetsIsRestartedToo) {
    connections.onConnecting = [this](int connection) { watchdog.Arm(connection); };
    AddGroups("alt.test=");
    connections.ConnectScan();
    EXPECT_EQ(timer1.interval, 1000);
    Wait(15);
    watchdog.Tick(1);
    EXPECT_FALSE(session.RestartPending);
    Wait(50);
    watchdog.Tick(1);
    EXPECT_TRUE(session.RestartPending);
    // A greeting after all the waiting is new activity, not an old silence.
    session.RestartPending = false;
    connections.ConnectScan();
    Wait(30);
    tcp1.Deliver("200 ready\r\n");
    Wait(60);
    watchdog.Tick(1);
    EXPECT_FALSE(session.RestartPending);
}

TEST_F(WatchdogTest, AWallClockStepNeitherRestartsNorBlindsTheWatchdog) {
    ScanWaiting();
    clock.Set(clock.Now() + hours(2));  // a time sync jumps ahead
    watchdog.Tick(1);
    EXPECT_FALSE(session.RestartPending);
    clock.Set(clock.Now() - hours(5));  // and far back
    Wait(61);
    watchdog.Tick(1);
    EXPECT_TRUE(session.RestartPending);
}

TEST_F(WatchdogTest, EachWatchdogFollowsItsOwnConnection) {
    ScanWaiting();
    session.DownloadReady = true;
    timerbot2.interval = 1000;
    session.DownloadState = 5;
    watchdog.downloadActivity = [this] { return clock.Steady(); };
    // The scan ends while the batch runs: only the scan's watchdog stops.
    connections.QuitConnection(1);
    session.Scanning = false;
    watchdog.Tick(1);
    EXPECT_EQ(timer1.interval, 0);
    watchdog.Tick(2);
    EXPECT_EQ(timerbot2.interval, 1000);
    // Silent download: its watchdog still restarts it, and says it is the download's.
    const auto since = clock.Steady();
    watchdog.downloadActivity = [since] { return since; };
    Wait(61);
    watchdog.Tick(2);
    EXPECT_TRUE(session.RestartPending && session.RestartIsDownload);
    EXPECT_EQ(session.DownloadState, 0);
}

TEST_F(WatchdogTest, TheOtherActivityAndTheUsersChoiceAreRespected) {
    struct Case {
        int connection;
        bool batch_running;
        bool scanning;
        int allow_restart;
        bool closes;
        bool armed;
    };
    const Case cases[] = {
        {1, true, false, 1, false, false},  // a scan stall during a batch waits
        {2, false, true, 1, false, false},  // a download stall during a scan waits
        {1, false, false, 0, true, false},  // restarts off: closed, nothing armed
        {2, false, false, 0, true, false}, {2, false, false, 1, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "connection " << c.connection << " batch "
                                          << c.batch_running << " allow " << c.allow_restart);
        session.DownloadState = c.batch_running ? 5 : 0;
        session.Scanning = c.scanning;
        session.RestartPending = false;
        settings.chkAllowRestart = c.allow_restart;
        tcp1.closes = tcp2.closes = 0;
        watchdog.EmergencyRestart(c.connection);
        const FakeSocket& socket = c.connection == 1 ? tcp1 : tcp2;
        EXPECT_EQ(socket.closes > 0, c.closes);
        EXPECT_EQ(session.RestartPending, c.armed);
    }
}

TEST_F(WatchdogTest, ASocketErrorLogsItsTextTheStateAndTheCountdownInOrder) {
    ScanWaiting();
    tcp1.onError(10053, "Connection is aborted due to timeout or other failure");
    EXPECT_EQ(TakeLogged(), (std::vector<std::string>{
                                "Connection is aborted due to timeout or other failure",
                                "Connection Closed", "Emergency Reconnect in 90 seconds."}));
}

// The close lets events run; a Connect pressed then opens a scan that nothing may undo.
TEST_F(WatchdogTest, AScanStartedWhileTheRestartClosesKeepsItsConnectionAndState) {
    ScanWaiting();
    pump.actions.push_back([this] {
        connections.ConnectScan();
        tcp1.Deliver("200 again\r\n");
    });
    watchdog.EmergencyRestart(1);
    EXPECT_EQ(tcp1.GetState(), nntp::Socket::kConnected);
    EXPECT_EQ(tcp1.closes, 1);
    EXPECT_FALSE(session.RestartPending);
    EXPECT_EQ(countdown.interval, 0);
    EXPECT_EQ(timer1.interval, 1000);
    EXPECT_TRUE(engine->Driving());
    EXPECT_EQ(TakeSent(), std::vector<std::string>{"GROUP alt.test"});
}

TEST_F(WatchdogTest, ASocketThatWillNotCloseDoesNotRecurse) {
    ScanWaiting();
    // A broken socket stays in its error state however often it is closed.
    tcp1.state_after_close = nntp::Socket::kError;
    watchdog.EmergencyRestart(1);
    EXPECT_LT(tcp1.closes, 20);
    EXPECT_TRUE(session.RestartPending);
}

}  // namespace
}  // namespace quillfin::testing
