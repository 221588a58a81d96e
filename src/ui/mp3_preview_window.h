#pragma once

#include <QWidget>
#include <cstdint>
#include <optional>

#include "platform/qt_socket.h"
#include "viewers/mp3_preview.h"

class QLabel;
class QProgressBar;
class QTimer;

namespace quillfin::ui {

// frmPreviewMP3: the progress of one preview's fetch. It owns the preview's socket, and shows
// and hides itself as the preview opens and closes it.
class Mp3PreviewWindow : public QWidget {
    Q_OBJECT

  public:
    explicit Mp3PreviewWindow(viewers::Mp3Preview& preview, QWidget* parent = nullptr);
    ~Mp3PreviewWindow() override;

    void Render();
    // The window's connection follows the program's secure-connection setting.
    void SetTls(const platform::TlsSetup* setup) { socket_.SetTls(setup); }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    viewers::Mp3Preview& preview_;
    platform::QtSocket socket_;
    QLabel* subject_;
    QLabel* status_;
    QProgressBar* progress_;
    QTimer* render_timer_;
    std::optional<std::uint64_t> rendered_;
};

}  // namespace quillfin::ui
