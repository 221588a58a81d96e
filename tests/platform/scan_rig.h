#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/main_view_state.h"
#include "headers/header_table.h"
#include "headers/overview_parser.h"
#include "nntp/connections.h"
#include "nntp/scan_engine.h"
#include "nntp/session_values.h"
#include "nntp/windows.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_socket.h"
#include "platform/qt_timer.h"
#include "platform/qt_wait.h"
#include "storage/activity_log.h"
#include "storage/group_list.h"
#include "storage/settings.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfin::platform {

struct RecordedWindows : nntp::Windows {
    void ShowLoginDialog() override { requests.push_back("show login"); }
    void HideLoginDialog() override { requests.push_back("hide login"); }
    void ShowOptionsNewsgroupsTab() override { requests.push_back("options newsgroups"); }
    void ShowAddNewsgroupDialog() override { requests.push_back("add newsgroup"); }
    std::vector<std::string> requests;
};

// The scan side of the program wired as the application wires it: the Qt socket and timer,
// the Qt event pump, the system clock, a real header table and group list.
struct ScanRig {
    explicit ScanRig(int port, const std::string& host = "127.0.0.1") {
        settings.chkEnableLogging = 1;
        settings.chkAutodownload = 0;
        settings.chkAutoExpire = 0;
        settings.News_Host = host;
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
        storage::GroupEntry entry;
        entry.name = name;
        entry.lastRead = lastRead;
        groups.Entries().push_back(entry);
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
    bool LoggedLineStartingWith(const std::string& prefix) const {
        for (const auto& line : Logged()) {
            if (line.rfind(prefix, 0) == 0) return true;
        }
        return false;
    }
    std::vector<std::string> LoggedSince(std::size_t count) const {
        std::vector<std::string> all = Logged();
        return {all.begin() + std::ptrdiff_t(std::min(count, all.size())), all.end()};
    }

    // Connects, lets the scan run and waits until the connection is closed again.
    bool ScanToTheEnd(int timeout_ms = 20000) {
        const std::uint64_t revision = log.Revision();
        connections.ConnectScan();
        return RunEventsUntil([&] { return ScanFinished(revision); }, timeout_ms);
    }
    // No scan running, and the connection closed since the log was at `revision`.
    bool ScanFinished(std::uint64_t revision) const {
        if (engine->Driving() || tcp1.GetState() != 0 || !view.cmdScanEnabled) return false;
        return log.Revision() > revision && !log.Lines().empty() &&
               log.Lines().front().ends_with("  Connection Closed");
    }

    // The log and the socket state, for failure messages.
    std::string Dump() const {
        std::string text = "state " + std::to_string(tcp1.GetState()) + ", log:\n";
        for (const auto& line : Logged()) text += "  " + line + "\n";
        return text;
    }

    // The entry whose join key contains text; nullptr when none.
    const headers::HeaderEntry* EntryWith(const std::string& text) const {
        for (const auto& entry : table.Entries()) {
            if (entry.Subject.find(text) != std::string::npos) return &entry;
        }
        return nullptr;
    }

    testing::TempDir dir;
    storage::Settings settings;
    common::SystemClock clock;
    storage::ActivityLog log{settings, clock, dir.Path()};
    testing::ScriptedPrompts prompts;
    RecordedWindows windows;
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
