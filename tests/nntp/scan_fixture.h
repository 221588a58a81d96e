#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "nntp/scan_engine.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfin::testing {

// A socket the test drives: it records the lines sent; the test plays server and network.
class FakeSocket : public nntp::Socket {
  public:
    void SetRemoteHost(const std::string&) override {}
    void SetRemotePort(int port) override { remote_port = port; }
    void SetLocalPort(int) override {}
    void Connect() override {
        ++connects;
        state = kConnected;
    }
    void Send(const std::string& data) override {
        raw_sent += data;
        sent.push_back(data.substr(0, data.rfind("\r\n")));
    }
    void Close() override {
        ++closes;
        state = state_after_close;
    }
    int GetState() const override { return state; }
    void Deliver(const std::string& chunk) { onDataArrival(chunk); }
    void PeerClose() {
        state = kClosed;
        onClose();
    }

    int state = kClosed;
    int state_after_close = kClosed;
    int remote_port = -1;
    int connects = 0;
    int closes = 0;
    std::string raw_sent;
    std::vector<std::string> sent;
};

struct FakeTimer : nntp::Timer {
    void SetInterval(int milliseconds) override { interval = milliseconds; }
    int Interval() const override { return interval; }
    int interval = 0;
};

// Runs the queued actions one per pump: events arriving in the middle of a parse.
struct ScriptedPump : common::EventPump {
    void Pump() override {
        if (actions.empty()) return;
        auto action = std::move(actions.front());
        actions.pop_front();
        action();
    }
    std::deque<std::function<void()>> actions;
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
        if (onRestart) onRestart();
    }
    void AutoExpire(const std::string& group, const std::string& firstText) override {
        calls.push_back("expire " + group + " [" + firstText + "]");
        if (onExpire) onExpire();
    }
    void DownloadStep() override { calls.push_back("download"); }
    std::vector<std::string> calls;
    std::function<void()> onRestart;
    std::function<void()> onExpire;
};

// Lists are written as one text, items separated by "|"; suffix is added to each item.
inline std::vector<std::string> Items(const std::string& text, const std::string& suffix = "") {
    std::vector<std::string> out;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t bar = std::min(text.find('|', at), text.size());
        out.push_back(text.substr(at, bar - at) + suffix);
        at = bar + 1;
    }
    return out;
}

inline std::string OverviewLine(long number, const std::string& subject = "") {
    std::string n = std::to_string(number);
    return n + "\t" + (subject.empty() ? "file" + n + ".jpg (1/1)" : subject) +
           "\tposter@example.test (Poster)\tSat, 05 Dec 1998 10:00:00 GMT\t<" + n +
           "@example.test>\t\t5000\t80\tXref: x\r\n";
}
inline std::string Burst(long from, long to) {
    std::string text = "224 Overview information follows\r\n";
    for (long n = from; n <= to; ++n) text += OverviewLine(n);
    return text + ".\r\n";
}
inline std::string GroupReply(long first, long last, const std::string& g, long count = 5) {
    return "211 " + std::to_string(count) + " " + std::to_string(first) + " " +
           std::to_string(last) + " " + g + "\r\n";
}

// The whole scan side over a scripted socket, a manual clock and a real header table.
class ScanFixture : public ::testing::Test {
  protected:
    ScanFixture() {
        settings.chkEnableLogging = 1;
        settings.News_Host = "news.example.test";
        clock.Set(common::TimePoint{} + std::chrono::hours(24 * 365 * 50));
        connections.AttachSocket(1, &tcp1);
        connections.AttachTimer(1, &timer1);
        engine = std::make_unique<nntp::ScanEngine>(connections, table, parser, clock);
        engine->SetCallouts(&callouts);
    }

    // Rows as "name=lastRead|..."; a leading "-" switches the row off.
    void AddGroups(const std::string& rows) {
        for (const std::string& item : Items(rows)) {
            storage::GroupEntry& row = groups.Entries().emplace_back();
            row.disabled = item.starts_with("-");
            row.name = item.substr(row.disabled, item.find('=') - row.disabled);
            row.lastRead = item.substr(item.find('=') + 1);
        }
        groups.Touch();
    }
    storage::GroupEntry& Row(int position) { return groups.At(position); }

    // Opens the scan connection and greets; without login the scan starts at once.
    void Connect() {
        connections.ConnectScan();
        tcp1.Deliver("200 news.example.test ready\r\n");
    }
    // Kept log lines without their time stamps, oldest first; the log is emptied.
    std::vector<std::string> TakeLogged() {
        auto out = Untimed(log);
        log.Clear();
        return out;
    }
    std::vector<std::string> TakeSent() { return std::exchange(tcp1.sent, {}); }
    // Delivers a chunk from the server; returns what we sent in answer.
    std::vector<std::string> Say(const std::string& chunk) {
        tcp1.Deliver(chunk);
        return TakeSent();
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
    std::unique_ptr<nntp::ScanEngine> engine;
};

}  // namespace quillfin::testing
