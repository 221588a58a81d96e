#include "ui/log_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>
#include <filesystem>

#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/display_text.h"

namespace quillfin::ui {

namespace {

constexpr int kRefreshMs = 33;  // about 30 renders a second at most

QPushButton* Button(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    NameControl(button, name, caption);
    return button;
}

}  // namespace

LogWindow::LogWindow(storage::ActivityLog& log, storage::Settings& settings,
                     common::Prompts& prompts, OpenWithShell open_with_shell, QWidget* parent)
    : QWidget(parent, Qt::Window),
      log_(log),
      settings_(settings),
      prompts_(prompts),
      open_with_shell_(std::move(open_with_shell)),
      list_(new QListWidget(this)),
      enable_(new QCheckBox(QStringLiteral("Enable Log"), this)),
      to_file_(new QCheckBox(QStringLiteral("Log to OPSLOG.TXT"), this)),
      refresh_timer_(new QTimer(this)) {
    NameControl(this, "frmLOG", QStringLiteral("Activity Log"));
    setWindowTitle(QStringLiteral("Activity Log"));
    setWindowIcon(AppIcon());
    auto* heading = new QLabel(QStringLiteral("Log of activity this session."), this);
    NameControl(heading, "lblLogHeading", heading->text());
    auto* order = new QLabel(QStringLiteral("(in reverse chronological order) "), this);
    NameControl(order, "lblLogOrder", order->text());
    NameControl(list_, "lstLog", QStringLiteral("Log"));
    list_->setUniformItemSizes(true);
    NameControl(enable_, "chkEnableLogging", enable_->text());
    NameControl(to_file_, "chkLogFile", to_file_->text());
    QPushButton* clear = Button(this, "cmdClear", QStringLiteral("Clea&r"));
    QPushButton* shortcut = Button(this, "cmdOpsLog", QStringLiteral("Shortcut to OPSLOG.TXT"));
    QPushButton* close = Button(this, "cmdClose", QStringLiteral("&Close"));

    auto* options = new QHBoxLayout;
    options->addWidget(enable_);
    options->addWidget(to_file_);
    options->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(clear);
    buttons->addWidget(shortcut);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(order);
    layout->addWidget(list_, 1);
    layout->addLayout(options);
    layout->addLayout(buttons);
    resize(520, 380);

    connect(enable_, &QCheckBox::toggled, this,
            [this](bool on) { settings_.chkEnableLogging = on ? 1 : 0; });
    connect(to_file_, &QCheckBox::toggled, this,
            [this](bool on) { settings_.chkLogFile = on ? 1 : 0; });
    connect(clear, &QPushButton::clicked, this, [this] {
        log_.Clear();
        Refresh();
    });
    connect(shortcut, &QPushButton::clicked, this, &LogWindow::OpenOpsLog);
    connect(close, &QPushButton::clicked, this, &QWidget::hide);
    connect(list_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { ShowLine(list_->row(item)); });
    refresh_timer_->setInterval(kRefreshMs);
    connect(refresh_timer_, &QTimer::timeout, this, &LogWindow::Refresh);
}

void LogWindow::LoadFromSettings() {
    // Blocked, so loading never writes back (a stored value other than 0 or 1 stays as it is).
    QSignalBlocker block_enable(enable_);
    QSignalBlocker block_file(to_file_);
    enable_->setChecked(settings_.chkEnableLogging != 0);
    to_file_->setChecked(settings_.chkLogFile != 0);
}

void LogWindow::Refresh() {
    if (rendered_revision_ == log_.Revision()) return;
    rendered_revision_ = log_.Revision();
    const auto& lines = log_.Lines();
    shown_.assign(lines.begin(), lines.end());
    list_->setUpdatesEnabled(false);
    list_->clear();
    for (const std::string& line : shown_) list_->addItem(DisplayText(line));
    int selected = log_.SelectedLine();
    if (selected >= 0 && selected < list_->count()) list_->setCurrentRow(selected);
    list_->setUpdatesEnabled(true);
}

void LogWindow::showEvent(QShowEvent* event) {
    LoadFromSettings();
    Refresh();
    refresh_timer_->start();
    QWidget::showEvent(event);
}

void LogWindow::hideEvent(QHideEvent* event) {
    refresh_timer_->stop();
    QWidget::hideEvent(event);
}

void LogWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}

void LogWindow::OpenOpsLog() {
    const std::string path = log_.OpsLogPath();
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        prompts_.Message("File does not exist.");
        return;
    }
    if (open_with_shell_) open_with_shell_(path);
}

void LogWindow::ShowLine(int row) {
    if (row < 0 || row >= static_cast<int>(shown_.size())) return;
    prompts_.Message(shown_[static_cast<std::size_t>(row)]);
}

}  // namespace quillfin::ui
