#include "common/dates.h"

#include <gtest/gtest.h>

#include "common/clock.h"

namespace quillfin::common {
namespace {

std::string Recognised(const char* text) {
    auto date = RecogniseDate(text);
    return date ? FormatMonthDayYear(*date) : "none";
}

TEST(RecogniseDate, AcceptsTheUsualWrittenForms) {
    EXPECT_EQ(Recognised("05 Dec 1998"), "12-05-1998");
    EXPECT_EQ(Recognised("6 Dec 2026 "), "12-06-2026");
    EXPECT_EQ(Recognised("6 december 2026"), "12-06-2026");
    EXPECT_EQ(Recognised("Dec 6 2026"), "12-06-2026");
    EXPECT_EQ(Recognised("2026-12-06"), "12-06-2026");
    EXPECT_EQ(Recognised("12/06/2026"), "12-06-2026");
    EXPECT_EQ(Recognised("6-Dec-98"), "12-06-1998");
    EXPECT_EQ(Recognised("29 Feb 2024"), "02-29-2024");
}

TEST(RecogniseDate, RefusesWhatIsNoDate) {
    for (const char* text :
         {"", "yesterday", "31 Feb 2026", "29 Feb 2023", "6 Dez 2026", "6 Dec", "6 Dec 2026 11",
          "12:30:00", "0 Dec 2026", "6 Dec 12345", "13/13/2026", "6 Dec 2026\x01", "\xff\xfe"}) {
        EXPECT_FALSE(RecogniseDate(text).has_value()) << text;
    }
}

TEST(Clock, CountsSecondBoundaries) {
    using namespace std::chrono;
    TimePoint base = TimePoint{} + seconds(1000);
    EXPECT_EQ(SecondBoundariesBetween(base + milliseconds(900), base + milliseconds(1100)), 1);
    EXPECT_EQ(SecondBoundariesBetween(base, base + milliseconds(999)), 0);
    EXPECT_EQ(SecondBoundariesBetween(base, base + seconds(61)), 61);
}

}  // namespace
}  // namespace quillfin::common
