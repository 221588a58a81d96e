#pragma once

#include <string>

namespace quillfin::testserver {

// A blocking NNTP client connection to a real server on loopback, for the test server's
// pass-through mode: one command, its whole reply (multi-line replies to their end line).
class UpstreamConnection {
  public:
    // wake_fd: readable when the owner stops; every wait ends then.
    explicit UpstreamConnection(int wake_fd) : wake_fd_(wake_fd) {}
    ~UpstreamConnection();
    UpstreamConnection(const UpstreamConnection&) = delete;
    UpstreamConnection& operator=(const UpstreamConnection&) = delete;

    // The greeting line; empty when the server cannot be reached.
    std::string Connect(int port);
    // The reply to one command line, as received; empty once the server has gone.
    std::string Ask(const std::string& line);
    bool Open() const { return fd_ >= 0; }

  private:
    // Reads until `pending_` holds `end`; false when the server closed or stopped answering.
    bool ReadUntil(const std::string& end, std::size_t from);
    void Close();

    int wake_fd_;
    int fd_ = -1;
    std::string pending_;
};

}  // namespace quillfin::testserver
