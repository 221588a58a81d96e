#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/clock.h"
#include "headers/header_table.h"
#include "headers/scan_hooks.h"
#include "storage/activity_log.h"
#include "storage/settings.h"
#include "support/fakes.h"

namespace quillfin::headers {

// Records what the parser reports to the scan engine.
struct RecordingHooks : ScanHooks {
    struct Report {
        std::string group;
        std::string article;
        bool forced;
    };
    void ReportProgress(const std::string& group, const std::string& article,
                        bool forced) override {
        reports.push_back({group, article, forced});
    }
    void AfterBurst() override { ++after_bursts; }
    void HeaderAdded() override { ++headers_added; }
    void TouchScanActivity() override { ++touches; }
    std::string BurstEnd() const override { return burst_end; }
    std::int64_t GroupLast() const override { return group_last; }

    std::vector<Report> reports;
    int after_bursts = 0;
    int headers_added = 0;
    int touches = 0;
    std::string burst_end = "100";
    std::int64_t group_last = 0;
};

class HeaderFixture : public ::testing::Test {
  protected:
    HeaderFixture() {
        settings.chkEnableLogging = 1;
        table.CurrentGroup = "alt.test";
        table.SetScanHooks(&hooks);
    }

    // The kept log lines without their time stamps, oldest first.
    std::vector<std::string> Logged() const { return testing::Untimed(log); }

    void Add(const std::string& subject, const std::string& number,
             const std::string& bytes = "1000", const std::string& from = "poster") {
        table.add_articleheader(from, subject, number, "10", bytes, "12-06-2026", "<id>");
    }

    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log{settings, clock, "/nonexistent-dir"};
    HeaderTable table{log};
    RecordingHooks hooks;
};

}  // namespace quillfin::headers
