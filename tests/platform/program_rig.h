#pragma once

// The whole program on Qt sockets with a manual clock and hand-driven timers, for tests that
// make a server fail at chosen points and check that nothing is lost.
#include <QtCore/qtestsupport_core.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/program.h"
#include "common/text.h"
#include "nntp/scan_fixture.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_socket.h"
#include "testserver/reply_rule.h"

namespace quillfin::platform {

using testserver::ReplyRule;

struct NoWindows : app::ProgramWindows {
    void ShowLoginDialog() override {}
    void HideLoginDialog() override {}
    void ShowOptionsNewsgroupsTab() override {}
    void ShowAddNewsgroupDialog() override {}
    void ShowFolderPicker() override {}
    void HideOptionsWindow() override {}
    void HideMainWindow() override {}
    void EndProcess() override {}
};
struct NoSounds : nntp::SoundPlayer {
    void Play(const std::string&) override {}
};

// The program on Qt sockets, with the watchdog's and the countdown's timers driven by hand.
struct Rig {
    Rig(int port, bool allow_restart, const std::vector<std::string>& groups) {
        auto& s = program.settings;
        s.News_Host = "127.0.0.1";
        s.News_Port = std::to_string(port);
        s.Download_Path = dir.Path() + "/";
        s.sldXOVER = 20;
        s.sldTimeout = 15;
        s.Rescan_Time = 5;
        s.chkAllowRestart = allow_restart ? 1 : 0;
        s.chkAutodownload = 0;
        s.chkAutoExpire = 0;
        s.chkEnableLogging = 1;
        for (const std::string& group : groups) program.groups.AddGroup(group);
        // Several download connections run on Qt sockets too, their watchdogs by hand.
        program.download.SetPoolPlatform(
            {[]() -> std::unique_ptr<nntp::Socket> { return std::make_unique<QtSocket>(); },
             [this]() -> std::unique_ptr<nntp::Timer> {
                 auto timer = std::make_unique<testing::FakeTimer>();
                 pool_timers.push_back(timer.get());
                 return timer;
             }});
    }
    void LogIn(const std::string& user, const std::string& password) {
        program.settings.chkAuth = 1;
        program.settings.User_Name = user;
        program.settings.User_Pass = password;
    }
    ~Rig() {
        tcp1.Close();
        tcp2.Close();
    }

    // Lets events run while anything changes; when all is quiet, one second passes.
    bool RunUntil(const std::function<bool()>& done, int max_seconds) {
        for (int second = 0; second < max_seconds; ++second) {
            int quiet = 0;
            while (quiet < 2) {
                const auto before = Progress();
                QTest::qWait(quiet_ms);
                quiet = Progress() == before ? quiet + 1 : 0;
                if (done()) return true;
            }
            clock.Advance(std::chrono::seconds(1));
            std::vector<testing::FakeTimer*> timers = pool_timers;
            timers.insert(timers.end(), {&timerbot1, &timerbot2, &timer1});
            for (testing::FakeTimer* timer : timers)
                if (timer->interval > 0 && timer->onTick) timer->onTick();
            if (done()) return true;
        }
        return false;
    }
    std::uint64_t Progress() const {
        return program.log.Revision() + std::uint64_t(program.table.HeadersRead) * 7 +
               std::uint64_t(tcp1.GetState()) * 131 + program.session.ScanBuffer.size() * 3 +
               program.scan.XoverBuffer().size();
    }
    bool ScanEnded() const {
        // The socket may still wait for QUIT's answer: the scan itself is over.
        return !program.scan.Driving() && !program.session.RestartPending &&
               program.view.cmdScanEnabled && !program.session.Scanning;
    }
    bool Scan(int max_seconds) {
        program.connections.ConnectScan();
        return RunUntil([this] { return ScanEnded(); }, max_seconds);
    }

    bool BatchEnded() const {
        const auto& s = program.session;
        return s.DownloadBusy == 0 && s.DownloadState == 0 && !s.RestartPending;
    }
    bool Logged(const std::string& start) const {
        for (const std::string& line : program.log.Lines())
            if (line.find(start) != std::string::npos) return true;
        return false;
    }
    // The decoded files (not the parts waiting to be decoded nor the state files) and their
    // bytes, by path below the rig's folder.
    std::map<std::string, std::string> DecodedFiles() const {
        std::map<std::string, std::string> files;
        for (const auto& item : std::filesystem::recursive_directory_iterator(dir.Path())) {
            const std::string path = item.path().string();
            if (!item.is_regular_file() || path.ends_with(".UUE") || path.ends_with(".TXT") ||
                path.ends_with(".dat") || path.ends_with(".INI") || path.ends_with(".txt"))
                continue;
            std::ifstream in(path, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            files[path.substr(dir.Path().size())] = bytes.str();
        }
        return files;
    }

    // The header file the program saves, as it would be on disk.
    std::string SavedHeaders() {
        program.SaveHeadersCommand();
        return dir.Read("npending.dat");
    }

    // Every part as "group:article", and the postings' count.
    std::string Contents() const {
        std::set<std::string> parts;
        for (const auto& entry : program.table.Entries())
            for (const auto& part : entry.Parts)
                parts.insert(std::string(part.Group.str()) + ":" + part.ArticleNumber);
        std::ostringstream out;
        out << program.table.HeaderCount() << " postings";
        for (const auto& part : parts) out << " " << part;
        return out.str();
    }
    // An article at or below its group's lastRead that the table does not hold is lost for
    // good: no later scan asks for it again.
    std::vector<std::string> Lost(const std::map<std::string, long>& articles) const {
        const std::string contents = Contents() + " ";
        std::vector<std::string> lost;
        for (const auto& [group, count] : articles) {
            const auto* row = const_cast<app::Program&>(program).groups.Find(group);
            const long last_read = row == nullptr ? 0 : long(common::WholeValue(row->lastRead));
            for (long n = 1; n <= std::min(last_read, count); ++n)
                if (contents.find(" " + group + ":" + std::to_string(n) + " ") == std::string::npos)
                    lost.push_back(group + ":" + std::to_string(n));
        }
        return lost;
    }

    // How long the sockets must stay quiet, twice over, before a second passes: a real server
    // takes longer than the test server to answer.
    int quiet_ms = 3;
    testing::TempDir dir;
    common::ManualClock clock;
    QtEventPump pump;
    testing::ScriptedPrompts prompts;
    NoWindows windows;
    NoSounds sounds;
    QtSocket tcp1, tcp2;
    testing::FakeTimer timerbot1, timerbot2, timer1;
    std::vector<testing::FakeTimer*> pool_timers;
    app::Program program{
        dir.Path(),
        {clock, pump, prompts, windows, sounds, tcp1, timerbot1, tcp2, timerbot2, timer1}};
};

struct FaultCase {
    std::string name;
    std::vector<ReplyRule> rules;
    bool login = false;  // the server asks for AUTHINFO first
};

inline ReplyRule Pass(const std::string& command) {
    ReplyRule rule;
    rule.command = command;
    rule.uses = 1;
    return rule;
}
// Cuts a reply after each of its first 64 bytes: its status line arrives a byte at a time.
inline void FirstLineBytewise(ReplyRule& rule) {
    for (std::size_t at = 1; at <= 64; ++at) rule.splitAt.push_back(at);
    rule.pauseMs = 1;
}
inline ReplyRule Fault(const std::string& command, const std::function<void(ReplyRule&)>& shape) {
    ReplyRule rule = Pass(command);
    shape(rule);
    return rule;
}

}  // namespace quillfin::platform
