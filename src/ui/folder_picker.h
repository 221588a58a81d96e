#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "common/prompts.h"

class QComboBox;
class QFileSystemModel;
class QLabel;
class QModelIndex;
class QTreeView;

namespace quillfin::ui {

class MakeFolderDialog;

// frmBrowse: picks the base download folder. Created once; Cancel and the close box hide it.
class FolderPicker : public QDialog {
    Q_OBJECT

  public:
    // on_chosen receives the chosen folder, ending in "/", when OK is pressed.
    FolderPicker(common::Prompts& prompts, std::function<void(const std::string&)> on_chosen,
                 QWidget* parent = nullptr);

    // Moves the folder list to path when it is an existing folder; false (and no move) if not.
    bool PointAt(const std::string& path);
    // The selected folder as lblPath shows it: ending in "/".
    const std::string& SelectedPath() const { return selected_; }

  private:
    void SetUpLists();
    void OnCurrentChanged(const QModelIndex& current);
    void OnDriveChosen(int row);
    void Choose();

    common::Prompts& prompts_;
    std::function<void(const std::string&)> on_chosen_;
    QComboBox* drives_;
    QFileSystemModel* model_;
    QTreeView* folders_;
    QLabel* path_label_;
    MakeFolderDialog* make_folder_;
    std::string selected_;
};

}  // namespace quillfin::ui
