#pragma once

#include <QDialog>
#include <functional>

#include "common/prompts.h"
#include "storage/group_list.h"

class QLineEdit;

namespace quillfin::ui {

// What the add-a-newsgroup dialog opens that it does not own.
struct AddGroupDialogActions {
    // The host newsgroup list window; this dialog hides itself first.
    std::function<void()> show_host_groups;
    // A newsgroup search page in the web browser.
    std::function<void()> open_search_page;
};

// frmAddOne: adds one newsgroup, typed or pasted, to the user's list. Created once and hidden
// again when done.
class AddGroupDialog : public QDialog {
    Q_OBJECT

  public:
    AddGroupDialog(storage::GroupList& groups, common::Prompts& prompts,
                   AddGroupDialogActions actions, QWidget* parent = nullptr);

    // Shown modelessly (the options window's "&Add").
    void ShowModeless();
    // Shown modally; returns when the user has closed it (the first scan with an empty list).
    void ShowModal();

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Add();

    storage::GroupList& groups_;
    common::Prompts& prompts_;
    AddGroupDialogActions actions_;
    QLineEdit* name_;
};

}  // namespace quillfin::ui
