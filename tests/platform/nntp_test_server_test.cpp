#include "testserver/nntp_test_server.h"

#include <gtest/gtest.h>

#include "platform/raw_nntp_client.h"
#include "testserver/sample_data.h"
#include "testserver/spool_directory.h"

namespace quillfin::testserver {
namespace {

using platform::RawNntpClient;

class NntpTestServerTest : public ::testing::Test {
  protected:
    void StartWith(ServerOptions options = {}) {
        server = std::make_unique<NntpTestServer>(options);
        server->WithSpool([](NewsSpool& spool) {
            spool.AddGroup("alt.empty", 7);
            spool.AddArticle("alt.test", {.subject = "a.rar (1/2)", .body = "line one\r\n"});
            spool.AddArticle("alt.test", {.subject = "a.rar (2/2)",
                                          .messageId = "<two@example.test>",
                                          .body = ".dotted\r\nplain\r\n"});
            spool.AddArticle("alt.test", {.number = 5, .subject = "tab\there", .bytes = 999});
        });
        ASSERT_TRUE(server->Start()) << server->Error();
        greeting = client.Connect(server->Port());
    }
    std::unique_ptr<NntpTestServer> server;
    RawNntpClient client;
    std::string greeting;
};

TEST_F(NntpTestServerTest, AnswersTheReaderCommands) {
    StartWith();
    EXPECT_EQ(greeting, "200 Quillfin test server ready (posting ok)\r\n");
    const std::string two_head =
        "Path: testserver.example!not-for-mail\r\nFrom: Poster <poster@example.test>\r\n"
        "Newsgroups: alt.test\r\nSubject: a.rar (2/2)\r\n"
        "Date: Sun, 6 Dec 2026 11:49:13 -0000 (UTC)\r\nMessage-ID: <two@example.test>\r\n"
        "Lines: 2\r\nXref: testserver.example alt.test:2\r\n";
    const struct {
        std::string command;
        std::string reply;
    } cases[] = {
        {"XOVER 1-2", "412 No newsgroup selected\r\n"},
        {"ARTICLE 1", "412 No newsgroup selected\r\n"},
        {"MODE READER", "200 Reader mode, posting ok\r\n"},
        {"SLAVE", "202 Slave status noted\r\n"},
        {"GROUP alt.nothing", "411 No such group alt.nothing\r\n"},
        {"GROUP alt.empty", "211 0 7 6 alt.empty\r\n"},
        {"XOVER 0-100", "224 No articles in 0-100\r\n.\r\n"},
        {"group alt.test", "211 3 1 5 alt.test\r\n"},
        {"XOVER 2-4",
         "224 Overview information follows\r\n2\ta.rar (2/2)\tPoster <poster@example.test>\t"
         "Sun, 6 Dec 2026 11:49:13 -0000 (UTC)\t<two@example.test>\t\t" +
             std::to_string(two_head.size() + 2 + 16) +
             "\t2\tXref: testserver.example alt.test:2\r\n.\r\n"},
        {"XOVER 5-",
         "224 Overview information follows\r\n5\ttab here\tPoster <poster@example.test>\t"
         "Sun, 6 Dec 2026 11:49:13 -0000 (UTC)\t<5.alt.test@testserver.example>\t\t999\t0\t"
         "Xref: testserver.example alt.test:5\r\n.\r\n"},
        {"XOVER x-2", "501 Syntax error\r\n"},
        {"ARTICLE  2",
         "220 2 <two@example.test> article\r\n" + two_head + "\r\n..dotted\r\nplain\r\n.\r\n"},
        {"BODY 2", "222 2 <two@example.test> body\r\n..dotted\r\nplain\r\n.\r\n"},
        {"ARTICLE 4", "423 No article with that number\r\n"},
        {"ARTICLE <two@example.test>",
         "220 0 <two@example.test> article\r\n" + two_head + "\r\n..dotted\r\nplain\r\n.\r\n"},
        {"LIST",
         "215 Newsgroups in form \"group high low status\"\r\nalt.empty 6 7 y\r\n"
         "alt.test 5 1 y\r\n.\r\n"},
        {"HELLO", "500 What?\r\n"},
        {"QUIT", "205 Bye!\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(client.Request(c.command), c.reply) << c.command;
    EXPECT_EQ(client.Request("GROUP alt.test"), "") << "closed after QUIT";
    EXPECT_EQ(server->Commands().size(), std::size(cases));
    EXPECT_EQ(server->Commands()[8], "XOVER 2-4");
}

TEST_F(NntpTestServerTest, LoginRequiredAndRefused) {
    StartWith({.requireAuth = true, .slaveReply = "500 \"SLAVE\" not implemented\r\n"});
    EXPECT_EQ(client.Request("GROUP alt.test"), "480 Authentication required\r\n");
    EXPECT_EQ(client.Request("AUTHINFO USER user"), "381 Password required\r\n");
    EXPECT_EQ(client.Request("AUTHINFO PASS wrong"), "502 Authentication failed\r\n");
    EXPECT_EQ(client.Request("GROUP alt.test"), "480 Authentication required\r\n");
    EXPECT_EQ(client.Request("AUTHINFO USER user"), "381 Password required\r\n");
    EXPECT_EQ(client.Request("AUTHINFO PASS secret"), "281 Authentication accepted\r\n");
    EXPECT_EQ(client.Request("SLAVE"), "500 \"SLAVE\" not implemented\r\n");
    EXPECT_EQ(client.Request("GROUP alt.test"), "211 3 1 5 alt.test\r\n");
}

TEST_F(NntpTestServerTest, RulesReplaceMergeWithholdAndCutReplies) {
    StartWith();
    server->AddRule({.command = "GROUP alt.test", .uses = 1, .reply = "400 Going down\r\n"});
    server->AddRule({.command = "MODE", .after = "480 Log in first\r\n"});
    server->AddRule({.command = "SLAVE", .silent = true});
    server->AddRule({.command = "XOVER", .dropAfterBytes = 10});
    EXPECT_EQ(client.Request("GROUP alt.test"), "400 Going down\r\n");
    EXPECT_EQ(client.Request("GROUP alt.test"), "211 3 1 5 alt.test\r\n") << "used once only";
    EXPECT_EQ(client.Request("MODE READER"), "200 Reader mode, posting ok\r\n");
    EXPECT_EQ(client.Command("SLAVE"), "480 Log in first\r\n") << "the merged second reply";
    EXPECT_EQ(client.Request("XOVER 1-5"), "224 Overvi") << "cut after 10 bytes, then closed";
    EXPECT_EQ(client.Request("LIST"), "");
}

TEST_F(NntpTestServerTest, ChunkedRepliesArriveWhole) {
    StartWith();
    server->AddRule({.command = "ARTICLE", .chunkSize = 7, .pauseMs = 1});
    server->AddRule({.command = "GROUP", .splitAt = {1, 3, 500}, .pauseMs = 1});
    EXPECT_EQ(client.Request("GROUP alt.test"), "211 3 1 5 alt.test\r\n");
    const std::string article = client.Request("ARTICLE 1");
    EXPECT_EQ(article.substr(0, 36), "220 1 <1.alt.test@testserver.example");
    EXPECT_EQ(article.substr(article.size() - 15), "\r\nline one\r\n.\r\n");
}

TEST(SpoolDirectoryTest, LoadsNumberedArticleFilesOfEachGroupDirectory) {
    NewsSpool spool;
    std::string error;
    EXPECT_EQ(LoadSpoolDirectory(QUILLFIN_TEST_DATA "/spool", spool, &error), 2) << error;
    EXPECT_EQ(spool.GroupNames(), std::vector<std::string>{"alt.binaries.quillfin.spool"});
    const auto summary = spool.Summary("alt.binaries.quillfin.spool");
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->count, 2);
    EXPECT_EQ(summary->first, 1);
    EXPECT_EQ(summary->last, 3);
    const TestArticle* first = spool.Find("alt.binaries.quillfin.spool", 1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->from, "\"Spool Poster\" <spool@example.test>");
    EXPECT_EQ(first->subject, "notes.txt (1/2)");
    EXPECT_EQ(first->body, "first line\r\n.a line that starts with a dot\r\n.\r\nlast line\r\n");
    const TestArticle* second = spool.Find("alt.binaries.quillfin.spool", 3);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->subject, "notes.txt (2/2)") << "folded header joined";
    EXPECT_EQ(second->messageId, "<spool-2@example.test>");

    EXPECT_EQ(LoadSpoolDirectory(QUILLFIN_TEST_DATA "/no-such-dir", spool, &error), -1);
    EXPECT_NE(error.find("no-such-dir"), std::string::npos);
}

TEST(SampleDataTest, UuencodesLikeTheStandardForm) {
    EXPECT_EQ(UuencodeLines("Cat"), "#0V%T\r\n");
    EXPECT_EQ(UuencodeLines(std::string(45, '\0')).size(), 1 + 60 + 2u);
    NewsSpool spool;
    AddOverviewPostings(spool, "alt.bench", 45, 20);
    const auto summary = spool.Summary("alt.bench");
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->count, 45);
    std::string lines;
    spool.AppendOverview("alt.bench", 21, 21, lines);
    EXPECT_EQ(lines.substr(0, lines.find('\t', 3)), "21\t[3/50] - \"file2.r00\" yEnc (1/20)");
}

}  // namespace
}  // namespace quillfin::testserver
