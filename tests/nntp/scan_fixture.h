#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/event_pump.h"
#include "common/main_view_state.h"
#include "headers/header_table.h"
#include "headers/overview_parser.h"
#include "nntp/connections.h"
#include "nntp/fake_socket.h"
#include "nntp/scan_engine.h"
#include "nntp/session_callouts.h"
#include "nntp/session_values.h"
#include "nntp/sound_player.h"
#include "nntp/windows.h"
#include "storage/activity_log.h"
#include "storage/group_list.h"
#include "storage/settings.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfin::testing {

// Runs the actions a test queued, one per pump, as events arriving in the middle of a parse.
class ScriptedPump : public common::EventPump {
public:
    void Pump() override {
        ++pumps;
        if (actions.empty()) return;
        auto action = std::move(actions.front());
        actions.pop_front();
        action();
    }
    std::deque<std::function<void()>> actions;
    int pumps = 0;
};

struct RecordingWindows : nntp::Windows {
    void ShowLoginDialog() override { requests.push_back("show login"); }
    void HideLoginDialog() override { requests.push_back("hide login"); }
    void ShowOptionsNewsgroupsTab() override { requests.push_back("options newsgroups"); }
    void ShowAddNewsgroupDialog() override { requests.push_back("add newsgroup"); }
    std::vector<std::string> requests;
};

struct RecordingCallouts : nntp::SessionCallouts {
    void EmergencyRestart(int connection) override {
        calls.push_back("restart " + std::to_string(connection));
        if (onRestart) onRestart(connection);
    }
    void AutoExpire(const std::string& group, const std::string& firstText) override {
        calls.push_back("expire " + group + " [" + firstText + "]");
        if (onExpire) onExpire();
    }
    void DownloadStep() override { calls.push_back("download"); }
    std::vector<std::string> calls;
    std::function<void(int)> onRestart;
    std::function<void()> onExpire;
};

struct RecordingSounds : nntp::SoundPlayer {
    void Play(const std::string& name) override { played.push_back(name); }
    std::vector<std::string> played;
};

// The whole scan side over a scripted socket, a manual clock and a real header table.
class ScanFixture : public ::testing::Test {
protected:
    ScanFixture() {
        settings.chkEnableLogging = 1;
        settings.chkAutodownload = 0;
        settings.News_Host = "news.example.test";
        settings.News_Port = "119";
        clock.Set(common::TimePoint{} + std::chrono::hours(24 * 365 * 50));
        connections.AttachSocket(1, &tcp1);
        connections.AttachTimer(1, &timer1);
        engine = std::make_unique<nntp::ScanEngine>(connections, table, parser, clock);
        engine->SetCallouts(&callouts);
        engine->SetSoundPlayer(&sounds);
    }

    void AddGroup(const std::string& name, const std::string& lastRead = "",
                  bool disabled = false) {
        storage::GroupEntry entry;
        entry.name = name;
        entry.lastRead = lastRead;
        entry.disabled = disabled;
        groups.Entries().push_back(entry);
        groups.Touch();
    }
    storage::GroupEntry& Row(int position) { return groups.At(position); }

    // Opens the scan connection and answers the greeting: the driver starts (no login).
    void Connect(const std::string& greeting = "200 news.example.test ready\r\n") {
        connections.ConnectScan();
        tcp1.Deliver(greeting);
    }

    // The kept log lines without their time stamps, oldest first.
    std::vector<std::string> Logged() const {
        std::vector<std::string> out;
        for (auto it = log.Lines().rbegin(); it != log.Lines().rend(); ++it)
            out.push_back(it->substr(10));
        return out;
    }
    // Lines logged since the last call.
    std::vector<std::string> NewLogged() {
        std::vector<std::string> all = Logged();
        std::vector<std::string> out(all.begin() + std::ptrdiff_t(logged_seen_), all.end());
        logged_seen_ = all.size();
        return out;
    }
    std::vector<std::string> NewSent() {
        std::vector<std::string> out(tcp1.sent.begin() + std::ptrdiff_t(sent_seen_),
                                     tcp1.sent.end());
        sent_seen_ = tcp1.sent.size();
        return out;
    }

    static std::string OverviewLine(long number, const std::string& subject = "",
                                    const std::string& prefix = "file") {
        std::string n = std::to_string(number);
        std::string s = subject.empty() ? prefix + n + ".jpg (1/1)" : subject;
        return n + "\t" + s + "\tposter@example.test (Poster)\tSat, 05 Dec 1998 10:00:00 GMT\t<" +
               n + "@example.test>\t\t5000\t80\tXref: x\r\n";
    }
    static std::string Burst(long from, long to, const std::string& prefix = "file") {
        std::string text = "224 Overview information follows\r\n";
        for (long n = from; n <= to; ++n) text += OverviewLine(n, "", prefix);
        return text + ".\r\n";
    }

    TempDir dir;
    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log{settings, clock, dir.Path()};
    ScriptedPrompts prompts;
    storage::GroupList groups{dir.Path(), prompts};
    headers::HeaderTable table{log};
    ScriptedPump pump;
    headers::OverviewParser parser{table, pump};
    common::MainViewState view;
    RecordingWindows windows;
    nntp::SessionValues session;
    FakeSocket tcp1;
    FakeTimer timer1;
    nntp::Connections connections{session, settings, groups, log, view, prompts, windows, pump};
    RecordingCallouts callouts;
    RecordingSounds sounds;
    std::unique_ptr<nntp::ScanEngine> engine;

private:
    std::size_t logged_seen_ = 0;
    std::size_t sent_seen_ = 0;
};

}  // namespace quillfin::testing
