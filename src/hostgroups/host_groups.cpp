#include "hostgroups/host_groups.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <utility>

#include "common/leading_integer.h"
#include "common/text.h"
#include "storage/group_name_check.h"
#include "storage/program_files.h"

namespace quillfin::hostgroups {

namespace {

constexpr std::size_t kLinesPerCheck = 256;
// A slice of the search gives the event loop its turn after this long.
constexpr auto kSliceTime = std::chrono::milliseconds(10);
constexpr const char* kNoServer =
    "Enter News Server name by pressing SCAN on main screen, and then try again.\r\r  This is "
    "usually 'news.(hostname).net' or something similar.  Contact your system admin if you are "
    "unsure.";

std::int64_t WholeSeconds(common::TimePoint from, common::TimePoint to) {
    return std::chrono::duration_cast<std::chrono::seconds>(to - from).count();
}

}  // namespace

HostGroups::HostGroups(nntp::Connections& connections, storage::GroupList& groups,
                       const common::Clock& clock, std::string program_dir, std::size_t cap)
    : connections_(connections),
      groups_(groups),
      clock_(clock),
      program_dir_(std::move(program_dir)),
      buffer_(cap) {
    connections_.AttachReplyBuffer(kConnection, &buffer_.Text());
}

HostGroups::~HostGroups() {
    AttachSocket(nullptr);
    connections_.AttachReplyBuffer(kConnection, nullptr);
}

void HostGroups::AttachSocket(nntp::Socket* socket) {
    if (socket_ != nullptr) {
        socket_->onDataArrival = nullptr;
        socket_->onClose = nullptr;
        socket_->onError = nullptr;
    }
    socket_ = socket;
    connections_.AttachSocket(kConnection, socket);
    if (socket_ == nullptr) return;
    socket_->onDataArrival = [this](const std::string& chunk) { DataArrival(chunk); };
    // A refused or dropped connection must hand the window back, not leave it retrieving.
    socket_->onError = [this](int, const std::string& description) {
        if (retrieving_) FailRetrieval(description);
    };
    socket_->onClose = [this] {
        if (retrieving_)
            FailRetrieval("Connection closed before the group list was complete");
        else if (socket_ != nullptr)
            socket_->Close();
    };
}

std::string HostGroups::FilePath() const { return storage::ProgramFile(program_dir_, kFileName); }

void HostGroups::Log(const std::string& text) { connections_.Log().LogEvent(text, true); }

void HostGroups::Panel(int panel, const std::string& text) {
    (panel == 0 ? view_.panel1 : view_.panel2) = text;
    view_.Touch();
}

std::string HostGroups::SizeText() const {
    return common::FormatNumber(double(buffer_.Text().size()) / 1024.0, "###,###.0");
}

void HostGroups::Open() {
    const std::uint64_t revision = view_.revision + 1;
    view_ = HostGroupsView{};
    view_.visible = true;
    view_.revision = revision;
    preload_groups();
}

void HostGroups::WindowClosed() {
    search_.Stop();
    retrieving_ = false;
    if (socket_ != nullptr && socket_->GetState() != nntp::Socket::kClosed) socket_->Close();
    view_.visible = false;
    view_.Touch();
}

void HostGroups::preload_groups() {
    // The buffer is about to change under a search that may still hold it.
    if (search_.Running()) EndSearch(true);
    rows_.Clear();
    Panel(0, "Loading...");
    view_.progressVisible = false;
    const std::string path = FilePath();
    if (!storage::FileExists(path)) {
        view_.cmdQueryEnabled = view_.optionsEnabled = false;
        Panel(0, "HOSTGRPS.TXT file not found.  Download to create.");
        return;
    }
    std::error_code size_error;
    const auto size = std::filesystem::file_size(path, size_error);
    std::string content;
    std::string error;
    if (!size_error && size > buffer_.Cap())
        error = path + " is larger than " + std::to_string(buffer_.Cap()) + " bytes";
    else if (!storage::ReadWholeFile(path, &content, &error) && error.empty())
        error = "cannot read " + path;
    if (!error.empty()) {
        view_.cmdQueryEnabled = view_.optionsEnabled = false;
        Log("Error, HOSTGRPS.TXT not loaded: " + error);
        Panel(0, "Error, HOSTGRPS.TXT not loaded: " + error);
        return;
    }
    buffer_.Clear();
    buffer_.Text() = std::move(content);
    Panel(1, "HOSTGRPS.TXT ready; " + SizeText() + " kb ");
    Panel(0, "");
    view_.cmdQueryEnabled = view_.optionsEnabled = view_.txtQueryEnabled = true;
    view_.Touch();
}

void HostGroups::cmdGetHostGroups_Click() {
    if (search_.Running() || retrieving_) return;
    if (storage::FileExists(FilePath())) {
        if (!connections_.Prompts().AskYesNo(
                "Ok to delete existing HOSTGRPS.TXT? \r\r Answer no to abort if you want to back "
                "up the file first."))
            return;
        Panel(0, "");
        Panel(1, "");
    }
    buffer_.Clear();
    view_.cmdGetHostGroupsEnabled = view_.txtQueryEnabled = view_.optionsEnabled = false;
    view_.cmdQueryEnabled = view_.cmdReloadEnabled = false;
    view_.Touch();
    rows_.Clear();
    storage::Settings& settings = connections_.Settings();
    if (settings.News_Port.empty()) settings.News_Port = "119";
    if (settings.News_Host.empty()) {
        connections_.Prompts().Message(kNoServer);
        FailRetrieval("");
        return;
    }
    if (socket_ == nullptr) return FailRetrieval("");
    if (socket_->GetState() != nntp::Socket::kClosed) {
        Log("Connection Error, please wait...");
        socket_->Close();
    }
    const std::int64_t port = common::LeadingInteger(settings.News_Port);
    socket_->SetRemotePort(int(std::clamp<std::int64_t>(port, -1, 65536)));
    socket_->SetRemoteHost(settings.News_Host);
    socket_->SetLocalPort(0);
    if (socket_->GetState() != nntp::Socket::kClosed) {
        Log("Connection Error...");
        FailRetrieval("");
        return;
    }
    retrieving_ = true;
    outstanding_.clear();
    Log("Connecting...");
    socket_->Connect();  // may report an error at once
}

void HostGroups::DataArrival(const std::string& chunk) {
    try {
        HandleData(chunk);
    } catch (const std::exception& e) {
        Log(std::string("gTCP1_DataArrival: ") + e.what());
    }
}

void HostGroups::HandleData(const std::string& chunk) {
    if (!retrieving_) {
        // Only the goodbye of a session we gave up; the buffer now holds the file.
        if (chunk.starts_with("205 ")) Log(chunk + "  (disconnected)");
        return;
    }
    if (!buffer_.Append(chunk)) {
        Send("QUIT");
        FailRetrieval("Group list larger than " + std::to_string(buffer_.Cap()) +
                      " bytes, connection closed");
        return;
    }
    if (buffer_.HasEndLine()) {
        retrieving_ = false;
        save_grps();
        Send("QUIT");
        if (socket_ != nullptr) socket_->Close();
        return;
    }
    Dispatch(chunk);
}

void HostGroups::Dispatch(const std::string& chunk) {
    const std::string code = chunk.substr(0, 4);
    const storage::Settings& settings = connections_.Settings();
    auto login_ended = [this] {
        // AuthUser and AuthPass close the socket when a name or password is missing.
        if (socket_ == nullptr || socket_->GetState() != nntp::Socket::kConnected)
            FailRetrieval("");
    };
    if (code == "500 ") {
        Log(chunk);
        // Only a refused SLAVE is passed over; a refused LIST sent again loops for ever.
        if (outstanding_ == "SLAVE") {
            Send("LIST");
        } else {
            Send("QUIT");
            FailRetrieval("");
        }
    } else if (code == "202 ") {
        Log(chunk);
        buffer_.Clear();
        Send("LIST");
    } else if (code == "223 ") {
        Log("223 article retrieved - request text separately");
    } else if (code == "221 ") {
    } else if (code == "480 ") {
        outstanding_ = "AUTHINFO";
        connections_.AuthUser(kConnection);
        login_ended();
    } else if (code == "381 ") {
        outstanding_ = "AUTHINFO";
        buffer_.Clear();
        connections_.AuthPass(kConnection);
        login_ended();
    } else if (code == "281 ") {
        Log("Authinfo cleared, login complete...");
        RequestSlaveOrList();
    } else if (code == "205 ") {
        Log(chunk + "  (disconnected)");
        FailRetrieval("");
    } else if (code == "502 ") {
        Log(chunk + "(disconnected)");
        connections_.Prompts().Message("Authentication Error.  Check Username/Password...");
        FailRetrieval("");
    } else if (code == "200 " || code == "201 ") {
        Log(chunk);
        if (settings.chkAuth == 1) {
            outstanding_ = "AUTHINFO";
            connections_.AuthUser(kConnection);
            login_ended();
        } else {
            RequestSlaveOrList();
        }
    } else {
        Panel(0, "Download in progress...  " + std::to_string(buffer_.Text().size()) +
                     " bytes received");
    }
}

void HostGroups::RequestSlaveOrList() {
    if (connections_.Settings().chkSlave == 1) {
        Log("Requesting slave status");
        Send("SLAVE");
    } else {
        Send("LIST");
    }
}

void HostGroups::Send(const std::string& command) {
    outstanding_ = command.substr(0, command.find(' '));
    connections_.SendLine(kConnection, command);
}

void HostGroups::save_grps() {
    std::string error;
    if (storage::WriteFileAtomically(FilePath(), buffer_.Text(), false, &error)) {
        Panel(0, "Download complete. HOSTGRPS.TXT (" + SizeText() + " kb) Saved and ready.");
    } else {
        // The old file stays; the new list is still searchable in memory.
        const std::string text = "Error, HOSTGRPS.TXT could not be saved: " + error;
        Log(text);
        Panel(0, text);
    }
    EnableAfterRetrieval();
    view_.cmdQueryEnabled = view_.optionsEnabled = true;
    view_.Touch();
}

void HostGroups::EnableAfterRetrieval() {
    view_.cmdGetHostGroupsEnabled = view_.cmdReloadEnabled = view_.txtQueryEnabled = true;
    view_.Touch();
}

void HostGroups::FailRetrieval(const std::string& text) {
    if (!text.empty()) Log(text);
    retrieving_ = false;
    if (socket_ != nullptr && socket_->GetState() != nntp::Socket::kClosed) socket_->Close();
    // The buffer was emptied for the retrieval; the file on disk is untouched.
    preload_groups();
    EnableAfterRetrieval();
    if (!text.empty()) Panel(0, text);
}

void HostGroups::QueryCommand(const std::string& query, Mode mode) {
    if (search_.Running()) {
        EndSearch(true);
        return;
    }
    if (!view_.cmdQueryEnabled || retrieving_) return;
    view_.cmdQueryStops = true;
    view_.txtQueryEnabled = view_.optionsEnabled = false;
    view_.cmdGetHostGroupsEnabled = view_.cmdReloadEnabled = false;
    rows_.Clear();
    view_.resultsVisible = false;
    view_.cmdAddEnabled = false;
    search_start_ = clock_.Now();
    search_.Start(buffer_.Text(), query, mode, rows_);
    view_.progress = {0, int(std::min<std::size_t>(search_.Length(), INT32_MAX))};
    view_.progressVisible = true;
    view_.Touch();
}

bool HostGroups::ContinueSearch() {
    if (!search_.Running()) return false;
    const common::TimePoint slice_start = clock_.Now();
    while (search_.Step(slice_lines_ != 0 ? slice_lines_ : kLinesPerCheck)) {
        if (slice_lines_ != 0 || clock_.Now() - slice_start >= kSliceTime) break;
    }
    view_.progress.value = int(std::min<std::size_t>(search_.Progress(), INT32_MAX));
    if (!search_.Running()) {
        EndSearch(false);
        return false;
    }
    Panel(0, "Searching... (" + std::to_string(search_.Count()) + " matching groups found)" +
                 "  Time:" + std::to_string(WholeSeconds(search_start_, clock_.Now())) +
                 " seconds");
    return true;
}

void HostGroups::EndSearch(bool aborted) {
    search_.Stop();
    const std::int64_t seconds = WholeSeconds(search_start_, clock_.Now());
    Panel(0, std::string(aborted ? "Search Aborted. (" : "Done! (") +
                 std::to_string(search_.Count()) + " matching groups found)" +
                 (seconds < 1 ? std::string("  Time: Less than 1 second")
                              : "  Time:" + std::to_string(seconds) + " seconds"));
    view_.cmdQueryStops = false;
    view_.txtQueryEnabled = view_.optionsEnabled = true;
    view_.cmdGetHostGroupsEnabled = view_.cmdReloadEnabled = true;
    view_.progressVisible = false;
    view_.resultsVisible = true;
    view_.cmdAddEnabled = rows_.Count() > 0;
    rows_.Resort();
    view_.Touch();
}

void HostGroups::cmdAdd_Click() {
    if (rows_.SelectedCount() == 0) {
        Panel(0, "Error, no group(s) selected.");
        return;
    }
    // Bottom-up: AddGroup appends, so the list gets them in reverse table order.
    for (int position = rows_.Count() - 1; position >= 0; --position) {
        const headers::ListRow& row = rows_.At(position);
        if (!row.selected) continue;
        if (!storage::GroupNameProblem(row.text).empty()) {
            Log("Refused newsgroup name from the server: " + common::OneLine(row.text));
            continue;
        }
        groups_.AddGroup(row.text);
        rows_.SetContent(position, row.text, row.columns, 3);
    }
    groups_.RefreshGroupFilter();
}

}  // namespace quillfin::hostgroups
