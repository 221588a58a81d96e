#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <cstdint>
#include <functional>

#include "app/program.h"

class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTabBar;
class QTimer;
class QToolButton;
class QTreeView;

namespace quillfin::ui {

class RowListModel;

// What the main window opens that it does not own.
struct MainWindowActions {
    std::function<void()> show_log;
    std::function<void()> show_help;
    std::function<void()> show_options;
    std::function<void()> show_about;
    std::function<void()> show_find;
    // NZB files: pick a file and queue it; export the selection of the header list (false)
    // or of the batch list (true).
    std::function<void()> import_nzb;
    std::function<void(bool from_batch)> export_nzb;
    // Commands whose windows come later: shown as "not available yet".
    std::function<void(const QString& caption)> not_available;
};

// frmMain: renders the program's state and forwards the user's commands to it. Rendering is
// coalesced on a ~30 Hz tick that repaints only what changed, never once per overview line.
class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    MainWindow(app::Program& program, MainWindowActions actions, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Column widths and placement from the settings, then the window shown.
    void ApplySettingsAndShow();
    // Brings every control up to date with the program's state now.
    void Render();
    // How many times Render found something to repaint (for the benchmark).
    std::uint64_t Repaints() const { return repaints_; }
    QTreeView* HeaderList() const { return list_headers_; }
    QTreeView* BatchList() const { return list_batch_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* BuildStatusStrip();
    QWidget* BuildScanRow();
    QWidget* BuildHeadersFrame();
    QWidget* BuildHeaderToolbar();
    QWidget* BuildBatchFrame();
    QWidget* BuildBottomRow();
    QPushButton* Button(const char* name, const QString& caption, const QString& tip = {});
    // The NZB entries of a list's context menu.
    void AddNzbMenu(QTreeView* list, bool from_batch);
    void ConnectCommands();
    void ShowTab(int tab);
    void RenderViewState();
    void RenderFilter();
    bool RefreshHeaderList();
    void RenderToolbar();
    void RememberPlacement();

    app::Program& program_;
    MainWindowActions actions_;
    QTimer* render_timer_;
    RowListModel* header_model_ = nullptr;
    RowListModel* batch_model_ = nullptr;
    // When the header list was last brought up to date, and how long to leave it after that.
    QElapsedTimer header_refreshed_;
    qint64 header_refresh_wait_ms_ = 0;

    QLabel* lbl_cap_x_ = nullptr;
    QTabBar* tab_strip_ = nullptr;
    QFrame* frames_[2] = {nullptr, nullptr};
    QTreeView* list_headers_ = nullptr;
    QTreeView* list_batch_ = nullptr;
    QComboBox* cbo_vg_ = nullptr;
    QToolButton* toolbar_buttons_[4] = {};
    QProgressBar* progress_[4] = {};
    QLabel* lbl_m_count_ = nullptr;
    QLabel* lbl_total_batch_size_ = nullptr;
    QLabel* lbl_total_batch_time_ = nullptr;
    QLabel* img_testx_ = nullptr;
    QPushButton* cmd_scan_ = nullptr;
    QPushButton* cmd_save_headers_ = nullptr;
    QPushButton* cmd_restore_ = nullptr;

    std::uint64_t log_revision_ = ~std::uint64_t{0};
    std::uint64_t view_revision_ = ~std::uint64_t{0};
    std::uint64_t filter_revision_ = ~std::uint64_t{0};
    std::int32_t headers_read_ = -1;
    bool busy_pointer_ = false;
    int light_state_ = -1;  // -1 before the first render
    bool shown_ = false;
    std::uint64_t repaints_ = 0;
};

}  // namespace quillfin::ui
