#include "ui/row_list_model.h"

#include <QApplication>
#include <QItemSelection>
#include <QPalette>
#include <QTreeView>

#include "ui/class_icons.h"
#include "ui/display_text.h"

namespace quillfin::ui {

RowListModel::RowListModel(headers::RowList& rows, QStringList columns, QObject* parent)
    : QAbstractTableModel(parent), rows_(rows), columns_(std::move(columns)) {}

void RowListModel::Attach(QTreeView* view) {
    view_ = view;
    view->setModel(this);
    view->setUniformRowHeights(true);
    view->setRootIsDecorated(false);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setAllColumnsShowFocus(true);
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { SelectionChanged(); });
    Refresh();
}

bool RowListModel::Refresh() {
    if (rows_.Revision() == rendered_revision_) return false;
    beginResetModel();
    rendered_revision_ = rows_.Revision();
    endResetModel();
    RestoreSelection();
    const int target = rows_.ScrollTarget();
    if (view_ != nullptr && target >= 0 && target < rows_.Count() && target != scrolled_to_) {
        view_->scrollTo(index(target, 0));
        view_->selectionModel()->setCurrentIndex(index(target, 0), QItemSelectionModel::NoUpdate);
    }
    scrolled_to_ = target;
    return true;
}

void RowListModel::RestoreSelection() {
    if (view_ == nullptr) return;
    QItemSelection selection;
    const auto& rows = rows_.Rows();
    const int count = int(rows.size());
    for (int first = 0; first < count; ++first) {
        if (!rows[std::size_t(first)].selected) continue;
        int last = first;
        while (last + 1 < count && rows[std::size_t(last + 1)].selected) ++last;
        selection.select(index(first, 0), index(last, columnCount() - 1));
        first = last;
    }
    if (selection.isEmpty()) return;
    restoring_ = true;
    view_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    restoring_ = false;
}

void RowListModel::SelectionChanged() {
    if (restoring_ || view_ == nullptr) return;
    // The logic's Select bumps the revision; a change the view made itself needs no reset.
    const bool in_step = rows_.Revision() == rendered_revision_;
    rows_.ClearSelection();
    for (const QItemSelectionRange& range : view_->selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            if (row < rows_.Count()) rows_.Select(row, true);
        }
    }
    if (in_step) rendered_revision_ = rows_.Revision();
}

int RowListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_.Count();
}

int RowListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(columns_.size());
}

QVariant RowListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.Count()) return {};
    const headers::ListRow& row = rows_.At(index.row());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            if (role == Qt::ToolTipRole && index.column() != 0) return {};
            return DisplayText(row.ColumnText(index.column()));
        case Qt::DecorationRole:
            if (index.column() == 0) return ClassIcon(row.icon);
            return {};
        case Qt::ForegroundRole:
            if (row.greyed)
                return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
            return {};
        case Qt::TextAlignmentRole:
            // Parts and MB are numbers: right-aligned, unless the column is the last one and
            // stretches to the window's edge.
            if ((index.column() == 1 || index.column() == 2) &&
                index.column() + 1 < columnCount())
                return int(Qt::AlignRight | Qt::AlignVCenter);
            return {};
        default:
            return {};
    }
}

QVariant RowListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columns_.size()) return {};
    if (role == Qt::DisplayRole) return columns_[section];
    return {};
}

}  // namespace quillfin::ui
