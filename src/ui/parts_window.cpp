#include "ui/parts_window.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/display_text.h"

namespace quillfin::ui {

namespace {

constexpr int kRefreshMs = 33;  // about 30 renders a second at most

}  // namespace

PartsWindow::PartsWindow(headers::PartsList& parts, QWidget* parent)
    : QWidget(parent, Qt::Window),
      parts_(parts),
      list_(new QTreeWidget(this)),
      refresh_timer_(new QTimer(this)) {
    const QString caption = QString::fromLatin1(headers::PartsList::kCaption);
    NameControl(this, "frmViewParts", caption);
    setWindowTitle(caption);
    setWindowIcon(AppIcon());
    NameControl(list_, "ListView1", QStringLiteral("Parts"));
    list_->setColumnCount(5);
    list_->setHeaderLabels({QStringLiteral("Article#"), QStringLiteral("Size (KB)"),
                            QStringLiteral("Subject"), QStringLiteral("From"),
                            QStringLiteral("Newsgroup")});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setColumnWidth(0, 90);
    list_->setColumnWidth(1, 70);
    list_->setColumnWidth(2, 240);
    list_->setColumnWidth(3, 150);
    // Sorting is ours (see SortBy): the list opens in part order, and a header's first
    // click sorts ascending whatever the style would pick.
    list_->header()->setSectionsClickable(true);
    list_->header()->setSortIndicatorShown(false);
    connect(list_->header(), &QHeaderView::sectionClicked, this, &PartsWindow::SortBy);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 5, 5);  // the list fills all but a 5-pixel margin
    layout->addWidget(list_);
    resize(700, 300);

    refresh_timer_->setInterval(kRefreshMs);
    connect(refresh_timer_, &QTimer::timeout, this, &PartsWindow::Refresh);
    refresh_timer_->start();
}

void PartsWindow::Refresh() {
    if (rendered_revision_ != parts_.Revision()) {
        rendered_revision_ = parts_.Revision();
        if (parts_.Visible()) {
            FillRows();
            show();
            raise();
        }
    }
    if (!parts_.Visible() && isVisible()) hide();
}

void PartsWindow::FillRows() {
    sort_column_ = -1;
    list_->header()->setSortIndicatorShown(false);
    list_->setUpdatesEnabled(false);
    list_->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(parts_.Rows().size()));
    for (const headers::PartRow& row : parts_.Rows()) {
        auto* item = new QTreeWidgetItem(
            QStringList{DisplayText(row.articleNumber), DisplayText(row.sizeKB),
                        DisplayText(row.subject), DisplayText(row.from), DisplayText(row.group)});
        item->setIcon(0, ClassIcon(row.icon));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        items.append(item);
    }
    list_->addTopLevelItems(items);
    list_->setUpdatesEnabled(true);
}

void PartsWindow::SortBy(int column) {
    if (column == sort_column_)
        sort_order_ = sort_order_ == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    else
        sort_order_ = Qt::AscendingOrder;
    sort_column_ = column;
    list_->sortItems(column, sort_order_);
    list_->header()->setSortIndicatorShown(true);
    list_->header()->setSortIndicator(column, sort_order_);
}

void PartsWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
    parts_.Hide();
    rendered_revision_ = parts_.Revision();
}

}  // namespace quillfin::ui
