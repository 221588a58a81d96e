#include "ui/add_group_dialog.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "common/text.h"
#include "storage/group_name_check.h"
#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/display_text.h"

namespace quillfin::ui {

namespace {

QPushButton* Button(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    NameControl(button, name, caption);
    button->setAutoDefault(false);
    return button;
}

QLabel* Label(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    NameControl(label, name, text);
    label->setWordWrap(true);
    return label;
}

}  // namespace

AddGroupDialog::AddGroupDialog(storage::GroupList& groups, common::Prompts& prompts,
                               AddGroupDialogActions actions, QWidget* parent)
    : QDialog(parent),
      groups_(groups),
      prompts_(prompts),
      actions_(std::move(actions)),
      name_(new QLineEdit(this)) {
    NameControl(this, "frmAddOne", QStringLiteral("Add a newsgroup"));
    setWindowTitle(QStringLiteral("Add a newsgroup"));
    setWindowIcon(AppIcon());
    QLabel* prompt = Label(this, "lblTypeName",
                           QStringLiteral("Or add a group by simply typing or pasting it here:"));
    prompt->setBuddy(name_);
    NameControl(name_, "txtGroupName", QStringLiteral("Newsgroup name"));
    name_->installEventFilter(this);
    QPushButton* add = Button(this, "cmdOK", QStringLiteral("&Add"));
    add->setDefault(true);
    QPushButton* host = Button(this, "cmdGrM", QStringLiteral("host"));
    host->setIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
    QLabel* host_text = Label(this, "lblGrM",
                              QStringLiteral("Download and/or Query your hosts complete list of "
                                             "newsgroups."));
    QPushButton* search =
        Button(this, "cmdWebSiteNGSearch", QStringLiteral("Newsgroup Search Engines"));
    QLabel* search_text =
        Label(this, "lblWebSiteNGSearch",
              QStringLiteral("Opens a newsgroup search web site in your web browser."));
    QPushButton* close = Button(this, "cmdClose", QStringLiteral("&Close"));

    auto* finders = new QGridLayout;
    finders->addWidget(host, 0, 0);
    finders->addWidget(host_text, 0, 1);
    finders->addWidget(search, 1, 0);
    finders->addWidget(search_text, 1, 1);
    finders->setColumnStretch(1, 1);
    auto* entry = new QHBoxLayout;
    entry->addWidget(name_, 1);
    entry->addWidget(add);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(finders);
    layout->addSpacing(10);
    layout->addWidget(prompt);
    layout->addLayout(entry);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    setMinimumWidth(460);

    connect(add, &QPushButton::clicked, this, &AddGroupDialog::Add);
    connect(host, &QPushButton::clicked, this, [this] {
        hide();
        if (actions_.show_host_groups) actions_.show_host_groups();
    });
    connect(search, &QPushButton::clicked, this, [this] {
        if (actions_.open_search_page) actions_.open_search_page();
    });
    // Escape presses "&Close": QDialog's reject hides the dialog.
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

void AddGroupDialog::ShowModeless() {
    show();
    raise();
    activateWindow();
}

void AddGroupDialog::ShowModal() {
    // Modality applies when a window is shown: one already open modelessly is shown again.
    if (isVisible()) hide();
    exec();
}

void AddGroupDialog::showEvent(QShowEvent* event) {
    name_->setFocus();
    QDialog::showEvent(event);
}

bool AddGroupDialog::eventFilter(QObject* watched, QEvent* event) {
    // Deferred: a mouse click that gave the focus would otherwise place the cursor and undo
    // the selection.
    if (watched == name_ && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, name_, &QLineEdit::selectAll);
    return QDialog::eventFilter(watched, event);
}

void AddGroupDialog::Add() {
    const std::string name = StoredText(name_->text());
    if (common::Trim(name).empty()) return;
    const std::string problem = storage::GroupNameProblem(name);
    if (!problem.empty()) {
        prompts_.Message(problem);
        name_->setFocus();
        return;
    }
    groups_.AddGroup(name);
    groups_.RefreshGroupFilter();
    name_->clear();
    accept();
}

}  // namespace quillfin::ui
