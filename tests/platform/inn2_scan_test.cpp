// End to end against a local INN2 reader (scripts/inn2-start): multipart postings made by
// uuenview are posted over NNTP, then scanned through the Qt socket.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include "platform/inn2_support.h"
#include "platform/scan_rig.h"

namespace quillfin::platform {
namespace {

constexpr const char* kUuGroup = "alt.binaries.quillfin.test";
constexpr const char* kYencGroup = "alt.binaries.quillfin.yenc";

class Inn2ScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        port = Inn2Port();
        std::string reason;
        if (!poster.Connect(port).starts_with("200")) {
            reason = "no INN2 reader answers on 127.0.0.1:" + std::to_string(port) +
                     " (scripts/inn2-start starts one; it needs root)";
        } else if (std::system("command -v uuenview >/dev/null 2>&1") != 0) {
            reason = "uuenview is not installed (Debian package uudeview)";
        }
        if (reason.empty()) return;
        if (Inn2Required()) FAIL() << reason;
        GTEST_SKIP() << reason;
    }

    // The parts of a file of `size` bytes that uuenview (-u or -y) makes, `lines` lines each.
    std::vector<std::string> Encode(const std::string& name, const std::string& kind,
                                    std::size_t size, int lines) {
        // Bytes that differ from run to run, so every posting is new to the server.
        std::string bytes(size, '\0');
        const std::size_t seed = std::size_t(::getpid()) + size;
        for (std::size_t i = 0; i < size; ++i) bytes[i] = char((i * 2654435761u + seed) >> 13);
        dir.Write(name, bytes);
        const std::string out = "parts" + kind;
        std::filesystem::create_directories(dir.File(out));
        const std::string command = "cd '" + dir.Path() + "' && uuenview " + kind + " -" +
                                    std::to_string(lines) + " -od '" + out + "' '" + name +
                                    "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.File(out))) {
            names.insert(entry.path().filename());
        }
        std::vector<std::string> parts;
        for (const auto& name : names) parts.push_back(dir.Read(out + "/" + name));
        return parts;
    }

    void Post(const std::string& group, const std::string& subject, const std::string& body) {
        const std::string reply =
            poster.Post("From: Quillfin Test <test@example.test>\r\nNewsgroups: " + group +
                        "\r\nSubject: " + subject + "\r\n\r\n" + body);
        ASSERT_TRUE(reply.starts_with("240")) << subject << ": " << reply;
    }

    int port = 0;
    RawNntpClient poster;
    testing::TempDir dir;
};

TEST_F(Inn2ScanTest, PostingsAreJoinedAndASecondScanReadsOnlyWhatIsNew) {
    const std::string stamp = std::to_string(::getpid()) + "x" +
                              std::to_string(std::chrono::system_clock::now().time_since_epoch() /
                                             std::chrono::milliseconds(1));
    const std::string rar = "qf" + stamp + ".rar";
    const std::string par = "qf" + stamp + ".par2";
    struct Upload {
        const char* group;
        std::string file;
        const char* kind;
        int lines;
        std::size_t parts;
        std::string prefix, suffix;  // of the subject, around the part number
        GroupNumbers before, after;
        std::size_t bytes = 0;
    } uploads[] = {
        {kUuGroup, rar, "-u", 400, 4, rar + " (0", "/04)"},
        {kYencGroup, par, "-y", 200, 3, "[3/7] - \"" + par + "\" yEnc (", "/3)"},
    };
    for (Upload& u : uploads) {
        u.before = GroupSeenAfresh(port, u.group);
        ASSERT_GE(u.before.count, 0) << u.group << " missing: run scripts/inn2-start";
        const auto parts = Encode(u.file, u.kind, 60000, u.lines);
        ASSERT_EQ(parts.size(), u.parts);
        // Out of order, as parts often reach a server.
        for (std::size_t i : {1, 0, 3, 2}) {
            if (i >= parts.size()) continue;
            Post(u.group, u.prefix + std::to_string(i + 1) + u.suffix, parts[i]);
            u.bytes += parts[i].size();
        }
        u.after = WaitForLast(port, u.group, u.before.last + long(u.parts));
        ASSERT_EQ(u.after.last, u.before.last + long(u.parts));
    }

    ScanRig rig(port);
    rig.settings.sldXOVER = 3;
    // One group continues after what an earlier scan read; the other was never scanned.
    rig.AddGroup(kUuGroup, std::to_string(uploads[0].before.last));
    rig.AddGroup(kYencGroup);
    ASSERT_TRUE(rig.ScanToTheEnd(60000)) << rig.Dump();
    for (const Upload& u : uploads) {
        SCOPED_TRACE(u.group);
        const headers::HeaderEntry* entry = rig.EntryWith(u.file);
        ASSERT_NE(entry, nullptr) << rig.Dump();
        EXPECT_EQ(entry->PartCount(), std::int32_t(u.parts));
        EXPECT_EQ(entry->PartTotal, std::int32_t(u.parts));
        EXPECT_EQ(entry->Group, u.group);
        // The server counts whole articles: the encoded parts plus heads of some hundred bytes.
        EXPECT_GT(entry->Size, std::int64_t(u.bytes));
        EXPECT_LT(entry->Size, std::int64_t(u.bytes + u.parts * 2000));
        const storage::GroupEntry& row = rig.Group(u.group);
        EXPECT_EQ(row.lastRead, std::to_string(u.after.last));
        EXPECT_EQ(row.first, std::to_string(u.after.first));
        EXPECT_EQ(row.last, std::to_string(u.after.last));
    }
    EXPECT_TRUE(rig.WasLogged("4 new articles in " + std::string(kUuGroup))) << rig.Dump();
    EXPECT_TRUE(rig.WasLogged("Xover burst recieved: " + std::string(kUuGroup)));
    EXPECT_TRUE(rig.WasLogged("Scan Complete."));
    EXPECT_FALSE(rig.WasLogged("Scan Complete. No new headers"));
    EXPECT_TRUE(rig.WasLogged("200 ")) << "the greeting";

    // Nothing new: no XOVER at all, and the table stays as it is.
    const std::int32_t entries = rig.table.HeaderCount();
    ASSERT_TRUE(rig.ScanToTheEnd(60000)) << rig.Dump();
    EXPECT_EQ(rig.table.HeaderCount(), entries);
    EXPECT_TRUE(rig.WasLogged("0 new articles in " + std::string(kYencGroup)));
    EXPECT_TRUE(rig.log.Lines().size() > 2 &&
                rig.log.Lines()[2].find("Scan Complete. No new headers read in") !=
                    std::string::npos)
        << rig.Dump();
    EXPECT_EQ(rig.Group(kUuGroup).lastRead, std::to_string(uploads[0].after.last));

    // One new article is picked up by the next scan.
    Post(kUuGroup, "qf" + stamp + "-notes.txt", "just text\r\n");
    ASSERT_TRUE(rig.ScanToTheEnd(60000)) << rig.Dump();
    EXPECT_EQ(rig.table.HeaderCount(), entries + 1);
    ASSERT_NE(rig.EntryWith("qf" + stamp + "-notes.txt"), nullptr);
    EXPECT_EQ(rig.Group(kUuGroup).lastRead, std::to_string(uploads[0].after.last + 1));
    EXPECT_TRUE(rig.WasLogged("1 new articles in " + std::string(kUuGroup)));
}

TEST_F(Inn2ScanTest, ARefusedSlaveRequestIsLoggedAndTheScanNeverStarts) {
    ScanRig rig(port);
    rig.settings.chkSlave = 1;
    rig.AddGroup(kUuGroup);
    rig.connections.ConnectScan();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.WasLogged("500 "); })) << rig.Dump();
    QTest::qWait(200);
    const std::vector<std::string> logged = rig.Logged();
    ASSERT_GE(logged.size(), 2u);
    EXPECT_EQ(logged[logged.size() - 2], "Requesting slave status");
    EXPECT_EQ(logged.back(), "500 \"SLAVE\" not implemented; try \"HELP\"");
    EXPECT_FALSE(rig.engine->Driving());
    EXPECT_EQ(rig.tcp1.GetState(), 7) << "left to the watchdog";
    EXPECT_EQ(rig.table.HeaderCount(), 0);
}

}  // namespace
}  // namespace quillfin::platform
