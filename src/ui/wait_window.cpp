#include "ui/wait_window.h"

#include <QApplication>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/display_text.h"

namespace quillfin::ui {

WaitWindow::WaitWindow(const std::string& version, QWidget* parent)
    : QFrame(parent, Qt::SplashScreen | Qt::FramelessWindowHint),
      picture_(new QLabel(this)),
      version_(new QLabel(QStringLiteral("v") + DisplayText(version), this)),
      status_(new QLabel(QStringLiteral("loading..."), this)),
      progress_(new QProgressBar(this)) {
    NameControl(this, "frmWait", QString::fromLatin1(common::kProgramName));
    setWindowTitle(QString::fromLatin1(common::kProgramName));
    setWindowIcon(AppIcon());
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);

    picture_->setPixmap(SplashPicture());
    NameControl(picture_, "imgSplash", QString::fromLatin1(common::kProgramName));
    auto* title = new QLabel(QString::fromLatin1(common::kProgramName), this);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    title->setFont(big);
    NameControl(title, "lblTitle", title->text());
    NameControl(version_, "lblVersion", version_->text());
    status_->setObjectName(QStringLiteral("lblNFO"));  // screen readers read its text
    // A fixed width, so long status texts do not resize the window while it is up.
    status_->setMinimumWidth(240);
    NameControl(progress_, "ProgressBar1", QStringLiteral("Progress"));
    progress_->setRange(0, 10);
    progress_->setValue(0);
    progress_->setTextVisible(false);

    auto* texts = new QVBoxLayout;
    texts->addWidget(title);
    texts->addWidget(version_);
    texts->addStretch(1);
    texts->addWidget(status_);
    auto* top = new QHBoxLayout;
    top->addWidget(picture_, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->addLayout(top);
    layout->addSpacing(10);
    layout->addWidget(progress_);
}

void WaitWindow::SetStatus(const std::string& text) {
    status_->setText(DisplayText(text));
    if (isVisible()) status_->repaint();
}

void WaitWindow::SetProgress(int value) {
    progress_->setValue(std::clamp(value, 0, progress_->maximum()));
    if (isVisible()) progress_->repaint();
}

void WaitWindow::SetProgressMaximum(int maximum) { progress_->setRange(0, std::max(1, maximum)); }

void WaitWindow::ShowCentred() {
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    show();
    raise();
}

void WaitWindow::ShowSplash() {
    splash_ = true;
    ShowCentred();
    repaint();
    // The first show needs the window system's round trip before anything reaches the screen.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void WaitWindow::HideSplash() {
    splash_ = false;
    hide();
}

void WaitWindow::Render(const headers::WaitWindowState& state) {
    // The splash stays up whatever the state says until start-up hides it.
    const bool visible = state.visible || splash_;
    if (rendered_revision_ == state.revision && isVisible() == visible) return;
    if (rendered_revision_ != state.revision) {
        rendered_revision_ = state.revision;
        SetProgressMaximum(state.progress.maximum);
        SetStatus(state.lblNFO);
        SetProgress(state.progress.value);
    }
    if (visible && !isVisible())
        ShowCentred();
    else if (!visible && isVisible())
        hide();
}

}  // namespace quillfin::ui
