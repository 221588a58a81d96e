#include "ui/options_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/display_text.h"
#include "ui/group_table_model.h"

namespace quillfin::ui {

namespace {

constexpr int kRenderMs = 33;  // about 30 renders a second at most

}  // namespace

OptionsWindow::OptionsWindow(storage::Settings& settings, storage::GroupList& groups,
                             common::Prompts& prompts, OptionsWindowActions actions,
                             QWidget* parent)
    : QWidget(parent, Qt::Window),
      settings_(settings),
      groups_(groups),
      prompts_(prompts),
      actions_(std::move(actions)),
      render_timer_(new QTimer(this)) {
    NameControl(this, "frmFavs", QStringLiteral("Quillfin Options"));
    setWindowTitle(QStringLiteral("Quillfin Options"));
    setWindowIcon(AppIcon());
    tabs_ = new QTabWidget(this);
    NameControl(tabs_, "tabOptions", QStringLiteral("Options"));
    tabs_->addTab(BuildNewsgroupsTab(), QStringLiteral("Newsgroups"));
    tabs_->addTab(BuildDownloadTab(), QStringLiteral("Download"));
    tabs_->addTab(BuildScanTab(), QStringLiteral("Scan"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_, 1);
    layout->addWidget(BuildBottomRow());
    resize(780, 440);

    auto* help = new QAction(this);
    help->setShortcut(QKeySequence::HelpContents);
    help->setShortcutContext(Qt::WindowShortcut);
    connect(help, &QAction::triggered, this, [this] {
        if (actions_.show_help) actions_.show_help();
    });
    addAction(help);

    render_timer_->setInterval(kRenderMs);
    connect(render_timer_, &QTimer::timeout, this, &OptionsWindow::Refresh);
    connect(qApp, &QApplication::focusChanged, this, &OptionsWindow::OnFocusChanged);
    LoadFromSettings();
}

OptionsWindow::~OptionsWindow() {
    // ~QWidget moves the focus away and would deliver that to this half-destroyed window.
    disconnect(qApp, &QApplication::focusChanged, this, &OptionsWindow::OnFocusChanged);
}

QWidget* OptionsWindow::BuildBottomRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(
        AddCheck(row, "chkSFX", QStringLiteral("Play Sound Effects"), &storage::Settings::chkSFX));
    layout->addStretch(1);
    QPushButton* help = AddButton(row, "cmdHelp", QStringLiteral("Help"));
    QPushButton* close = AddButton(row, "cmdClose", QStringLiteral("Close"));
    layout->addWidget(help);
    layout->addWidget(close);
    connect(help, &QPushButton::clicked, this, [this] {
        if (actions_.show_help) actions_.show_help();
    });
    connect(close, &QPushButton::clicked, this, &QWidget::hide);
    return row;
}

QCheckBox* OptionsWindow::AddCheck(QWidget* parent, const char* name, const QString& caption,
                                   FlagSetting value) {
    auto* box = new QCheckBox(caption, parent);
    NameControl(box, name, caption);
    connect(box, &QCheckBox::toggled, this,
            [this, value](bool on) { settings_.*value = on ? 1 : 0; });
    check_boxes_.emplace_back(box, value);
    return box;
}

QSlider* OptionsWindow::AddSlider(QWidget* parent, const char* name, const char* label_name,
                                  int storage::Settings::*value, const int (&range)[5],
                                  std::function<QString(int)> text) {
    // range: minimum, maximum, small step, large step, tick every.
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(range[0], range[1]);
    slider->setSingleStep(range[2]);
    slider->setPageStep(range[3]);
    slider->setTickInterval(range[4]);
    slider->setTickPosition(QSlider::TicksBelow);
    auto* label = new QLabel(text(settings_.*value), parent);
    label->setObjectName(QString::fromLatin1(label_name));
    NameControl(slider, name, label->text());
    label->setBuddy(slider);
    connect(slider, &QSlider::valueChanged, this, [this, slider, label, value, text](int v) {
        settings_.*value = v;
        label->setText(text(v));
        slider->setAccessibleName(label->text());
    });
    sliders_.push_back({slider, label, value, std::move(text)});
    return slider;
}

QPushButton* OptionsWindow::AddButton(QWidget* parent, const char* name, const QString& caption,
                                      const QString& tip) {
    auto* button = new QPushButton(caption, parent);
    NameControl(button, name, caption);
    if (!tip.isEmpty()) button->setToolTip(tip);
    return button;
}

void OptionsWindow::LoadFromSettings() {
    // Blocked, so loading never writes back (a stored flag other than 0 or 1 stays as it is).
    for (auto& [box, value] : check_boxes_) {
        const QSignalBlocker block(box);
        box->setChecked(settings_.*value != 0);
    }
    for (SliderBinding& binding : sliders_) {
        // The setting follows the slider into its range: what the user sees is what is used.
        const int v = std::clamp(settings_.*binding.value, binding.slider->minimum(),
                                 binding.slider->maximum());
        settings_.*binding.value = v;
        const QSignalBlocker block(binding.slider);
        binding.slider->setValue(v);
        binding.label->setText(binding.text(v));
        binding.slider->setAccessibleName(binding.label->text());
    }
    if (new_group_headers_ != nullptr) {
        const QSignalBlocker block(new_group_headers_);
        new_group_headers_->setValue(settings_.NewGroupHeaders);
    }
    RenderDownloadPath();
}

void OptionsWindow::ShowWindow() {
    show();
    raise();
    activateWindow();
}

void OptionsWindow::ShowNewsgroupsTab() {
    tabs_->setCurrentIndex(0);
    ShowWindow();
}

void OptionsWindow::CentreOnceOver(const QWidget* window) {
    if (placed_ || window == nullptr) return;
    placed_ = true;
    QRect area = frameGeometry();
    area.moveCenter(window->frameGeometry().center());
    move(area.topLeft());
}

void OptionsWindow::Refresh() {
    model_->Refresh();
    model_->ShowSortIndicator();
    RenderDownloadPath();
}

void OptionsWindow::RenderDownloadPath() {
    if (shown_path_ == settings_.Download_Path) return;
    shown_path_ = settings_.Download_Path;
    download_path_->setText(DisplayText(settings_.Download_Path));
    download_path_->setToolTip(download_path_->text());
}

void OptionsWindow::RunGroupCommand(void (storage::GroupList::*command)()) {
    (groups_.*command)();
    Refresh();
}

void OptionsWindow::OnFocusChanged(QWidget* old, QWidget* now) {
    // Only a move of the focus inside this window cautions: switching to another program or
    // window, or the caution's own box taking the focus, must not.
    if (old != autodownload_ || now == nullptr || now->window() != this) return;
    if (autodownload_->isChecked()) return;
    // Deferred: a modal box must not open in the middle of the focus change.
    QTimer::singleShot(0, this, [this] { prompts_.Caution(kCaution); });
}

void OptionsWindow::showEvent(QShowEvent* event) {
    Refresh();
    render_timer_->start();
    QWidget::showEvent(event);
}

void OptionsWindow::hideEvent(QHideEvent* event) {
    render_timer_->stop();
    QWidget::hideEvent(event);
}

void OptionsWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}

}  // namespace quillfin::ui
