#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "nntp/socket.h"

namespace quillfin::nntp {

// A socket that turns on NNTP compression (RFC 8054, raw deflate both ways) when the server
// offers it, before the one above sees the greeting: the scan engine then reads the same
// replies, whole and in the same order, from fewer bytes on the wire. Without the offer, or
// when switched off, it passes everything through as it is.
class CompressedSocket : public Socket {
  public:
    explicit CompressedSocket(Socket& inner);
    ~CompressedSocket() override;
    CompressedSocket(const CompressedSocket&) = delete;
    CompressedSocket& operator=(const CompressedSocket&) = delete;

    // Asked at each Connect(): whether to ask the server for compression.
    std::function<bool()> enabled;
    // Told once compression is on for a connection.
    std::function<void(const std::string& line)> log;

    void SetRemoteHost(const std::string& host) override { inner_.SetRemoteHost(host); }
    void SetRemotePort(int port) override { inner_.SetRemotePort(port); }
    void SetLocalPort(int port) override { inner_.SetLocalPort(port); }
    void Connect() override;
    void Send(const std::string& data) override;
    void Close() override;
    int GetState() const override { return inner_.GetState(); }

    bool Compressing() const;
    // Bytes received on the wire and after inflating, since the socket was made.
    std::uint64_t WireBytesIn() const { return wire_in_; }
    std::uint64_t PlainBytesIn() const { return plain_in_; }

  private:
    enum class Step { Off, Greeting, Capabilities, Compress, On };
    struct Streams;

    void Arrived(const std::string& chunk);
    void Negotiate(const std::string& chunk);
    // Hands the held greeting (and anything after it) up, plain from here on.
    void GiveUp();
    void Deliver(const std::string& text);

    Socket& inner_;
    Step step_ = Step::Off;
    std::string held_;      // the greeting, kept until compression is settled
    std::string reply_;     // the reply being gathered while settling
    std::unique_ptr<Streams> streams_;
    std::uint64_t wire_in_ = 0;
    std::uint64_t plain_in_ = 0;
};

}  // namespace quillfin::nntp
