#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/event_pump.h"
#include "common/main_view_state.h"
#include "common/prompts.h"
#include "download/child_decoder_library.h"
#include "download/download_engine.h"
#include "download/par2_check.h"
#include "download/posting_decoder.h"
#include "download/uu_decoder_library.h"
#include "headers/batch_queue.h"
#include "headers/header_maintenance.h"
#include "headers/header_store.h"
#include "headers/header_table.h"
#include "headers/header_views.h"
#include "headers/overview_parser.h"
#include "headers/parts_list.h"
#include "hostgroups/host_groups.h"
#include "nntp/certificate_check.h"
#include "nntp/compressed_socket.h"
#include "nntp/connections.h"
#include "nntp/scan_engine.h"
#include "nntp/session_callouts.h"
#include "nntp/session_values.h"
#include "nntp/socket.h"
#include "nntp/sound_player.h"
#include "nntp/watchdog.h"
#include "nntp/windows.h"
#include "nzb/message_id_fetch.h"
#include "nzb/nzb_document.h"
#include "storage/activity_log.h"
#include "storage/group_list.h"
#include "storage/settings.h"
#include "storage/settings_file.h"
#include "storage/trusted_certificates.h"
#include "viewers/article_viewer.h"
#include "viewers/mp3_preview.h"

namespace quillfin::app {

// The windows the program's own sequences open, hide or end, beyond those a connection asks
// for. The UI implements it; tests record the calls.
class ProgramWindows : public nntp::Windows {
  public:
    virtual void ShowFolderPicker() = 0;
    virtual void HideOptionsWindow() = 0;
    virtual void HideMainWindow() = 0;
    // Leaves the event loop once the handlers on the stack have returned.
    virtual void EndProcess() = 0;
    // The article text viewer (frmViewArt) and the host newsgroup list (frmGrM).
    virtual void ShowArticleViewer() {}
    virtual void ShowHostGroups() {}
};

// The splash window and the creation of the windows during start-up, in the order start-up
// needs them. The UI implements it.
class StartupScreens {
  public:
    virtual ~StartupScreens() = default;
    virtual void SetSplashMaximum(int maximum) = 0;
    virtual void SetSplashProgress(int value) = 0;
    // Painted before this returns: the user sees every step of a start-up that blocks.
    virtual void SetSplashStatus(const std::string& text) = 0;
    virtual void ShowSplash() = 0;
    virtual void HideSplash() = 0;
    virtual void CreateMainWindow() = 0;
    virtual void CreateOptionsWindow() = 0;
    // Fills in the created window's size; the screen's size centres a first start.
    virtual void CurrentPlacement(storage::WindowPlacement& placement, int* screen_width,
                                  int* screen_height) = 0;
    // Shows the main window at the placement and column widths read from the settings file,
    // and plays "startup.wav" (once the settings say whether sounds are on).
    virtual void ShowMainWindow() = 0;
};

// What the program runs on: the executable passes the Qt ones, tests fakes.
struct Services {
    const common::Clock& clock;
    common::EventPump& pump;
    common::Prompts& prompts;
    ProgramWindows& windows;
    nntp::SoundPlayer& sounds;
    nntp::Socket& tcp1;
    nntp::Timer& timerbot1;
    // The download connection and its watchdog timer.
    nntp::Socket& tcp2;
    nntp::Timer& timerbot2;
    // The main window's one-second timer for the restart countdown.
    nntp::Timer& timer1;
};

// Owns every subsystem for the whole run and wires them; runs start-up, shutdown and the main
// window's commands. The windows render its state and call its commands.
class Program : private nntp::SessionCallouts {
  public:
    static constexpr const char* kVersion = "v1.0.171";
    static constexpr const char* kMp3PreviewFile = viewers::Mp3Preview::kDecodedFile;

    Program(std::string program_dir, Services services);
    ~Program() override;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void Main(StartupScreens& screens);
    // False when the user chose to stay; the program then goes on as before. Without ask (a
    // signal, the end of the desktop session) nothing is asked: the headers are saved when
    // changed, and a failed save is logged and leaves favs.txt as it was.
    bool Shutdown(bool ask = true);
    // The main window's close box: QUIT first, then Shutdown.
    bool CloseBox();
    bool Exiting() const { return exiting_; }

    // Main window commands.
    void ScanCommand();
    void ScanStopCommand();
    void BatchStartCommand();
    void BatchStopCommand();
    void AddToBatchCommand() { batch.AddSelected(views.Rows()); }
    void SaveHeadersCommand();
    // The Delete key in the batch list.
    void BatchDeleteKey() { batch.RemoveSelected(); }
    void HeaderDoubleClick() { parts.OpenHeaderRow(views.Rows(), &mp3_preview); }
    // cmdViewArt: the first selected posting not in the batch, in the article viewer.
    void ViewTextCommand();
    void Timer1Tick();
    // The folder picker's OK.
    void SetDownloadFolder(const std::string& path);

    // NZB files. Import queues a document read from name, whole or not at all (a message
    // says why); true when it was queued.
    bool ImportNzb(const nzb::NzbDocument& document, const std::string& name);
    // Export: the selected postings of the header list (or of the batch list), once their
    // message-IDs have come from the server; write gets the document. A failure is logged
    // and shown, and write is not called.
    void ExportNzbCommand(bool from_batch, std::function<void(const nzb::NzbDocument&)> write);
    bool ExportingNzb() const { return nzb_fetch_ && nzb_fetch_->Running(); }
    // The connections an export opens; without it, export reports that it cannot connect.
    void SetNzbPlatform(download::ConnectionPool::Platform platform);

    const std::string& ProgramDir() const { return program_dir_; }
    std::string HelpFile() const;

    storage::Settings settings;
    storage::WindowPlacement placement;
    storage::ColumnWidths columns;
    storage::ActivityLog log;
    storage::GroupList groups;
    headers::HeaderTable table;
    headers::OverviewParser parser;
    common::MainViewState view;
    headers::HeaderViews views;
    headers::BatchQueue batch;
    headers::PartsList parts;
    headers::HeaderStore store;
    nntp::SessionValues session;
    // The scan connection, compressed when the server offers it.
    nntp::CompressedSocket scan_socket;
    nntp::Connections connections;
    nntp::ScanEngine scan;
    // Decoding runs in a child process: a decoder crash on hostile text costs that posting,
    // not the program and its unsaved header table.
    download::ChildDecoderLibrary decoder_library;
    download::PostingDecoder decoder;
    download::DownloadEngine download;
    // par2 over the sets a batch filed; runs only once the UI gives it a runner.
    download::Par2Check par2;
    nntp::Watchdog watchdog;
    headers::HeaderMaintenance maintenance;
    viewers::ArticleViewer viewer;
    viewers::Mp3Preview mp3_preview;
    hostgroups::HostGroups host_groups;
    // Certificates the user trusted (CERTS.TXT) and the decision on those that fail a check.
    storage::TrustedCertificates trusted_certificates;
    nntp::CertificateCheck certificates;

  private:
    // nntp::SessionCallouts
    void EmergencyRestart(int connection) override;
    void AutoExpire(const std::string& group, const std::string& firstText) override;
    void DownloadStep() override;

    void DeleteMp3Preview();
    bool SaveHeadersAtExit(bool ask);
    void Status(const std::string& text) { log.LogEvent(text, false); }

    std::string program_dir_;
    Services services_;
    storage::SettingsFile settings_file_;
    std::unique_ptr<nzb::MessageIdFetch> nzb_fetch_;
    bool exiting_ = false;
    // The exit was asked for while Save Headers let events run; it runs once that save ends.
    std::optional<bool> exit_after_save_;  // whether that exit asks
};

}  // namespace quillfin::app
