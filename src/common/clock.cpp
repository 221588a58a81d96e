#include "common/clock.h"

#include <ctime>

namespace quillfin::common {

static std::tm LocalParts(TimePoint t) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    return parts;
}

std::string FormatClockTime(TimePoint t) {
    std::tm parts = LocalParts(t);
    char buffer[16];
    std::strftime(buffer, sizeof buffer, "%H:%M:%S", &parts);
    return buffer;
}

std::string FormatShortDate(TimePoint t) {
    std::tm parts = LocalParts(t);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%x", &parts);
    std::string out(buffer);
    // %x in the C locale gives a two-digit year; widen it so the log stays unambiguous.
    if (out.size() == 8 && out[2] == '/' && out[5] == '/') {
        std::strftime(buffer, sizeof buffer, "%m/%d/%Y", &parts);
        out = buffer;
    }
    return out;
}

std::int64_t SecondBoundariesBetween(TimePoint from, TimePoint to) {
    using std::chrono::floor;
    using std::chrono::seconds;
    return (floor<seconds>(to) - floor<seconds>(from)).count();
}

std::int64_t SecondBoundariesBetween(SteadyPoint from, SteadyPoint to) {
    using std::chrono::floor;
    using std::chrono::seconds;
    return (floor<seconds>(to) - floor<seconds>(from)).count();
}

}  // namespace quillfin::common
