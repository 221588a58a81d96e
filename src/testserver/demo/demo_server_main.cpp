// Serves a spool directory, or a generated sample data set, on a loopback port until stopped:
//   quillfin_demo_server [--port N] [--dir DIRECTORY | --sample] [--overview GROUP COUNT]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "testserver/nntp_test_server.h"
#include "testserver/sample_data.h"
#include "testserver/spool_directory.h"

using namespace quillfin::testserver;

int main(int argc, char** argv) {
    int port = 1119;
    std::string directory;
    std::string overview_group;
    long long overview_count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        } else if (arg == "--dir" && i + 1 < argc) {
            directory = argv[++i];
        } else if (arg == "--sample") {
            directory.clear();
        } else if (arg == "--overview" && i + 2 < argc) {
            overview_group = argv[++i];
            overview_count = std::atoll(argv[++i]);
        } else {
            std::fprintf(stderr,
                         "usage: %s [--port N] [--dir DIRECTORY | --sample] "
                         "[--overview GROUP COUNT]\n",
                         argv[0]);
            return 2;
        }
    }

    // Block the stop signals before the server's threads start, so only sigwait sees them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    NntpTestServer server;
    bool loaded = true;
    server.WithSpool([&](NewsSpool& spool) {
        if (directory.empty()) {
            AddSampleData(spool);
        } else {
            std::string error;
            const int count = LoadSpoolDirectory(directory, spool, &error);
            if (count < 0) {
                std::fprintf(stderr, "%s\n", error.c_str());
                loaded = false;
            } else {
                std::printf("%d articles loaded from %s\n", count, directory.c_str());
            }
        }
        if (overview_count > 0) AddOverviewPostings(spool, overview_group, overview_count);
    });
    if (!loaded) return 1;
    if (!server.Start(port)) {
        std::fprintf(stderr, "cannot listen: %s\n", server.Error().c_str());
        return 1;
    }
    std::printf("NNTP demo server on 127.0.0.1:%d\n", server.Port());
    std::fflush(stdout);
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    server.Stop();
    return 0;
}
