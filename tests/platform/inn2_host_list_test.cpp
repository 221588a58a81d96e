// The host group list against a real INN2 reader: its LIST reply saved as it came, searched and
// added to the newsgroup list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostgroups/host_groups.h"
#include "platform/inn2_support.h"
#include "platform/scan_rig.h"

namespace quillfin::platform {
namespace {

TEST(Inn2HostListTest, TheRealListIsSavedAsItCameSearchedAndAdded) {
    const int port = Inn2Port();
    RawNntpClient reference;
    const std::string greeting = reference.Connect(port);
    if (!greeting.starts_with("200")) {
        const std::string reason = "no INN2 reader answers on 127.0.0.1:" + std::to_string(port);
        if (Inn2Required()) FAIL() << reason;
        GTEST_SKIP() << reason;
    }
    const std::string list = reference.MultiLine("LIST");
    ASSERT_TRUE(list.starts_with("215")) << list;
    ASSERT_NE(list.find("\r\nalt.binaries.quillfin.yenc "), std::string::npos) << list;

    ScanRig rig(port);
    QtSocket socket;
    hostgroups::HostGroups host(rig.connections, rig.groups, rig.clock, rig.dir.Path());
    host.AttachSocket(&socket);
    host.Open();
    host.cmdGetHostGroups_Click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return host.View().panel1.starts_with("Download complete."); }, 20000))
        << host.View().panel1 << " " << rig.Dump();
    // The greeting names the server and says whether posting is allowed: the same for every reader.
    EXPECT_EQ(rig.dir.Read("HOSTGRPS.TXT"), greeting + list);
    EXPECT_TRUE(QTest::qWaitFor([&] { return socket.GetState() == 0; }, 5000));

    // The test groups, as the reference reader's list names them.
    std::vector<std::string> expected;
    for (std::size_t at = list.find("\r\nalt.binaries.quillfin."); at != std::string::npos;
         at = list.find("\r\nalt.binaries.quillfin.", at + 2))
        expected.push_back(list.substr(at + 2, list.find(' ', at) - at - 2));
    ASSERT_GE(expected.size(), 2u);
    host.SetSliceLines(7);  // many slices, so the search resumes where each one stopped
    host.QueryCommand("binaries.quillfin", hostgroups::HostGroups::Mode::kContains);
    while (host.ContinueSearch()) {
    }
    ASSERT_EQ(host.Rows().Count(), int(expected.size()));
    for (int i = 0; i < host.Rows().Count(); ++i) host.Rows().Select(i);
    host.cmdAdd_Click();
    ASSERT_EQ(rig.groups.Count(), int(expected.size()));
    for (const std::string& group : expected) EXPECT_NE(rig.groups.Find(group), nullptr) << group;
    host.AttachSocket(nullptr);
}

}  // namespace
}  // namespace quillfin::platform
