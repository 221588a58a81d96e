// The watchdog's fault matrix: the whole program scans the test server over real loopback
// sockets while the server fails once at a chosen point (silence, a dropped connection, an
// error reply, a reply cut into pieces). Time is a manual clock: when the sockets go quiet the
// test lets one second pass and ticks the timers. Every case must end with nothing lost: each
// article up to a group's lastRead is in the table, and a second, clean scan then gives the
// same table as a run without faults.
#include <QtCore/qtestsupport_core.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "app/program.h"
#include "common/text.h"
#include "nntp/scan_fixture.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_socket.h"
#include "testserver/nntp_test_server.h"
#include "testserver/sample_data.h"

namespace quillfin::platform {
namespace {

using testserver::ReplyRule;

constexpr const char* kGroups[] = {"alt.binaries.matrix.one", "alt.binaries.matrix.two"};

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
    explicit Rig(int port, bool allow_restart) {
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
        for (const char* group : kGroups) program.groups.AddGroup(group);
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
                QTest::qWait(3);
                quiet = Progress() == before ? quiet + 1 : 0;
                if (done()) return true;
            }
            clock.Advance(std::chrono::seconds(1));
            for (testing::FakeTimer* timer : {&timerbot1, &timerbot2, &timer1})
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

    testing::TempDir dir;
    common::ManualClock clock;
    QtEventPump pump;
    testing::ScriptedPrompts prompts;
    NoWindows windows;
    NoSounds sounds;
    QtSocket tcp1, tcp2;
    testing::FakeTimer timerbot1, timerbot2, timer1;
    app::Program program{
        dir.Path(),
        {clock, pump, prompts, windows, sounds, tcp1, timerbot1, tcp2, timerbot2, timer1}};
};

struct FaultCase {
    std::string name;
    std::vector<ReplyRule> rules;
};

ReplyRule Pass(const std::string& command) {
    ReplyRule rule;
    rule.command = command;
    rule.uses = 1;
    return rule;
}
ReplyRule Fault(const std::string& command, const std::function<void(ReplyRule&)>& shape) {
    ReplyRule rule = Pass(command);
    shape(rule);
    return rule;
}

// The points of the conversation and what can go wrong there.
std::vector<FaultCase> Matrix() {
    struct Point {
        std::string name;
        std::vector<ReplyRule> before;  // normal replies let through first
        std::string command;
        std::size_t mid;  // a byte count inside the reply
    };
    const std::vector<Point> points = {
        {"greeting", {}, ReplyRule::kGreeting, 12},
        {"first GROUP", {}, "GROUP", 8},
        {"second GROUP", {Pass("GROUP")}, "GROUP", 8},
        {"first burst", {}, "XOVER", 700},
        {"third burst", {Pass("XOVER"), Pass("XOVER")}, "XOVER", 900},
        {"fifth burst", {Pass("XOVER"), Pass("XOVER"), Pass("XOVER"), Pass("XOVER")}, "XOVER", 300},
        {"after the end line", {}, "QUIT", 3},
    };
    std::vector<FaultCase> cases;
    for (const Point& p : points) {
        auto add = [&](const std::string& what, const std::function<void(ReplyRule&)>& shape) {
            FaultCase c{p.name + ": " + what, p.before};
            c.rules.push_back(Fault(p.command, shape));
            cases.push_back(std::move(c));
        };
        add("silence", [](ReplyRule& r) { r.silent = true; });
        add("dropped at once", [](ReplyRule& r) { r.dropAfterBytes = 0; });
        add("dropped midway", [&](ReplyRule& r) { r.dropAfterBytes = p.mid; });
        add("first line a byte at a time", [](ReplyRule& r) {
            r.chunkSize = 1;
            r.pauseMs = 1;
        });
        for (const char* code : {"400", "411", "423", "480", "500", "502"})
            add(std::string("reply ") + code,
                [code](ReplyRule& r) { r.reply = std::string(code) + " injected fault\r\n"; });
    }
    return cases;
}

class FaultMatrixTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.WithSpool([&](testserver::NewsSpool& spool) {
            testserver::AddOverviewPostings(spool, kGroups[0], 80, 20);
            testserver::AddOverviewPostings(spool, kGroups[1], 45, 3);
        });
        ASSERT_TRUE(server.Start()) << server.Error();
        articles = {{kGroups[0], 80}, {kGroups[1], 45}};
        Rig clean_rig(server.Port(), true);
        ASSERT_TRUE(clean_rig.Scan(200));
        clean = clean_rig.Contents();
        ASSERT_NE(clean.find(std::string(kGroups[1]) + ":45"), std::string::npos);
    }

    testserver::NntpTestServer server;
    std::map<std::string, long> articles;
    std::string clean;
};

TEST_F(FaultMatrixTest, EveryScanEndsWithNothingLost) {
    int cases = 0, recovered = 0, stopped = 0, lost = 0;
    for (bool allow_restart : {true, false}) {
        for (const FaultCase& c : Matrix()) {
            SCOPED_TRACE(c.name + (allow_restart ? " (restarts on)" : " (restarts off)"));
            ++cases;
            server.ClearRules();
            for (const ReplyRule& rule : c.rules) server.AddRule(rule);
            Rig rig(server.Port(), allow_restart);
            // One fault costs at most one restart: timeout, countdown and a scan.
            const bool ended = rig.Scan(40);
            if (ended && rig.Contents() == clean) {
                ++recovered;
            } else {
                if (allow_restart) std::printf("  stopped by the user: %s\n", c.name.c_str());
                // Left waiting, or ended short: the user's Stop must end it cleanly.
                rig.program.ScanStopCommand();
                rig.RunUntil([&] { return rig.ScanEnded(); }, 10);
                EXPECT_TRUE(rig.ScanEnded());
                if (rig.ScanEnded()) ++stopped;
            }
            const auto gone = rig.Lost(articles);
            EXPECT_TRUE(gone.empty()) << gone.front();
            // A later scan without faults fills the table up to what a clean run holds.
            server.ClearRules();
            EXPECT_TRUE(rig.Scan(40));
            const bool same = rig.Contents() == clean;
            EXPECT_TRUE(same);
            if (!gone.empty() || !same) ++lost;
        }
    }
    std::printf(
        "fault matrix (scan): %d cases, %d recovered by themselves, %d stopped cleanly, "
        "%d lost anything\n",
        cases, recovered, stopped, lost);
    EXPECT_EQ(lost, 0);
}

TEST_F(FaultMatrixTest, ARefusedConnectionIsTriedAgainUntilTheServerIsBack) {
    int port = 0;
    {
        testserver::NntpTestServer gone;
        ASSERT_TRUE(gone.Start());
        port = gone.Port();
    }
    Rig rig(port, true);
    rig.program.connections.ConnectScan();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.program.session.RestartPending; }, 20));
    testserver::NntpTestServer back;
    back.WithSpool([](testserver::NewsSpool& spool) {
        testserver::AddOverviewPostings(spool, kGroups[0], 80, 20);
        testserver::AddOverviewPostings(spool, kGroups[1], 45, 3);
    });
    ASSERT_TRUE(back.Start(port)) << back.Error();
    EXPECT_TRUE(rig.RunUntil([&] { return rig.ScanEnded(); }, 40));
    EXPECT_EQ(rig.Contents(), clean);
}

// The batch side: the demo data's real uuencoded and yEnc postings, scanned cleanly, queued,
// and downloaded while the server fails once at an ARTICLE, a GROUP or the greeting of the
// download connection. The decoded files must equal those of a run without faults.
class BatchFaultMatrixTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.WithSpool([](testserver::NewsSpool& spool) { testserver::AddSampleData(spool); });
        ASSERT_TRUE(server.Start()) << server.Error();
        auto rig = Download(nullptr);
        ASSERT_TRUE(rig != nullptr);
        clean = Files(*rig);
        ASSERT_GE(clean.size(), 8u);
    }

    // Scans the demo groups cleanly, queues every posting and runs the batch with the rules.
    std::unique_ptr<Rig> Download(const FaultCase* fault, bool allow_restart = true,
                                  bool* ended = nullptr) {
        server.ClearRules();
        auto rig = std::make_unique<Rig>(server.Port(), allow_restart);
        rig->program.groups.Entries().clear();
        for (const std::string& group : testserver::SampleGroups())
            rig->program.groups.AddGroup(group);
        if (!rig->Scan(40)) return nullptr;
        for (std::int32_t i = 1; i <= rig->program.table.HeaderCount(); ++i)
            rig->program.batch.AddToBatch(i);
        if (fault != nullptr)
            for (const ReplyRule& rule : fault->rules) server.AddRule(rule);
        rig->program.BatchStartCommand();
        const bool done = rig->RunUntil([&] { return BatchEnded(*rig); }, 60);
        if (ended != nullptr) *ended = done;
        return rig;
    }
    static bool BatchEnded(const Rig& rig) {
        const auto& s = rig.program.session;
        return s.DownloadBusy == 0 && s.DownloadState == 0 && !s.RestartPending;
    }
    // The decoded files (not the parts waiting to be decoded) and their bytes.
    static std::map<std::string, std::string> Files(const Rig& rig) {
        std::map<std::string, std::string> files;
        for (const auto& item : std::filesystem::recursive_directory_iterator(rig.dir.Path())) {
            const std::string path = item.path().string();
            if (!item.is_regular_file() || path.ends_with(".UUE") || path.ends_with(".TXT") ||
                path.ends_with(".dat") || path.ends_with(".INI") || path.ends_with(".txt"))
                continue;
            std::ifstream in(path, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            files[path.substr(rig.dir.Path().size())] = bytes.str();
        }
        return files;
    }

    testserver::NntpTestServer server;
    std::map<std::string, std::string> clean;
};

TEST_F(BatchFaultMatrixTest, EveryBatchEndsWithTheSameFiles) {
    struct Point {
        std::string name;
        std::vector<ReplyRule> before;
        std::string command;
        std::size_t mid;
    };
    const std::vector<Point> points = {
        {"first ARTICLE", {}, "ARTICLE", 2000},
        {"fourth ARTICLE", {Pass("ARTICLE"), Pass("ARTICLE"), Pass("ARTICLE")}, "ARTICLE", 9000},
        {"download GROUP", {}, "GROUP", 6},
        {"download greeting", {}, ReplyRule::kGreeting, 10},
    };
    int cases = 0, recovered = 0, stopped = 0, lost = 0;
    for (const Point& p : points) {
        const std::vector<std::pair<std::string, std::function<void(ReplyRule&)>>> kinds = {
            {"silence", [](ReplyRule& r) { r.silent = true; }},
            {"dropped at once", [](ReplyRule& r) { r.dropAfterBytes = 0; }},
            {"dropped midway", [&](ReplyRule& r) { r.dropAfterBytes = p.mid; }},
            {"reply 400", [](ReplyRule& r) { r.reply = "400 injected fault\r\n"; }},
            {"reply 423", [](ReplyRule& r) { r.reply = "423 injected fault\r\n"; }},
            {"reply 500", [](ReplyRule& r) { r.reply = "500 injected fault\r\n"; }},
            {"reply 502", [](ReplyRule& r) { r.reply = "502 injected fault\r\n"; }},
        };
        for (const auto& [what, shape] : kinds) {
            FaultCase c{p.name + ": " + what, p.before};
            c.rules.push_back(Fault(p.command, shape));
            SCOPED_TRACE(c.name);
            ++cases;
            bool ended = false;
            auto rig = Download(&c, true, &ended);
            ASSERT_TRUE(rig != nullptr);
            auto files = Files(*rig);
            if (ended && files == clean) {
                ++recovered;
            } else {
                // What the server refused for good (a 423 drops its posting) is queued and
                // fetched again; nothing decoded earlier may differ or be lost.
                rig->program.BatchStopCommand();
                server.ClearRules();
                for (std::int32_t i = 1; i <= rig->program.table.HeaderCount(); ++i)
                    if (!rig->program.table.Entry(i).InBatch) {
                        bool decoded = true;
                        for (const auto& part : rig->program.table.Entry(i).Parts)
                            decoded = decoded && part.Retrieved;
                        if (!decoded) rig->program.batch.AddToBatch(i);
                    }
                rig->program.BatchStartCommand();
                EXPECT_TRUE(rig->RunUntil([&] { return BatchEnded(*rig); }, 60));
                files = Files(*rig);
                ++stopped;
            }
            EXPECT_EQ(files.size(), clean.size());
            const bool same = files == clean;
            EXPECT_TRUE(same);
            if (!same) ++lost;
        }
    }
    std::printf(
        "fault matrix (batch): %d cases, %d recovered by themselves, %d finished after "
        "queueing again, %d lost anything\n",
        cases, recovered, stopped, lost);
    EXPECT_EQ(lost, 0);
}

}  // namespace
}  // namespace quillfin::platform
