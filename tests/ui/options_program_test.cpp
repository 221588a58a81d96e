// The options window, its dialogs, help and sounds inside the running program: opened from the
// main window, reached from the first scan, and written back at exit.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <memory>

#include "support/fakes.h"
#include "support/temp_dir.h"
#include "ui/about_box.h"
#include "ui/add_group_dialog.h"
#include "ui/application.h"
#include "ui/article_viewer_window.h"
#include "ui/find_window.h"
#include "ui/folder_picker.h"
#include "ui/help_window.h"
#include "ui/host_groups_window.h"
#include "ui/login_dialog.h"
#include "ui/main_window.h"
#include "ui/mp3_preview_window.h"
#include "ui/options_window.h"
#include "ui_test_support.h"

namespace quillfin::ui {

// Takes the desktop's URL openings instead of a browser.
class UrlRecorder : public QObject {
    Q_OBJECT

  public:
    UrlRecorder() {
        for (const char* scheme : {"file", "http", "https"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Open");
    }
    ~UrlRecorder() override {
        for (const char* scheme : {"file", "http", "https"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    std::vector<QUrl> opened;

  public slots:
    void Open(const QUrl& url) { opened.push_back(url); }
};

namespace {

class OptionsProgramTest : public ::testing::Test {
  protected:
    void TearDown() override { app_.reset(); }
    void StartProgram() {
        app_.reset();
        app_ = std::make_unique<Application>(dir_.Path(), &prompts_);
        app_->SetQuitOnEnd(false);
        app_->Start();
    }
    template <typename T = QWidget>
    T* Find(QWidget* window, const char* name) {
        T* control = Control<T>(window, name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    void Click(QWidget* window, const char* name) {
        Find<QAbstractButton>(window, name)->click();
        app_->Main()->Render();
    }
    QStringList FilterItems() {
        app_->Main()->Render();
        auto* combo = Find<QComboBox>(app_->Main(), "cboVG");
        QStringList items;
        for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
        return items;
    }
    void InstallHelp() {
        std::filesystem::create_directories(dir_.File("help"));
        std::filesystem::copy_file(QUILLFIN_HELP_PAGE, dir_.File("help/quillfin-help.html"));
    }

    testing::TempDir dir_;
    testing::ScriptedPrompts prompts_;
    UrlRecorder urls_;
    std::unique_ptr<Application> app_;
};

TEST_F(OptionsProgramTest, FirstScanWithNoGroupsOpensTheNewsgroupsTabAndTheAddDialogModally) {
    StartProgram();
    auto& program = app_->Program();
    program.SetDownloadFolder(dir_.Path() + "/");
    program.settings.News_Host = "127.0.0.1";
    Click(app_->Main(), "cmdScan");
    ASSERT_TRUE(app_->Login()->isVisible());

    bool was_modal = false;
    bool options_on_newsgroups = false;
    QTimer::singleShot(0, [&] {
        AddGroupDialog* dialog = app_->AddGroup();
        was_modal = dialog->isVisible() && QApplication::activeModalWidget() == dialog;
        options_on_newsgroups =
            app_->Options()->isVisible() &&
            Find<QTabWidget>(app_->Options(), "tabOptions")->currentIndex() == 0;
        SaveShot(dialog, "add-newsgroup-first-scan");
        QTest::keyClicks(Find<QLineEdit>(dialog, "txtGroupName"),
                         QStringLiteral(" alt.binaries.first "));
        Find<QAbstractButton>(dialog, "cmdOK")->click();
    });
    Click(app_->Login(), "cmdGO");  // returns once the modal dialog is closed

    ASSERT_EQ(prompts_.shown.size(), 1u);
    EXPECT_TRUE(prompts_.shown[0].text.starts_with("Before scanning, you need to specify"));
    EXPECT_TRUE(was_modal);
    EXPECT_TRUE(options_on_newsgroups);
    EXPECT_FALSE(app_->Login()->isVisible());
    EXPECT_FALSE(app_->AddGroup()->isVisible());
    ASSERT_EQ(program.groups.Count(), 1);
    EXPECT_EQ(program.groups.At(1).name, " alt.binaries.first ");
    EXPECT_TRUE(FilterItems().contains(QStringLiteral("alt.binaries.first")));
    app_->Options()->Refresh();
    SaveShot(app_->Options(), "options-after-first-add");
}

TEST_F(OptionsProgramTest, WindowEditsReachTheFilterAndTheSettingsFileAtExit) {
    dir_.Write("favs.txt", "alt.on,,False\r\nalt.off,12,True\r\n");
    StartProgram();
    EXPECT_FALSE(app_->Options()->isVisible());  // created hidden
    Click(app_->Main(), "cmdOptions");
    OptionsWindow* options = app_->Options();
    ASSERT_TRUE(options->isVisible());
    EXPECT_EQ(Find<QTabWidget>(options, "tabOptions")->currentIndex(), 0);
    EXPECT_FALSE(FilterItems().contains(QStringLiteral("alt.off")));

    // The disabled group switched on appears in the main window's filter.
    app_->Program().groups.Select(2);
    Click(options, "cmdToggleRead");
    EXPECT_TRUE(FilterItems().contains(QStringLiteral("alt.off")));

    // "..." opens the picker at the download folder; its OK shows the choice in the window.
    std::filesystem::create_directories(dir_.File("downloads"));
    app_->Program().SetDownloadFolder(dir_.File("downloads"));
    Click(options, "cmdBrowseDLPath");
    ASSERT_TRUE(app_->Picker()->isVisible());
    EXPECT_EQ(app_->Picker()->SelectedPath(), dir_.File("downloads/"));
    Click(app_->Picker(), "cmdOK");
    EXPECT_EQ(Find<QLabel>(options, "lblDownloadPath")->text().toStdString(),
              dir_.File("downloads/"));

    Find<QSlider>(options, "sldXOVER")->setValue(1234);
    Find<QSlider>(options, "sldRescan")->setValue(5);
    Find<QSlider>(options, "sldTimeout")->setValue(240);
    Find<QCheckBox>(options, "chkSFX")->click();
    Find<QCheckBox>(options, "chkSaveDecodes")->click();
    app_->Main()->close();  // headers unchanged: no question
    ASSERT_TRUE(app_->ended());
    EXPECT_FALSE(options->isVisible());
    const std::string ini = dir_.Read("QUILFN.INI");
    for (const char* line :
         {"sldXOVER=1234", "Rescan_Time=5", "sldTimeout=240", "chkSFX=1", "chkSaveDecodes=0"})
        EXPECT_NE(ini.find(line), std::string::npos) << line << "\n" << ini;
    EXPECT_NE(dir_.Read("favs.txt").find("alt.off,12,False"), std::string::npos);

    // The next run shows them again.
    StartProgram();
    EXPECT_EQ(Find<QSlider>(app_->Options(), "sldXOVER")->value(), 1234);
    EXPECT_TRUE(Find<QCheckBox>(app_->Options(), "chkSFX")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(app_->Options(), "chkSaveDecodes")->isChecked());
}

TEST_F(OptionsProgramTest, HelpOpensTheTopicOfTheWindowAndSaysSoWhenMissing) {
    StartProgram();
    std::vector<QUrl> helped;
    bool desktop_fails = false;
    app_->SetDesktopOpener([&](const QUrl& url, const std::function<void()>& failed) {
        helped.push_back(url);
        if (desktop_fails) failed();
    });
    Click(app_->Main(), "cmdHelp");  // no pages in the program's folder or beside the tests
    ASSERT_EQ(prompts_.shown.size(), 1u);
    EXPECT_NE(prompts_.shown[0].text.find("help pages are not installed"), std::string::npos);
    EXPECT_TRUE(helped.empty());

    InstallHelp();
    const auto press_f1 = [](QWidget* window) {
        window->show();
        QApplication::setActiveWindow(window);
        EXPECT_TRUE(QTest::qWaitForWindowActive(window)) << window->objectName().toStdString();
        QTest::keyClick(window, Qt::Key_F1);
    };
    Click(app_->Main(), "cmdHelp");
    Click(app_->Main(), "cmdOptions");
    Click(app_->Options(), "cmdHelp");
    app_->ShowOptionsWindow();
    press_f1(app_->Options());
    Click(app_->Options(), "cmdAddOne");
    press_f1(app_->AddGroup());
    Click(app_->AddGroup(), "cmdWebSiteNGSearch");
    app_->AddGroup()->hide();
    for (QWidget* window :
         {static_cast<QWidget*>(app_->Find()), static_cast<QWidget*>(app_->HostGroups()),
          static_cast<QWidget*>(app_->Viewer()), static_cast<QWidget*>(app_->Mp3Preview()),
          app_->Picker()->findChild<QWidget*>("frmMakePath")}) {
        ASSERT_NE(window, nullptr);
        press_f1(window);
        window->hide();
    }

    const char* topics[] = {"main",        "options",        "options",     "add-newsgroup", "find",
                            "host-groups", "article-viewer", "mp3-preview", "make-folder"};
    ASSERT_EQ(helped.size(), std::size(topics));
    const QUrl page =
        QUrl::fromLocalFile(QString::fromStdString(dir_.File("help/quillfin-help.html")));
    const std::string html = dir_.Read("help/quillfin-help.html");
    for (std::size_t i = 0; i < helped.size(); ++i) {
        EXPECT_EQ(helped[i].adjusted(QUrl::RemoveFragment), page) << i;
        EXPECT_EQ(helped[i].fragment().toStdString(), topics[i]) << i;
        // The page has the section the topic names.
        EXPECT_NE(html.find("id=\"" + std::string(topics[i]) + "\""), std::string::npos);
    }
    ASSERT_EQ(urls_.opened.size(), 1u);
    EXPECT_EQ(urls_.opened[0].scheme(), "https");
    EXPECT_EQ(prompts_.shown.size(), 1u);
    EXPECT_EQ(app_->Help(), nullptr);

    // A desktop with no browser: the page in a window of the program's own, at the section.
    desktop_fails = true;
    press_f1(app_->Find());
    HelpWindow* help = app_->Help();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    auto* browser = Find<QTextBrowser>(help, "txtHelp");
    EXPECT_EQ(browser->source(), page);
    EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("Search even deleted headers")));
    EXPECT_GT(browser->verticalScrollBar()->value(), 0);  // not left at the top of the page
    SaveShot(help, "help_window_find");
    app_->Find()->hide();

    // The host button trades the dialog for the server's group list.
    app_->AddGroup()->show();
    Click(app_->AddGroup(), "cmdGrM");
    EXPECT_FALSE(app_->AddGroup()->isVisible());
    EXPECT_TRUE(app_->HostGroups()->isVisible());
}

TEST_F(OptionsProgramTest, SoundsFollowTheSettingFromStartUpOnAndAboutGreets) {
    // Sounds on in the settings file: the start-up sound plays once the file has been read.
    dir_.Write("QUILFN.INI", "[Options]\r\nchkSFX=1\r\n");
    std::filesystem::create_directories(dir_.File("SFX"));
    for (const char* name : {"Startup.WAV", "hi.wav", "scan.wav"})
        std::filesystem::copy_file(std::string(QUILLFIN_BUILT_SFX) + "/" +
                                       (std::string(name) == "Startup.WAV" ? "startup.wav" : name),
                                   dir_.File(std::string("SFX/") + name));
    StartProgram();
    auto& sounds = app_->Sounds();
    EXPECT_EQ(sounds.Chosen(), 1);
    EXPECT_EQ(sounds.LastChosen(), dir_.File("SFX/Startup.WAV"));

    Click(app_->Main(), "cmdAbout");
    AboutBox* about = app_->About();
    ASSERT_TRUE(about->isVisible());
    QApplication::setActiveWindow(about);
    ASSERT_TRUE(QTest::qWaitForWindowActive(about));
    EXPECT_EQ(sounds.LastChosen(), dir_.File("SFX/hi.wav"));

    // Off in the window: nothing more plays.
    const int chosen = sounds.Chosen();
    Click(app_->Main(), "cmdOptions");
    Find<QCheckBox>(app_->Options(), "chkSFX")->click();
    EXPECT_EQ(app_->Program().settings.chkSFX, 0);
    sounds.Play("hi.wav");
    sounds.Play("scan.wav");
    EXPECT_EQ(sounds.Chosen(), chosen);
    EXPECT_EQ(sounds.LastChosen(), "");
}

}  // namespace
}  // namespace quillfin::ui

#include "options_program_test.moc"
