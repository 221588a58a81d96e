#pragma once

#include <string>

namespace quillfin::platform {

// A blocking NNTP client on plain sockets, for the tests' own view of a server: reading raw
// replies and posting articles. Not the program's client.
class RawNntpClient {
  public:
    RawNntpClient() = default;
    ~RawNntpClient();
    RawNntpClient(const RawNntpClient&) = delete;
    RawNntpClient& operator=(const RawNntpClient&) = delete;

    // Connects and returns the greeting line; empty when the connection failed.
    std::string Connect(int port, int timeout_ms = 5000);
    // Sends line + CR LF and returns the status line (with CR LF).
    std::string Command(const std::string& line);
    // Sends line + CR LF and returns the whole reply; multi_line replies are read up to and
    // including the "." line when the status code says one follows.
    std::string Request(const std::string& line);
    // POST of a whole article (head, blank line, body; LF or CR LF), dot-stuffed. Returns the
    // final status line.
    std::string Post(const std::string& article);
    void Close();

  private:
    bool SendAll(const std::string& data);
    std::string ReadLine();
    std::string ReadUntilEndLine();

    int fd_ = -1;
    int timeout_ms_ = 5000;
    std::string buffer_;
};

}  // namespace quillfin::platform
