#pragma once

#include <QWidget>
#include <cstdint>
#include <optional>

#include "headers/parts_list.h"

class QTimer;
class QTreeWidget;

namespace quillfin::ui {

// frmViewParts: the articles of one posting, as PartsList last listed them. It follows the
// list's visibility; closing the window hides the list.
class PartsWindow : public QWidget {
    Q_OBJECT

  public:
    explicit PartsWindow(headers::PartsList& parts, QWidget* parent = nullptr);

    // Re-renders rows and visibility now when the parts list changed since the last render.
    void Refresh();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void FillRows();
    void SortBy(int column);

    headers::PartsList& parts_;
    QTreeWidget* list_;
    QTimer* refresh_timer_;
    std::optional<std::uint64_t> rendered_revision_;
    int sort_column_ = -1;
    Qt::SortOrder sort_order_ = Qt::AscendingOrder;
};

}  // namespace quillfin::ui
