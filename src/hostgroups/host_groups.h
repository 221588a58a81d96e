#pragma once

#include <cstddef>
#include <string>

#include "common/clock.h"
#include "headers/row_list.h"
#include "hostgroups/host_group_search.h"
#include "hostgroups/host_groups_view.h"
#include "nntp/connections.h"
#include "nntp/reply_accumulator.h"
#include "nntp/socket.h"
#include "storage/group_list.h"

namespace quillfin::hostgroups {

// The host newsgroup list (frmGrM): fetches the server's group list with LIST on its own
// connection (number 3), keeps it in HOSTGRPS.TXT and in memory, searches it and adds chosen
// groups to the newsgroup list. The window attaches the socket it owns and drives the search
// in steps (ContinueSearch) from its event loop, so no loop of ours runs under the window.
class HostGroups {
  public:
    static constexpr int kConnection = 3;
    static constexpr const char* kFileName = "HOSTGRPS.TXT";
    using Mode = HostGroupSearch::Mode;

    HostGroups(nntp::Connections& connections, storage::GroupList& groups,
               const common::Clock& clock, std::string program_dir,
               std::size_t cap = nntp::ReplyAccumulator::kDefaultCap);
    ~HostGroups();
    HostGroups(const HostGroups&) = delete;
    HostGroups& operator=(const HostGroups&) = delete;

    // nullptr detaches (the window is going).
    void AttachSocket(nntp::Socket* socket);

    // The window was opened / closed. Closing ends a search and drops the connection.
    void Open();
    void WindowClosed();
    // Opening and "reload HOSTGRPS.TXT from disk".
    void preload_groups();
    // "Retrieve Groups from Host".
    void cmdGetHostGroups_Click();
    void DataArrival(const std::string& chunk);
    // "Query", or "&Stop Search" while a search runs.
    void QueryCommand(const std::string& query, Mode mode);
    // One slice of the search; false once no search runs.
    bool ContinueSearch();
    bool Searching() const { return search_.Running(); }
    // Tests: each ContinueSearch examines this many lines instead of a slice of time.
    void SetSliceLines(std::size_t lines) { slice_lines_ = lines; }
    // "&Add Selections".
    void cmdAdd_Click();

    headers::RowList& Rows() { return rows_; }
    const HostGroupsView& View() const { return view_; }
    const std::string& Buffer() const { return buffer_.Text(); }
    const HostGroupSearch& Search() const { return search_; }
    std::string FilePath() const;

  private:
    void HandleData(const std::string& chunk);
    void Dispatch(const std::string& chunk);
    void Send(const std::string& command);
    void Log(const std::string& text);
    void Panel(int panel, const std::string& text);
    void RequestSlaveOrList();
    void save_grps();
    // A retrieval that cannot go on: the list comes back from the file, the buttons back.
    void FailRetrieval(const std::string& text);
    void EnableAfterRetrieval();
    void EndSearch(bool aborted);
    std::string SizeText() const;

    nntp::Connections& connections_;
    storage::GroupList& groups_;
    const common::Clock& clock_;
    std::string program_dir_;
    nntp::Socket* socket_ = nullptr;
    nntp::ReplyAccumulator buffer_;
    headers::RowList rows_;
    HostGroupsView view_;
    HostGroupSearch search_;
    common::TimePoint search_start_{};
    std::size_t slice_lines_ = 0;
    bool retrieving_ = false;
    std::string outstanding_;  // keyword of the last command sent
};

}  // namespace quillfin::hostgroups
