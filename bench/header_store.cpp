// Saves and loads a header table of 1,000,000 parts (20,000 postings of 50), next to a plain
// buffered write of the same bytes and a plain line-by-line read of the same file.
#include "headers/header_store.h"

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/clock.h"
#include "common/event_pump.h"
#include "common/main_view_state.h"
#include "common/prompts.h"
#include "headers/batch_queue.h"
#include "headers/header_table.h"
#include "storage/activity_log.h"
#include "storage/program_files.h"

namespace {

using namespace quillfin;

class SilentPrompts : public common::Prompts {
  public:
    void Message(const std::string&, const std::string&) override {}
    bool AskYesNo(const std::string&, const std::string&) override { return false; }
};

headers::HeaderTable::EntryList MakeTable() {
    const char* kinds[] = {"holiday-video", "linux-iso", "concert-audio", "family-photos"};
    headers::HeaderTable::EntryList entries;
    for (int i = 0; i < 20000; ++i) {
        headers::HeaderEntry entry;
        char base[96];
        std::snprintf(base, sizeof base, "%s-%05d.part%02d.rar", kinds[i % 4], i, i % 100);
        entry.Subject = std::string(base) + " [xx/0000050]";
        entry.Group = "alt.binaries.test" + std::to_string(i % 5);
        entry.Date = "12-06-2026";
        entry.From = "\"Poster " + std::to_string(i % 40) + "\" <poster@example.net>";
        entry.PartTotal = 50;
        entry.InBatch = i % 25 == 0;
        entry.Deleted = i % 10 == 0;
        for (int p = 1; p <= 50; ++p) {
            headers::PartRef part;
            part.ArticleNumber = std::to_string(100000000 + i * 50 + p);
            char subject[160];
            std::snprintf(subject, sizeof subject, "[%d/20000] - \"%s\" yEnc (%02d/50)", i, base,
                          p);
            part.Subject = subject;
            part.Bytes = 397000 + p;
            part.Group = entry.Group;
            entry.Size += part.Bytes;
            entry.Parts.push_back(std::move(part));
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string MakeFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qf-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    return pattern;
}

struct World {
    ~World() { std::filesystem::remove_all(dir); }
    std::string dir = MakeFolder();  // first: the members below are built in its folder
    storage::Settings settings;
    common::SystemClock clock;
    storage::ActivityLog log{settings, clock, dir};
    headers::HeaderTable table{log};
    common::MainViewState view;
    SilentPrompts prompts;
    common::NoEventPump pump;
    headers::BatchQueue batch{table, view, log, prompts};
    headers::HeaderStore store{table, batch, view, log, prompts, pump, clock, dir};
};

World& Shared() {
    static World world;
    static bool filled = [] {
        world.table.Replace(MakeTable());
        return world.store.SaveHeaders();
    }();
    (void)filled;
    return world;
}

void BM_SaveHeaders(benchmark::State& state) {
    World& world = Shared();
    for (auto _ : state) benchmark::DoNotOptimize(world.store.SaveHeaders());
    state.counters["parts"] = 20000 * 50;
}

void BM_PlainBufferedWrite(benchmark::State& state) {
    World& world = Shared();
    std::string content;
    storage::ReadWholeFile(world.store.FilePath(), &content);
    const std::string path = world.dir + "/plain.dat";
    for (auto _ : state) {
        std::ofstream out(path, std::ios::binary);
        out.write(content.data(), std::streamsize(content.size()));
        out.close();
    }
    state.counters["bytes"] = double(content.size());
}

void BM_PlainBufferedWriteSynced(benchmark::State& state) {
    World& world = Shared();
    std::string content;
    storage::ReadWholeFile(world.store.FilePath(), &content);
    const std::string path = world.dir + "/plain.dat";
    for (auto _ : state) {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), out);
        std::fflush(out);
        ::fsync(::fileno(out));
        std::fclose(out);
    }
}

void BM_LoadHeaders(benchmark::State& state) {
    World& world = Shared();
    for (auto _ : state) {
        state.PauseTiming();
        auto fresh = std::make_unique<World>();
        std::filesystem::copy_file(world.store.FilePath(), fresh->store.FilePath());
        state.ResumeTiming();
        fresh->store.LoadHeaders();
        benchmark::DoNotOptimize(fresh->table.HeaderCount());
        state.PauseTiming();
        fresh.reset();
        state.ResumeTiming();
    }
}

void BM_PlainLineRead(benchmark::State& state) {
    World& world = Shared();
    for (auto _ : state) {
        std::ifstream in(world.store.FilePath(), std::ios::binary);
        std::string line;
        std::size_t lines = 0;
        while (std::getline(in, line)) ++lines;
        benchmark::DoNotOptimize(lines);
    }
}

}  // namespace

BENCHMARK(BM_SaveHeaders)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainBufferedWrite)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainBufferedWriteSynced)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoadHeaders)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainLineRead)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
