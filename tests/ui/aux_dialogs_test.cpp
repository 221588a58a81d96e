// The add-a-newsgroup dialog, the about box and the login dialog's port check.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "support/fakes.h"
#include "support/temp_dir.h"
#include "ui/about_box.h"
#include "ui/add_group_dialog.h"
#include "ui/login_dialog.h"
#include "ui_test_support.h"

namespace quillfin::ui {
namespace {

using testing::ScriptedPrompts;

class AddGroupDialogTest : public ::testing::Test {
  protected:
    AddGroupDialogTest() { groups.AddGroup("alt.binaries.pictures"); }
    void Type(const QString& text) {
        auto* field = Control<QLineEdit>(&dialog, "txtGroupName");
        field->clear();
        QTest::keyClicks(field, text);
    }
    void Click(const char* name) { Control<QAbstractButton>(&dialog, name)->click(); }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : groups.Entries()) names.push_back(entry.name);
        return names;
    }

    testing::TempDir dir;
    ScriptedPrompts prompts;
    storage::GroupList groups{dir.Path(), prompts};
    int hosts = 0;
    int searches = 0;
    AddGroupDialog dialog{groups, prompts,
                          AddGroupDialogActions{[this] { ++hosts; }, [this] { ++searches; }}};
};

TEST_F(AddGroupDialogTest, AddsAsTypedSkipsDuplicatesAndRefusesBadNames) {
    struct Case {
        const char* typed;
        bool closes;           // the dialog closes (added, or skipped as a duplicate)
        bool message;          // a refusal was shown
        const char* appended;  // the new last entry; nullptr when none
    };
    const Case cases[] = {
        {"  alt.binaries.test  ", true, false, "  alt.binaries.test  "},  // blanks kept
        {"ALT.Binaries.Pictures", true, false, nullptr},                  // case duplicate
        {" alt.binaries.test", true, false, nullptr},                     // blank duplicate
        {"     ", false, false, nullptr},                                 // all blank: nothing
        {"", false, false, nullptr},
        {"alt.binaries test", false, true, nullptr},
        {"alt,binaries", false, true, nullptr},
        {"alt/binaries", false, true, nullptr},
        {"..", false, true, nullptr},
        {"alt..binaries", false, true, nullptr},
        {"comp.lang.c++", true, false, "comp.lang.c++"},
    };
    for (const Case& c : cases) {
        const auto before = Names();
        prompts.shown.clear();
        dialog.ShowModeless();
        Type(QString::fromLatin1(c.typed));
        Click("cmdOK");
        EXPECT_EQ(dialog.isVisible(), !c.closes) << c.typed;
        EXPECT_EQ(prompts.shown.size(), c.message ? 1u : 0u) << c.typed;
        auto expected = before;
        if (c.appended != nullptr) expected.push_back(c.appended);
        EXPECT_EQ(Names(), expected) << c.typed;
    }
    EXPECT_EQ(groups.At(2).lastRead, "");
    EXPECT_FALSE(groups.At(2).disabled);
}

TEST_F(AddGroupDialogTest, HostHidesAndOpensTheHostListSearchOpensThePageCloseHides) {
    dialog.ShowModeless();
    Click("cmdGrM");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(hosts, 1);
    dialog.ShowModeless();
    Click("cmdWebSiteNGSearch");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(searches, 1);
    SaveShot(&dialog, "add-newsgroup");
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(groups.Count(), 1);
}

TEST(AboutBoxTest, ShowsTheVersionAndGreetsOnEveryActivation) {
    int greetings = 0;
    AboutBox about("v1.0.171", [&] { ++greetings; });
    EXPECT_EQ(Control<QLabel>(&about, "lblVersion")->text(), "v1.0.171");
    EXPECT_FALSE(Control<QLabel>(&about, "imgLogo")->pixmap().isNull());
    for (int round = 1; round <= 2; ++round) {
        about.show();
        QApplication::setActiveWindow(&about);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&about));
        EXPECT_EQ(greetings, round);
        if (round == 1) SaveShot(&about, "about");
        Control<QAbstractButton>(&about, "cmdClose")->click();
        EXPECT_FALSE(about.isVisible());
    }
}

TEST(LoginPortTest, ConnectRefusesAPortOutsideOneTo65535) {
    struct Case {
        const char* port;
        bool accepted;
    };
    const Case cases[] = {
        {"119", true},   {"1", true},      {"65535", true},
        {" 563 ", true}, {"", true},  // empty: the default 119
        {"0", false},    {"65536", false}, {"-1", false},
        {"119x", false}, {"abc", false},   {"99999999999999999999", false},
        {"1 19", false},
    };
    for (const Case& c : cases) EXPECT_EQ(LoginDialog::PortAccepted(c.port), c.accepted) << c.port;

    storage::Settings settings;
    settings.News_Host = "news.example.org";
    settings.News_Port = "70000";
    ScriptedPrompts prompts;
    int connects = 0;
    LoginDialog dialog(
        settings, [&] { ++connects; }, nullptr, &prompts);
    dialog.show();
    Control<QAbstractButton>(&dialog, "cmdGO")->click();
    EXPECT_EQ(connects, 0);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, LoginDialog::kBadPort);
    auto* port = Control<QLineEdit>(&dialog, "txtPort");
    port->selectAll();
    QTest::keyClicks(port, QStringLiteral("119"));
    Control<QAbstractButton>(&dialog, "cmdGO")->click();
    EXPECT_EQ(connects, 1);
}

}  // namespace
}  // namespace quillfin::ui
