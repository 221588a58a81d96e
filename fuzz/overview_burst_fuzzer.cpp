// XOVER bursts, as a server sends them, through the overview parser into the header table and
// the header list. Pieces of the input are consecutive bursts of one scan.
#include <cstdint>
#include <string>
#include <vector>

#include "common/clock.h"
#include "fuzz_input.h"
#include "headers/header_table.h"
#include "headers/header_views.h"
#include "headers/overview_parser.h"
#include "storage/activity_log.h"
#include "storage/group_list.h"
#include "storage/settings.h"

namespace {

using namespace quillfin;

// The scan engine's side, without a connection: a burst end and a group end from the input.
struct Hooks : headers::ScanHooks {
    void ReportProgress(const std::string&, const std::string& article, bool) override {
        last_report = article;
    }
    void AfterBurst() override {}
    void HeaderAdded() override {}
    void TouchScanActivity() override {}
    std::string BurstEnd() const override { return burst_end; }
    std::int64_t GroupLast() const override { return group_last; }

    std::string last_report;
    std::string burst_end = "100";
    std::int64_t group_last = 200;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t flags = fuzz::TakeFlags(data, size);
    storage::Settings settings;
    settings.chkEnableLogging = 1;
    common::ManualClock clock;
    storage::ActivityLog log{settings, clock, "/nonexistent-dir"};
    // Small thresholds put the lookup tables and filters of long postings within reach of
    // short inputs.
    const bool small = flags & 1;
    headers::HeaderTable table{log, small ? 3 : 256, small ? 2 : 12};
    table.CurrentGroup = (flags & 2) ? "alt.binaries.test" : "";
    Hooks hooks;
    table.SetScanHooks(&hooks);
    common::NoEventPump pump;
    std::vector<storage::GroupEntry> groups(1);
    groups[0].name = "alt.binaries.test";
    headers::HeaderViews views{table, settings, groups, pump};
    headers::OverviewParser parser{table, pump};
    parser.SetListUpdater(&views);
    for (const std::string& burst : fuzz::Pieces(data, size, 8)) {
        parser.parse_xoverdata(burst);
        hooks.burst_end = hooks.last_report;
    }
    views.RebuildHeaderList(flags & 4);
    table.TakeUnshown();
    return 0;
}
