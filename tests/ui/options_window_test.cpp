// The options window over a real GroupList and Settings, offscreen, controls found by name.
#include "ui/options_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <set>

#include "support/fakes.h"
#include "support/temp_dir.h"
#include "ui_test_support.h"

namespace quillfin::ui {
namespace {

using testing::ScriptedPrompts;

// The main window's newsgroup filter, as RefreshGroupFilter sees it.
struct FilterList : storage::GroupFilterList {
    bool HasFilterItem(const std::string& text) const override {
        return std::find(items.begin(), items.end(), text) != items.end();
    }
    void AppendFilterItem(const std::string& text) override { items.push_back(text); }
    std::vector<std::string> items;
};

class OptionsWindowTest : public ::testing::Test {
  protected:
    OptionsWindowTest() {
        groups.SetFilterList(&filter);
        for (const char* name : {"alt.one", "alt.two", "alt.three", "alt.four"})
            groups.AddGroup(name);
        groups.At(1).unread = "00042";
        groups.At(2).unread = "00007";
        groups.At(3).unread = "00100";
        groups.At(4).unread = "00001";
        groups.At(3).disabled = true;
        groups.RefreshGroupFilter();
        window.Refresh();
    }
    template <typename T = QWidget>
    T* Find(const char* name) {
        T* control = Control<T>(&window, name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    QTreeView* Table() { return Find<QTreeView>("lvwGroups"); }
    void ClickRow(int row) {
        const QModelIndex index = Table()->model()->index(row, 0);
        QTest::mouseClick(Table()->viewport(), Qt::LeftButton, {},
                          Table()->visualRect(index).center());
    }
    void Click(const char* name) { Find<QAbstractButton>(name)->click(); }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const auto& entry : groups.Entries()) names.push_back(entry.name);
        return names;
    }
    // The table as shown: each row's name.
    std::vector<std::string> ShownNames() {
        std::vector<std::string> names;
        auto* model = Table()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            names.push_back(model->index(row, 0).data().toString().toStdString());
        return names;
    }
    void ShowActive() {
        window.ShowWindow();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    testing::TempDir dir;
    ScriptedPrompts prompts;
    storage::Settings settings;
    storage::GroupList groups{dir.Path(), prompts};
    FilterList filter;
    int adds = 0;
    int browses = 0;
    int helps = 0;
    OptionsWindow window{
        settings, groups, prompts,
        OptionsWindowActions{[this] { ++adds; }, [this] { ++browses; }, [this] { ++helps; }}};
};

TEST_F(OptionsWindowTest, CloseOnlyHidesAndShowingAgainKeepsListSelectionTabAndSettings) {
    window.ShowNewsgroupsTab();
    ClickRow(1);
    EXPECT_EQ(groups.Selected(), 2);
    Find<QTabWidget>("tabOptions")->setCurrentIndex(2);
    Find<QSlider>("sldXOVER")->setValue(700);
    SaveShot(&window, "options-scan");

    for (bool close_box : {true, false}) {
        window.ShowWindow();
        if (close_box)
            EXPECT_FALSE(window.close());  // refused: only hidden
        else
            Click("cmdClose");
        EXPECT_FALSE(window.isVisible());
        window.ShowWindow();
        EXPECT_EQ(Find<QTabWidget>("tabOptions")->currentIndex(), 2);
        EXPECT_EQ(groups.Selected(), 2);
        ASSERT_EQ(Table()->selectionModel()->selectedRows().size(), 1);
        EXPECT_EQ(Table()->selectionModel()->selectedRows().front().row(), 1);
        EXPECT_EQ(Find<QSlider>("sldXOVER")->value(), 700);
        EXPECT_EQ(settings.sldXOVER, 700);
        EXPECT_EQ(ShownNames(), Names());
    }
    // The scan's request opens the newsgroups tab whatever tab was last.
    window.ShowNewsgroupsTab();
    EXPECT_EQ(Find<QTabWidget>("tabOptions")->currentIndex(), 0);
    SaveShot(&window, "options-newsgroups");
    Find<QTabWidget>("tabOptions")->setCurrentIndex(1);
    SaveShot(&window, "options-download");
}

TEST_F(OptionsWindowTest, SlidersKeyboardEndsWriteTheSettingAndTheLabel) {
    struct Case {
        const char* slider;
        const char* label;
        int storage::Settings::*setting;
        int minimum, maximum, small_step;
        const char* min_text;
        const char* max_text;
    };
    const Case cases[] = {
        {"sldRescan", "lblERWait", &storage::Settings::Rescan_Time, 5, 240, 1,
         "Emergency restart wait: 5 seconds", "Emergency restart wait: 240 seconds"},
        {"sldTimeout", "lblTimeout", &storage::Settings::sldTimeout, 15, 240, 1,
         "Restart connection if inactive more than 15 seconds",
         "Restart connection if inactive more than 240 seconds"},
        {"sldXOVER", "lblXOVER", &storage::Settings::sldXOVER, 20, 2000, 1,
         "XOVER burst receive 20 headers at a time", "XOVER burst receive 2000 headers at a time"},
        {"sldXoverInFlight", "lblXoverInFlight", &storage::Settings::XoverInFlight, 1, 16, 1,
         "XOVER requests in flight: 1", "XOVER requests in flight: 16"},
    };
    ShowActive();
    for (const Case& c : cases) {
        auto* slider = Find<QSlider>(c.slider);
        // The keyboard's ends, as a user reaches them.
        Find<QTabWidget>("tabOptions")->setCurrentWidget(slider->parentWidget());
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Home);
        EXPECT_EQ(Find<QLabel>(c.label)->text().toStdString(), c.min_text);
        EXPECT_EQ(settings.*c.setting, c.minimum);
        QTest::keyClick(slider, Qt::Key_End);
        EXPECT_EQ(Find<QLabel>(c.label)->text().toStdString(), c.max_text);
        EXPECT_EQ(settings.*c.setting, c.maximum);
        QTest::keyClick(slider, Qt::Key_Left);
        EXPECT_EQ(settings.*c.setting, c.maximum - c.small_step);
    }
}

TEST_F(OptionsWindowTest, LoadingTakesTheSettingsAndBringsSlidersIntoRange) {
    settings.Rescan_Time = 4;    // below
    settings.sldTimeout = 90;    // inside
    settings.sldXOVER = 100000;  // above
    settings.chkSFX = 1;
    settings.chkAutoExpire = 0;
    settings.chkMakeSubDirs = 7;  // any non-zero is on, and loading leaves it as stored
    settings.Download_Path = "/srv/news/";
    window.LoadFromSettings();
    EXPECT_EQ(settings.Rescan_Time, 5);
    EXPECT_EQ(Find<QLabel>("lblERWait")->text(), "Emergency restart wait: 5 seconds");
    EXPECT_EQ(settings.sldTimeout, 90);
    EXPECT_EQ(Find<QLabel>("lblTimeout")->text(),
              "Restart connection if inactive more than 90 seconds");
    EXPECT_EQ(settings.sldXOVER, 2000);
    EXPECT_EQ(Find<QSlider>("sldXOVER")->value(), 2000);
    EXPECT_TRUE(Find<QCheckBox>("chkSFX")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("chkAutoExpire")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("chkMakeSubDirs")->isChecked());
    EXPECT_EQ(settings.chkMakeSubDirs, 7);
    EXPECT_EQ(Find<QLabel>("lblDownloadPath")->text(), "/srv/news/");

    // Every box is its setting, both ways.
    const std::pair<const char*, int storage::Settings::*> boxes[] = {
        {"chkAllowRestart", &storage::Settings::chkAllowRestart},
        {"chkSaveDecodes", &storage::Settings::chkSaveDecodes},
        {"chkMakeSubDirs", &storage::Settings::chkMakeSubDirs},
        {"chkPar2Repair", &storage::Settings::chkPar2Repair},
        {"chkAutoExpire", &storage::Settings::chkAutoExpire},
        {"chkAutodownload", &storage::Settings::chkAutodownload},
        {"chkSFX", &storage::Settings::chkSFX},
    };
    for (const auto& [name, setting] : boxes) {
        auto* box = Find<QCheckBox>(name);
        const bool was = box->isChecked();
        box->click();
        EXPECT_EQ(settings.*setting, was ? 0 : 1) << name;
        box->click();
        EXPECT_EQ(settings.*setting, was ? 1 : 0) << name;
    }

    // The picker's choice reaches the label on the next refresh.
    Click("cmdBrowseDLPath");
    EXPECT_EQ(browses, 1);
    settings.Download_Path = "/home/me/downloads/";
    window.Refresh();
    EXPECT_EQ(Find<QLabel>("lblDownloadPath")->text(), "/home/me/downloads/");
}

TEST_F(OptionsWindowTest, CautionOnLeavingTheUncheckedDownloadBoxOnlyInsideTheWindow) {
    const std::string caution = OptionsWindow::kCaution;
    ShowActive();
    Find<QTabWidget>("tabOptions")->setCurrentIndex(2);
    auto* box = Find<QCheckBox>("chkAutodownload");
    auto leave_by_tab = [&] {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Tab);
        QCoreApplication::processEvents();
    };
    leave_by_tab();  // checked: never
    EXPECT_TRUE(prompts.shown.empty());

    box->click();
    EXPECT_EQ(settings.chkAutodownload, 0);
    leave_by_tab();
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, caution);
    EXPECT_FALSE(prompts.shown[0].question);
    leave_by_tab();  // every time, not only after unchecking
    EXPECT_EQ(prompts.shown.size(), 2u);

    // Another window taking the focus (another program, or the caution's own box) is not
    // leaving the box inside this window.
    QWidget other;
    other.show();
    box->setFocus();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    QCoreApplication::processEvents();
    EXPECT_EQ(prompts.shown.size(), 2u);

    box->click();  // checked again
    ShowActive();
    leave_by_tab();
    EXPECT_EQ(prompts.shown.size(), 2u);
}

TEST_F(OptionsWindowTest, ButtonsAndHeadersEditTheListAndTheTableFollows) {
    window.ShowNewsgroupsTab();
    // Without a selection: the three edits that need one say so; the moves say nothing.
    for (const char* name : {"cmdToggleRead", "cmdReset", "cmdDelete", "cmdUP", "cmdDN"})
        Click(name);
    ASSERT_EQ(prompts.shown.size(), 3u);
    for (const auto& shown : prompts.shown) EXPECT_EQ(shown.text, "Error, no group selected.");
    EXPECT_EQ(Names(), (std::vector<std::string>{"alt.one", "alt.two", "alt.three", "alt.four"}));

    struct Step {
        int click_row;  // -1: keep the selection
        const char* button;
        std::vector<std::string> names;
        int selected;
    };
    const Step steps[] = {
        {0, "cmdUP", {"alt.one", "alt.two", "alt.three", "alt.four"}, 1},  // first row: stays
        {0, "cmdDN", {"alt.two", "alt.one", "alt.three", "alt.four"}, 2},
        {-1, "cmdDN", {"alt.two", "alt.three", "alt.one", "alt.four"}, 3},  // still selected
        {-1, "cmdDN", {"alt.two", "alt.three", "alt.four", "alt.one"}, 4},
        {3, "cmdDN", {"alt.two", "alt.three", "alt.four", "alt.one"}, 4},  // last row: stays
        {3, "cmdUP", {"alt.two", "alt.three", "alt.one", "alt.four"}, 3},
        {1, "cmdDelete", {"alt.two", "alt.one", "alt.four"}, 0},
    };
    for (const Step& step : steps) {
        if (step.click_row >= 0) ClickRow(step.click_row);
        Click(step.button);
        EXPECT_EQ(Names(), step.names) << step.button;
        EXPECT_EQ(ShownNames(), step.names) << step.button;
        EXPECT_EQ(groups.Selected(), step.selected) << step.button;
        const auto rows = Table()->selectionModel()->selectedRows();
        EXPECT_EQ(rows.size(), step.selected == 0 ? 0 : 1) << step.button;
        if (!rows.isEmpty()) {
            EXPECT_EQ(rows.front().row(), step.selected - 1) << step.button;
        }
    }

    // Toggle: the disabled group comes back into the filter list; greyed while disabled.
    groups.AddGroup("alt.three");
    groups.At(4).disabled = true;
    groups.At(4).lastRead = "4711";
    window.Refresh();
    auto* model = Table()->model();
    const QModelIndex three = model->index(3, 0);
    EXPECT_EQ(three.data(Qt::ForegroundRole).value<QBrush>(),
              QApplication::palette().brush(QPalette::Disabled, QPalette::Text));
    EXPECT_FALSE(three.data(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_FALSE(model->index(0, 0).data(Qt::ForegroundRole).isValid());
    const auto filter_before = filter.items;
    ClickRow(3);
    Click("cmdToggleRead");
    EXPECT_FALSE(groups.At(4).disabled);
    EXPECT_FALSE(model->index(3, 0).data(Qt::ForegroundRole).isValid());
    EXPECT_EQ(filter.items.size(), filter_before.size() + 1);
    EXPECT_EQ(filter.items.back(), "alt.three");
    Click("cmdToggleRead");
    EXPECT_TRUE(groups.At(4).disabled);
    EXPECT_EQ(filter.items.size(), filter_before.size() + 1);  // never removed
    Click("cmdReset");
    EXPECT_EQ(groups.At(4).lastRead, "");
    EXPECT_EQ(model->index(3, 2).data().toString(), "");

    // Header clicks sort by the column's text, then flip; a move switches sorting off.
    auto* header = Table()->header();
    const int unread = 1;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(unread) + 5, header->height() / 2));
    // The re-added group has not been scanned: its empty "Unread" sorts first.
    EXPECT_EQ(ShownNames(),
              (std::vector<std::string>{"alt.three", "alt.four", "alt.two", "alt.one"}));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(unread) + 5, header->height() / 2));
    EXPECT_EQ(Names(), (std::vector<std::string>{"alt.one", "alt.two", "alt.four", "alt.three"}));
    EXPECT_EQ(ShownNames(), Names());
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorSection(), unread);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    ClickRow(3);
    Click("cmdUP");
    EXPECT_EQ(Names(), (std::vector<std::string>{"alt.one", "alt.two", "alt.three", "alt.four"}));
    EXPECT_FALSE(groups.AutoSort());
    EXPECT_FALSE(header->isSortIndicatorShown());

    Click("cmdAddOne");
    Click("cmdHelp");
    EXPECT_EQ(adds, 1);
    EXPECT_EQ(helps, 1);
}

}  // namespace
}  // namespace quillfin::ui
