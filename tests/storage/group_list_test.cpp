#include "storage/group_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfin::storage {
namespace {

using testing::ScriptedPrompts;
using testing::TempDir;
using Names = std::vector<std::string>;

struct RecordingFilter : GroupFilterList {
    bool HasFilterItem(const std::string& text) const override {
        return std::find(items.begin(), items.end(), text) != items.end();
    }
    void AppendFilterItem(const std::string& text) override { items.push_back(text); }
    Names items;
};

class GroupListTest : public ::testing::Test {
  protected:
    void Load(const std::string& content) {
        dir.Write("favs.txt", content);
        list.LoadGroupList();
    }
    Names InOrder() const {
        Names names;
        for (const GroupEntry& e : list.Entries()) names.push_back(e.name);
        return names;
    }

    TempDir dir;
    ScriptedPrompts prompts;
    GroupList list{dir.Path(), prompts};
};

TEST_F(GroupListTest, LoadAddAndSave) {
    const struct {
        std::string line;
        std::string saved;
    } cases[] = {
        {"alt.binaries.test", "alt.binaries.test,0,False"},
        {"alt.test 1234", "alt.test,1234,False"},
        {" alt.test 55", "alt.test,55,False"},
        {"alt.test, 1234", "alt.test,1234,False"},
        {"alt.test,1234,True", "alt.test,1234,True"},
        {" alt.test , 77 , tRUE ", "alt.test,77,True"},
        {"", ",0,False"},
        {"a,1,1", "a,1,True"},
        {"a,1,yes", "a,1,False"},
        {"a,b,True,extra", "a,b,False"},
        {"\x01\xff junk\x80", "\x01\xff,junk\x80,False"},
        {std::string(1 << 16, 'x'), std::string(1 << 16, 'x') + ",0,False"},
    };
    // Mixed line ends and a last line without one.
    std::string content;
    std::string saved;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        content += (i == 0 ? "" : i % 2 ? "\r\n" : "\n") + cases[i].line;
        saved += cases[i].saved + "\r\n";
    }
    Load(content);
    for (const char* name : {"alt.added\nby hand", " ALT.Added\nby hand ", " Alt.Test "})
        list.AddGroup(name);  // names differing in case or blanks only are skipped
    EXPECT_TRUE(prompts.shown.empty());
    ASSERT_TRUE(list.SaveGroupList());
    EXPECT_EQ(dir.Read("favs.txt"), saved + "alt.added by hand,,False\r\n");
}

TEST_F(GroupListTest, SaveNeverLosesTheOldFile) {
    list.LoadGroupList();  // no file yet
    EXPECT_EQ(list.Count(), 0);
    dir.Write("favs.txt", "keep,1,False\r\n");
    EXPECT_TRUE(list.SaveGroupList());  // an empty list is not written
    list.LoadGroupList();
    list.AddGroup("b");
    ASSERT_EQ(::mkdir(dir.File("favs.txt.tmp").c_str(), 0700), 0);  // blocks even root
    EXPECT_FALSE(list.SaveGroupList());
    EXPECT_EQ(dir.Read("favs.txt"), "keep,1,False\r\n");
}

TEST_F(GroupListTest, ResetDeleteAndEditsWithoutSelection) {
    Load("a,10,False\r\nb,20,False\r\nc,30,False\r\n");
    list.At(2).unread = "00005";
    list.Select(2);
    list.ResetSelected();
    EXPECT_EQ(list.At(2).lastRead, "");
    EXPECT_EQ(list.At(2).unread, "00005");
    list.DeleteSelected();
    EXPECT_EQ(InOrder(), (Names{"a", "c"}));
    EXPECT_EQ(list.Selected(), 0);  // a second click must not take the neighbour
    list.Select(2);
    list.Entries().pop_back();  // the list shrank under the selection
    for (auto edit :
         {&GroupList::ToggleSelected, &GroupList::ResetSelected, &GroupList::DeleteSelected,
          &GroupList::MoveSelectedUp, &GroupList::MoveSelectedDown}) {
        (list.*edit)();
    }
    ASSERT_EQ(prompts.shown.size(), 3u);
    for (const auto& shown : prompts.shown) EXPECT_EQ(shown.text, "Error, no group selected.");
    EXPECT_EQ(InOrder(), Names{"a"});
}

TEST_F(GroupListTest, SelectTakesTheFirstAndLastRowsOnly) {
    Load("a\nb\nc\n");
    for (int position : {1, 3, 4, 0, -1}) {
        list.Select(position);
        EXPECT_EQ(list.Selected(), position >= 1 && position <= 3 ? position : 0) << position;
    }
    list.Select(3);
    list.ToggleSelected();
    EXPECT_TRUE(list.At(3).disabled);
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(GroupListTest, ToggleRefreshesTheFilterButNeverRemoves) {
    Load("b.two,2,True\r\nB.TWO,3,True\r\n");
    list.AddGroup(" a.one ");
    list.RefreshGroupFilter();  // no filter list attached yet
    RecordingFilter filter;
    filter.items = {"a.one"};
    list.SetFilterList(&filter);
    for (int position : {1, 1, 2}) {
        list.Select(position);
        list.ToggleSelected();
    }
    EXPECT_TRUE(list.At(1).disabled);
    EXPECT_FALSE(list.At(2).disabled);
    EXPECT_EQ(filter.items, (Names{"a.one", "b.two", "B.TWO"}));
}

TEST_F(GroupListTest, SortFlipsOnASecondClickAndMovesSwitchItOff) {
    Load("b 9\nA 10\nc 100\nD 5\n");
    list.Select(2);
    list.SortByColumn(0);
    EXPECT_EQ(InOrder(), (Names{"A", "b", "c", "D"}));
    list.SortByColumn(2);
    EXPECT_EQ(InOrder(), (Names{"A", "c", "D", "b"}));  // text, not numbers
    list.SortByColumn(2);
    EXPECT_EQ(InOrder(), (Names{"b", "D", "c", "A"}));
    EXPECT_TRUE(list.AutoSort());
    EXPECT_EQ(list.Selected(), 4);  // the selection followed "A"
    list.MoveSelectedDown();        // already last
    EXPECT_FALSE(list.AutoSort());
    for (int i = 0; i < 4; ++i) list.MoveSelectedUp();
    list.MoveSelectedDown();
    EXPECT_EQ(InOrder(), (Names{"b", "A", "D", "c"}));
    EXPECT_EQ(list.Selected(), 2);
    EXPECT_EQ(list.At(2).lastRead, "10");
}

}  // namespace
}  // namespace quillfin::storage
