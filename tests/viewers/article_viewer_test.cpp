// The article viewer's exchange over a scripted socket: what it sends for each reply, what
// it shows and logs, and where it stops.
#include "viewers/article_viewer.h"

#include <gmock/gmock.h>

#include "nntp/scan_fixture.h"

namespace quillfin::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kBody =
    "222 0 <a@b> body\r\nfirst line\r\n..leading dot\r\n..\r\n\r\nlast line\r\n.\r\n";
// What the reader sees: the stuffing undone, the end line gone.
constexpr const char* kShown = "first line\r\n.leading dot\r\n.\r\n\r\nlast line\r\n";

class ArticleViewerTest : public ScanFixture {
  protected:
    ArticleViewerTest() { viewer.AttachSocket(&socket); }
    void Open(const std::string& article = "4000000000") {
        viewer.Open({"alt.test", article, "A subject (1/2)"});
        TakeLogged();
    }
    std::vector<std::string> Say(const std::string& chunk) {
        socket.Deliver(chunk);
        return std::exchange(socket.sent, {});
    }

    FakeSocket socket;
    viewers::ArticleViewer viewer{connections};
};

struct Exchange {
    const char* name;
    int auth;
    int slave;
    std::vector<std::pair<std::string, std::string>> talk;  // server chunk, our lines
    std::string status;
    std::string logged;  // after opening
    std::string shown;   // message boxes
    bool textShown;
};

class ViewerExchangeTest : public ArticleViewerTest,
                           public ::testing::WithParamInterface<Exchange> {};

TEST_P(ViewerExchangeTest, SendsShowsAndLogs) {
    const Exchange& c = GetParam();
    settings.chkAuth = c.auth;
    settings.chkSlave = c.slave;
    settings.User_Name = "joe";
    settings.User_Pass = "pw";
    Open();
    for (const auto& [chunk, lines] : c.talk)
        EXPECT_EQ(Say(chunk), lines.empty() ? std::vector<std::string>{} : Items(lines)) << chunk;
    EXPECT_EQ(viewer.State().status, c.status);
    EXPECT_EQ(TakeLogged(), c.logged.empty() ? std::vector<std::string>{} : Items(c.logged));
    std::string shown;
    for (const auto& box : prompts.shown) shown += box.text + "|";
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(viewer.State().text, c.textShown ? kShown : "");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Replies, ViewerExchangeTest, ::testing::Values(
    // The number goes out with its sign blank, past 32 bits intact.
    Exchange{"Plain", 0, 0,
             {{"200 ready\r\n", "GROUP alt.test"}, {"211 3 1 3 alt.test\r\n", "BODY  4000000000"},
              {kBody, "QUIT"}, {"205 bye\r\n", ""}},
             "", "GROUP alt.test|BODY  4000000000|QUIT", "", true},
    Exchange{"Login", 1, 0,
             {{"200 ready\r\n", "AUTHINFO USER joe"}, {"381 more\r\n", "AUTHINFO PASS pw"},
              {"281 ok\r\n", "GROUP alt.test"}, {"211 3 1 3 alt.test\r\n", "BODY  4000000000"},
              {kBody, "QUIT"}},
             "", "Authenticating User Name...|AUTHINFO USER joe|Authenticating Password...|"
             "AUTHINFO PASS ********|GROUP alt.test|BODY  4000000000|QUIT", "", true},
    // A refused SLAVE goes on to the group.
    Exchange{"SlaveRefused", 0, 1,
             {{"201 ready\r\n", "SLAVE"}, {"500 what?\r\n", "GROUP alt.test"},
              {"211 3 1 3 alt.test\r\n", "BODY  4000000000"}, {kBody, "QUIT"}},
             "", "SLAVE|GROUP alt.test|BODY  4000000000|QUIT", "", true},
    Exchange{"SlaveGranted", 0, 1,
             {{"200 ready\r\n", "SLAVE"}, {"202 ok\r\n", "GROUP alt.test"}},
             "202 ok\r\n", "SLAVE|GROUP alt.test", "", false},
    // A refused GROUP is not sent again and again: logged, and QUIT.
    Exchange{"GroupRefused", 0, 0,
             {{"200 ready\r\n", "GROUP alt.test"}, {"500 no\r\n", "QUIT"}, {"500 no\r\n", ""}},
             "500 no\r\n", "GROUP alt.test|500 no|QUIT|500 no", "", false},
    // No such article: the box, nothing more sent, still waiting.
    Exchange{"NoSuchArticle", 0, 0,
             {{"200 ready\r\n", "GROUP alt.test"},
              {"211 3 1 3 alt.test\r\n", "BODY  4000000000"},
              {"423 no such article\r\n", ""}},
             "Please wait (downloading)...  ", "GROUP alt.test|BODY  4000000000",
             "bad article number|", false},
    Exchange{"LoginRefused", 1, 0,
             {{"200 ready\r\n", "AUTHINFO USER joe"}, {"381 more\r\n", "AUTHINFO PASS pw"},
              {"502 denied\r\n", ""}},
             "", "Authenticating User Name...|AUTHINFO USER joe|Authenticating Password...|"
             "AUTHINFO PASS ********", "Authentication Error.  Check Username/Password...|",
             false}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(ArticleViewerTest, APartKnownByMessageIdIsAskedForByIt) {
    Open("<p1@example.net>");
    EXPECT_EQ(Say("200 ready\r\n"), Items("GROUP alt.test"));
    EXPECT_EQ(Say("211 3 1 3 alt.test\r\n"), Items("BODY <p1@example.net>"));
}

TEST_F(ArticleViewerTest, ABodySplitAtEveryByteShowsOnlyOnceTheEndLineIsIn) {
    Open("17");
    Say("200 ready\r\n");
    EXPECT_THAT(Say("211 3 1 3 alt.test\r\n"), ElementsAre("BODY  17"));
    const std::string body = kBody;
    for (std::size_t i = 0; i + 1 < body.size(); ++i) {
        EXPECT_THAT(Say(body.substr(i, 1)), IsEmpty()) << i;
        ASSERT_EQ(viewer.State().text, "") << i;
    }
    EXPECT_EQ(viewer.State().status, "Please wait (downloading)...  ");
    EXPECT_THAT(Say(body.substr(body.size() - 1)), ElementsAre("QUIT"));
    EXPECT_EQ(viewer.State().text, kShown);
    EXPECT_EQ(viewer.State().status, "");
    EXPECT_EQ(viewer.State().title, "A subject (1/2)");
}

TEST_F(ArticleViewerTest, AReplyOfTheCapIsShownOneByteMoreIsDroppedLoggedAndClosed) {
    for (const std::size_t extra : {0, 1}) {
        viewers::ArticleViewer small{connections, 64};
        small.AttachSocket(&socket);
        small.Open({"alt.test", "5", "s"});
        Say("200 ready\r\n");
        Say("211 3 1 3 alt.test\r\n");
        TakeLogged();
        const int closes = socket.closes;
        // 10 + 49 + 5 bytes: exactly the cap, then one more.
        const std::string lines = std::string(49 + extra, 'x') + "\r\n.\r\n";
        EXPECT_THAT(Say("222 body\r\n" + lines.substr(0, 30)), IsEmpty());
        const auto sent = Say(lines.substr(30));
        if (extra == 0) {
            EXPECT_THAT(sent, ElementsAre("QUIT"));
            EXPECT_EQ(small.State().text, std::string(49, 'x') + "\r\n");
            continue;
        }
        EXPECT_THAT(sent, IsEmpty());
        EXPECT_EQ(socket.closes, closes + 1);
        EXPECT_THAT(TakeLogged(), ElementsAre("Reply larger than 64 bytes, connection closed"));
        EXPECT_EQ(small.State().text, "");
        EXPECT_TRUE(small.Buffer().empty());
    }
}

TEST_F(ArticleViewerTest, NoServerNoConnectionAndAnOpenSocketIsClosedFirst) {
    settings.News_Host = "";
    settings.News_Port = "";
    viewer.Open({"g", "1", "s"});
    EXPECT_EQ(socket.connects, 0);
    EXPECT_EQ(settings.News_Port, "119");
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_THAT(prompts.shown[0].text, ::testing::StartsWith("Enter News Server name by pressing"));
    EXPECT_EQ(viewer.State().title, "s");

    settings.News_Host = "news.example.test";
    settings.News_Port = "563abc";
    socket.state = nntp::Socket::kPeerClosing;
    viewer.Open({"g", "1", "s"});
    EXPECT_EQ(socket.closes, 1);
    EXPECT_EQ(socket.remote_port, 563);
    EXPECT_EQ(socket.connects, 1);
    EXPECT_EQ(viewer.State().status, "Connecting...");

    // A socket that will not close: the attempt is given up.
    socket.state = socket.state_after_close = nntp::Socket::kError;
    viewer.Open({"g", "1", "s"});
    EXPECT_EQ(viewer.State().status, "Connection Error...");
    EXPECT_EQ(socket.connects, 1);
}

TEST_F(ArticleViewerTest, EachWindowHasItsOwnBufferForTheLogin) {
    // Connection 3's buffer holds a password request; the viewer must not answer it.
    std::string host_list_buffer = "200 hi\r\n381 password please\r\n";
    connections.AttachReplyBuffer(3, &host_list_buffer);
    settings.chkAuth = 1;
    settings.User_Name = "joe";
    settings.User_Pass = "pw";
    Open();
    EXPECT_THAT(Say("200 ready\r\n"), ElementsAre("AUTHINFO USER joe"));
    EXPECT_EQ(host_list_buffer, "200 hi\r\n381 password please\r\n");
    // Its own buffer: a user and password request in one chunk answers both.
    Open();
    EXPECT_THAT(Say("480 who\r\n381 password\r\n"),
                ElementsAre("AUTHINFO USER joe", "AUTHINFO PASS pw"));
}

TEST_F(ArticleViewerTest, ErrorsAndClosingTheWindowEndTheConnection) {
    Open();
    socket.onError(10061, "Connection refused");
    EXPECT_EQ(viewer.State().status, "Connection refused");
    EXPECT_THAT(TakeLogged(), ElementsAre("Connection refused"));
    EXPECT_EQ(socket.closes, 1);

    Open();
    Say("200 ready\r\n");
    viewer.WindowClosed();
    EXPECT_EQ(socket.closes, 2);
    EXPECT_THAT(socket.sent, IsEmpty());  // dropped without QUIT
    EXPECT_FALSE(viewer.State().visible);
}

}  // namespace
}  // namespace quillfin::testing
