#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "storage/activity_log.h"
#include "storage/trusted_certificates.h"

namespace quillfin::nntp {

// What a secure connection found wrong with a server's certificate, in words the user reads.
struct ServerCertificate {
    std::string host;
    int port = 0;
    std::string subject;
    std::string issuer;
    std::string validFrom;
    std::string validUntil;
    // SHA-256 of the certificate, hex pairs separated by colons; empty when none was sent.
    std::string fingerprint;
    std::vector<std::string> problems;
    // Past its expiry date: an earlier trust does not cover it.
    bool expired = false;
    // Set by CertificateCheck: the user trusted another certificate of this server before.
    bool changed = false;

    std::string Server() const { return host + ":" + std::to_string(port); }
    std::string Problems() const;
};

// Decides on a certificate that failed the checks: one the user trusted before (same server,
// same fingerprint, not expired since) passes, one refused during this run is refused again,
// anything else is asked about once, however many connections meet it while the question is
// open; the question says when the server's certificate changed since the user trusted one.
class CertificateCheck {
  public:
    using Answer = std::function<void(bool accepted)>;

    CertificateCheck(storage::TrustedCertificates& trusted, storage::ActivityLog& log);
    CertificateCheck(const CertificateCheck&) = delete;
    CertificateCheck& operator=(const CertificateCheck&) = delete;

    // Shows the question; calls its answer once, now or later. Unset: every doubt is refused.
    std::function<void(const ServerCertificate& certificate, Answer answer)> ask;

    // Calls done once, at once or when the user answers. A connection that is gone by then
    // must ignore the call: the question stays open for the others.
    void Decide(const ServerCertificate& certificate, Answer done);
    // The user connects anew: certificates refused earlier are asked about again, so that a
    // refusal does not come back with every automatic reconnect.
    void ForgetRefusals() { refused_.clear(); }
    bool Asking() const { return !questions_.empty(); }

  private:
    struct Question {
        std::string key;
        ServerCertificate certificate;
        std::vector<Answer> waiting;
    };
    void Answered(const std::string& key, bool accepted);
    void LogLine(const std::string& text) { log_.LogEvent(text, true); }

    storage::TrustedCertificates& trusted_;
    storage::ActivityLog& log_;
    std::vector<Question> questions_;
    std::set<std::string> refused_;
    // Trusted during this run, also when CERTS.TXT could not be written.
    std::set<std::string> accepted_;
};

}  // namespace quillfin::nntp
