#pragma once

#include <QWidget>
#include <cstdint>
#include <optional>

#include "platform/qt_socket.h"
#include "viewers/article_viewer.h"

class QLabel;
class QPlainTextEdit;
class QTimer;

namespace quillfin::ui {

// frmViewArt: the plain text of one article, fetched on the window's own connection. The
// window owns that socket; the viewer logic drives it.
class ArticleViewerWindow : public QWidget {
    Q_OBJECT

  public:
    explicit ArticleViewerWindow(viewers::ArticleViewer& viewer, QWidget* parent = nullptr);
    ~ArticleViewerWindow() override;

    // Brings title, text and status up to date when the viewer changed.
    void Render();
    // The window's connection follows the program's secure-connection setting.
    void SetTls(const platform::TlsSetup* setup) { socket_.SetTls(setup); }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    viewers::ArticleViewer& viewer_;
    platform::QtSocket socket_;
    QPlainTextEdit* text_;
    QLabel* status_;
    QTimer* render_timer_;
    std::optional<std::uint64_t> rendered_;
};

}  // namespace quillfin::ui
