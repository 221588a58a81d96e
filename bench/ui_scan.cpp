// The program with its windows, offscreen: a scan of one group of 200,000 overview lines from
// the local test server, beside the same scan by the program without windows; then the time
// from starting the program to its shown main window with a saved table of 1,000,000 parts,
// and the memory it holds then (a child process of this one, so nothing is shared).
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/program.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_socket.h"
#include "platform/qt_timer.h"
#include "quiet_program.h"
#include "testserver/nntp_test_server.h"
#include "testserver/sample_data.h"
#include "ui/application.h"
#include "ui/main_window.h"

namespace {

using namespace quillfin;
using namespace quillfin::bench;

constexpr const char* kGroup = "alt.binaries.quillfin.bench";
constexpr long kArticles = 200000;

double ResidentMegabytes() {
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / 1e6;
}

void PrepareScan(app::Program& program, int port) {
    program.settings.News_Host = "127.0.0.1";
    program.settings.News_Port = std::to_string(port);
    program.settings.sldXOVER = 2000;
    program.settings.chkAutodownload = 0;
    program.settings.chkAutoExpire = 0;
    program.settings.Download_Path = "/tmp/";
    program.groups.AddGroup(kGroup);
    // As start-up leaves it: the filter on "All Newsgroups", so the scan fills the list.
    program.views.FillGroupFilter();
}

struct ScanFigures {
    double seconds = 0;
    double longest_gap_ms = 0;
    std::int32_t rows = 0;
};

// Runs the scan the program was prepared for and measures it with a 1 ms probe timer: the
// gap between two of its ticks is how long the event loop went unserved.
ScanFigures TimeScan(app::Program& program) {
    ScanFigures figures;
    QElapsedTimer since_tick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        figures.longest_gap_ms =
            std::max(figures.longest_gap_ms, double(since_tick.nsecsElapsed()) / 1e6);
        since_tick.restart();
    });
    QEventLoop loop;
    QTimer done_check;
    bool started = false;
    QObject::connect(&done_check, &QTimer::timeout, [&] {
        if (program.scan.Driving()) started = true;
        if (started && !program.scan.Driving() && program.view.cmdScanEnabled) loop.quit();
    });
    QTimer::singleShot(300000, &loop, &QEventLoop::quit);
    QElapsedTimer elapsed;
    elapsed.start();
    since_tick.start();
    probe.start(1);
    done_check.start(1);
    program.connections.ConnectScan();
    loop.exec();
    figures.seconds = double(elapsed.nsecsElapsed()) / 1e9;
    figures.rows = program.views.Rows().Count();
    return figures;
}

ScanFigures LogicOnlyScan(int port) {
    const std::string dir = MakeFolder("qf-ui");
    common::SystemClock clock;
    platform::QtEventPump pump;
    SilentPrompts prompts;
    NoWindows windows;
    NoSounds sounds;
    platform::QtSocket tcp1;
    platform::QtSocket tcp2;
    platform::QtTimer timerbot1, timerbot2, timer1;
    app::Program program(
        dir, {clock, pump, prompts, windows, sounds, tcp1, timerbot1, tcp2, timerbot2, timer1});
    PrepareScan(program, port);
    const ScanFigures figures = TimeScan(program);
    std::filesystem::remove_all(dir);
    return figures;
}

ScanFigures WindowScan(int port, std::uint64_t* repaints) {
    const std::string dir = MakeFolder("qf-ui");
    SilentPrompts prompts;
    ScanFigures figures;
    {
        ui::Application application(dir, &prompts);
        application.SetQuitOnEnd(false);
        application.Start();
        PrepareScan(application.Program(), port);
        const std::uint64_t before = application.Main()->Repaints();
        figures = TimeScan(application.Program());
        *repaints = application.Main()->Repaints() - before;
    }
    std::filesystem::remove_all(dir);
    return figures;
}

// A saved table of 1,000,000 parts: 20,000 postings of 50.
void WriteBigTable(const std::string& dir) {
    common::SystemClock clock;
    common::NoEventPump pump;
    SilentPrompts prompts;
    NoWindows windows;
    NoSounds sounds;
    platform::QtSocket tcp1;
    platform::QtSocket tcp2;
    platform::QtTimer timerbot1, timerbot2, timer1;
    app::Program program(
        dir, {clock, pump, prompts, windows, sounds, tcp1, timerbot1, tcp2, timerbot2, timer1});
    headers::HeaderTable::EntryList entries;
    for (int i = 0; i < 20000; ++i) {
        headers::HeaderEntry entry;
        const std::string base = "holiday-video-" + std::to_string(10000 + i) + ".part" +
                                 std::to_string(i % 100) + ".rar";
        entry.Subject = base + " [xx/0000050]";
        entry.Group = "alt.binaries.test" + std::to_string(i % 5);
        entry.Date = "12-06-2026";
        entry.From = "Poster " + std::to_string(i % 40);
        entry.PartTotal = 50;
        entry.InBatch = i % 100 == 0;
        for (int p = 1; p <= 50; ++p) {
            headers::PartRef part;
            part.ArticleNumber = std::to_string(100000000 + i * 50 + p);
            part.Subject = "[" + std::to_string(i) + "/20000] - \"" + base + "\" yEnc (" +
                           std::to_string(p) + "/50)";
            part.Bytes = 397000 + p;
            part.Group = entry.Group;
            entry.Size += part.Bytes;
            entry.Parts.push_back(std::move(part));
        }
        entries.push_back(std::move(entry));
    }
    program.table.Replace(std::move(entries));
    program.table.HeadersChanged = true;
    program.store.SaveHeaders();
}

// The child: starts the program on dir and reports when its main window is shown.
int StartAndReport(int argc, char** argv, const std::string& dir) {
    QElapsedTimer since_main;
    since_main.start();
    QApplication application(argc, argv);
    SilentPrompts prompts;
    ui::Application quillfin(dir, &prompts);
    quillfin.SetQuitOnEnd(false);
    quillfin.Start();
    QApplication::processEvents();
    std::printf("%.3f %.1f %d\n", double(since_main.nsecsElapsed()) / 1e9, ResidentMegabytes(),
                quillfin.Program().table.HeaderCount());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && std::string(argv[1]) == "--start") return StartAndReport(argc, argv, argv[2]);

    QApplication application(argc, argv);
    testserver::NntpTestServer server;
    server.WithSpool([](testserver::NewsSpool& spool) {
        testserver::AddOverviewPostings(spool, kGroup, kArticles, 20);
    });
    if (!server.Start()) {
        std::fprintf(stderr, "test server: %s\n", server.Error().c_str());
        return 1;
    }
    // Interleaved, so that neither side alone pays for the heap's first growth.
    std::uint64_t repaints = 0;
    ScanFigures logic, window;
    logic.seconds = window.seconds = 1e9;
    for (int round = 0; round < 3; ++round) {
        const ScanFigures a = LogicOnlyScan(server.Port());
        const ScanFigures b = WindowScan(server.Port(), &repaints);
        std::printf(
            "round %d: without windows %.3f s (%d rows), with the main window %.3f s "
            "(%d rows, %llu repaints)\n",
            round + 1, a.seconds, a.rows, b.seconds, b.rows,
            static_cast<unsigned long long>(repaints));
        logic.seconds = std::min(logic.seconds, a.seconds);
        window.seconds = std::min(window.seconds, b.seconds);
        logic.longest_gap_ms = std::max(logic.longest_gap_ms, a.longest_gap_ms);
        window.longest_gap_ms = std::max(window.longest_gap_ms, b.longest_gap_ms);
    }
    std::printf("overview lines served:          %ld (sldXOVER 2000, 20 parts per posting)\n",
                kArticles);
    std::printf("best scan without windows:      %.3f s\n", logic.seconds);
    std::printf("best scan with the main window: %.3f s\n", window.seconds);
    std::printf("window / logic:                 %.2f (target <= 1.3)\n",
                window.seconds / logic.seconds);
    std::printf(
        "longest event-loop stall:       %.1f ms with the window, %.1f ms without "
        "(target < 50)\n",
        window.longest_gap_ms, logic.longest_gap_ms);

    const std::string dir = MakeFolder("qf-ui");
    WriteBigTable(dir);
    QElapsedTimer started;
    started.start();
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--start", QString::fromStdString(dir)});
    child.waitForFinished(120000);
    const double wall = double(started.nsecsElapsed()) / 1e9;
    double to_shown = 0, resident = 0;
    int postings = 0;
    const QByteArray out = child.readAllStandardOutput();
    if (std::sscanf(out.constData(), "%lf %lf %d", &to_shown, &resident, &postings) != 3) {
        std::fprintf(stderr, "start-up child: %s\n", child.readAllStandardError().constData());
        return 1;
    }
    std::printf(
        "start with 1,000,000 saved parts: %.2f s to the shown main window (%.2f s "
        "with process start and exit; target < 2), %d postings\n",
        to_shown, wall, postings);
    std::printf("resident memory then:           %.0f MB (target < 400)\n", resident);
    std::filesystem::remove_all(dir);
    return 0;
}
