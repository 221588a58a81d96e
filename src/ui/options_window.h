#pragma once

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/prompts.h"
#include "storage/group_list.h"
#include "storage/settings.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTimer;
class QTreeView;

namespace quillfin::ui {

class GroupTableModel;

// What the options window opens that it does not own.
struct OptionsWindowActions {
    // The add-a-newsgroup dialog, modeless.
    std::function<void()> show_add_dialog;
    // The folder picker, pointed at the download folder when there is one.
    std::function<void()> browse_download_path;
    // The help page at this window's topic.
    std::function<void()> show_help;
};

// frmFavs: the newsgroup list and the download and scan settings. Every control is the live
// value of its setting. Created hidden at start-up and never destroyed: Close and the close
// box only hide it, so the list, its selection and the last tab survive.
class OptionsWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr const char* kCaution =
        "Caution: You have disabled the automatic start of the download procedure at the end of "
        "a scan.  You will need to start the download procedure manually.";

    OptionsWindow(storage::Settings& settings, storage::GroupList& groups, common::Prompts& prompts,
                  OptionsWindowActions actions, QWidget* parent = nullptr);
    ~OptionsWindow() override;

    // Sets the controls from the settings (after the settings file is read). A slider value
    // outside its range is brought into it, and the setting with it.
    void LoadFromSettings();
    // Shows the window on its "Newsgroups" tab.
    void ShowNewsgroupsTab();
    // Shows the window modelessly on the tab it had.
    void ShowWindow();
    // Brings the table and the download folder label up to date now.
    void Refresh();
    // Centres the window over another the first time only; later it stays where the user put it.
    void CentreOnceOver(const QWidget* window);

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    using FlagSetting = int storage::Settings::*;
    struct SliderBinding {
        QSlider* slider;
        QLabel* label;
        int storage::Settings::*value;
        std::function<QString(int)> text;
    };

    QWidget* BuildNewsgroupsTab();
    QWidget* BuildDownloadTab();
    QWidget* BuildScanTab();
    QWidget* BuildBottomRow();
    QCheckBox* AddCheck(QWidget* parent, const char* name, const QString& caption,
                        FlagSetting value);
    QSlider* AddSlider(QWidget* parent, const char* name, const char* label_name,
                       int storage::Settings::*value, const int (&range)[5],
                       std::function<QString(int)> text);
    QPushButton* AddButton(QWidget* parent, const char* name, const QString& caption,
                           const QString& tip = {});
    void RunGroupCommand(void (storage::GroupList::*command)());
    void OnFocusChanged(QWidget* old, QWidget* now);
    void RenderDownloadPath();

    storage::Settings& settings_;
    storage::GroupList& groups_;
    common::Prompts& prompts_;
    OptionsWindowActions actions_;
    QTabWidget* tabs_ = nullptr;
    QTreeView* table_ = nullptr;
    GroupTableModel* model_ = nullptr;
    QLabel* download_path_ = nullptr;
    QCheckBox* autodownload_ = nullptr;
    QSpinBox* new_group_headers_ = nullptr;
    QTimer* render_timer_ = nullptr;
    std::vector<std::pair<QCheckBox*, FlagSetting>> check_boxes_;
    std::vector<SliderBinding> sliders_;
    std::optional<std::string> shown_path_;
    bool placed_ = false;
};

}  // namespace quillfin::ui
