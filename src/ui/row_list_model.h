#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <cstdint>

#include "headers/row_list.h"

class QTreeView;

namespace quillfin::ui {

// A list view's rows as a Qt model over the logic's RowList: the view asks only for the rows
// it paints, so a million postings cost no widget items. The logic changes the rows; Refresh()
// brings the view up to date at most once per render tick.
class RowListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    RowListModel(headers::RowList& rows, QStringList columns, QObject* parent = nullptr);

    // Shows the rows in view and keeps the logic's selection in step with the user's.
    void Attach(QTreeView* view);
    // Re-reads the rows when they changed since the last call; true when they had.
    bool Refresh();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    void SelectionChanged();
    void RestoreSelection();

    headers::RowList& rows_;
    QStringList columns_;
    QTreeView* view_ = nullptr;
    std::uint64_t rendered_revision_ = ~std::uint64_t{0};
    int scrolled_to_ = -1;
    bool restoring_ = false;
};

}  // namespace quillfin::ui
