// The host list's retrieval over a scripted socket (replies -> commands sent, lines logged,
// the file written) and the window logic around it.
#include "hostgroups/host_groups.h"

#include <gmock/gmock.h>

#include <filesystem>

#include "nntp/scan_fixture.h"

namespace quillfin::testing {
namespace {

using hostgroups::HostGroups;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr const char* kList =
    "215 Newsgroups in form \"group high low status\"\r\n"
    "alt.test 300 100 y\r\n"
    "misc.test 3000001000 3000000000 y\r\n"
    ".\r\n";
constexpr const char* kOldFile = "215 old\r\nold.group 2 1 y\r\n.\r\n";

class HostGroupsTest : public ScanFixture {
  protected:
    HostGroupsTest() { host.AttachSocket(&socket); }

    // Opens the window and starts a retrieval; what that logged and sent is forgotten.
    void Retrieve(bool answer = true) {
        host.Open();
        prompts.answers = {answer};
        host.cmdGetHostGroups_Click();
        TakeLogged();
    }
    std::vector<std::string> Say(const std::string& chunk) {
        socket.Deliver(chunk);
        return std::exchange(socket.sent, {});
    }
    std::string File() const { return dir.Read(HostGroups::kFileName); }

    FakeSocket socket;
    HostGroups host{connections, groups, clock, dir.Path()};
};

struct Retrieval {
    const char* name;
    int auth;
    int slave;
    std::vector<std::pair<std::string, std::string>> talk;  // server chunk, our lines
    std::string file;                                       // HOSTGRPS.TXT afterwards
    std::string logged;
    std::string panel1;
};

class RetrievalTest : public HostGroupsTest, public ::testing::WithParamInterface<Retrieval> {};

TEST_P(RetrievalTest, TalksLogsAndWritesTheFile) {
    const Retrieval& c = GetParam();
    dir.Write(HostGroups::kFileName, kOldFile);
    settings.chkAuth = c.auth;
    settings.chkSlave = c.slave;
    settings.User_Name = "joe";
    settings.User_Pass = "pw";
    Retrieve();
    for (const auto& [chunk, lines] : c.talk)
        EXPECT_EQ(Say(chunk), lines.empty() ? std::vector<std::string>{} : Items(lines)) << chunk;
    EXPECT_EQ(File(), c.file);
    EXPECT_EQ(host.Buffer(), c.file);  // the list searched is the one on disk
    EXPECT_EQ(TakeLogged(), Items(c.logged));
    EXPECT_EQ(host.View().panel1, c.panel1);
    // Whatever happened, the window is handed back.
    EXPECT_TRUE(host.View().cmdGetHostGroupsEnabled && host.View().cmdReloadEnabled);
    EXPECT_TRUE(host.View().cmdQueryEnabled && host.View().optionsEnabled);
    EXPECT_EQ(socket.state, nntp::Socket::kClosed);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Replies, RetrievalTest, ::testing::Values(
    // The file keeps what came since the buffer was last emptied: here the greeting too.
    Retrieval{"Plain", 0, 0,
              {{"200 hello\r\n", "LIST"}, {kList, "QUIT"}},
              std::string("200 hello\r\n") + kList, "200 hello|LIST|QUIT",
              "Download complete. HOSTGRPS.TXT (.1 kb) Saved and ready."},
    Retrieval{"LoginEmptiesTheBufferAt381", 1, 0,
              {{"200 hello\r\n", "AUTHINFO USER joe"}, {"381 pass\r\n", "AUTHINFO PASS pw"},
               {"281 ok\r\n", "LIST"}, {kList, "QUIT"}},
              std::string("281 ok\r\n") + kList,
              "200 hello|Authenticating User Name...|AUTHINFO USER joe|"
              "Authenticating Password...|AUTHINFO PASS ********|"
              "Authinfo cleared, login complete...|LIST|QUIT",
              "Download complete. HOSTGRPS.TXT (.1 kb) Saved and ready."},
    Retrieval{"SlaveGranted", 0, 1,
              {{"201 hello\r\n", "SLAVE"}, {"202 ok\r\n", "LIST"}, {kList, "QUIT"}},
              kList, "201 hello|Requesting slave status|SLAVE|202 ok|LIST|QUIT",
              "Download complete. HOSTGRPS.TXT (.1 kb) Saved and ready."},
    Retrieval{"SlaveRefused", 0, 1,
              {{"200 hello\r\n", "SLAVE"}, {"500 what\r\n", "LIST"}, {kList, "QUIT"}},
              std::string("200 hello\r\n500 what\r\n") + kList,
              "200 hello|Requesting slave status|SLAVE|500 what|LIST|QUIT",
              "Download complete. HOSTGRPS.TXT (.1 kb) Saved and ready."},
    // A server that refuses LIST gets QUIT, not LIST again for ever; the old file stays.
    Retrieval{"ListRefused", 0, 0,
              {{"200 hello\r\n", "LIST"}, {"500 no LIST here\r\n", "QUIT"},
               {"500 no LIST here\r\n", ""}},
              kOldFile, "200 hello|LIST|500 no LIST here|QUIT", ""},
    Retrieval{"LoginRefused", 1, 0,
              {{"200 hello\r\n", "AUTHINFO USER joe"}, {"381 pass\r\n", "AUTHINFO PASS pw"},
               {"502 denied\r\n", ""}},
              kOldFile, "200 hello|Authenticating User Name...|AUTHINFO USER joe|"
              "Authenticating Password...|AUTHINFO PASS ********|502 denied", ""}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(HostGroupsTest, AListSplitAtEveryByteIsSavedWholeOnceTheEndLineIsIn) {
    Retrieve();
    EXPECT_THAT(Say("200 hello\r\n"), ElementsAre("LIST"));
    const std::string list = kList;
    for (std::size_t i = 0; i + 1 < list.size(); ++i) {
        ASSERT_THAT(Say(list.substr(i, 1)), IsEmpty()) << i;
        ASSERT_FALSE(dir.Exists(HostGroups::kFileName)) << i;
    }
    // Bytes other than a reply code only count up.
    EXPECT_EQ(host.View().panel1, "Download in progress...  " +
                                      std::to_string(11 + list.size() - 1) + " bytes received");
    EXPECT_THAT(Say(list.substr(list.size() - 1)), ElementsAre("QUIT"));
    EXPECT_EQ(File(), "200 hello\r\n" + list);
}

TEST_F(HostGroupsTest, AReplyPastTheCapIsDroppedAndTheOldListComesBack) {
    HostGroups small{connections, groups, clock, dir.Path(), 100};
    small.AttachSocket(&socket);
    dir.Write(HostGroups::kFileName, kOldFile);
    small.Open();
    prompts.answers = {true};
    small.cmdGetHostGroups_Click();
    EXPECT_TRUE(small.Buffer().empty());
    Say("200 hello\r\n");
    TakeLogged();
    EXPECT_THAT(Say("215 list\r\n" + std::string(60, 'a') + "\r\n"), IsEmpty());
    EXPECT_THAT(Say(std::string(60, 'b') + "\r\n.\r\n"), ElementsAre("QUIT"));
    EXPECT_THAT(TakeLogged(),
                ElementsAre("QUIT", "Group list larger than 100 bytes, connection closed"));
    EXPECT_EQ(socket.state, nntp::Socket::kClosed);
    EXPECT_EQ(File(), kOldFile);
    EXPECT_EQ(small.Buffer(), kOldFile);
    EXPECT_TRUE(small.View().cmdGetHostGroupsEnabled);
}

TEST_F(HostGroupsTest, AFailedWriteIsReportedAndTheListStaysSearchable) {
    // A folder where the file should be: the rename fails, for root as well.
    std::filesystem::create_directory(dir.File(HostGroups::kFileName));
    Retrieve();
    Say("200 hello\r\n");
    TakeLogged();
    EXPECT_THAT(Say(kList), ElementsAre("QUIT"));
    const auto logged = TakeLogged();
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_THAT(logged[0], StartsWith("Error, HOSTGRPS.TXT could not be saved: "));
    EXPECT_EQ(host.View().panel1, logged[0]);
    EXPECT_EQ(host.Buffer(), std::string("200 hello\r\n") + kList);
    EXPECT_TRUE(host.View().cmdQueryEnabled);
}

TEST_F(HostGroupsTest, AnswerNoLeavesEverythingAndAMissingServerHandsTheWindowBack) {
    dir.Write(HostGroups::kFileName, kOldFile);
    Retrieve(false);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_THAT(prompts.shown[0].text, StartsWith("Ok to delete existing HOSTGRPS.TXT?"));
    EXPECT_EQ(socket.connects, 0);
    EXPECT_EQ(host.Buffer(), kOldFile);

    settings.News_Host = "";
    Retrieve(true);
    EXPECT_EQ(socket.connects, 0);
    EXPECT_THAT(prompts.shown.back().text, StartsWith("Enter News Server name by pressing SCAN"));
    EXPECT_EQ(host.Buffer(), kOldFile);
    EXPECT_TRUE(host.View().cmdGetHostGroupsEnabled && host.View().cmdQueryEnabled);
}

TEST_F(HostGroupsTest, AConnectionThatEndsEarlyOrFailsHandsTheWindowBack) {
    dir.Write(HostGroups::kFileName, kOldFile);
    Retrieve();
    Say("200 hello\r\n215 list\r\n");
    TakeLogged();
    socket.PeerClose();
    EXPECT_THAT(TakeLogged(), ElementsAre("Connection closed before the group list was complete"));
    EXPECT_EQ(host.Buffer(), kOldFile);
    EXPECT_TRUE(host.View().cmdGetHostGroupsEnabled);

    Retrieve();
    socket.onError(10061, "Connection refused");
    EXPECT_THAT(TakeLogged(), ElementsAre("Connection refused"));
    EXPECT_EQ(socket.state, nntp::Socket::kClosed);
    EXPECT_TRUE(host.View().cmdGetHostGroupsEnabled);
}

TEST_F(HostGroupsTest, EachWindowHasItsOwnBuffer) {
    std::string viewer_buffer = "222 body\r\n";
    connections.AttachReplyBuffer(4, &viewer_buffer);
    Retrieve();
    Say("200 hello\r\n");
    EXPECT_EQ(viewer_buffer, "222 body\r\n");
    EXPECT_EQ(*connections.ReplyBuffer(3), "200 hello\r\n");
}

TEST_F(HostGroupsTest, LoadingShowsTheSizeOrSaysTheFileIsMissing) {
    host.Open();
    EXPECT_EQ(host.View().panel1, "HOSTGRPS.TXT file not found.  Download to create.");
    EXPECT_FALSE(host.View().cmdQueryEnabled || host.View().optionsEnabled);
    for (const auto& [size, panel2] : {std::pair<std::size_t, std::string>{2048, "2.0 kb "},
                                       {0, ".0 kb "}, {1234567, "1,205.6 kb "}}) {
        dir.Write(HostGroups::kFileName, std::string(size, 'x'));
        host.preload_groups();
        EXPECT_EQ(host.View().panel2, "HOSTGRPS.TXT ready; " + panel2);
        EXPECT_EQ(host.View().panel1, "");
        EXPECT_TRUE(host.View().cmdQueryEnabled && host.View().optionsEnabled);
    }
}

}  // namespace
}  // namespace quillfin::testing
