#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/prompts.h"
#include "storage/settings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quillfin::ui {

// frmLogin: the server settings, edited in place, and the Connect command. Created once;
// Cancel, Escape and the close box only hide it.
class LoginDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr const char* kBadPort =
        "The port must be a number from 1 to 65535 (NNTP default is 119).";

    // on_connect starts the scan connection (and hides this dialog itself). prompts shows
    // the refusal of a bad port; null for a Qt message box.
    LoginDialog(storage::Settings& settings, std::function<void()> on_connect,
                QWidget* parent = nullptr, common::Prompts* prompts = nullptr);
    // An empty port means the default; anything else must be a whole number 1..65535.
    static bool PortAccepted(const std::string& port);
    // The port after "Use secure connection" is ticked (secure) or unticked: only the
    // standard ports swap (119 and 563; empty means 119); any other port is the user's choice.
    static std::string PortForSecure(const std::string& port, bool secure);

    // Fills the fields from the settings; done on every show and after the file is read.
    void LoadFromSettings();

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    using TextSetting = std::string storage::Settings::*;
    using FlagSetting = int storage::Settings::*;

    QLineEdit* AddField(const char* name, const QString& caption, TextSetting value);
    QCheckBox* AddCheck(const char* name, const QString& caption, FlagSetting value);
    QPushButton* AddButton(const char* name, const QString& caption);
    void LayOut(QPushButton* go, QPushButton* exit);
    void ApplyAuthRule();
    void ApplySecureRule(bool secure);
    void ShowPortNote();

    storage::Settings& settings_;
    std::function<void()> on_connect_;
    common::Prompts* prompts_;
    QLineEdit* host_;
    QLineEdit* port_;
    QCheckBox* secure_;
    QLabel* port_note_ = nullptr;
    QCheckBox* auth_;
    QLabel* user_label_;
    QLineEdit* user_;
    QLabel* password_label_;
    QLineEdit* password_;
    QCheckBox* save_password_;
    QCheckBox* slave_;
    std::vector<std::pair<QLineEdit*, TextSetting>> text_fields_;
    std::vector<std::pair<QCheckBox*, FlagSetting>> check_boxes_;
};

}  // namespace quillfin::ui
