// End to end against a real INN2 reader daemon on loopback (scripts/inn2-start): multipart
// postings made by uuenview are posted over NNTP, then scanned through the Qt socket.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/raw_nntp_client.h"
#include "platform/scan_rig.h"

namespace quillfin::platform {
namespace {

constexpr const char* kUuGroup = "alt.binaries.quillfin.test";
constexpr const char* kYencGroup = "alt.binaries.quillfin.yenc";

int Inn2Port() {
    const char* port = std::getenv("QUILLFIN_INN2_PORT");
    return port != nullptr && std::atoi(port) > 0 ? std::atoi(port) : 1120;
}

bool UnderCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

struct GroupNumbers {
    long count = -1;
    long first = 0;
    long last = 0;
};

GroupNumbers GroupOf(RawNntpClient& client, const std::string& group) {
    std::istringstream reply(client.Command("GROUP " + group));
    std::string code;
    GroupNumbers numbers;
    reply >> code >> numbers.count >> numbers.first >> numbers.last;
    if (code != "211") numbers.count = -1;
    return numbers;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Bytes that differ from run to run, so every posting is new to the server.
std::string SomeBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = char((i * 2654435761u + seed) >> 13);
    return bytes;
}

class Inn2ScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        port = Inn2Port();
        const std::string greeting = poster.Connect(port);
        std::string reason;
        if (greeting.rfind("200", 0) != 0) {
            reason = "no INN2 reader answers on 127.0.0.1:" + std::to_string(port) +
                     " (scripts/inn2-start starts one; it needs root)";
        } else if (std::system("command -v uuenview >/dev/null 2>&1") != 0) {
            reason = "uuenview is not installed (Debian package uudeview)";
        }
        if (reason.empty()) return;
        if (UnderCi()) {
            FAIL() << reason;
        } else {
            GTEST_SKIP() << reason;
        }
    }

    // Encodes a file of `size` bytes with uuenview (-u or -y) in parts of `lines` lines and
    // returns the parts' texts in order.
    std::vector<std::string> Encode(const std::string& name, const char* kind, std::size_t size,
                                    int lines) {
        const std::string file = dir.File(name);
        {
            std::ofstream out(file, std::ios::binary);
            out << SomeBytes(size, unsigned(::getpid()) + unsigned(size));
        }
        const std::string out_dir = dir.File(std::string("parts") + kind);
        std::filesystem::create_directories(out_dir);
        const std::string command = std::string("cd '") + dir.Path() + "' && uuenview " + kind +
                                    " -" + std::to_string(lines) + " -od '" + out_dir + "' '" +
                                    name + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::vector<std::string> parts;
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(out_dir)) {
            files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const auto& path : files) parts.push_back(ReadFile(path));
        return parts;
    }

    void Post(const std::string& group, const std::string& subject, const std::string& body) {
        const std::string article =
            "From: Quillfin Test <test@example.test>\r\nNewsgroups: " + group +
            "\r\nSubject: " + subject + "\r\n\r\n" + body;
        const std::string reply = poster.Post(article);
        ASSERT_EQ(reply.substr(0, 3), "240") << subject << ": " << reply;
    }

    static std::string Two(std::size_t n) { return (n < 10 ? "0" : "") + std::to_string(n); }

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
    const GroupNumbers uu_before = GroupOf(poster, kUuGroup);
    ASSERT_GE(uu_before.count, 0) << kUuGroup << " missing: run scripts/inn2-start";

    const auto uu_parts = Encode(rar, "-u", 60000, 400);
    ASSERT_EQ(uu_parts.size(), 4u);
    const auto y_parts = Encode(par, "-y", 60000, 200);
    ASSERT_EQ(y_parts.size(), 3u);
    std::size_t uu_bytes = 0;
    // Out of order, as parts often reach a server.
    for (std::size_t i : {1, 0, 3, 2}) {
        Post(kUuGroup, rar + " (" + Two(i + 1) + "/" + Two(uu_parts.size()) + ")", uu_parts[i]);
        uu_bytes += uu_parts[i].size();
    }
    for (std::size_t i = 0; i < y_parts.size(); ++i) {
        Post(kYencGroup,
             "[3/7] - \"" + par + "\" yEnc (" + std::to_string(i + 1) + "/" +
                 std::to_string(y_parts.size()) + ")",
             y_parts[i]);
    }
    const GroupNumbers uu_after = GroupOf(poster, kUuGroup);
    const GroupNumbers y_after = GroupOf(poster, kYencGroup);
    ASSERT_EQ(uu_after.last, uu_before.last + 4);

    ScanRig rig(port);
    rig.settings.sldXOVER = 3;
    // One group continues after what an earlier scan read; the other was never scanned.
    rig.AddGroup(kUuGroup, std::to_string(uu_before.last));
    rig.AddGroup(kYencGroup);
    ASSERT_TRUE(rig.ScanToTheEnd(60000)) << rig.Dump();

    const headers::HeaderEntry* uu = rig.EntryWith(rar);
    ASSERT_NE(uu, nullptr) << rig.Dump();
    EXPECT_EQ(uu->PartCount(), 4);
    EXPECT_EQ(uu->PartTotal, 4);
    EXPECT_EQ(uu->Group, kUuGroup);
    // The server counts the whole article: the encoded body plus a head of some hundred bytes.
    EXPECT_GT(uu->Size, std::int64_t(uu_bytes));
    EXPECT_LT(uu->Size, std::int64_t(uu_bytes + 4 * 2000));
    const headers::HeaderEntry* y = rig.EntryWith(par);
    ASSERT_NE(y, nullptr) << rig.Dump();
    EXPECT_EQ(y->PartCount(), 3);
    EXPECT_EQ(y->PartTotal, 3);
    EXPECT_EQ(y->Group, kYencGroup);
    EXPECT_GT(y->Size, 60000);

    for (const auto& [name, numbers] :
         {std::pair{kUuGroup, uu_after}, std::pair{kYencGroup, y_after}}) {
        const storage::GroupEntry& row = rig.Group(name);
        EXPECT_EQ(row.lastRead, std::to_string(numbers.last)) << name;
        EXPECT_EQ(row.first, std::to_string(numbers.first)) << name;
        EXPECT_EQ(row.last, std::to_string(numbers.last)) << name;
    }
    EXPECT_TRUE(rig.LoggedLineStartingWith("4 new articles in " + std::string(kUuGroup)))
        << rig.Dump();
    EXPECT_TRUE(rig.LoggedLineStartingWith("Xover burst recieved: " + std::string(kUuGroup)));
    EXPECT_TRUE(rig.LoggedLineStartingWith("Scan Complete."));
    EXPECT_FALSE(rig.LoggedLineStartingWith("Scan Complete. No new headers"));
    EXPECT_TRUE(rig.LoggedLineStartingWith("200 ")) << "the greeting";

    // Nothing new: no XOVER at all, and the table stays as it is.
    const std::int32_t entries = rig.table.HeaderCount();
    ASSERT_TRUE(rig.ScanToTheEnd(60000)) << rig.Dump();
    EXPECT_EQ(rig.table.HeaderCount(), entries);
    EXPECT_TRUE(rig.LoggedLineStartingWith("0 new articles in " + std::string(kYencGroup)));
    EXPECT_TRUE(rig.log.Lines().size() > 2 &&
                rig.log.Lines()[2].find("Scan Complete. No new headers read in") !=
                    std::string::npos)
        << rig.Dump();
    EXPECT_EQ(rig.Group(kUuGroup).lastRead, std::to_string(uu_after.last));

    // One new article is picked up by the next scan.
    Post(kUuGroup, "qf" + stamp + "-notes.txt", "just text\r\n");
    ASSERT_TRUE(rig.ScanToTheEnd(60000)) << rig.Dump();
    EXPECT_EQ(rig.table.HeaderCount(), entries + 1);
    ASSERT_NE(rig.EntryWith("qf" + stamp + "-notes.txt"), nullptr);
    EXPECT_EQ(rig.Group(kUuGroup).lastRead, std::to_string(uu_after.last + 1));
    EXPECT_TRUE(rig.LoggedLineStartingWith("1 new articles in " + std::string(kUuGroup)));
}

TEST_F(Inn2ScanTest, ARefusedSlaveRequestIsLoggedAndTheScanNeverStarts) {
    ScanRig rig(port);
    rig.settings.chkSlave = 1;
    rig.AddGroup(kUuGroup);
    rig.connections.ConnectScan();
    ASSERT_TRUE(RunEventsUntil([&] { return rig.LoggedLineStartingWith("500 "); })) << rig.Dump();
    RunEventsFor(200);
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
