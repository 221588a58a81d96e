// Start-up, shutdown, the scan stop command and the restart countdown over a scripted socket,
// a manual clock and recorded windows, prompts and sounds.
#include "app/program.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "app/program_directory.h"
#include "nntp/scan_fixture.h"

namespace quillfin::app {
namespace {

using testing::FakeSocket;
using testing::FakeTimer;

struct RecordingProgramWindows : ProgramWindows {
    void ShowLoginDialog() override { calls.push_back("show login"); }
    void HideLoginDialog() override { calls.push_back("hide login"); }
    void ShowOptionsNewsgroupsTab() override { calls.push_back("options newsgroups"); }
    void ShowAddNewsgroupDialog() override { calls.push_back("add newsgroup"); }
    void ShowFolderPicker() override { calls.push_back("folder picker"); }
    void HideOptionsWindow() override { calls.push_back("hide options"); }
    void HideMainWindow() override { calls.push_back("hide main"); }
    void EndProcess() override { calls.push_back("end"); }
    std::vector<std::string> calls;
};

struct RecordingSounds : nntp::SoundPlayer {
    void Play(const std::string& name) override { played.push_back(name); }
    std::vector<std::string> played;
};

// Writes what start-up does, in order, as one line per step.
struct RecordingScreens : StartupScreens {
    explicit RecordingScreens(Program* program) : program(program) {}
    void SetSplashMaximum(int maximum) override { Add("max " + std::to_string(maximum)); }
    void SetSplashProgress(int value) override { Add("progress " + std::to_string(value)); }
    void SetSplashStatus(const std::string& text) override { Add(text); }
    void ShowSplash() override { Add("show splash"); }
    void HideSplash() override { Add("hide splash"); }
    void CreateMainWindow() override { Add("create main"); }
    void CreateOptionsWindow() override { Add("create options"); }
    void CurrentPlacement(storage::WindowPlacement& placement, int* w, int* h) override {
        placement.Width = 800;
        placement.Height = 600;
        *w = 1600;
        *h = 1000;
    }
    void ShowMainWindow() override {
        Add("show main: port " + program->settings.News_Port + ", groups " +
            std::to_string(program->groups.Count()) + ", postings " +
            std::to_string(program->table.HeaderCount()));
    }
    void Add(const std::string& step) { steps.push_back(step); }
    Program* program;
    std::vector<std::string> steps;
};

class ProgramTest : public ::testing::Test {
  protected:
    ProgramTest() { clock.Set(common::TimePoint{} + std::chrono::hours(24 * 365 * 50)); }

    std::unique_ptr<Program> Make() {
        return std::make_unique<Program>(
            dir.Path(), Services{clock, pump, prompts, windows, sounds, tcp1, timerbot1, tcp2,
                                 timerbot2, timer1});
    }
    void Start() {
        program = Make();
        RecordingScreens screens(program.get());
        program->Main(screens);
        steps = screens.steps;
    }
    std::vector<std::string> Logged() { return testing::Untimed(program->log); }
    // A scan of one group that has read its first burst and waits for the next.
    void ScanFirstBurst() {
        program->settings.News_Host = "news.example.test";
        program->settings.chkAutoExpire = 0;
        program->groups.AddGroup("alt.test");
        program->connections.ConnectScan();
        tcp1.Deliver("200 ready\r\n");
        tcp1.Deliver("500 What?\r\n");  // to CAPABILITIES: no compression
        tcp1.Deliver(testing::GroupReply(1, 500, "alt.test"));
        tcp1.Deliver(testing::Burst(1, 5));
    }

    testing::TempDir dir;
    common::ManualClock clock;
    testing::HookPump pump;
    testing::ScriptedPrompts prompts;
    RecordingProgramWindows windows;
    RecordingSounds sounds;
    FakeSocket tcp1;
    FakeTimer timerbot1;
    FakeSocket tcp2;
    FakeTimer timerbot2;
    FakeTimer timer1;
    std::unique_ptr<Program> program;
    std::vector<std::string> steps;
};

TEST_F(ProgramTest, StartUpRunsItsStepsInOrderAndReadsWhatTheLastRunLeft) {
    dir.Write("QUILFN.INI", "[Options]\r\nNews_Port=4119\r\n");
    dir.Write("favs.txt", "alt.one,10\r\nalt.two,20\r\n");
    Start();
    EXPECT_EQ(steps,
              testing::Items("max 10|progress 1|show splash|Loading Main Window|create main|"
                             "progress 1|Loading Options Window|create options|progress 2|"
                             "Loading INI settings|progress 3|Loading Newsgroups|progress 4|"
                             "Loading Window Sizes|progress 7|Loading Column Sizes|progress 9|"
                             "show main: port 4119, groups 2, postings 0|hide splash"));
    // A first start centres the window on the screen.
    EXPECT_EQ(program->placement.Left, 400);
    EXPECT_EQ(program->placement.Top, 200);
    EXPECT_EQ(program->HelpFile(), dir.File("QUILFN.hlp"));
}

TEST_F(ProgramTest, ShutdownWritesInOrderAndNoKeepsTheProgramRunning) {
    Start();
    ScanFirstBurst();
    program->settings.Download_Path = dir.Path();
    dir.Write(Program::kMp3PreviewFile, "ID3");
    ASSERT_TRUE(program->table.HeadersChanged);
    windows.calls.clear();

    prompts.answers = {false};
    EXPECT_FALSE(program->Shutdown());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Are you sure?");
    EXPECT_EQ(prompts.shown[0].title, "Exit Quillfin");
    EXPECT_TRUE(dir.Exists("QUILFN.INI"));
    // The group list's lastRead never gets ahead of the header file.
    EXPECT_FALSE(dir.Exists("favs.txt"));
    EXPECT_FALSE(dir.Exists(Program::kMp3PreviewFile));
    EXPECT_FALSE(dir.Exists("npending.dat"));
    EXPECT_EQ(windows.calls, std::vector<std::string>{"hide options"});
    EXPECT_FALSE(program->Exiting());

    // Yes: the headers are saved with the main window hidden, and the process ends. A failed
    // save is offered again (a folder in the way fails it, even for root); favs.txt follows.
    const std::string in_the_way = dir.File("npending.dat.tmp");
    ASSERT_EQ(::mkdir(in_the_way.c_str(), 0755), 0);
    prompts.onAsk = [&](const std::string& text) {
        if (!text.starts_with("Headers could not be saved: ")) return;
        EXPECT_FALSE(dir.Exists("favs.txt"));
        ::rmdir(in_the_way.c_str());
    };
    program->placement.Width = 777;
    prompts.answers = {true, true};
    windows.calls.clear();
    EXPECT_TRUE(program->Shutdown());
    EXPECT_EQ(prompts.shown.size(), 3u);
    EXPECT_TRUE(dir.Exists("npending.dat"));
    EXPECT_TRUE(dir.Exists("favs.txt"));
    EXPECT_NE(dir.Read("QUILFN.INI").find("Width=777"), std::string::npos);
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"hide options", "hide main", "end"}));
    EXPECT_EQ(tcp1.sent.back(), "QUIT");

    // Unchanged headers: nothing is asked.
    Start();
    prompts.shown.clear();
    EXPECT_TRUE(program->Shutdown());
    EXPECT_TRUE(prompts.shown.empty());

    // Leaving without the headers leaves favs.txt as it was.
    Start();
    const std::string favs = dir.Read("favs.txt");
    program->groups.At(1).lastRead = "400";
    program->table.HeadersChanged = true;
    ASSERT_EQ(::mkdir(in_the_way.c_str(), 0755), 0);
    prompts.onAsk = nullptr;
    prompts.answers = {true, false};
    EXPECT_TRUE(program->Shutdown());
    EXPECT_EQ(dir.Read("favs.txt"), favs);
    EXPECT_EQ(prompts.shown.back().title, "Exit Quillfin");
}

TEST_F(ProgramTest, AnExitAskedForDuringSaveHeadersRunsOnceThatSaveHasEnded) {
    Start();
    ScanFirstBurst();
    pump.hook = [&] {
        pump.hook = nullptr;
        EXPECT_FALSE(program->Shutdown());
        EXPECT_TRUE(windows.calls.empty());
    };
    windows.calls.clear();
    program->SaveHeadersCommand();
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"hide options", "end"}));
    EXPECT_TRUE(dir.Exists("npending.dat") && dir.Exists("favs.txt"));
}

TEST_F(ProgramTest, NothingStartsWhileTheExitSavesAndLetsEventsRun) {
    Start();
    ScanFirstBurst();
    ASSERT_EQ(program->table.HeaderCount(), 5);
    program->session.RestartPending = true;
    timer1.interval = 1000;
    // Events that arrive while the header file is written: a countdown about to fire, a
    // scan command, a late chunk of the old connection.
    int events = 0;
    pump.hook = [&] {
        ++events;
        program->session.RestartPending = true;
        program->session.RestartCountdown = 1;
        program->Timer1Tick();
        program->ScanCommand();
        tcp1.Deliver("211 5 1 5 alt.test\r\n");
    };
    const int connects = tcp1.connects;
    prompts.answers = {true};
    EXPECT_TRUE(program->Shutdown());
    EXPECT_GT(events, 0);
    EXPECT_EQ(tcp1.connects, connects);
    EXPECT_EQ(timer1.interval, 0);
    EXPECT_TRUE(program->session.QuitSent);
    EXPECT_EQ(std::count(windows.calls.begin(), windows.calls.end(), "show login"), 0);
    EXPECT_EQ(std::count(tcp1.sent.begin(), tcp1.sent.end(), "QUIT"), 1);
}

TEST_F(ProgramTest, StopBeforeTheGreetingEndsTheConnectionBeingMade) {
    Start();
    program->settings.News_Host = "news.example.test";
    program->groups.AddGroup("alt.test");
    program->connections.ConnectScan();
    tcp1.state = nntp::Socket::kConnecting;
    program->ScanStopCommand();
    EXPECT_EQ(tcp1.GetState(), nntp::Socket::kClosed);
    EXPECT_GE(tcp1.closes, 1);
    EXPECT_TRUE(program->view.cmdScanEnabled);
    EXPECT_FALSE(program->scan.Driving());
}

TEST_F(ProgramTest, StopWritesItsSummaryOnlyAfterMoreThanOneHeader) {
    struct Case {
        std::int32_t headers;
        int seconds;
        const char* line;
    };
    const Case cases[] = {
        {120, 60,
         "Scan Aborted by user. 120 headers read in 60 seconds, averaging 120.0 headers per "
         "minute."},
        {2, 0,
         "Scan Aborted by user. 2 headers read in 0 seconds, averaging 0.0 headers per "
         "minute."},
        {1, 30, nullptr},
    };
    for (const Case& c : cases) {
        Start();
        program->settings.chkEnableLogging = 1;
        program->session.Scanning = true;
        program->session.ScanHeaderCount = c.headers;
        program->session.ScanStart = clock.Now();
        clock.Advance(std::chrono::seconds(c.seconds));
        program->session.RestartPending = true;
        timer1.interval = 1000;
        program->ScanStopCommand();
        const auto logged = Logged();
        if (c.line == nullptr)
            EXPECT_EQ(std::count_if(logged.begin(), logged.end(),
                                    [](const auto& l) { return l.starts_with("Scan Aborted"); }),
                      0);
        else
            EXPECT_NE(std::find(logged.begin(), logged.end(), c.line), logged.end()) << c.line;
        EXPECT_FALSE(program->session.Scanning);
        EXPECT_FALSE(program->session.RestartPending);
        EXPECT_EQ(program->session.RestartCountdown, 90);
        EXPECT_EQ(timer1.interval, 0);
        if (c.line == nullptr) {
            EXPECT_EQ(program->log.StatusLine(), "");
        }
    }
}

TEST_F(ProgramTest, CountdownTicksDownWithSoundsAndRestartsTheScan) {
    Start();
    program->settings.chkEnableLogging = 1;
    program->settings.News_Host = "news.example.test";
    program->groups.AddGroup("alt.test");
    program->session.RestartPending = true;
    program->session.RestartCountdown = 90;
    timer1.interval = 1000;
    timer1.onTick();
    EXPECT_EQ(program->log.StatusLine(), "Rescan in 89 seconds (hit stop to abort)");
    EXPECT_TRUE(sounds.played.empty());
    while (program->session.RestartCountdown > 1) timer1.onTick();
    EXPECT_EQ(sounds.played.size(), 10u);
    EXPECT_EQ(sounds.played.front(), "10.wav");
    EXPECT_EQ(sounds.played.back(), "1.wav");
    EXPECT_EQ(tcp1.connects, 0);
    timer1.onTick();
    EXPECT_EQ(sounds.played.size(), 10u);
    EXPECT_EQ(timer1.interval, 0);
    EXPECT_EQ(tcp1.connects, 1);
    EXPECT_FALSE(program->session.RestartPending);

    // A scan started by hand meanwhile cancels the running countdown at its next tick.
    timer1.interval = 1000;
    program->session.RestartCountdown = 30;
    timer1.onTick();
    EXPECT_EQ(timer1.interval, 0);
    EXPECT_EQ(Logged().back(), "Re-scan countdown cancelled by user.");

    // A download restart says so and does not connect the scan.
    program->session.RestartPending = true;
    program->session.RestartIsDownload = true;
    program->session.RestartCountdown = 2;
    timer1.onTick();
    EXPECT_EQ(program->log.StatusLine(), "Download Restart in 1 seconds (hit stop to abort)");
    timer1.onTick();
    // The batch is empty, so the restarted download ends at once.
    EXPECT_EQ(program->log.StatusLine(), "Done!");
    EXPECT_EQ(tcp1.connects, 1);
    EXPECT_FALSE(program->session.RestartIsDownload);
    EXPECT_FALSE(program->session.RestartPending);
}

TEST_F(ProgramTest, ScanAndBatchCommandsRouteAsTheWindowNeeds) {
    Start();
    program->ScanCommand();
    program->SetDownloadFolder(dir.Path());
    program->ScanCommand();
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"folder picker", "show login"}));
    program->BatchStartCommand();
    program->BatchStopCommand();
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[0].text, "Warning, nothing in batch que!");
    EXPECT_EQ(prompts.shown[1].text,
              "Use this button to stop the download process, there is not currently anything "
              "downloading.");
}

TEST(ProgramDirectoryTest, OverrideExecutableFolderAndUserDataFolder) {
    testing::TempDir dir;
    const char* saved_home = std::getenv("HOME");
    const std::string home = saved_home != nullptr ? saved_home : "";
    ::unsetenv("XDG_DATA_HOME");

    ::setenv("QUILLFIN_HOME", dir.File("demo/nested").c_str(), 1);
    EXPECT_EQ(ChooseProgramDirectory("/nowhere").path, dir.File("demo/nested"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("demo/nested")));
    ::unsetenv("QUILLFIN_HOME");

    EXPECT_EQ(ChooseProgramDirectory(dir.Path()).path, dir.Path());
    // A folder that cannot hold files (here: a file stands where it should be) falls back to
    // the user's data folder.
    dir.Write("not-a-folder", "");
    ::setenv("HOME", dir.File("home").c_str(), 1);
    const auto fallback = ChooseProgramDirectory(dir.File("not-a-folder"));
    EXPECT_EQ(fallback.path, dir.File("home/.local/share/quillfin"));
    EXPECT_TRUE(fallback.error.empty());
    // An installed program (bin/ beside share/quillfin/) keeps its files in the user's data
    // folder even where it may write to bin/, and finds its shared data there.
    std::filesystem::create_directories(dir.File("usr/bin"));
    EXPECT_EQ(ChooseProgramDirectory(dir.File("usr/bin")).path, dir.File("usr/bin"));
    EXPECT_EQ(InstalledDataDirectory(dir.File("usr/bin")), "");
    std::filesystem::create_directories(dir.File("usr/share/quillfin"));
    EXPECT_EQ(ChooseProgramDirectory(dir.File("usr/bin")).path, fallback.path);
    EXPECT_EQ(InstalledDataDirectory(dir.File("usr/bin")), dir.File("usr/share/quillfin"));
    EXPECT_EQ(InstalledDataDirectory(dir.File("usr/share")), "");
    ::setenv("QUILLFIN_HOME", dir.File("not-a-folder/x").c_str(), 1);
    EXPECT_FALSE(ChooseProgramDirectory(dir.Path()).error.empty());
    ::unsetenv("QUILLFIN_HOME");
    ::setenv("HOME", home.c_str(), 1);
}

TEST(InstanceLockTest, ASecondInstanceIsRefusedUntilTheFirstEnds) {
    testing::TempDir dir;
    auto first = std::make_unique<InstanceLock>(dir.Path());
    ASSERT_TRUE(first->Held()) << first->Error();
    InstanceLock second(dir.Path());
    EXPECT_FALSE(second.Held());
    EXPECT_NE(second.Error().find("already running"), std::string::npos);
    first.reset();
    InstanceLock third(dir.Path());
    EXPECT_TRUE(third.Held());
    // No folder to lock in: a clear reason, not a crash.
    InstanceLock nowhere(dir.File("missing/folder"));
    EXPECT_FALSE(nowhere.Held());
    EXPECT_FALSE(nowhere.Error().empty());
}

TEST_F(ProgramTest, ARestartNeverFightsTheUsersBatch) {
    Start();
    program->settings.chkEnableLogging = 1;
    // The scan's countdown runs out while the user's batch downloads: no scan is started.
    program->session.DownloadBusy = 1;
    program->session.RestartPending = true;
    program->session.RestartCountdown = 1;
    timer1.interval = 1000;
    timer1.onTick();
    EXPECT_EQ(tcp1.connects, 0);
    EXPECT_EQ(timer1.interval, 0);
    EXPECT_FALSE(program->session.RestartPending);
    EXPECT_EQ(Logged().back(), "Rescan skipped: a batch download is running.");

    // Stopping a batch that a countdown would restart ends that countdown too.
    program->session.RestartPending = true;
    program->session.RestartIsDownload = true;
    timer1.interval = 1000;
    program->BatchStopCommand();
    EXPECT_EQ(program->session.DownloadBusy, 0);
    EXPECT_FALSE(program->session.RestartIsDownload);
    EXPECT_FALSE(program->session.RestartPending);
    EXPECT_EQ(timer1.interval, 0);
}

}  // namespace
}  // namespace quillfin::app
