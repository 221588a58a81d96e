#include "app/program.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <utility>

#include "storage/program_files.h"

namespace quillfin::app {

namespace {

// The helper program where it is there; otherwise the library runs in a copy of this one.
download::ChildDecoderLibrary MakeDecoderLibrary(common::EventPump& pump) {
    std::string helper = download::ChildDecoderLibrary::FindHelper();
    if (!helper.empty()) return download::ChildDecoderLibrary(&pump, std::move(helper));
    return download::ChildDecoderLibrary(
        &pump, [] { return std::make_unique<download::UuDecoderLibrary>(); });
}

}  // namespace

Program::Program(std::string program_dir, Services services)
    : log(settings, services.clock, program_dir),
      groups(program_dir, services.prompts),
      table(log),
      parser(table, services.pump),
      views(table, settings, groups.Entries(), services.pump),
      batch(table, view, log, services.prompts),
      parts(table),
      store(table, batch, view, log, services.prompts, services.pump, services.clock, program_dir),
      scan_socket(services.tcp1),
      connections(session, settings, groups, log, view, services.prompts, services.windows,
                  services.pump),
      scan((connections.AttachSocket(1, &scan_socket),
            connections.AttachTimer(1, &services.timerbot1), connections),
           table, parser, services.clock),
      decoder_library(MakeDecoderLibrary(services.pump)),
      decoder(table, batch, settings, log, services.pump, decoder_library),
      download((connections.AttachSocket(2, &services.tcp2),
                connections.AttachTimer(2, &services.timerbot2), connections),
               table, batch, decoder, services.clock),
      par2(settings, log),
      watchdog(connections, services.clock, services.timer1),
      maintenance(table, views, settings, view, services.prompts, services.pump),
      viewer(connections),
      mp3_preview(connections, table, decoder_library),
      host_groups(connections, groups, services.clock, program_dir),
      trusted_certificates(program_dir),
      certificates(trusted_certificates, log),
      program_dir_(std::move(program_dir)),
      services_(services),
      settings_file_(program_dir_) {
    scan_socket.enabled = [this] { return settings.chkCompress != 0; };
    scan_socket.log = [this](const std::string& line) { log.LogEvent(line, true); };
    parser.SetListUpdater(&views);
    groups.SetFilterList(&views.Filter());
    scan.SetSoundPlayer(&services_.sounds);
    scan.SetCallouts(this);
    download.SetCallouts(this);
    decoder.SetJournal(storage::ProgramFile(program_dir_, "BATCH.JNL"));
    batch.onRemovedByUser = [this](std::int32_t index) { decoder.Discard(index); };
    mp3_preview.SetBatchFiles(&decoder);
    // A batch that ends by itself leaves nothing for a countdown to restart.
    download.onBatchDone = [this] {
        session.RestartIsDownload = false;
        par2.CheckFiled(decoder.TakeFiled());
    };
    services_.timer1.SetInterval(0);
    services_.timer1.onTick = [this] { Timer1Tick(); };
    services_.timerbot1.onTick = [this] {
        nntp::ScanEngine::EventScope scope(scan);
        watchdog.Tick(1);
    };
    services_.timerbot2.onTick = [this] { watchdog.Tick(2); };
    watchdog.scanActivity = [this] { return session.LastScanActivity; };
    // A decode lets events run but sends nothing: it is work, not silence.
    watchdog.downloadActivity = [this] {
        return download.Decoding() ? services_.clock.Steady() : download.LastDownloadActivity();
    };
    watchdog.onScanAbandoned = [this] { scan.AbandonScan(); };
    connections.onConnecting = [this](int connection) { watchdog.Arm(connection); };
}

Program::~Program() {
    services_.timer1.onTick = nullptr;
    services_.timerbot1.onTick = nullptr;
    services_.timerbot2.onTick = nullptr;
    services_.timer1.SetInterval(0);
}

std::string Program::HelpFile() const { return storage::ProgramFile(program_dir_, "QUILFN.hlp"); }

void Program::Main(StartupScreens& screens) {
    screens.SetSplashMaximum(10);
    // Relative paths the user types (a download folder) mean the program's folder.
    if (::chdir(program_dir_.c_str()) != 0) log.LogEvent("Cannot enter " + program_dir_, true);
    screens.SetSplashProgress(1);
    screens.ShowSplash();
    screens.SetSplashStatus("Loading Main Window");
    screens.CreateMainWindow();
    screens.SetSplashProgress(1);
    screens.SetSplashStatus("Loading Options Window");
    screens.CreateOptionsWindow();
    screens.SetSplashProgress(2);
    screens.SetSplashStatus("Loading INI settings");
    settings_file_.ReadOptions(settings);
    screens.SetSplashProgress(3);
    screens.SetSplashStatus("Loading Newsgroups");
    screens.SetSplashProgress(4);
    groups.LoadGroupList();
    screens.SetSplashStatus("Loading Window Sizes");
    int screen_width = 0;
    int screen_height = 0;
    screens.CurrentPlacement(placement, &screen_width, &screen_height);
    settings_file_.ReadWindowSizes(placement, screen_width, screen_height);
    screens.SetSplashProgress(7);
    screens.SetSplashStatus("Loading Column Sizes");
    settings_file_.ReadColumnSizes(columns);
    screens.SetSplashProgress(9);
    store.LoadHeaders();
    // A batch cut short last time goes on from what it left on disk.
    decoder.Resume();
    views.FillGroupFilter();
    screens.ShowMainWindow();
    screens.HideSplash();
}

bool Program::Shutdown(bool ask) {
    if (exiting_) return true;
    if (store.Saving()) {
        // The exit would save the same headers under the running save's feet.
        exit_after_save_ = ask && exit_after_save_.value_or(true);
        Status("Exiting once the headers are saved...");
        return false;
    }
    services_.windows.HideOptionsWindow();
    settings_file_.WriteOptions(settings);
    DeleteMp3Preview();
    const bool save_headers = table.HeadersChanged;
    if (ask && save_headers && !services_.prompts.AskYesNo("Are you sure?", "Exit Quillfin"))
        return false;

    // From here on nothing may start: the header save lets events run, and a countdown tick, a
    // greeting or a late burst must neither start a scan nor change what is being written.
    exiting_ = true;
    services_.timer1.SetInterval(0);
    par2.Stop();
    session.RestartPending = false;
    {
        nntp::ScanEngine::EventScope scope(scan);
        if (services_.tcp1.GetState() != nntp::Socket::kClosed) connections.QuitConnection(1);
    }
    if (session.DownloadBusy != 0) download.StopBatch();
    if (save_headers) services_.windows.HideMainWindow();
    // favs.txt holds each group's lastRead: written ahead of the header file, it would make
    // the next scan skip articles whose headers never reached the disk.
    if (SaveHeadersAtExit(ask)) groups.SaveGroupList();
    settings_file_.WriteWindowSizes(placement);
    settings_file_.WriteColumnSizes(columns);
    if (!session.QuitSent) connections.QuitConnection(1);
    services_.windows.EndProcess();
    return true;
}

bool Program::SaveHeadersAtExit(bool ask) {
    // Again while a late burst parsed during the save has changed the table.
    while (table.HeadersChanged) {
        if (store.SaveHeaders(false)) continue;
        if (!ask ||
            !services_.prompts.AskYesNo("Headers could not be saved: " + store.LastFailure() +
                                            "\r\rTry again?  No exits without saving the "
                                            "headers or the newsgroup list; the next scan "
                                            "then reads those headers again.",
                                        "Exit Quillfin"))
            return false;
    }
    return true;
}

bool Program::CloseBox() {
    if (exiting_) return true;
    {
        nntp::ScanEngine::EventScope scope(scan);
        connections.QuitConnection(1);
    }
    return Shutdown();
}

void Program::DeleteMp3Preview() {
    // The same place the preview writes to, the current folder when none is set.
    const std::string path = mp3_preview.DecodedPath();
    if (storage::FileExists(path)) std::remove(path.c_str());
}

void Program::SetDownloadFolder(const std::string& path) { settings.Download_Path = path; }

void Program::EmergencyRestart(int connection) {
    if (!exiting_) watchdog.EmergencyRestart(connection);
}

void Program::AutoExpire(const std::string& group, const std::string& firstText) {
    maintenance.AutoExpire(group, firstText);
}

void Program::DownloadStep() {
    if (!exiting_) download.DownloadStep();
}

}  // namespace quillfin::app
