// A batch of one 200 MB yEnc posting in articles of about 750 KB and 50 small postings, served
// by the local test server and fetched and decoded by the program through the Qt sockets.
// Against it: a plain client that sends GROUP and ARTICLE for the same articles, reads each
// reply to its end line and writes it to a file, then the uudeview tool decoding those files.
// Prints the times, the growth of resident memory during the batch (the program runs in a child
// process, apart from the server) and the longest time the event loop went unserved, with what
// the status line said around each stall over 50 ms. Usage: download_decode [rounds]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/program.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_socket.h"
#include "platform/qt_timer.h"
#include "quiet_program.h"
#include "testserver/binary_encoders.h"
#include "testserver/nntp_test_server.h"

namespace {

using namespace quillfin;
using namespace quillfin::bench;
namespace fs = std::filesystem;

constexpr const char* kGroup = "alt.binaries.quillfin.bench";
constexpr std::size_t kBigSize = 200'000'000;
constexpr std::size_t kArticleSize = 750'000;
constexpr int kSmallPostings = 50;

struct Original {
    std::string name;
    std::string bytes;
};

// The peak resident size since the last ResetPeak, from the kernel's own count.
double PeakResidentMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) return std::atof(line.c_str() + 6) / 1000.0 * 1.024;
    }
    return 0;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Fills the spool; returns the originals and the article numbers in posting order.
std::vector<Original> FillSpool(testserver::NntpTestServer& server,
                                std::vector<std::int64_t>* numbers) {
    std::vector<Original> originals;
    std::vector<std::pair<std::string, std::string>> articles;  // subject, body
    {
        Original big{"holiday-video.mkv", RandomBytes(kBigSize, 1)};
        // Parts sized so that each encoded article is about 750 KB.
        const int parts = int((kBigSize * 102 / 100 + kArticleSize - 1) / kArticleSize);
        const auto bodies = testserver::YencParts(big.name, big.bytes, parts);
        for (std::size_t i = 0; i < bodies.size(); ++i) {
            articles.push_back({"[1/" + std::to_string(kSmallPostings + 1) + "] - \"" + big.name +
                                    "\" yEnc (" + std::to_string(i + 1) + "/" +
                                    std::to_string(bodies.size()) + ")",
                                bodies[i]});
        }
        originals.push_back(std::move(big));
    }
    for (int k = 0; k < kSmallPostings; ++k) {
        // Between 20 and 120 KB; every other one uuencoded in two parts.
        const bool uu = k % 2 == 1;
        Original small{"extra-" + std::to_string(k) + (uu ? ".nfo" : ".jpg"),
                       RandomBytes(20000 + std::size_t(k) * 2000, 100 + std::uint64_t(k))};
        const auto bodies = uu ? testserver::UuencodeParts(small.name, small.bytes, 2)
                               : testserver::YencParts(small.name, small.bytes, 1);
        for (std::size_t i = 0; i < bodies.size(); ++i) {
            const std::string n = std::to_string(i + 1) + "/" + std::to_string(bodies.size());
            articles.push_back({uu ? small.name + " (" + n + ")"
                                   : "[" + std::to_string(k + 2) + "/51] - \"" + small.name +
                                         "\" yEnc (" + n + ")",
                                bodies[i]});
        }
        originals.push_back(std::move(small));
    }
    server.WithSpool([&](testserver::NewsSpool& spool) {
        for (auto& [subject, body] : articles) {
            testserver::TestArticle article;
            article.subject = subject;
            article.body = std::move(body);
            numbers->push_back(spool.AddArticle(kGroup, std::move(article)));
        }
    });
    return originals;
}

// Reads until the reply's end line, looking for it only in the newly arrived tail.
bool ReadReply(int fd, bool multi_line, std::string& buffer) {
    buffer.clear();
    const char* end = multi_line ? "\r\n.\r\n" : "\r\n";
    const std::size_t end_size = multi_line ? 5 : 2;
    static char chunk[1 << 16];
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

int EqualFiles(const std::string& folder, const std::vector<Original>& originals);

struct PlainFigures {
    double fetch = 0, write = 0, decode = 0;
    double Total() const { return fetch + write + decode; }
};

// The article as a file for uudeview: without NNTP's dot-stuffing and end line.
void WriteArticle(const std::string& reply, const std::string& path) {
    std::string text;
    text.reserve(reply.size());
    std::size_t at = 0;
    while (at < reply.size()) {
        std::size_t end = reply.find("\r\n", at);
        const std::size_t next = end == std::string::npos ? reply.size() : end + 2;
        if (next - at == 3 && reply[at] == '.') break;
        at += reply[at] == '.' && at + 1 < reply.size() && reply[at + 1] == '.' ? 1 : 0;
        text.append(reply, at, next - at);
        at = next;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

// Fetches every article, writes each to a file, then decodes them all with uudeview.
PlainFigures PlainClient(int port, const std::vector<std::int64_t>& numbers, const std::string& dir,
                         int* decoded_ok, const std::vector<Original>& originals) {
    PlainFigures figures;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        ::close(fd);
        return figures;
    }
    std::string buffer;
    ReadReply(fd, false, buffer);
    QElapsedTimer clock;
    clock.start();
    SendLine(fd, std::string("GROUP ") + kGroup);
    ReadReply(fd, false, buffer);
    const std::string in = dir + "/articles";
    fs::create_directories(in);
    double write_ns = 0;
    for (std::int64_t number : numbers) {
        SendLine(fd, "ARTICLE " + std::to_string(number));
        if (!ReadReply(fd, true, buffer)) break;
        QElapsedTimer writing;
        writing.start();
        WriteArticle(buffer, in + "/" + std::to_string(number));
        write_ns += double(writing.nsecsElapsed());
    }
    figures.fetch = (double(clock.nsecsElapsed()) - write_ns) / 1e9;
    figures.write = write_ns / 1e9;
    SendLine(fd, "QUIT");
    ::close(fd);

    const std::string out = dir + "/decoded";
    fs::create_directories(out);
    const std::string command =
        "uudeview -i -o -m -q -n -p '" + out + "/' '" + in + "'/* >/dev/null 2>&1";
    clock.restart();
    const int status = std::system(command.c_str());
    figures.decode = double(clock.nsecsElapsed()) / 1e9;
    if (status != 0) std::fprintf(stderr, "uudeview exited with %d\n", status);
    *decoded_ok = EqualFiles(out, originals);
    return figures;
}

struct BatchFigures {
    double seconds = 0;
    double longest_gap_ms = 0;
    double rss_growth_mb = 0;   // the highest sample during the batch, less the start
    double peak_growth_mb = 0;  // the kernel's peak, less the start
    int decoded_ok = 0;
    int postings = 0;
};

// Runs in a child process of its own, so that its memory is the program's alone; the parent
// checks the files it leaves in dir/downloads.
BatchFigures ProgramBatch(int port, const std::string& dir) {
    BatchFigures figures;
    common::SystemClock clock;
    platform::QtEventPump pump;
    SilentPrompts prompts;
    NoWindows windows;
    NoSounds sounds;
    platform::QtSocket tcp1, tcp2;
    platform::QtTimer timerbot1, timerbot2, timer1;
    {
        app::Program program(
            dir, {clock, pump, prompts, windows, sounds, tcp1, timerbot1, tcp2, timerbot2, timer1});
        program.settings.News_Host = "127.0.0.1";
        program.settings.News_Port = std::to_string(port);
        program.settings.sldXOVER = 2000;
        program.settings.chkAutodownload = 0;
        program.settings.chkAutoExpire = 0;
        program.settings.chkMakeSubDirs = 0;
        program.settings.Download_Path = dir + "/downloads";
        fs::create_directories(program.settings.Download_Path);
        program.groups.AddGroup(kGroup);
        program.views.FillGroupFilter();

        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (!program.scan.Driving() && program.view.cmdScanEnabled &&
                tcp1.GetState() == nntp::Socket::kClosed && program.table.HeaderCount() > 0)
                loop.quit();
        });
        check.start(1);
        program.connections.ConnectScan();
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
        check.stop();
        for (std::int32_t i = 1; i <= program.table.HeaderCount(); ++i) program.batch.AddToBatch(i);
        figures.postings = program.batch.Rows().Count();

        QElapsedTimer since_tick, elapsed;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        const double start_mb = ResidentMegabytes();
        double highest_mb = start_mb;
        int ticks = 0;
        std::string status_before;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const double gap = double(since_tick.nsecsElapsed()) / 1e6;
            figures.longest_gap_ms = std::max(figures.longest_gap_ms, gap);
            // What the status line said around a long stall tells where it was spent.
            const std::string status = program.log.StatusLine();
            if (gap > 50)
                std::fprintf(stderr, "stall %.0f ms at %.2f s: \"%s\" then \"%s\"\n", gap,
                             double(elapsed.nsecsElapsed()) / 1e9, status_before.c_str(),
                             status.c_str());
            status_before = status;
            since_tick.restart();
            if (++ticks % 10 == 0) highest_mb = std::max(highest_mb, ResidentMegabytes());
        });
        QEventLoop batch_loop;
        QTimer done;
        QObject::connect(&done, &QTimer::timeout, [&] {
            const auto& s = program.session;
            if (program.batch.Rows().Count() == 0 && s.DownloadBusy == 0 && s.DownloadState == 0)
                batch_loop.quit();
        });
        QTimer::singleShot(600000, &batch_loop, &QEventLoop::quit);
        ResetPeak();
        elapsed.start();
        since_tick.start();
        probe.start(1);
        done.start(1);
        program.BatchStartCommand();
        batch_loop.exec();
        figures.seconds = double(elapsed.nsecsElapsed()) / 1e9;
        probe.stop();
        figures.rss_growth_mb = std::max(highest_mb, ResidentMegabytes()) - start_mb;
        figures.peak_growth_mb = PeakResidentMegabytes() - start_mb;
    }
    tcp1.Close();
    tcp2.Close();
    return figures;
}

int EqualFiles(const std::string& folder, const std::vector<Original>& originals) {
    int equal = 0;
    for (const Original& o : originals) {
        std::ifstream file(folder + "/" + o.name, std::ios::binary);
        const std::string got((std::istreambuf_iterator<char>(file)), {});
        if (got == o.bytes) ++equal;
    }
    return equal;
}

BatchFigures ProgramBatchInChild(int port, const std::vector<Original>& originals) {
    BatchFigures figures;
    const std::string dir = MakeFolder("qf-dl");
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {"--batch", QString::number(port), QString::fromStdString(dir)});
    child.waitForFinished(900000);
    const QByteArray out = child.readAllStandardOutput();
    if (std::sscanf(out.constData(), "%lf %lf %lf %lf %d", &figures.seconds,
                    &figures.longest_gap_ms, &figures.rss_growth_mb, &figures.peak_growth_mb,
                    &figures.postings) != 5)
        std::fprintf(stderr, "batch child printed: %s\n", out.constData());
    figures.decoded_ok = EqualFiles(dir + "/downloads", originals);
    fs::remove_all(dir);
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc == 4 && std::string(argv[1]) == "--batch") {
        const BatchFigures f = ProgramBatch(std::atoi(argv[2]), argv[3]);
        std::printf("%.3f %.1f %.1f %.1f %d\n", f.seconds, f.longest_gap_ms, f.rss_growth_mb,
                    f.peak_growth_mb, f.postings);
        return 0;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    if (std::system("command -v uudeview >/dev/null 2>&1") != 0) {
        std::fprintf(stderr, "uudeview is not installed (Debian package uudeview)\n");
        return 1;
    }
    testserver::NntpTestServer server;
    std::vector<std::int64_t> numbers;
    const std::vector<Original> originals = FillSpool(server, &numbers);
    if (!server.Start()) {
        std::fprintf(stderr, "test server: %s\n", server.Error().c_str());
        return 1;
    }
    std::printf("articles served: %zu (one %zu MB yEnc posting, %d small postings)\n",
                numbers.size(), kBigSize / 1000000, kSmallPostings);
    PlainFigures best_plain;
    BatchFigures best_batch;
    best_plain.fetch = best_plain.write = best_plain.decode = 1e9;
    best_batch.seconds = 1e9;
    double worst_gap = 0, worst_growth = 0, worst_peak = 0, best_fetch = 1e9;
    for (int round = 1; round <= rounds; ++round) {
        const std::string dir = MakeFolder("qf-dl");
        int plain_ok = 0;
        const PlainFigures plain = PlainClient(server.Port(), numbers, dir, &plain_ok, originals);
        fs::remove_all(dir);
        const BatchFigures batch = ProgramBatchInChild(server.Port(), originals);
        std::printf(
            "round %d: plain fetch %.2f s + write %.2f s + uudeview %.2f s = %.2f s (%d/%zu "
            "files equal); program batch %.2f s (%d postings, %d/%zu files equal), ratio %.2f, "
            "resident growth %.1f MB (kernel peak %.1f MB), longest stall %.1f ms\n",
            round, plain.fetch, plain.write, plain.decode, plain.Total(), plain_ok,
            originals.size(), batch.seconds, batch.postings, batch.decoded_ok, originals.size(),
            batch.seconds / plain.Total(), batch.rss_growth_mb, batch.peak_growth_mb,
            batch.longest_gap_ms);
        std::fflush(stdout);
        if (plain.Total() < best_plain.Total()) best_plain = plain;
        best_fetch = std::min(best_fetch, plain.fetch);
        best_batch.seconds = std::min(best_batch.seconds, batch.seconds);
        worst_gap = std::max(worst_gap, batch.longest_gap_ms);
        worst_growth = std::max(worst_growth, batch.rss_growth_mb);
        worst_peak = std::max(worst_peak, batch.peak_growth_mb);
    }
    std::printf("best plain client + uudeview:  %.2f s\n", best_plain.Total());
    std::printf("best program batch:            %.2f s\n", best_batch.seconds);
    std::printf("batch / (client + uudeview):   %.2f (target <= 1.25)\n",
                best_batch.seconds / best_plain.Total());
    // The network alone: what the program's whole batch, decoding included, is measured by.
    std::printf("batch / plain fetch: %.2f (target <= 1.5; plain fetch alone %.2f s)\n",
                best_batch.seconds / best_fetch, best_fetch);
    std::printf(
        "largest resident growth:       %.1f MB sampled, %.1f MB kernel peak (target < 64)\n",
        worst_growth, worst_peak);
    std::printf("longest event-loop stall:      %.1f ms (target < 50)\n", worst_gap);
    return 0;
}
