#include "ui/make_folder_dialog.h"

#include <sys/stat.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>

#include "common/text.h"
#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/display_text.h"

namespace quillfin::ui {

namespace {

// A name that would leave the chosen folder or name no new folder at all.
bool EscapesBase(const std::string& name) {
    return name == "." || name == ".." || name.find('/') != std::string::npos ||
           name.find('\0') != std::string::npos;
}

}  // namespace

MakeFolderDialog::MakeFolderDialog(common::Prompts& prompts, std::function<std::string()> base_path,
                                   std::function<bool(const std::string&)> on_created,
                                   QWidget* parent)
    : QDialog(parent),
      prompts_(prompts),
      base_path_(std::move(base_path)),
      on_created_(std::move(on_created)),
      name_(new QLineEdit(this)) {
    NameControl(this, "frmMakePath", QStringLiteral("Create new folder"));
    setWindowTitle(QStringLiteral("Create new folder"));
    setWindowIcon(AppIcon());
    auto* label = new QLabel(QStringLiteral("Folder &name:"), this);
    NameControl(label, "lblFolderName", label->text());
    label->setBuddy(name_);
    NameControl(name_, "txtFolderName", QStringLiteral("Folder name"));
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    NameControl(ok, "cmdOK", ok->text());
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    NameControl(cancel, "cmdCancel", cancel->text());

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(name_);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    setMinimumWidth(320);

    connect(ok, &QPushButton::clicked, this, &MakeFolderDialog::CreateFolder);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void MakeFolderDialog::CreateFolder() {
    const std::string name = StoredText(name_->text());
    if (common::Trim(name).empty()) return;
    if (EscapesBase(name)) {
        prompts_.Message("A folder name cannot contain \"/\" or be \".\" or \"..\".");
        return;
    }
    const std::string path = base_path_() + name;
    hide();
    if (::mkdir(path.c_str(), 0777) != 0) {
        const int error = errno;
        prompts_.Message(std::strerror(error));
    } else if (!on_created_(path)) {
        prompts_.Message(std::strerror(ENOENT));
    }
    reject();
}

void MakeFolderDialog::showEvent(QShowEvent* event) {
    // Each opening starts empty, as a freshly opened dialog would.
    name_->clear();
    name_->setFocus();
    QDialog::showEvent(event);
}

}  // namespace quillfin::ui
