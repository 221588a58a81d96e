#include "download/par2_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/clock.h"
#include "download/par2_files.h"
#include "download/par2_runner.h"
#include "support/temp_dir.h"

namespace quillfin::download {
namespace {

namespace fs = std::filesystem;

std::string Recorded(const std::string& name) {
    std::ifstream in(std::string(QUILLFIN_TEST_DATA) + "/par2/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct FakeRunner : Par2Runner {
    void Start(const std::string& folder, const std::vector<std::string>& args, Output out,
               Finished done) override {
        runs.push_back(folder + ": " + args[0] + " " + args[1] + " " + args[2]);
        output = std::move(out);
        finished = std::move(done);
    }
    void Stop() override {
        ++stops;
        output = nullptr;
        finished = nullptr;
    }
    // Plays one run: its output in pieces of `piece` bytes, then its exit code.
    void Play(const std::string& text, int code, std::size_t piece) {
        ASSERT_TRUE(finished);
        for (std::size_t at = 0; at < text.size(); at += piece) output(text.substr(at, piece));
        auto done = std::move(finished);
        done(code);
    }
    std::vector<std::string> runs;
    Output output;
    Finished finished;
    int stops = 0;
};

struct Par2Fixture : ::testing::Test {
    Par2Fixture() {
        settings.chkEnableLogging = 1;
        check.SetRunner(&runner);
        fs::copy_file(std::string(QUILLFIN_TEST_DATA) + "/par2/set.par2", dir.File("set.par2"));
    }
    // The log's kept lines, oldest first, without their time.
    std::vector<std::string> Kept() const {
        std::vector<std::string> lines;
        for (auto line = log.Lines().rbegin(); line != log.Lines().rend(); ++line)
            lines.push_back(line->substr(line->find("  ") + 2));
        return lines;
    }
    testing::TempDir dir;
    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log{settings, clock, dir.Path()};
    FakeRunner runner;
    Par2Check check{settings, log};
};

struct Par2Run {
    const char* recording;  // a file of recorded par2 output, or the output itself
    int code;
};
struct OutcomeCase {
    std::vector<Par2Run> runs;
    const char* logged;
};

// par2's outputs as Debian 12's par2 0.8.1 prints them, and what the log says of each set.
TEST_F(Par2Fixture, EachRecordedOutcomeIsLoggedAndARepairFollowsAVerifyThatNeedsIt) {
    const OutcomeCase cases[] = {
        {{{"ok_verify.txt", 0}}, "verified"},
        {{{"fix_verify.txt", 1}, {"fix_repair.txt", 0}}, "repaired"},
        {{{"bad_verify.txt", 2}}, "cannot repair: 666 more recovery blocks needed"},
        {{{"one_verify.txt", 2}}, "cannot repair: 270 more recovery blocks needed"},
        // More damage found by the repair than by the verify.
        {{{"fix_verify.txt", 1}, {"bad_verify.txt", 2}},
         "cannot repair: 666 more recovery blocks needed"},
        {{{"fix_verify.txt", 1}, {"fix_verify.txt", 1}}, "failed: repair did not complete"},
        {{{"\r\nfailed to set the main par file\n\n", 3}},
         "failed: failed to set the main par file"},
        {{{"", 7}}, "failed: par2 ended with code 7"},
        {{{"", -1}}, "failed: cannot start par2 (Debian package par2)"},
        {{{"Loading: 3.0%\r", -2}}, "failed: par2 crashed"},
    };
    for (const std::size_t piece : {std::size_t(1), std::size_t(1) << 20}) {
        for (const OutcomeCase& c : cases) {
            SCOPED_TRACE(std::string(c.logged) + " in pieces of " + std::to_string(piece));
            runner.runs.clear();
            log.Clear();
            check.CheckFiled({dir.File("a.bin")});
            for (const Par2Run& run : c.runs) {
                const std::string name = run.recording;
                runner.Play(name.ends_with(".txt") ? Recorded(name) : name, run.code, piece);
            }
            EXPECT_FALSE(check.Busy());
            ASSERT_EQ(runner.runs.size(), c.runs.size());
            EXPECT_EQ(runner.runs[0], dir.Path() + ": verify -- set.par2");
            if (c.runs.size() > 1) {
                EXPECT_EQ(runner.runs[1], dir.Path() + ": repair -- set.par2");
            }
            EXPECT_EQ(Kept(),
                      std::vector<std::string>{"par2 " + dir.File("set.par2") + ": " + c.logged});
        }
    }
}

TEST_F(Par2Fixture, ProgressShowsInTheStatusLineEvenWhenOutputComesAByteAtATime) {
    check.CheckFiled({dir.File("b.bin")});
    EXPECT_EQ(log.StatusLine(), "par2: verifying " + dir.File("set.par2"));
    const std::string text = Recorded("fix_verify.txt");
    for (std::size_t at = 0; at < text.size(); ++at) runner.output(text.substr(at, 1));
    EXPECT_EQ(log.StatusLine(), "par2: verifying " + dir.File("set.par2") + " 99%");
    runner.finished(1);
    EXPECT_EQ(log.StatusLine(), "par2: repairing " + dir.File("set.par2"));
    runner.output("Repairing: 42.5%\rRepairing: 100.0%\r");
    EXPECT_EQ(log.StatusLine(), "par2: repairing " + dir.File("set.par2") + " 100%");
}

TEST_F(Par2Fixture, StopEndsTheChildAndForgetsTheQueuedSets) {
    fs::create_directory(dir.File("second"));
    fs::copy_file(dir.File("set.par2"), dir.File("second/set.par2"));
    check.CheckFiled({dir.File("a.bin"), dir.File("second/a.bin"), dir.File("a.bin")});
    // A set named twice, or again while it runs, is checked once.
    check.CheckFiled({dir.File("b.bin")});
    ASSERT_EQ(runner.runs.size(), 1u);
    check.Stop();
    EXPECT_EQ(runner.stops, 1);
    EXPECT_FALSE(check.Busy());
    EXPECT_EQ(Kept(), std::vector<std::string>{"par2 " + dir.File("set.par2") + ": stopped"});
    check.Stop();  // nothing running: nothing to end
    EXPECT_EQ(runner.stops, 1);
    settings.chkPar2Repair = 0;
    check.CheckFiled({dir.File("second/a.bin")});
    EXPECT_EQ(runner.runs.size(), 1u);
    settings.chkPar2Repair = 1;
    check.CheckFiled({dir.File("second/a.bin")});
    EXPECT_EQ(runner.runs.back(), dir.File("second") + ": verify -- set.par2");
}

TEST_F(Par2Fixture, TheSetsOfTheFilesFiledAreThoseWhoseIndexNamesThemOrShareItsName) {
    dir.Write("junk.par2", std::string(2000, 'x'));
    dir.Write("set.vol0+1.par2", "");
    dir.Write("SET2.PAR2", "");  // no packets: not an index
    fs::create_directory(dir.File("other"));
    fs::copy_file(dir.File("set.par2"), dir.File("other/more.par2"));
    const std::string set = dir.File("set.par2");
    const struct {
        std::vector<std::string> filed;
        std::vector<std::string> indexes;
    } cases[] = {
        {{dir.File("a.bin")}, {set}},
        {{dir.File("b.bin"), dir.File("a.bin")}, {set}},
        {{dir.File("set.vol0+1.par2")}, {set}},
        {{dir.File("set.par2")}, {set}},
        {{dir.File("c.bin")}, {}},
        {{dir.File("junk.par2"), dir.File("SET2.PAR2")}, {}},
        {{dir.File("set.vol0+1x.par2")}, {}},
        {{dir.File("other/a.bin"), dir.File("b.bin")}, {dir.File("other/more.par2"), set}},
        {{dir.File("missing/a.bin")}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filed.front());
        EXPECT_EQ(Par2IndexesFor(c.filed), c.indexes);
    }
}

// A damaged index yields the names of its whole packets and never reads past its end.
TEST_F(Par2Fixture, AnIndexCutAtEveryByteYieldsOnlyTheNamesOfItsWholePackets) {
    const std::string index = Recorded("set.par2");
    EXPECT_EQ(Par2ProtectedNames(dir.File("set.par2")),
              (std::vector<std::string>{"a.bin", "b.bin"}));
    for (std::size_t cut = 0; cut < index.size(); ++cut) {
        dir.Write("cut.par2", index.substr(0, cut));
        const auto names = Par2ProtectedNames(dir.File("cut.par2"));
        ASSERT_LE(names.size(), 2u) << cut;
        for (const std::string& name : names) EXPECT_TRUE(name == "a.bin" || name == "b.bin");
    }
}

}  // namespace
}  // namespace quillfin::download
