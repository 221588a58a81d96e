// Certificate checks against INN2 readers with implicit TLS (scripts/inn2-tls-start): the test
// authority is trusted through the socket's own list, never the system's.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/tls_client.h"

namespace quillfin::platform {
namespace {

// What openssl itself says the certificate's SHA-256 fingerprint is.
std::string OpensslFingerprint(const std::string& pem_file) {
    const std::string command =
        "openssl x509 -noout -fingerprint -sha256 -in '" + Inn2Tls::Dir() + "/" + pem_file + "'";
    std::string out;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
        ::pclose(pipe);
    }
    const auto at = out.find('=');
    return at == std::string::npos ? "" : out.substr(at + 1, out.find_first_of("\r\n") - at - 1);
}

class Inn2TlsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string missing = Inn2TlsMissing();
        if (!missing.empty()) QUILLFIN_SKIP_OR_FAIL(missing);
    }
};

TEST_F(Inn2TlsTest, OnlyTheTrustedAuthorityLetsTheCertificatePassUnasked) {
    TlsRun run, system_only("");
    TlsClient by_name(run.setup), stranger(system_only.setup);
    by_name.Connect(Inn2Tls::Port(), "localhost");
    stranger.Connect(Inn2Tls::Port());
    ASSERT_TRUE(by_name.Greeted()) << by_name.error;
    EXPECT_TRUE(by_name.socket.Secured());
    EXPECT_TRUE(run.asked.empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !system_only.asked.empty(); }, 10000));
    EXPECT_EQ(stranger.socket.GetState(), nntp::Socket::kConnecting);
    EXPECT_EQ(system_only.asked[0].issuer, "CN=Quillfin Test Authority");
}

// Both failures at once, as the scan and the download connection meet them: one question,
// nothing delivered, both refused; then trusted, and kept for the next run.
TEST_F(Inn2TlsTest, SelfSignedAndOtherHostCertificatesAreRefusedUntilTrusted) {
    const struct {
        int port;
        const char* file;
        const char* problem;
    } servers[] = {
        {Inn2Tls::Port() + 1, "self.pem", "self-signed"},
        {Inn2Tls::Port() + 2, "other.pem", "host name"},
    };
    for (const auto& server : servers) {
        SCOPED_TRACE(server.file);
        TlsRun run;
        TlsClient scan(run.setup), download(run.setup);
        scan.Connect(server.port);
        download.Connect(server.port);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !run.asked.empty(); }, 10000));
        QTest::qWait(300);  // the second connection has met the same certificate by now
        ASSERT_EQ(run.asked.size(), 1u);
        // A copy: the second question below grows run.asked.
        const nntp::ServerCertificate asked = run.asked[0];
        EXPECT_NE(asked.Problems().find(server.problem), std::string::npos) << asked.Problems();
        EXPECT_EQ(asked.fingerprint, OpensslFingerprint(server.file));
        EXPECT_EQ(asked.Server(), "127.0.0.1:" + std::to_string(server.port));
        for (TlsClient* client : {&scan, &download}) {
            EXPECT_EQ(client->socket.GetState(), nntp::Socket::kConnecting);
            client->socket.Send("AUTHINFO USER nobody\r\n");  // dropped: not yet checked
        }
        run.answers[0](false);
        for (TlsClient* client : {&scan, &download}) {
            ASSERT_TRUE(client->Failed());
            EXPECT_EQ(client->socket.GetState(), nntp::Socket::kError);
            EXPECT_NE(client->error.find("Certificate check failed for 127.0.0.1"),
                      std::string::npos)
                << client->error;
            EXPECT_EQ(client->received, "") << "the greeting came through";
            client->socket.Close();
        }
        EXPECT_TRUE(run.Logged("refused by the user"));

        // Refused during this run: not asked again, until the user connects anew.
        scan.Connect(server.port);
        ASSERT_TRUE(scan.Failed());
        EXPECT_EQ(run.asked.size(), 1u);
        scan.socket.Close();
        scan.error.clear();
        run.check.ForgetRefusals();
        scan.Connect(server.port);
        ASSERT_TRUE(QTest::qWaitFor([&] { return run.asked.size() == 2; }, 10000));
        run.answers[1](true);
        ASSERT_TRUE(scan.Greeted()) << scan.error;
        EXPECT_TRUE(scan.received.starts_with("200 "));
        EXPECT_TRUE(run.trusted.IsTrusted("127.0.0.1", server.port, asked.fingerprint));

        // The next run finds it in CERTS.TXT.
        nntp::CertificateCheck next_run(run.trusted, run.log);
        TlsSetup setup = run.setup;
        setup.check = &next_run;
        TlsClient again(setup);
        again.Connect(server.port);
        ASSERT_TRUE(again.Greeted()) << again.error;
    }
}

TEST_F(Inn2TlsTest, ACertificateOtherThanTheTrustedOneIsAskedAboutAgain) {
    const int port = Inn2Tls::Port() + 1;
    TlsRun run;
    // Trusted earlier: the certificate the server had before (here, another one).
    ASSERT_TRUE(run.trusted.Trust("127.0.0.1", port, OpensslFingerprint("other.pem")));
    TlsClient client(run.setup);
    client.Connect(port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !run.asked.empty(); }, 10000));
    EXPECT_EQ(run.asked[0].fingerprint, OpensslFingerprint("self.pem"));
    run.answers[0](false);
    ASSERT_TRUE(client.Failed());
    EXPECT_EQ(client.received, "");
    EXPECT_FALSE(run.trusted.IsTrusted("127.0.0.1", port, run.asked[0].fingerprint));
}

}  // namespace
}  // namespace quillfin::platform
