// The watchdog's fault matrix: the whole program scans the test server over real loopback
// sockets while the server fails once at a chosen point (silence, a dropped connection, an
// error reply, a reply cut into pieces). Time is a manual clock: when the sockets go quiet the
// test lets one second pass and ticks the timers. Every case must end with nothing lost: each
// article up to a group's lastRead is in the table, and a second, clean scan then gives the
// same table as a run without faults; a scan that recovers by itself saves the same header file.
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
#include <tuple>
#include <utility>

#include "app/program.h"
#include "common/text.h"
#include "platform/program_rig.h"
#include "testserver/nntp_test_server.h"
#include "testserver/sample_data.h"

namespace quillfin::platform {
namespace {

const std::vector<std::string> kGroups = {"alt.binaries.matrix.one", "alt.binaries.matrix.two"};

// The points of the conversation and what can go wrong there.
std::vector<FaultCase> Matrix() {
    struct Point {
        std::string name;
        std::vector<ReplyRule> before;  // normal replies let through first
        std::string command;
        std::size_t mid;  // a byte count inside the reply
        bool login = false;
    };
    const std::vector<Point> points = {
        {"greeting", {}, ReplyRule::kGreeting, 12},
        {"AUTHINFO USER", {}, "AUTHINFO USER", 6, true},
        {"AUTHINFO PASS", {}, "AUTHINFO PASS", 6, true},
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
            FaultCase c{p.name + ": " + what, p.before, p.login};
            c.rules.push_back(Fault(p.command, shape));
            cases.push_back(std::move(c));
        };
        add("silence", [](ReplyRule& r) { r.silent = true; });
        add("silence midway", [&](ReplyRule& r) { r.silentAfterBytes = p.mid; });
        add("dropped at once", [](ReplyRule& r) { r.dropAfterBytes = 0; });
        add("dropped midway", [&](ReplyRule& r) { r.dropAfterBytes = p.mid; });
        add("first line a byte at a time", FirstLineBytewise);
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
        Rig clean_rig(server.Port(), true, kGroups);
        ASSERT_TRUE(clean_rig.Scan(200));
        clean = clean_rig.Contents();
        ASSERT_NE(clean.find(kGroups[1] + ":45"), std::string::npos);
        clean_headers = clean_rig.SavedHeaders();
        ASSERT_GT(clean_headers.size(), 1000u);
    }
    // The server as a case needs it, and a rig that logs in when the server asks for it.
    std::unique_ptr<Rig> Prepare(const FaultCase& c, bool allow_restart) {
        testserver::ServerOptions options;
        options.requireAuth = c.login;
        server.SetOptions(options);
        server.ClearRules();
        for (const ReplyRule& rule : c.rules) server.AddRule(rule);
        auto rig = std::make_unique<Rig>(server.Port(), allow_restart, kGroups);
        if (c.login) rig->LogIn(options.user, options.password);
        return rig;
    }

    testserver::NntpTestServer server;
    std::map<std::string, long> articles;
    std::string clean, clean_headers;
};

TEST_F(FaultMatrixTest, EveryScanEndsWithNothingLost) {
    int cases = 0, recovered = 0, stopped = 0, lost = 0;
    for (bool allow_restart : {true, false}) {
        for (const FaultCase& c : Matrix()) {
            SCOPED_TRACE(c.name + (allow_restart ? " (restarts on)" : " (restarts off)"));
            ++cases;
            auto rig_owner = Prepare(c, allow_restart);
            Rig& rig = *rig_owner;
            // One fault costs at most one restart: timeout, countdown and a scan.
            const bool ended = rig.Scan(40);
            if (c.name.ends_with("a byte at a time")) {
                // A cut status line is only slow, never a failure: no restart, nothing missing.
                EXPECT_TRUE(ended && rig.Contents() == clean);
                EXPECT_FALSE(rig.Logged("Emergency Reconnect"));
            }
            bool same_file = true;
            if (ended && rig.Contents() == clean) {
                ++recovered;
                // Byte for byte: the parts of each posting also arrived in the clean order.
                same_file = rig.SavedHeaders() == clean_headers;
                EXPECT_TRUE(same_file);
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
            // A group the server skipped comes later then: its postings can sit later in the
            // file, so only the table's contents are compared here.
            const bool same = rig.Contents() == clean;
            EXPECT_TRUE(same);
            if (!gone.empty() || !same || !same_file) ++lost;
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
    Rig rig(port, true, kGroups);
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
class BatchFaultMatrixTest : public ::testing::TestWithParam<std::pair<int, int>> {
  protected:
    void SetUp() override {
        server.WithSpool([](testserver::NewsSpool& spool) { testserver::AddSampleData(spool); });
        ASSERT_TRUE(server.Start()) << server.Error();
        auto rig = Download(nullptr);
        ASSERT_TRUE(rig != nullptr);
        clean = rig->DecodedFiles();
        ASSERT_GE(clean.size(), 8u);
    }

    // Scans the demo groups cleanly, queues every posting and runs the batch with the rules.
    std::unique_ptr<Rig> Download(const FaultCase* fault, bool allow_restart = true,
                                  bool* ended = nullptr) {
        server.ClearRules();
        auto rig = std::make_unique<Rig>(server.Port(), allow_restart, testserver::SampleGroups());
        if (!rig->Scan(40)) return nullptr;
        std::tie(rig->program.settings.Connections, rig->program.settings.RequestsInFlight) =
            GetParam();
        for (std::int32_t i = 1; i <= rig->program.table.HeaderCount(); ++i)
            rig->program.batch.AddToBatch(i);
        if (fault != nullptr)
            for (const ReplyRule& rule : fault->rules) server.AddRule(rule);
        rig->program.BatchStartCommand();
        const bool done = rig->RunUntil([&] { return rig->BatchEnded(); }, 60);
        if (ended != nullptr) *ended = done;
        return rig;
    }
    testserver::NntpTestServer server;
    std::map<std::string, std::string> clean;
};

TEST_P(BatchFaultMatrixTest, EveryBatchEndsWithTheSameFiles) {
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
        std::vector<std::pair<std::string, std::function<void(ReplyRule&)>>> kinds = {
            {"silence", [](ReplyRule& r) { r.silent = true; }},
            {"silence midway", [&](ReplyRule& r) { r.silentAfterBytes = p.mid; }},
            {"dropped at once", [](ReplyRule& r) { r.dropAfterBytes = 0; }},
            {"dropped midway", [&](ReplyRule& r) { r.dropAfterBytes = p.mid; }},
            {"first line a byte at a time", FirstLineBytewise},
        };
        for (const char* code : {"400", "411", "423", "480", "500", "502"})
            kinds.emplace_back(std::string("reply ") + code, [code](ReplyRule& r) {
                r.reply = std::string(code) + " injected fault\r\n";
            });
        for (const auto& [what, shape] : kinds) {
            FaultCase c{p.name + ": " + what, p.before};
            c.rules.push_back(Fault(p.command, shape));
            SCOPED_TRACE(c.name);
            ++cases;
            bool ended = false;
            auto rig = Download(&c, true, &ended);
            ASSERT_TRUE(rig != nullptr);
            auto files = rig->DecodedFiles();
            if (what == "first line a byte at a time") {
                EXPECT_TRUE(ended && files == clean);
                EXPECT_FALSE(rig->Logged("Emergency Reconnect"));
            }
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
                EXPECT_TRUE(rig->RunUntil([&] { return rig->BatchEnded(); }, 60));
                files = rig->DecodedFiles();
                ++stopped;
            }
            EXPECT_EQ(files.size(), clean.size());
            const bool same = files == clean;
            EXPECT_TRUE(same);
            if (!same) ++lost;
        }
    }
    std::printf(
        "fault matrix (batch, %d connections, %d in flight): %d cases, %d recovered by "
        "themselves, %d finished after queueing again, %d lost anything\n",
        GetParam().first, GetParam().second, cases, recovered, stopped, lost);
    EXPECT_EQ(lost, 0);
}
// One article at a time on one connection, and four connections with four requests each.
INSTANTIATE_TEST_SUITE_P(Connections, BatchFaultMatrixTest,
                         ::testing::Values(std::pair(1, 1), std::pair(4, 4)));

}  // namespace
}  // namespace quillfin::platform
