#include "ui/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/display_text.h"
#include "ui/row_list_model.h"

namespace quillfin::ui {

namespace {

using headers::Completeness;

struct ToolbarToggle {
    const char* name;
    const char* caption;
    const char* tip;
    Completeness completeness;
    bool storage::Settings::*flag;
};

constexpr ToolbarToggle kToggles[4] = {
    {"btnsComplete", "Complete", "Toggle view status (Complete)", Completeness::kComplete,
     &storage::Settings::togtsComplete},
    {"btnsIncomplete", "Incomplete", "Toggle view status (Incomplete)", Completeness::kIncomplete,
     &storage::Settings::togtsIncomplete},
    {"btnsUnknown", "Unknown", "Toggle view status (Unknown)", Completeness::kUnknown,
     &storage::Settings::togtsUnknown},
    {"btnsText", "Text", "Toggle view status (Text)", Completeness::kText,
     &storage::Settings::togtsText},
};

QLabel* Label(const char* name, const QString& caption) {
    auto* label = new QLabel(caption);
    NameControl(label, name, caption);
    return label;
}

QProgressBar* Bar(const char* name, const QString& caption) {
    auto* bar = new QProgressBar;
    NameControl(bar, name, caption);
    bar->setTextVisible(false);
    bar->setMaximumHeight(16);
    bar->setMinimumWidth(120);
    return bar;
}

QTreeView* List(const char* name) {
    auto* list = new QTreeView;
    list->setObjectName(name);
    list->setAlternatingRowColors(true);
    list->header()->setSectionsClickable(true);
    list->header()->setStretchLastSection(true);
    return list;
}

}  // namespace

MainWindow::MainWindow(app::Program& program, MainWindowActions actions, QWidget* parent)
    : QMainWindow(parent),
      program_(program),
      actions_(std::move(actions)),
      render_timer_(new QTimer(this)) {
    setObjectName("frmMain");
    setWindowTitle(common::kProgramName);
    setWindowIcon(AppIcon());
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addWidget(BuildStatusStrip());
    layout->addWidget(BuildScanRow());
    tab_strip_ = new QTabBar;
    NameControl(tab_strip_, "TabStrip1", "Views");
    tab_strip_->addTab("Headers");
    tab_strip_->addTab("Batch");
    tab_strip_->setTabToolTip(0, "View all headers");
    tab_strip_->setTabToolTip(1, "Batch download view");
    tab_strip_->setExpanding(false);
    layout->addWidget(tab_strip_);
    frames_[0] = static_cast<QFrame*>(BuildHeadersFrame());
    frames_[1] = static_cast<QFrame*>(BuildBatchFrame());
    layout->addWidget(frames_[0], 1);
    layout->addWidget(frames_[1], 1);
    layout->addWidget(BuildBottomRow());
    setCentralWidget(central);
    resize(980, 660);
    ShowTab(0);
    ConnectCommands();

    auto* exit = new QAction("E&xit", this);
    exit->setObjectName("mnuExit");
    exit->setShortcut(QKeySequence::Quit);
    connect(exit, &QAction::triggered, this, [this] { program_.Shutdown(); });
    addAction(exit);
    auto* help = new QAction(this);
    help->setShortcut(QKeySequence::HelpContents);
    connect(help, &QAction::triggered, this, [this] {
        if (actions_.show_help) actions_.show_help();
    });
    addAction(help);

    connect(render_timer_, &QTimer::timeout, this, &MainWindow::Render);
    render_timer_->start(33);
    Render();
}

MainWindow::~MainWindow() = default;

QPushButton* MainWindow::Button(const char* name, const QString& caption, const QString& tip) {
    auto* button = new QPushButton(caption);
    NameControl(button, name, caption);
    if (!tip.isEmpty()) button->setToolTip(tip);
    button->setAutoDefault(false);
    return button;
}

void MainWindow::AddNzbMenu(QTreeView* list, bool from_batch) {
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    if (from_batch) {
        auto* import = new QAction("Import NZB...", list);
        import->setObjectName("mnuImportNzb");
        connect(import, &QAction::triggered, this, [this] {
            if (actions_.import_nzb) actions_.import_nzb();
        });
        list->addAction(import);
    }
    auto* export_nzb = new QAction("Export NZB...", list);
    export_nzb->setObjectName(from_batch ? "mnuExportNzbBatch" : "mnuExportNzb");
    connect(export_nzb, &QAction::triggered, this, [this, from_batch] {
        if (actions_.export_nzb) actions_.export_nzb(from_batch);
    });
    list->addAction(export_nzb);
}

QWidget* MainWindow::BuildStatusStrip() {
    auto* strip = new QFrame;
    strip->setObjectName("picCap");
    strip->setFrameShape(QFrame::StyledPanel);
    strip->setFrameShadow(QFrame::Sunken);
    strip->setAutoFillBackground(true);
    strip->setBackgroundRole(QPalette::Base);
    auto* layout = new QHBoxLayout(strip);
    layout->setContentsMargins(6, 3, 6, 3);
    lbl_cap_x_ = Label("lblCapX", "Quillfin ready, press SCAN to start");
    lbl_cap_x_->setTextFormat(Qt::PlainText);
    lbl_cap_x_->setMinimumWidth(100);
    lbl_cap_x_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(lbl_cap_x_);
    return strip;
}

QWidget* MainWindow::BuildScanRow() {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    cmd_scan_ = Button("cmdScan", "Scan", "Connect to News Server (start scan)");
    cmd_scan_->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    layout->addWidget(cmd_scan_);
    auto* stop = Button("cmdScanStop", "Stop", "Disconnect from News Server and stop scanning");
    stop->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
    layout->addWidget(stop);
    layout->addSpacing(12);
    layout->addWidget(Label("Label1", "Entire scan:"));
    progress_[0] = Bar("ProgressBar1", "Entire scan:");
    layout->addWidget(progress_[0], 1);
    layout->addWidget(Label("lblTcount", "This group:"));
    progress_[1] = Bar("ProgressBar2", "This group:");
    layout->addWidget(progress_[1], 1);
    layout->addSpacing(12);
    lbl_m_count_ = Label("lblMCount", "Read: 0");
    lbl_m_count_->setMinimumWidth(110);
    layout->addWidget(lbl_m_count_);
    return row;
}

QWidget* MainWindow::BuildHeaderToolbar() {
    auto* bar = new QToolBar;
    bar->setObjectName("Toolbar1");
    bar->setIconSize(QSize(16, 16));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->addWidget(Label("Label4", "View Filter:"));
    const int icons[4] = {2, 1, 3, 6};
    for (int i = 0; i < 4; ++i) {
        auto* button = new QToolButton;
        NameControl(button, kToggles[i].name, kToggles[i].caption);
        button->setText(kToggles[i].caption);
        button->setToolTip(kToggles[i].tip);
        button->setIcon(ClassIcon(icons[i]));
        button->setCheckable(true);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        const Completeness completeness = kToggles[i].completeness;
        connect(button, &QToolButton::toggled, this, [this, completeness](bool pressed) {
            program_.views.ToolbarClick(completeness, pressed);
        });
        toolbar_buttons_[i] = button;
        bar->addWidget(button);
    }
    bar->addSeparator();
    bar->addWidget(Label("Label5", "Group Zoom:"));
    cbo_vg_ = new QComboBox;
    NameControl(cbo_vg_, "cboVG", "Group Zoom:");
    cbo_vg_->setMinimumContentsLength(28);
    cbo_vg_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    connect(cbo_vg_, &QComboBox::activated, this, [this](int item) {
        const auto& items = program_.views.Filter().Items();
        if (item >= 0 && item < int(items.size())) program_.views.SelectFilter(items[item]);
    });
    bar->addWidget(cbo_vg_);
    return bar;
}

QWidget* MainWindow::BuildHeadersFrame() {
    auto* frame = new QFrame;
    frame->setObjectName("Frame1_0");
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(BuildHeaderToolbar());
    list_headers_ = List("ListView2");
    header_model_ = new RowListModel(program_.views.Rows(),
                                     {"Subject", "Parts", "MB", "From", "Date", "Newsgroup"}, this);
    header_model_->Attach(list_headers_);
    list_headers_->installEventFilter(this);
    AddNzbMenu(list_headers_, false);
    layout->addWidget(list_headers_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button("cmdViewArt", "View Text", "View selected article as text"));
    buttons->addWidget(Button("cmdViewParts", "View Parts",
                              "View a list of parts of the first selected multipart article"));
    buttons->addWidget(
        Button("cmdAddtoQue", "Add to Batch", "Add selected article(s) to the batch"));
    buttons->addWidget(Button("cmdDelHeaders", "Delete", "Delete the selected header(s)"));
    cmd_restore_ = Button("cmdRestore", "Restore", "Restore headers that have been deleted");
    buttons->addWidget(cmd_restore_);
    buttons->addWidget(Button("cmdSearchSelect", "Find",
                              "Find headers that match some text you are going to enter"));
    buttons->addWidget(
        Button("cmdExportNzb", "Export NZB...", "Write the selected posting(s) to an NZB file"));
    buttons->addStretch(1);
    cmd_save_headers_ = Button("cmdSaveHeaders", "Save Headers", "Save headers to disk");
    cmd_save_headers_->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    buttons->addWidget(cmd_save_headers_);
    layout->addLayout(buttons);
    return frame;
}

QWidget* MainWindow::BuildBatchFrame() {
    auto* frame = new QFrame;
    frame->setObjectName("Frame1_1");
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* body = new QHBoxLayout;
    list_batch_ = List("ListView3");
    batch_model_ = new RowListModel(program_.batch.Rows(), {"Subject", "Parts", "MB"}, this);
    batch_model_->Attach(list_batch_);
    list_batch_->installEventFilter(this);
    AddNzbMenu(list_batch_, true);
    body->addWidget(list_batch_, 1);
    auto* side = new QVBoxLayout;
    side->addWidget(Button("cmdUP", "Move &Up"));
    side->addWidget(Button("cmdDN", "Move D&own"));
    side->addWidget(Button("cmdDelete", "&Remove"));
    side->addWidget(Button("cmdViewPartsinBatch", "View Parts"));
    side->addSpacing(12);
    side->addWidget(Button("cmdImportNzb", "Import NZB...", "Queue the postings of an NZB file"));
    side->addWidget(Button("cmdExportNzbBatch", "Export NZB...",
                           "Write the selected batch posting(s) to an NZB file"));
    side->addStretch(1);
    body->addLayout(side);
    layout->addLayout(body, 1);

    auto* download = new QHBoxLayout;
    auto* start = Button("cmdBatchDownload", "Download");
    start->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
    download->addWidget(start);
    download->addWidget(Button("cmdBatchDownloadStop", "Stop", "Abort Download"));
    img_testx_ = new QLabel;
    NameControl(img_testx_, "imgTestx", "Download status");
    img_testx_->setToolTip("Indicates DL status (red=busy) click here to force dl start");
    img_testx_->setCursor(Qt::PointingHandCursor);
    img_testx_->installEventFilter(this);
    download->addWidget(img_testx_);
    download->addSpacing(8);
    download->addWidget(Label("Label3", "This part:"));
    progress_[2] = Bar("ProgressBar3", "This part:");
    download->addWidget(progress_[2], 1);
    download->addWidget(Label("Label2", "This file:"));
    progress_[3] = Bar("ProgressBar4", "This file:");
    download->addWidget(progress_[3], 1);
    layout->addLayout(download);

    auto* totals = new QHBoxLayout;
    lbl_total_batch_size_ = Label("lblTotalBatchSize", "Total batch size: 0.0mb");
    totals->addWidget(lbl_total_batch_size_);
    totals->addSpacing(24);
    lbl_total_batch_time_ = Label("lblTotalBatchTime", "Time remaining: (unknown)");
    totals->addWidget(lbl_total_batch_time_);
    totals->addStretch(1);
    layout->addLayout(totals);
    return frame;
}

QWidget* MainWindow::BuildBottomRow() {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Button("cmdOptions", "Options", "Edit options"));
    layout->addWidget(Button("cmdLog", "Log"));
    layout->addStretch(1);
    layout->addWidget(Button("cmdHelp", "Help"));
    layout->addWidget(Button("cmdAbout", "About"));
    return row;
}

}  // namespace quillfin::ui
