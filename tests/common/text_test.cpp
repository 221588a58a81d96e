#include "common/text.h"

#include <gtest/gtest.h>

namespace quillfin::common {
namespace {

TEST(NumericValue, TakesTheLeadingNumberOnly) {
    struct Case {
        const char* text;
        double value;
    } cases[] = {
        {"", 0},        {"abc", 0},
        {"12abc", 12},  {" 1234", 1234},
        {"-5", -5},     {"  -3.5x", -3.5},
        {"0005", 5},    {"1 2", 1},
        {".5", 0.5},    {"-", 0},
        {"+7", 7},      {"\t9", 9},
        {"1.2.3", 1.2}, {"99999999999", 99999999999.0},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(NumericValue(c.text), c.value) << c.text;
}

TEST(WholeValue, RoundsHalvesToEvenAndClamps32) {
    EXPECT_EQ(WholeValue("2.5"), 2);
    EXPECT_EQ(WholeValue("3.5"), 4);
    EXPECT_EQ(WholeValue("-2.5"), -2);
    EXPECT_EQ(WholeValue("2.51"), 3);
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(WholeValue32("99999999999"), 2147483647);
    EXPECT_EQ(WholeValue32("-99999999999"), -2147483647 - 1);
    EXPECT_EQ(WholeValue("4294967296"), 4294967296LL);
}

TEST(Str, PutsABlankWhereTheSignGoes) {
    EXPECT_EQ(Str(0), " 0");
    EXPECT_EQ(Str(1234), " 1234");
    EXPECT_EQ(Str(-7), "-7");
    EXPECT_EQ(Decimal(-7), "-7");
    EXPECT_EQ(Decimal(90), "90");
}

TEST(FormatNumber, FollowsTheFixedPatterns) {
    struct Case {
        double value;
        const char* pattern;
        const char* text;
    } cases[] = {
        {3, "000", "003"},
        {1234, "000", "1234"},
        {1.234567, "00.000", "01.235"},
        {0.0005, "00.000", "00.001"},  // halves away from zero
        {0.0004, "00.000", "00.000"},
        {230, "00000", "00230"},
        {-230, "00000", "-00230"},
        {2.5, "000", "003"},
        {-0.4, "00000", "00000"},
        {1e16, "00000", "10000000000000000"},
        {2000000000.4, "00000", "2000000000"},  // group spans run to billions
        {5e9 / 1000, "0.0", "5000000.0"},
        {4.1, "0.0", "4.1"},
        {0.05, "0.0", "0.1"},
        {0, "0.0", "0.0"},
        {1234567.89, "#,##0.0", "1,234,567.9"},
        {0.4, "#,##0.0", "0.4"},
        // No separator before a whole part of 3 or 6 digits, one after 4 or 7.
        {999.94, "#,##0.0", "999.9"},
        {999.96, "#,##0.0", "1,000.0"},
        {-123456.7, "#,##0.0", "-123,456.7"},
        {398, "000.0", "398.0"},
        {2.4, "000.0", "002.4"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatNumber(c.value, c.pattern), c.text) << c.value << " " << c.pattern;
}

TEST(Trim, RemovesOnlyBlanks) {
    EXPECT_EQ(Trim("  a b  "), "a b");
    EXPECT_EQ(Trim("\ta\t"), "\ta\t");
    EXPECT_EQ(Trim("    "), "");
}

TEST(TextHelpers, CaseAndLineHelpersLeaveOtherBytesAlone) {
    EXPECT_EQ(ToUpper("a.mp3\xe9"), "A.MP3\xe9");
    EXPECT_EQ(OneLine("a\rb\nc\r\n"), "a b c  ");
    EXPECT_TRUE(EndsWith("x.nfo", ".nfo"));
    EXPECT_FALSE(EndsWith("fo", ".nfo"));
}

TEST(ParseBoolean, AcceptsWordsAndNumbersOnly) {
    EXPECT_EQ(ParseBoolean("True"), true);
    EXPECT_EQ(ParseBoolean("fALSE"), false);
    EXPECT_EQ(ParseBoolean("-1"), true);
    EXPECT_EQ(ParseBoolean("0"), false);
    EXPECT_EQ(ParseBoolean("0.0"), false);
    EXPECT_EQ(ParseBoolean("yes"), std::nullopt);
    EXPECT_EQ(ParseBoolean("1x"), std::nullopt);
    EXPECT_EQ(ParseBoolean(""), std::nullopt);
    EXPECT_TRUE(IsDecimalNumber("+12.5"));
    EXPECT_FALSE(IsDecimalNumber("."));
    EXPECT_FALSE(IsDecimalNumber(" 12"));
}

}  // namespace
}  // namespace quillfin::common
