#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "common/clock.h"
#include "headers/header_table.h"
#include "headers/overview_parser.h"
#include "headers/scan_hooks.h"
#include "nntp/connections.h"
#include "nntp/session_callouts.h"
#include "nntp/sound_player.h"

namespace quillfin::nntp {

// The scan connection's reply handler and the scan itself: GROUP for every group in list order,
// XOVER bursts from each group's lastRead upward, progress, the totals report. It is a state
// machine moved on by socket events: the next group starts only once ScanState has dropped to
// 0 or below, and a set ScanStop ends the scan at the next event.
class ScanEngine : public headers::ScanHooks {
  public:
    // Installs itself on the socket attached as connection 1 (attach it first) and as the
    // header table's scan hooks; the destructor removes both.
    ScanEngine(Connections& connections, headers::HeaderTable& table,
               headers::OverviewParser& parser, const common::Clock& clock);
    ~ScanEngine() override;
    ScanEngine(const ScanEngine&) = delete;
    ScanEngine& operator=(const ScanEngine&) = delete;

    void SetSoundPlayer(SoundPlayer* sounds) { sounds_ = sounds; }
    void SetCallouts(SessionCallouts* callouts) { callouts_ = callouts; }
    // A reply that grows past this without its end is taken for a broken server, which
    // would otherwise fill memory; no real burst comes near the default.
    void SetReplyLimit(std::size_t bytes) { reply_limit_ = bytes; }

    // The scan connection's events.
    void ScanReply(const std::string& chunk);
    void OnScanSocketClose();
    void OnScanSocketError(int number, const std::string& description);

    // Starts a scan of the whole group list; events drive the rest.
    void ScanDriver();
    // A scan is walking the group list.
    bool Driving() const { return driving_; }
    // A restart is armed: this walk ends here; the restarted scan walks from the first group.
    void AbandonScan() { StopDriver(); }

    // The "211 " reply while GROUP is outstanding.
    void GroupReply(const std::string& reply);
    void ParseGroupReply(const std::string& reply);
    void ApplyGroupReply(const std::string& group, const std::string& firstText,
                         const std::string& lastText);
    void RequestBurst();
    void BurstReceiver(const std::string& chunk);
    // XOVER requests sent ahead of the burst being read (XoverInFlight above 1).
    std::size_t BurstsAhead() const { return ahead_.size(); }
    std::string LastReadOf(const std::string& group);
    void ResetGroupIcons();

    // headers::ScanHooks
    void ReportProgress(const std::string& group, const std::string& articleText,
                        bool forced) override;
    void AfterBurst() override;
    void HeaderAdded() override;
    void TouchScanActivity() override;
    std::string BurstEnd() const override { return burst_end_; }
    std::int64_t GroupLast() const override { return group_last_; }

    const std::string& CurrentGroup() const { return table_.CurrentGroup; }
    bool GroupReplySeen() const { return group_reply_seen_; }
    const std::string& GroupFirstText() const { return group_first_text_; }
    const std::string& GroupLastText() const { return group_last_text_; }
    std::int64_t GroupFirst() const { return group_first_; }
    std::int64_t GroupSpan() const { return group_span_; }
    std::int64_t UnreadAtGroup() const { return unread_at_group_; }
    const std::string& XoverBuffer() const { return xover_buffer_; }

    // Handlers outside the engine that may set ScanStop or ScanState (a timer tick, a
    // command) can hold one of these so the scan moves on only once they have finished.
    class EventScope {
      public:
        explicit EventScope(ScanEngine& engine) : engine_(engine) { ++engine_.event_depth_; }
        ~EventScope();
        EventScope(const EventScope&) = delete;
        EventScope& operator=(const EventScope&) = delete;

      private:
        ScanEngine& engine_;
    };

  private:
    // The status line of the last progress report, formatted only when someone reads it.
    struct ProgressStatus : storage::DeferredStatus {
        std::string article;
        std::int64_t elapsed = 0;
        std::int32_t count = 0;
        std::string StatusText() const override;
    };

    void HandleScanData(const std::string& chunk);
    void HandleReplyData(const std::string& chunk);
    void DispatchReply(const std::string& chunk);
    void HandleGreeting(const std::string& chunk);
    void HandleLoginComplete();
    void RequestSlave();
    void EndSession(const std::string& chunk);

    void OnScanSignal();
    void CheckDriver();
    void AdvanceDriver();
    void StopDriver();
    void FinishScan();
    void StartScan();
    void NextBurstOrDone();
    void ParseBurst(std::size_t length = std::string::npos);
    // Requests ahead: see scan_ahead.cpp.
    bool Pipelined() const;
    void SendAhead();
    void DropAhead();
    void ResetAhead();
    bool SwallowDropped(std::string& chunk);
    void ReceivePipelined();
    void Restart();
    bool DroppedOversizedReply(std::size_t size);

    storage::GroupEntry* FindRow(const std::string& group);
    void RowsChanged();
    static double ScanRate(std::int64_t elapsed, std::int32_t count);
    std::int64_t ElapsedSeconds() const;
    void Status(const std::string& text) { log_.LogEvent(text, false); }
    void LogLine(const std::string& text) { log_.LogEvent(text, true); }

    Connections& connections_;
    SessionValues& session_;
    const storage::Settings& settings_;
    storage::GroupList& groups_;
    storage::ActivityLog& log_;
    common::MainViewState& view_;
    headers::HeaderTable& table_;
    headers::OverviewParser& parser_;
    const common::Clock& clock_;
    Socket* socket_ = nullptr;
    SoundPlayer* sounds_ = nullptr;
    SessionCallouts* callouts_ = nullptr;
    std::size_t reply_limit_ = std::size_t(256) << 20;
    ProgressStatus progress_status_;

    // The walk over the group list.
    bool driving_ = false;
    int driver_rows_ = 0;
    int driver_next_ = 1;
    std::uint64_t scan_number_ = 0;
    int event_depth_ = 0;
    bool check_pending_ = false;

    // A burst is being parsed; the parser lets events run meanwhile.
    bool parsing_ = false;
    bool after_burst_pending_ = false;
    bool start_pending_ = false;

    bool group_reply_seen_ = false;
    std::string group_first_text_;
    std::string group_last_text_;
    std::int64_t group_first_ = 0;
    std::int64_t group_last_ = 0;
    std::int64_t group_span_ = 0;
    std::int64_t unread_at_group_ = 0;
    std::string xover_buffer_;
    std::string parse_buffer_;
    std::string burst_end_;

    // Requests sent ahead, each starting where the one before it ends, as the next request
    // would once the burst before it is read; oldest first.
    struct AheadBurst {
        std::string start;
        std::string end;
    };
    std::deque<AheadBurst> ahead_;
    // Replies still to come to requests given up, and what has come of them so far.
    int dropped_ = 0;
    std::string dropped_data_;

    // ReportProgress runs for every overview line: remember where CurrentGroup's row is.
    std::size_t cached_row_ = 0;
    std::uint64_t cached_revision_ = ~std::uint64_t{0};
};

}  // namespace quillfin::nntp
