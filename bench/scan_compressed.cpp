// A scan by the program (no windows) with compression off and on: against the local test
// server serving one group of binary-looking overview lines (100,000 by default), and against
// the INN2 reader on QUILLFIN_INN2_PORT (default 1120) when one answers, over its groups.
// Prints per server: bytes on the wire: plain P, compressed C, ratio R, and both scan times.
// Usage: scan_compressed [articles]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_program.h"
#include "testserver/nntp_test_server.h"

namespace {

using namespace quillfin;
using namespace quillfin::bench;
namespace fs = std::filesystem;

struct Figures {
    std::uint64_t wire = 0;
    std::uint64_t plain = 0;
    double seconds = 0;
    std::int32_t headers = 0;
};

Figures Scan(int port, const std::vector<std::string>& groups, bool compress) {
    Figures figures;
    const std::string dir = MakeFolder("qf-zscan");
    {
        BenchProgram bench(dir);
        app::Program& program = bench.program;
        auto& s = program.settings;
        s.News_Host = "127.0.0.1";
        s.News_Port = std::to_string(port);
        s.sldXOVER = 2000;
        s.chkAutodownload = 0;
        s.chkAutoExpire = 0;
        s.NewGroupHeaders = 0;
        s.chkCompress = compress ? 1 : 0;
        for (const std::string& group : groups) program.groups.AddGroup(group);
        program.views.FillGroupFilter();
        QElapsedTimer elapsed;
        elapsed.start();
        program.connections.ConnectScan();
        RunUntil(
            [&] {
                return !program.scan.Driving() && program.view.cmdScanEnabled &&
                       !program.session.Scanning;
            },
            600, 1);
        figures.seconds = double(elapsed.nsecsElapsed()) / 1e9;
        figures.wire = program.scan_socket.WireBytesIn();
        figures.plain = program.scan_socket.PlainBytesIn();
        figures.headers = program.table.HeaderCount();
    }
    fs::remove_all(dir);
    return figures;
}

void Compare(const char* server, int port, const std::vector<std::string>& groups) {
    const Figures plain = Scan(port, groups, false);
    if (plain.wire == 0) {
        std::printf("%s: nothing answered on 127.0.0.1:%d\n", server, port);
        return;
    }
    const Figures packed = Scan(port, groups, true);
    std::printf(
        "%s: bytes on the wire: plain %llu, compressed %llu, ratio %.2f; scan %.2f s plain, "
        "%.2f s compressed (%d postings each%s)\n",
        server, static_cast<unsigned long long>(plain.wire),
        static_cast<unsigned long long>(packed.wire),
        packed.wire > 0 ? double(plain.wire) / double(packed.wire) : 0.0, plain.seconds,
        packed.seconds, packed.headers,
        plain.headers == packed.headers && packed.plain == plain.plain ? ", same replies"
                                                                       : ", REPLIES DIFFER");
    std::fflush(stdout);
}

// Overview lines as binary groups have them: long subjects of numbered parts, a few posters,
// unique message-IDs, sizes near 700 KB.
void Fill(testserver::NntpTestServer& server, const char* group, long articles) {
    std::mt19937_64 random(11);
    const char* words[] = {"Holiday", "Video", "Archive", "Backup", "Collection", "Concert",
                           "Documentary", "Series", "Photos", "Mix", "Live", "Remastered"};
    server.WithSpool([&](testserver::NewsSpool& spool) {
        long done = 0;
        for (int posting = 0; done < articles; ++posting) {
            const int parts = 20 + int(random() % 80);
            std::string name = std::string(words[random() % 12]) + "." + words[random() % 12] +
                               "." + std::to_string(2000 + random() % 27) + ".1080p-" +
                               std::to_string(random() % 100000);
            const std::string poster = "poster" + std::to_string(random() % 40) +
                                       " <p" + std::to_string(random() % 40) + "@example.net>";
            const std::string file = "[" + std::to_string(posting % 50 + 1) + "/50] - \"" +
                                     name + ".part" + std::to_string(posting % 50 + 1) +
                                     ".rar\" yEnc (";
            for (int part = 1; part <= parts && done < articles; ++part, ++done) {
                testserver::TestArticle a;
                a.subject = file + std::to_string(part) + "/" + std::to_string(parts) + ")";
                a.from = poster;
                a.messageId = "<" + std::to_string(random()) + "$" + std::to_string(part) +
                              "@news.example.net>";
                a.bytes = 700000 + std::int64_t(random() % 40000);
                a.lines = 5400 + std::int64_t(random() % 300);
                spool.AddArticle(group, std::move(a));
            }
        }
    });
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const long articles = argc > 1 ? std::atol(argv[1]) : 100000;
    testserver::ServerOptions options;
    options.offerCompression = true;
    testserver::NntpTestServer server(options);
    const char* group = "alt.binaries.quillfin.bench";
    Fill(server, group, articles);
    if (!server.Start()) {
        std::fprintf(stderr, "test server: %s\n", server.Error().c_str());
        return 1;
    }
    Compare("test server", server.Port(), {group});
    const char* inn2 = std::getenv("QUILLFIN_INN2_PORT");
    Compare("INN2", inn2 != nullptr ? std::atoi(inn2) : 1120,
            {"alt.binaries.quillfin.test", "alt.binaries.quillfin.yenc",
             "alt.binaries.quillfin.faults"});
    return 0;
}
