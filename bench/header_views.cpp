// Rebuilds the header list over 1,000,000 parts (20,000 postings of 50), under "All
// Newsgroups" and under one of five groups, and times the incremental update after a burst of
// 2,000 new parts into tables of 100,000 and 1,000,000 parts.
#include "headers/header_views.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/event_pump.h"
#include "headers/header_table.h"
#include "storage/activity_log.h"

namespace {

using namespace quillfin;

headers::HeaderTable::EntryList MakeTable(int postings) {
    headers::HeaderTable::EntryList entries;
    for (int i = 0; i < postings; ++i) {
        headers::HeaderEntry entry;
        char base[96];
        std::snprintf(base, sizeof base, "video-%05d.part%02d.rar", i, i % 100);
        entry.Subject = std::string(base) + " [xx/0000050]";
        entry.Group = "alt.binaries.test" + std::to_string(i % 5);
        entry.Date = "12-06-2026";
        entry.From = "\"Poster\" <poster@example.net>";
        entry.PartTotal = 50 + i % 3;  // some incomplete
        for (int p = 1; p <= 50; ++p) {
            headers::PartRef part;
            part.ArticleNumber = std::to_string(100000000 + i * 50 + p);
            part.Subject = std::string(base) + " (" + std::to_string(p) + "/50)";
            part.Bytes = 397000 + p;
            part.Group = entry.Group;
            entry.Size += part.Bytes;
            entry.Parts.push_back(std::move(part));
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

struct World {
    explicit World(int postings) {
        table.Replace(MakeTable(postings));
        views.Filter().SetText(headers::GroupFilter::kAllNewsgroups);
    }
    storage::Settings settings;
    common::SystemClock clock;
    storage::ActivityLog log{settings, clock, "/nonexistent-dir"};
    headers::HeaderTable table{log};
    std::vector<storage::GroupEntry> groups;
    common::NoEventPump pump;
    headers::HeaderViews views{table, settings, groups, pump};
};

void BM_RebuildAllNewsgroups(benchmark::State& state) {
    World world(20000);
    world.views.Filter().SetText(headers::GroupFilter::kAllNewsgroups);
    for (auto _ : state) world.views.RebuildHeaderList(false);
    state.counters["rows"] = world.views.Rows().Count();
}

void BM_RebuildOneGroup(benchmark::State& state) {
    World world(20000);
    world.views.Filter().SetText("alt.binaries.test3");
    for (auto _ : state) world.views.RebuildHeaderList(false);
    state.counters["rows"] = world.views.Rows().Count();
}

// state.range(0): postings of 50 parts already in the table and listed.
void BM_UpdateAfterBurst(benchmark::State& state) {
    World world(int(state.range(0)));
    world.views.RebuildHeaderList(false);
    world.table.CurrentGroup = "alt.binaries.test1";
    int burst = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // 2,000 parts: 1,000 new parts of existing postings, 1,000 opening new postings.
        for (int k = 0; k < 1000; ++k) {
            int posting = (burst * 37 + k * 13) % int(state.range(0));
            char subject[96];
            std::snprintf(subject, sizeof subject, "video-%05d.part%02d.rar (%d/50)", posting,
                          posting % 100, 60 + burst);
            world.table.add_articleheader("x", subject, "b" + std::to_string(burst * 1000 + k), "1",
                                          "397000", "12-06-2026", "<id>");
            std::snprintf(subject, sizeof subject, "new-%d-%d.rar (1/5)", burst, k);
            world.table.add_articleheader("x", subject, "n" + std::to_string(burst * 1000 + k), "1",
                                          "397000", "12-06-2026", "<id>");
        }
        ++burst;
        state.ResumeTiming();
        world.views.UpdateHeaderList();
    }
    state.counters["table_parts"] = double(state.range(0)) * 50;
}

}  // namespace

BENCHMARK(BM_RebuildAllNewsgroups)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RebuildOneGroup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateAfterBurst)
    ->Arg(2000)
    ->Arg(20000)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(20);
BENCHMARK_MAIN();
