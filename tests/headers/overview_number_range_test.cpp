// Byte counts past the 64-bit range in overview lines: a posting's size is held at the ends
// of the range instead of wrapping round, and the parts keep the counts they can hold.
#include <gtest/gtest.h>

#include <limits>

#include "header_fixture.h"
#include "headers/overview_parser.h"
#include "support/fakes.h"

namespace quillfin::headers {
namespace {

class OverviewNumberRangeTest : public HeaderFixture {
  protected:
    // Two parts of one posting with these byte fields.
    const HeaderEntry& Posting(const std::string& first, const std::string& second) {
        parser.parse_xoverdata("224 follows\r\n" + Line("1", "a.bin (1/2)", first) +
                               Line("2", "a.bin (2/2)", second) + ".\r\n");
        EXPECT_EQ(table.HeaderCount(), 1);
        return table.Entry(1);
    }
    static std::string Line(const std::string& number, const std::string& subject,
                            const std::string& bytes) {
        return number + "\t" + subject + "\tjo@example.net\tSat, 05 Dec 1998 10:00:00 GMT\t<" +
               number + "@x>\t\t" + bytes + "\t80\t\r\n";
    }

    testing::HookPump pump;
    OverviewParser parser{table, pump};
};

TEST_F(OverviewNumberRangeTest, SizeHoldsAtTheTopOfTheRange) {
    const HeaderEntry& e = Posting("99999999999999999999", "5000");
    ASSERT_EQ(e.PartCount(), 2);
    EXPECT_EQ(e.Size, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(e.Part(1).Bytes, 0);  // too big for a part: logged as an overflow
    EXPECT_EQ(e.Part(2).Bytes, 5000);
}

TEST_F(OverviewNumberRangeTest, SizeHoldsAtTheBottomOfTheRange) {
    const HeaderEntry& e = Posting("-99999999999999999999", "-5000");
    ASSERT_EQ(e.PartCount(), 2);
    EXPECT_EQ(e.Size, std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(e.Part(2).Bytes, -5000);
}

}  // namespace
}  // namespace quillfin::headers
