// Every caption, tool tip and title of the options window, the add-a-newsgroup dialog and the
// about box, read back from the widgets and compared with the texts as written.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QTabWidget>

#include "support/fakes.h"
#include "support/temp_dir.h"
#include "ui/about_box.h"
#include "ui/add_group_dialog.h"
#include "ui/options_window.h"
#include "ui_test_support.h"

namespace quillfin::ui {
namespace {

enum class Property { kText, kToolTip, kTitle, kTab };

struct Text {
    const char* window;
    const char* control;  // nullptr: the window itself
    Property property;
    int tab;  // for kTab
    const char* expected;
};

constexpr Text kTexts[] = {
    {"frmFavs", nullptr, Property::kTitle, 0, "Quillfin Options"},
    {"frmFavs", "tabOptions", Property::kTab, 0, "Newsgroups"},
    {"frmFavs", "tabOptions", Property::kTab, 1, "Download"},
    {"frmFavs", "tabOptions", Property::kTab, 2, "Scan"},
    {"frmFavs", "cmdToggleRead", Property::kText, 0, "&Toggle on/off"},
    {"frmFavs", "cmdToggleRead", Property::kToolTip, 0, "Toggle group on or off"},
    {"frmFavs", "cmdUP", Property::kText, 0, "Move &Up"},
    {"frmFavs", "cmdUP", Property::kToolTip, 0, "Move Selected Group up in the scan order"},
    {"frmFavs", "cmdDN", Property::kText, 0, "Move D&own"},
    {"frmFavs", "cmdDN", Property::kToolTip, 0, "Move Selected Group down in the scan order"},
    {"frmFavs", "cmdReset", Property::kText, 0, "&Reset"},
    {"frmFavs", "cmdReset", Property::kToolTip, 0, "Reset Highest Message read in Selected Group"},
    {"frmFavs", "cmdDelete", Property::kText, 0, "&Delete"},
    {"frmFavs", "cmdDelete", Property::kToolTip, 0, "Delete Selected Group"},
    {"frmFavs", "cmdAddOne", Property::kText, 0, "&Add"},
    {"frmFavs", "cmdAddOne", Property::kToolTip, 0, "Add Group"},
    {"frmFavs", "chkAllowRestart", Property::kText, 0, "Enable Emergency Restart"},
    {"frmFavs", "chkSaveDecodes", Property::kText, 0, "Save Bad Decodes"},
    {"frmFavs", "chkMakeSubDirs", Property::kText, 0, "Create Sub-Folders for each Newsgroup"},
    {"frmFavs", "Label2", Property::kText, 0, "Base Download Path:"},
    {"frmFavs", "lblDownloadPath", Property::kText, 0, ""},
    {"frmFavs", "cmdBrowseDLPath", Property::kText, 0, "..."},
    {"frmFavs", "lblERWait", Property::kText, 0, "Emergency restart wait: 90 seconds"},
    {"frmFavs", "lblTimeout", Property::kText, 0,
     "Restart connection if inactive more than 60 seconds"},
    {"frmFavs", "chkAutoExpire", Property::kText, 0,
     "Auto Expire (automatically expire headers that have been deleted from server)"},
    {"frmFavs", "chkAutodownload", Property::kText, 0,
     "Automatically start batch download at end of scan (if batch is not empty)"},
    {"frmFavs", "lblXOVER", Property::kText, 0, "XOVER burst receive 100 headers at a time"},
    {"frmFavs", "chkSFX", Property::kText, 0, "Play Sound Effects"},
    {"frmFavs", "cmdHelp", Property::kText, 0, "Help"},
    {"frmFavs", "cmdClose", Property::kText, 0, "Close"},
    {"frmAddOne", nullptr, Property::kTitle, 0, "Add a newsgroup"},
    {"frmAddOne", "lblTypeName", Property::kText, 0,
     "Or add a group by simply typing or pasting it here:"},
    {"frmAddOne", "cmdOK", Property::kText, 0, "&Add"},
    {"frmAddOne", "cmdGrM", Property::kText, 0, "host"},
    {"frmAddOne", "lblGrM", Property::kText, 0,
     "Download and/or Query your hosts complete list of newsgroups."},
    {"frmAddOne", "cmdWebSiteNGSearch", Property::kText, 0, "Newsgroup Search Engines"},
    {"frmAddOne", "lblWebSiteNGSearch", Property::kText, 0,
     "Opens a newsgroup search web site in your web browser."},
    {"frmAddOne", "cmdClose", Property::kText, 0, "&Close"},
    {"frmAbout2", nullptr, Property::kTitle, 0, "Quillfin"},
    {"frmAbout2", "lblVersion", Property::kText, 0, "v1.0.171"},
    {"frmAbout2", "cmdClose", Property::kText, 0, "Close"},
};

QString Read(QWidget* window, const Text& text) {
    QWidget* control = text.control == nullptr ? window : Control<QWidget>(window, text.control);
    if (control == nullptr) return QStringLiteral("<missing>");
    switch (text.property) {
        case Property::kTitle:
            return control->windowTitle();
        case Property::kToolTip:
            return control->toolTip();
        case Property::kTab:
            return static_cast<QTabWidget*>(control)->tabText(text.tab);
        case Property::kText:
            if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text();
            if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
            return QStringLiteral("<no text>");
    }
    return {};
}

TEST(WindowTextsTest, EveryCaptionToolTipAndTitleIsAsWritten) {
    testing::TempDir dir;
    testing::ScriptedPrompts prompts;
    storage::Settings settings;
    storage::GroupList groups(dir.Path(), prompts);
    OptionsWindow options(settings, groups, prompts, {});
    AddGroupDialog add(groups, prompts, {});
    AboutBox about("v1.0.171", {});
    for (const Text& text : kTexts) {
        QWidget* window = text.window == std::string("frmFavs") ? static_cast<QWidget*>(&options)
                          : text.window == std::string("frmAddOne") ? static_cast<QWidget*>(&add)
                                                                    : static_cast<QWidget*>(&about);
        ASSERT_EQ(window->objectName().toStdString(), text.window);
        EXPECT_EQ(Read(window, text).toStdString(), text.expected)
            << text.window << "." << (text.control ? text.control : "(title)");
    }
    // The caution is a message of the options window.
    EXPECT_STREQ(OptionsWindow::kCaution,
                 "Caution: You have disabled the automatic start of the download procedure at "
                 "the end of a scan.  You will need to start the download procedure manually.");
}

}  // namespace
}  // namespace quillfin::ui
