#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "nntp/socket.h"
#include "platform/tls_setup.h"

namespace quillfin::platform {

// nntp::Socket over QTcpSocket. Events come from the Qt event loop of the thread that created
// it. Like the socket control the logic was shaped after, an error or the peer's close is a
// state of its own (9 or 8) that lasts until the owner calls Close() or Connect().
// With TLS the socket reports "connecting" until the handshake and the certificate checks have
// passed: only then does the greeting arrive and may anything be sent.
class QtSocket : public nntp::Socket {
  public:
    // Bytes Qt holds for us at most: while a handler lets events run, more wait in the system
    // and the server is slowed down, instead of the buffer growing without a bound.
    static constexpr std::size_t kReadBufferSize = std::size_t(1) << 20;

    QtSocket();
    ~QtSocket() override;
    QtSocket(const QtSocket&) = delete;
    QtSocket& operator=(const QtSocket&) = delete;

    void SetRemoteHost(const std::string& host) override;
    void SetRemotePort(int port) override;
    void SetLocalPort(int port) override;
    // Does nothing unless the state is 0.
    void Connect() override;
    // Only while connected; otherwise the bytes are dropped.
    void Send(const std::string& data) override;
    void Close() override;
    int GetState() const override;

    const std::string& RemoteHost() const;
    int RemotePort() const;
    int LocalPort() const;
    // Later Connect() calls follow setup (null: plain TCP). The setup must outlive the socket.
    void SetTls(const TlsSetup* setup);
    // The connection is TLS and has passed its checks.
    bool Secured() const;

  private:
    class Bridge;
    std::unique_ptr<Bridge> bridge_;
};

}  // namespace quillfin::platform
