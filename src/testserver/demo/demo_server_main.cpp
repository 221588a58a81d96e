// Serves a spool directory, or a generated sample data set, on a loopback port until stopped:
//   quillfin_demo_server [--port N] [--dir DIRECTORY | --sample] [--overview GROUP COUNT]
//                        [--stall COMMAND]...
// (--stall: the first COMMAND, such as XOVER or ARTICLE, gets no answer, so the program's
// watchdog and restart can be watched) or prepares a program directory for the sample data set on that port, and exits:
//   quillfin_demo_server --write-program-dir DIRECTORY [--port N]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "testserver/demo_program_dir.h"
#include "testserver/nntp_test_server.h"
#include "testserver/sample_data.h"
#include "testserver/spool_directory.h"

using namespace quillfin::testserver;

namespace {

// A port number 0..65535 (0: any free port), or false.
bool ParsePort(const char* text, int* port) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 65535) return false;
    *port = int(value);
    return true;
}

int WriteProgramDir(const std::string& dir, int port) {
    if (port <= 0) {
        std::fprintf(stderr, "--write-program-dir needs the server's --port\n");
        return 2;
    }
    std::vector<std::string> report;
    std::string error;
    const bool ok =
        PrepareDemoProgramDirectory(dir, "127.0.0.1", port, SampleGroups(), &report, &error);
    for (const std::string& line : report) std::printf("%s\n", line.c_str());
    if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 1119;
    std::string directory;
    std::string program_dir;
    std::string overview_group;
    long long overview_count = 0;
    std::vector<std::string> stalls;
    bool usage = false;
    for (int i = 1; i < argc && !usage; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            usage = !ParsePort(argv[++i], &port);
        } else if (arg == "--dir" && i + 1 < argc) {
            directory = argv[++i];
        } else if (arg == "--sample") {
            directory.clear();
        } else if (arg == "--write-program-dir" && i + 1 < argc) {
            program_dir = argv[++i];
        } else if (arg == "--stall" && i + 1 < argc) {
            stalls.push_back(argv[++i]);
        } else if (arg == "--overview" && i + 2 < argc) {
            overview_group = argv[++i];
            overview_count = std::atoll(argv[++i]);
        } else {
            usage = true;
        }
    }
    if (usage) {
        std::fprintf(stderr,
                     "usage: %s [--port N] [--dir DIRECTORY | --sample] [--overview GROUP COUNT]\n"
                     "          [--stall COMMAND]...\n"
                     "       %s --write-program-dir DIRECTORY --port N\n",
                     argv[0], argv[0]);
        return 2;
    }
    if (!program_dir.empty()) return WriteProgramDir(program_dir, port);

    // Block the stop signals before the server's threads start, so only sigwait sees them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGHUP);
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
    for (const std::string& command : stalls) {
        ReplyRule stall;
        stall.command = command;
        stall.uses = 1;
        stall.silent = true;
        server.AddRule(stall);
    }
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
