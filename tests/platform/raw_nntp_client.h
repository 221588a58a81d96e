#pragma once

#include <QHostAddress>
#include <QTcpSocket>
#include <string>

namespace quillfin::platform {

// A blocking client for the tests' own view of a server: status lines, and posting.
class RawNntpClient {
  public:
    // The greeting; empty when the connection failed.
    std::string Connect(int port) {
        socket_.connectToHost(QHostAddress::LocalHost, quint16(port));
        return socket_.waitForConnected(5000) ? ReadLine() : "";
    }
    void Close() { socket_.abort(); }
    // The status line, CR LF included; empty once the server has closed.
    std::string Command(const std::string& line) {
        if (socket_.state() != QAbstractSocket::ConnectedState) return "";
        const std::string data = line + "\r\n";
        socket_.write(data.data(), qint64(data.size()));
        while (socket_.bytesToWrite() > 0 && socket_.waitForBytesWritten(5000)) {
        }
        return ReadLine();
    }
    // A multi-line reply whole, status line to the end line included; what arrived when the
    // server closed or went quiet for five seconds otherwise.
    std::string MultiLine(const std::string& line) {
        std::string reply = Command(line);
        if (!reply.starts_with("2")) return reply;
        while (!reply.ends_with("\r\n.\r\n") && socket_.waitForReadyRead(5000)) {
            reply += socket_.readAll().toStdString();
        }
        return reply;
    }
    // Head, blank line and body, lines ending in LF or CR LF; returns the final status line.
    std::string Post(const std::string& article) {
        const std::string go_ahead = Command("POST");
        if (!go_ahead.starts_with("340")) return go_ahead;
        std::string wire;
        bool line_start = true;
        for (std::size_t i = 0; i < article.size(); ++i) {
            if (line_start && article[i] == '.') wire += '.';
            if (article[i] == '\n' && (i == 0 || article[i - 1] != '\r')) wire += '\r';
            wire += article[i];
            line_start = article[i] == '\n';
        }
        return Command(wire + (line_start ? "." : "\r\n."));
    }

  private:
    std::string ReadLine() {
        while (!socket_.canReadLine() && socket_.waitForReadyRead(5000)) {
        }
        return (socket_.canReadLine() ? socket_.readLine() : socket_.readAll()).toStdString();
    }
    QTcpSocket socket_;
};

}  // namespace quillfin::platform
