// The program without windows in a process of its own, as a user would run it: scan, queue
// everything, save, download, exit. Told a point, it kills itself there with SIGKILL, which
// nothing can catch; the durability matrix then starts it again on the same folder.
#include "platform/durability_probe.h"

#include <signal.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <filesystem>

#include "platform/program_rig.h"
#include "platform/qt_timer.h"

namespace quillfin::platform {

namespace {

struct YesPrompts : common::Prompts {
    void Message(const std::string&, const std::string&) override {}
    bool AskYesNo(const std::string&, const std::string&) override { return true; }
};

struct NoScreens : app::StartupScreens {
    void SetSplashMaximum(int) override {}
    void SetSplashProgress(int) override {}
    void SetSplashStatus(const std::string&) override {}
    void ShowSplash() override {}
    void HideSplash() override {}
    void CreateMainWindow() override {}
    void CreateOptionsWindow() override {}
    void CurrentPlacement(storage::WindowPlacement&, int*, int*) override {}
    void ShowMainWindow() override {}
};

// Checks the kill point between events and inside every loop that lets events run.
struct KillingPump : QtEventPump {
    std::function<void()> check;
    void Pump() override {
        if (check) check();
        QtEventPump::Pump();
    }
};

bool RunUntil(const std::function<bool()>& done, int seconds) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    poll.start(1);
    loop.exec();
    return done();
}

}  // namespace

int RunDurabilityProbe(const std::string& dir, int port, const std::string& point) {
    const std::string kind = point.substr(0, point.find(':'));
    const int at =
        point.find(':') == std::string::npos ? 0 : std::stoi(point.substr(point.find(':') + 1));
    const bool fresh = !std::filesystem::exists(dir + "/npending.dat");
    common::SystemClock clock;
    KillingPump pump;
    YesPrompts prompts;
    NoWindows windows;
    NoSounds sounds;
    QtSocket tcp1, tcp2;
    QtTimer timerbot1, timerbot2, timer1;
    app::Program program(
        dir, {clock, pump, prompts, windows, sounds, tcp1, timerbot1, tcp2, timerbot2, timer1});
    NoScreens screens;
    program.Main(screens);
    auto& s = program.settings;
    s.News_Host = "127.0.0.1";
    s.News_Port = std::to_string(port);
    s.Download_Path = dir + "/dl/";
    std::filesystem::create_directories(s.Download_Path);
    s.sldXOVER = 5;  // small bursts: more places for a scan to be cut short
    s.chkAutodownload = 0;
    s.chkAutoExpire = 0;
    s.chkMakeSubDirs = 0;
    if (program.groups.Entries().empty()) {
        for (const char* group : kDurabilityGroups) program.groups.AddGroup(group);
        program.views.FillGroupFilter();
    }

    // The point, counted as the program gets there.
    enum Stage { kScanning, kSaving, kFetching } stage = kScanning;
    int pumps = 0;
    std::int32_t queued = 0;
    auto reached = [&] {
        if (kind == "scan") return stage == kScanning && program.table.HeadersRead >= at;
        if (kind == "save") return program.store.Saving() && ++pumps >= at;
        if (kind == "decode") return program.download.Decoding() && ++pumps >= at;
        if (stage != kFetching) return false;
        if (kind == "fetched") {
            int retrieved = 0;
            for (std::int32_t i = 1; i <= program.table.HeaderCount(); ++i)
                for (const auto& part : program.table.Entry(i).Parts) retrieved += part.Retrieved;
            return retrieved >= at;
        }
        if (kind == "filed") return queued - program.batch.Rows().Count() >= at;
        return false;
    };
    auto check = [&] {
        if (reached()) ::kill(::getpid(), SIGKILL);
    };
    pump.check = check;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, check);
    poll.start(1);

    program.connections.ConnectScan();
    if (!RunUntil(
            [&] {
                return !program.scan.Driving() && program.view.cmdScanEnabled &&
                       tcp1.GetState() == nntp::Socket::kClosed && program.table.HeaderCount() > 0;
            },
            60))
        return 2;
    // Everything is queued once, as a user queues a batch; a start after a kill goes on with
    // the batch the saved table holds.
    if (fresh)
        for (std::int32_t i = 1; i <= program.table.HeaderCount(); ++i) program.batch.AddToBatch(i);
    stage = kSaving;
    program.SaveHeadersCommand();
    stage = kFetching;
    pumps = 0;
    queued = program.batch.Rows().Count();
    program.BatchStartCommand();
    if (!RunUntil(
            [&] {
                return program.batch.Rows().Count() == 0 && program.session.DownloadBusy == 0 &&
                       program.session.DownloadState == 0;
            },
            120))
        return 3;
    poll.stop();
    program.Shutdown(false);
    return 0;
}

}  // namespace quillfin::platform
