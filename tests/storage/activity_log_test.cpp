#include "storage/activity_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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
        ::setenv("TZ", "UTC", 1);  // the clock below then reads 14:07:09 on 03/05/2024
        ::tzset();
        settings.chkEnableLogging = 1;
        settings.chkLogFile = 1;
    }

    TempDir dir;
    Settings settings;
    common::ManualClock clock{common::TimePoint{1709647629s}};
    ActivityLog log{settings, clock, dir.Path()};
};

TEST_F(ActivityLogTest, ReportsReachStatusListAndFileAsEnabled) {
    log.LogEvent("  First sentence.  \r\nSecond one.\r\n", true);
    EXPECT_EQ(log.StatusLine(), "First sentence.");
    clock.Advance(61s);
    log.LogEvent("split\nby a lone LF,\x1b[2J\x07\x7f\x01 control bytes", true);
    log.LogEvent("Read: 42", false);
    EXPECT_EQ(log.StatusLine(), "Read: 42");
    settings.chkLogFile = 0;
    log.LogEvent("list only", true);
    settings.chkEnableLogging = 0;
    settings.chkLogFile = 1;
    log.LogEvent("status only", true);
    EXPECT_EQ(log.StatusLine(), "status only");
    ASSERT_EQ(log.Lines().size(), 3u);
    EXPECT_EQ(log.Lines().front(), "14:08:10  list only");
    EXPECT_EQ(log.Lines().back(), "14:07:09  First sentence.");
    EXPECT_EQ(dir.Read("OPSLOG.TXT"),
              "03/05/2024 14:07:09  First sentence.\r\n"
              "03/05/2024 14:08:10  split by a lone LF, [2J    control bytes\r\n");
    // It names the user: owner only, even when an older run left it readable to others.
    struct stat info {};
    ASSERT_EQ(::stat(dir.File("OPSLOG.TXT").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ::chmod(dir.File("OPSLOG.TXT").c_str(), 0644);
    settings.chkEnableLogging = 1;
    for (int i = 1; i <= 150; ++i) log.LogEvent("report " + std::to_string(i), true);
    ASSERT_EQ(::stat(dir.File("OPSLOG.TXT").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(log.Lines().size(), 99u);  // newest first
    EXPECT_EQ(log.Lines().front(), "14:08:10  report 150");
    EXPECT_EQ(log.Lines().back(), "14:08:10  report 52");
    EXPECT_EQ(log.SelectedLine(), 0);
}

TEST_F(ActivityLogTest, UnwritableLogFileIsCountedNotFatal) {
    ActivityLog broken(settings, clock, dir.File("no-such-folder"));
    broken.LogEvent("lost line", true);
    EXPECT_EQ(broken.Lines().size(), 1u);
    EXPECT_EQ(broken.FileFailures(), 1);
}

struct CountingStatus : DeferredStatus {
    std::string StatusText() const override {
        ++formatted;
        return text;
    }
    std::string text;
    mutable int formatted = 0;
};

TEST(DeferredStatusTest, FormattedOnceWhenReadAndReplacedByLaterReports) {
    Settings settings;
    settings.chkEnableLogging = 1;
    common::ManualClock clock;
    ActivityLog log(settings, clock, "/nonexistent-dir");
    CountingStatus status;
    for (int i = 0; i < 1000; ++i) {
        status.text = "Scanning header " + std::to_string(i) + "\r\nrest";
        log.ShowStatusLater(status);
    }
    EXPECT_EQ(status.formatted, 0);
    EXPECT_EQ(log.StatusLine(), "Scanning header 999");
    EXPECT_EQ(log.StatusLine(), "Scanning header 999");
    EXPECT_EQ(status.formatted, 1);
    log.ShowStatusLater(status);
    log.LogEvent("Scan Complete.", true);
    EXPECT_EQ(log.StatusLine(), "Scan Complete.");
    EXPECT_EQ(status.formatted, 1);
    EXPECT_EQ(log.Lines().size(), 1u);
}

}  // namespace
}  // namespace quillfin::storage
