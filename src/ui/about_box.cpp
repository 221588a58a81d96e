#include "ui/about_box.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/display_text.h"

namespace quillfin::ui {

AboutBox::AboutBox(const std::string& version, std::function<void()> on_activated, QWidget* parent)
    : QDialog(parent), on_activated_(std::move(on_activated)) {
    NameControl(this, "frmAbout2", QStringLiteral("Quillfin"));
    setWindowTitle(QStringLiteral("Quillfin"));
    setWindowIcon(AppIcon());
    auto* picture = new QLabel(this);
    NameControl(picture, "imgLogo", QStringLiteral("Quillfin"));
    picture->setPixmap(SplashPicture());
    auto* name = new QLabel(QStringLiteral("Quillfin"), this);
    NameControl(name, "lblName", name->text());
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    name->setFont(big);
    auto* version_label = new QLabel(DisplayText(version), this);
    NameControl(version_label, "lblVersion", version_label->text());
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    NameControl(close, "cmdClose", close->text());
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* text = new QVBoxLayout;
    text->addStretch(1);
    text->addWidget(name);
    text->addWidget(version_label);
    text->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(picture);
    top->addSpacing(16);
    top->addLayout(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    setMinimumWidth(300);
}

void AboutBox::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && on_activated_)
        on_activated_();
    QDialog::changeEvent(event);
}

}  // namespace quillfin::ui
