#include "ui/application.h"

#include <QApplication>
#include <QDesktopServices>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include "ui/display_text.h"
#include "ui/folder_picker.h"
#include "ui/log_window.h"
#include "ui/login_dialog.h"
#include "ui/main_window.h"
#include "ui/parts_window.h"
#include "ui/wait_window.h"

namespace quillfin::ui {

Application::Application(std::string program_dir, common::Prompts* prompts)
    : prompts_(prompts != nullptr ? *prompts : qt_prompts_) {
    program_ = std::make_unique<app::Program>(
        std::move(program_dir),
        app::Services{clock_, pump_, prompts_, *this, sounds_, tcp1_, timerbot1_, timer1_});
    wait_ = std::make_unique<WaitWindow>(std::string(app::Program::kVersion).substr(1));
}

Application::~Application() {
    // The windows render the program's state until they are gone.
    parts_window_.reset();
    log_window_.reset();
    picker_.reset();
    login_.reset();
    main_.reset();
    wait_.reset();
}

void Application::Start() {
    program_->Main(*this);
    // One wait window for the whole run: after start-up it follows the header file's saves.
    wait_render_ = new QTimer(this);
    connect(wait_render_, &QTimer::timeout, this,
            [this] { wait_->Render(program_->store.WaitWindow()); });
    wait_render_->start(33);
}

void Application::OpenWithShell(const std::string& target) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(DisplayText(target)));
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

void Application::ShowOptionsNewsgroupsTab() { NotAvailable("The options window"); }

void Application::ShowAddNewsgroupDialog() {}

void Application::ShowFolderPicker() {
    picker_->show();
    picker_->raise();
    picker_->activateWindow();
}

void Application::HideOptionsWindow() {}

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
    actions.show_help = [this] { NotAvailable("Help"); };
    actions.not_available = [this](const QString& caption) { NotAvailable(caption); };
    main_ = std::make_unique<MainWindow>(program, std::move(actions));
    login_ = std::make_unique<LoginDialog>(program.settings,
                                           [this] { program_->connections.ConnectScan(); });
    picker_ = std::make_unique<FolderPicker>(
        prompts_, [this](const std::string& path) { program_->SetDownloadFolder(path); });
    log_window_ =
        std::make_unique<LogWindow>(program.log, program.settings, prompts_,
                                    [this](const std::string& path) { OpenWithShell(path); });
    parts_window_ = std::make_unique<PartsWindow>(program.parts);
    sounds_.Play("startup.wav");
}

void Application::CreateOptionsWindow() {}

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
    main_->ApplySettingsAndShow();
}

}  // namespace quillfin::ui
