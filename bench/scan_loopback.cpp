// One group of 200,000 overview lines served over loopback by the test server: a scan through
// the Qt socket with sldXOVER 2000, against a plain client that sends the same GROUP and XOVER
// requests and only reads each reply to its end line. Prints both times, their ratio, and the
// longest time the event loop went unserved during the scan.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scan_session.h"
#include "testserver/nntp_test_server.h"
#include "testserver/sample_data.h"

namespace {

using namespace quillfin;

constexpr const char* kGroup = "alt.binaries.quillfin.bench";
constexpr long kArticles = 200000;
constexpr int kBurst = 2000;

// Reads until the reply's end line, looking for it only in the newly arrived tail.
bool ReadReply(int fd, bool multi_line, std::string& buffer) {
    buffer.clear();
    const char* end = multi_line ? "\r\n.\r\n" : "\r\n";
    const std::size_t end_size = multi_line ? 5 : 2;
    char chunk[1 << 16];
    for (;;) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        const std::size_t from = buffer.size() >= end_size ? buffer.size() - end_size + 1 : 0;
        buffer.append(chunk, std::size_t(n));
        if (buffer.find(end, from) != std::string::npos) return true;
    }
}

bool SendLine(int fd, const std::string& line) {
    const std::string data = line + "\r\n";
    return ::send(fd, data.data(), data.size(), MSG_NOSIGNAL) == ssize_t(data.size());
}

// The requests the scan makes: GROUP, then XOVER lastRead-(lastRead+burst) until a burst
// brings nothing new.
double PlainClientSeconds(int port, long* lines_read) {
    QElapsedTimer clock;
    clock.start();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        !ReadReply(fd, false, reply) || !SendLine(fd, std::string("GROUP ") + kGroup) ||
        !ReadReply(fd, false, reply)) {
        std::fprintf(stderr, "plain client: no server\n");
        ::close(fd);
        return -1;
    }
    *lines_read = 0;
    long last_read = 0;
    long previous = -1;
    while (last_read != previous) {
        previous = last_read;
        SendLine(fd,
                 "XOVER " + std::to_string(last_read) + "-" + std::to_string(last_read + kBurst));
        if (!ReadReply(fd, true, reply)) break;
        const long lines = long(std::count(reply.begin(), reply.end(), '\n')) - 2;
        *lines_read += std::max(lines, 0L);
        if (lines > 0) last_read = std::min(last_read + kBurst, kArticles);
    }
    SendLine(fd, "QUIT");
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    ::close(fd);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testserver::NntpTestServer server;
    server.WithSpool([](testserver::NewsSpool& spool) {
        testserver::AddOverviewPostings(
            spool, kGroup, kArticles, std::getenv("PARTS") ? std::atoi(std::getenv("PARTS")) : 20);
    });
    if (!server.Start()) {
        std::fprintf(stderr, "test server: %s\n", server.Error().c_str());
        return 1;
    }
    char dir_pattern[] = "/tmp/quillfin-bench-XXXXXX";
    const std::string program_dir = ::mkdtemp(dir_pattern);

    long plain_lines = 0;
    const double plain_first = PlainClientSeconds(server.Port(), &plain_lines);
    const bench::ScanFigures scan = bench::ScanSeconds(server.Port(), program_dir, kGroup, kBurst);
    const double plain_second = PlainClientSeconds(server.Port(), &plain_lines);
    const double plain = std::min(plain_first, plain_second);
    std::remove((program_dir + "/OPSLOG.TXT").c_str());
    ::rmdir(program_dir.c_str());

    std::printf("overview lines served:        %ld (sldXOVER %d)\n", kArticles, kBurst);
    std::printf("plain client:                 %.3f s, %.3f s (%ld lines read)\n", plain_first,
                plain_second, plain_lines);
    std::printf("scan through QtSocket:        %.3f s (%d postings, %lld parts, lastRead %s)\n",
                scan.seconds, scan.postings, static_cast<long long>(scan.parts),
                scan.last_read.c_str());
    std::printf("page faults during the scan:  %ld (both threads)\n", scan.page_faults);
    std::printf("resident memory grown:        %.1f MB, %.0f bytes per part\n",
                scan.resident_bytes / 1e6,
                scan.parts > 0 ? scan.resident_bytes / double(scan.parts) : 0.0);
    std::printf("scan / plain:                 %.2f (target <= 1.5)\n", scan.seconds / plain);
    std::printf("longest event-loop gap:       %.1f ms (target < 50); %ld pumps by the logic\n",
                scan.longest_gap_ms, scan.pumps);
    return 0;
}
