#pragma once

#include <functional>
#include <string>

namespace quillfin::nntp {

// A TCP connection as the connection logic sees it: ten states, and three events delivered on
// the one GUI thread. The Qt adapter implements it over QTcpSocket; tests script it.
class Socket {
public:
    enum State {
        kClosed = 0,
        kOpen = 1,
        kListening = 2,
        kConnectionPending = 3,
        kResolvingHost = 4,
        kHostResolved = 5,
        kConnecting = 6,
        kConnected = 7,
        kPeerClosing = 8,
        kError = 9,
    };

    virtual ~Socket() = default;

    virtual void SetRemoteHost(const std::string& host) = 0;
    virtual void SetRemotePort(int port) = 0;
    virtual void SetLocalPort(int port) = 0;
    virtual void Connect() = 0;
    // Bytes as they are; the caller adds CR LF.
    virtual void Send(const std::string& data) = 0;
    virtual void Close() = 0;
    virtual int GetState() const = 0;

    // One chunk of received bytes, of whatever length the network delivered.
    std::function<void(const std::string& chunk)> onDataArrival;
    std::function<void()> onClose;
    std::function<void(int number, const std::string& description)> onError;
};

// A repeating timer; interval 0 stops it.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void SetInterval(int milliseconds) = 0;
    virtual int Interval() const = 0;
    std::function<void()> onTick;
};

}  // namespace quillfin::nntp
