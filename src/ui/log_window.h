#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/prompts.h"
#include "storage/activity_log.h"
#include "storage/settings.h"

class QCheckBox;
class QListWidget;
class QTimer;

namespace quillfin::ui {

// frmLOG: the activity log's kept lines, newest first, and its two settings. Created once;
// closing only hides it, so nothing is lost.
class LogWindow : public QWidget {
    Q_OBJECT

  public:
    using OpenWithShell = std::function<void(const std::string&)>;

    // open_with_shell opens OPSLOG.TXT with the desktop's viewer.
    LogWindow(storage::ActivityLog& log, storage::Settings& settings, common::Prompts& prompts,
              OpenWithShell open_with_shell, QWidget* parent = nullptr);

    // Sets the two check boxes from the settings (after the settings file is read).
    void LoadFromSettings();
    // Re-renders the list now when the log changed since the last render.
    void Refresh();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void OpenOpsLog();
    void ShowLine(int row);

    storage::ActivityLog& log_;
    storage::Settings& settings_;
    common::Prompts& prompts_;
    OpenWithShell open_with_shell_;
    QListWidget* list_;
    QCheckBox* enable_;
    QCheckBox* to_file_;
    QTimer* refresh_timer_;
    std::vector<std::string> shown_;  // the lines as rendered, for double-click
    std::optional<std::uint64_t> rendered_revision_;
};

}  // namespace quillfin::ui
