#pragma once

#include <string>
#include <vector>

#include "nntp/socket.h"

namespace quillfin::testing {

// A socket driven by the test: it records every line sent, and the test delivers chunks,
// closes and errors as a server and a network would.
class FakeSocket : public nntp::Socket {
public:
    void SetRemoteHost(const std::string& host) override { remote_host = host; }
    void SetRemotePort(int port) override { remote_port = port; }
    void SetLocalPort(int port) override { local_port = port; }
    void Connect() override {
        ++connects;
        state = state_after_connect;
    }
    void Send(const std::string& data) override {
        raw_sent += data;
        if (data.size() >= 2 && data.compare(data.size() - 2, 2, "\r\n") == 0)
            sent.push_back(data.substr(0, data.size() - 2));
        else
            sent.push_back(data);
    }
    void Close() override {
        ++closes;
        state = state_after_close;
    }
    int GetState() const override { return state; }

    // Server side.
    void Deliver(const std::string& chunk) {
        if (onDataArrival) onDataArrival(chunk);
    }
    void PeerClose() {
        state = kClosed;
        if (onClose) onClose();
    }
    void RaiseError(int number, const std::string& description) {
        state = kError;
        if (onError) onError(number, description);
    }

    int state = kClosed;
    int state_after_connect = kConnected;
    int state_after_close = kClosed;
    std::string remote_host;
    int remote_port = -1;
    int local_port = -1;
    int connects = 0;
    int closes = 0;
    std::vector<std::string> sent;
    std::string raw_sent;
};

class FakeTimer : public nntp::Timer {
public:
    void SetInterval(int milliseconds) override { interval = milliseconds; }
    int Interval() const override { return interval; }
    void Tick() {
        if (onTick) onTick();
    }
    int interval = 0;
};

}  // namespace quillfin::testing
