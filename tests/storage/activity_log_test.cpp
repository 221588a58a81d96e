#include "storage/activity_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "support/temp_dir.h"

namespace quillfin::storage {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

class ActivityLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Local time is UTC here, so the clock below reads 14:07:09 on 03/05/2024.
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        settings.chkEnableLogging = 1;
        settings.chkLogFile = 1;
    }

    TempDir dir;
    Settings settings;
    common::ManualClock clock{common::TimePoint{1709647629s}};
    ActivityLog log{settings, clock, dir.Path()};
};

TEST_F(ActivityLogTest, KeptReportGoesToStatusListAndFile) {
    log.LogEvent("Connected to news.example.net", true);
    EXPECT_EQ(log.StatusLine(), "Connected to news.example.net");
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines().front(), "14:07:09  Connected to news.example.net");
    EXPECT_EQ(log.SelectedLine(), 0);
    clock.Advance(61s);
    log.LogEvent("Second", true);
    EXPECT_EQ(log.Lines().front(), "14:08:10  Second");
    EXPECT_EQ(dir.Read("OPSLOG.TXT"),
              "03/05/2024 14:07:09  Connected to news.example.net\r\n"
              "03/05/2024 14:08:10  Second\r\n");
}

TEST_F(ActivityLogTest, TextIsCutAtTheFirstCarriageReturn) {
    log.LogEvent("  First sentence.  \r\nSecond one.\r\n", true);
    EXPECT_EQ(log.StatusLine(), "First sentence.");
    EXPECT_EQ(log.Lines().front(), "14:07:09  First sentence.");
    log.LogEvent("split\nby a lone LF", true);
    EXPECT_EQ(dir.Read("OPSLOG.TXT"),
              "03/05/2024 14:07:09  First sentence.\r\n"
              "03/05/2024 14:07:09  split by a lone LF\r\n");
}

TEST_F(ActivityLogTest, StatusOnlyReportsAreNotKept) {
    log.LogEvent("kept", true);
    log.LogEvent("Read: 42", false);
    EXPECT_EQ(log.StatusLine(), "Read: 42");
    EXPECT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(dir.Read("OPSLOG.TXT"), "03/05/2024 14:07:09  kept\r\n");
}

TEST_F(ActivityLogTest, ListHoldsAtMost99LinesNewestFirst) {
    for (int i = 1; i <= 150; ++i) log.LogEvent("report " + std::to_string(i), true);
    ASSERT_EQ(log.Lines().size(), 99u);
    EXPECT_EQ(log.Lines().front(), "14:07:09  report 150");
    EXPECT_EQ(log.Lines().back(), "14:07:09  report 52");
}

TEST_F(ActivityLogTest, DisabledLoggingReachesOnlyTheStatusLine) {
    settings.chkEnableLogging = 0;
    log.LogEvent("not kept", true);
    EXPECT_EQ(log.StatusLine(), "not kept");
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_FALSE(dir.Exists("OPSLOG.TXT"));
    settings.chkEnableLogging = 1;
    settings.chkLogFile = 0;
    log.LogEvent("list only", true);
    EXPECT_EQ(log.Lines().size(), 1u);
    EXPECT_FALSE(dir.Exists("OPSLOG.TXT"));
}

TEST_F(ActivityLogTest, UnwritableLogFileIsCountedNotFatal) {
    ActivityLog broken(settings, clock, dir.File("no-such-folder"));
    broken.LogEvent("lost line", true);
    EXPECT_EQ(broken.Lines().size(), 1u);
    EXPECT_EQ(broken.FileFailures(), 1);
}

}  // namespace
}  // namespace quillfin::storage
