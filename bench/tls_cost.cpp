// What TLS costs: a scan of 600,000 overview lines and a batch of 8 yEnc postings (40 MB) by
// the program through its Qt sockets, over plain TCP and over TLS, from the local test
// server. The server has no TLS of its own, so both go through the same relay thread in front
// of it: a plain one, and one that ends TLS (QSslServer, a certificate made by openssl). Three
// interleaved rounds; prints the best of each and the ratio.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "app/program.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_socket.h"
#include "platform/qt_timer.h"
#include "platform/tls_setup.h"
#include "quiet_program.h"
#include "testserver/binary_encoders.h"
#include "testserver/nntp_test_server.h"
#include "testserver/sample_data.h"

namespace {

using namespace quillfin;
using namespace quillfin::bench;

constexpr const char* kScanGroup = "alt.binaries.quillfin.tlsscan";
constexpr const char* kBatchGroup = "alt.binaries.quillfin.tlsbatch";
constexpr int kOverviewLines = 600000;
constexpr int kPostings = 8;
constexpr int kPartsEach = 10;
constexpr std::size_t kPostingBytes = 5 * 1000 * 1000;
constexpr int kRounds = 3;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Passes bytes both ways between each client and the test server, on a thread of its own,
// ending TLS on the client side when given a configuration.
class Relay {
  public:
    Relay(int upstream, const QSslConfiguration* tls) : upstream_(upstream), tls_(tls) {
        std::promise<int> port;
        std::future<int> ready = port.get_future();
        thread_ = std::thread([this, &port] { Run(port); });
        port_ = ready.get();
    }
    ~Relay() {
        QMetaObject::invokeMethod(loop_, "quit", Qt::QueuedConnection);
        thread_.join();
    }
    int Port() const { return port_; }

  private:
    void Run(std::promise<int>& port) {
        QEventLoop loop;
        loop_ = &loop;
        std::unique_ptr<QTcpServer> server;
        if (tls_ != nullptr) {
            auto ssl = std::make_unique<QSslServer>();
            ssl->setSslConfiguration(*tls_);
            server = std::move(ssl);
        } else {
            server = std::make_unique<QTcpServer>();
        }
        QObject::connect(server.get(), &QTcpServer::pendingConnectionAvailable, server.get(), [&] {
            while (QTcpSocket* down = server->nextPendingConnection()) Pipe(down);
        });
        server->listen(QHostAddress::LocalHost, 0);
        port.set_value(server->serverPort());
        loop.exec();
    }
    void Pipe(QTcpSocket* down) {
        down->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto* up = new QTcpSocket(down);
        QObject::connect(up, &QTcpSocket::connected, up,
                         [up] { up->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
        QObject::connect(down, &QTcpSocket::readyRead, up,
                         [down, up] { up->write(down->readAll()); });
        QObject::connect(up, &QTcpSocket::readyRead, down,
                         [down, up] { down->write(up->readAll()); });
        QObject::connect(up, &QTcpSocket::disconnected, down,
                         [down] { down->disconnectFromHost(); });
        QObject::connect(down, &QTcpSocket::disconnected, down, [down, up] {
            up->abort();
            down->deleteLater();
        });
        up->connectToHost(QHostAddress::LocalHost, quint16(upstream_));
    }

    int upstream_;
    const QSslConfiguration* tls_;
    int port_ = 0;
    QEventLoop* loop_ = nullptr;
    std::thread thread_;
};

// CPU seconds of the calling thread: the program's own share, apart from the relay's.
double ThreadCpu() {
    rusage used{};
    ::getrusage(RUSAGE_THREAD, &used);
    return double(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
           double(used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
}

struct Figures {
    double scan = -1;
    double batch = -1;
    int files = 0;
    std::string secure_line;
    double handshake = 0;  // from starting the scan to its connection's passed checks
    double scan_cpu = 0;   // of the program's thread during the scan
};

Figures Round(int port, const std::string& authority) {
    const std::string dir = MakeFolder("qf-tls");
    common::SystemClock clock;
    platform::QtEventPump pump;
    SilentPrompts prompts;
    NoWindows windows;
    NoSounds sounds;
    platform::TlsSetup tls;
    platform::QtSocket tcp1, tcp2;
    platform::QtTimer timerbot1, timerbot2, timer1;
    Figures figures;
    QElapsedTimer elapsed;
    {
        app::Program program(
            dir, {clock, pump, prompts, windows, sounds, tcp1, timerbot1, tcp2, timerbot2, timer1});
        auto& s = program.settings;
        s.News_Host = "127.0.0.1";
        s.News_Port = std::to_string(port);
        s.chkSecure = authority.empty() ? 0 : 1;
        s.Download_Path = dir + "/";
        s.chkAutodownload = 0;
        s.chkAutoExpire = 0;
        s.chkEnableLogging = 1;
        s.sldXOVER = 2000;
        tls.enabled = [&s] { return s.chkSecure != 0; };
        tls.check = &program.certificates;
        tls.log = [&](const std::string& line) {
            if (figures.secure_line.empty())
                figures.handshake = double(elapsed.nsecsElapsed()) / 1e9;
            figures.secure_line = line;
            program.log.LogEvent(line, true);
        };
        tls.extraAuthorities = authority;
        tcp1.SetTls(&tls);
        tcp2.SetTls(&tls);
        program.groups.AddGroup(kScanGroup);
        program.groups.AddGroup(kBatchGroup);
        program.views.FillGroupFilter();

        const double cpu_before = ThreadCpu();
        elapsed.start();
        program.connections.ConnectScan();
        const std::int32_t expected = kOverviewLines / 20 + kPostings;
        if (RunUntil(
                [&] {
                    return !program.scan.Driving() && program.view.cmdScanEnabled &&
                           !program.session.Scanning && program.table.HeaderCount() == expected;
                },
                300, 2))
            figures.scan = double(elapsed.nsecsElapsed()) / 1e9;
        figures.scan_cpu = ThreadCpu() - cpu_before;
        for (std::int32_t i = 1; i <= program.table.HeaderCount(); ++i)
            if (program.table.Entries()[std::size_t(i - 1)].Group.str() == kBatchGroup)
                program.batch.AddToBatch(i);
        elapsed.restart();
        program.BatchStartCommand();
        if (RunUntil(
                [&] {
                    return program.batch.Rows().Count() == 0 && program.session.DownloadBusy == 0;
                },
                600, 2))
            figures.batch = double(elapsed.nsecsElapsed()) / 1e9;
        for (const auto& item : std::filesystem::recursive_directory_iterator(dir))
            if (item.is_regular_file() && item.path().extension() == ".bin") ++figures.files;
    }
    std::filesystem::remove_all(dir);
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const std::string keys = MakeFolder("qf-tls-keys");
    const std::string make =
        "cd '" + keys +
        "' && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost "
        "-addext subjectAltName=IP:127.0.0.1 -keyout key.pem -out cert.pem >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "openssl could not make a test certificate\n");
        return 1;
    }
    const std::string certificate = ReadFile(keys + "/cert.pem");
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(QByteArray::fromStdString(certificate)));
    tls.setPrivateKey(QSslKey(QByteArray::fromStdString(ReadFile(keys + "/key.pem")), QSsl::Rsa));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    std::filesystem::remove_all(keys);

    testserver::NntpTestServer server;
    server.WithSpool([](testserver::NewsSpool& spool) {
        testserver::AddOverviewPostings(spool, kScanGroup, kOverviewLines, 20);
        for (int i = 1; i <= kPostings; ++i) {
            std::string data(kPostingBytes, '\0');
            for (std::size_t k = 0; k < data.size(); ++k)
                data[k] = char(((k * 2654435761u) >> 13) + std::size_t(i));
            const std::string name = "tls" + std::to_string(i) + ".bin";
            const auto parts = testserver::YencParts(name, data, kPartsEach);
            for (int p = 0; p < kPartsEach; ++p) {
                testserver::TestArticle article;
                article.subject = "\"" + name + "\" yEnc (" + std::to_string(p + 1) + "/" +
                                  std::to_string(kPartsEach) + ")";
                article.body = parts[std::size_t(p)];
                spool.AddArticle(kBatchGroup, std::move(article));
            }
        }
    });
    if (!server.Start()) {
        std::fprintf(stderr, "test server: %s\n", server.Error().c_str());
        return 1;
    }
    Relay plain_relay(server.Port(), nullptr);
    Relay tls_relay(server.Port(), &tls);

    Figures best_plain{1e9, 1e9, 0, ""}, best_tls{1e9, 1e9, 0, ""};
    for (int round = 1; round <= kRounds; ++round) {
        const Figures plain = Round(plain_relay.Port(), "");
        const Figures secure = Round(tls_relay.Port(), certificate);
        std::printf(
            "round %d: scan plain %.2f s (program thread %.2f s CPU), TLS %.2f s (%.2f s CPU, "
            "secured after %.3f s); batch plain %.2f s, TLS %.2f s\n",
            round, plain.scan, plain.scan_cpu, secure.scan, secure.scan_cpu, secure.handshake,
            plain.batch, secure.batch);
        if (plain.scan < 0 || secure.scan < 0 || plain.batch < 0 || secure.batch < 0 ||
            plain.files != kPostings || secure.files != kPostings) {
            std::fprintf(stderr, "a round did not complete\n");
            return 1;
        }
        best_plain.scan = std::min(best_plain.scan, plain.scan);
        best_plain.batch = std::min(best_plain.batch, plain.batch);
        best_tls.scan = std::min(best_tls.scan, secure.scan);
        best_tls.batch = std::min(best_tls.batch, secure.batch);
        best_tls.secure_line = secure.secure_line;
    }
    std::printf("%s\n", best_tls.secure_line.c_str());
    std::printf("scan of %d overview lines: plain %.2f s, TLS %.2f s, ratio %.2f\n", kOverviewLines,
                best_plain.scan, best_tls.scan, best_tls.scan / best_plain.scan);
    std::printf("batch of %d postings (%.0f MB): plain %.2f s, TLS %.2f s, ratio %.2f\n", kPostings,
                double(kPostings * kPostingBytes) / 1e6, best_plain.batch, best_tls.batch,
                best_tls.batch / best_plain.batch);
    return 0;
}
