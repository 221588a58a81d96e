#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "common/prompts.h"

class QLineEdit;

namespace quillfin::ui {

// frmMakePath: makes a new folder inside the folder picker's current folder.
class MakeFolderDialog : public QDialog {
    Q_OBJECT

  public:
    // base_path: the folder to create in, ending in "/". on_created: points the picker at
    // the new folder; false when it could not.
    MakeFolderDialog(common::Prompts& prompts, std::function<std::string()> base_path,
                     std::function<bool(const std::string&)> on_created, QWidget* parent = nullptr);

    // The OK button. A blank name does nothing and a name holding "/" (or ".", "..") is
    // refused, both leaving the dialog open; otherwise it creates the folder, reports a
    // failure with the system's text, and closes.
    void CreateFolder();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    common::Prompts& prompts_;
    std::function<std::string()> base_path_;
    std::function<bool(const std::string&)> on_created_;
    QLineEdit* name_;
};

}  // namespace quillfin::ui
