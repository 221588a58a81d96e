// The host newsgroup list against the test server: LIST of 120,000 groups fetched through the
// Qt socket and saved to HOSTGRPS.TXT, beside a plain client reading the same reply; a
// "Contains:" search over the list driven a slice per event-loop turn, with the longest time
// the loop went unserved; and header expiry over a million parts after a GROUP reply.
// Prints figures only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/clock.h"
#include "common/main_view_state.h"
#include "headers/header_maintenance.h"
#include "headers/header_views.h"
#include "hostgroups/host_groups.h"
#include "nntp/connections.h"
#include "nntp/session_values.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_socket.h"
#include "storage/activity_log.h"
#include "storage/group_list.h"
#include "testserver/nntp_test_server.h"

namespace {

using namespace quillfin;

constexpr int kGroups = 120000;

struct NoPrompts : common::Prompts {
    void Message(const std::string&, const std::string&) override {}
    bool AskYesNo(const std::string&, const std::string&) override { return true; }
};

struct NoWindows : nntp::Windows {
    void ShowLoginDialog() override {}
    void HideLoginDialog() override {}
    void ShowOptionsNewsgroupsTab() override {}
    void ShowAddNewsgroupDialog() override {}
};

double Seconds(const QElapsedTimer& timer) { return double(timer.nsecsElapsed()) / 1e9; }

// Greeting, LIST, and the reply read to its end line (looked for in the new tail only).
double PlainClientSeconds(int port, std::size_t* bytes) {
    QElapsedTimer timer;
    timer.start();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    std::string reply;
    char chunk[1 << 16];
    bool listed = false;
    for (;;) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        const std::size_t from = reply.size() >= 4 ? reply.size() - 4 : 0;
        reply.append(chunk, std::size_t(n));
        if (!listed && reply.find("\r\n") != std::string::npos) {
            listed = true;
            reply.clear();
            ::send(fd, "LIST\r\n", 6, MSG_NOSIGNAL);
        } else if (listed && reply.find("\r\n.\r\n", from) != std::string::npos) {
            break;
        }
    }
    ::send(fd, "QUIT\r\n", 6, MSG_NOSIGNAL);
    *bytes = reply.size();
    ::close(fd);
    return Seconds(timer);
}

// A 1 ms timer stands for the window's own events: the longest gap between its ticks is how
// long the event loop went unserved.
struct GapProbe {
    GapProbe() {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            longest_ms = std::max(longest_ms, double(since.nsecsElapsed()) / 1e6);
            since.restart();
        });
        since.start();
        timer.start(1);
    }
    QTimer timer;
    QElapsedTimer since;
    double longest_ms = 0;
};

void RunUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) loop.quit();
    });
    check.start(1);
    QTimer::singleShot(300000, &loop, &QEventLoop::quit);
    loop.exec();
}

void HostList(int port, const std::string& dir) {
    storage::Settings settings;
    settings.News_Host = "127.0.0.1";
    settings.News_Port = std::to_string(port);
    common::SystemClock clock;
    storage::ActivityLog log(settings, clock, dir);
    NoPrompts prompts;
    NoWindows windows;
    storage::GroupList groups(dir, prompts);
    common::MainViewState view;
    nntp::SessionValues session;
    platform::QtEventPump pump;
    nntp::Connections connections(session, settings, groups, log, view, prompts, windows, pump);
    hostgroups::HostGroups host(connections, groups, clock, dir);
    platform::QtSocket socket;
    host.AttachSocket(&socket);
    host.Open();

    QElapsedTimer timer;
    timer.start();
    host.cmdGetHostGroups_Click();
    RunUntil([&] { return host.View().panel1.starts_with("Download complete"); });
    const double fetch = Seconds(timer);
    std::size_t plain_bytes = 0;
    const double plain = PlainClientSeconds(port, &plain_bytes);
    std::printf("LIST of %d groups:            %zu bytes, file %zu bytes\n", kGroups,
                host.Buffer().size(), std::size_t(std::filesystem::file_size(host.FilePath())));
    std::printf("fetch + save through QtSocket: %.3f s\n", fetch);
    std::printf("plain client, same reply:      %.3f s (%zu bytes); ratio %.2f\n", plain,
                plain_bytes, fetch / plain);

    for (const char* query : {"group11", "zzz-not-there", ""}) {
        GapProbe probe;
        QTimer slices;
        double longest_slice_ms = 0;
        QObject::connect(&slices, &QTimer::timeout, [&] {
            QElapsedTimer slice;
            slice.start();
            if (!host.ContinueSearch()) slices.stop();
            longest_slice_ms = std::max(longest_slice_ms, double(slice.nsecsElapsed()) / 1e6);
        });
        timer.restart();
        host.QueryCommand(query, hostgroups::HostGroups::Mode::kContains);
        slices.start(0);
        RunUntil([&] { return !host.Searching(); });
        std::printf(
            "Contains: \"%s\": %.3f s, %d rows, %zu lines looked at (target < 0.5 s); "
            "longest event-loop gap %.1f ms (target < 50), longest slice %.1f ms\n",
            query, Seconds(timer), host.Rows().Count(), host.Search().LinesExamined(),
            probe.longest_ms, longest_slice_ms);
    }
}

void Expiry(const std::string& dir) {
    storage::Settings settings;
    common::SystemClock clock;
    storage::ActivityLog log(settings, clock, dir);
    headers::HeaderTable table(log);
    std::vector<storage::GroupEntry> groups;
    common::NoEventPump pump;
    headers::HeaderViews views(table, settings, groups, pump);
    common::MainViewState view;
    NoPrompts prompts;
    headers::HeaderMaintenance maintenance(table, views, settings, view, prompts, pump);
    // 20,000 postings of 50 parts: a million parts, numbered upward through the group.
    headers::HeaderEntryList entries;
    std::int64_t number = 3000000000LL;
    for (int i = 0; i < 20000; ++i) {
        headers::HeaderEntry entry;
        entry.Subject = "posting " + std::to_string(i) + " (01/50)";
        entry.Group = "alt.binaries.bench";
        entry.PartTotal = 50;
        for (int p = 0; p < 50; ++p) {
            headers::PartRef& part = entry.Parts.emplace_back();
            part.ArticleNumber = std::to_string(number++);
            part.Group = entry.Group;
        }
        entries.push_back(std::move(entry));
    }
    table.Replace(std::move(entries));
    views.FillGroupFilter();
    for (std::int64_t first : {3000000000LL, 3000000000LL + 100000, 3000000000LL + 500000}) {
        QElapsedTimer timer;
        timer.start();
        maintenance.AutoExpire("alt.binaries.bench", std::to_string(first));
        std::printf("expiry over 1,000,000 parts, first %lld: %.1f ms (target < 100), %s\n",
                    static_cast<long long>(first), double(timer.nsecsElapsed()) / 1e6,
                    log.StatusLine().c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testserver::NntpTestServer server;
    server.WithSpool([](testserver::NewsSpool& spool) {
        for (int i = 0; i < kGroups; ++i)
            spool.AddGroup("alt.bench.group" + std::to_string(i), 1 + i % 5000);
    });
    if (!server.Start()) {
        std::fprintf(stderr, "test server: %s\n", server.Error().c_str());
        return 1;
    }
    char pattern[] = "/tmp/quillfin-bench-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    HostList(server.Port(), dir);
    Expiry(dir);
    std::filesystem::remove_all(dir);
    return 0;
}
