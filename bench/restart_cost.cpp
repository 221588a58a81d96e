// What a restart costs: a batch of 100 single-part yEnc postings from the local test server,
// once without faults and once with the connection dropped at every 20th article, with the
// shortest inactivity limit (15 s) and countdown (5 s) the options allow. The program runs
// with its real timers, so the figures include the waiting a user would see.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/program.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_socket.h"
#include "platform/qt_timer.h"
#include "quiet_program.h"
#include "testserver/binary_encoders.h"
#include "testserver/nntp_test_server.h"

namespace {

using namespace quillfin;
using namespace quillfin::bench;

constexpr const char* kGroup = "alt.binaries.quillfin.restarts";
constexpr int kPostings = 100;

struct Figures {
    double seconds = -1;
    int files = 0;
    int restarts = 0;
};

Figures Batch(int port) {
    const std::string dir = MakeFolder("qf-restart");
    common::SystemClock clock;
    platform::QtEventPump pump;
    SilentPrompts prompts;
    NoWindows windows;
    NoSounds sounds;
    platform::QtSocket tcp1, tcp2;
    platform::QtTimer timerbot1, timerbot2, timer1;
    Figures figures;
    {
        app::Program program(
            dir, {clock, pump, prompts, windows, sounds, tcp1, timerbot1, tcp2, timerbot2, timer1});
        auto& s = program.settings;
        s.News_Host = "127.0.0.1";
        s.News_Port = std::to_string(port);
        s.Download_Path = dir + "/";
        s.sldTimeout = 15;
        s.Rescan_Time = 5;
        s.chkAutodownload = 0;
        s.chkEnableLogging = 1;
        program.groups.AddGroup(kGroup);
        program.views.FillGroupFilter();
        program.connections.ConnectScan();
        RunUntil(
            [&] {
                return !program.scan.Driving() && program.view.cmdScanEnabled &&
                       program.table.HeaderCount() == kPostings;
            },
            60);
        for (std::int32_t i = 1; i <= program.table.HeaderCount(); ++i) program.batch.AddToBatch(i);
        QElapsedTimer elapsed;
        elapsed.start();
        program.BatchStartCommand();
        bool pending = false;
        RunUntil(
            [&] {
                // Each countdown armed is one restart (the log keeps too few lines to count).
                if (program.session.RestartPending && !pending) ++figures.restarts;
                pending = program.session.RestartPending;
                return program.batch.Rows().Count() == 0 && program.session.DownloadBusy == 0 &&
                       !program.session.RestartPending;
            },
            300);
        figures.seconds = double(elapsed.nsecsElapsed()) / 1e9;
        for (const auto& item : std::filesystem::recursive_directory_iterator(dir))
            if (item.is_regular_file() && item.path().extension() == ".bin") ++figures.files;
    }
    std::filesystem::remove_all(dir);
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    testserver::NntpTestServer server;
    server.WithSpool([](testserver::NewsSpool& spool) {
        for (int i = 1; i <= kPostings; ++i) {
            std::string data(20000, '\0');
            for (std::size_t k = 0; k < data.size(); ++k) data[k] = char((k * 31 + i * 7) & 0xFF);
            const std::string name = "file" + std::to_string(i) + ".bin";
            testserver::TestArticle article;
            article.subject = "\"" + name + "\" yEnc (1/1)";
            article.body = testserver::YencParts(name, data, 1).front();
            spool.AddArticle(kGroup, std::move(article));
        }
    });
    if (!server.Start()) {
        std::fprintf(stderr, "test server: %s\n", server.Error().c_str());
        return 1;
    }
    const Figures clean = Batch(server.Port());
    // Every 20th article's reply is cut off after 100 bytes.
    for (int k = 0; k < kPostings / 20; ++k) {
        for (int pass = 0; pass < 19; ++pass) {
            testserver::ReplyRule rule;
            rule.command = "ARTICLE";
            rule.uses = 1;
            server.AddRule(rule);
        }
        testserver::ReplyRule drop;
        drop.command = "ARTICLE";
        drop.uses = 1;
        drop.dropAfterBytes = 100;
        server.AddRule(drop);
    }
    const Figures faulty = Batch(server.Port());
    std::printf("batch of %d postings without faults: %.2f s, %d files\n", kPostings, clean.seconds,
                clean.files);
    std::printf(
        "the same with a drop every 20 articles: %.2f s, %d files, %d restarts "
        "(timeout 15 s, countdown 5 s)\n",
        faulty.seconds, faulty.files, faulty.restarts);
    if (faulty.restarts > 0)
        std::printf("cost of one restart: %.1f s\n",
                    (faulty.seconds - clean.seconds) / faulty.restarts);
    return 0;
}
