#include "platform/qt_timer.h"

#include <gtest/gtest.h>

#include "platform/qt_event_pump.h"
#include "platform/qt_wait.h"

namespace quillfin::platform {
namespace {

TEST(QtTimerTest, TicksAtItsIntervalUntilSetToZero) {
    QtTimer timer;
    int ticks = 0;
    timer.onTick = [&] { ++ticks; };
    EXPECT_EQ(timer.Interval(), 0);
    RunEventsFor(40);
    EXPECT_EQ(ticks, 0) << "a new timer is stopped";

    timer.SetInterval(10);
    EXPECT_EQ(timer.Interval(), 10);
    ASSERT_TRUE(RunEventsUntil([&] { return ticks >= 3; }, 2000));

    timer.SetInterval(0);
    EXPECT_EQ(timer.Interval(), 0);
    const int stopped_at = ticks;
    RunEventsFor(60);
    EXPECT_EQ(ticks, stopped_at);
}

TEST(QtTimerTest, StoppingFromItsOwnTickAndPumpingEventsWork) {
    QtTimer timer;
    QtEventPump pump;
    int ticks = 0;
    timer.onTick = [&] {
        ++ticks;
        timer.SetInterval(0);
    };
    timer.SetInterval(5);
    QElapsedTimer clock;
    clock.start();
    while (ticks == 0 && clock.elapsed() < 2000) pump.Pump();
    EXPECT_EQ(ticks, 1);
    RunEventsFor(40);
    EXPECT_EQ(ticks, 1);
}

}  // namespace
}  // namespace quillfin::platform
