// A batch of one 200 MB yEnc posting in articles of about 700 KB, served by the local test
// server with a delay before each reply and a cap on each connection's speed, as a provider
// far away would; fetched and decoded by the program through the Qt sockets with several
// connections and requests in flight. The program runs in a child process, so its memory is
// its own. Prints one line per setting:
//   connections C depth D: N MB/s, files equal: yes|no, resident growth M MB, longest stall T ms
// Usage: download_connections [latency_ms cap_mb_per_s [connections depth]]
//   (default 50 and 10, and the four settings above)
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "bench_program.h"
#include "testserver/binary_encoders.h"
#include "testserver/nntp_test_server.h"

namespace {

using namespace quillfin;
using namespace quillfin::bench;
namespace fs = std::filesystem;

constexpr const char* kGroup = "alt.binaries.quillfin.bench";
constexpr const char* kFile = "holiday-video.mkv";
constexpr std::size_t kSize = 200'000'000;
constexpr std::size_t kArticleSize = 700'000;

struct Figures {
    double seconds = 0;
    double longest_gap_ms = 0;
    double growth_mb = 0;
    double cpu_seconds = 0;  // the program's own processor time in the batch, all its threads
};

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The child: scans the group, queues everything and times the batch.
Figures Batch(int port, const std::string& dir, int connections, int depth) {
    Figures figures;
    BenchProgram bench(dir);
    app::Program& program = bench.program;
    auto& s = program.settings;
    s.News_Host = "127.0.0.1";
    s.News_Port = std::to_string(port);
    s.sldXOVER = 2000;
    s.chkAutodownload = 0;
    s.chkAutoExpire = 0;
    s.chkMakeSubDirs = 0;
    s.Download_Path = dir + "/downloads";
    s.Connections = connections;
    s.RequestsInFlight = depth;
    fs::create_directories(s.Download_Path);
    program.groups.AddGroup(kGroup);
    program.views.FillGroupFilter();
    program.connections.ConnectScan();
    RunUntil(
        [&] {
            return !program.scan.Driving() && program.view.cmdScanEnabled &&
                   program.table.HeaderCount() > 0;
        },
        120);
    for (std::int32_t i = 1; i <= program.table.HeaderCount(); ++i) program.batch.AddToBatch(i);

    const double start_mb = ResidentMegabytes();
    double highest_mb = start_mb;
    QElapsedTimer since_tick, elapsed;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    int ticks = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        figures.longest_gap_ms =
            std::max(figures.longest_gap_ms, double(since_tick.nsecsElapsed()) / 1e6);
        since_tick.restart();
        if (++ticks % 10 == 0) highest_mb = std::max(highest_mb, ResidentMegabytes());
    });
    const double cpu_start = CpuSeconds();
    elapsed.start();
    since_tick.start();
    probe.start(1);
    program.BatchStartCommand();
    RunUntil(
        [&] {
            return program.batch.Rows().Count() == 0 && program.session.DownloadBusy == 0 &&
                   program.session.DownloadState == 0;
        },
        900, 1);
    figures.seconds = double(elapsed.nsecsElapsed()) / 1e9;
    figures.cpu_seconds = CpuSeconds() - cpu_start;
    probe.stop();
    figures.growth_mb = std::max(highest_mb, ResidentMegabytes()) - start_mb;
    return figures;
}

bool FileEqual(const std::string& path, const std::string& bytes) {
    std::ifstream file(path, std::ios::binary);
    const std::string got((std::istreambuf_iterator<char>(file)), {});
    return got == bytes;
}

void RunSetting(int port, int connections, int depth, const std::string& original) {
    const std::string dir = MakeFolder("qf-conn");
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {"--batch", QString::number(port), QString::fromStdString(dir),
                 QString::number(connections), QString::number(depth)});
    child.waitForFinished(1'000'000);
    Figures f;
    const QByteArray out = child.readAllStandardOutput();
    if (std::sscanf(out.constData(), "%lf %lf %lf %lf", &f.seconds, &f.longest_gap_ms,
                    &f.growth_mb, &f.cpu_seconds) != 4)
        std::fprintf(stderr, "batch child printed: %s\n", out.constData());
    const bool equal = FileEqual(dir + "/downloads/" + kFile, original);
    std::printf(
        "connections %d depth %d: %.1f MB/s, files equal: %s, resident growth %.1f MB, longest "
        "stall %.1f ms, program CPU %.2f s\n",
        connections, depth, f.seconds > 0 ? double(kSize) / 1e6 / f.seconds : 0.0,
        equal ? "yes" : "no", f.growth_mb, f.longest_gap_ms, f.cpu_seconds);
    std::fflush(stdout);
    fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc == 6 && std::string(argv[1]) == "--batch") {
        const Figures f = Batch(std::atoi(argv[2]), argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
        std::printf("%.3f %.1f %.1f %.3f\n", f.seconds, f.longest_gap_ms, f.growth_mb,
                    f.cpu_seconds);
        return 0;
    }
    const int latency = argc > 1 ? std::atoi(argv[1]) : 50;
    const double cap_mb = argc > 2 ? std::atof(argv[2]) : 10;
    testserver::NntpTestServer server;
    const std::string original = RandomBytes(kSize, 7);
    const int parts = int((kSize * 102 / 100 + kArticleSize - 1) / kArticleSize);
    auto bodies = testserver::YencParts(kFile, original, parts);
    server.WithSpool([&](testserver::NewsSpool& spool) {
        for (std::size_t i = 0; i < bodies.size(); ++i) {
            testserver::TestArticle article;
            article.subject = std::string("\"") + kFile + "\" yEnc (" + std::to_string(i + 1) +
                              "/" + std::to_string(bodies.size()) + ")";
            article.body = std::move(bodies[i]);
            spool.AddArticle(kGroup, std::move(article));
        }
    });
    bodies.clear();
    if (!server.Start()) {
        std::fprintf(stderr, "test server: %s\n", server.Error().c_str());
        return 1;
    }
    std::vector<std::pair<int, int>> settings = {{1, 1}, {1, 4}, {4, 4}, {8, 4}};
    if (argc > 4) settings = {{std::atoi(argv[3]), std::atoi(argv[4])}};
    testserver::ServerOptions options;
    options.latencyMs = latency;
    options.rateCap = std::int64_t(cap_mb * 1e6);
    server.SetOptions(options);
    std::printf("%d articles of about %zu KB; %d ms before each reply, %.0f MB/s per connection\n",
                parts, kArticleSize / 1000, latency, cap_mb);
    for (const auto& [c, d] : settings) RunSetting(server.Port(), c, d, original);
    server.SetOptions(testserver::ServerOptions{});
    std::printf("no delay, no cap\n");
    for (const auto& [c, d] : settings) RunSetting(server.Port(), c, d, original);
    return 0;
}
