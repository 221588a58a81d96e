// Article numbers past the 64-bit range, from the server or a hand-edited favs.txt: the scan
// goes on with numbers held at the ends of the range instead of overflowing.
#include <gmock/gmock.h>

#include <climits>

#include "nntp/scan_fixture.h"

namespace quillfin::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

class ScanNumberRangeTest : public ScanFixture {
  protected:
    void Start(const std::string& rows) {
        AddGroups(rows);
        Connect();
        TakeLogged();
        TakeSent();
    }
};

TEST_F(ScanNumberRangeTest, HugeLastArticleCountsFromLastRead) {
    Start("g=5000");
    EXPECT_THAT(Say("211 5 3000 99999999999999999999 g\r\n"), ElementsAre("XOVER 5000-5100"));
    EXPECT_THAT(TakeLogged(), Contains("9223372036854770807 new articles in g"));
    EXPECT_EQ(view.ProgressBar2.maximum, INT_MAX);
}

TEST_F(ScanNumberRangeTest, HugeNegativeLastReadStartsAtTheFirstArticle) {
    Start("g=-99999999999999999999");
    EXPECT_THAT(Say(GroupReply(1, 10, "g")), ElementsAre("XOVER 1-101"));
    EXPECT_THAT(TakeLogged(), Contains("9 new articles in g"));
}

TEST_F(ScanNumberRangeTest, BurstEndingPastTheRangeStopsAtItsEnd) {
    Start("g=1");
    Say("211 5 1 99999999999999999999 g\r\n");
    const std::string last = "99999999999999999998";
    EXPECT_THAT(Say("224 follows\r\n" + OverviewLine(1).replace(0, 1, last) + ".\r\n"),
                ElementsAre("XOVER " + last + "-9223372036854775807"));
}

}  // namespace
}  // namespace quillfin::testing
