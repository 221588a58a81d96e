#include "common/leading_integer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace quillfin::common {
namespace {

TEST(LeadingIntegerTest, ReadsTheLeadingNumberExactlyOverSixtyFourBits) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    const struct {
        const char* text;
        std::int64_t value;
    } cases[] = {
        {"", 0},
        {"abc", 0},
        {"  42abc", 42},
        {"-17", -17},
        {"+5", 5},
        {"4990.9", 4990},
        {"2147483648", 2147483648LL},
        {"9007199254740993", 9007199254740993LL},  // a double would read ...992
        {"9223372036854775807", kMax},
        {"9223372036854775808", kMax},
        {"99999999999999999999999", kMax},
        {"-9223372036854775808", kMin},
        {"-99999999999999999999999", kMin},
    };
    for (const auto& c : cases) EXPECT_EQ(LeadingInteger(c.text), c.value) << c.text;
}

TEST(LeadingIntegerTest, DifferenceHoldsAtTheEnds) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(SaturatingDifference(3000000000LL, 1), 2999999999LL);
    EXPECT_EQ(SaturatingDifference(kMax, -1), kMax);
    EXPECT_EQ(SaturatingDifference(kMin, 1), kMin);
    EXPECT_EQ(SaturatingDifference(1, 2), -1);
}

}  // namespace
}  // namespace quillfin::common
