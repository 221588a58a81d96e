// The scan connection and the scan engine over QtSocket and real loopback TCP, against the
// scriptable test server.
#include <gtest/gtest.h>

#include "platform/raw_nntp_client.h"
#include "platform/scan_rig.h"
#include "testserver/nntp_test_server.h"

namespace quillfin::platform {
namespace {

using testserver::NewsSpool;
using testserver::NntpTestServer;
using testserver::ReplyRule;
using testserver::ServerOptions;
using Lines = std::vector<std::string>;

void FillSpool(NewsSpool& spool) {
    spool.AddArticle("alt.binaries.a", {.subject = "holiday.rar (1/3)", .bytes = 1000});
    spool.AddArticle("alt.binaries.a", {.subject = "holiday.rar (2/3)", .bytes = 2000});
    spool.AddArticle("alt.binaries.a",
                     {.subject = "[1/2] - \"pics.par2\" yEnc (1/2)", .bytes = 500});
    spool.AddArticle("alt.binaries.a", {.subject = "holiday.rar (3/3)", .bytes = 3000});
    spool.AddArticle("alt.binaries.a",
                     {.subject = "[1/2] - \"pics.par2\" yEnc (2/2)", .bytes = 700});
    spool.AddArticle("alt.binaries.b", {.number = 40, .subject = "notes.txt", .bytes = 90});
    spool.AddArticle("alt.binaries.b", {.number = 41, .subject = "tune.mp3 (1/1)", .bytes = 80});
}

class ScanOverLoopbackTest : public ::testing::Test {
  protected:
    void Start(ServerOptions options = {}) {
        server = std::make_unique<NntpTestServer>(options);
        server->WithSpool(FillSpool);
        ASSERT_TRUE(server->Start()) << server->Error();
        rig = std::make_unique<ScanRig>(server->Port());
        rig->AddGroup("alt.binaries.a");
        rig->AddGroup("alt.binaries.b");
    }
    // The normal reply to one command, as a client sees it after GROUP group.
    std::string ReplyTo(const std::string& group, const std::string& command) {
        RawNntpClient client;
        client.Connect(server->Port());
        client.Request("GROUP " + group);
        return client.Request(command);
    }
    void ExpectBothGroupsScanned() {
        ASSERT_EQ(rig->table.HeaderCount(), 4);
        const headers::HeaderEntry* rar = rig->EntryWith("holiday.rar");
        ASSERT_NE(rar, nullptr);
        EXPECT_EQ(rar->PartCount(), 3);
        EXPECT_EQ(rar->PartTotal, 3);
        EXPECT_EQ(rar->Size, 6000);
        EXPECT_EQ(rar->Group, "alt.binaries.a");
        const headers::HeaderEntry* par = rig->EntryWith("pics.par2");
        ASSERT_NE(par, nullptr);
        EXPECT_EQ(par->PartCount(), 2);
        EXPECT_EQ(par->Size, 1200);
        const storage::GroupEntry& a = rig->Group("alt.binaries.a");
        EXPECT_EQ(a.lastRead, "5");
        EXPECT_EQ(a.first, "1");
        EXPECT_EQ(a.last, "5");
        const storage::GroupEntry& b = rig->Group("alt.binaries.b");
        EXPECT_EQ(b.lastRead, "41");
        EXPECT_EQ(b.first, "40");
        EXPECT_EQ(b.last, "41");
    }
    std::unique_ptr<NntpTestServer> server;
    std::unique_ptr<ScanRig> rig;
};

TEST_F(ScanOverLoopbackTest, ScansEveryGroupWithoutLoginAndQuits) {
    Start();
    ASSERT_TRUE(rig->ScanToTheEnd()) << rig->Dump();
    EXPECT_EQ(server->Commands(), (Lines{"GROUP alt.binaries.a", "XOVER 0-100",
                                         "GROUP alt.binaries.b", "XOVER 40-140", "QUIT"}));
    ExpectBothGroupsScanned();
    const Lines logged = rig->Logged();
    const Lines expected_start = {"Connecting...", "200 Quillfin test server ready (posting ok)",
                                  "Scan Initiated...", "5 new articles in alt.binaries.a"};
    ASSERT_GE(logged.size(), expected_start.size());
    EXPECT_EQ(Lines(logged.begin(), logged.begin() + 4), expected_start);
    // A first article above 2 restarts an unread group there: last - first new articles.
    EXPECT_TRUE(rig->LoggedLineStartingWith("1 new articles in alt.binaries.b"));
    EXPECT_TRUE(rig->LoggedLineStartingWith("Scan Complete. 5 headers read in"));
    // The log keeps a chunk's first line only.
    ASSERT_GE(logged.size(), 2u);
    EXPECT_EQ(logged[logged.size() - 2], "205 Bye!");
    EXPECT_EQ(logged.back(), "Connection Closed");
    EXPECT_FALSE(rig->session.Scanning);

    // A second scan asks again from each group's lastRead and adds nothing.
    server->WithSpool([](NewsSpool& spool) {
        spool.AddArticle("alt.binaries.b", {.subject = "tune2.mp3 (1/1)", .bytes = 80});
    });
    ASSERT_TRUE(rig->ScanToTheEnd()) << rig->Dump();
    const Lines all = server->Commands();
    const Lines second(all.begin() + 5, all.end());
    EXPECT_EQ(second,
              (Lines{"GROUP alt.binaries.a", "GROUP alt.binaries.b", "XOVER 41-141", "QUIT"}));
    EXPECT_EQ(rig->table.HeaderCount(), 5);
    EXPECT_EQ(rig->Group("alt.binaries.b").lastRead, "42");
}

// Login sequences: what the client sends after the greeting, and the log lines that prove
// the path taken.
TEST_F(ScanOverLoopbackTest, LoginSequences) {
    const struct {
        const char* name;
        int chkAuth;
        int chkSlave;
        bool requireAuth;
        const char* slaveReply;
        Lines commands;
        Lines logged;
        bool scanned;
    } cases[] = {
        {"auth",
         1,
         0,
         true,
         "202 ok\r\n",
         {"AUTHINFO USER user", "AUTHINFO PASS secret", "GROUP alt.binaries.a"},
         {"Authenticating User Name...", "Authenticating Password...",
          "Authinfo cleared, login complete...", "Scan Initiated..."},
         true},
        {"auth and slave",
         1,
         1,
         true,
         "202 Slave status noted\r\n",
         {"AUTHINFO USER user", "AUTHINFO PASS secret", "SLAVE", "GROUP alt.binaries.a"},
         {"Authinfo cleared, login complete...", "Requesting slave status",
          "202 Slave status noted", "Scan Initiated..."},
         true},
        {"slave granted",
         0,
         1,
         false,
         "202 Slave status noted\r\n",
         {"SLAVE", "GROUP alt.binaries.a"},
         {"Requesting slave status", "202 Slave status noted", "Scan Initiated..."},
         true},
        {"slave refused",
         0,
         1,
         false,
         "500 \"SLAVE\" not implemented; try \"HELP\"\r\n",
         {"SLAVE"},
         {"Requesting slave status", "500 \"SLAVE\" not implemented; try \"HELP\""},
         false},
        {"server asks for a login on GROUP",
         0,
         0,
         true,
         "202 ok\r\n",
         {"GROUP alt.binaries.a", "AUTHINFO USER user", "AUTHINFO PASS secret",
          "GROUP alt.binaries.a"},
         {"Scan Initiated...", "Authenticating User Name...", "Authenticating Password...",
          "Authinfo cleared, login complete...", "Scan Initiated..."},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start({.requireAuth = c.requireAuth, .slaveReply = c.slaveReply});
        rig->settings.chkAuth = c.chkAuth;
        rig->settings.chkSlave = c.chkSlave;
        rig->settings.User_Name = "user";
        rig->settings.User_Pass = "secret";
        if (c.scanned) {
            ASSERT_TRUE(rig->ScanToTheEnd()) << rig->Dump();
            ExpectBothGroupsScanned();
        } else {
            rig->connections.ConnectScan();
            RunEventsUntil([&] { return server->Commands().size() >= c.commands.size(); });
            RunEventsFor(200);
            EXPECT_EQ(rig->table.HeaderCount(), 0);
            EXPECT_EQ(rig->tcp1.GetState(), 7) << "left open for the watchdog";
        }
        const Lines sent = server->Commands();
        ASSERT_GE(sent.size(), c.commands.size());
        EXPECT_EQ(Lines(sent.begin(), sent.begin() + std::ptrdiff_t(c.commands.size())),
                  c.commands);
        const Lines logged = rig->Logged();
        auto from = logged.begin();
        for (const std::string& line : c.logged) {
            from = std::find(from, logged.end(), line);
            EXPECT_NE(from, logged.end()) << "not logged in order: " << line;
        }
        rig.reset();
        server.reset();
    }
}

TEST_F(ScanOverLoopbackTest, RefusedLoginAndUnwelcomeGreetingsEndTheSession) {
    const struct {
        const char* name;
        std::string greeting;
        std::string password;
        std::string logged;
        bool authentication_message;
    } cases[] = {
        {"wrong password", "200 ready\r\n", "wrong", "502 Authentication failed", true},
        {"greeting 502", "502 You have no permission to talk\r\n", "secret",
         "502 You have no permission to talk", true},
        {"greeting 400", "400 Service discontinued\r\n", "secret", "400 Service discontinued",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start({.greeting = c.greeting});
        rig->settings.chkAuth = 1;
        rig->settings.User_Name = "user";
        rig->settings.User_Pass = c.password;
        rig->connections.ConnectScan();
        ASSERT_TRUE(RunEventsUntil([&] {
            return rig->LoggedLineStartingWith("Connection Closed") && rig->view.cmdScanEnabled;
        }));
        const Lines logged = rig->Logged();
        EXPECT_NE(std::find(logged.begin(), logged.end(), c.logged), logged.end());
        EXPECT_FALSE(rig->LoggedLineStartingWith("Scan Initiated..."));
        EXPECT_EQ(rig->tcp1.GetState(), 0);
        EXPECT_EQ(rig->table.HeaderCount(), 0);
        const bool message_shown =
            !rig->prompts.shown.empty() &&
            rig->prompts.shown.back().text == "Authentication Error.  Check Username/Password...";
        EXPECT_EQ(message_shown, c.authentication_message);
        EXPECT_TRUE(RunEventsUntil([&] { return server->OpenConnections() == 0; }));
        rig.reset();
        server.reset();
    }
}

// Overview data is collected until its end line, however it arrives. Other replies are taken
// from the one chunk that starts with their code (a split GROUP reply is not understood).
TEST_F(ScanOverLoopbackTest, BurstsSplitAnywhereAndMergedRepliesGiveTheSameTable) {
    const struct {
        const char* name;
        std::vector<ReplyRule> rules;
    } cases[] = {
        {"bursts in pieces of 7 bytes", {{.command = "XOVER", .chunkSize = 7, .pauseMs = 1}}},
        {"the end line split", {}},  // rules made below, from the reply's length
        {"status line alone, then the rest",
         {{.command = "XOVER", .splitAt = {34}, .pauseMs = 30}}},
        {"text before the 205", {{.command = "QUIT", .before = "100 note\r\n"}}},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        Start();
        if (c.rules.empty()) {
            for (const char* group : {"alt.binaries.a", "alt.binaries.b"}) {
                const std::size_t size = ReplyTo(group, "XOVER 0-100").size();
                c.rules.push_back({.command = std::string("GROUP ") + group, .uses = 1});
                c.rules.push_back({.command = "XOVER",
                                   .uses = 1,
                                   .splitAt = {size - 5, size - 4, size - 2, size - 1},
                                   .pauseMs = 30});
            }
            server->AddRule(c.rules[1]);
            server->AddRule(c.rules[3]);
        } else {
            for (const ReplyRule& rule : c.rules) server->AddRule(rule);
        }
        ASSERT_TRUE(rig->ScanToTheEnd()) << rig->Dump();
        ExpectBothGroupsScanned();
        EXPECT_TRUE(rig->LoggedLineStartingWith("Scan Complete. 5 headers read in"));
        rig.reset();
        server.reset();
    }
}

TEST_F(ScanOverLoopbackTest, AReplyCodeSplitInsideIsNotRecognised) {
    Start();
    server->AddRule({.command = "GROUP alt.binaries.a", .splitAt = {2}, .pauseMs = 60});
    rig->connections.ConnectScan();
    ASSERT_TRUE(RunEventsUntil([&] { return server->Commands().size() == 1; }));
    RunEventsFor(300);
    EXPECT_EQ(server->Commands(), Lines{"GROUP alt.binaries.a"}) << "waits for the watchdog";
    EXPECT_EQ(rig->session.ScanState(), 9);
    EXPECT_TRUE(rig->engine->Driving());
    EXPECT_EQ(rig->table.HeaderCount(), 0);
    EXPECT_EQ(rig->Group("alt.binaries.a").lastRead, "");
}

TEST_F(ScanOverLoopbackTest, SilenceWaitsAndTheStopCommandEndsTheScan) {
    Start();
    server->AddRule({.command = "XOVER", .silent = true});
    rig->connections.ConnectScan();
    ASSERT_TRUE(RunEventsUntil([&] { return server->Commands().size() == 2; }));
    RunEventsFor(300);
    EXPECT_TRUE(rig->engine->Driving());
    EXPECT_EQ(rig->session.ScanState(), 12);
    EXPECT_EQ(rig->tcp1.GetState(), 7);

    // The stop command: QUIT ends the driver at once. The "205" arrives as burst data, so
    // nothing closes the socket before the server does.
    rig->connections.QuitConnection(1);
    EXPECT_FALSE(rig->engine->Driving());
    ASSERT_TRUE(RunEventsUntil([&] { return rig->tcp1.GetState() == 8; }));
    EXPECT_EQ(server->Commands().back(), "QUIT");
    EXPECT_FALSE(rig->LoggedLineStartingWith("Scan Complete"));
    EXPECT_EQ(rig->table.HeaderCount(), 0);
}

TEST_F(ScanOverLoopbackTest, ADropInTheMiddleOfABurstLosesNothingAndTheNextScanCatchesUp) {
    Start();
    const std::size_t size = ReplyTo("alt.binaries.a", "XOVER 0-100").size();
    server->AddRule({.command = "XOVER", .uses = 1, .dropAfterBytes = size / 2});
    rig->connections.ConnectScan();
    // The server's close in the middle of a session closes our side too.
    ASSERT_TRUE(RunEventsUntil([&] {
        return rig->tcp1.GetState() == 0 && rig->LoggedLineStartingWith("Connection Closed");
    })) << rig->Dump();
    EXPECT_EQ(rig->table.HeaderCount(), 0) << "an unfinished burst is not parsed";
    EXPECT_EQ(rig->Group("alt.binaries.a").lastRead, "");
    EXPECT_EQ(rig->timerbot1.Interval(), 0) << "the close stops the watchdog timer";

    ASSERT_TRUE(rig->ScanToTheEnd()) << rig->Dump();
    ExpectBothGroupsScanned();
}

TEST_F(ScanOverLoopbackTest, ErrorRepliesToGroup) {
    const struct {
        const char* name;
        std::string reply;
        std::string logged;
        bool second_group_scanned;
        int socket_state;  // when the second group is not scanned
    } cases[] = {
        {"no such group", "411 No such group\r\n", "Error, no such news group alt.binaries.a", true,
         0},
        {"no more articles", "421 No next article\r\n", "", true, 0},
        // Logged only: the driver waits for the watchdog with the connection open.
        {"unknown command", "500 What?\r\n", "500 What?", false, 7},
        // Closed; the driver waits for a stop or a new scan.
        {"service discontinued", "400 Going down\r\n", "400 Going down", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start();
        server->AddRule({.command = "GROUP alt.binaries.a", .reply = c.reply});
        rig->connections.ConnectScan();
        if (c.second_group_scanned) {
            ASSERT_TRUE(RunEventsUntil([&] { return rig->ScanFinished(0); })) << rig->Dump();
            EXPECT_EQ(rig->table.HeaderCount(), 2);
            EXPECT_EQ(rig->Group("alt.binaries.b").lastRead, "41");
        } else {
            ASSERT_TRUE(RunEventsUntil([&] { return rig->LoggedLineStartingWith(c.logged); }));
            RunEventsFor(200);
            EXPECT_EQ(rig->tcp1.GetState(), c.socket_state);
            EXPECT_EQ(server->Commands(), Lines{"GROUP alt.binaries.a"});
            EXPECT_EQ(rig->table.HeaderCount(), 0);
        }
        EXPECT_EQ(rig->Group("alt.binaries.a").lastRead, "");
        if (!c.logged.empty()) {
            EXPECT_TRUE(rig->LoggedLineStartingWith(c.logged));
        }
        rig.reset();
        server.reset();
    }
}

TEST_F(ScanOverLoopbackTest, ALargeGroupIsReadInBurstsUntilNoProgress) {
    Start();
    server->WithSpool([](NewsSpool& spool) {
        for (int i = 0; i < 230; ++i) {
            spool.AddArticle("alt.binaries.c",
                             {.subject = "big.rar (" + std::to_string(i + 1) + "/230)"});
        }
    });
    rig->groups.Entries().clear();
    rig->AddGroup("alt.binaries.c");
    ASSERT_TRUE(rig->ScanToTheEnd()) << rig->Dump();
    EXPECT_EQ(server->Commands(), (Lines{"GROUP alt.binaries.c", "XOVER 0-100", "XOVER 100-200",
                                         "XOVER 200-300", "XOVER 230-330", "QUIT"}));
    ASSERT_EQ(rig->table.HeaderCount(), 1);
    EXPECT_EQ(rig->table.Entry(1).PartCount(), 230);
    EXPECT_EQ(rig->Group("alt.binaries.c").lastRead, "230");
}

}  // namespace
}  // namespace quillfin::platform
