#include "storage/group_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/text.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfin::storage {
namespace {

using testing::ScriptedPrompts;
using testing::TempDir;

class RecordingFilter : public GroupFilterList {
  public:
    bool HasFilterItem(const std::string& text) const override {
        for (const std::string& item : items)
            if (common::Trim(item) == common::Trim(text)) return true;
        return false;
    }
    void AppendFilterItem(const std::string& text) override { items.push_back(text); }
    std::vector<std::string> items;
};

class GroupListTest : public ::testing::Test {
  protected:
    void Load(const std::string& content) {
        dir.Write("favs.txt", content);
        list.LoadGroupList();
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const GroupEntry& e : list.Entries()) names.push_back(e.name);
        return names;
    }
    void SetColumn(int position, std::string GroupEntry::*field, const std::string& value) {
        list.At(position).*field = value;
    }

    TempDir dir;
    ScriptedPrompts prompts;
    GroupList list{dir.Path(), prompts};
};

TEST_F(GroupListTest, LineForms) {
    struct Case {
        std::string line;
        std::string name;
        std::string lastRead;
        bool disabled;
    } cases[] = {
        {"alt.binaries.test", "alt.binaries.test", "0", false},
        {"alt.test 1234", "alt.test", "1234", false},
        {"alt.test, 1234", "alt.test", "1234", false},
        {"alt.test,1234,True", "alt.test", "1234", true},
        {" alt.test , 77 , tRUE ", "alt.test", "77", true},
        {"alt.test,,False", "alt.test", "", false},
        {"a,1,1", "a", "1", true},
        {"a,1,-1", "a", "1", true},
        {"a,1,0", "a", "1", false},
        {"a,1,yes", "a", "1", false},
        {"a,b,True,extra", "a", "b", false},
        {"", "", "0", false},
        {" alt.test 55", "alt.test", "55", false},
        {"alt.test 1 2", "alt.test", "1 2", false},
        {"\x01\xff junk\x80", "\x01\xff", "junk\x80", false},
    };
    for (const Case& c : cases) Load(c.line + "\r\n");
    ASSERT_EQ(list.Count(), int(std::size(cases)));
    for (int i = 0; i < list.Count(); ++i) {
        const Case& c = cases[i];
        const GroupEntry& e = list.Entries()[std::size_t(i)];
        EXPECT_EQ(e.name, c.name) << c.line;
        EXPECT_EQ(e.lastRead, c.lastRead) << c.line;
        EXPECT_EQ(e.disabled, c.disabled) << c.line;
        EXPECT_EQ(e.stateIcon, 1);
        EXPECT_TRUE(e.unread.empty() && e.first.empty() && e.last.empty() && e.total.empty());
    }
}

TEST_F(GroupListTest, LineEndsBlankLinesAndDuplicates) {
    Load("a.b\r\n\r\na.b\nc.d 5\n" + std::string(1 << 20, 'x') + "\r\nlast,9,True");
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.b", "", "a.b", "c.d", std::string(1 << 20, 'x'),
                                                 "last"}));
    EXPECT_EQ(list.At(2).lastRead, "0");
    EXPECT_TRUE(list.At(6).disabled);
}

TEST_F(GroupListTest, MissingFileAndEmptyListLeaveTheFileAlone) {
    list.LoadGroupList();
    EXPECT_EQ(list.Count(), 0);
    dir.Write("favs.txt", "keep,1,False\r\n");
    EXPECT_TRUE(list.SaveGroupList());
    EXPECT_EQ(dir.Read("favs.txt"), "keep,1,False\r\n");
}

TEST_F(GroupListTest, SavesTheThreePartFormAndReadsItBack) {
    Load("alt.test 1234\r\nalt.off,77,true\nalt.new\n\xe9t\xe9,,False\r\n");
    list.AddGroup("alt.added");
    ASSERT_TRUE(list.SaveGroupList());
    EXPECT_EQ(dir.Read("favs.txt"),
              "alt.test,1234,False\r\nalt.off,77,True\r\nalt.new,0,False\r\n\xe9t\xe9,,False\r\n"
              "alt.added,,False\r\n");
    GroupList again(dir.Path(), prompts);
    again.LoadGroupList();
    ASSERT_EQ(again.Count(), 5);
    for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(again.At(i).name, list.At(i).name);
        EXPECT_EQ(again.At(i).lastRead, list.At(i).lastRead);
        EXPECT_EQ(again.At(i).disabled, list.At(i).disabled);
    }
}

TEST_F(GroupListTest, SaveFailureKeepsOldFile) {
    Load("a,1,False\r\n");
    list.AddGroup("b");
    ASSERT_EQ(::mkdir(dir.File("favs.txt.tmp").c_str(), 0700), 0);  // blocks even root
    EXPECT_FALSE(list.SaveGroupList());
    EXPECT_EQ(dir.Read("favs.txt"), "a,1,False\r\n");
}

TEST_F(GroupListTest, AddGroupSkipsNamesDifferingInCaseOrBlanks) {
    list.AddGroup(" Alt.Test ");
    auto revision = list.Revision();
    list.AddGroup("alt.test");
    list.AddGroup("ALT.TEST  ");
    EXPECT_EQ(Names(), std::vector<std::string>{" Alt.Test "});
    EXPECT_EQ(list.Revision(), revision);
    list.AddGroup("alt.other");
    EXPECT_EQ(list.Count(), 2);
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(GroupListTest, EditsWithoutSelectionShowTheErrorAndChangeNothing) {
    Load("a,5,False\r\n");
    for (auto edit :
         {&GroupList::ToggleSelected, &GroupList::ResetSelected, &GroupList::DeleteSelected}) {
        (list.*edit)();
    }
    ASSERT_EQ(prompts.shown.size(), 3u);
    for (const auto& shown : prompts.shown) {
        EXPECT_EQ(shown.text, "Error, no group selected.");
        EXPECT_EQ(shown.title, "Quillfin");
        EXPECT_FALSE(shown.question);
    }
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.At(1).lastRead, "5");
    EXPECT_FALSE(list.At(1).disabled);
}

TEST_F(GroupListTest, ToggleRefreshesTheFilterButNeverRemoves) {
    Load(" a.one ,1,False\r\nb.two,2,True\r\nB.TWO,3,True\r\n");
    list.RefreshGroupFilter();  // no filter list attached: nothing happens
    RecordingFilter filter;
    filter.items = {"a.one"};
    list.SetFilterList(&filter);
    list.Select(2);
    list.ToggleSelected();
    EXPECT_FALSE(list.At(2).disabled);
    EXPECT_EQ(filter.items, (std::vector<std::string>{"a.one", "b.two"}));
    list.ToggleSelected();
    EXPECT_TRUE(list.At(2).disabled);
    EXPECT_EQ(filter.items, (std::vector<std::string>{"a.one", "b.two"}));
    list.Select(3);
    list.ToggleSelected();
    EXPECT_EQ(filter.items, (std::vector<std::string>{"a.one", "b.two", "B.TWO"}));
}

TEST_F(GroupListTest, ResetAndDelete) {
    Load("a,10,False\r\nb,20,False\r\nc,30,False\r\n");
    SetColumn(2, &GroupEntry::unread, "00005");
    list.Select(2);
    list.ResetSelected();
    EXPECT_EQ(list.At(2).lastRead, "");
    EXPECT_EQ(list.At(2).unread, "00005");
    auto revision = list.Revision();
    list.DeleteSelected();
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(list.Selected(), 0);
    EXPECT_GT(list.Revision(), revision);
    list.Select(2);
    list.Entries().pop_back();  // the list shrank under the selection
    EXPECT_EQ(list.Selected(), 0);
    list.DeleteSelected();
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(prompts.shown.size(), 1u);
}

TEST_F(GroupListTest, MovesKeepTheEntrySelected) {
    Load("a\nb\nc\nd\n");
    SetColumn(2, &GroupEntry::unread, "00042");
    list.At(2).stateIcon = 2;
    list.Select(1);
    list.MoveSelectedUp();
    list.Select(4);
    list.MoveSelectedDown();
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b", "c", "d"}));
    list.Select(2);
    list.MoveSelectedDown();
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "c", "b", "d"}));
    EXPECT_EQ(list.Selected(), 3);
    EXPECT_EQ(list.At(3).unread, "00042");
    EXPECT_EQ(list.At(3).stateIcon, 2);
    list.MoveSelectedDown();
    list.MoveSelectedUp();
    list.MoveSelectedUp();
    list.MoveSelectedUp();
    EXPECT_EQ(Names(), (std::vector<std::string>{"b", "a", "c", "d"}));
    EXPECT_EQ(list.Selected(), 1);
}

TEST_F(GroupListTest, SortByColumnFlipsAndMoveSwitchesAutoSortOff) {
    Load("a\nb\nc\nd\n");
    const char* unread[] = {"00010", "00200", "00003", "00010"};
    for (int i = 1; i <= 4; ++i) SetColumn(i, &GroupEntry::unread, unread[i - 1]);
    list.Select(1);
    list.SortByColumn(1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"c", "a", "d", "b"}));
    list.SortByColumn(1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"b", "a", "d", "c"}));
    EXPECT_TRUE(list.AutoSort());
    EXPECT_FALSE(list.SortAscending());
    EXPECT_EQ(list.Selected(), 2);  // the selection followed "a"
    ASSERT_TRUE(list.SaveGroupList());
    EXPECT_EQ(dir.Read("favs.txt"), "b,0,False\r\na,0,False\r\nd,0,False\r\nc,0,False\r\n");
    list.MoveSelectedUp();
    EXPECT_FALSE(list.AutoSort());
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b", "d", "c"}));
    list.SortByColumn(0);
    EXPECT_TRUE(list.SortAscending());
}

TEST_F(GroupListTest, SortComparesTextNotNumbers) {
    Load("Beta 9\nalpha 10\nGamma 100\n");
    list.SortByColumn(0);
    EXPECT_EQ(Names(), (std::vector<std::string>{"alpha", "Beta", "Gamma"}));
    list.SortByColumn(2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"alpha", "Gamma", "Beta"}));
}

}  // namespace
}  // namespace quillfin::storage
