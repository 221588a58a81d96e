#pragma once

// What the secure-connection tests share: the INN2 readers of scripts/inn2-tls-start, and a
// Qt socket with the program's certificate check whose questions the test answers.
#include <QtCore/qtestsupport_core.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "nntp/certificate_check.h"
#include "platform/qt_socket.h"
#include "support/temp_dir.h"

namespace quillfin::platform {

// The readers: the test authority's certificate on Port(), a self-signed one on Port() + 1, and
// one for another host name on Port() + 2.
struct Inn2Tls {
    static int Port() {
        const char* env = std::getenv("QUILLFIN_INN2_TLS_PORT");
        return env != nullptr && std::atoi(env) > 0 ? std::atoi(env) : 1563;
    }
    static std::string Dir() {
        const char* env = std::getenv("QUILLFIN_INN2_TLS_DIR");
        return env != nullptr && *env != '\0' ? env : "/var/lib/news/quillfin-tls";
    }
    static std::string Read(const std::string& name) {
        std::ifstream in(Dir() + "/" + name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static std::string Authority() { return Read("ca.pem"); }
};

// Where a needed server is missing: skipped here, a failure under CI.
#define QUILLFIN_SKIP_OR_FAIL(reason)                                         \
    do {                                                                      \
        const char* ci_ = std::getenv("CI");                                  \
        if (ci_ != nullptr && std::string(ci_) == "true") FAIL() << (reason); \
        GTEST_SKIP() << (reason);                                             \
    } while (false)

// One program run's certificate decisions: CERTS.TXT in its own folder, a log, and questions
// kept for the test to answer.
struct TlsRun {
    explicit TlsRun(const std::string& authority = Inn2Tls::Authority()) {
        settings.chkEnableLogging = 1;
        setup.enabled = [] { return true; };
        setup.check = &check;
        setup.log = [this](const std::string& line) { log.LogEvent(line, true); };
        setup.extraAuthorities = authority;
        check.ask = [this](const nntp::ServerCertificate& certificate,
                           nntp::CertificateCheck::Answer answer) {
            asked.push_back(certificate);
            answers.push_back(std::move(answer));
        };
    }
    bool Logged(const std::string& text) const {
        for (const std::string& line : log.Lines())
            if (line.find(text) != std::string::npos) return true;
        return false;
    }

    testing::TempDir dir;
    storage::Settings settings;
    common::SystemClock clock;
    storage::ActivityLog log{settings, clock, dir.Path()};
    storage::TrustedCertificates trusted{dir.Path()};
    nntp::CertificateCheck check{trusted, log};
    TlsSetup setup;
    std::vector<nntp::ServerCertificate> asked;
    std::vector<nntp::CertificateCheck::Answer> answers;
};

// A socket that records what the connection hands over.
struct TlsClient {
    explicit TlsClient(const TlsSetup& setup) {
        socket.SetTls(&setup);
        socket.onDataArrival = [this](const std::string& chunk) { received += chunk; };
        socket.onError = [this](int, const std::string& description) { error = description; };
        socket.onClose = [this] { closed = true; };
    }
    void Connect(int port, const std::string& host = "127.0.0.1") {
        socket.SetRemoteHost(host);
        socket.SetRemotePort(port);
        socket.Connect();
    }
    // The first line arrived; false at once when the connection failed instead.
    bool Greeted(int timeout_ms = 10000) {
        const auto line = [&] { return received.find("\r\n") != std::string::npos; };
        (void)QTest::qWaitFor([&] { return line() || !error.empty() || closed; }, timeout_ms);
        return line();
    }
    bool Failed(int timeout_ms = 10000) {
        return QTest::qWaitFor([&] { return !error.empty() || closed; }, timeout_ms);
    }

    QtSocket socket;
    std::string received;
    std::string error;
    bool closed = false;
};

// Empty when the INN2 TLS reader with the test authority's certificate greets; else why not.
inline std::string Inn2TlsMissing() {
    if (Inn2Tls::Authority().empty())
        return "no test authority in " + Inn2Tls::Dir() +
               " (scripts/inn2-tls-start makes it; it needs root)";
    TlsRun run;
    TlsClient probe(run.setup);
    probe.Connect(Inn2Tls::Port());
    if (probe.Greeted() && probe.received.starts_with("200")) return "";
    return "no INN2 TLS reader greets on 127.0.0.1:" + std::to_string(Inn2Tls::Port()) + " (" +
           (probe.error.empty() ? probe.received : probe.error) + ")";
}

}  // namespace quillfin::platform
