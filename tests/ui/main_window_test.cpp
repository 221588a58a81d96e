// The program as a user drives it: start-up, a scan of the test server from the window, the
// lists, the batch, saving, exit and a restart, all offscreen with controls found by name.
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "support/fakes.h"
#include "support/temp_dir.h"
#include "testserver/nntp_test_server.h"
#include "testserver/sample_data.h"
#include "ui/application.h"
#include "ui/folder_picker.h"
#include "ui/login_dialog.h"
#include "ui/wait_window.h"
#include "ui_test_support.h"

namespace quillfin::ui {
namespace {

constexpr const char* kBig = "alt.binaries.quillfin.big";
constexpr const char* kSmall = "alt.binaries.quillfin.small";

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.WithSpool([](testserver::NewsSpool& spool) {
            testserver::AddOverviewPostings(spool, kBig, 600, 20);  // 30 postings
            testserver::AddOverviewPostings(spool, kSmall, 30, 3);  // 10 postings
        });
        ASSERT_TRUE(server_.Start()) << server_.Error();
    }
    void TearDown() override { app_.reset(); }

    void StartProgram() {
        app_.reset();
        app_ = std::make_unique<Application>(dir_.Path(), &prompts_);
        app_->SetQuitOnEnd(false);
        app_->Start();
    }
    template <typename T = QWidget>
    T* Find(const char* name) const {
        // The main window first: the options window has buttons of the same names.
        if (auto* own = app_->Main()->findChild<T*>(name)) return own;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == name) return qobject_cast<T*>(top);
            if (auto* child = top->findChild<T*>(name)) return child;
        }
        ADD_FAILURE() << "no control " << name;
        return nullptr;
    }
    std::string Text(const char* name) const {
        app_->Main()->Render();
        return Find<QLabel>(name)->text().toStdString();
    }
    void Click(const char* name) {
        Find<QAbstractButton>(name)->click();
        app_->Main()->Render();
    }
    app::Program& Program() { return app_->Program(); }
    int Rows(const char* list) {
        app_->Main()->Render();
        return Find<QTreeView>(list)->model()->rowCount();
    }
    void SelectRows(const char* list, int first, int last) {
        auto* view = Find<QTreeView>(list);
        view->selectionModel()->select(
            QItemSelection(view->model()->index(first, 0), view->model()->index(last, 0)),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    bool ScanAndWait(int* most_progress) {
        *most_progress = 0;
        Click("cmdGO");
        return QTest::qWaitFor(
            [&] {
                *most_progress =
                    std::max(*most_progress, Find<QProgressBar>("ProgressBar2")->value());
                return Program().groups.At(2).lastRead == "30" &&
                       Program().scan.Driving() == false &&
                       Find<QAbstractButton>("cmdScan")->isEnabled() && Rows("ListView2") == 40;
            },
            20000);
    }
    void PrepareScan() {
        Program().groups.AddGroup(kBig);
        Program().groups.AddGroup(kSmall);
        Program().groups.RefreshGroupFilter();
        Program().settings.News_Host = "127.0.0.1";
        Program().settings.News_Port = std::to_string(server_.Port());
        Program().settings.chkEnableLogging = 1;
    }

    testing::TempDir dir_;
    testserver::NntpTestServer server_;
    testing::ScriptedPrompts prompts_;
    std::unique_ptr<Application> app_;
};

TEST_F(MainWindowTest, StartsInAnEmptyFolderWithOneViewShown) {
    StartProgram();
    EXPECT_TRUE(app_->Main()->isVisible());
    EXPECT_FALSE(app_->Wait()->isVisible());
    EXPECT_EQ(Rows("ListView2"), 0);
    // Exactly one of the two views shows, and the tab strip switches them.
    EXPECT_TRUE(Find("Frame1_0")->isVisible());
    EXPECT_FALSE(Find("Frame1_1")->isVisible());
    Find<QTabBar>("TabStrip1")->tabBarClicked(1);
    EXPECT_TRUE(Find("Frame1_1")->isVisible());
    EXPECT_FALSE(Find("Frame1_0")->isVisible());
    // The article's bar appears only once a batch runs.
    EXPECT_FALSE(Find("ProgressBar3")->isVisible());
    Click("cmdBatchDownload");
    ASSERT_EQ(prompts_.shown.size(), 1u);
    EXPECT_EQ(prompts_.shown[0].text, "Warning, nothing in batch que!");
}

TEST_F(MainWindowTest, ScanFromTheWindowThenFilterQueueSaveEndAndComeBack) {
    StartProgram();
    PrepareScan();

    // No download folder yet: the folder picker comes instead of the login dialog.
    Click("cmdScan");
    EXPECT_TRUE(app_->Picker()->isVisible());
    EXPECT_FALSE(app_->Login()->isVisible());
    app_->Picker()->hide();
    Program().SetDownloadFolder(dir_.Path() + "/");
    Click("cmdScan");
    ASSERT_TRUE(app_->Login()->isVisible());

    int most_progress = 0;
    ASSERT_TRUE(ScanAndWait(&most_progress)) << Program().log.StatusLine();
    EXPECT_GT(most_progress, 0);
    EXPECT_FALSE(app_->Login()->isVisible());
    EXPECT_EQ(Text("lblMCount"), "Read: " + std::to_string(Program().table.HeadersRead));
    EXPECT_GE(Program().table.HeadersRead, 630);

    // The completeness toggles and the group filter rebuild the list.
    Click("btnsComplete");
    EXPECT_EQ(Rows("ListView2"), 0);
    Click("btnsComplete");
    EXPECT_EQ(Rows("ListView2"), 40);
    auto* groups = Find<QComboBox>("cboVG");
    const int small = groups->findText(kSmall);
    ASSERT_GE(small, 0);
    groups->activated(small);
    app_->Main()->Render();
    EXPECT_EQ(Rows("ListView2"), 10);
    groups->activated(groups->findText("All Newsgroups"));
    app_->Main()->Render();
    EXPECT_EQ(Rows("ListView2"), 40);

    // Sorting by a column's text, and the batch: add two, remove one, view parts.
    Find<QTreeView>("ListView2")->header()->sectionClicked(0);
    EXPECT_EQ(Program().views.Rows().SortColumn(), 0);
    SelectRows("ListView2", 0, 1);
    Click("cmdAddtoQue");
    Click("cmdAddtoQue");  // already queued: nothing more
    EXPECT_EQ(Rows("ListView3"), 2);
    EXPECT_NE(Text("lblTotalBatchSize"), "Total batch size: 0.0mb");
    // A screen reader reads what the status line, the counter and the totals show now.
    for (const char* name : {"lblCapX", "lblMCount", "lblTotalBatchSize", "lblTotalBatchTime"}) {
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(Find<QLabel>(name));
        ASSERT_NE(spoken, nullptr) << name;
        EXPECT_EQ(spoken->text(QAccessible::Name).toStdString(), Text(name)) << name;
    }
    SelectRows("ListView3", 1, 1);
    Click("cmdDelete");
    EXPECT_EQ(Rows("ListView3"), 1);
    SelectRows("ListView3", 0, 0);
    Click("cmdViewPartsinBatch");
    EXPECT_TRUE(Program().parts.Visible());
    EXPECT_FALSE(Program().parts.Rows().empty());

    Click("cmdSaveHeaders");
    EXPECT_TRUE(dir_.Exists("npending.dat"));
    EXPECT_FALSE(Program().table.HeadersChanged);

    // A change, then the close box: "No" keeps the program, with the options written.
    SelectRows("ListView2", 5, 5);
    Click("cmdAddtoQue");
    Find<QTreeView>("ListView2")->setColumnWidth(3, 123);
    prompts_.shown.clear();
    prompts_.answers = {false};
    app_->Main()->close();
    ASSERT_EQ(prompts_.shown.size(), 1u);
    EXPECT_FALSE(app_->ended());
    EXPECT_TRUE(app_->Main()->isVisible());
    EXPECT_TRUE(dir_.Exists("QUILFN.INI"));
    EXPECT_TRUE(dir_.Exists("favs.txt"));

    // SIGTERM takes the close path without a question: nothing read is lost.
    const auto postings = Program().table.HeaderCount();
    app_->EndOnSignals();
    ::kill(::getpid(), SIGTERM);
    EXPECT_TRUE(QTest::qWaitFor([&] { return app_->ended(); }, 5000));
    EXPECT_EQ(prompts_.shown.size(), 1u);

    // The next start brings back the table, the batch (in table order) and the widths.
    StartProgram();
    EXPECT_EQ(Program().table.HeaderCount(), postings);
    EXPECT_EQ(Rows("ListView3"), 2);
    EXPECT_EQ(Rows("ListView2"), 40);
    EXPECT_EQ(Find<QTreeView>("ListView2")->columnWidth(3), 123);
    EXPECT_EQ(Program().groups.Count(), 2);
    EXPECT_EQ(Program().groups.At(2).lastRead, "30");
    EXPECT_EQ(Program().settings.News_Port, std::to_string(server_.Port()));
}

// Export NZB... from the header list writes the selection; Import NZB... from the batch list's
// menu queues it, and a file that is no NZB is said so.
TEST_F(MainWindowTest, NzbFilesGoOutFromTheHeaderListAndComeBackIntoTheBatch) {
    StartProgram();
    PrepareScan();
    Program().SetDownloadFolder(dir_.Path() + "/");
    Click("cmdScan");
    int most_progress = 0;
    ASSERT_TRUE(ScanAndWait(&most_progress)) << Program().log.StatusLine();
    std::string chosen = dir_.File("two.nzb");
    app_->SetNzbFileChooser([&](bool) { return chosen; });
    Click("cmdExportNzbBatch");
    ASSERT_EQ(prompts_.shown.size(), 1u);
    EXPECT_EQ(prompts_.shown[0].text, "Nothing selected.");
    SelectRows("ListView2", 0, 1);
    Click("cmdExportNzb");
    ASSERT_TRUE(QTest::qWaitFor([&] { return dir_.Exists("two.nzb"); }, 10000))
        << Program().log.StatusLine();
    Find<QAction>("mnuImportNzb")->trigger();
    EXPECT_EQ(Rows("ListView3"), 2);
    dir_.Write("bad.nzb", "<nzb><file");
    chosen = dir_.File("bad.nzb");
    Find<QAction>("mnuImportNzb")->trigger();
    ASSERT_EQ(prompts_.shown.size(), 2u);
    EXPECT_TRUE(prompts_.shown[1].text.starts_with(
        "The NZB file bad.nzb cannot be read: it is not well-formed"))
        << prompts_.shown[1].text;
    EXPECT_EQ(Rows("ListView3"), 2);
}

TEST_F(MainWindowTest, TheSplashFollowsAHeaderLoad) {
    std::string file = "QFNHF06\r\n 900\r\n";
    for (int i = 1; i <= 900; ++i)
        file += "p" + std::to_string(i) +
                ".jpg\r\nalt.test\r\n12-06-2026\r\nx@example.net\r\nFalse\r\n 0\r\n 1\r\n 100\r\n" +
                std::to_string(i) + "\r\n\r\np.jpg\r\n";
    dir_.Write("npending.dat", file);
    // What the splash shows each time the load lets events run.
    std::set<int> values;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() != "frmWait" || !top->isVisible()) continue;
            auto* bar = top->findChild<QProgressBar*>("ProgressBar1");
            if (top->findChild<QLabel*>("lblNFO")->text() != "Loading Headers" ||
                bar->maximum() != 900)
                continue;
            if (values.insert(bar->value()).second && bar->value() >= 450 && bar->value() < 460)
                SaveShot(top, "frmWait-loading-headers");
        }
    });
    sampler.start(0);
    StartProgram();
    sampler.stop();
    EXPECT_GT(values.size(), 10u);  // the bar moves; not one picture at the end
    EXPECT_EQ(Program().table.HeaderCount(), 900);
    EXPECT_FALSE(app_->Wait()->isVisible());
}

TEST_F(MainWindowTest, StopDuringAScanEndsItAndGivesTheWindowBack) {
    StartProgram();
    PrepareScan();
    Program().SetDownloadFolder(dir_.Path() + "/");
    // The server answers the first XOVER and then goes silent: the scan waits until Stop.
    testserver::ReplyRule first;
    first.command = "XOVER";
    first.uses = 1;
    testserver::ReplyRule silent;
    silent.command = "XOVER";
    silent.silent = true;
    server_.AddRule(first);
    server_.AddRule(silent);
    Click("cmdScan");
    Click("cmdGO");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Rows("ListView2") > 0; }, 10000));
    EXPECT_FALSE(Find<QAbstractButton>("cmdScan")->isEnabled());
    Click("cmdScanStop");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !Program().scan.Driving() && Find<QAbstractButton>("cmdScan")->isEnabled(); },
        10000));
    EXPECT_FALSE(Program().session.Scanning);
    EXPECT_EQ(Find<QProgressBar>("ProgressBar1")->value(), 0);
}

#ifdef QUILLFIN_EXECUTABLE
// Whether the process has a handler for the signal, from its caught-signals mask.
bool Catches(qint64 pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("SigCgt:"))
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1) != 0;
    return false;
}

// The real executable on an empty program folder, ended by SIGTERM and SIGHUP.
TEST(ProgramProcessTest, TerminationSignalsEndItThroughTheClosePath) {
    for (int signal : {SIGTERM, SIGHUP}) {
        testing::TempDir dir;
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QUILLFIN_HOME", QString::fromStdString(dir.Path()));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.start(QUILLFIN_EXECUTABLE, {});
        ASSERT_TRUE(process.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([&] { return Catches(process.processId(), signal); }, 20000));
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(5000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_NE(dir.Read("QUILFN.INI").find("Width="), std::string::npos);
    }
}
#endif

}  // namespace
}  // namespace quillfin::ui
