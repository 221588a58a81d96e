#include "platform/qt_socket.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QHostAddress>
#include <QMetaObject>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>
#include <QTcpSocket>
#include <algorithm>

namespace quillfin::platform {

namespace {

std::string ProtocolName(QSsl::SslProtocol protocol) {
    switch (protocol) {
        case QSsl::TlsV1_2:
            return "TLS 1.2";
        case QSsl::TlsV1_3:
            return "TLS 1.3";
        default:
            return "TLS (unknown version)";
    }
}

// "CN=news.example.net, O=Example" from the fields people recognise.
std::string DistinguishedName(const QSslCertificate& certificate, bool issuer) {
    static const std::pair<QSslCertificate::SubjectInfo, const char*> kFields[] = {
        {QSslCertificate::CommonName, "CN"},
        {QSslCertificate::Organization, "O"},
        {QSslCertificate::OrganizationalUnitName, "OU"},
        {QSslCertificate::CountryName, "C"},
    };
    QStringList parts;
    for (const auto& [field, label] : kFields) {
        const QStringList values =
            issuer ? certificate.issuerInfo(field) : certificate.subjectInfo(field);
        for (const QString& value : values) parts << QLatin1String(label) + u'=' + value;
    }
    return parts.join(QStringLiteral(", ")).toStdString();
}

std::string UtcText(const QDateTime& time) {
    return time.isValid()
               ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")).toStdString()
               : std::string("unknown");
}

nntp::ServerCertificate Describe(const QSslSocket& socket, const std::string& host, int port,
                                 const QList<QSslError>& errors) {
    nntp::ServerCertificate facts;
    facts.host = host;
    facts.port = port;
    const QSslCertificate certificate = socket.peerCertificate();
    if (!certificate.isNull()) {
        facts.subject = DistinguishedName(certificate, false);
        facts.issuer = DistinguishedName(certificate, true);
        facts.validFrom = UtcText(certificate.effectiveDate());
        facts.validUntil = UtcText(certificate.expiryDate());
        facts.fingerprint =
            certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper().toStdString();
    }
    for (const QSslError& error : errors) {
        if (error.error() == QSslError::CertificateExpired) facts.expired = true;
        const std::string text = error.errorString().toStdString();
        if (std::find(facts.problems.begin(), facts.problems.end(), text) == facts.problems.end())
            facts.problems.push_back(text);
    }
    return facts;
}

}  // namespace

// Holds the Qt side so that no Qt header reaches the users of QtSocket.
class QtSocket::Bridge {
  public:
    enum class Ended { kNo, kPeerClosed, kError };

    explicit Bridge(QtSocket& owner);
    ~Bridge();

    void DeliverAvailable();
    // QSslSocket signals readyRead for every 4 KB it decrypts: handing each over on its own
    // costs a scan a third of its time, so what one turn of the event loop decrypts goes as one.
    void DeliverSoon();
    void OnErrorOccurred(QAbstractSocket::SocketError error);
    void OnDisconnected();
    void PeerClosed();
    void RaiseEnd(Ended ended, int number, const std::string& description);

    // A QSslSocket for TLS, a QTcpSocket otherwise; replaced only while unconnected.
    void UseSocket(bool tls);
    void ConnectEncrypted(quint16 port);
    void OnSslErrors(const QList<QSslError>& errors);
    void Accept(const QList<QSslError>& errors, bool inside_signal);
    void Refuse(const nntp::ServerCertificate& facts);
    void OnEncrypted();
    QSslSocket* Ssl() const { return tls_ ? static_cast<QSslSocket*>(socket_) : nullptr; }
    std::string Server() const { return host_ + ":" + std::to_string(port_); }

    QtSocket& owner_;
    QTcpSocket* socket_ = nullptr;
    const TlsSetup* setup_ = nullptr;
    bool tls_ = false;
    // Handshake and certificate checks passed: until then nothing is sent or delivered.
    bool secured_ = false;
    // Bumped by every Connect() and Close(), so a late answer about a certificate finds that
    // its connection is gone.
    std::uint64_t attempt_ = 0;
    QSslConfiguration tls_config_;
    std::string tls_config_for_;
    bool tls_config_made_ = false;
    bool delivery_queued_ = false;
    std::string host_;
    int port_ = 0;
    int local_port_ = 0;
    Ended ended_ = Ended::kNo;
    bool closing_ourselves_ = false;
    bool delivering_ = false;
    std::string chunk_;
    // A close or error seen while an outer delivery still drains the buffer: raised by that
    // delivery once the last bytes are out, so they arrive while the state is "connected".
    Ended pending_end_ = Ended::kNo;
    int pending_number_ = 0;
    std::string pending_description_;
    // Cleared when the owner goes, so a callback that destroys it stops the delivery loop.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

QtSocket::Bridge::Bridge(QtSocket& owner) : owner_(owner) { UseSocket(false); }

void QtSocket::Bridge::UseSocket(bool tls) {
    if (socket_ != nullptr && tls == tls_) return;
    if (socket_ != nullptr) {
        socket_->disconnect();
        socket_->abort();
        socket_->deleteLater();
    }
    tls_ = tls;
    delivery_queued_ = false;  // one queued for the old socket goes with it
    socket_ = tls ? new QSslSocket : new QTcpSocket;
    socket_->setReadBufferSize(qint64(QtSocket::kReadBufferSize));
    // Options set before the connection exists are lost, so they are set once it is made.
    QObject::connect(socket_, &QTcpSocket::connected, socket_,
                     [this] { socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    if (tls) {
        QObject::connect(socket_, &QTcpSocket::readyRead, socket_, [this] { DeliverSoon(); });
    } else {
        QObject::connect(socket_, &QTcpSocket::readyRead, socket_, [this] { DeliverAvailable(); });
    }
    QObject::connect(socket_, &QTcpSocket::errorOccurred, socket_,
                     [this](QAbstractSocket::SocketError error) { OnErrorOccurred(error); });
    QObject::connect(socket_, &QTcpSocket::disconnected, socket_, [this] { OnDisconnected(); });
    if (QSslSocket* ssl = Ssl()) {
        // A failed check pauses the handshake until the user has answered.
        ssl->setPauseMode(QAbstractSocket::PauseOnSslErrors);
        QObject::connect(ssl, &QSslSocket::sslErrors, ssl,
                         [this](const QList<QSslError>& errors) { OnSslErrors(errors); });
        QObject::connect(ssl, &QSslSocket::encrypted, ssl, [this] { OnEncrypted(); });
    }
}

void QtSocket::Bridge::ConnectEncrypted(quint16 port) {
    const std::string& extra = setup_->extraAuthorities;
    if (!tls_config_made_ || tls_config_for_ != extra) {
        tls_config_ = QSslConfiguration::defaultConfiguration();
        tls_config_.setPeerVerifyMode(QSslSocket::VerifyPeer);
        tls_config_.setProtocol(QSsl::SecureProtocols);
        if (!extra.empty()) {
            // Named in full: a list of our own would otherwise replace the system's. Reading
            // the system's takes a third of a second, so it is read once.
            static const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
            tls_config_.setCaCertificates(
                system + QSslCertificate::fromData(QByteArray::fromStdString(extra), QSsl::Pem));
        }
        tls_config_for_ = extra;
        tls_config_made_ = true;
    }
    QSslSocket& ssl = *Ssl();
    ssl.setSslConfiguration(tls_config_);
    // The host name as the user typed it is what the certificate must name.
    ssl.connectToHostEncrypted(QString::fromStdString(host_), port);
}

void QtSocket::Bridge::OnSslErrors(const QList<QSslError>& errors) {
    QSslSocket& ssl = *Ssl();
    const nntp::ServerCertificate facts = Describe(ssl, host_, port_, errors);
    if (setup_ == nullptr || setup_->check == nullptr) {
        Refuse(facts);
        return;
    }
    const std::uint64_t attempt = attempt_;
    std::shared_ptr<bool> alive = alive_;
    // A certificate trusted earlier is answered at once, still inside this signal.
    std::shared_ptr<bool> still_inside = std::make_shared<bool>(true);
    setup_->check->Decide(facts, [this, alive, still_inside, attempt, errors, facts](bool yes) {
        if (!*alive || attempt != attempt_) return;
        if (yes)
            Accept(errors, *still_inside);
        else
            Refuse(facts);
    });
    *still_inside = false;
}

void QtSocket::Bridge::Accept(const QList<QSslError>& errors, bool inside_signal) {
    QSslSocket& ssl = *Ssl();
    // Only the errors the user saw are ignored, never a later one.
    ssl.ignoreSslErrors(errors);
    // Inside the signal the handshake simply goes on; later it was paused and is resumed.
    if (!inside_signal && ssl.state() == QAbstractSocket::ConnectedState) ssl.resume();
}

void QtSocket::Bridge::Refuse(const nntp::ServerCertificate& facts) {
    const std::string why = "Certificate check failed for " + facts.Server() + " (" +
                            facts.Problems() + "); not connected";
    // Aborting from inside the socket's own signal would pull the connection from under Qt;
    // paused, nothing moves until the queued refusal runs.
    const std::uint64_t attempt = attempt_;
    std::shared_ptr<bool> alive = alive_;
    QMetaObject::invokeMethod(
        socket_,
        [this, alive, attempt, why] {
            if (!*alive || attempt != attempt_ || ended_ != Ended::kNo) return;
            closing_ourselves_ = true;
            socket_->abort();
            closing_ourselves_ = false;
            RaiseEnd(Ended::kError, int(QAbstractSocket::SslHandshakeFailedError), why);
        },
        Qt::QueuedConnection);
}

void QtSocket::Bridge::OnEncrypted() {
    secured_ = true;
    QSslSocket& ssl = *Ssl();
    if (setup_ != nullptr && setup_->log) {
        setup_->log("Secure connection to " + Server() + ": " +
                    ProtocolName(ssl.sessionProtocol()) + ", " +
                    ssl.sessionCipher().name().toStdString());
    }
    DeliverAvailable();
}

QtSocket::Bridge::~Bridge() {
    *alive_ = false;
    socket_->disconnect();
    socket_->abort();
    // The owner may be destroyed from inside one of the socket's own signals.
    socket_->deleteLater();
}

void QtSocket::Bridge::DeliverSoon() {
    if (delivery_queued_) return;
    delivery_queued_ = true;
    std::shared_ptr<bool> alive = alive_;
    QMetaObject::invokeMethod(
        socket_,
        [this, alive] {
            if (!*alive) return;
            delivery_queued_ = false;
            DeliverAvailable();
        },
        Qt::QueuedConnection);
}

void QtSocket::Bridge::DeliverAvailable() {
    if (tls_ && !secured_) return;
    // Qt does not re-emit readyRead for bytes that arrive while a handler runs a nested event
    // loop, so the outermost delivery keeps reading until the buffer stays empty.
    if (delivering_) return;
    delivering_ = true;
    std::shared_ptr<bool> alive = alive_;
    while (socket_->bytesAvailable() > 0) {
        // Read straight into one reused buffer: a scan moves megabytes through here.
        chunk_.resize(std::size_t(socket_->bytesAvailable()));
        const qint64 read = socket_->read(chunk_.data(), qint64(chunk_.size()));
        if (read <= 0) break;
        chunk_.resize(std::size_t(read));
        if (owner_.onDataArrival) owner_.onDataArrival(chunk_);
        if (!*alive) return;
    }
    delivering_ = false;
    if (pending_end_ != Ended::kNo) {
        const Ended ended = pending_end_;
        pending_end_ = Ended::kNo;
        RaiseEnd(ended, pending_number_, pending_description_);
    }
}

void QtSocket::Bridge::RaiseEnd(Ended ended, int number, const std::string& description) {
    if (ended_ != Ended::kNo) return;
    if (delivering_) {
        if (pending_end_ == Ended::kNo) {
            pending_end_ = ended;
            pending_number_ = number;
            pending_description_ = description;
        }
        return;
    }
    // What arrived before the end is handed over while the state is still "connected".
    std::shared_ptr<bool> alive = alive_;
    const std::uint64_t attempt = attempt_;
    DeliverAvailable();
    // The owner may have closed the socket on those bytes (a "205"): that end is its own.
    if (!*alive || ended_ != Ended::kNo || attempt != attempt_) return;
    ended_ = ended;
    if (ended == Ended::kPeerClosed) {
        if (owner_.onClose) owner_.onClose();
    } else if (owner_.onError) {
        owner_.onError(number, description);
    }
}

void QtSocket::Bridge::PeerClosed() { RaiseEnd(Ended::kPeerClosed, 0, {}); }

void QtSocket::Bridge::OnErrorOccurred(QAbstractSocket::SocketError error) {
    if (closing_ourselves_ || ended_ != Ended::kNo) return;
    if (error == QAbstractSocket::RemoteHostClosedError) {
        PeerClosed();
        return;
    }
    std::string description = socket_->errorString().toStdString();
    if (tls_ && !secured_ && error == QAbstractSocket::SslHandshakeFailedError)
        description = "Secure connection to " + Server() + " failed: " + description;
    RaiseEnd(Ended::kError, int(error), description);
}

void QtSocket::Bridge::OnDisconnected() {
    if (closing_ourselves_) return;
    PeerClosed();
}

QtSocket::QtSocket() : bridge_(std::make_unique<Bridge>(*this)) {}

QtSocket::~QtSocket() = default;

void QtSocket::SetRemoteHost(const std::string& host) { bridge_->host_ = host; }
void QtSocket::SetRemotePort(int port) { bridge_->port_ = port; }
void QtSocket::SetLocalPort(int port) { bridge_->local_port_ = port; }
const std::string& QtSocket::RemoteHost() const { return bridge_->host_; }
int QtSocket::RemotePort() const { return bridge_->port_; }
int QtSocket::LocalPort() const { return bridge_->local_port_; }
void QtSocket::SetTls(const TlsSetup* setup) { bridge_->setup_ = setup; }
bool QtSocket::Secured() const { return bridge_->tls_ && bridge_->secured_; }

void QtSocket::Connect() {
    if (bridge_->socket_->state() != QAbstractSocket::UnconnectedState) return;
    const TlsSetup* setup = bridge_->setup_;
    const bool tls = setup != nullptr && setup->enabled && setup->enabled();
    bridge_->UseSocket(tls);
    ++bridge_->attempt_;
    bridge_->secured_ = false;
    QTcpSocket& socket = *bridge_->socket_;
    bridge_->ended_ = Bridge::Ended::kNo;
    if (bridge_->local_port_ != 0) socket.bind(QHostAddress::Any, quint16(bridge_->local_port_));
    const int port = bridge_->port_;
    if (port < 0 || port > 65535) {
        bridge_->ended_ = Bridge::Ended::kError;
        if (onError) onError(int(QAbstractSocket::UnsupportedSocketOperationError), "Invalid port");
        return;
    }
    if (!tls) {
        socket.connectToHost(QString::fromStdString(bridge_->host_), quint16(port));
        return;
    }
    // Never a plain connection in place of a secure one.
    if (!QSslSocket::supportsSsl()) {
        bridge_->ended_ = Bridge::Ended::kError;
        if (onError)
            onError(int(QAbstractSocket::SslInternalError),
                    "Secure connection impossible: TLS is not available on this system");
        return;
    }
    bridge_->ConnectEncrypted(quint16(port));
}

void QtSocket::Send(const std::string& data) {
    QTcpSocket& socket = *bridge_->socket_;
    if (GetState() != kConnected || socket.state() != QAbstractSocket::ConnectedState) return;
    if (bridge_->tls_ && !bridge_->secured_) return;
    socket.write(data.data(), qint64(data.size()));
    // Hand the bytes to the kernel now rather than at the next turn of the event loop.
    socket.flush();
}

void QtSocket::Close() {
    QTcpSocket& socket = *bridge_->socket_;
    bridge_->closing_ourselves_ = true;
    if (socket.state() == QAbstractSocket::ConnectedState) socket.flush();
    socket.abort();
    bridge_->closing_ourselves_ = false;
    ++bridge_->attempt_;
    bridge_->secured_ = false;
    bridge_->ended_ = Bridge::Ended::kNo;
    bridge_->pending_end_ = Bridge::Ended::kNo;
}

int QtSocket::GetState() const {
    if (bridge_->ended_ == Bridge::Ended::kError) return kError;
    if (bridge_->ended_ == Bridge::Ended::kPeerClosed) return kPeerClosing;
    // Until the last bytes are handed over, the end is not announced.
    if (bridge_->pending_end_ != Bridge::Ended::kNo) return kConnected;
    switch (bridge_->socket_->state()) {
        case QAbstractSocket::UnconnectedState:
            return kClosed;
        case QAbstractSocket::HostLookupState:
            return kResolvingHost;
        case QAbstractSocket::ConnectingState:
            return kConnecting;
        case QAbstractSocket::ConnectedState:
            return bridge_->tls_ && !bridge_->secured_ ? kConnecting : kConnected;
        case QAbstractSocket::BoundState:
            return kOpen;
        case QAbstractSocket::ListeningState:
            return kListening;
        case QAbstractSocket::ClosingState:
            return kPeerClosing;
    }
    return kClosed;
}

}  // namespace quillfin::platform
