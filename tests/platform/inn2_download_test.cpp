// The batch download end to end against a local INN2 reader (scripts/inn2-start): files encoded
// by uuenview are posted to a new group, scanned and fetched by the whole program through the
// Qt sockets, and decoded into the download folder, where they must equal the originals.
#include <QtCore/qtestsupport_core.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "app/program.h"
#include "platform/nzb_reader.h"
#include "platform/nzb_writer.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_par2_runner.h"
#include "platform/qt_socket.h"
#include "platform/qt_timer.h"
#include "platform/raw_nntp_client.h"
#include "platform/tls_client.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfin::platform {
namespace {

namespace fs = std::filesystem;

struct GroupNumbers {
    long count = -1, first = 0, last = 0;  // count -1: no such group
};

// Asks on a new connection each time: an nnrpd process keeps the group map it loaded.
GroupNumbers GroupSeenAfresh(int port, const std::string& group) {
    RawNntpClient reader;
    GroupNumbers n;
    if (!reader.Connect(port).starts_with("200")) return n;
    const std::string reply = reader.Command("GROUP " + group);
    if (std::sscanf(reply.c_str(), "211 %ld %ld %ld", &n.count, &n.first, &n.last) != 3) return {};
    return n;
}

// Polls a fresh reader until the check holds; false when it still fails after ten seconds.
template <typename Check>
bool ServerShows(Check check) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!check()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// A control command as the news user; INN's tools refuse to run as anyone else.
int AsNews(const std::string& command) {
    const std::string quoted = "/usr/lib/news/bin/" + command;
    const std::string su = "su news -s /bin/sh -c \"" + quoted + "\" >/dev/null 2>&1";
    const std::string line = ::geteuid() == 0 ? su : "sudo -n " + su;
    return std::system(line.c_str());
}

struct NoProgramWindows : app::ProgramWindows {
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

// The program as the executable wires it, without windows: Qt sockets, timers and pump.
struct ProgramRig {
    ProgramRig(int port, const std::string& group) {
        program = std::make_unique<app::Program>(
            dir.Path(), app::Services{clock, pump, prompts, windows, sounds, tcp1, timerbot1, tcp2,
                                      timerbot2, timer1});
        program->par2.SetRunner(&par2);
        auto& s = program->settings;
        s.News_Host = "127.0.0.1";
        s.News_Port = std::to_string(port);
        s.chkEnableLogging = 1;
        s.chkLogFile = 1;  // the whole log, beyond the 99 lines the window keeps
        s.chkAutoExpire = 0;
        s.chkAutodownload = 0;
        s.Download_Path = dir.File("downloads");
        fs::create_directories(s.Download_Path);
        program->groups.AddGroup(group);
        program->views.FillGroupFilter();
        const download::ConnectionPool::Platform platform{
            [this]() -> std::unique_ptr<nntp::Socket> {
                auto socket = std::make_unique<platform::QtSocket>();
                socket->SetTls(&tls);
                return socket;
            },
            []() -> std::unique_ptr<nntp::Timer> { return std::make_unique<platform::QtTimer>(); }};
        program->download.SetPoolPlatform(platform);
        program->SetNzbPlatform(platform);  // as the executable wires it
    }
    ~ProgramRig() {
        program.reset();
        tcp1.Close();
        tcp2.Close();
    }

    // From now on through the TLS reader, with the test authority trusted as the program would
    // trust the system's.
    void UseTls(int tls_port) {
        tls.enabled = [this] { return program->settings.chkSecure != 0; };
        tls.check = &program->certificates;
        tls.log = [this](const std::string& line) { program->log.LogEvent(line, true); };
        tls.extraAuthorities = Inn2Tls::Authority();
        tcp1.SetTls(&tls);
        tcp2.SetTls(&tls);
        program->settings.chkSecure = 1;
        program->settings.News_Port = std::to_string(tls_port);
    }

    std::string Log() const { return dir.Read("OPSLOG.TXT"); }
    bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }
    std::string Dump() const {
        return "scan socket " + std::to_string(tcp1.GetState()) + ", download socket " +
               std::to_string(tcp2.GetState()) + ", busy " +
               std::to_string(program->session.DownloadBusy) + ", state " +
               std::to_string(program->session.DownloadState) + ", batch rows " +
               std::to_string(program->batch.Rows().Count()) + "\n" + Log();
    }

    bool Scan() {
        const std::size_t before = Count("Scan Complete.");
        program->connections.ConnectScan();
        return QTest::qWaitFor(
            [&] {
                return Count("Scan Complete.") > before && !program->scan.Driving() &&
                       !program->session.Scanning && tcp1.GetState() == nntp::Socket::kClosed;
            },
            30000);
    }
    std::size_t Count(const std::string& text) const {
        const std::string log = Log();
        std::size_t n = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    }
    // Queues every scanned posting in table order.
    int QueueAll() {
        for (std::int32_t i = 1; i <= program->table.HeaderCount(); ++i)
            program->batch.AddToBatch(i);
        return program->batch.Rows().Count();
    }
    bool BatchFinished(int timeout_ms = 60000) {
        return QTest::qWaitFor(
            [&] {
                const auto& session = program->session;
                return program->batch.Rows().Count() == 0 && session.DownloadBusy == 0 &&
                       session.DownloadState == 0 && !program->scan.Driving();
            },
            timeout_ms);
    }
    const headers::HeaderEntry* EntryWith(const std::string& text) const {
        for (const auto& entry : program->table.Entries())
            if (entry.Subject.find(text) != std::string::npos) return &entry;
        return nullptr;
    }

    testing::TempDir dir;
    common::SystemClock clock;
    QtEventPump pump;
    testing::ScriptedPrompts prompts;
    NoProgramWindows windows;
    NoSounds sounds;
    TlsSetup tls;
    QtSocket tcp1, tcp2;
    QtTimer timerbot1, timerbot2, timer1;
    QtPar2Runner par2;
    std::unique_ptr<app::Program> program;
};

struct Upload {
    std::string name;
    const char* kind;  // uuenview's -u or -y
    std::size_t size;
    std::size_t parts;  // as uuenview cuts it at 1000 lines a part
    std::string bytes;
    std::vector<std::string> messageIds;
};

class Inn2DownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* env_port = std::getenv("QUILLFIN_INN2_PORT");
        port = env_port != nullptr && std::atoi(env_port) > 0 ? std::atoi(env_port) : 1120;
        stamp = std::to_string(::getpid()) + "x" +
                std::to_string(std::chrono::system_clock::now().time_since_epoch() /
                               std::chrono::milliseconds(1));
        group = "alt.binaries.quillfin.dl" + stamp;
        std::string reason;
        if (!poster.Connect(port).starts_with("200")) {
            reason = "no INN2 reader answers on 127.0.0.1:" + std::to_string(port) +
                     " (scripts/inn2-start starts one; it needs root)";
        } else if (std::system("command -v uuenview >/dev/null 2>&1") != 0) {
            reason = "uuenview is not installed (Debian package uudeview)";
        } else if (AsNews("ctlinnd -t 5 newgroup " + group + " y") != 0) {
            reason = "cannot create a group with ctlinnd as the news user (needs root or sudo)";
        } else {
            created = true;
            if (!ServerShows([&] { return GroupSeenAfresh(port, group).count >= 0; }))
                reason = "the new group " + group + " never showed on the reader";
        }
        if (reason.empty()) return;
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << reason;
        GTEST_SKIP() << reason;
    }
    void TearDown() override {
        if (created) AsNews("ctlinnd -t 5 rmgroup " + group);
    }

    // Random bytes (unless the upload has its own), encoded by uuenview in parts of 1000
    // lines, posted in the given order of part numbers (1-based; empty: in order). Returns
    // once a new reader sees every part.
    void Post(Upload& u, std::vector<std::size_t> order = {}) {
        std::mt19937 random(unsigned(std::hash<std::string>{}(stamp + u.name)));
        if (u.bytes.empty()) {
            u.bytes.resize(u.size);
            for (char& c : u.bytes) c = char(random());
        }
        const std::string sub = "enc-" + u.name;
        files.Write(u.name, u.bytes);
        fs::create_directories(files.File(sub));
        const std::string command = "cd '" + files.Path() + "' && uuenview " + u.kind +
                                    " -1000 -od '" + sub + "' '" + u.name + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(files.File(sub)))
            names.insert(entry.path().filename());
        if (u.parts == 0) u.parts = names.size();
        ASSERT_EQ(names.size(), u.parts) << u.name;
        std::vector<std::string> parts;
        for (const auto& name : names) parts.push_back(files.Read(sub + "/" + name));
        if (order.empty())
            for (std::size_t i = 1; i <= parts.size(); ++i) order.push_back(i);
        const long before = GroupSeenAfresh(port, group).last;
        u.messageIds.assign(parts.size() + 1, "");
        for (std::size_t number : order) {
            const std::string n = std::to_string(number) + "/" + std::to_string(parts.size());
            const std::string subject = std::string(u.kind) == "-y"
                                            ? "[1/1] - \"" + u.name + "\" yEnc (" + n + ")"
                                            : u.name + " (" + n + ")";
            const std::string id =
                "<qf." + stamp + "." + std::to_string(number) + "." + u.name + "@example.test>";
            const std::string reply =
                poster.Post("From: Quillfin Test <test@example.test>\r\nNewsgroups: " + group +
                            "\r\nSubject: " + subject + "\r\nMessage-ID: " + id + "\r\n\r\n" +
                            parts[number - 1]);
            ASSERT_TRUE(reply.starts_with("240")) << subject << ": " << reply;
            u.messageIds[number] = id;
        }
        const long last = before + long(order.size());
        ASSERT_TRUE(ServerShows([&] { return GroupSeenAfresh(port, group).last >= last; }))
            << u.name;
    }

    // Where a posting's file lands: the group's own folder when chkMakeSubDirs is 1.
    std::string Folder(const ProgramRig& rig) const {
        const auto& s = rig.program->settings;
        return s.chkMakeSubDirs == 1 ? s.Download_Path + "/" + group : s.Download_Path;
    }
    static std::string ReadFile(const std::string& path) {
        std::string out;
        if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
            char buffer[1 << 15];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
                out.append(buffer, n);
            std::fclose(f);
        }
        return out;
    }
    static std::vector<std::string> FilesIn(const std::string& folder) {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    int port = 0;
    std::string stamp, group;
    bool created = false;
    RawNntpClient poster;
    testing::TempDir files;
};

TEST_F(Inn2DownloadTest, EveryQueuedPostingLandsByteForByteWithAndWithoutGroupFolders) {
    std::vector<Upload> uploads = {
        {.name = "qf" + stamp + "-a.bin", .kind = "-u", .size = 300000, .parts = 7},
        {.name = "qf" + stamp + "-b.rar", .kind = "-y", .size = 400000, .parts = 4},
        {.name = "qf" + stamp + "-c.nfo", .kind = "-u", .size = 3000, .parts = 1},
        {.name = "qf" + stamp + "-d.par2", .kind = "-y", .size = 5000, .parts = 1},
    };
    // Out of order, as parts often reach a server.
    Post(uploads[0], {2, 1, 3, 7, 5, 4, 6});
    Post(uploads[1], {4, 3, 2, 1});
    Post(uploads[2]);
    Post(uploads[3]);
    if (HasFatalFailure()) return;

    // Group folders through the batch command; the shared folder through the download a scan
    // starts at its end when chkAutodownload is set; then four connections with four requests
    // in flight each.
    for (const int round : {0, 1, 2}) {
        const bool subdirs = round != 1;
        const int connections = round == 2 ? 4 : 1;
        SCOPED_TRACE(round == 0   ? "chkMakeSubDirs 1, batch command"
                     : round == 1 ? "chkMakeSubDirs 0, autodownload"
                                  : "four connections, four requests in flight");
        ProgramRig rig(port, group);
        rig.program->settings.chkMakeSubDirs = subdirs ? 1 : 0;
        rig.program->settings.Connections = connections;
        rig.program->settings.RequestsInFlight = connections;
        ASSERT_TRUE(rig.Scan()) << rig.Dump();
        for (const Upload& u : uploads) {
            const headers::HeaderEntry* entry = rig.EntryWith(u.name);
            ASSERT_NE(entry, nullptr) << u.name << rig.Dump();
            ASSERT_EQ(entry->PartCount(), std::int32_t(u.parts)) << u.name;
        }
        ASSERT_EQ(rig.QueueAll(), int(uploads.size()));
        if (subdirs) {
            rig.program->BatchStartCommand();
        } else {
            rig.program->settings.chkAutodownload = 1;
            ASSERT_TRUE(rig.Scan()) << rig.Dump();
        }
        ASSERT_TRUE(rig.BatchFinished()) << rig.Dump();
        EXPECT_TRUE(rig.prompts.shown.empty());

        const std::string folder = Folder(rig);
        std::vector<std::string> expected;
        for (const Upload& u : uploads) {
            EXPECT_TRUE(ReadFile(folder + "/" + u.name) == u.bytes) << u.name << rig.Dump();
            EXPECT_TRUE(rig.Logged(folder + "/" + u.name + " decode successful... "));
            expected.push_back(u.name);
        }
        std::sort(expected.begin(), expected.end());
        // The parts' temporary files are gone; nothing else was written beside the files.
        EXPECT_EQ(FilesIn(folder), expected);
        if (subdirs) {
            EXPECT_EQ(FilesIn(rig.program->settings.Download_Path),
                      std::vector<std::string>{group});
        }
        // Every part fetched once, on one download connection or on four.
        EXPECT_EQ(rig.Count("Article Retrieved: "), std::size_t(7 + 4 + 1 + 1));
        EXPECT_EQ(rig.Count("200 server"), std::size_t(round == 1 ? 3 : 1 + connections))
            << "greetings";
        if (round == 2) {
            EXPECT_EQ(rig.program->download.Pool()->OpenSessions(), 0);
            continue;
        }
        // QUIT is answered with 205, and the download connection is closed on it.
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return rig.tcp2.GetState() == nntp::Socket::kClosed; }, 10000))
            << rig.Dump();
        EXPECT_TRUE(rig.Logged("205 ")) << rig.Dump();
    }
}

// The table a scan built, entry by entry and part by part.
std::string TableText(const ProgramRig& rig) {
    std::string text;
    for (const headers::HeaderEntry& e : rig.program->table.Entries()) {
        text += e.Subject + "|" + e.From + "|" + e.Date + "|" + e.Group.str() + "|" +
                std::to_string(e.PartTotal) + "|" + std::to_string(e.Size);
        for (const headers::PartRef& part : e.Parts)
            text += " " + part.ArticleNumber + ":" + std::to_string(part.Bytes);
        text += "\n";
    }
    return text;
}

TEST_F(Inn2DownloadTest, CompressedOrOverTlsTheScanAndTheBatchGiveWhatThePlainPortGives) {
    const std::string missing = Inn2TlsMissing();
    if (!missing.empty()) QUILLFIN_SKIP_OR_FAIL(missing);
    std::vector<Upload> uploads = {
        {.name = "qf" + stamp + "-tls.bin", .kind = "-u", .size = 300000, .parts = 7},
        {.name = "qf" + stamp + "-tls.rar", .kind = "-y", .size = 400000, .parts = 4},
    };
    Post(uploads[0], {3, 1, 2, 7, 6, 5, 4});
    Post(uploads[1]);
    if (HasFatalFailure()) return;

    // Plain without compression, plain with it (INN2 offers COMPRESS DEFLATE) and short bursts
    // eight in flight, then TLS: the same table every time.
    std::string plain_table;
    for (const int round : {0, 1, 2}) {
        const bool secure = round == 2;
        SCOPED_TRACE(round == 0 ? "plain, uncompressed" : secure ? "TLS" : "plain, compressed");
        ProgramRig rig(port, group);
        rig.program->settings.chkCompress = round == 0 ? 0 : 1;
        if (round == 1) {
            rig.program->settings.sldXOVER = 7;
            rig.program->settings.XoverInFlight = 8;
        }
        if (secure) rig.UseTls(Inn2Tls::Port());
        ASSERT_TRUE(rig.Scan()) << rig.Dump();
        if (round > 0)
            EXPECT_EQ(TableText(rig), plain_table);
        else
            plain_table = TableText(rig);
        if (round == 1) EXPECT_GT(rig.Count("Xover burst recieved"), 2u) << rig.Dump();
        if (round < 2)
            EXPECT_EQ(rig.Count("Compression on (COMPRESS DEFLATE)"), std::size_t(round));
        ASSERT_EQ(rig.QueueAll(), 2);
        rig.program->BatchStartCommand();
        ASSERT_TRUE(rig.BatchFinished()) << rig.Dump();
        for (const Upload& u : uploads)
            EXPECT_TRUE(ReadFile(Folder(rig) + "/" + u.name) == u.bytes) << u.name << rig.Dump();
        EXPECT_EQ(rig.Count("Article Retrieved: "), std::size_t(7 + 4));
        // One line each for the scan and the download connection, none on the plain port.
        EXPECT_EQ(rig.Count("Secure connection to 127.0.0.1:"), secure ? 2u : 0u) << rig.Dump();
        EXPECT_EQ(rig.Count("Certificate"), 0u) << rig.Dump();
        EXPECT_TRUE(rig.prompts.shown.empty());
    }
    EXPECT_EQ(std::count(plain_table.begin(), plain_table.end(), '\n'), 2);
}

TEST_F(Inn2DownloadTest, APostingWithACancelledArticleIsDroppedAndTheRestStillLand) {
    std::vector<Upload> uploads = {
        {.name = "qf" + stamp + "-first.bin", .kind = "-u", .size = 100000, .parts = 3},
        {.name = "qf" + stamp + "-holed.bin", .kind = "-y", .size = 400000, .parts = 4},
        {.name = "qf" + stamp + "-last.bin", .kind = "-u", .size = 60000, .parts = 2},
    };
    for (Upload& u : uploads) Post(u);
    if (HasFatalFailure()) return;

    ProgramRig rig(port, group);
    ASSERT_TRUE(rig.Scan()) << rig.Dump();
    ASSERT_EQ(rig.QueueAll(), 3);
    const headers::HeaderEntry* holed = rig.EntryWith(uploads[1].name);
    ASSERT_NE(holed, nullptr);
    ASSERT_EQ(holed->PartCount(), 4);

    // Gone from the server between the scan and the download, as an expired article is.
    const std::string article = holed->Part(3).ArticleNumber;
    ASSERT_EQ(AsNews("ctlinnd -t 5 cancel '" + uploads[1].messageIds[3] + "'"), 0);
    ASSERT_TRUE(ServerShows([&] {
        RawNntpClient reader;
        return reader.Connect(port).starts_with("200") &&
               reader.Command("GROUP " + group).starts_with("211") &&
               reader.Command("ARTICLE " + article).starts_with("423");
    }));

    rig.program->BatchStartCommand();
    ASSERT_TRUE(rig.BatchFinished()) << rig.Dump();
    const std::string folder = Folder(rig);
    for (const Upload* u : {&uploads[0], &uploads[2]})
        EXPECT_TRUE(ReadFile(folder + "/" + u->name) == u->bytes) << u->name << rig.Dump();
    EXPECT_TRUE(rig.Logged("Bad article number!  Skipping " + holed->Subject + ".")) << rig.Dump();
    EXPECT_FALSE(fs::exists(folder + "/" + uploads[1].name));
    EXPECT_FALSE(holed->InBatch);
    // What was fetched before the hole is not left lying about: queued again, the posting is
    // fetched anew.
    EXPECT_FALSE(holed->Part(1).Retrieved || holed->Part(2).Retrieved);
    EXPECT_FALSE(fs::exists(folder + "/" + holed->Part(1).ArticleNumber + ".part"));
    for (const auto& file : fs::directory_iterator(folder))
        EXPECT_TRUE(file.path().extension() == ".bin") << file.path();
    EXPECT_EQ(rig.Count("Article Retrieved: "), std::size_t(3 + 2 + 2));
    EXPECT_EQ(rig.Count(" decode successful... "), 2u);
    EXPECT_EQ(rig.Count("200 server"), 2u) << "the batch goes on on the same connection";
}

// A set posted with its par2 files, one data file losing an article before the download: the
// batch drops that posting, and par2 rebuilds it from the recovery volume.
TEST_F(Inn2DownloadTest, Par2RebuildsAFileWhoseArticleWasCancelled) {
    if (std::system("command -v par2 >/dev/null 2>&1") != 0)
        QUILLFIN_SKIP_OR_FAIL("par2 is not installed (Debian package par2)");
    const std::string set = "qf" + stamp + "-set";
    std::vector<Upload> uploads = {
        {.name = set + ".part1.rar", .kind = "-y", .size = 300000, .parts = 3},
        {.name = set + ".part2.rar", .kind = "-u", .size = 100000, .parts = 3},
        {.name = set + ".par2", .kind = "-y"},
        {.name = set + ".vol00+32.par2", .kind = "-y"},
    };
    for (std::size_t i = 0; i < 2; ++i) Post(uploads[i]);
    if (HasFatalFailure()) return;
    // 10000-byte blocks: 32 recovery blocks rebuild the 30 of the first file.
    const std::string command =
        "cd '" + files.Path() + "' && par2 create -q -q -s10000 -c32 -n1 '" + uploads[2].name +
        "' '" + uploads[0].name + "' '" + uploads[1].name + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (std::size_t i = 2; i < 4; ++i) {
        uploads[i].bytes = files.Read(uploads[i].name);
        ASSERT_FALSE(uploads[i].bytes.empty()) << uploads[i].name;
        Post(uploads[i]);
    }
    if (HasFatalFailure()) return;

    ProgramRig rig(port, group);
    ASSERT_TRUE(rig.Scan()) << rig.Dump();
    ASSERT_EQ(rig.QueueAll(), 4);
    const std::string article = rig.EntryWith(uploads[0].name)->Part(2).ArticleNumber;
    ASSERT_EQ(AsNews("ctlinnd -t 5 cancel '" + uploads[0].messageIds[2] + "'"), 0);
    ASSERT_TRUE(ServerShows([&] {
        RawNntpClient reader;
        return reader.Connect(port).starts_with("200") &&
               reader.Command("GROUP " + group).starts_with("211") &&
               reader.Command("ARTICLE " + article).starts_with("423");
    }));
    rig.program->BatchStartCommand();
    ASSERT_TRUE(rig.BatchFinished()) << rig.Dump();
    const std::string index = "par2 " + Folder(rig) + "/" + uploads[2].name + ": ";
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.Logged(index); }, 60000)) << rig.Dump();
    EXPECT_EQ(rig.Count(index), 1u);
    EXPECT_TRUE(rig.Logged(index + "repaired")) << rig.Dump();
    for (const Upload& u : uploads)
        EXPECT_TRUE(ReadFile(Folder(rig) + "/" + u.name) == u.bytes) << u.name << rig.Dump();
}

TEST_F(Inn2DownloadTest, AStoppedBatchStartedAgainFetchesOnlyWhatIsMissing) {
    std::vector<Upload> uploads = {
        {.name = "qf" + stamp + "-stop.bin", .kind = "-u", .size = 300000, .parts = 7},
        {.name = "qf" + stamp + "-then.bin", .kind = "-y", .size = 300000, .parts = 3},
    };
    for (Upload& u : uploads) Post(u);
    if (HasFatalFailure()) return;

    ProgramRig rig(port, group);
    ASSERT_TRUE(rig.Scan()) << rig.Dump();
    ASSERT_EQ(rig.QueueAll(), 2);
    const headers::HeaderEntry* first = rig.EntryWith(uploads[0].name);
    ASSERT_NE(first, nullptr);
    rig.program->BatchStartCommand();
    ASSERT_TRUE(QTest::qWaitFor([&] { return first->Part(1).Retrieved; }, 30000)) << rig.Dump();
    rig.program->BatchStopCommand();
    EXPECT_EQ(rig.program->session.DownloadBusy, 0);
    EXPECT_TRUE(rig.Logged("User Abort!"));
    std::vector<std::string> fetched;
    for (const auto& part : first->Parts)
        if (part.Retrieved) fetched.push_back(part.Subject);
    ASSERT_LT(fetched.size(), uploads[0].parts) << "stopped before the posting was complete";
    // Stopped is stopped: the connection is closed at once, and a second stop only says so.
    EXPECT_EQ(rig.tcp2.GetState(), nntp::Socket::kClosed);
    EXPECT_EQ(rig.Count("Article Retrieved: "), fetched.size());
    rig.program->BatchStopCommand();
    ASSERT_EQ(rig.prompts.shown.size(), 1u);
    EXPECT_TRUE(rig.prompts.shown[0].text.starts_with("Use this button to stop"));

    rig.program->BatchStartCommand();
    ASSERT_TRUE(rig.BatchFinished()) << rig.Dump();
    const std::string folder = Folder(rig);
    for (const Upload& u : uploads)
        EXPECT_TRUE(ReadFile(folder + "/" + u.name) == u.bytes) << u.name << rig.Dump();
    for (const std::string& subject : fetched)
        EXPECT_EQ(rig.Count("Article Retrieved: " + subject + " "), 1u) << subject;
    EXPECT_EQ(rig.Count("Article Retrieved: "), std::size_t(7 + 3));
}

// Postings exported from a scanned group carry the posted message-IDs; imported into a fresh
// program folder, they are fetched by those IDs, on one connection and on four.
TEST_F(Inn2DownloadTest, AnExportedNzbImportedElsewhereDownloadsTheSameFiles) {
    std::vector<Upload> uploads = {
        {.name = "qf" + stamp + "-nzb.bin", .kind = "-u", .size = 300000, .parts = 7},
        {.name = "qf" + stamp + "-nzb.rar", .kind = "-y", .size = 400000, .parts = 4},
        {.name = "qf" + stamp + "-left.nfo", .kind = "-u", .size = 3000, .parts = 1},
    };
    Post(uploads[0], {2, 1, 3, 7, 5, 4, 6});
    Post(uploads[1], {4, 3, 2, 1});
    Post(uploads[2]);
    if (HasFatalFailure()) return;

    std::string xml;
    {
        ProgramRig rig(port, group);
        ASSERT_TRUE(rig.Scan()) << rig.Dump();
        auto& rows = rig.program->views.Rows();
        for (int i = 0; i < rows.Count(); ++i)
            rows.Select(i, rig.program->table.Entry(rows.At(i).tag).Subject.find("-nzb.") !=
                               std::string::npos);
        ASSERT_EQ(rows.SelectedCount(), 2);
        bool written = false;
        rig.program->ExportNzbCommand(false, [&](const nzb::NzbDocument& document) {
            xml = WriteNzb(document);
            written = true;
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return written; }, 30000)) << rig.Dump();
        EXPECT_TRUE(rig.prompts.shown.empty());
        // A server that cannot be reached: a message, and nothing written.
        written = false;
        rig.program->settings.News_Port = "1";
        rig.program->ExportNzbCommand(false, [&](const nzb::NzbDocument&) { written = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.prompts.shown.empty(); }, 30000));
        EXPECT_EQ(rig.prompts.shown[0].text,
                  "The NZB file was not written: the server could not be reached.");
        EXPECT_FALSE(written);
    }
    for (std::size_t u = 0; u < 2; ++u)
        for (std::size_t n = 1; n <= uploads[u].parts; ++n) {
            const std::string& id = uploads[u].messageIds[n];
            EXPECT_NE(xml.find("number=\"" + std::to_string(n) + "\">" +
                               id.substr(1, id.size() - 2) + "</segment>"),
                      std::string::npos)
                << id << xml;
        }

    for (const int connections : {1, 4}) {
        SCOPED_TRACE(std::to_string(connections) + " connections");
        ProgramRig rig(port, group);
        rig.program->settings.Connections = connections;
        rig.program->settings.RequestsInFlight = connections;
        rig.program->settings.chkMakeSubDirs = 1;
        const NzbReadResult read = ReadNzb(xml);
        ASSERT_EQ(read.error, "");
        ASSERT_TRUE(rig.program->ImportNzb(read.document, "export.nzb"));
        ASSERT_EQ(rig.program->batch.Rows().Count(), 2);
        rig.program->BatchStartCommand();
        ASSERT_TRUE(rig.BatchFinished()) << rig.Dump();
        for (const Upload* u : {&uploads[0], &uploads[1]})
            EXPECT_TRUE(ReadFile(Folder(rig) + "/" + u->name) == u->bytes) << u->name << rig.Dump();
        EXPECT_EQ(FilesIn(Folder(rig)).size(), 2u);
        EXPECT_EQ(rig.Count("Article Retrieved: "), std::size_t(7 + 4));
        EXPECT_EQ(rig.Count("200 server"), std::size_t(connections)) << "greetings";
        EXPECT_TRUE(rig.prompts.shown.empty());
    }
}

}  // namespace
}  // namespace quillfin::platform
