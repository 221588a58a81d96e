#include "ui/mp3_preview_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "common/text.h"
#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/display_text.h"

namespace quillfin::ui {

namespace {

constexpr int kRenderMs = 33;

// QProgressBar counts in int; a part past 2 GB is shown in kilobytes.
int BarValue(std::int64_t value, std::int64_t maximum) {
    const std::int64_t scale = maximum > std::numeric_limits<int>::max() ? 1024 : 1;
    return int(std::clamp<std::int64_t>(value / scale, 0, std::numeric_limits<int>::max()));
}

}  // namespace

Mp3PreviewWindow::Mp3PreviewWindow(viewers::Mp3Preview& preview, QWidget* parent)
    : QWidget(parent, Qt::Window),
      preview_(preview),
      subject_(new QLabel),
      status_(new QLabel),
      progress_(new QProgressBar),
      render_timer_(new QTimer(this)) {
    NameControl(this, "frmPreviewMP3", QStringLiteral("MP3 Preview"));
    setWindowTitle(QStringLiteral("MP3 Preview"));
    setWindowIcon(AppIcon());
    NameControl(subject_, "Label2", QStringLiteral("Subject"));
    NameControl(status_, "Label1", QStringLiteral("Status"));
    // The subject and the server's reply lines.
    subject_->setTextFormat(Qt::PlainText);
    status_->setTextFormat(Qt::PlainText);
    NameControl(progress_, "ProgressBar1", QStringLiteral("Progress"));
    subject_->setWordWrap(true);
    progress_->setTextVisible(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(subject_);
    layout->addWidget(status_);
    layout->addWidget(progress_);
    resize(420, 120);

    preview_.AttachSocket(&socket_);
    render_timer_->setInterval(kRenderMs);
    connect(render_timer_, &QTimer::timeout, this, &Mp3PreviewWindow::Render);
    render_timer_->start();
}

Mp3PreviewWindow::~Mp3PreviewWindow() { preview_.AttachSocket(nullptr); }

void Mp3PreviewWindow::Render() {
    const viewers::Mp3PreviewState& state = preview_.State();
    if (rendered_ == state.revision) return;
    rendered_ = state.revision;
    subject_->setText(DisplayText(state.subject));
    status_->setText(DisplayText(common::OneLine(state.status)).trimmed());
    progress_->setMaximum(std::max(1, BarValue(state.maximum, state.maximum)));
    progress_->setValue(BarValue(state.progress, state.maximum));
    if (state.visible && !isVisible()) {
        show();
        raise();
        activateWindow();
    } else if (!state.visible && isVisible()) {
        hide();
    }
}

void Mp3PreviewWindow::closeEvent(QCloseEvent* event) {
    preview_.WindowClosed();
    event->accept();
}

}  // namespace quillfin::ui
