#include "ui/login_dialog.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include "common/text.h"
#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/display_text.h"

namespace quillfin::ui {

namespace {

QLabel* Label(QWidget* parent, const char* name, const QString& caption, QWidget* buddy) {
    auto* label = new QLabel(caption, parent);
    NameControl(label, name, caption);
    label->setBuddy(buddy);
    return label;
}

}  // namespace

LoginDialog::LoginDialog(storage::Settings& settings, std::function<void()> on_connect,
                         QWidget* parent, common::Prompts* prompts)
    : QDialog(parent), settings_(settings), on_connect_(std::move(on_connect)), prompts_(prompts) {
    NameControl(this, "frmLogin", QStringLiteral("Login"));
    setWindowTitle(QStringLiteral("Login"));
    setWindowIcon(AppIcon());
    host_ = AddField("txtHost", QStringLiteral("News Server:"), &storage::Settings::News_Host);
    port_ = AddField("txtPort", QStringLiteral("Port:"), &storage::Settings::News_Port);
    port_->setMaximumWidth(80);
    secure_ = AddCheck("chkSecure", QStringLiteral("Use secure connection (TLS)"),
                       &storage::Settings::chkSecure);
    auth_ = AddCheck("chkAuth", QStringLiteral("News Server Authentication required"),
                     &storage::Settings::chkAuth);
    user_ = AddField("txtUserName", QStringLiteral("User Name:"), &storage::Settings::User_Name);
    password_ = AddField("txtPassword", QStringLiteral("Password:"), &storage::Settings::User_Pass);
    password_->setEchoMode(QLineEdit::Password);
    // One "*" per character, whatever bullet the style would use.
    password_->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    save_password_ = AddCheck("chkSavePassword", QStringLiteral("Save Password"),
                              &storage::Settings::chkSavePassword);
    slave_ =
        AddCheck("chkSlave", QStringLiteral("Request Slave Status"), &storage::Settings::chkSlave);
    user_label_ = Label(this, "lblUserName", QStringLiteral("User Name:"), user_);
    password_label_ = Label(this, "lblPassword", QStringLiteral("Password:"), password_);
    QPushButton* go = AddButton("cmdGO", QStringLiteral("Connect"));
    go->setDefault(true);
    QPushButton* exit = AddButton("cmdExit", QStringLiteral("Cancel"));

    LayOut(go, exit);

    connect(auth_, &QCheckBox::toggled, this, &LoginDialog::ApplyAuthRule);
    // Only a click moves the port; loading the settings never does.
    connect(secure_, &QCheckBox::toggled, this, &LoginDialog::ApplySecureRule);
    connect(go, &QPushButton::clicked, this, [this] {
        if (!PortAccepted(settings_.News_Port)) {
            if (prompts_ != nullptr)
                prompts_->Message(kBadPort);
            else
                QMessageBox::warning(this, QStringLiteral("Login"), QString::fromLatin1(kBadPort));
            port_->setFocus();
            return;
        }
        if (on_connect_) on_connect_();
    });
    connect(exit, &QPushButton::clicked, this, &QDialog::reject);
    LoadFromSettings();
}

bool LoginDialog::PortAccepted(const std::string& port) {
    const std::string text = common::Trim(port);
    if (text.empty()) return true;
    if (text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const int value = std::stoi(text);
    return value >= 1 && value <= 65535;
}

std::string LoginDialog::PortForSecure(const std::string& port, bool secure) {
    const std::string text = common::Trim(port);
    if (secure && (text.empty() || text == "119")) return "563";
    if (!secure && text == "563") return "119";
    return port;
}

void LoginDialog::ApplySecureRule(bool secure) {
    const std::string port = PortForSecure(settings_.News_Port, secure);
    if (port != settings_.News_Port) {
        settings_.News_Port = port;
        port_->setText(DisplayText(port));
    }
    ShowPortNote();
}

void LoginDialog::ShowPortNote() {
    const QString note = secure_->isChecked() ? QStringLiteral("(secure default is 563)")
                                              : QStringLiteral("(NNTP default is 119)");
    port_note_->setText(note);
}

void LoginDialog::LayOut(QPushButton* go, QPushButton* exit) {
    auto* server = new QGridLayout;
    server->addWidget(Label(this, "lblHost", QStringLiteral("News Server:"), host_), 0, 0);
    server->addWidget(host_, 0, 1, 1, 2);
    server->addWidget(Label(this, "lblPort", QStringLiteral("Port:"), port_), 1, 0);
    server->addWidget(port_, 1, 1);
    port_note_ = new QLabel(QStringLiteral("(NNTP default is 119)"), this);
    NameControl(port_note_, "lblPortNote", port_note_->text());
    auto* beside_port = new QHBoxLayout;
    beside_port->addWidget(secure_);
    beside_port->addWidget(port_note_, 1);
    server->addLayout(beside_port, 1, 2);
    server->setColumnStretch(2, 1);

    auto* frame = new QGroupBox(this);
    NameControl(frame, "fraAuth", QStringLiteral("Authentication"));
    auto* account = new QGridLayout(frame);
    account->addWidget(user_label_, 0, 0);
    account->addWidget(user_, 0, 1);
    account->addWidget(password_label_, 1, 0);
    account->addWidget(password_, 1, 1);
    account->addWidget(save_password_, 2, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(go);
    buttons->addWidget(exit);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(server);
    layout->addWidget(auth_);
    layout->addWidget(frame);
    layout->addWidget(slave_);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    setMinimumWidth(380);
}

QLineEdit* LoginDialog::AddField(const char* name, const QString& caption, TextSetting value) {
    auto* field = new QLineEdit(this);
    NameControl(field, name, caption);
    field->installEventFilter(this);
    // textEdited, not textChanged: loading the fields must not rewrite the stored bytes.
    connect(field, &QLineEdit::textEdited, this,
            [this, value](const QString& text) { settings_.*value = StoredText(text); });
    text_fields_.emplace_back(field, value);
    return field;
}

QCheckBox* LoginDialog::AddCheck(const char* name, const QString& caption, FlagSetting value) {
    auto* box = new QCheckBox(caption, this);
    NameControl(box, name, caption);
    connect(box, &QCheckBox::toggled, this,
            [this, value](bool on) { settings_.*value = on ? 1 : 0; });
    check_boxes_.emplace_back(box, value);
    return box;
}

QPushButton* LoginDialog::AddButton(const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, this);
    NameControl(button, name, caption);
    return button;
}

void LoginDialog::LoadFromSettings() {
    // A first run has no port yet: the field starts at the default the connection would use.
    if (common::Trim(settings_.News_Port).empty())
        settings_.News_Port = settings_.chkSecure != 0 ? "563" : "119";
    for (auto& [field, value] : text_fields_) field->setText(DisplayText(settings_.*value));
    for (auto& [box, value] : check_boxes_) {
        QSignalBlocker block(box);
        box->setChecked(settings_.*value != 0);
    }
    ApplyAuthRule();
    ShowPortNote();
}

void LoginDialog::ApplyAuthRule() {
    const bool on = auth_->isChecked();
    for (QWidget* control :
         {static_cast<QWidget*>(user_label_), static_cast<QWidget*>(user_),
          static_cast<QWidget*>(password_label_), static_cast<QWidget*>(password_),
          static_cast<QWidget*>(save_password_)})
        control->setEnabled(on);
}

void LoginDialog::showEvent(QShowEvent* event) {
    LoadFromSettings();
    QDialog::showEvent(event);
}

bool LoginDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        // Deferred: a mouse click that gave the focus would otherwise place the cursor and
        // undo the selection.
        if (auto* field = qobject_cast<QLineEdit*>(watched))
            QTimer::singleShot(0, field, &QLineEdit::selectAll);
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace quillfin::ui
