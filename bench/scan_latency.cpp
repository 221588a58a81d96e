// A group of 1,000,000 overview lines behind 50 ms of network delay: the scan with one XOVER
// request at a time against requests sent ahead. Usage: scan_latency [lines [latency_ms]]
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scan_session.h"
#include "testserver/nntp_test_server.h"
#include "testserver/sample_data.h"

int main(int argc, char** argv) {
    using namespace quillfin;
    QCoreApplication app(argc, argv);
    constexpr const char* kGroup = "alt.binaries.quillfin.latency";
    constexpr int kBurst = 2000;
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    testserver::ServerOptions options;
    options.latencyMs = argc > 2 ? std::atoi(argv[2]) : 50;
    testserver::NntpTestServer server(options);
    server.WithSpool([&](testserver::NewsSpool& spool) {
        testserver::AddOverviewPostings(spool, kGroup, lines, 20);
    });
    if (!server.Start()) {
        std::fprintf(stderr, "test server: %s\n", server.Error().c_str());
        return 1;
    }
    std::printf("%ld overview lines, sldXOVER %d, %d ms before each reply\n", lines, kBurst,
                options.latencyMs);
    double one = 0;
    for (int inFlight : {1, 8}) {
        char dir_pattern[] = "/tmp/quillfin-bench-XXXXXX";
        const std::string program_dir = ::mkdtemp(dir_pattern);
        const bench::ScanFigures scan =
            bench::ScanSeconds(server.Port(), program_dir, kGroup, kBurst, inFlight);
        std::remove((program_dir + "/OPSLOG.TXT").c_str());
        ::rmdir(program_dir.c_str());
        if (inFlight == 1) one = scan.seconds;
        std::printf("in flight %d: %.2f s (%lld parts, lastRead %s)", inFlight, scan.seconds,
                    static_cast<long long>(scan.parts), scan.last_read.c_str());
        if (inFlight > 1 && scan.seconds > 0) std::printf(", %.1f times faster", one / scan.seconds);
        std::printf("\n");
    }
    return 0;
}
