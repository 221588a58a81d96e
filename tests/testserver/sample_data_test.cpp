#include "testserver/sample_data.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "common/clock.h"
#include "common/event_pump.h"
#include "headers/header_views.h"
#include "headers/overview_parser.h"
#include "storage/activity_log.h"
#include "storage/group_list.h"
#include "storage/settings_file.h"
#include "support/temp_dir.h"
#include "testserver/demo_program_dir.h"
#include "testserver/nntp_test_server.h"

namespace quillfin::testserver {
namespace {

// A blocking NNTP client on a plain socket; every read gives up after a few seconds.
class WireClient {
  public:
    explicit WireClient(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval timeout{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~WireClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Connected() const { return fd_ >= 0; }

    std::string Line() {
        std::string line;
        while (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) {
            if (at_ == buffer_.size() && !Fill()) return line;
            line += buffer_[at_++];
        }
        return line;
    }
    std::string Command(const std::string& command) {
        const std::string data = command + "\r\n";
        if (::send(fd_, data.data(), data.size(), MSG_NOSIGNAL) != ssize_t(data.size())) return "";
        return Line();
    }
    // The text of a multi-line reply with the dot-stuffing undone, lines ending in CR LF.
    std::string Block() {
        std::string text;
        for (std::string line = Line(); !line.empty() && line != ".\r\n"; line = Line())
            text += line[0] == '.' ? line.substr(1) : line;
        return text;
    }

  private:
    bool Fill() {
        char chunk[65536];
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
        if (got <= 0) return false;
        buffer_.assign(chunk, std::size_t(got));
        at_ = 0;
        return true;
    }
    int fd_ = -1;
    std::string buffer_;
    std::size_t at_ = 0;
};

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line.substr(0, line.size() - 2));
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    return fields;
}

std::int64_t LineCount(const std::string& text) {
    return std::int64_t(std::count(text.begin(), text.end(), '\n'));
}

// Bytes that yEnc must escape at some place of a line, each in long runs so that they land
// at the start, middle and end of lines, then every byte value.
std::string AwkwardBytes() {
    std::string data;
    const int critical[] = {0, '\n', '\r', '=', '\t', ' ', '.'};
    for (int encoded : critical) data.append(300, char(encoded - 42));
    for (int i = 0; i < 4096; ++i) data += char((i * 131 + i / 256) & 0xff);
    return data + "x";  // a length that fills neither a yEnc nor a uuencode line
}

// Every article the server holds, fetched over the wire as a reader would, must agree with
// its overview line, and uudeview must decode each complete posting to the very bytes that
// were encoded. An incomplete posting must not decode.
TEST(SampleDataTest, ServedPostingsDecodeWithUudeviewToTheOriginalBytes) {
    ASSERT_EQ(std::system("command -v uudeview >/dev/null 2>&1"), 0)
        << "uudeview not found: install Debian's uudeview package (scripts/setup does)";
    const std::string awkward = AwkwardBytes();
    NntpTestServer server;
    server.WithSpool([&](NewsSpool& spool) {
        AddSampleData(spool);
        auto add = [&](const std::string& subject, const std::vector<std::string>& bodies) {
            for (const std::string& body : bodies) {
                TestArticle article;
                article.subject = subject;
                article.body = body;
                spool.AddArticle("alt.test", std::move(article));
            }
        };
        add("\"awkward.yenc\" yEnc", YencParts("awkward.yenc", awkward, 3));
        add("awkward.uu", UuencodeParts("awkward.uu", awkward, 3));
    });
    ASSERT_TRUE(server.Start()) << server.Error();
    testing::TempDir dir;
    std::filesystem::create_directory(dir.File("out"));

    WireClient client(server.Port());
    ASSERT_TRUE(client.Connected());
    ASSERT_EQ(client.Line().substr(0, 3), "200");
    std::vector<std::string> files;
    std::multiset<std::string> subjects;
    std::vector<std::string> groups = SampleGroups();
    groups.push_back("alt.test");
    for (const std::string& group : groups) {
        ASSERT_EQ(client.Command("GROUP " + group).substr(0, 3), "211");
        ASSERT_EQ(client.Command("XOVER 1-").substr(0, 3), "224");
        std::istringstream overview(client.Block());
        std::vector<std::vector<std::string>> lines;
        for (std::string line; std::getline(overview, line);) lines.push_back(Fields(line + "\n"));
        for (const auto& fields : lines) {
            ASSERT_GE(fields.size(), 8u);
            SCOPED_TRACE(group + " " + fields[1]);
            if (group != "alt.test") subjects.insert(fields[1]);
            ASSERT_EQ(client.Command("ARTICLE " + fields[0]).substr(0, 3), "220");
            const std::string article = client.Block();
            const std::string body = article.substr(article.find("\r\n\r\n") + 4);
            EXPECT_EQ(std::to_string(article.size()), fields[6]);
            EXPECT_EQ(std::to_string(LineCount(body)), fields[7]);
            EXPECT_NE(article.find("\r\nLines: " + fields[7] + "\r\n"), std::string::npos);
            files.push_back(dir.File(group + "." + fields[0]));
            dir.Write(group + "." + fields[0], article);
        }
    }
    client.Command("QUIT");

    std::string command = "uudeview -i -o -q -p " + dir.File("out") + "/";
    for (const std::string& file : files) command += " " + file;
    std::system((command + " >/dev/null 2>&1").c_str());

    std::multiset<std::string> planned;
    for (const SamplePosting& posting : SamplePostings()) {
        SCOPED_TRACE(posting.fileName);
        for (int part = 1; part <= posting.parts; ++part) {
            const auto& missing = posting.missingParts;
            if (std::find(missing.begin(), missing.end(), part) == missing.end())
                planned.insert(SampleSubject(posting, part));
        }
        if (posting.encoding == SamplePosting::Encoding::kText) continue;
        const std::string decoded = dir.File("out/" + posting.fileName);
        if (!posting.missingParts.empty()) {
            EXPECT_FALSE(std::filesystem::exists(decoded));
        } else {
            EXPECT_TRUE(dir.Read("out/" + posting.fileName) == posting.content);
        }
    }
    EXPECT_EQ(subjects, planned);
    EXPECT_TRUE(dir.Read("out/awkward.yenc") == awkward);
    EXPECT_TRUE(dir.Read("out/awkward.uu") == awkward);
}

// Leading dots, blanks at either end and the bytes NUL, CR, LF, '=' never reach a line raw.
TEST(SampleDataTest, YencLinesAreSafeOnTheWire) {
    std::istringstream lines(YencLines(AwkwardBytes()));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r');
        line.pop_back();
        SCOPED_TRACE(count);
        EXPECT_LE(line.size(), 129u);
        EXPECT_EQ(std::string(" \t.").find(line.front()), std::string::npos);
        EXPECT_EQ(std::string(" \t").find(line.back()), std::string::npos);
        EXPECT_EQ(line.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] != '=') continue;
            ASSERT_LT(i + 1, line.size()) << "an escape cut by the line end";
            ++i;
        }
    }
    EXPECT_GT(count, 40);
}

// Scanned like the program scans them, the groups show each class of the header list.
TEST(SampleDataTest, ScanShowsEveryClassOfTheHeaderList) {
    NewsSpool spool;
    AddSampleData(spool);
    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log(settings, clock, "/nonexistent-dir");
    headers::HeaderTable table(log);
    common::NoEventPump pump;
    headers::OverviewParser parser(table, pump);
    for (const std::string& group : SampleGroups()) {
        std::string burst = "224 Overview information follows\r\n";
        spool.AppendOverview(group, 1, 1000, burst);
        table.CurrentGroup = group;
        parser.parse_xoverdata(burst + ".\r\n");
    }
    std::map<std::string, headers::Completeness> classes;
    for (std::int32_t i = 1; i <= table.HeaderCount(); ++i)
        classes[table.Entry(i).Subject] = headers::HeaderViews::ClassOf(table.Entry(i));
    using headers::Completeness;
    EXPECT_EQ(classes.size(), SamplePostings().size());
    const std::map<std::string, Completeness> expected = {
        {"sunset.bmp [xx/0000004]", Completeness::kComplete},
        {"[01/02] - \"plasma.bmp\" yEnc [xx/0000005]", Completeness::kComplete},
        {"mosaic.bmp [xx/0000003]", Completeness::kComplete},
        {"checkerboard.bmp", Completeness::kComplete},
        {"quillfin-demo.nfo", Completeness::kComplete},
        {"\"gradient.bmp\" yEnc [xx/0000003]", Completeness::kIncomplete},
        {"\"arpeggio.wav\" yEnc", Completeness::kUnknown},
        {"Welcome to the Quillfin demo server", Completeness::kText},
    };
    for (const auto& [subject, completeness] : expected) {
        ASSERT_TRUE(classes.count(subject)) << subject;
        EXPECT_EQ(classes[subject], completeness) << subject;
    }
}

class NoPrompts : public common::Prompts {
  public:
    void Message(const std::string&, const std::string&) override {}
    bool AskYesNo(const std::string&, const std::string&) override { return false; }
};

// The first run writes settings and groups the program reads; a later run keeps what the
// user changed and only follows the demo server to its new port.
TEST(SampleDataTest, DemoProgramDirectoryKeepsTheUsersState) {
    testing::TempDir dir;
    const std::string home = dir.File("demo home");
    std::string error;
    ASSERT_TRUE(PrepareDemoProgramDirectory(home, "127.0.0.1", 1119, SampleGroups(), nullptr,
                                            &error))
        << error;
    storage::Settings settings;
    storage::SettingsFile(home).ReadOptions(settings);
    EXPECT_EQ(settings.News_Host, "127.0.0.1");
    EXPECT_EQ(settings.News_Port, "1119");
    EXPECT_EQ(settings.Download_Path, home + "/downloads/");
    EXPECT_TRUE(std::filesystem::is_directory(settings.Download_Path));
    NoPrompts prompts;
    storage::GroupList groups(home, prompts);
    groups.LoadGroupList();
    ASSERT_EQ(groups.Count(), 3);
    EXPECT_EQ(groups.At(1).name, SampleGroups()[0]);

    settings.Rescan_Time = 30;
    ASSERT_TRUE(storage::SettingsFile(home).WriteOptions(settings));
    groups.At(2).lastRead = "8";
    ASSERT_TRUE(groups.SaveGroupList());
    const std::string favs = dir.Read("demo home/favs.txt");

    ASSERT_TRUE(PrepareDemoProgramDirectory(home, "127.0.0.1", 40119, SampleGroups(), nullptr,
                                            &error))
        << error;
    storage::Settings again;
    storage::SettingsFile(home).ReadOptions(again);
    EXPECT_EQ(again.Rescan_Time, 30);
    EXPECT_EQ(again.News_Port, "40119");
    EXPECT_EQ(dir.Read("demo home/favs.txt"), favs);
}

}  // namespace
}  // namespace quillfin::testserver
