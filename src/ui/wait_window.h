#pragma once

#include <QFrame>
#include <cstdint>
#include <string>

#include "headers/header_store.h"

class QLabel;
class QProgressBar;

namespace quillfin::ui {

// frmWait: the start-up splash, kept for the whole run and shown again as the wait window
// while the header file is saved or loaded.
class WaitWindow : public QFrame {
    Q_OBJECT

  public:
    // version: "major.minor.revision", shown as "v" + version.
    explicit WaitWindow(const std::string& version, QWidget* parent = nullptr);

    // Status label text, painted before this returns (start-up work blocks the event loop).
    void SetStatus(const std::string& text);
    // Progress bar value, kept within 0..maximum.
    void SetProgress(int value);
    // Progress bar maximum; below 1 counts as 1 so the bar never turns into a busy indicator.
    void SetProgressMaximum(int maximum);
    // Shows the window centred on the screen and lets it paint.
    void ShowSplash();
    void HideSplash();
    // Shows, hides and fills the window from the header store's state; cheap when unchanged.
    void Render(const headers::WaitWindowState& state);

  private:
    void ShowCentred();

    QLabel* picture_;
    QLabel* version_;
    QLabel* status_;
    QProgressBar* progress_;
    // The state's revision 0 has nothing to show; a later one replaces the splash's texts.
    std::uint64_t rendered_revision_ = 0;
    bool splash_ = false;
};

}  // namespace quillfin::ui
