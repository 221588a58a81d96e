// Feeds a synthetic stream of overview lines to the parser in bursts and reports the rate
// and the peak resident memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "common/clock.h"
#include "headers/header_table.h"
#include "headers/overview_parser.h"
#include "storage/activity_log.h"

namespace {

using namespace quillfin;

constexpr int kLines = 1'000'000;
constexpr int kBurstLines = 2'000;

struct Article {
    int posting;  // index into the posting list
    int part;     // 1-based
};

struct Posting {
    std::string name;
    std::string poster;
    int parts;
    bool yenc;
};

std::vector<Posting> MakePostings(int& total_articles) {
    std::vector<Posting> postings;
    const char* kinds[] = {"holiday-video", "linux-iso",  "concert-audio",
                           "family-photos", "backup-set", "lecture-notes"};
    const char* posters[] = {"\"Poster One\" <one@example.net>", "two@example.org (Second Poster)",
                             "Anon <anon@example.com>", "\"yEnc Bot\" <bot@example.net>"};
    for (int i = 0; i < 5; ++i)
        postings.push_back(
            {"big-archive-" + std::to_string(i) + ".part01.rar", posters[i % 4], 5000, true});
    total_articles = 5 * 5000;
    int multi = 0;
    while (total_articles + 50 <= kLines - 25'000) {
        char name[96];
        std::snprintf(name, sizeof name, "%s-%04d.part%02d.rar", kinds[multi % 6], multi % 10000,
                      multi % 100);
        postings.push_back({name, posters[multi % 4], 50, multi % 3 != 0});
        total_articles += 50;
        ++multi;
    }
    for (int i = 0; total_articles < kLines; ++i) {
        postings.push_back({"single-" + std::to_string(i) + ".nfo", posters[i % 4], 1, false});
        ++total_articles;
    }
    return postings;
}

std::string Subject(const Posting& p, int index, int part) {
    char buffer[256];
    if (p.parts == 1) {
        std::snprintf(buffer, sizeof buffer, "Re: notes about %s and more", p.name.c_str());
    } else if (p.yenc) {
        std::snprintf(buffer, sizeof buffer, "[%04d/%04d] - \"%s\" yEnc (%02d/%d)", index % 10000,
                      9999, p.name.c_str(), part, p.parts);
    } else {
        std::snprintf(buffer, sizeof buffer, "%s - posted with care (%d/%d)", p.name.c_str(), part,
                      p.parts);
    }
    return buffer;
}

// The articles in server order: postings overlap, so each one's parts are spread out.
std::vector<Article> Interleave(const std::vector<Posting>& postings) {
    std::vector<Article> out;
    out.reserve(kLines);
    std::mt19937 random(42);
    std::vector<int> next(postings.size(), 1);
    std::vector<int> active;
    std::size_t opened = 0;
    while (out.size() < std::size_t(kLines)) {
        while (active.size() < 40 && opened < postings.size()) active.push_back(int(opened++));
        if (active.empty()) break;
        std::size_t slot = random() % active.size();
        int p = active[slot];
        out.push_back({p, next[p]});
        if (++next[p] > postings[p].parts) {
            active[slot] = active.back();
            active.pop_back();
        }
    }
    return out;
}

// Produces the stream one burst at a time, so the input never sits in memory whole.
class BurstSource {
  public:
    BurstSource() {
        int total = 0;
        postings_ = MakePostings(total);
        order_ = Interleave(postings_);
    }
    bool Next(std::string& burst) {
        if (next_ >= order_.size()) return false;
        burst = "224 Overview information follows\r\n";
        std::size_t end = std::min(order_.size(), next_ + kBurstLines);
        for (; next_ < end; ++next_) {
            const Article& a = order_[next_];
            const Posting& p = postings_[a.posting];
            ++number_;
            char line[1024];
            std::snprintf(
                line, sizeof line,
                "%ld\t%s\t%s\tSun, %d Dec 2026 11:%02d:13 -0000 (UTC)\t<%ld.%d@news.example>"
                "\t\t%d\t%d\tXref: news.example.net alt.binaries.test:%ld\r\n",
                number_, Subject(p, a.posting, a.part).c_str(), p.poster.c_str(),
                1 + int(next_ % 28), int(next_ % 60), number_, a.part,
                p.parts == 1 ? 2400 : 398'000, p.parts == 1 ? 40 : 3060, number_);
            burst += line;
        }
        burst += ".\r\n";
        return true;
    }

  private:
    std::vector<Posting> postings_;
    std::vector<Article> order_;
    std::size_t next_ = 0;
    long number_ = 1'000'000;
};

long PeakResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_OverviewIngest(benchmark::State& state) {
    for (auto _ : state) {
        BurstSource source;
        storage::Settings settings;
        common::SystemClock clock;
        storage::ActivityLog log(settings, clock, "/nonexistent");
        headers::HeaderTable table(log);
        table.CurrentGroup = "alt.binaries.test";
        common::NoEventPump pump;
        headers::OverviewParser parser(table, pump);
        std::string burst;
        double seconds = 0;
        while (source.Next(burst)) {
            auto start = std::chrono::steady_clock::now();
            parser.parse_xoverdata(burst);
            seconds +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        state.counters["lines_per_second"] = double(parser.LinesParsed()) / seconds;
        state.counters["postings"] = table.HeaderCount();
        state.counters["peak_rss_mb"] = double(PeakResidentKb()) / 1024.0;
        std::printf(
            "overview_ingest: %lld lines in %.3f s = %.0f lines/s; %d postings; "
            "peak resident %.1f MB\n",
            static_cast<long long>(parser.LinesParsed()), seconds,
            double(parser.LinesParsed()) / seconds, table.HeaderCount(),
            double(PeakResidentKb()) / 1024.0);
    }
}
BENCHMARK(BM_OverviewIngest)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
