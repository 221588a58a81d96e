// Takes the pictures of docs/guide.md from the program itself: a Quillfin on a program folder
// that names the demo server scans, queues, previews and downloads, and each window is saved
// as it is then. scripts/screenshots prepares the folder and the server and runs this.
//   quillfin_screenshots PROGRAM_DIR OUTPUT_DIR
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "ui/add_group_dialog.h"
#include "ui/application.h"
#include "ui/article_viewer_window.h"
#include "ui/find_window.h"
#include "ui/host_groups_window.h"
#include "ui/log_window.h"
#include "ui/login_dialog.h"
#include "ui/main_window.h"
#include "ui/mp3_preview_window.h"
#include "ui/options_window.h"
#include "ui/parts_window.h"

namespace {

using quillfin::ui::Application;

// Message boxes would wait for a click nobody makes: their texts go to the terminal.
class PrintedPrompts : public quillfin::common::Prompts {
  public:
    void Message(const std::string& text, const std::string& title) override {
        std::fprintf(stderr, "[%s] %s\n", title.c_str(), text.c_str());
    }
    bool AskYesNo(const std::string& text, const std::string& title) override {
        std::fprintf(stderr, "[%s] %s (answered No)\n", title.c_str(), text.c_str());
        return false;
    }
};

QString out_dir;
int failures = 0;

template <typename T = QWidget>
T* Find(QWidget* window, const char* name) {
    for (T* child : window->findChildren<T*>(QString::fromLatin1(name)))
        if (child->window() == window) return child;
    std::fprintf(stderr, "no control %s in %s\n", name, qPrintable(window->objectName()));
    std::exit(1);
}

bool Wait(const char* what, const std::function<bool()>& done, int ms = 15000) {
    if (QTest::qWaitFor(done, ms)) return true;
    std::fprintf(stderr, "gave up waiting: %s\n", what);
    ++failures;
    return false;
}

// The windows redraw from the program's state on timers: a moment lets them catch up.
void Shot(QWidget* window, const char* name, int settle_ms = 400) {
    window->show();
    window->raise();
    QTest::qWait(settle_ms);
    // A field that takes the focus selects its text; the picture shows it plain.
    for (QLineEdit* field : window->findChildren<QLineEdit*>()) field->deselect();
    // A palette of 256 colours keeps the files small; the windows use far fewer.
    const QImage image = window->grab().toImage().convertToFormat(
        QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
    const QString path = out_dir + u'/' + QString::fromLatin1(name) + QStringLiteral(".png");
    if (!image.save(path, "PNG", 0)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++failures;
    }
    std::printf("%s\n", qPrintable(path));
}

// Selects the header rows whose subject contains any of the texts; the first text's row is
// the current one.
void SelectHeaders(Application& app, const QStringList& texts) {
    QTreeView* list = app.Main()->HeaderList();
    app.Main()->Render();
    QItemSelection selection;
    QModelIndex current;
    for (const QString& text : texts) {
        for (int row = 0; row < list->model()->rowCount(); ++row) {
            const QModelIndex index = list->model()->index(row, 0);
            if (!index.data().toString().contains(text)) continue;
            selection.select(index, index);
            if (!current.isValid()) current = index;
        }
    }
    list->setCurrentIndex(current);
    list->selectionModel()->select(selection,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void Click(QWidget* window, const char* name) { Find<QAbstractButton>(window, name)->click(); }

}  // namespace

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillfin"));
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PROGRAM_DIR OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    // Absolute before the program starts: it works in its own folder.
    out_dir = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    QDir().mkpath(out_dir);
    PrintedPrompts prompts;
    Application app(argv[1], &prompts);
    app.SetQuitOnEnd(false);
    app.Start();
    quillfin::app::Program& program = app.Program();
    program.settings.chkEnableLogging = 1;
    // The preview's file would start the desktop's player.
    program.mp3_preview.openWithShell = [](const std::string& path) {
        std::fprintf(stderr, "would play %s\n", path.c_str());
    };
    quillfin::ui::MainWindow* main = app.Main();

    // A provider's settings as a user would type them; the demo's are put back afterwards.
    const quillfin::storage::Settings demo = program.settings;
    program.settings.News_Host = "news.example.net";
    program.settings.News_Port = "119";
    program.settings.chkAuth = 1;
    program.settings.User_Name = "yourname";
    program.settings.User_Pass = "secret";
    app.ShowLoginDialog();
    QWidget* login = app.Login();
    // Ticked as a user ticks it: the port follows to 563.
    Find<QCheckBox>(login, "chkSecure")->setChecked(true);
    Shot(login, "login");
    login->hide();
    program.settings = demo;

    // The demo's own settings: Connect starts the scan.
    Click(main, "cmdScan");
    Click(login, "cmdGO");
    Wait("the scan", [&] {
        main->Render();
        return program.table.HeaderCount() > 0 && !program.scan.Driving() &&
               Find<QAbstractButton>(main, "cmdScan")->isEnabled();
    });
    SelectHeaders(app, {QStringLiteral("sunset.bmp")});
    Shot(main, "main-window");

    app.ShowOptionsWindow();
    QWidget* options = app.Options();
    auto* tabs = Find<QTabWidget>(options, "tabOptions");
    tabs->setCurrentIndex(0);
    Shot(options, "options-newsgroups");
    tabs->setCurrentIndex(1);
    Shot(options, "options-download");
    tabs->setCurrentIndex(2);
    Shot(options, "options-scan");
    options->hide();

    QWidget* add = app.AddGroup();
    Find<QLineEdit>(add, "txtGroupName")->setText(QStringLiteral("alt.binaries.example"));
    Shot(add, "add-newsgroup");
    add->hide();

    app.ShowHostGroups();
    QWidget* host = app.HostGroups();
    Click(host, "cmdGetHostGroups");
    Wait("the host list",
         [&] { return program.host_groups.View().panel1.starts_with("Download complete."); });
    app.HostGroups()->Render();
    Find<QRadioButton>(host, "optContains")->click();
    Find<QLineEdit>(host, "txtQuery")->setText(QStringLiteral("quillfin"));
    Click(host, "cmdQuery");
    Wait("the host list search", [&] { return !program.host_groups.Searching(); });
    Shot(host, "host-groups");
    host->close();

    QWidget* find = app.Find();
    Click(main, "cmdSearchSelect");
    Find<QLineEdit>(find, "txtSearch")->setText(QStringLiteral("wav"));
    Shot(find, "find");
    Click(find, "cmdSearch");
    find->hide();
    Shot(main, "main-window-found");
    // Back to every posting, as Group Zoom's first item shows them.
    program.views.SelectFilter(program.views.Filter().Items().front());

    SelectHeaders(app, {QStringLiteral("gradient.bmp")});
    Click(main, "cmdViewParts");
    Shot(app.Parts(), "parts");
    app.Parts()->close();

    SelectHeaders(app, {QStringLiteral("Welcome")});
    Click(main, "cmdViewArt");
    quillfin::ui::ArticleViewerWindow* viewer = app.Viewer();
    Wait("the article text", [&] {
        viewer->Render();
        return !program.viewer.State().text.empty();
    });
    Shot(viewer, "article-viewer");
    viewer->close();

    // Caught while it connects: a part this small is in and decoded a moment later.
    SelectHeaders(app, {QStringLiteral("beeps.mp3")});
    program.HeaderDoubleClick();
    quillfin::ui::Mp3PreviewWindow* preview = app.Mp3Preview();
    preview->Render();
    Shot(preview, "mp3-preview", 0);
    Wait("the preview", [&] {
        preview->Render();
        return !program.mp3_preview.State().visible;
    });

    SelectHeaders(app, {QStringLiteral("sunset.bmp"), QStringLiteral("mandelbrot.bmp"),
                        QStringLiteral("gradient.bmp"), QStringLiteral("chord.wav"),
                        QStringLiteral("beeps.mp3")});
    program.AddToBatchCommand();
    emit Find<QTabBar>(main, "TabStrip1")->tabBarClicked(1);
    Shot(main, "batch");
    Click(main, "cmdBatchDownload");
    Wait("the batch", [&] {
        main->Render();
        return program.batch.Rows().Rows().empty() && !program.download.Decoding();
    });

    // NZB files: two postings exported (the server gives their message-IDs) and queued again.
    const std::string nzb =
        QDir(QString::fromLocal8Bit(argv[1])).filePath("demo.nzb").toStdString();
    app.SetNzbFileChooser([&](bool) { return nzb; });
    emit Find<QTabBar>(main, "TabStrip1")->tabBarClicked(0);
    SelectHeaders(app, {QStringLiteral("sunset.bmp"), QStringLiteral("chord.wav")});
    Click(main, "cmdExportNzb");
    Wait("the export",
         [&] { return !program.ExportingNzb() && QFileInfo::exists(QString::fromStdString(nzb)); });
    emit Find<QTabBar>(main, "TabStrip1")->tabBarClicked(1);
    Click(main, "cmdImportNzb");
    Shot(main, "batch-nzb");
    // The batch list's context menu, as a right click shows it.
    QMenu menu;
    menu.addActions(main->BatchList()->actions());
    menu.popup(main->BatchList()->mapToGlobal(QPoint(80, 60)));
    Shot(&menu, "menu-nzb");
    menu.hide();
    // Fetched by message-ID and filed again beside the first copies.
    Click(main, "cmdBatchDownload");
    Wait("the NZB batch", [&] {
        main->Render();
        return program.batch.Rows().Rows().empty() && !program.download.Decoding();
    });

    Click(main, "cmdLog");
    app.Log()->resize(900, 480);
    Shot(app.Log(), "log");

    program.Shutdown(false);
    return failures == 0 ? 0 : 1;
}
