#include "headers/row_list.h"

#include <algorithm>
#include <utility>

namespace quillfin::headers {

const std::string& ListRow::ColumnText(int column) const {
    static const std::string kNone;
    if (column == 0) return text;
    if (column < 1 || column > int(columns.size())) return kNone;
    return columns[std::size_t(column - 1)];
}

void RowList::Clear() {
    rows_.clear();
    position_by_tag_.clear();
    sorted_ = true;  // nothing is out of order yet
    scroll_target_ = -1;
    ++revision_;
}

void RowList::Reserve(std::size_t count) {
    rows_.reserve(count);
    position_by_tag_.reserve(count);
}

int RowList::Append(ListRow row) {
    int existing = PositionOfTag(row.tag);
    if (existing >= 0) {
        SetContent(existing, std::move(row.text), std::move(row.columns), row.icon);
        return existing;
    }
    position_by_tag_.emplace(row.tag, std::int32_t(rows_.size()));
    rows_.push_back(std::move(row));
    NoteMoved(Count() - 1);
    ++revision_;
    return Count() - 1;
}

int RowList::PositionOfTag(std::int32_t tag) const {
    auto found = position_by_tag_.find(tag);
    return found == position_by_tag_.end() ? -1 : int(found->second);
}

void RowList::SetContent(int position, std::string text, ListRow::Columns columns, int icon) {
    ListRow& row = rows_.at(std::size_t(position));
    row.text = std::move(text);
    row.columns = std::move(columns);
    row.icon = icon;
    NoteMoved(position);
    ++revision_;
}

void RowList::SetGreyed(int position, bool greyed) {
    rows_.at(std::size_t(position)).greyed = greyed;
    ++revision_;
}

void RowList::Reindex(std::size_t from) {
    for (std::size_t i = from; i < rows_.size(); ++i)
        position_by_tag_[rows_[i].tag] = std::int32_t(i);
}

void RowList::RemoveAt(int position) {
    if (position < 0 || position >= Count()) return;
    position_by_tag_.erase(rows_[std::size_t(position)].tag);
    rows_.erase(rows_.begin() + position);
    Reindex(std::size_t(position));
    if (scroll_target_ >= Count()) scroll_target_ = -1;
    ++revision_;
}

int RowList::RemoveSelected() {
    std::size_t before = rows_.size();
    std::erase_if(rows_, [](const ListRow& row) { return row.selected; });
    int removed = int(before - rows_.size());
    if (removed > 0) {
        position_by_tag_.clear();
        Reindex(0);
        if (scroll_target_ >= Count()) scroll_target_ = -1;
        ++revision_;
    }
    return removed;
}

void RowList::Swap(int a, int b) {
    if (a < 0 || b < 0 || a >= Count() || b >= Count() || a == b) return;
    std::swap(rows_[std::size_t(a)], rows_[std::size_t(b)]);
    position_by_tag_[rows_[std::size_t(a)].tag] = a;
    position_by_tag_[rows_[std::size_t(b)].tag] = b;
    NoteMoved(a);
    NoteMoved(b);
    ++revision_;
}

void RowList::Select(int position, bool selected) {
    if (position < 0 || position >= Count()) return;
    rows_[std::size_t(position)].selected = selected;
    ++revision_;
}

void RowList::ClearSelection() {
    for (ListRow& row : rows_) row.selected = false;
    ++revision_;
}

int RowList::SelectedCount() const {
    return int(
        std::count_if(rows_.begin(), rows_.end(), [](const ListRow& row) { return row.selected; }));
}

int RowList::FirstSelected() const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].selected) return int(i);
    return -1;
}

std::vector<std::int32_t> RowList::SelectedTags() const {
    std::vector<std::int32_t> tags;
    for (const ListRow& row : rows_)
        if (row.selected) tags.push_back(row.tag);
    return tags;
}

void RowList::ClickColumn(int column) {
    if (column < 0 || column > int(ListRow::Columns{}.size())) return;
    if (column == sort_column_) {
        sort_ascending_ = !sort_ascending_;
    } else {
        sort_column_ = column;
        sort_ascending_ = true;
    }
    Sort();
}

void RowList::Resort() {
    if (sort_column_ >= 0) Sort();
}

void RowList::Sort() {
    const int column = sort_column_;
    // Stable, so rows with equal texts keep their relative order in both directions.
    if (sort_ascending_) {
        std::stable_sort(rows_.begin(), rows_.end(), [column](const ListRow& a, const ListRow& b) {
            return a.ColumnText(column) < b.ColumnText(column);
        });
    } else {
        std::stable_sort(rows_.begin(), rows_.end(), [column](const ListRow& a, const ListRow& b) {
            return b.ColumnText(column) < a.ColumnText(column);
        });
    }
    Reindex(0);
    sorted_ = true;
    scroll_target_ = -1;
    ++revision_;
}

bool RowList::InOrder(int position) const {
    const auto out_of_order = [this](int a, int b) {
        const std::string& first = rows_[std::size_t(a)].ColumnText(sort_column_);
        const std::string& second = rows_[std::size_t(b)].ColumnText(sort_column_);
        return sort_ascending_ ? second < first : first < second;
    };
    if (position > 0 && out_of_order(position - 1, position)) return false;
    return position + 1 >= Count() || !out_of_order(position, position + 1);
}

void RowList::NoteMoved(int position) {
    if (sorted_ && sort_column_ >= 0 && !InOrder(position)) sorted_ = false;
}

void RowList::ScrollTo(int position) {
    scroll_target_ = position;
    ++revision_;
}

}  // namespace quillfin::headers
