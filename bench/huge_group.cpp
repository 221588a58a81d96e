// A huge group end to end: the test server makes the overview lines of one group of 20,000,000
// parts (single-part and 20-part postings mixed) as it sends them. The program without windows
// scans it all and saves npending.dat; then, in a child process, the program starts again with
// its main window offscreen, loads the file, lists the group and scans 200,000 new parts, timing
// each list update after a burst and the longest time the event loop went unserved.
// Usage: huge_group [parts [new_parts]]
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/program.h"
#include "bench_program.h"
#include "quiet_program.h"
#include "testserver/nntp_test_server.h"
#include "testserver/sample_data.h"
#include "ui/application.h"

namespace {

using namespace quillfin;
using namespace quillfin::bench;

constexpr const char* kGroup = "alt.binaries.quillfin.huge";

double Seconds(const QElapsedTimer& timer) { return double(timer.nsecsElapsed()) / 1e9; }

std::int64_t Parts(const headers::HeaderTable& table) {
    std::int64_t parts = 0;
    for (const auto& entry : table.Entries()) parts += entry.PartCount();
    return parts;
}

void Prepare(app::Program& program, int port) {
    program.settings.News_Host = "127.0.0.1";
    program.settings.News_Port = std::to_string(port);
    program.settings.sldXOVER = 2000;
    program.settings.NewGroupHeaders = 0;  // all of it
    program.settings.chkAutodownload = 0;
    program.settings.chkAutoExpire = 0;
    program.settings.Download_Path = "/tmp/";
}

// Scans to the end; the longest gap between two ticks of a 1 ms timer is the longest stall.
double Scan(app::Program& program, double* longest_stall_ms) {
    QElapsedTimer since_tick, elapsed;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        *longest_stall_ms = std::max(*longest_stall_ms, double(since_tick.nsecsElapsed()) / 1e6);
        since_tick.restart();
    });
    bool started = false;
    elapsed.start();
    since_tick.start();
    probe.start(1);
    program.connections.ConnectScan();
    RunUntil(
        [&] {
            if (program.scan.Driving()) started = true;
            return started && !program.scan.Driving() && program.view.cmdScanEnabled;
        },
        3600, 1);
    return Seconds(elapsed);
}

// Times every list update the parser asks for after a burst.
struct TimedUpdater : headers::HeaderListUpdater {
    explicit TimedUpdater(headers::HeaderListUpdater& inner) : inner(inner) {}
    void UpdateHeaderList() override {
        QElapsedTimer timer;
        timer.start();
        inner.UpdateHeaderList();
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        longest_ms = std::max(longest_ms, ms);
        total_ms += ms;
        ++count;
    }
    headers::HeaderListUpdater& inner;
    double longest_ms = 0, total_ms = 0;
    long count = 0;
};

// The child: the program with its main window on the saved folder.
int WindowRun(int argc, char** argv, const std::string& dir, int port) {
    QApplication application(argc, argv);
    SilentPrompts prompts;
    ui::Application quillfin(dir, &prompts);
    quillfin.SetQuitOnEnd(false);
    QElapsedTimer timer;
    timer.start();
    quillfin.Start();
    QApplication::processEvents();
    app::Program& program = quillfin.Program();
    std::printf("load: %.2f s (%lld parts, resident %.0f MB, main window shown)\n",
                Seconds(timer), static_cast<long long>(Parts(program.table)),
                ResidentMegabytes());
    // The user picks the group; one who has waited two minutes picks no group again, which
    // ends the listing.
    timer.restart();
    bool gave_up = false;
    QTimer give_up;
    give_up.setSingleShot(true);
    QObject::connect(&give_up, &QTimer::timeout, [&] {
        gave_up = true;
        std::printf("list the group: not done after %.0f s (%d rows listed)\n", Seconds(timer),
                    program.views.Rows().Count());
        program.views.SelectFilter(headers::GroupFilter::kNoGroup);
    });
    give_up.start(120000);
    program.views.SelectFilter(kGroup);
    give_up.stop();
    if (!gave_up) {
        QApplication::processEvents();
        std::printf("list the group: %.2f s (%d rows)\n", Seconds(timer),
                    program.views.Rows().Count());
    }
    Prepare(program, port);
    TimedUpdater updater(program.views);
    program.parser.SetListUpdater(&updater);
    double stall = 0;
    const double scan = Scan(program, &stall);
    program.parser.SetListUpdater(&program.views);
    std::printf("scan of the new parts: %.2f s (%lld parts now, %d rows)\n", scan,
                static_cast<long long>(Parts(program.table)), program.views.Rows().Count());
    std::printf("list update after a burst: %.1f ms longest, %.2f ms mean over %ld (target < 20)\n",
                updater.longest_ms, updater.count > 0 ? updater.total_ms / double(updater.count) : 0,
                updater.count);
    std::printf("longest stall: %.1f ms (target < 50)\n", stall);
    std::printf("resident with the window: %.0f MB\n", ResidentMegabytes());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 4 && std::string(argv[1]) == "--window")
        return WindowRun(argc, argv, argv[2], std::atoi(argv[3]));
    QApplication application(argc, argv);
    const long parts = argc > 1 ? std::atol(argv[1]) : 20000000;
    const long new_parts = argc > 2 ? std::atol(argv[2]) : 200000;
    testserver::NntpTestServer server;
    server.WithSpool([&](testserver::NewsSpool& spool) {
        testserver::AddMadeOverviewGroup(spool, kGroup, parts);
    });
    if (!server.Start()) {
        std::fprintf(stderr, "test server: %s\n", server.Error().c_str());
        return 1;
    }
    std::printf("one group of %ld parts made as sent, sldXOVER 2000\n", parts);
    const std::string dir = MakeFolder("qf-huge");
    {
        BenchProgram headless(dir);
        app::Program& program = headless.program;
        Prepare(program, server.Port());
        program.groups.AddGroup(kGroup);
        const double before = ResidentMegabytes();
        double stall = 0;
        const double scan = Scan(program, &stall);
        std::printf("parts: %lld (%d postings)\n", static_cast<long long>(Parts(program.table)),
                    program.table.HeaderCount());
        const double grown = ResidentMegabytes() - before;
        std::printf("resident: %.0f MB (%.0f grown in the scan, %.0f bytes per part; target < 2048)\n",
                    ResidentMegabytes(), grown, grown * 1e6 / double(std::max(parts, 1L)));
        std::printf("scan: %.1f s (%.0f lines/s, longest stall %.1f ms)\n", scan,
                    double(parts) / scan, stall);
        QElapsedTimer timer;
        timer.start();
        program.table.HeadersChanged = true;
        const bool saved = program.store.SaveHeaders(false);
        std::printf("save: %.2f s (%s, %.0f MB)\n", Seconds(timer), saved ? "saved" : "FAILED",
                    double(std::filesystem::file_size(dir + "/npending.dat")) / 1e6);
        program.groups.SaveGroupList();
    }
    std::fflush(stdout);
    server.WithSpool([&](testserver::NewsSpool& spool) {
        testserver::AddMadeOverviewGroup(spool, kGroup, parts + new_parts);
    });
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--window", QString::fromStdString(dir), QString::number(server.Port())});
    child.waitForFinished(-1);
    std::filesystem::remove_all(dir);
    return child.exitCode();
}
