#include "ui/certificate_dialog.h"

#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/class_icons.h"
#include "ui/control_name.h"
#include "ui/display_text.h"

namespace quillfin::ui {

namespace {

QLabel* Value(QWidget* parent, const char* name, const QString& caption, const std::string& text) {
    // Server-supplied text: shown as plain text, never as markup.
    auto* label = new QLabel(text.empty() ? QStringLiteral("(none)") : DisplayText(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    NameControl(label, name, caption);
    // Shown once and never changed: the field's caption names it, the value describes it.
    label->setAccessibleName(caption);
    label->setAccessibleDescription(label->text());
    return label;
}

// Sixteen pairs a line: 95 characters without a space would not wrap.
std::string FingerprintLines(const std::string& fingerprint) {
    std::string text;
    for (std::size_t at = 0; at < fingerprint.size(); at += 48)
        text += (at == 0 ? "" : "\n") + fingerprint.substr(at, 47);
    return text;
}

}  // namespace

CertificateDialog::CertificateDialog(const nntp::ServerCertificate& certificate,
                                     std::function<void(bool)> answer, QWidget* parent)
    : QDialog(parent), answer_(std::move(answer)) {
    NameControl(this, "frmCertificate", QStringLiteral("Certificate not trusted"));
    setWindowTitle(QStringLiteral("Certificate not trusted"));
    setWindowIcon(AppIcon());
    setAttribute(Qt::WA_DeleteOnClose);

    auto* heading = new QLabel(this);
    heading->setTextFormat(Qt::PlainText);
    heading->setWordWrap(true);
    heading->setText(
        (certificate.changed ? QStringLiteral("This server's certificate has changed since you "
                                              "trusted it. ")
                             : QString()) +
        QStringLiteral("The secure connection to ") + DisplayText(certificate.Server()) +
        QStringLiteral(" failed the certificate checks. Nothing has been sent to "
                       "the server, and nothing will be unless you trust this "
                       "certificate."));
    NameControl(heading, "lblHeading", heading->text());

    auto* facts = new QFormLayout;
    facts->addRow(QStringLiteral("Server:"),
                  Value(this, "lblServer", QStringLiteral("Server"), certificate.Server()));
    facts->addRow(QStringLiteral("Subject:"),
                  Value(this, "lblSubject", QStringLiteral("Subject"), certificate.subject));
    facts->addRow(QStringLiteral("Issuer:"),
                  Value(this, "lblIssuer", QStringLiteral("Issuer"), certificate.issuer));
    facts->addRow(QStringLiteral("Valid:"),
                  Value(this, "lblValidity", QStringLiteral("Valid"),
                        "from " + certificate.validFrom + " until " + certificate.validUntil));
    QLabel* fingerprint = Value(this, "lblFingerprint", QStringLiteral("SHA-256 fingerprint"),
                                FingerprintLines(certificate.fingerprint));
    fingerprint->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    facts->addRow(QStringLiteral("SHA-256:"), fingerprint);
    QLabel* reason = Value(this, "lblReason", QStringLiteral("Reason"), certificate.Problems());
    reason->setStyleSheet(QStringLiteral("color: #a00000;"));
    facts->addRow(QStringLiteral("Reason:"), reason);

    auto* trust = new QPushButton(QStringLiteral("&Trust this certificate"), this);
    NameControl(trust, "cmdTrust", trust->text());
    trust->setAutoDefault(false);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    NameControl(cancel, "cmdCancel", cancel->text());
    cancel->setDefault(true);
    connect(trust, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QDialog::finished, this, [this](int result) {
        auto answer = std::move(answer_);
        answer_ = nullptr;
        if (answer) answer(result == QDialog::Accepted);
    });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(trust);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addSpacing(6);
    layout->addLayout(facts);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    // Wrapped labels: the height follows the width, with no spare space between the rows.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    heading->setMinimumWidth(540);
    cancel->setFocus();
}

}  // namespace quillfin::ui
