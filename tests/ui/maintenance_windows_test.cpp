// The header maintenance commands, the Find window, the article viewer and the host
// newsgroup list as a user drives them: offscreen, controls found by name, the viewer and
// the host list talking to the test server over real sockets.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>
#include <algorithm>
#include <filesystem>
#include <memory>

#include "support/fakes.h"
#include "support/temp_dir.h"
#include "testserver/nntp_test_server.h"
#include "ui/application.h"
#include "ui/article_viewer_window.h"
#include "ui/find_window.h"
#include "ui/host_groups_window.h"
#include "ui/main_window.h"
#include "ui/mp3_preview_window.h"
#include "ui_test_support.h"

namespace quillfin::ui {

// Takes the desktop's file openings instead of a player.
class OpenedFiles : public QObject {
    Q_OBJECT

  public:
    OpenedFiles() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
    ~OpenedFiles() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    std::vector<QUrl> opened;

  public slots:
    void Open(const QUrl& url) { opened.push_back(url); }
};

namespace {

constexpr const char* kGroup = "alt.binaries.quillfin.text";
// The uuencoded line of kTune.
constexpr const char* kTuneLine = ";240S`P`@<75I;&QF:6X@<')E=FEE=R!T=6YE";
const std::string kTune("ID3\x03\x00 quillfin preview tune", 27);

headers::HeaderEntry Posting(const std::string& subject, const std::string& number) {
    headers::HeaderEntry entry;
    entry.Subject = subject;
    entry.Group = kGroup;
    entry.From = "poster@example.test";
    entry.Date = "12-06-2026";
    entry.Size = 20000;
    headers::PartRef& part = entry.Parts.emplace_back();
    part.ArticleNumber = number;
    part.Subject = subject;
    part.Group = kGroup;
    part.Bytes = 20000;
    return entry;
}

class MaintenanceWindowsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.WithSpool([](testserver::NewsSpool& spool) {
            testserver::TestArticle article;
            article.subject = "Beach notes";
            article.body = "Line one of the notes\r\n.a line that begins with a dot\r\nend\r\n";
            spool.AddArticle(kGroup, article);
            testserver::TestArticle tune;  // number 2
            tune.subject = "tune.mp3 (1/1)";
            tune.body = std::string("begin 644 tune.mp3\r\n") + kTuneLine + "\r\n`\r\nend\r\n";
            spool.AddArticle(kGroup, tune);
            for (int i = 0; i < 30; ++i) spool.AddGroup("alt.quillfin.group" + std::to_string(i));
        });
        ASSERT_TRUE(server_.Start()) << server_.Error();
        app_ = std::make_unique<Application>(dir_.Path(), &prompts_);
        app_->SetQuitOnEnd(false);
        app_->Start();
        Program().settings.News_Host = "127.0.0.1";
        Program().settings.News_Port = std::to_string(server_.Port());
        Program().settings.chkEnableLogging = 1;
    }
    void TearDown() override { app_.reset(); }

    app::Program& Program() { return app_->Program(); }
    // Eight postings, two about beaches; the first is article 1 on the server.
    void LoadTable() {
        headers::HeaderEntryList entries;
        const char* subjects[] = {"Beach notes", "cat.jpg",  "dog.jpg",   "BEACH.zip",
                                  "tree.jpg",    "bird.jpg", "house.jpg", "car.jpg"};
        int number = 1;
        for (const char* subject : subjects)
            entries.push_back(Posting(subject, std::to_string(number++)));
        Program().table.Replace(std::move(entries));
        Program().table.HeadersRead = 8;
        Program().views.FillGroupFilter();
        app_->Main()->Render();
    }
    template <typename T = QWidget>
    T* In(QWidget* window, const char* name) {
        T* control = Control<T>(window, name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    QTreeView* HeaderList() { return app_->Main()->HeaderList(); }
    int Listed() {
        app_->Main()->Render();
        return HeaderList()->model()->rowCount();
    }
    void Select(int first, int last) {
        auto* view = HeaderList();
        view->selectionModel()->select(
            QItemSelection(view->model()->index(first, 0), view->model()->index(last, 0)),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    void Click(QWidget* window, const char* name) {
        In<QAbstractButton>(window, name)->click();
        app_->Main()->Render();
    }

    testing::TempDir dir_;
    testserver::NntpTestServer server_;
    testing::ScriptedPrompts prompts_;
    std::unique_ptr<Application> app_;
};

TEST_F(MaintenanceWindowsTest, DeleteRestoreAndFindFromTheMainWindow) {
    LoadTable();
    QWidget* main = app_->Main();
    EXPECT_FALSE(In<QAbstractButton>(main, "cmdRestore")->isEnabled());
    Select(0, 0);
    Click(main, "cmdDelHeaders");
    EXPECT_EQ(Listed(), 7);
    EXPECT_TRUE(In<QAbstractButton>(main, "cmdRestore")->isEnabled());
    // The Delete key in the header list does the same.
    Select(1, 1);
    QTest::keyClick(HeaderList(), Qt::Key_Delete);
    EXPECT_EQ(Listed(), 6);
    EXPECT_TRUE(Program().table.HeadersChanged);

    prompts_.answers = {true};
    Click(main, "cmdRestore");
    EXPECT_EQ(Listed(), 8);
    EXPECT_FALSE(In<QAbstractButton>(main, "cmdRestore")->isEnabled());

    Click(main, "cmdSearchSelect");
    FindWindow* find = app_->Find();
    ASSERT_TRUE(find->isVisible());
    QTest::keyClicks(In<QLineEdit>(find, "txtSearch"), QStringLiteral("harbour"));
    SaveShot(find, "find_window");
    prompts_.shown.clear();
    Click(find, "cmdSearch");
    ASSERT_EQ(prompts_.shown.size(), 1u);
    EXPECT_EQ(prompts_.shown[0].text, "No matching headers");
    EXPECT_TRUE(find->isVisible());
    In<QLineEdit>(find, "txtSearch")->setText(QStringLiteral("beach"));
    Click(find, "cmdSearch");
    EXPECT_FALSE(find->isVisible());
    EXPECT_EQ(Listed(), 2);
    EXPECT_EQ(Program().views.Filter().Text(), headers::GroupFilter::kNoGroup);
    SaveShot(main, "main_after_find");
}

TEST_F(MaintenanceWindowsTest, ViewTextFetchesTheBodyFromTheServer) {
    LoadTable();
    Program().table.Entry(2).InBatch = true;  // queued postings are passed over
    Select(1, 1);
    Click(app_->Main(), "cmdViewArt");
    EXPECT_EQ(app_->Viewer()->isVisible(), false);
    Select(0, 1);
    Click(app_->Main(), "cmdViewArt");
    ArticleViewerWindow* viewer = app_->Viewer();
    ASSERT_TRUE(viewer->isVisible());
    auto* text = In<QPlainTextEdit>(viewer, "Text1");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            viewer->Render();
            return !text->toPlainText().isEmpty();
        },
        10000))
        << Program().viewer.State().status;
    EXPECT_EQ(text->toPlainText(), "Line one of the notes\n.a line that begins with a dot\nend\n");
    EXPECT_EQ(viewer->windowTitle(), "Beach notes");
    // Server text is never taken for markup.
    EXPECT_EQ(In<QLabel>(viewer, "StatusBar1_Panel1")->textFormat(), Qt::PlainText);
    const auto commands = server_.Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0], std::string("GROUP ") + kGroup);
    EXPECT_EQ(commands[1], "BODY  1");
    SaveShot(viewer, "article_viewer");
    viewer->close();
    EXPECT_FALSE(Program().viewer.State().visible);
}

TEST_F(MaintenanceWindowsTest, DoubleClickOnAnMp3PostingPlaysItsFirstPartDecoded) {
    OpenedFiles files;
    std::filesystem::create_directory(dir_.File("dl"));
    Program().settings.Download_Path = dir_.File("dl");
    headers::HeaderEntryList entries;
    entries.push_back(Posting("tune.mp3 (1/1)", "2"));
    entries.back().Subject = "tune.mp3";
    Program().table.Replace(std::move(entries));
    Program().views.FillGroupFilter();
    app_->Main()->Render();
    Select(0, 0);
    emit HeaderList()->doubleClicked(HeaderList()->model()->index(0, 0));
    Mp3PreviewWindow* window = app_->Mp3Preview();
    window->Render();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(In<QLabel>(window, "Label1")->textFormat(), Qt::PlainText);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !files.opened.empty(); }, 10000))
        << Program().mp3_preview.State().status;
    EXPECT_EQ(files.opened[0].toLocalFile().toStdString(),
              dir_.File("dl/Quillfin MP3 Preview.MP3"));
    EXPECT_EQ(dir_.Read("dl/Quillfin MP3 Preview.MP3"), kTune);
    window->Render();
    EXPECT_FALSE(window->isVisible());
    const auto commands = server_.Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[1], "ARTICLE  2");
}

TEST_F(MaintenanceWindowsTest, HostListRetrievedSearchedAndAdded) {
    app_->ShowHostGroups();
    HostGroupsWindow* host = app_->HostGroups();
    ASSERT_TRUE(host->isVisible());
    host->Render();
    EXPECT_FALSE(In<QAbstractButton>(host, "cmdQuery")->isEnabled());
    EXPECT_EQ(In<QLabel>(host, "StatusBar1_Panel1")->text(),
              "HOSTGRPS.TXT file not found.  Download to create.");
    EXPECT_EQ(In<QLabel>(host, "StatusBar1_Panel1")->textFormat(), Qt::PlainText);
    Click(host, "cmdGetHostGroups");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Program().host_groups.View().panel1.starts_with("Download complete."); },
        10000))
        << Program().host_groups.View().panel1;
    const std::string file = dir_.Read("HOSTGRPS.TXT");
    EXPECT_TRUE(file.starts_with("200 Quillfin test server ready")) << file.substr(0, 80);
    EXPECT_NE(file.find("\r\nalt.quillfin.group7 0 1 y\r\n"), std::string::npos);
    EXPECT_TRUE(file.ends_with("\r\n.\r\n"));

    host->Render();
    In<QRadioButton>(host, "optContains")->click();
    In<QLineEdit>(host, "txtQuery")->setText(QStringLiteral("group2"));
    Click(host, "cmdQuery");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Program().host_groups.Searching(); }, 10000));
    host->Render();
    auto* list = In<QTreeView>(host, "ListView1");
    ASSERT_EQ(list->model()->rowCount(), 11);  // group2 and group20..29
    EXPECT_TRUE(list->isVisible());
    list->selectionModel()->select(
        QItemSelection(list->model()->index(0, 0), list->model()->index(1, 0)),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    Click(host, "cmdAdd");
    ASSERT_EQ(Program().groups.Count(), 2);
    EXPECT_EQ(Program().groups.At(1).name, "alt.quillfin.group20");
    EXPECT_EQ(Program().groups.At(2).name, "alt.quillfin.group2");
    host->Render();
    SaveShot(host, "host_groups");
}

TEST_F(MaintenanceWindowsTest, ClosingTheHostListMidSearchStopsIt) {
    std::string big = "215 list\r\n";
    for (int i = 0; i < 150000; ++i) big += "alt.many.g" + std::to_string(i) + " 10 1 y\r\n";
    dir_.Write("HOSTGRPS.TXT", big + ".\r\n");
    app_->ShowHostGroups();
    HostGroupsWindow* host = app_->HostGroups();
    Click(host, "cmdQuery");  // an empty query lists every line
    host->Render();
    EXPECT_TRUE(Program().host_groups.Searching());
    EXPECT_TRUE(In<QLabel>(host, "lblSearching")->isVisible());
    EXPECT_EQ(In<QAbstractButton>(host, "cmdQuery")->text(), "&Stop Search");
    QTest::qWait(30);
    SaveShot(host, "host_groups_searching");
    host->close();
    EXPECT_FALSE(Program().host_groups.Searching());
    const int rows = Program().host_groups.Rows().Count();
    EXPECT_LT(rows, 150001);
    QTest::qWait(50);
    EXPECT_EQ(Program().host_groups.Rows().Count(), rows);
    // Opened again, it starts afresh from the file.
    app_->ShowHostGroups();
    EXPECT_EQ(Program().host_groups.Rows().Count(), 0);
    EXPECT_EQ(In<QAbstractButton>(host, "cmdQuery")->text(), "Query");
    app_.reset();  // the windows go while the program's state is still there
}

}  // namespace
}  // namespace quillfin::ui

#include "maintenance_windows_test.moc"
