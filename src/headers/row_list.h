#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace quillfin::headers {

// One row of a list view: its text (first column), further columns, small icon, and the tag
// that leads back to the posting (its HeaderTable index).
struct ListRow {
    using Columns = std::array<std::string, 5>;
    std::string text;
    Columns columns;
    int icon = 0;
    std::int32_t tag = 0;
    bool selected = false;
    bool greyed = false;

    // Column 0 is the text, 1.. the further columns.
    const std::string& ColumnText(int column) const;
};

// The rows of one list view, as the window renders them. Rows are 0-based positions; tags are
// unique within a list and found through an index, so per-posting updates stay O(1).
class RowList {
  public:
    int Count() const { return int(rows_.size()); }
    const std::vector<ListRow>& Rows() const { return rows_; }
    const ListRow& At(int position) const { return rows_.at(std::size_t(position)); }

    void Clear();
    void Reserve(std::size_t count);
    // Appends a row; a row whose tag is already listed replaces that row's content instead.
    // Returns the row's position.
    int Append(ListRow row);
    // Position of the row tagged tag; -1 when none.
    int PositionOfTag(std::int32_t tag) const;
    // Replaces text, columns and icon; tag, selection and greyed state stay.
    void SetContent(int position, std::string text, ListRow::Columns columns, int icon);
    void SetGreyed(int position, bool greyed);
    void RemoveAt(int position);
    // Removes every selected row in one pass; returns how many went.
    int RemoveSelected();
    // Exchanges two rows; used to move a row one place.
    void Swap(int a, int b);

    void Select(int position, bool selected = true);
    void ClearSelection();
    int SelectedCount() const;
    // Position of the first selected row; -1 when none.
    int FirstSelected() const;
    // Tags of the selected rows in list order.
    std::vector<std::int32_t> SelectedTags() const;

    // A header click: ascending by a new column, the other way round on the current one.
    void ClickColumn(int column);
    // Applies the current sort again (after the rows were rebuilt).
    void Resort();
    int SortColumn() const { return sort_column_; }
    bool SortAscending() const { return sort_ascending_; }
    // The rows are in the order of the sort column: true after a sort, until a row is added or
    // changed out of that order (rows of a scan are appended; a window then hides its arrow).
    bool Sorted() const { return sort_column_ >= 0 && sorted_; }

    // The row the window should scroll into view; -1 when none was asked for.
    int ScrollTarget() const { return scroll_target_; }
    void ScrollTo(int position);

    // Bumped by every change, so the window repaints coalesced.
    std::uint64_t Revision() const { return revision_; }

  private:
    void Sort();
    void Reindex(std::size_t from);
    // Whether the row at position is in sort order with its neighbours.
    bool InOrder(int position) const;
    void NoteMoved(int position);

    std::vector<ListRow> rows_;
    std::unordered_map<std::int32_t, std::int32_t> position_by_tag_;
    int sort_column_ = -1;
    bool sort_ascending_ = true;
    bool sorted_ = false;
    int scroll_target_ = -1;
    std::uint64_t revision_ = 0;
};

}  // namespace quillfin::headers
