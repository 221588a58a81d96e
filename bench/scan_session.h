// What the scan benchmarks share: one scan through the program's own socket, engine and table
// in the Qt event loop, with the figures they print.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/clock.h"
#include "common/main_view_state.h"
#include "headers/header_table.h"
#include "headers/overview_parser.h"
#include "nntp/connections.h"
#include "nntp/scan_engine.h"
#include "nntp/session_values.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_socket.h"
#include "platform/qt_timer.h"
#include "storage/activity_log.h"
#include "storage/group_list.h"

namespace quillfin::bench {

struct NoPrompts : common::Prompts {
    void Message(const std::string&, const std::string&) override {}
    bool AskYesNo(const std::string&, const std::string&) override { return false; }
};

struct NoWindows : nntp::Windows {
    void ShowLoginDialog() override {}
    void HideLoginDialog() override {}
    void ShowOptionsNewsgroupsTab() override {}
    void ShowAddNewsgroupDialog() override {}
};

struct ScanFigures {
    double seconds = -1;
    double longest_gap_ms = 0;
    std::int32_t postings = 0;
    std::int64_t parts = 0;
    std::string last_read;
    long pumps = 0;
    long page_faults = 0;
    double resident_bytes = 0;  // grown during the scan, both threads
};

// Resident bytes: the table's large blocks are mappings of their own, outside malloc's count.
inline double ResidentBytes() {
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(::sysconf(_SC_PAGESIZE));
}

inline long MinorFaults() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// One scan of group through the program's socket, engine and table, with the Qt event loop.
inline ScanFigures ScanSeconds(int port, const std::string& program_dir, const char* group,
                               int burst, int inFlight = 1) {
    storage::Settings settings;
    settings.News_Host = "127.0.0.1";
    settings.News_Port = std::to_string(port);
    settings.sldXOVER = burst;
    settings.XoverInFlight = inFlight;
    settings.chkAutodownload = 0;
    settings.chkAutoExpire = 0;
    settings.chkEnableLogging = 1;
    common::SystemClock clock;
    storage::ActivityLog log(settings, clock, program_dir);
    NoPrompts prompts;
    NoWindows windows;
    storage::GroupList groups(program_dir, prompts);
    storage::GroupEntry row;
    row.name = group;
    groups.Entries().push_back(row);
    headers::HeaderTable table(log);
    common::MainViewState view;
    // The program's pump, counted.
    struct CountingPump : common::EventPump {
        void Pump() override {
            ++pumps;
            inner.Pump();
        }
        void PumpIfDue() override {
            ++pumps;
            inner.PumpIfDue();
        }
        platform::QtEventPump inner;
        long pumps = 0;
    } pump;
    headers::OverviewParser parser(table, pump);
    nntp::SessionValues session;
    nntp::Connections connections(session, settings, groups, log, view, prompts, windows, pump);
    platform::QtSocket tcp1;
    platform::QtTimer timerbot1;
    connections.AttachSocket(1, &tcp1);
    connections.AttachTimer(1, &timerbot1);
    nntp::ScanEngine engine(connections, table, parser, clock);

    // A 1 ms timer stands for the window's own events: the gap between two of its ticks is
    // how long the event loop was not served.
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
        if (engine.Driving()) started = true;
        if (started && !engine.Driving()) loop.quit();
    });
    QTimer::singleShot(300000, &loop, &QEventLoop::quit);

    const double resident_before = ResidentBytes();
    const long faults_before = MinorFaults();
    QElapsedTimer elapsed;
    elapsed.start();
    since_tick.start();
    probe.start(1);
    done_check.start(1);
    connections.ConnectScan();
    loop.exec();
    figures.seconds = double(elapsed.nsecsElapsed()) / 1e9;
    figures.page_faults = MinorFaults() - faults_before;
    figures.resident_bytes = ResidentBytes() - resident_before;
    probe.stop();

    figures.postings = table.HeaderCount();
    for (const auto& entry : table.Entries()) figures.parts += entry.PartCount();
    figures.last_read = groups.Entries()[0].lastRead;
    figures.pumps = pump.pumps;
    return figures;
}

}  // namespace quillfin::bench
