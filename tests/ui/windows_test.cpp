#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "common/clock.h"
#include "headers/header_table.h"
#include "headers/parts_list.h"
#include "storage/activity_log.h"
#include "support/fakes.h"
#include "support/temp_dir.h"
#include "ui/class_icons.h"
#include "ui/display_text.h"
#include "ui/log_window.h"
#include "ui/parts_window.h"
#include "ui/qt_prompts.h"
#include "ui/wait_window.h"
#include "ui_test_support.h"

namespace quillfin::ui {
namespace {

using testing::ScriptedPrompts;
using testing::TempDir;

TEST(DisplayTextTest, Utf8WhenValidElseLatin1AndCarriageReturnsBreakLines) {
    const struct {
        std::string bytes;
        QString shown;
    } cases[] = {
        {"", QString()},
        {"plain", QStringLiteral("plain")},
        {"caf\xC3\xA9", QStringLiteral("caf\u00E9")},
        {"caf\xE9", QStringLiteral("caf\u00E9")},                          // Latin-1
        {"\xC3\xA9 and \xE9", QStringLiteral("\u00C3\u00A9 and \u00E9")},  // mixed: all Latin-1
        {"cut \xC3", QStringLiteral("cut \u00C3")},                        // truncated sequence
    };
    for (const auto& c : cases) EXPECT_EQ(DisplayText(c.bytes), c.shown) << c.bytes;
    EXPECT_EQ(MessageText("one\r\rtwo\r\nthree"), QStringLiteral("one\n\ntwo\nthree"));
    EXPECT_EQ(PlainCaption(QStringLiteral("Clea&r && &Close")), QStringLiteral("Clear & Close"));
}

TEST(ClassIconsTest, EveryNumberHasItsOwnPictureAndOthersNone) {
    std::vector<QImage> seen;
    for (int number = 1; number <= 6; ++number) {
        QIcon icon = ClassIcon(number);
        ASSERT_FALSE(icon.isNull()) << number;
        seen.push_back(icon.pixmap(16, 16).toImage());
    }
    seen.push_back(GroupStateIcon(1).pixmap(16, 16).toImage());
    seen.push_back(GroupStateIcon(2).pixmap(16, 16).toImage());
    for (std::size_t a = 0; a < seen.size(); ++a)
        for (std::size_t b = a + 1; b < seen.size(); ++b) EXPECT_NE(seen[a], seen[b]) << a << b;
    for (int number : {0, 7, -1}) EXPECT_TRUE(ClassIcon(number).isNull()) << number;
    EXPECT_TRUE(GroupStateIcon(3).isNull());
    EXPECT_FALSE(AppIcon().isNull());
    EXPECT_EQ(SplashPicture().size(), QSize(96, 96));

    // A sheet of the icons at 16 and 32 pixels, to look at.
    QPixmap sheet(8 * 40 + 8, 2 * 40 + 8);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        QIcon icon = i < 6 ? ClassIcon(int(i) + 1) : GroupStateIcon(int(i) - 5);
        painter.drawPixmap(8 + int(i) * 40, 8, icon.pixmap(16, 16));
        painter.drawPixmap(8 + int(i) * 40, 40, icon.pixmap(32, 32));
    }
    painter.end();
    QLabel shown;
    shown.setPixmap(sheet);
    SaveShot(&shown, "icons");
}

// Answers the next message box, recording what it showed.
struct BoxAnswer {
    QString title, text;
    Qt::TextFormat format = Qt::AutoText;
    void Arm(QMessageBox::StandardButton press) {
        QTimer::singleShot(0, [this, press] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            format = box->textFormat();
            box->button(press)->click();
        });
    }
};

TEST(QtPromptsTest, BoxesShowTheTextWithLineBreaksAndReturnTheAnswer) {
    QtPrompts prompts;
    BoxAnswer answer;
    answer.Arm(QMessageBox::Ok);
    prompts.Message("From <a@b>\r\rDone.");
    EXPECT_EQ(answer.title, QStringLiteral("Quillfin"));
    EXPECT_EQ(answer.text, QStringLiteral("From <a@b>\n\nDone."));
    EXPECT_EQ(answer.format, Qt::PlainText);

    answer.Arm(QMessageBox::Yes);
    EXPECT_TRUE(prompts.AskYesNo("Are you sure?", "Exit Quillfin"));
    EXPECT_EQ(answer.title, QStringLiteral("Exit Quillfin"));
    answer.Arm(QMessageBox::No);
    EXPECT_FALSE(prompts.AskYesNo("Are you sure?"));
}

class LogWindowTest : public ::testing::Test {
  protected:
    LogWindowTest() { settings.chkEnableLogging = 1; }
    QListWidget* List() { return Control<QListWidget>(&window, "lstLog"); }
    QPushButton* Button(const char* name) { return Control<QPushButton>(&window, name); }

    TempDir dir;
    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log{settings, clock, dir.Path()};
    ScriptedPrompts prompts;
    std::vector<std::string> opened;
    LogWindow window{log, settings, prompts,
                     [this](const std::string& path) { opened.push_back(path); }};
};

TEST_F(LogWindowTest, ListFollowsTheLogNewestFirst) {
    log.LogEvent("Connecting to news.example.org", true);
    log.LogEvent("status only", false);
    log.LogEvent("Caf\xE9 <a@b> r\xC3\xA9sum\xC3\xA9", true);
    window.show();  // renders what is there at once
    SaveShot(&window, "frmLOG");
    ASSERT_EQ(List()->count(), 2);
    EXPECT_TRUE(List()->item(0)->text().endsWith(
        QStringLiteral("Caf\u00E9 <a@b> r\u00C3\u00A9sum\u00C3\u00A9")));
    EXPECT_TRUE(
        List()->item(1)->text().endsWith(QStringLiteral("  Connecting to news.example.org")));
    EXPECT_EQ(List()->currentRow(), 0);

    log.LogEvent("later", true);  // reaches the list on the next tick, not at once
    EXPECT_EQ(List()->count(), 2);
    EXPECT_TRUE(QTest::qWaitFor([this] { return List()->count() == 3; }, 1000));

    emit List()->itemDoubleClicked(List()->item(1));
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, log.Lines()[1]);  // the stored bytes, whole

    Button("cmdClear")->click();
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(List()->count(), 0);
    window.close();
    EXPECT_FALSE(window.isVisible());
}

TEST_F(LogWindowTest, CheckBoxesAreTheLiveSettings) {
    settings.chkLogFile = 1;  // read from the settings file after the window was made
    window.LoadFromSettings();
    auto* enable = Control<QCheckBox>(&window, "chkEnableLogging");
    auto* to_file = Control<QCheckBox>(&window, "chkLogFile");
    EXPECT_TRUE(enable->isChecked());
    EXPECT_TRUE(to_file->isChecked());
    enable->click();
    to_file->click();
    EXPECT_EQ(settings.chkEnableLogging, 0);
    EXPECT_EQ(settings.chkLogFile, 0);
    to_file->click();
    EXPECT_EQ(settings.chkLogFile, 1);
}

TEST_F(LogWindowTest, ShortcutOpensTheLogFileOnlyWhenItExists) {
    Button("cmdOpsLog")->click();
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "File does not exist.");
    EXPECT_TRUE(opened.empty());

    settings.chkLogFile = 1;
    log.LogEvent("kept", true);
    Button("cmdOpsLog")->click();
    EXPECT_EQ(opened, std::vector<std::string>{dir.File("OPSLOG.TXT")});
    EXPECT_EQ(prompts.shown.size(), 1u);
}

TEST(PartsWindowTest, ShowsThePartsListAndHidesItWhenClosed) {
    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log(settings, clock, "/nonexistent-dir");
    headers::HeaderTable table(log);
    headers::HeaderEntry entry;
    entry.Subject = "holiday.rar [xx/0000003]";
    entry.From = "Poster <poster@example.net>";
    entry.Group = "alt.binaries.test";
    const char* numbers[] = {"1002", "1001", "1003"};
    for (int i = 0; i < 3; ++i) {
        headers::PartRef part;
        part.ArticleNumber = numbers[i];
        part.Subject = "holiday.rar (" + std::to_string(i + 1) + "/3)";
        part.Group = "alt.binaries.test";
        part.Bytes = 250000 + i * 1000;
        entry.Parts.push_back(part);
    }
    headers::HeaderEntryList entries;
    entries.push_back(entry);
    table.Replace(std::move(entries));
    headers::PartsList parts(table);
    PartsWindow window(parts);
    auto* list = Control<QTreeWidget>(&window, "ListView1");
    ASSERT_NE(list, nullptr);

    window.Refresh();
    EXPECT_FALSE(window.isVisible());
    parts.ViewParts(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isVisible(); }, 1000));  // the timer
    SaveShot(&window, "frmViewParts");
    ASSERT_EQ(list->topLevelItemCount(), 3);
    QStringList first;
    for (int column = 0; column < 5; ++column) first << list->topLevelItem(0)->text(column);
    EXPECT_EQ(first, (QStringList{"1002", "250.0", "holiday.rar (1/3)", "poster@example.net",
                                  "alt.binaries.test"}));
    EXPECT_FALSE(list->topLevelItem(2)->icon(0).isNull());

    auto click_header = [&](int column) {
        QHeaderView* header = list->header();
        QPoint at(header->sectionViewportPosition(column) + 5, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    };
    click_header(0);
    EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("1001"));
    click_header(0);
    EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("1003"));
    parts.ViewParts(1);  // listed again: part order
    window.Refresh();
    EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("1002"));

    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(parts.Visible());
    window.Refresh();
    EXPECT_FALSE(window.isVisible());
}

TEST(WaitWindowTest, SplashThenHeaderFileProgress) {
    WaitWindow window("1.0.171");
    auto* status = Control<QLabel>(&window, "lblNFO");
    auto* bar = Control<QProgressBar>(&window, "ProgressBar1");
    EXPECT_EQ(Control<QLabel>(&window, "lblVersion")->text(), QStringLiteral("v1.0.171"));
    EXPECT_EQ(status->text(), QStringLiteral("loading..."));
    EXPECT_EQ(bar->maximum(), 10);

    window.ShowSplash();
    window.SetProgress(4);
    window.SetStatus("Loading INI settings");
    SaveShot(&window, "frmWait");
    EXPECT_EQ(status->text(), QStringLiteral("Loading INI settings"));
    EXPECT_EQ(bar->value(), 4);
    window.SetProgress(11);  // beyond the maximum: full, not ignored
    EXPECT_EQ(bar->value(), 10);
    window.HideSplash();
    EXPECT_FALSE(window.isVisible());

    headers::WaitWindowState state;
    state.visible = true;
    state.lblNFO = "Saving Headers";
    state.progress = {450, 900};
    state.Touch();
    window.Render(state);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(status->text(), QStringLiteral("Saving Headers"));
    EXPECT_EQ(std::make_pair(bar->value(), bar->maximum()), std::make_pair(450, 900));
    state.progress = {0, 0};  // an empty table: an empty bar, not a busy one
    state.Touch();
    window.Render(state);
    EXPECT_EQ(std::make_pair(bar->value(), bar->maximum()), std::make_pair(0, 1));
    state.visible = false;
    state.Touch();
    window.Render(state);
    EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace quillfin::ui
