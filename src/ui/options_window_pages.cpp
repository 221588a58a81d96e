// The three tabs of the options window.
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>

#include "ui/control_name.h"
#include "ui/group_table_model.h"
#include "ui/options_window.h"

namespace quillfin::ui {

namespace {

// Minimum, maximum, small step, large step, tick every.
constexpr int kRescanRange[5] = {5, 240, 1, 10, 10};
constexpr int kTimeoutRange[5] = {15, 240, 1, 5, 10};
constexpr int kXoverRange[5] = {20, 2000, 1, 5, 40};
constexpr int kConnectionsRange[5] = {1, 50, 1, 4, 5};
constexpr int kInFlightRange[5] = {1, 16, 1, 2, 1};

QWidget* Panel(QWidget* parent, const char* name, const QString& caption) {
    auto* panel = new QWidget(parent);
    NameControl(panel, name, caption);
    return panel;
}

}  // namespace

QWidget* OptionsWindow::BuildNewsgroupsTab() {
    QWidget* panel = Panel(this, "fraNewsgroups", QStringLiteral("Newsgroups"));
    table_ = new QTreeView(panel);
    NameControl(table_, "lvwGroups", QStringLiteral("Newsgroups"));
    model_ = new GroupTableModel(groups_, this);
    model_->Attach(table_);
    table_->header()->setStretchLastSection(false);
    table_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < 6; ++column) table_->setColumnWidth(column, 62);
    connect(table_->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        groups_.SortByColumn(column);
        Refresh();
    });

    struct ButtonText {
        const char* name;
        const char* caption;
        const char* tip;
        void (storage::GroupList::*command)();
    };
    const ButtonText buttons[] = {
        {"cmdToggleRead", "&Toggle on/off", "Toggle group on or off",
         &storage::GroupList::ToggleSelected},
        {"cmdUP", "Move &Up", "Move Selected Group up in the scan order",
         &storage::GroupList::MoveSelectedUp},
        {"cmdDN", "Move D&own", "Move Selected Group down in the scan order",
         &storage::GroupList::MoveSelectedDown},
        {"cmdReset", "&Reset", "Reset Highest Message read in Selected Group",
         &storage::GroupList::ResetSelected},
        {"cmdDelete", "&Delete", "Delete Selected Group", &storage::GroupList::DeleteSelected},
    };
    auto* side = new QVBoxLayout;
    for (const ButtonText& text : buttons) {
        QPushButton* button = AddButton(panel, text.name, QString::fromLatin1(text.caption),
                                        QString::fromLatin1(text.tip));
        auto command = text.command;
        connect(button, &QPushButton::clicked, this, [this, command] { RunGroupCommand(command); });
        if (command == &storage::GroupList::ResetSelected)
            button->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
        side->addWidget(button);
    }
    QPushButton* add =
        AddButton(panel, "cmdAddOne", QStringLiteral("&Add"), QStringLiteral("Add Group"));
    connect(add, &QPushButton::clicked, this, [this] {
        if (actions_.show_add_dialog) actions_.show_add_dialog();
    });
    side->addSpacing(12);
    side->addWidget(add);
    side->addStretch(1);

    auto* layout = new QHBoxLayout(panel);
    layout->addWidget(table_, 1);
    layout->addLayout(side);
    return panel;
}

QWidget* OptionsWindow::BuildDownloadTab() {
    QWidget* panel = Panel(this, "fraDownload", QStringLiteral("Download"));
    auto* layout = new QVBoxLayout(panel);
    layout->addWidget(AddCheck(panel, "chkAllowRestart", QStringLiteral("Enable Emergency Restart"),
                               &storage::Settings::chkAllowRestart));
    layout->addWidget(AddCheck(panel, "chkSaveDecodes", QStringLiteral("Save Bad Decodes"),
                               &storage::Settings::chkSaveDecodes));
    layout->addWidget(AddCheck(panel, "chkMakeSubDirs",
                               QStringLiteral("Create Sub-Folders for each Newsgroup"),
                               &storage::Settings::chkMakeSubDirs));
    layout->addWidget(AddCheck(panel, "chkPar2Repair",
                               QStringLiteral("Verify and Repair Sets with par2"),
                               &storage::Settings::chkPar2Repair));

    auto* base = new QLabel(QStringLiteral("Base Download Path:"), panel);
    NameControl(base, "Label2", base->text());
    download_path_ = new QLabel(panel);
    download_path_->setObjectName(QStringLiteral("lblDownloadPath"));
    download_path_->setAccessibleDescription(QStringLiteral("Base Download Path"));
    download_path_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    download_path_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    download_path_->setMinimumWidth(300);
    QPushButton* browse = AddButton(panel, "cmdBrowseDLPath", QStringLiteral("..."));
    browse->setAccessibleName(QStringLiteral("Choose the base download folder"));
    browse->setFixedWidth(36);
    connect(browse, &QPushButton::clicked, this, [this] {
        if (actions_.browse_download_path) actions_.browse_download_path();
    });
    auto* path_row = new QHBoxLayout;
    path_row->addWidget(download_path_, 1);
    path_row->addWidget(browse);
    layout->addSpacing(8);
    layout->addWidget(base);
    layout->addLayout(path_row);

    layout->addSpacing(8);
    QSlider* rescan = AddSlider(
        panel, "sldRescan", "lblERWait", &storage::Settings::Rescan_Time, kRescanRange,
        [](int v) { return QStringLiteral("Emergency restart wait: %1 seconds").arg(v); });
    layout->addWidget(sliders_.back().label);
    layout->addWidget(rescan);
    QSlider* timeout = AddSlider(
        panel, "sldTimeout", "lblTimeout", &storage::Settings::sldTimeout, kTimeoutRange,
        [](int v) {
            return QStringLiteral("Restart connection if inactive more than %1 seconds").arg(v);
        });
    layout->addWidget(sliders_.back().label);
    layout->addWidget(timeout);
    layout->addSpacing(8);
    QSlider* connections = AddSlider(
        panel, "sldConnections", "lblConnections", &storage::Settings::Connections,
        kConnectionsRange, [](int v) { return QStringLiteral("Connections: %1").arg(v); });
    layout->addWidget(sliders_.back().label);
    layout->addWidget(connections);
    QSlider* in_flight = AddSlider(
        panel, "sldInFlight", "lblInFlight", &storage::Settings::RequestsInFlight, kInFlightRange,
        [](int v) { return QStringLiteral("Requests in flight per connection: %1").arg(v); });
    layout->addWidget(sliders_.back().label);
    layout->addWidget(in_flight);
    layout->addStretch(1);
    return panel;
}

QWidget* OptionsWindow::BuildScanTab() {
    QWidget* panel = Panel(this, "fraScan", QStringLiteral("Scan"));
    auto* layout = new QVBoxLayout(panel);
    QCheckBox* expire = AddCheck(
        panel, "chkAutoExpire",
        QStringLiteral(
            "Auto Expire (automatically expire headers that have been deleted from server)"),
        &storage::Settings::chkAutoExpire);
    autodownload_ = AddCheck(
        panel, "chkAutodownload",
        QStringLiteral("Automatically start batch download at end of scan (if batch is not empty)"),
        &storage::Settings::chkAutodownload);
    layout->addWidget(expire);
    layout->addWidget(autodownload_);
    layout->addWidget(AddCheck(panel, "chkCompress",
                               QStringLiteral("Compress headers when the server offers it"),
                               &storage::Settings::chkCompress));
    layout->addSpacing(8);
    QSlider* xover = AddSlider(
        panel, "sldXOVER", "lblXOVER", &storage::Settings::sldXOVER, kXoverRange,
        [](int v) { return QStringLiteral("XOVER burst receive %1 headers at a time").arg(v); });
    layout->addWidget(sliders_.back().label);
    layout->addWidget(xover);
    QSlider* xover_ahead = AddSlider(
        panel, "sldXoverInFlight", "lblXoverInFlight", &storage::Settings::XoverInFlight,
        kInFlightRange, [](int v) { return QStringLiteral("XOVER requests in flight: %1").arg(v); });
    layout->addWidget(sliders_.back().label);
    layout->addWidget(xover_ahead);
    layout->addSpacing(8);
    auto* label = new QLabel(
        QStringLiteral("For a new group, read only the newest N headers (0 = all):"), panel);
    NameControl(label, "lblNewGroupHeaders", label->text());
    new_group_headers_ = new QSpinBox(panel);
    new_group_headers_->setRange(0, 2000000000);
    new_group_headers_->setSingleStep(50000);
    new_group_headers_->setGroupSeparatorShown(true);
    new_group_headers_->setValue(settings_.NewGroupHeaders);
    NameControl(new_group_headers_, "txtNewGroupHeaders", label->text());
    label->setBuddy(new_group_headers_);
    connect(new_group_headers_, &QSpinBox::valueChanged, this,
            [this](int v) { settings_.NewGroupHeaders = v; });
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(new_group_headers_);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(1);
    return panel;
}

}  // namespace quillfin::ui
