// The scan engine over QtSocket and real loopback TCP, against the scriptable test server.
#include <gtest/gtest.h>

#include "platform/scan_rig.h"
#include "testserver/nntp_test_server.h"

namespace quillfin::platform {
namespace {

using testserver::NewsSpool;
using testserver::ReplyRule;
using Lines = std::vector<std::string>;

void FillSpool(NewsSpool& spool) {
    spool.AddArticle("alt.binaries.a", {.subject = "holiday.rar (1/3)", .bytes = 1000});
    spool.AddArticle("alt.binaries.a", {.subject = "holiday.rar (2/3)", .bytes = 2000});
    spool.AddArticle("alt.binaries.a", {.subject = "\"pics.par2\" yEnc (1/2)", .bytes = 500});
    spool.AddArticle("alt.binaries.a", {.subject = "holiday.rar (3/3)", .bytes = 3000});
    spool.AddArticle("alt.binaries.a", {.subject = "\"pics.par2\" yEnc (2/2)", .bytes = 700});
    spool.AddArticle("alt.binaries.b", {.number = 40, .subject = "notes.txt", .bytes = 90});
    spool.AddArticle("alt.binaries.b", {.number = 41, .subject = "tune.mp3 (1/1)", .bytes = 80});
}

// The first burst of alt.binaries.a: status line, overview lines and end line.
std::size_t FirstBurstSize() {
    NewsSpool spool;
    FillSpool(spool);
    std::string overview;
    spool.AppendOverview("alt.binaries.a", 0, 100, overview);
    return 34 + overview.size() + 3;
}

// "a|b|c" as lines; none for "".
Lines Split(const std::string& text) {
    Lines lines;
    for (std::size_t from = 0, bar = 0; !text.empty() && from <= text.size(); from = bar + 1) {
        bar = std::min(text.find('|', from), text.size());
        lines.push_back(text.substr(from, bar - from));
    }
    return lines;
}

// Whether `lines` start with the "|"-separated texts, in this order.
bool InOrder(const Lines& lines, const std::string& wanted) {
    auto at = lines.begin();
    for (const std::string& text : Split(wanted)) {
        at = std::find_if(at, lines.end(), [&](auto& line) { return line.starts_with(text); });
        if (at++ == lines.end()) return false;
    }
    return true;
}

constexpr const char* kBothGroups =
    "3/3 6000 alt.binaries.a|2/2 1200 alt.binaries.a|1/0 90 alt.binaries.b|"
    "1/1 80 alt.binaries.b|5 1 5|41 40 41";

class ScanOverLoopbackTest : public ::testing::Test {
  protected:
    void Start(const testserver::ServerOptions& options = {}) {
        rig.reset();
        server = std::make_unique<testserver::NntpTestServer>(options);
        server->WithSpool(FillSpool);
        ASSERT_TRUE(server->Start()) << server->Error();
        rig = std::make_unique<ScanRig>(server->Port());
        rig->AddGroup("alt.binaries.a");
        rig->AddGroup("alt.binaries.b");
    }
    // lastRead, first and last of a group row.
    std::string Numbers(const std::string& group) {
        const storage::GroupEntry& row = rig->Group(group);
        return row.lastRead + " " + row.first + " " + row.last;
    }
    // Each posting as parts/total, size and group, then the rows' numbers.
    std::string Scanned() {
        std::string text;
        for (const headers::HeaderEntry& e : rig->table.Entries()) {
            text += std::to_string(e.PartCount()) + "/" + std::to_string(e.PartTotal) + " " +
                    std::to_string(e.Size) + " " + e.Group.str() + "|";
        }
        return text + Numbers("alt.binaries.a") + "|" + Numbers("alt.binaries.b");
    }
    std::unique_ptr<testserver::NntpTestServer> server;
    std::unique_ptr<ScanRig> rig;
};

TEST_F(ScanOverLoopbackTest, ScansEveryGroupInBurstsThenOnlyWhatIsNew) {
    Start();
    rig->settings.sldXOVER = 2;
    ASSERT_TRUE(rig->ScanToTheEnd()) << rig->Dump();
    // Bursts go on until one brings no progress; an unread group starts at 0.
    EXPECT_EQ(server->Commands(), Split("GROUP alt.binaries.a|XOVER 0-2|XOVER 2-4|XOVER 4-6|"
                                        "XOVER 5-7|GROUP alt.binaries.b|XOVER 40-42|QUIT"));
    EXPECT_EQ(Scanned(), kBothGroups);
    const Lines logged = rig->Logged();
    ASSERT_GE(logged.size(), 4u);
    EXPECT_EQ(Lines(logged.begin(), logged.begin() + 4),
              Split("Connecting...|200 Quillfin test server ready (posting ok)|Scan Initiated...|"
                    "5 new articles in alt.binaries.a"));
    // A first article above 2 restarts an unread group there: last - first new articles.
    EXPECT_TRUE(rig->WasLogged("1 new articles in alt.binaries.b"));
    // The log keeps a chunk's first line only.
    EXPECT_EQ(Lines(logged.end() - 2, logged.end()), Split("205 Bye!|Connection Closed"));
    EXPECT_FALSE(rig->session.Scanning);

    server->WithSpool([](NewsSpool& spool) {
        spool.AddArticle("alt.binaries.b", {.subject = "tune2.mp3 (1/1)", .bytes = 80});
    });
    ASSERT_TRUE(rig->ScanToTheEnd()) << rig->Dump();
    const Lines all = server->Commands();
    EXPECT_EQ(Lines(all.begin() + 8, all.end()),
              Split("GROUP alt.binaries.a|GROUP alt.binaries.b|XOVER 41-43|QUIT"));
    EXPECT_EQ(rig->table.HeaderCount(), 5);
    EXPECT_EQ(Numbers("alt.binaries.b"), "42 40 42");
}

// A session from the server's options and one reply rule, and the login settings: the first
// commands sent (all of them when the scan does not run to its end), the log lines that prove
// the path taken, and how it ends.
TEST_F(ScanOverLoopbackTest, Sessions) {
    enum End { kScanned, kNextGroupOnly, kLeftOpen, kClosed, kClosedWithMessage };
    const std::size_t n = FirstBurstSize();
    const std::string a = "GROUP alt.binaries.a";
    const ReplyRule none{.uses = 0}, pieces{.command = "XOVER", .chunkSize = 7, .pauseMs = 1},
        end_split{.command = "XOVER", .uses = 1, .splitAt = {n - 5, n - 4, n - 2, n - 1}},
        status_alone{.command = "XOVER", .splitAt = {34}},
        note_before_205{.command = "QUIT", .before = "100 note\r\n"},
        no_group{.command = a, .reply = "411 No such group\r\n"},
        unknown{.command = a, .reply = "500 What?\r\n"}, code_split{.command = a, .splitAt = {2}},
        silent{.command = "XOVER", .silent = true},
        going_down{.command = a, .uses = 1, .reply = "400 Going down\r\n"},
        dropped{.command = "XOVER", .uses = 1, .dropAfterBytes = n / 2},
        greeting_400{.command = ReplyRule::kGreeting, .uses = 1, .reply = "400 Discontinued\r\n"},
        wrong_password{.command = "AUTHINFO PASS", .uses = 1, .reply = "502 Auth failed\r\n"};
    const struct {
        const char* name;
        bool requireAuth;
        const ReplyRule& rule;
        int chkAuth;
        const char* commands;
        const char* logged;
        End end;
    } cases[] = {
        {"GROUP reply split in its code", false, code_split, 0, "GROUP alt.binaries.a|XOVER 0-100",
         "Scan Initiated...", kScanned},
        {"bursts in pieces of 7 bytes", false, pieces, 0, "GROUP alt.binaries.a|XOVER 0-100",
         "Scan Initiated...|Scan Complete. 5 headers read in", kScanned},
        {"the end line split", false, end_split, 0, "", "", kScanned},
        {"status line alone", false, status_alone, 0, "", "", kScanned},
        {"text before the 205", false, note_before_205, 0, "", "Connection Closed", kScanned},
        {"no such group", false, no_group, 0,
         "GROUP alt.binaries.a|GROUP alt.binaries.b|XOVER 40-140|QUIT",
         "Error, no such news group alt.binaries.a", kNextGroupOnly},
        // Left to the watchdog or the stop command.
        {"unknown command", false, unknown, 0, "GROUP alt.binaries.a", "500 What?", kLeftOpen},
        {"silence", false, silent, 0, "GROUP alt.binaries.a|XOVER 0-100", "", kLeftOpen},
        // With authentication off the stored name and password are not sent.
        {"login asked for on GROUP", true, none, 0, "GROUP alt.binaries.a|QUIT",
         "Scan Initiated...|Error, server wanted a login, but authentication is switched off.",
         kClosed},
        {"service discontinued", false, going_down, 0, "GROUP alt.binaries.a", "400 Going down",
         kClosed},
        // The server's close in the middle of a session closes our side too, and an
        // unfinished burst is not parsed.
        {"drop in a burst", false, dropped, 0, "GROUP alt.binaries.a|XOVER 0-100",
         "Connection Closed", kClosed},
        {"greeting 400", false, greeting_400, 1, "", "400 Discontinued|Connection Closed", kClosed},
        {"wrong password", false, wrong_password, 1, "AUTHINFO USER user|AUTHINFO PASS secret",
         "502 Auth failed|Connection Closed", kClosedWithMessage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start({.requireAuth = c.requireAuth});
        server->AddRule(c.rule);
        rig->settings.chkAuth = c.chkAuth;
        rig->settings.User_Name = "user";
        rig->settings.User_Pass = "secret";
        Lines wanted = Split(c.commands);
        Lines sent;
        if (c.end <= kNextGroupOnly) {
            ASSERT_TRUE(rig->ScanToTheEnd()) << rig->Dump();
            sent = server->Commands();
            sent.resize(std::min(sent.size(), wanted.size()));
        } else {
            rig->connections.ConnectScan();
            EXPECT_TRUE(QTest::qWaitFor([&] { return InOrder(rig->Logged(), c.logged); }));
            QTest::qWait(300);
            sent = server->Commands();
            EXPECT_EQ(rig->tcp1.GetState(), c.end == kLeftOpen ? 7 : 0);
            EXPECT_EQ(rig->view.cmdScanEnabled, c.end != kLeftOpen);
        }
        EXPECT_EQ(sent, wanted);
        EXPECT_TRUE(InOrder(rig->Logged(), c.logged)) << rig->Dump();
        if (c.end == kScanned) {
            EXPECT_EQ(Scanned(), kBothGroups);
        } else {
            EXPECT_EQ(rig->table.HeaderCount(), c.end == kNextGroupOnly ? 2 : 0);
            EXPECT_EQ(rig->Group("alt.binaries.a").lastRead, "");
            EXPECT_EQ(Numbers("alt.binaries.b"), c.end == kNextGroupOnly ? "41 40 41" : "  ");
        }
        const auto& shown = rig->prompts.shown;
        EXPECT_EQ(!shown.empty() && shown.back().text.starts_with("Authentication Error."),
                  c.end == kClosedWithMessage);
        if (c.end == kLeftOpen) {
            // The stop command ends the driver at once, and nothing but QUIT follows.
            rig->connections.QuitConnection(1);
            EXPECT_FALSE(rig->engine->Driving());
            EXPECT_TRUE(QTest::qWaitFor([&] { return server->OpenConnections() == 0; }));
            wanted.push_back("QUIT");
            EXPECT_EQ(server->Commands(), wanted);
            EXPECT_FALSE(rig->WasLogged("Scan Complete"));
        } else if (c.end >= kClosed) {
            // Nothing of the failed session is in the way of the next scan.
            EXPECT_EQ(rig->timerbot1.Interval(), 0) << "the watchdog stopped";
            if (c.requireAuth) rig->settings.chkAuth = 1;
            ASSERT_TRUE(rig->ScanToTheEnd()) << rig->Dump();
            EXPECT_EQ(Scanned(), kBothGroups);
        }
    }
}

}  // namespace
}  // namespace quillfin::platform
