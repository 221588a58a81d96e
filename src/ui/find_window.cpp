#include "ui/find_window.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/display_text.h"

namespace quillfin::ui {

FindWindow::FindWindow(headers::HeaderMaintenance& maintenance, std::function<void()> after_find,
                       QWidget* parent)
    : QWidget(parent, Qt::Window),
      maintenance_(maintenance),
      after_find_(std::move(after_find)),
      txt_search_(new QLineEdit),
      chk_search_deleted_(new QCheckBox(QStringLiteral("Search even deleted headers"))) {
    NameControl(this, "frmSearch", QStringLiteral("Find"));
    setWindowTitle(QStringLiteral("Find"));
    setWindowIcon(AppIcon());
    auto* label =
        new QLabel(QStringLiteral("Enter a search string and press find to show matching headers"));
    NameControl(label, "Label1", label->text());
    NameControl(txt_search_, "txtSearch", QStringLiteral("Search text"));
    NameControl(chk_search_deleted_, "chkSearchDeleted", chk_search_deleted_->text());
    auto* find = new QPushButton(QStringLiteral("Find"));
    NameControl(find, "cmdSearch", QStringLiteral("Find"));
    find->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"));
    NameControl(cancel, "cmdClose", QStringLiteral("&Cancel"));
    txt_search_->installEventFilter(this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(chk_search_deleted_);
    buttons->addStretch(1);
    buttons->addWidget(find);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(txt_search_);
    layout->addLayout(buttons);
    resize(420, 120);

    connect(find, &QPushButton::clicked, this, &FindWindow::Search);
    connect(txt_search_, &QLineEdit::returnPressed, this, &FindWindow::Search);
    connect(cancel, &QPushButton::clicked, this, &QWidget::hide);
}

void FindWindow::Search() {
    const bool found =
        maintenance_.Find(StoredText(txt_search_->text()), chk_search_deleted_->isChecked());
    if (after_find_) after_find_();
    if (found) hide();
}

void FindWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    txt_search_->setFocus();
}

bool FindWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) txt_search_->setFocus();
    return QWidget::event(event);
}

bool FindWindow::eventFilter(QObject* watched, QEvent* event) {
    // Deferred: a click that gave the focus would otherwise place the cursor instead.
    if (watched == txt_search_ && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, txt_search_, &QLineEdit::selectAll);
    return QWidget::eventFilter(watched, event);
}

}  // namespace quillfin::ui
