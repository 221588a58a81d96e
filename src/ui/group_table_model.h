#pragma once

#include <QAbstractTableModel>
#include <cstdint>

#include "storage/group_list.h"

class QTreeView;

namespace quillfin::ui {

// The newsgroup table of the options window as a Qt model over the GroupList: row i is entry
// i + 1. The list is changed by the buttons and by a running scan; Refresh() brings the view
// up to date when the list's revision moved, at most once per render tick.
class GroupTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit GroupTableModel(storage::GroupList& groups, QObject* parent = nullptr);

    // Shows the list in view, one selectable row, and keeps GroupList::Select in step.
    void Attach(QTreeView* view);
    // True when the list had changed since the last call.
    bool Refresh();
    // The header's arrow: the list's sort column and order while it sorts itself, else none.
    void ShowSortIndicator();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    void SelectionChanged();
    void RestoreSelection();

    storage::GroupList& groups_;
    QTreeView* view_ = nullptr;
    std::uint64_t rendered_revision_ = ~std::uint64_t{0};
    int rendered_rows_ = 0;
    bool restoring_ = false;
};

}  // namespace quillfin::ui
