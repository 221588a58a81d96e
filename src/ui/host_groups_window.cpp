#include "ui/host_groups_window.h"

#include <QCloseEvent>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/display_text.h"
#include "ui/row_list_model.h"

namespace quillfin::ui {

namespace {

constexpr int kRenderMs = 33;

QPushButton* Button(const char* name, const QString& caption) {
    auto* button = new QPushButton(caption);
    NameControl(button, name, caption);
    return button;
}

// The result table's state icons: 2 a row found by a search (a blue dot), 3 a row added to
// the newsgroup list (a green tick).
QIcon StateIcon(int number) {
    if (number != 2 && number != 3) return {};
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (number == 2) {
        painter.setBrush(QColor(60, 110, 200));
        painter.setPen(QPen(QColor(30, 60, 120), 1));
        painter.drawEllipse(QRectF(4.5, 4.5, 7, 7));
    } else {
        painter.setPen(QPen(QColor(30, 140, 40), 2.4, Qt::SolidLine, Qt::RoundCap));
        painter.drawPolyline(QPolygonF({{3, 8.5}, {6.5, 12}, {13, 4}}));
    }
    return QIcon(pixmap);
}

class HostGroupModel : public RowListModel {
  public:
    HostGroupModel(headers::RowList& rows, QStringList columns, QObject* parent)
        : RowListModel(rows, std::move(columns), parent), rows_(rows) {}
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::DecorationRole && index.isValid() && index.column() == 0 &&
            index.row() < rows_.Count())
            return StateIcon(rows_.At(index.row()).icon);
        if (role == Qt::TextAlignmentRole && index.column() >= 1)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return RowListModel::data(index, role);
    }

  private:
    headers::RowList& rows_;
};

}  // namespace

HostGroupsWindow::HostGroupsWindow(hostgroups::HostGroups& host, std::function<void()> after_add,
                                   QWidget* parent)
    : QWidget(parent, Qt::Window),
      host_(host),
      after_add_(std::move(after_add)),
      render_timer_(new QTimer(this)),
      search_timer_(new QTimer(this)) {
    NameControl(this, "frmGrM", QStringLiteral("Host Newsgroups"));
    setWindowTitle(QStringLiteral("Host Newsgroups"));
    setWindowIcon(AppIcon());
    cmd_retrieve_ = Button("cmdGetHostGroups", QStringLiteral("Retrieve Groups from Host"));
    cmd_reload_ = Button("cmdReload", QStringLiteral("reload HOSTGRPS.TXT from disk"));
    auto* top = new QHBoxLayout;
    top->addWidget(cmd_retrieve_);
    top->addWidget(cmd_reload_);
    top->addStretch(1);

    list_ = new QTreeView;
    list_->setObjectName("ListView1");
    list_->header()->setSectionsClickable(true);
    list_->header()->setStretchLastSection(false);
    model_ = new HostGroupModel(host_.Rows(),
                                {QStringLiteral("Newsgroup Name"), QStringLiteral("Total (est.)"),
                                 QStringLiteral("First"), QStringLiteral("Last")},
                                this);
    model_->Attach(list_);
    list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < 4; ++column) list_->setColumnWidth(column, 90);
    lbl_searching_ = new QLabel(QStringLiteral("Searching..."));
    NameControl(lbl_searching_, "lblSearching", lbl_searching_->text());
    lbl_searching_->setAlignment(Qt::AlignCenter);
    cmd_add_ = Button("cmdAdd", QStringLiteral("&Add Selections"));
    progress_ = new QProgressBar;
    NameControl(progress_, "ProgressBar1", QStringLiteral("Search progress"));
    progress_->setTextVisible(false);
    progress_->setMaximumHeight(14);

    auto* status_bar = new QStatusBar;
    NameControl(status_bar, "StatusBar1", QStringLiteral("Status"));
    status_bar->setSizeGripEnabled(false);
    for (int panel = 0; panel < 2; ++panel) {
        panels_[panel] = new QLabel;
        panels_[panel]->setTextFormat(Qt::PlainText);  // group names come from the server
        panels_[panel]->setObjectName(QStringLiteral("StatusBar1_Panel%1").arg(panel + 1));
        status_bar->addWidget(panels_[panel], panel == 0 ? 3 : 1);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(BuildQueryRow());
    layout->addWidget(progress_);
    // The table and "Searching..." take turns in one place.
    results_ = new QStackedWidget;
    results_->addWidget(list_);
    results_->addWidget(lbl_searching_);
    layout->addWidget(results_, 1);
    layout->addWidget(cmd_add_, 0, Qt::AlignLeft);
    layout->addWidget(status_bar);
    resize(620, 520);

    connect(cmd_retrieve_, &QPushButton::clicked, this, [this] { host_.cmdGetHostGroups_Click(); });
    connect(cmd_reload_, &QPushButton::clicked, this, [this] { host_.preload_groups(); });
    connect(cmd_query_, &QPushButton::clicked, this, &HostGroupsWindow::Query);
    connect(txt_query_, &QLineEdit::returnPressed, this, [this] {
        if (cmd_query_->isEnabled()) Query();
    });
    connect(cmd_add_, &QPushButton::clicked, this, [this] {
        host_.cmdAdd_Click();
        if (after_add_) after_add_();
    });
    connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        host_.Rows().ClickColumn(column);
        Render();
    });
    host_.AttachSocket(&socket_);
    render_timer_->setInterval(kRenderMs);
    connect(render_timer_, &QTimer::timeout, this, &HostGroupsWindow::Render);
    render_timer_->start();
    // Zero interval: a slice of the search at every turn of the event loop.
    search_timer_->setInterval(0);
    connect(search_timer_, &QTimer::timeout, this, &HostGroupsWindow::SearchSlice);
}

HostGroupsWindow::~HostGroupsWindow() {
    search_timer_->stop();
    host_.WindowClosed();
    host_.AttachSocket(nullptr);
}

QWidget* HostGroupsWindow::BuildQueryRow() {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    opt_starts_ = new QRadioButton(QStringLiteral("Starts with:"));
    NameControl(opt_starts_, "optStartsWith", opt_starts_->text());
    opt_starts_->setChecked(true);
    opt_contains_ = new QRadioButton(QStringLiteral("Contains:"));
    NameControl(opt_contains_, "optContains", opt_contains_->text());
    txt_query_ = new QLineEdit;
    NameControl(txt_query_, "txtQuery", QStringLiteral("Query"));
    txt_query_->installEventFilter(this);
    cmd_query_ = Button("cmdQuery", QStringLiteral("Query"));
    layout->addWidget(opt_starts_);
    layout->addWidget(opt_contains_);
    layout->addWidget(txt_query_, 1);
    layout->addWidget(cmd_query_);
    return row;
}

void HostGroupsWindow::Open() {
    if (!isVisible()) {
        opt_starts_->setChecked(true);
        host_.Open();
    }
    Render();
    show();
    raise();
    activateWindow();
}

void HostGroupsWindow::Query() {
    host_.QueryCommand(StoredText(txt_query_->text()),
                       opt_contains_->isChecked() ? hostgroups::HostGroups::Mode::kContains
                                                  : hostgroups::HostGroups::Mode::kStartsWith);
    if (host_.Searching())
        search_timer_->start();
    else
        search_timer_->stop();
    Render();
}

void HostGroupsWindow::SearchSlice() {
    if (!host_.ContinueSearch()) {
        search_timer_->stop();
        Render();
    }
}

void HostGroupsWindow::Render() {
    model_->Refresh();
    const hostgroups::HostGroupsView& view = host_.View();
    if (rendered_ == view.revision) return;
    rendered_ = view.revision;
    cmd_retrieve_->setEnabled(view.cmdGetHostGroupsEnabled);
    cmd_reload_->setEnabled(view.cmdReloadEnabled);
    cmd_query_->setEnabled(view.cmdQueryEnabled);
    cmd_query_->setText(view.cmdQueryStops ? QStringLiteral("&Stop Search")
                                           : QStringLiteral("Query"));
    opt_starts_->setEnabled(view.optionsEnabled);
    opt_contains_->setEnabled(view.optionsEnabled);
    txt_query_->setEnabled(view.txtQueryEnabled);
    results_->setCurrentWidget(view.resultsVisible ? static_cast<QWidget*>(list_)
                                                   : static_cast<QWidget*>(lbl_searching_));
    cmd_add_->setVisible(view.resultsVisible);
    cmd_add_->setEnabled(view.cmdAddEnabled);
    progress_->setVisible(view.progressVisible);
    progress_->setMaximum(std::max(view.progress.maximum, 1));
    progress_->setValue(std::clamp(view.progress.value, 0, std::max(view.progress.maximum, 1)));
    panels_[0]->setText(DisplayText(view.panel1));
    panels_[1]->setText(DisplayText(view.panel2));
}

void HostGroupsWindow::closeEvent(QCloseEvent* event) {
    // Ends the search and the connection; the next opening starts from the file.
    search_timer_->stop();
    host_.WindowClosed();
    event->accept();
}

bool HostGroupsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txt_query_ && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, txt_query_, &QLineEdit::selectAll);
    return QWidget::eventFilter(watched, event);
}

}  // namespace quillfin::ui
