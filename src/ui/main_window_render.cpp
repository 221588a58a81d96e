// The main window's routing of commands to the program and its coalesced rendering.
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabBar>
#include <QToolButton>
#include <QTreeView>

#include "ui/display_text.h"
#include "ui/main_window.h"
#include "ui/row_list_model.h"

namespace quillfin::ui {

namespace {

QPixmap LightPixmap(bool busy) {
    QPixmap pixmap(18, 18);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QRadialGradient glow(7, 7, 9);
    glow.setColorAt(0, busy ? QColor(255, 150, 140) : QColor(170, 240, 170));
    glow.setColorAt(1, busy ? QColor(190, 20, 20) : QColor(30, 140, 40));
    painter.setBrush(glow);
    painter.setPen(QPen(QColor(60, 60, 60), 1));
    painter.drawEllipse(QRectF(1.5, 1.5, 15, 15));
    return pixmap;
}

void SetBar(QProgressBar* bar, const common::ProgressBar& state) {
    // A maximum of 0 would turn the bar into a busy animation: an empty bar says "nothing".
    const int maximum = std::max(state.maximum, 1);
    if (bar->maximum() != maximum) bar->setMaximum(maximum);
    const int value = std::clamp(state.value, 0, maximum);
    if (bar->value() != value) bar->setValue(value);
}

}  // namespace

void MainWindow::ConnectCommands() {
    auto on = [this](const char* name, auto handler) {
        if (auto* button = findChild<QPushButton*>(name))
            connect(button, &QPushButton::clicked, this, handler);
    };
    on("cmdScan", [this] { program_.ScanCommand(); });
    on("cmdScanStop", [this] { program_.ScanStopCommand(); });
    on("cmdAddtoQue", [this] { program_.AddToBatchCommand(); });
    on("cmdViewParts", [this] { program_.parts.ViewFirstSelected(program_.views.Rows()); });
    on("cmdViewPartsinBatch", [this] { program_.parts.ViewFirstSelected(program_.batch.Rows()); });
    on("cmdUP", [this] { program_.batch.MoveUp(); });
    on("cmdDN", [this] { program_.batch.MoveDown(); });
    on("cmdDelete", [this] { program_.BatchDeleteKey(); });
    on("cmdSaveHeaders", [this] { program_.SaveHeadersCommand(); });
    on("cmdBatchDownload", [this] { program_.BatchStartCommand(); });
    on("cmdBatchDownloadStop", [this] { program_.BatchStopCommand(); });
    on("cmdLog", [this] {
        if (actions_.show_log) actions_.show_log();
    });
    on("cmdHelp", [this] {
        if (actions_.show_help) actions_.show_help();
    });
    on("cmdViewArt", [this] { program_.ViewTextCommand(); });
    on("cmdDelHeaders", [this] { program_.maintenance.DeleteCommand(); });
    on("cmdRestore", [this] { program_.maintenance.RestoreCommand(); });
    on("cmdSearchSelect", [this] {
        if (actions_.show_find) actions_.show_find();
    });
    on("cmdOptions", [this] {
        if (actions_.show_options) actions_.show_options();
    });
    on("cmdImportNzb", [this] {
        if (actions_.import_nzb) actions_.import_nzb();
    });
    on("cmdExportNzb", [this] {
        if (actions_.export_nzb) actions_.export_nzb(false);
    });
    on("cmdExportNzbBatch", [this] {
        if (actions_.export_nzb) actions_.export_nzb(true);
    });
    on("cmdAbout", [this] {
        if (actions_.show_about) actions_.show_about();
    });
    connect(tab_strip_, &QTabBar::tabBarClicked, this, [this](int tab) { ShowTab(tab); });
    connect(list_headers_, &QTreeView::doubleClicked, this,
            [this] { program_.HeaderDoubleClick(); });
    connect(list_headers_->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        program_.views.ClickColumn(column);
        Render();
    });
    connect(list_headers_->header(), &QHeaderView::sectionResized, this,
            [this](int column, int, int width) {
                if (column >= 0 && column < int(program_.columns.header.size()))
                    program_.columns.header[std::size_t(column)] = width;
            });
    connect(list_batch_->header(), &QHeaderView::sectionResized, this,
            [this](int column, int, int width) {
                if (column >= 0 && column < int(program_.columns.batch.size()))
                    program_.columns.batch[std::size_t(column)] = width;
            });
}

void MainWindow::ShowTab(int tab) {
    if (tab < 0 || tab > 1) return;
    frames_[0]->hide();
    frames_[1]->hide();
    frames_[tab]->show();
    if (tab_strip_->currentIndex() != tab) tab_strip_->setCurrentIndex(tab);
}

void MainWindow::ApplySettingsAndShow() {
    // A stored width too narrow for what the column always shows ("003/010", "00.123",
    // "12-05-2026") is widened; the wider width goes back to the file at exit.
    const QFontMetrics metrics(list_headers_->font());
    const auto fit = [&](const char* sample) { return metrics.horizontalAdvance(sample) + 14; };
    const int minimum[6] = {0, fit("000/000"), fit("00.000"), 0, fit("00-00-0000"), 0};
    const auto& widths = program_.columns;
    for (std::size_t i = 0; i + 1 < widths.header.size(); ++i)
        list_headers_->setColumnWidth(int(i), std::max(widths.header[i], minimum[i]));
    for (std::size_t i = 0; i + 1 < widths.batch.size(); ++i)
        list_batch_->setColumnWidth(int(i), std::max(widths.batch[i], minimum[i]));
    // The last column stretches to the window; its stored width is kept as read.
    const auto& place = program_.placement;
    if (place.Width > 0 && place.Height > 0) resize(place.Width, place.Height);
    move(place.Left, place.Top);
    RenderToolbar();
    Render();
    if (place.WindowState == 2)
        showMaximized();
    else if (place.WindowState == 1)
        showMinimized();
    else
        show();
    shown_ = true;
}

void MainWindow::RenderToolbar() {
    const auto& settings = program_.settings;
    const bool flags[4] = {settings.togtsComplete, settings.togtsIncomplete, settings.togtsUnknown,
                           settings.togtsText};
    for (int i = 0; i < 4; ++i) {
        const QSignalBlocker quiet(toolbar_buttons_[i]);
        toolbar_buttons_[i]->setChecked(flags[i]);
    }
}

void MainWindow::RenderFilter() {
    const auto& filter = program_.views.Filter();
    if (filter.Revision() == filter_revision_) return;
    filter_revision_ = filter.Revision();
    const QSignalBlocker quiet(cbo_vg_);
    cbo_vg_->clear();
    for (const auto& item : filter.Items()) cbo_vg_->addItem(DisplayText(item));
    cbo_vg_->setCurrentIndex(filter.SelectedItem());
    if (filter.SelectedItem() < 0) cbo_vg_->setEditText(DisplayText(filter.Text()));
}

void MainWindow::RenderViewState() {
    const auto& view = program_.view;
    if (view.revision == view_revision_) return;
    view_revision_ = view.revision;
    SetBar(progress_[0], view.ProgressBar1);
    SetBar(progress_[1], view.ProgressBar2);
    SetBar(progress_[2], view.ProgressBar3);
    SetBar(progress_[3], view.ProgressBar4);
    cmd_scan_->setEnabled(view.cmdScanEnabled);
    cmd_save_headers_->setEnabled(view.cmdSaveHeadersEnabled);
    cmd_restore_->setEnabled(view.cmdRestoreEnabled);
    lbl_total_batch_size_->setText(DisplayText(view.lblTotalBatchSize));
    lbl_total_batch_time_->setText(DisplayText(view.lblTotalBatchTime));
    lbl_total_batch_time_->setVisible(view.lblTotalBatchTimeVisible);
    progress_[2]->setVisible(view.ProgressBar3Visible);
}

bool MainWindow::RefreshHeaderList() {
    // Bringing a list of millions of rows up to date lays out every row: while a list that
    // large fills, do it no more often than leaves the event loop four fifths of the time.
    if (header_refreshed_.isValid() && !header_refreshed_.hasExpired(header_refresh_wait_ms_))
        return false;
    QElapsedTimer cost;
    cost.start();
    if (!header_model_->Refresh()) return false;
    list_headers_->doItemsLayout();
    header_refresh_wait_ms_ = 4 * cost.elapsed();
    header_refreshed_.start();
    return true;
}

void MainWindow::Render() {
    bool changed = false;
    if (program_.log.Revision() != log_revision_) {
        log_revision_ = program_.log.Revision();
        lbl_cap_x_->setText(DisplayText(program_.log.StatusLine()));
        changed = true;
    }
    const std::uint64_t view_before = view_revision_;
    RenderViewState();
    changed |= view_before != view_revision_;
    if (program_.table.HeadersRead != headers_read_) {
        headers_read_ = program_.table.HeadersRead;
        lbl_m_count_->setText(DisplayText(program_.table.ReadCounterText()));
        changed = true;
    }
    changed |= RefreshHeaderList();
    changed |= batch_model_->Refresh();
    const std::uint64_t filter_before = filter_revision_;
    RenderFilter();
    changed |= filter_before != filter_revision_;
    const auto& rows = program_.views.Rows();
    auto* header = list_headers_->header();
    // The arrow only while the rows really are in its order: a scan appends unsorted rows.
    if (rows.Sorted()) {
        const auto order = rows.SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder;
        if (!header->isSortIndicatorShown() ||
            header->sortIndicatorSection() != rows.SortColumn() ||
            header->sortIndicatorOrder() != order) {
            header->setSortIndicatorShown(true);
            header->setSortIndicator(rows.SortColumn(), order);
        }
    } else if (header->isSortIndicatorShown()) {
        header->setSortIndicatorShown(false);
    }
    const bool busy = program_.views.BusyPointer();
    if (busy != busy_pointer_) {
        busy_pointer_ = busy;
        if (busy)
            setCursor(Qt::WaitCursor);
        else
            unsetCursor();
    }
    const int light = program_.view.imgTestxBusy ? 1 : 0;
    if (light != light_state_) {
        light_state_ = light;
        img_testx_->setPixmap(LightPixmap(light == 1));
    }
    if (changed) ++repaints_;
}

void MainWindow::RememberPlacement() {
    if (!shown_) return;
    auto& place = program_.placement;
    place.WindowState = isMinimized() ? 1 : isMaximized() ? 2 : 0;
    if (place.WindowState != 0) return;
    place.Left = x();
    place.Top = y();
    place.Width = width();
    place.Height = height();
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    RememberPlacement();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    RememberPlacement();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) RememberPlacement();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The close is never taken as it comes: the program decides, and may ask first.
    event->ignore();
    program_.CloseBox();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        if (watched == list_headers_) {
            program_.maintenance.DeleteCommand();
            Render();
            return true;
        }
        if (watched == list_batch_) {
            program_.BatchDeleteKey();
            return true;
        }
    }
    if (watched == img_testx_ && event->type() == QEvent::MouseButtonRelease) {
        program_.BatchStartCommand();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace quillfin::ui
