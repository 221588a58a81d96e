#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "common/clock.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_par2_runner.h"
#include "platform/qt_socket.h"
#include "platform/qt_sound_player.h"
#include "platform/qt_timer.h"
#include "platform/termination_signals.h"
#include "ui/qt_prompts.h"

class QTimer;
class QUrl;

namespace quillfin::ui {

class AboutBox;
class CertificateDialog;
class ArticleViewerWindow;
class FindWindow;
class HostGroupsWindow;
class AddGroupDialog;
class FolderPicker;
class HelpWindow;
class LogWindow;
class LoginDialog;
class MainWindow;
class Mp3PreviewWindow;
class OptionsWindow;
class PartsWindow;
class WaitWindow;

// The running program: the Qt services, the Program that owns the logic, and its windows.
// It opens and hides the windows the logic asks for and runs the start-up screens.
class Application : public QObject, public app::ProgramWindows, public app::StartupScreens {
    Q_OBJECT

  public:
    // prompts: answers the message boxes instead of showing them (tests); null for the real ones.
    explicit Application(std::string program_dir, common::Prompts* prompts = nullptr);
    ~Application() override;

    // Runs start-up; the caller then runs the event loop.
    void Start();
    // SIGTERM, SIGHUP, SIGINT and the end of the desktop session take the close path without
    // questions, so nothing unsaved is lost.
    void EndOnSignals();
    app::Program& Program() { return *program_; }
    MainWindow* Main() const { return main_.get(); }
    WaitWindow* Wait() const { return wait_.get(); }
    LoginDialog* Login() const { return login_.get(); }
    FolderPicker* Picker() const { return picker_.get(); }
    LogWindow* Log() const { return log_window_.get(); }
    PartsWindow* Parts() const { return parts_window_.get(); }
    FindWindow* Find() const { return find_window_.get(); }
    ArticleViewerWindow* Viewer() const { return viewer_window_.get(); }
    Mp3PreviewWindow* Mp3Preview() const { return mp3_preview_window_.get(); }
    HostGroupsWindow* HostGroups() const { return host_groups_window_.get(); }
    OptionsWindow* Options() const { return options_.get(); }
    AddGroupDialog* AddGroup() const { return add_group_.get(); }
    AboutBox* About() const { return about_.get(); }
    // The certificate questions still open, oldest first.
    std::vector<CertificateDialog*> CertificateDialogs() const;
    platform::QtSoundPlayer& Sounds() { return sounds_; }
    void OpenWithShell(const std::string& target);
    // Opens the help page at a window's topic ("main", "options"...) in the desktop's viewer,
    // or in the program's own help window when the desktop cannot show it.
    void ShowHelp(const QString& topic);
    // Asks the desktop to show a page; calls failed when no program there could (tests).
    using DesktopOpener = std::function<void(const QUrl& url, std::function<void()> failed)>;
    void SetDesktopOpener(DesktopOpener opener) { desktop_opener_ = std::move(opener); }
    HelpWindow* Help() const { return help_window_.get(); }
    void ShowOptionsWindow();
    void ShowAbout();
    // NZB files: read and queue one (the command line, Import NZB...); export the selection.
    void ImportNzbFile(const std::string& path);
    void ImportNzbCommand();
    void ExportNzbCommand(bool from_batch);
    // Picks the file to open (save false) or write; empty when the user cancels. Tests
    // answer instead of the file dialog.
    using NzbFileChooser = std::function<std::string(bool save)>;
    void SetNzbFileChooser(NzbFileChooser chooser) { nzb_chooser_ = std::move(chooser); }
    // Test hook: EndProcess records instead of leaving the event loop.
    bool ended() const { return ended_; }
    void SetQuitOnEnd(bool quit) { quit_on_end_ = quit; }

    // app::ProgramWindows
    void ShowLoginDialog() override;
    void HideLoginDialog() override;
    void ShowOptionsNewsgroupsTab() override;
    void ShowAddNewsgroupDialog() override;
    void ShowFolderPicker() override;
    void HideOptionsWindow() override;
    void HideMainWindow() override;
    void EndProcess() override;
    void ShowArticleViewer() override;
    // frmGrM, modeless; the add-a-newsgroup dialog's "host" button opens it.
    void ShowHostGroups() override;

    // app::StartupScreens
    void SetSplashMaximum(int maximum) override;
    void SetSplashProgress(int value) override;
    void SetSplashStatus(const std::string& text) override;
    void ShowSplash() override;
    void HideSplash() override;
    void CreateMainWindow() override;
    void CreateOptionsWindow() override;
    void CurrentPlacement(storage::WindowPlacement& placement, int* screen_width,
                          int* screen_height) override;
    void ShowMainWindow() override;

  private:
    void NotAvailable(const QString& caption);
    void CreateDialogs();
    void AddHelpKey(QWidget* window, const QString& topic);
    void OpenOnDesktop(const QUrl& url, std::function<void()> failed);
    void ShowHelpWindow(const QUrl& url);
    // Wires the secure-connection setup into the program and its sockets.
    void SetUpTls();
    void AskAboutCertificate(const nntp::ServerCertificate& certificate,
                             nntp::CertificateCheck::Answer answer);
    // The program's folder, then the executable's: where the sounds and help pages are looked for.
    static std::vector<std::string> ResourceFolders(const std::string& program_dir);

    // Declared before the program, which keeps references to them.
    common::SystemClock clock_;
    platform::QtEventPump pump_;
    QtPrompts qt_prompts_;
    common::Prompts& prompts_;
    platform::QtSoundPlayer sounds_;
    // Before the sockets, which keep a pointer to it.
    platform::TlsSetup tls_;
    platform::QtSocket tcp1_;
    platform::QtTimer timerbot1_;
    platform::QtSocket tcp2_;
    platform::QtTimer timerbot2_;
    platform::QtTimer timer1_;
    platform::QtPar2Runner par2_runner_;
    std::unique_ptr<app::Program> program_;
    // Windows go first: they hold references into the program.
    std::unique_ptr<WaitWindow> wait_;
    std::unique_ptr<MainWindow> main_;
    std::unique_ptr<LoginDialog> login_;
    std::unique_ptr<FolderPicker> picker_;
    std::unique_ptr<LogWindow> log_window_;
    std::unique_ptr<PartsWindow> parts_window_;
    std::unique_ptr<OptionsWindow> options_;
    std::unique_ptr<AddGroupDialog> add_group_;
    std::unique_ptr<AboutBox> about_;
    std::unique_ptr<FindWindow> find_window_;
    std::unique_ptr<ArticleViewerWindow> viewer_window_;
    std::unique_ptr<Mp3PreviewWindow> mp3_preview_window_;
    std::unique_ptr<HostGroupsWindow> host_groups_window_;
    std::unique_ptr<HelpWindow> help_window_;
    DesktopOpener desktop_opener_;
    NzbFileChooser nzb_chooser_;
    std::vector<QPointer<CertificateDialog>> certificate_dialogs_;
    QTimer* wait_render_ = nullptr;
    std::unique_ptr<platform::TerminationSignals> signals_;
    bool ended_ = false;
    bool quit_on_end_ = true;
};

}  // namespace quillfin::ui
