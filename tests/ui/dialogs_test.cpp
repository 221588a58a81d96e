#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "support/fakes.h"
#include "support/temp_dir.h"
#include "ui/certificate_dialog.h"
#include "ui/folder_picker.h"
#include "ui/login_dialog.h"
#include "ui/make_folder_dialog.h"
#include "ui_test_support.h"

namespace quillfin::ui {
namespace {

using testing::ScriptedPrompts;
using testing::TempDir;

class LoginDialogTest : public ::testing::Test {
  protected:
    LoginDialogTest() {
        settings.News_Host = "news.example.org";
        settings.News_Port = "119";
        settings.User_Name = "reader";
        settings.User_Pass =
            "s\xE9"
            "cret";  // Latin-1 bytes: shown, and left alone when loaded
        settings.chkAuth = 1;
        dialog.LoadFromSettings();
    }
    QWidget* Find(const char* name) { return Control<QWidget>(&dialog, name); }
    QLineEdit* Field(const char* name) { return Control<QLineEdit>(&dialog, name); }
    QCheckBox* Check(const char* name) { return Control<QCheckBox>(&dialog, name); }

    storage::Settings settings;
    int connects = 0;
    LoginDialog dialog{settings, [this] { ++connects; }};
};

TEST_F(LoginDialogTest, AuthenticationBoxEnablesTheAccountControlsWithoutClearingThem) {
    const char* account[] = {"txtUserName", "txtPassword", "lblUserName", "lblPassword",
                             "chkSavePassword"};
    for (const char* name : account) {
        ASSERT_NE(Find(name), nullptr) << name;
        EXPECT_TRUE(Find(name)->isEnabled()) << name;
    }
    Check("chkAuth")->click();
    EXPECT_EQ(settings.chkAuth, 0);
    for (const char* name : account) EXPECT_FALSE(Find(name)->isEnabled()) << name;
    EXPECT_EQ(Field("txtUserName")->text(), QStringLiteral("reader"));
    EXPECT_EQ(Field("txtPassword")->text(), QStringLiteral("s\u00E9cret"));
    EXPECT_EQ(settings.User_Pass,
              "s\xE9"
              "cret");

    settings.chkAuth = 1;  // a settings file read after the dialog was made
    dialog.LoadFromSettings();
    for (const char* name : account) EXPECT_TRUE(Find(name)->isEnabled()) << name;
    EXPECT_EQ(Field("txtPassword")->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(Field("txtHost")->isEnabled());
}

TEST_F(LoginDialogTest, EditsWriteTheSettingsAtOnce) {
    Field("txtHost")->clear();
    QTest::keyClicks(Field("txtHost"), QStringLiteral("nntp.example.net"));
    Field("txtPort")->selectAll();
    QTest::keyClicks(Field("txtPort"), QStringLiteral("563"));
    QTest::keyClicks(Field("txtPassword"), QStringLiteral("!"));
    Check("chkSlave")->click();
    Check("chkSavePassword")->click();
    EXPECT_EQ(settings.News_Host, "nntp.example.net");
    EXPECT_EQ(settings.News_Port, "563");
    EXPECT_EQ(settings.User_Pass,
              "s\xC3\xA9"
              "cret!");  // typed text is stored as UTF-8
    EXPECT_EQ(settings.chkSlave, 1);
    EXPECT_EQ(settings.chkSavePassword, 1);
}

TEST_F(LoginDialogTest, EnterConnectsEscapeAndCloseOnlyHide) {
    dialog.show();
    SaveShot(&dialog, "frmLogin");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    Field("txtHost")->setFocus();
    QTest::keyClick(Field("txtHost"), Qt::Key_Return);
    EXPECT_EQ(connects, 1);
    EXPECT_TRUE(dialog.isVisible());  // hiding is the connect step's business

    QTest::keyClick(Field("txtHost"), Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(connects, 1);
    dialog.show();
    dialog.close();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(settings.News_Host, "news.example.org");
}

TEST_F(LoginDialogTest, SecureConnectionSwapsOnlyTheStandardPorts) {
    const struct {
        const char* port;
        bool secure;
        const char* after;
    } cases[] = {
        {"119", true, "563"},  {" 119 ", true, "563"}, {"", true, "563"},
        {"563", true, "563"},  {"8119", true, "8119"}, {"563", false, "119"},
        {"119", false, "119"}, {"", false, ""},        {"5630", false, "5630"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoginDialog::PortForSecure(c.port, c.secure), c.after)
            << "'" << c.port << "' " << c.secure;
    }

    QCheckBox* secure = Check("chkSecure");
    ASSERT_NE(secure, nullptr);
    EXPECT_EQ(secure->accessibleName(), QStringLiteral("Use secure connection (TLS)"));
    secure->click();
    EXPECT_EQ(settings.chkSecure, 1);
    EXPECT_EQ(settings.News_Port, "563");
    EXPECT_EQ(Field("txtPort")->text(), QStringLiteral("563"));
    dialog.show();
    SaveShot(&dialog, "frmLogin-secure");
    secure->click();
    EXPECT_EQ(settings.chkSecure, 0);
    EXPECT_EQ(settings.News_Port, "119");
    // Loading a file that has the box ticked on port 119 moves nothing.
    settings.chkSecure = 1;
    dialog.LoadFromSettings();
    EXPECT_TRUE(secure->isChecked());
    EXPECT_EQ(Field("txtPort")->text(), QStringLiteral("119"));
    // A first run (no port in the file) starts at the default of the box's state.
    for (const int on : {0, 1}) {
        settings.News_Port = " ";
        settings.chkSecure = on;
        dialog.LoadFromSettings();
        EXPECT_EQ(Field("txtPort")->text(), on ? QStringLiteral("563") : QStringLiteral("119"));
        EXPECT_EQ(settings.News_Port, on ? "563" : "119");
    }
    // The user's own port stays.
    Field("txtPort")->selectAll();
    QTest::keyClicks(Field("txtPort"), QStringLiteral("8563"));
    secure->click();
    EXPECT_EQ(settings.News_Port, "8563");
}

TEST(CertificateDialogTest, ShowsTheFactsAndOnlyTheTrustButtonTrusts) {
    nntp::ServerCertificate c;
    c.host = "news.example.net";
    c.port = 563;
    c.subject = "CN=<b>news.example.net</b>";
    c.issuer = "CN=Example Authority";
    c.validFrom = "2025-01-01 00:00 UTC";
    c.validUntil = "2026-01-01 00:00 UTC";
    c.fingerprint = "AB:CD:EF";
    c.problems = {"The host name did not match any of the valid hosts for this certificate",
                  "The certificate has expired"};
    enum Way { kEnter, kEscape, kTrust };
    for (const Way way : {kEnter, kEscape, kTrust}) {
        SCOPED_TRACE(int(way));
        std::vector<bool> answers;
        QPointer<CertificateDialog> dialog =
            new CertificateDialog(c, [&](bool trusted) { answers.push_back(trusted); });
        dialog->open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.data()));
        const auto text = [&](const char* name) {
            return Control<QLabel>(dialog.data(), name)->text().toStdString();
        };
        EXPECT_EQ(text("lblServer"), "news.example.net:563");
        EXPECT_EQ(text("lblSubject"), c.subject);
        EXPECT_EQ(Control<QLabel>(dialog.data(), "lblSubject")->textFormat(), Qt::PlainText);
        EXPECT_EQ(text("lblIssuer"), c.issuer);
        EXPECT_EQ(text("lblValidity"), "from 2025-01-01 00:00 UTC until 2026-01-01 00:00 UTC");
        EXPECT_EQ(text("lblFingerprint"), "AB:CD:EF");
        EXPECT_EQ(text("lblReason"), c.problems[0] + "; " + c.problems[1]);
        EXPECT_TRUE(Control<QPushButton>(dialog.data(), "cmdCancel")->isDefault());
        if (way == kEnter) SaveShot(dialog.data(), "frmCertificate");
        switch (way) {
            case kEnter:
                QTest::keyClick(dialog.data(), Qt::Key_Return);
                break;
            case kEscape:
                QTest::keyClick(dialog.data(), Qt::Key_Escape);
                break;
            case kTrust:
                Control<QPushButton>(dialog.data(), "cmdTrust")->click();
                break;
        }
        EXPECT_EQ(answers, std::vector<bool>{way == kTrust});
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }));
    }
    // A certificate other than the one the user trusted says so first.
    c.changed = true;
    CertificateDialog changed(c, [](bool) {});
    EXPECT_TRUE(Control<QLabel>(&changed, "lblHeading")
                    ->text()
                    .startsWith("This server's certificate has changed since you trusted it."));
}

class FolderPickerTest : public ::testing::Test {
  protected:
    QLabel* PathLabel() { return Control<QLabel>(&picker, "lblPath"); }
    MakeFolderDialog* MakeDialog() { return picker.findChild<MakeFolderDialog*>("frmMakePath"); }
    // Opens the create-folder dialog from the picker and presses its OK with the given name.
    void CreateFolder(const QString& name) {
        Control<QPushButton>(&picker, "cmdNewFolder")->click();
        ASSERT_TRUE(MakeDialog()->isVisible());
        Control<QLineEdit>(MakeDialog(), "txtFolderName")->setText(name);
        Control<QPushButton>(MakeDialog(), "cmdOK")->click();
    }

    TempDir dir;
    ScriptedPrompts prompts;
    std::vector<std::string> chosen;
    FolderPicker picker{prompts, [this](const std::string& path) { chosen.push_back(path); }};
};

TEST_F(FolderPickerTest, SelectionShowsOneTrailingSeparator) {
    auto* drives = Control<QComboBox>(&picker, "Drive1");
    EXPECT_EQ(picker.SelectedPath(), QDir::homePath().toStdString() + "/");  // starts at home
    EXPECT_EQ(drives->currentIndex(), 1);
    drives->setCurrentIndex(0);
    emit drives->activated(0);
    EXPECT_EQ(picker.SelectedPath(), "/");
    std::filesystem::create_directory(dir.File("deeper"));
    const struct {
        std::string point_at;
        std::string shown;
    } cases[] = {
        {"/", "/"},
        {dir.File("deeper"), dir.File("deeper") + "/"},
        {dir.File("deeper") + "/", dir.File("deeper") + "/"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(picker.PointAt(c.point_at)) << c.point_at;
        EXPECT_EQ(picker.SelectedPath(), c.shown);
        EXPECT_EQ(PathLabel()->text().toStdString(), c.shown);
    }
    EXPECT_FALSE(picker.PointAt(dir.File("missing")));
    dir.Write("plain-file", "x");
    EXPECT_FALSE(picker.PointAt(dir.File("plain-file")));
    EXPECT_EQ(picker.SelectedPath(), dir.File("deeper") + "/");

    picker.show();
    SaveShot(&picker, "frmBrowse");
    Control<QPushButton>(&picker, "cmdOK")->click();
    EXPECT_EQ(chosen, std::vector<std::string>{dir.File("deeper") + "/"});
    EXPECT_FALSE(picker.isVisible());
}

TEST_F(FolderPickerTest, NewFolderIsMadeInTheSelectionAndSelected) {
    ASSERT_TRUE(picker.PointAt(dir.Path()));
    picker.show();
    Control<QPushButton>(&picker, "cmdNewFolder")->click();
    Control<QLineEdit>(MakeDialog(), "txtFolderName")->setText(QStringLiteral(" Pictures 2026"));
    SaveShot(MakeDialog(), "frmMakePath");
    Control<QPushButton>(MakeDialog(), "cmdOK")->click();
    EXPECT_TRUE(std::filesystem::is_directory(dir.File(" Pictures 2026")));  // as typed
    EXPECT_EQ(picker.SelectedPath(), dir.File(" Pictures 2026") + "/");
    EXPECT_FALSE(MakeDialog()->isVisible());
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_TRUE(chosen.empty());
}

TEST_F(FolderPickerTest, ExistingBlankAndEscapingNamesCreateNothing) {
    std::filesystem::create_directory(dir.File("taken"));
    ASSERT_TRUE(picker.PointAt(dir.Path()));
    CreateFolder(QStringLiteral("taken"));
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "File exists");
    EXPECT_FALSE(MakeDialog()->isVisible());

    const QString refused[] = {QStringLiteral(".."), QStringLiteral("."), QStringLiteral("a/b"),
                               QStringLiteral("../out")};
    for (const QString& name : refused) {
        prompts.shown.clear();
        CreateFolder(name);
        ASSERT_EQ(prompts.shown.size(), 1u) << name.toStdString();
        EXPECT_EQ(prompts.shown[0].text,
                  "A folder name cannot contain \"/\" or be \".\" or \"..\".");
        EXPECT_TRUE(MakeDialog()->isVisible());  // left open to correct the name
    }
    prompts.shown.clear();
    CreateFolder(QStringLiteral("   "));
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_TRUE(MakeDialog()->isVisible());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("a")));
    EXPECT_EQ(picker.SelectedPath(), dir.Path() + "/");
}

}  // namespace
}  // namespace quillfin::ui
