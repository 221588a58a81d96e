#include "ui/folder_picker.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeView>
#include <QVBoxLayout>
#include <filesystem>
#include <system_error>

#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/make_folder_dialog.h"

namespace quillfin::ui {

namespace {

const char* const kExplanation =
    "This is the folder where downloded files are saved (or folders are made with individual "
    "group names, if 'Create Sub-Folders for each group' is on).";

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
std::string ToPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QPushButton* Button(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    NameControl(button, name, caption);
    return button;
}

}  // namespace

FolderPicker::FolderPicker(common::Prompts& prompts,
                           std::function<void(const std::string&)> on_chosen, QWidget* parent)
    : QDialog(parent),
      prompts_(prompts),
      on_chosen_(std::move(on_chosen)),
      drives_(new QComboBox(this)),
      model_(new QFileSystemModel(this)),
      folders_(new QTreeView(this)),
      path_label_(new QLabel(this)) {
    const QString title = QStringLiteral("Select 'Base Download' Folder");
    NameControl(this, "frmBrowse", title);
    setWindowTitle(title);
    setWindowIcon(AppIcon());

    SetUpLists();

    auto* current = new QLabel(QStringLiteral("Current Selection:"), this);
    NameControl(current, "lblCurrent", current->text());
    path_label_->setObjectName(QStringLiteral("lblPath"));  // screen readers read its text
    path_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    path_label_->setWordWrap(true);
    auto* explanation = new QLabel(QString::fromLatin1(kExplanation), this);
    NameControl(explanation, "lblExplanation", explanation->text());
    explanation->setWordWrap(true);
    QPushButton* ok = Button(this, "cmdOK", QStringLiteral("&OK"));
    ok->setDefault(true);
    QPushButton* cancel = Button(this, "cmdCancel", QStringLiteral("&Cancel"));
    QPushButton* new_folder = Button(this, "cmdNewFolder", QStringLiteral("&New Folder"));

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addSpacing(12);
    buttons->addWidget(new_folder);
    buttons->addStretch(1);
    auto* grid = new QGridLayout(this);
    grid->addWidget(drives_, 0, 0);
    grid->addWidget(folders_, 1, 0);
    grid->addLayout(buttons, 0, 1, 2, 1);
    grid->addWidget(current, 2, 0, 1, 2);
    grid->addWidget(path_label_, 3, 0, 1, 2);
    grid->addWidget(explanation, 4, 0, 1, 2);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(0, 1);
    resize(440, 460);

    make_folder_ = new MakeFolderDialog(
        prompts_, [this] { return selected_; },
        [this](const std::string& path) { return PointAt(path); }, this);

    connect(folders_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) { OnCurrentChanged(index); });
    connect(drives_, &QComboBox::activated, this, &FolderPicker::OnDriveChosen);
    connect(ok, &QPushButton::clicked, this, &FolderPicker::Choose);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(new_folder, &QPushButton::clicked, make_folder_, &QWidget::show);
    if (!PointAt(ToPath(QDir::homePath()))) PointAt("/");
}

bool FolderPicker::PointAt(const std::string& path) {
    std::error_code error;
    if (path.empty() || !std::filesystem::is_directory(path, error)) return false;
    QModelIndex index = model_->index(QDir::cleanPath(FromPath(path)));
    if (!index.isValid()) return false;
    folders_->setCurrentIndex(index);
    folders_->scrollTo(index);
    OnCurrentChanged(index);
    return true;
}

void FolderPicker::SetUpLists() {
    // Linux has no drive letters: the "drives" are the file system root and the home folder.
    NameControl(drives_, "Drive1", QStringLiteral("Start from"));
    drives_->addItem(QStringLiteral("/"), QStringLiteral("/"));
    drives_->addItem(QStringLiteral("Home (%1)").arg(QDir::homePath()), QDir::homePath());

    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    model_->setReadOnly(true);
    model_->setRootPath(QStringLiteral("/"));
    NameControl(folders_, "Dir1", QStringLiteral("Folders"));
    folders_->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column) folders_->hideColumn(column);
    folders_->setHeaderHidden(true);
    folders_->setSelectionMode(QAbstractItemView::SingleSelection);
}

void FolderPicker::OnCurrentChanged(const QModelIndex& current) {
    if (!current.isValid()) return;
    selected_ = ToPath(model_->filePath(current));
    if (selected_.empty() || selected_.back() != '/') selected_ += '/';
    path_label_->setText(FromPath(selected_));
    // The "drive" shown is the one the selection lies under.
    QSignalBlocker block(drives_);
    const QString home = QDir::homePath() + QLatin1Char('/');
    drives_->setCurrentIndex(path_label_->text().startsWith(home) ? 1 : 0);
}

void FolderPicker::OnDriveChosen(int row) {
    const std::string root = ToPath(drives_->itemData(row).toString());
    std::error_code error;
    std::filesystem::directory_iterator probe(root, error);
    if (!error && PointAt(root)) return;
    prompts_.Message(error ? error.message() : std::string("Folder not found."));
    PointAt(selected_);  // back to the entry the folder list is under
}

void FolderPicker::Choose() {
    if (on_chosen_) on_chosen_(selected_);
    accept();
}

}  // namespace quillfin::ui
