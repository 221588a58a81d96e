#include "ui/application.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QProcess>
#include <QScreen>
#include <QSessionManager>
#include <QTimer>
#include <QUrl>

#include "app/program_directory.h"
#include "ui/about_box.h"
#include "ui/add_group_dialog.h"
#include "ui/article_viewer_window.h"
#include "ui/certificate_dialog.h"
#include "ui/display_text.h"
#include "ui/find_window.h"
#include "ui/folder_picker.h"
#include "ui/help_pages.h"
#include "ui/help_window.h"
#include "ui/host_groups_window.h"
#include "ui/log_window.h"
#include "ui/login_dialog.h"
#include "ui/main_window.h"
#include "ui/mp3_preview_window.h"
#include "ui/options_window.h"
#include "ui/parts_window.h"
#include "ui/wait_window.h"

namespace quillfin::ui {

namespace {

// A neutral public page for finding newsgroups by name or topic.
constexpr const char* kNewsgroupSearchPage = "https://groups.google.com/search";

}  // namespace

Application::Application(std::string program_dir, common::Prompts* prompts)
    : prompts_(prompts != nullptr ? *prompts : qt_prompts_),
      sounds_([this] { return program_ != nullptr && program_->settings.chkSFX != 0; },
              ResourceFolders(program_dir)) {
    program_ = std::make_unique<app::Program>(
        std::move(program_dir),
        app::Services{clock_, pump_, prompts_, *this, sounds_, tcp1_, timerbot1_, tcp2_,
                      timerbot2_, timer1_});
    program_->par2.SetRunner(&par2_runner_);
    wait_ = std::make_unique<WaitWindow>(std::string(app::Program::kVersion).substr(1));
    SetUpTls();
}

Application::~Application() {
    // An open question must not answer into a program that is going away.
    for (const QPointer<CertificateDialog>& dialog : certificate_dialogs_) {
        if (dialog.isNull()) continue;
        dialog->Disarm();
        delete dialog.data();
    }
    program_->certificates.ask = nullptr;
    // The windows render the program's state until they are gone.
    help_window_.reset();
    host_groups_window_.reset();
    mp3_preview_window_.reset();
    viewer_window_.reset();
    find_window_.reset();
    about_.reset();
    add_group_.reset();
    options_.reset();
    parts_window_.reset();
    log_window_.reset();
    picker_.reset();
    login_.reset();
    main_.reset();
    wait_.reset();
}

void Application::Start() {
    // One wait window for the whole run. Started before Main at every turn of the event loop,
    // so the splash follows the header load, which lets events run; later ~30 times a second.
    wait_render_ = new QTimer(this);
    connect(wait_render_, &QTimer::timeout, this,
            [this] { wait_->Render(program_->store.WaitWindow()); });
    wait_render_->start(0);
    program_->Main(*this);
    wait_render_->start(33);
}

void Application::EndOnSignals() {
    signals_ =
        std::make_unique<platform::TerminationSignals>([this] { program_->Shutdown(false); });
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { program_->Shutdown(false); });
}

void Application::SetUpTls() {
    tls_.enabled = [this] { return program_->settings.chkSecure != 0; };
    tls_.check = &program_->certificates;
    tls_.log = [this](const std::string& line) { program_->log.LogEvent(line, true); };
    tcp1_.SetTls(&tls_);
    tcp2_.SetTls(&tls_);
    // The connections of a batch over several connections share the same TLS rules.
    const download::ConnectionPool::Platform pool_platform{
        [this]() -> std::unique_ptr<nntp::Socket> {
            auto socket = std::make_unique<platform::QtSocket>();
            socket->SetTls(&tls_);
            return socket;
        },
        []() -> std::unique_ptr<nntp::Timer> { return std::make_unique<platform::QtTimer>(); }};
    program_->download.SetPoolPlatform(pool_platform);
    // An NZB export asks for message-IDs over a connection made the same way.
    program_->SetNzbPlatform(pool_platform);
    program_->certificates.ask = [this](const nntp::ServerCertificate& certificate,
                                        nntp::CertificateCheck::Answer answer) {
        AskAboutCertificate(certificate, std::move(answer));
    };
}

void Application::AskAboutCertificate(const nntp::ServerCertificate& certificate,
                                      nntp::CertificateCheck::Answer answer) {
    // Asked from inside a socket's signal: shown, not run in a loop of its own.
    auto* dialog = new CertificateDialog(certificate, std::move(answer), main_.get());
    std::erase_if(certificate_dialogs_, [](const auto& open) { return open.isNull(); });
    certificate_dialogs_.emplace_back(dialog);
    dialog->open();
    dialog->raise();
    dialog->activateWindow();
}

std::vector<CertificateDialog*> Application::CertificateDialogs() const {
    std::vector<CertificateDialog*> open;
    for (const QPointer<CertificateDialog>& dialog : certificate_dialogs_)
        if (!dialog.isNull()) open.push_back(dialog.data());
    return open;
}

void Application::OpenWithShell(const std::string& target) {
    // False when the desktop has no opener at all (no xdg-open): say where the file is.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(DisplayText(target))))
        prompts_.Message("No program on this desktop could open " + target +
                         " (is xdg-utils installed?). The file is kept there.");
}

void Application::NotAvailable(const QString& caption) {
    prompts_.Message(StoredText(PlainCaption(caption)) + " is not available yet.");
}

void Application::ShowLoginDialog() {
    login_->show();
    login_->raise();
    login_->activateWindow();
}

void Application::HideLoginDialog() {
    if (login_) login_->hide();
}

void Application::ShowOptionsNewsgroupsTab() {
    options_->CentreOnceOver(main_.get());
    options_->ShowNewsgroupsTab();
}

void Application::ShowOptionsWindow() {
    options_->CentreOnceOver(main_.get());
    options_->ShowWindow();
}

void Application::ShowAddNewsgroupDialog() { add_group_->ShowModal(); }

void Application::ShowAbout() {
    about_->show();
    about_->raise();
    about_->activateWindow();
}

void Application::ShowFolderPicker() {
    picker_->show();
    picker_->raise();
    picker_->activateWindow();
}

void Application::HideOptionsWindow() {
    if (options_) options_->hide();
}

void Application::ShowArticleViewer() {
    viewer_window_->show();
    viewer_window_->raise();
    viewer_window_->activateWindow();
}

void Application::ShowHostGroups() { host_groups_window_->Open(); }

void Application::HideMainWindow() {
    if (main_) main_->hide();
}

void Application::EndProcess() {
    ended_ = true;
    // Leaves the event loop once every handler on the stack has returned.
    if (quit_on_end_) QCoreApplication::exit(0);
}

void Application::SetSplashMaximum(int maximum) { wait_->SetProgressMaximum(maximum); }
void Application::SetSplashProgress(int value) { wait_->SetProgress(value); }
void Application::SetSplashStatus(const std::string& text) { wait_->SetStatus(text); }
void Application::ShowSplash() { wait_->ShowSplash(); }
void Application::HideSplash() { wait_->HideSplash(); }

void Application::CreateMainWindow() {
    auto& program = *program_;
    MainWindowActions actions;
    actions.show_log = [this] {
        log_window_->show();
        log_window_->raise();
        log_window_->activateWindow();
    };
    actions.show_help = [this] { ShowHelp(QStringLiteral("main")); };
    actions.show_options = [this] { ShowOptionsWindow(); };
    actions.show_about = [this] { ShowAbout(); };
    actions.show_find = [this] {
        find_window_->show();
        find_window_->raise();
        find_window_->activateWindow();
    };
    actions.not_available = [this](const QString& caption) { NotAvailable(caption); };
    actions.import_nzb = [this] { ImportNzbCommand(); };
    actions.export_nzb = [this](bool from_batch) { ExportNzbCommand(from_batch); };
    main_ = std::make_unique<MainWindow>(program, std::move(actions));
    login_ = std::make_unique<LoginDialog>(
        program.settings,
        [this] {
            // The user asks anew: a certificate refused earlier is asked about again.
            program_->certificates.ForgetRefusals();
            program_->connections.ConnectScan();
        },
        nullptr, &prompts_);
    picker_ = std::make_unique<FolderPicker>(
        prompts_, [this](const std::string& path) {
            program_->SetDownloadFolder(path);
            if (options_) options_->Refresh();
        });
    log_window_ =
        std::make_unique<LogWindow>(program.log, program.settings, prompts_,
                                    [this](const std::string& path) { OpenWithShell(path); });
    parts_window_ = std::make_unique<PartsWindow>(program.parts);
    find_window_ = std::make_unique<FindWindow>(program.maintenance, [this] { main_->Render(); });
    viewer_window_ = std::make_unique<ArticleViewerWindow>(program.viewer);
    mp3_preview_window_ = std::make_unique<Mp3PreviewWindow>(program.mp3_preview);
    program.mp3_preview.openWithShell = [this](const std::string& path) { OpenWithShell(path); };
    host_groups_window_ = std::make_unique<HostGroupsWindow>(program.host_groups, nullptr);
    viewer_window_->SetTls(&tls_);
    mp3_preview_window_->SetTls(&tls_);
    host_groups_window_->SetTls(&tls_);
    CreateDialogs();
}

void Application::CreateDialogs() {
    add_group_ = std::make_unique<AddGroupDialog>(
        program_->groups, prompts_,
        AddGroupDialogActions{
            [this] {
                add_group_->hide();
                ShowHostGroups();
            },
            [] { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kNewsgroupSearchPage))); }});
    AddHelpKey(add_group_.get(), QStringLiteral("add-newsgroup"));
    about_ = std::make_unique<AboutBox>(app::Program::kVersion,
                                        [this] { sounds_.Play("hi.wav"); });
    AddHelpKey(about_.get(), QStringLiteral("about"));
    AddHelpKey(login_.get(), QStringLiteral("login"));
    AddHelpKey(picker_.get(), QStringLiteral("folder-picker"));
    AddHelpKey(log_window_.get(), QStringLiteral("log"));
    AddHelpKey(parts_window_.get(), QStringLiteral("parts"));
    AddHelpKey(find_window_.get(), QStringLiteral("find"));
    AddHelpKey(viewer_window_.get(), QStringLiteral("article-viewer"));
    AddHelpKey(mp3_preview_window_.get(), QStringLiteral("mp3-preview"));
    AddHelpKey(host_groups_window_.get(), QStringLiteral("host-groups"));
    for (QWidget* dialog : picker_->findChildren<QDialog*>(QStringLiteral("frmMakePath")))
        AddHelpKey(dialog, QStringLiteral("make-folder"));
}

void Application::AddHelpKey(QWidget* window, const QString& topic) {
    auto* help = new QAction(window);
    help->setShortcut(QKeySequence::HelpContents);
    help->setShortcutContext(Qt::WindowShortcut);
    connect(help, &QAction::triggered, this, [this, topic] { ShowHelp(topic); });
    window->addAction(help);
}

void Application::ShowHelp(const QString& topic) {
    const QUrl url = HelpTopicUrl(ResourceFolders(program_->ProgramDir()), topic);
    if (url.isEmpty()) {
        prompts_.Message("The help pages are not installed: " + std::string(kHelpFolder) + "/" +
                         kHelpPage + " was found neither in " + program_->ProgramDir() +
                         " nor beside the program.");
        return;
    }
    const auto failed = [this, url] { ShowHelpWindow(url); };
    if (desktop_opener_)
        desktop_opener_(url, failed);
    else
        OpenOnDesktop(url, failed);
}

void Application::OpenOnDesktop(const QUrl& url, std::function<void()> failed) {
    // QDesktopServices only knows whether xdg-open started, not whether it found a browser;
    // its exit code says that. No parent: a browser that xdg-open waits for outlives us.
    auto* process = new QProcess;
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this,
            [process, failed](int code, QProcess::ExitStatus status) {
                if (status != QProcess::NormalExit || code != 0) failed();
                process->deleteLater();
            });
    connect(process, &QProcess::errorOccurred, this,
            [process, failed](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart) return;
                failed();
                process->deleteLater();
            });
    process->start(QStringLiteral("xdg-open"), {url.toString()});
}

void Application::ShowHelpWindow(const QUrl& url) {
    if (!help_window_) help_window_ = std::make_unique<HelpWindow>();
    help_window_->ShowTopic(url);
}

std::vector<std::string> Application::ResourceFolders(const std::string& program_dir) {
    const std::string executable_dir = app::ExecutableDirectory();
    std::vector<std::string> folders{program_dir, executable_dir};
    if (auto installed = app::InstalledDataDirectory(executable_dir); !installed.empty()) {
        folders.push_back(std::move(installed));
    }
    return folders;
}

void Application::CreateOptionsWindow() {
    OptionsWindowActions actions;
    actions.show_add_dialog = [this] { add_group_->ShowModeless(); };
    actions.browse_download_path = [this] {
        const std::string& path = program_->settings.Download_Path;
        // A folder that no longer exists leaves the picker where it was.
        if (!path.empty()) picker_->PointAt(path);
        ShowFolderPicker();
    };
    actions.show_help = [this] { ShowHelp(QStringLiteral("options")); };
    options_ = std::make_unique<OptionsWindow>(program_->settings, program_->groups, prompts_,
                                               std::move(actions));
}

void Application::CurrentPlacement(storage::WindowPlacement& placement, int* screen_width,
                                   int* screen_height) {
    placement.Width = main_->width();
    placement.Height = main_->height();
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    *screen_width = area.width();
    *screen_height = area.height();
}

void Application::ShowMainWindow() {
    login_->LoadFromSettings();
    log_window_->LoadFromSettings();
    options_->LoadFromSettings();
    main_->ApplySettingsAndShow();
    // Only now is it known whether sounds are on.
    sounds_.Play("startup.wav");
}

}  // namespace quillfin::ui
