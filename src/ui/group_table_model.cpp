#include "ui/group_table_model.h"

#include <QApplication>
#include <QHeaderView>
#include <QPalette>
#include <QTreeView>
#include <array>

#include "ui/class_icons.h"
#include "ui/display_text.h"

namespace quillfin::ui {

namespace {

constexpr std::array<const char*, 6> kColumns{"Newsgroup Name", "Unread", "Last Read",
                                              "First",          "Last",   "Total"};

const std::string& ColumnText(const storage::GroupEntry& entry, int column) {
    switch (column) {
        case 0:
            return entry.name;
        case 1:
            return entry.unread;
        case 2:
            return entry.lastRead;
        case 3:
            return entry.first;
        case 4:
            return entry.last;
        default:
            return entry.total;
    }
}

}  // namespace

GroupTableModel::GroupTableModel(storage::GroupList& groups, QObject* parent)
    : QAbstractTableModel(parent), groups_(groups) {}

void GroupTableModel::Attach(QTreeView* view) {
    view_ = view;
    view->setModel(this);
    view->setUniformRowHeights(true);
    view->setRootIsDecorated(false);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setAllColumnsShowFocus(true);
    // The list sorts itself (GroupList::SortByColumn); the header only shows the arrow.
    view->header()->setSectionsClickable(true);
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { SelectionChanged(); });
    Refresh();
}

bool GroupTableModel::Refresh() {
    if (groups_.Revision() == rendered_revision_) return false;
    rendered_revision_ = groups_.Revision();
    if (groups_.Count() != rendered_rows_) {
        beginResetModel();
        rendered_rows_ = groups_.Count();
        endResetModel();
    } else if (rendered_rows_ > 0) {
        // Same rows: repaint in place, so the view keeps its scroll position and focus.
        emit dataChanged(index(0, 0), index(rendered_rows_ - 1, columnCount() - 1));
    }
    RestoreSelection();
    ShowSortIndicator();
    return true;
}

void GroupTableModel::ShowSortIndicator() {
    if (view_ == nullptr) return;
    QHeaderView* header = view_->header();
    // A clicked header flips its own arrow; the list's order is what counts.
    const auto order = groups_.SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder;
    if (header->isSortIndicatorShown() != groups_.AutoSort())
        header->setSortIndicatorShown(groups_.AutoSort());
    if (groups_.AutoSort() && (header->sortIndicatorSection() != groups_.SortColumn() ||
                               header->sortIndicatorOrder() != order))
        header->setSortIndicator(groups_.SortColumn(), order);
}

void GroupTableModel::RestoreSelection() {
    if (view_ == nullptr) return;
    restoring_ = true;
    const int selected = groups_.Selected();
    if (selected == 0) {
        view_->selectionModel()->clearSelection();
    } else {
        const QModelIndex row = index(selected - 1, 0);
        view_->selectionModel()->setCurrentIndex(
            row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        view_->scrollTo(row);
    }
    restoring_ = false;
}

void GroupTableModel::SelectionChanged() {
    if (restoring_ || view_ == nullptr) return;
    const QModelIndexList rows = view_->selectionModel()->selectedRows();
    const int position = rows.isEmpty() ? 0 : rows.front().row() + 1;
    if (position == groups_.Selected()) return;
    // The view already shows this selection: no reset needed for the revision Select bumps.
    const bool in_step = groups_.Revision() == rendered_revision_;
    groups_.Select(position);
    if (in_step) rendered_revision_ = groups_.Revision();
}

int GroupTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rendered_rows_;
}

int GroupTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(kColumns.size());
}

QVariant GroupTableModel::data(const QModelIndex& index, int role) const {
    // The scan may have shortened the list since the last refresh: check against it.
    if (!index.isValid() || index.row() >= groups_.Count()) return {};
    const storage::GroupEntry& entry = groups_.Entries()[std::size_t(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return DisplayText(ColumnText(entry, index.column()));
        case Qt::DecorationRole:
            return index.column() == 0 ? QVariant(GroupStateIcon(entry.stateIcon)) : QVariant();
        case Qt::ForegroundRole:
            if (entry.disabled)
                return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
            return {};
        case Qt::TextAlignmentRole:
            return index.column() == 0 ? QVariant()
                                       : QVariant(int(Qt::AlignRight | Qt::AlignVCenter));
        default:
            return {};
    }
}

QVariant GroupTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= int(kColumns.size()))
        return {};
    return QString::fromLatin1(kColumns[std::size_t(section)]);
}

}  // namespace quillfin::ui
