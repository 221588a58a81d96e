#include "platform/qt_socket.h"

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>

namespace quillfin::platform {

// Holds the Qt side so that no Qt header reaches the users of QtSocket.
class QtSocket::Bridge {
  public:
    enum class Ended { kNo, kPeerClosed, kError };

    explicit Bridge(QtSocket& owner);
    ~Bridge();

    void DeliverAvailable();
    void OnErrorOccurred(QAbstractSocket::SocketError error);
    void OnDisconnected();
    void PeerClosed();
    void RaiseEnd(Ended ended, int number, const std::string& description);

    QtSocket& owner_;
    QTcpSocket* socket_;
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

QtSocket::Bridge::Bridge(QtSocket& owner) : owner_(owner), socket_(new QTcpSocket) {
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QObject::connect(socket_, &QTcpSocket::readyRead, socket_, [this] { DeliverAvailable(); });
    QObject::connect(socket_, &QTcpSocket::errorOccurred, socket_,
                     [this](QAbstractSocket::SocketError error) { OnErrorOccurred(error); });
    QObject::connect(socket_, &QTcpSocket::disconnected, socket_, [this] { OnDisconnected(); });
}

QtSocket::Bridge::~Bridge() {
    *alive_ = false;
    socket_->disconnect();
    socket_->abort();
    // The owner may be destroyed from inside one of the socket's own signals.
    socket_->deleteLater();
}

void QtSocket::Bridge::DeliverAvailable() {
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
    DeliverAvailable();
    if (!*alive || ended_ != Ended::kNo) return;
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
    RaiseEnd(Ended::kError, int(error), socket_->errorString().toStdString());
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

void QtSocket::Connect() {
    QTcpSocket& socket = *bridge_->socket_;
    if (socket.state() != QAbstractSocket::UnconnectedState) return;
    bridge_->ended_ = Bridge::Ended::kNo;
    if (bridge_->local_port_ != 0) socket.bind(QHostAddress::Any, quint16(bridge_->local_port_));
    const int port = bridge_->port_;
    if (port < 0 || port > 65535) {
        bridge_->ended_ = Bridge::Ended::kError;
        if (onError) onError(int(QAbstractSocket::UnsupportedSocketOperationError), "Invalid port");
        return;
    }
    socket.connectToHost(QString::fromStdString(bridge_->host_), quint16(port));
}

void QtSocket::Send(const std::string& data) {
    QTcpSocket& socket = *bridge_->socket_;
    if (GetState() != kConnected || socket.state() != QAbstractSocket::ConnectedState) return;
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
            return kConnected;
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
