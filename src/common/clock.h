#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace quillfin::common {

using TimePoint = std::chrono::system_clock::time_point;
// Time that only moves forward: silences are measured on it, so a wall clock stepped by a
// time sync or daylight saving neither restarts a healthy connection nor blinds the watchdog.
using SteadyPoint = std::chrono::steady_clock::time_point;

// Everything that measures time asks a Clock, so tests run on a fake one and never sleep.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual TimePoint Now() const = 0;
    virtual SteadyPoint Steady() const = 0;
};

class SystemClock : public Clock {
  public:
    TimePoint Now() const override { return std::chrono::system_clock::now(); }
    SteadyPoint Steady() const override { return std::chrono::steady_clock::now(); }
};

// A clock that only moves when told to. Advance moves both times; Set steps the wall clock
// alone, as a time sync does.
class ManualClock : public Clock {
  public:
    explicit ManualClock(TimePoint start = TimePoint{}) : now_(start) {}
    TimePoint Now() const override { return now_; }
    SteadyPoint Steady() const override { return steady_; }
    void Set(TimePoint t) { now_ = t; }
    void Advance(std::chrono::milliseconds by) {
        now_ += by;
        steady_ += by;
    }

  private:
    TimePoint now_;
    SteadyPoint steady_ = SteadyPoint{} + std::chrono::hours(1000);
};

// Local wall-clock time as "hh:mm:ss".
std::string FormatClockTime(TimePoint t);
// Local short date (the locale's numeric form, "mm/dd/yyyy" in the C locale).
std::string FormatShortDate(TimePoint t);
// Whole-second boundaries crossed between two instants, as a stopwatch that ticks on the
// second would count them.
std::int64_t SecondBoundariesBetween(TimePoint from, TimePoint to);
std::int64_t SecondBoundariesBetween(SteadyPoint from, SteadyPoint to);

}  // namespace quillfin::common
