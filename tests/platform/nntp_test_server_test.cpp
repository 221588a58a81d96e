#include "testserver/nntp_test_server.h"

#include <QtCore/qtestsupport_core.h>
#include <gtest/gtest.h>

#include "platform/raw_nntp_client.h"

namespace quillfin::testserver {
namespace {

// Rules are tried in the order added, match the start of a command whatever its case, and
// apply only as often as allowed; a catch-all rule leaves the greeting alone.
TEST(NntpTestServerTest, RulesMatchInOrderAndRunOut) {
    NntpTestServer server;
    server.WithSpool([](NewsSpool& spool) { spool.AddArticle("alt.test", {.subject = "one"}); });
    ASSERT_TRUE(server.Start()) << server.Error();
    server.AddRule({.command = "group ALT.TEST", .uses = 1, .reply = "400 Going down\r\n"});
    server.AddRule({.command = "GROUP", .uses = 1, .reply = "411 Gone\r\n"});
    server.AddRule({.command = "", .uses = 1, .reply = "199 Any\r\n"});
    server.AddRule({.command = ReplyRule::kGreeting, .uses = 1, .reply = "201 Hello\r\n"});
    platform::RawNntpClient client;
    EXPECT_EQ(client.Connect(server.Port()), "201 Hello\r\n");
    for (const char* reply :
         {"400 Going down\r\n", "411 Gone\r\n", "199 Any\r\n", "211 1 1 1 alt.test\r\n"}) {
        EXPECT_EQ(client.Command("GROUP alt.test"), reply);
    }
    platform::RawNntpClient second;
    EXPECT_EQ(second.Connect(server.Port()), "200 Quillfin test server ready (posting ok)\r\n");
    // Beyond the limit a connection is refused; one that closed makes room again.
    ServerOptions options;
    options.maxConnections = 2;
    server.SetOptions(options);
    platform::RawNntpClient third;
    EXPECT_EQ(third.Connect(server.Port()), options.refusal);
    second.Close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.OpenConnections() == 1; }, 5000));
    platform::RawNntpClient fourth;
    EXPECT_EQ(fourth.Connect(server.Port()), options.greeting);
}

}  // namespace
}  // namespace quillfin::testserver
