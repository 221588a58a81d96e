#pragma once

#include <QtCore/qtestsupport_core.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "nntp/scan_engine.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_socket.h"
#include "platform/qt_timer.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfin::platform {

struct NoWindows : nntp::Windows {
    void ShowLoginDialog() override {}
    void HideLoginDialog() override {}
    void ShowOptionsNewsgroupsTab() override {}
    void ShowAddNewsgroupDialog() override {}
};

// The scan side wired as the application wires it: the Qt socket, timer and event pump, the
// system clock, a real header table and group list.
struct ScanRig {
    explicit ScanRig(int port) {
        settings.chkEnableLogging = 1;
        settings.News_Host = "127.0.0.1";
        settings.News_Port = std::to_string(port);
        connections.AttachSocket(1, &tcp1);
        connections.AttachTimer(1, &timerbot1);
        engine = std::make_unique<nntp::ScanEngine>(connections, table, parser, clock);
    }
    ~ScanRig() {
        engine.reset();
        tcp1.Close();
    }

    void AddGroup(const std::string& name, const std::string& lastRead = "") {
        groups.Entries().push_back({.name = name, .lastRead = lastRead});
        groups.Touch();
    }
    storage::GroupEntry& Group(const std::string& name) { return *groups.Find(name); }

    // Kept log lines without their time stamps, oldest first.
    std::vector<std::string> Logged() const {
        std::vector<std::string> out;
        for (auto it = log.Lines().rbegin(); it != log.Lines().rend(); ++it) {
            out.push_back(it->size() > 10 ? it->substr(10) : *it);
        }
        return out;
    }
    bool WasLogged(const std::string& prefix) const {
        return std::ranges::any_of(Logged(),
                                   [&](const auto& line) { return line.starts_with(prefix); });
    }
    std::string Dump() const {
        return "state " + std::to_string(tcp1.GetState()) + ", log " +
               ::testing::PrintToString(Logged());
    }
    const headers::HeaderEntry* EntryWith(const std::string& text) const {
        for (const auto& entry : table.Entries()) {
            if (entry.Subject.find(text) != std::string::npos) return &entry;
        }
        return nullptr;
    }

    // Connects and waits until the scan has run and the connection is closed again.
    bool ScanToTheEnd(int timeout_ms = 20000) {
        const std::uint64_t revision = log.Revision();
        connections.ConnectScan();
        const auto done = [&] {
            return !engine->Driving() && tcp1.GetState() == 0 && view.cmdScanEnabled &&
                   log.Revision() > revision && !log.Lines().empty() &&
                   log.Lines().front().ends_with("  Connection Closed");
        };
        return QTest::qWaitFor(done, timeout_ms);
    }

    testing::TempDir dir;
    storage::Settings settings;
    common::SystemClock clock;
    storage::ActivityLog log{settings, clock, dir.Path()};
    testing::ScriptedPrompts prompts;
    NoWindows windows;
    storage::GroupList groups{dir.Path(), prompts};
    headers::HeaderTable table{log};
    common::MainViewState view;
    QtEventPump pump;
    headers::OverviewParser parser{table, pump};
    nntp::SessionValues session;
    nntp::Connections connections{session, settings, groups, log, view, prompts, windows, pump};
    QtSocket tcp1;
    QtTimer timerbot1;
    std::unique_ptr<nntp::ScanEngine> engine;
};

}  // namespace quillfin::platform
