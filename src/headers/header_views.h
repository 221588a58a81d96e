#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/event_pump.h"
#include "headers/group_filter.h"
#include "headers/header_table.h"
#include "headers/row_list.h"
#include "headers/scan_hooks.h"
#include "storage/group_list.h"
#include "storage/settings.h"

namespace quillfin::headers {

// Completeness classes; the number is also the row's small icon.
enum class Completeness { kIncomplete = 1, kComplete = 2, kUnknown = 3, kText = 6 };

// The header list (ListView2), its newsgroup filter (cboVG) and the completeness toggles of
// the toolbar. Owns the list's rows; the window renders them.
class HeaderViews : public HeaderListUpdater {
  public:
    // groups is the user's newsgroup list (GroupList::Entries()), read when the filter is
    // filled; settings holds the four toolbar flags.
    HeaderViews(HeaderTable& table, storage::Settings& settings,
                const std::vector<storage::GroupEntry>& groups, common::EventPump& pump);

    RowList& Rows() { return rows_; }
    const RowList& Rows() const { return rows_; }
    GroupFilter& Filter() { return filter_; }
    const GroupFilter& Filter() const { return filter_; }

    static Completeness ClassOf(const HeaderEntry& entry);
    int ClassifyPosting(std::int32_t index) const;
    // Whether the toolbar currently shows postings of this class.
    bool ClassShown(Completeness completeness) const;

    void RebuildHeaderList(bool restoreDeleted);
    // The incremental update after a burst: only postings that gained parts are looked at.
    void UpdateHeaderList() override;
    void FillGroupFilter();
    // The user picked an entry of cboVG (also Find's switch to the empty list).
    void SelectFilter(const std::string& text);
    // A toolbar button was pressed (true) or released (false).
    void ToolbarClick(Completeness button, bool pressed);
    // A click on a column header: 0 Subject, 1 Parts, 2 MB, 3 From, 4 Date, 5 Newsgroup.
    void ClickColumn(int column) { rows_.ClickColumn(column); }

    // The row the header list shows for a posting.
    static ListRow MakeRow(const HeaderEntry& entry, std::int32_t index, int icon);

    // The busy mouse pointer over the main window.
    bool BusyPointer() const { return busy_depth_ > 0; }
    std::uint64_t Revision() const { return revision_; }

  private:
    bool Passes(const HeaderEntry& entry, Completeness* completeness) const;

    HeaderTable& table_;
    storage::Settings& settings_;
    const std::vector<storage::GroupEntry>& groups_;
    common::EventPump& pump_;
    RowList rows_;
    GroupFilter filter_;
    int busy_depth_ = 0;
    // Bumped by every rebuild, so a rebuild interrupted by a newer one (from a click handled
    // while it pumped events) knows to stop.
    std::uint64_t rebuild_generation_ = 0;
    std::uint64_t revision_ = 0;
};

}  // namespace quillfin::headers
