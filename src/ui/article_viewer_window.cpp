#include "ui/article_viewer_window.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "common/text.h"
#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/display_text.h"

namespace quillfin::ui {

namespace {

constexpr int kRenderMs = 33;

// The text keeps its CR LF; the editor wants LF alone.
QString EditorText(const std::string& text) {
    QString shown = DisplayText(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

}  // namespace

ArticleViewerWindow::ArticleViewerWindow(viewers::ArticleViewer& viewer, QWidget* parent)
    : QWidget(parent, Qt::Window),
      viewer_(viewer),
      text_(new QPlainTextEdit),
      status_(new QLabel),
      render_timer_(new QTimer(this)) {
    NameControl(this, "frmViewArt", QStringLiteral("Article text"));
    setWindowIcon(AppIcon());
    NameControl(text_, "Text1", QStringLiteral("Article text"));
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* status_bar = new QStatusBar;
    NameControl(status_bar, "StatusBar1", QStringLiteral("Status"));
    status_bar->setSizeGripEnabled(false);
    NameControl(status_, "StatusBar1_Panel1", QStringLiteral("Status"));
    status_->setTextFormat(Qt::PlainText);  // the server's reply lines
    status_bar->addWidget(status_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(text_, 1);
    layout->addWidget(status_bar);
    resize(720, 520);

    viewer_.AttachSocket(&socket_);
    render_timer_->setInterval(kRenderMs);
    connect(render_timer_, &QTimer::timeout, this, &ArticleViewerWindow::Render);
    render_timer_->start();
}

ArticleViewerWindow::~ArticleViewerWindow() {
    // The socket goes with this window; the viewer must not keep using it.
    viewer_.AttachSocket(nullptr);
}

void ArticleViewerWindow::Render() {
    const viewers::ArticleViewerState& state = viewer_.State();
    if (rendered_ == state.revision) return;
    rendered_ = state.revision;
    setWindowTitle(DisplayText(state.title));
    if (text_->toPlainText() != EditorText(state.text)) text_->setPlainText(EditorText(state.text));
    status_->setText(DisplayText(common::OneLine(state.status)).trimmed());
}

void ArticleViewerWindow::closeEvent(QCloseEvent* event) {
    viewer_.WindowClosed();
    event->accept();
}

}  // namespace quillfin::ui
