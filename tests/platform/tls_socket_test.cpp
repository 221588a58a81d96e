// The secure socket against a TLS server in this process that records every byte it receives,
// with a self-signed certificate made by openssl for the test.
#include <gtest/gtest.h>

#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <cstdlib>

#include "platform/tls_client.h"

namespace quillfin::platform {
namespace {

class RecordingTlsServer {
  public:
    explicit RecordingTlsServer(const QSslConfiguration& config) {
        server_.setSslConfiguration(config);
        QObject::connect(&server_, &QTcpServer::pendingConnectionAvailable, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                ++encrypted;
                socket->write("200 recorder ready\r\n");
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [this, socket] { received += socket->readAll().toStdString(); });
            }
        });
        server_.listen(QHostAddress::LocalHost, 0);
    }
    int Port() const { return server_.serverPort(); }

    int encrypted = 0;  // connections whose handshake the server completed
    std::string received;

  private:
    QSslServer server_;
};

class TlsSocketTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string command =
            "cd '" + dir.Path() +
            "' && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost "
            "-addext subjectAltName=IP:127.0.0.1 -keyout key.pem -out cert.pem >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            QUILLFIN_SKIP_OR_FAIL("openssl cannot make a certificate");
        config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(
            QSslCertificate(QByteArray::fromStdString(dir.Read("cert.pem"))));
        config.setPrivateKey(QSslKey(QByteArray::fromStdString(dir.Read("key.pem")), QSsl::Rsa));
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
    }
    testing::TempDir dir;
    QSslConfiguration config;
};

TEST_F(TlsSocketTest, NothingIsSentOrDeliveredBeforeTheCertificateIsTrusted) {
    RecordingTlsServer server(config);
    ASSERT_GT(server.Port(), 0);
    TlsRun run("");
    TlsClient refused(run.setup);
    refused.Connect(server.Port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !run.asked.empty(); }, 10000));
    EXPECT_EQ(run.asked[0].subject, "CN=localhost");
    refused.socket.Send("AUTHINFO USER nobody\r\n");
    QTest::qWait(300);
    EXPECT_EQ(refused.socket.GetState(), nntp::Socket::kConnecting);
    EXPECT_EQ(refused.received, "");
    run.answers[0](false);
    ASSERT_TRUE(refused.Failed());
    EXPECT_EQ(refused.socket.GetState(), nntp::Socket::kError);
    QTest::qWait(200);
    EXPECT_EQ(server.received, "") << "sent before the check had passed";
    // The client stops before its last handshake message: the server never got that far.
    EXPECT_EQ(server.encrypted, 0);
    EXPECT_EQ(refused.received, "");

    // The same certificate trusted: the greeting, then what the client sends.
    run.check.ForgetRefusals();
    TlsClient trusted(run.setup);
    trusted.Connect(server.Port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.asked.size() == 2; }, 10000));
    run.answers[1](true);
    ASSERT_TRUE(trusted.Greeted()) << trusted.error;
    EXPECT_EQ(trusted.received, "200 recorder ready\r\n");
    trusted.socket.Send("QUIT\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.received.empty(); }, 10000));
    EXPECT_EQ(server.received, "QUIT\r\n");
    EXPECT_EQ(server.encrypted, 1);
}

TEST_F(TlsSocketTest, APlainServerOnTheSecurePortIsAnErrorNeverAPlainConnection) {
    QTcpServer plain;
    ASSERT_TRUE(plain.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&plain, &QTcpServer::newConnection, &plain, [&] {
        while (QTcpSocket* socket = plain.nextPendingConnection())
            socket->write("200 plain server ready\r\n");
    });
    TlsRun run("");
    TlsClient client(run.setup);
    client.Connect(plain.serverPort());
    ASSERT_TRUE(client.Failed());
    EXPECT_EQ(client.received, "");
    EXPECT_TRUE(run.asked.empty());
    EXPECT_NE(client.error.find("Secure connection to 127.0.0.1:"), std::string::npos)
        << client.error;
}

}  // namespace
}  // namespace quillfin::platform
