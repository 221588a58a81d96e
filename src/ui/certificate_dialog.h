#pragma once

#include <QDialog>
#include <functional>

#include "nntp/certificate_check.h"

namespace quillfin::ui {

// frmCertificate: a server's certificate failed the checks. Shows what the certificate says
// and why it failed; Cancel (the default, also Escape and the close box) refuses it, "Trust
// this certificate" trusts exactly this one for this server. Answers once, then deletes itself.
class CertificateDialog : public QDialog {
    Q_OBJECT

  public:
    CertificateDialog(const nntp::ServerCertificate& certificate,
                      std::function<void(bool trusted)> answer, QWidget* parent = nullptr);
    // Gone unanswered (the program ends): nobody is told.
    void Disarm() { answer_ = nullptr; }

  private:
    std::function<void(bool)> answer_;
};

}  // namespace quillfin::ui
