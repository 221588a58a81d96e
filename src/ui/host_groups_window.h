#pragma once

#include <QWidget>
#include <cstdint>
#include <optional>

#include "hostgroups/host_groups.h"
#include "platform/qt_socket.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTimer;
class QTreeView;

namespace quillfin::ui {

class RowListModel;

// frmGrM, "Host Newsgroups": the server's group list, its search and "&Add Selections". The
// window owns the list's socket and runs the search a slice per turn of the event loop, so
// closing it mid-search leaves nothing running over freed state.
class HostGroupsWindow : public QWidget {
    Q_OBJECT

  public:
    // after_add: the newsgroup list changed (the options window repaints).
    HostGroupsWindow(hostgroups::HostGroups& host, std::function<void()> after_add,
                     QWidget* parent = nullptr);
    ~HostGroupsWindow() override;

    // Shows the window; a window not yet open starts afresh from HOSTGRPS.TXT.
    void Open();
    void Render();
    // The window's connection follows the program's secure-connection setting.
    void SetTls(const platform::TlsSetup* setup) { socket_.SetTls(setup); }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* BuildQueryRow();
    void Query();
    void SearchSlice();

    hostgroups::HostGroups& host_;
    std::function<void()> after_add_;
    platform::QtSocket socket_;
    RowListModel* model_ = nullptr;
    QPushButton* cmd_retrieve_ = nullptr;
    QPushButton* cmd_reload_ = nullptr;
    QPushButton* cmd_query_ = nullptr;
    QPushButton* cmd_add_ = nullptr;
    QRadioButton* opt_starts_ = nullptr;
    QRadioButton* opt_contains_ = nullptr;
    QLineEdit* txt_query_ = nullptr;
    QTreeView* list_ = nullptr;
    QStackedWidget* results_ = nullptr;
    QLabel* lbl_searching_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* panels_[2] = {nullptr, nullptr};
    QTimer* render_timer_;
    QTimer* search_timer_;
    std::optional<std::uint64_t> rendered_;
};

}  // namespace quillfin::ui
