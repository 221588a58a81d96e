#include "nntp/certificate_check.h"

#include <algorithm>
#include <utility>

namespace quillfin::nntp {

namespace {

std::string KeyOf(const ServerCertificate& certificate) {
    return certificate.Server() + " " + certificate.fingerprint;
}

}  // namespace

std::string ServerCertificate::Problems() const {
    std::string text;
    for (const std::string& problem : problems) text += (text.empty() ? "" : "; ") + problem;
    return text.empty() ? "no reason given" : text;
}

CertificateCheck::CertificateCheck(storage::TrustedCertificates& trusted, storage::ActivityLog& log)
    : trusted_(trusted), log_(log) {}

void CertificateCheck::Decide(const ServerCertificate& certificate, Answer done) {
    const std::string key = KeyOf(certificate);
    // Without a certificate there is nothing the user could choose to trust.
    if (certificate.fingerprint.empty()) {
        done(false);
        return;
    }
    const bool kept =
        trusted_.IsTrusted(certificate.host, certificate.port, certificate.fingerprint);
    if (accepted_.count(key) != 0 || (kept && !certificate.expired)) {
        LogLine("Certificate of " + certificate.Server() + " trusted by the user earlier (" +
                certificate.Problems() + ")");
        done(true);
        return;
    }
    if (refused_.count(key) != 0 || !ask) {
        done(false);
        return;
    }
    auto open = std::find_if(questions_.begin(), questions_.end(),
                             [&](const Question& q) { return q.key == key; });
    if (open != questions_.end()) {
        open->waiting.push_back(std::move(done));
        return;
    }
    questions_.push_back({key, certificate, {}});
    questions_.back().waiting.push_back(std::move(done));
    ServerCertificate& asked = questions_.back().certificate;
    asked.changed = !kept && trusted_.HasEntry(certificate.host, certificate.port);
    if (asked.changed)
        LogLine("Certificate of " + asked.Server() + " changed since the user trusted it");
    // The answer may come at once (a scripted one) or from a dialog much later.
    const ServerCertificate shown = asked;
    ask(shown, [this, key](bool accepted) { Answered(key, accepted); });
}

void CertificateCheck::Answered(const std::string& key, bool accepted) {
    auto found = std::find_if(questions_.begin(), questions_.end(),
                              [&](const Question& q) { return q.key == key; });
    if (found == questions_.end()) return;
    // Out of the list before anyone is told: a refusal ends connections, whose handlers may
    // well connect again and ask.
    Question question = std::move(*found);
    questions_.erase(found);
    const ServerCertificate& c = question.certificate;
    if (accepted) {
        accepted_.insert(key);
        std::string error;
        if (trusted_.Trust(c.host, c.port, c.fingerprint, &error))
            LogLine("Certificate of " + c.Server() + " trusted by the user: " + c.fingerprint);
        else
            LogLine("Certificate of " + c.Server() + " trusted for now, not kept: " + error);
    } else {
        refused_.insert(key);
        LogLine("Certificate of " + c.Server() + " refused by the user (" + c.Problems() + ")");
    }
    for (Answer& done : question.waiting) done(accepted);
}

}  // namespace quillfin::nntp
