#pragma once

// What the tests against the local INN2 reader (scripts/inn2-start) share: its port, and the
// group numbers as a fresh reader sees them.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/raw_nntp_client.h"

namespace quillfin::platform {

inline int Inn2Port() {
    const char* env_port = std::getenv("QUILLFIN_INN2_PORT");
    return env_port != nullptr && std::atoi(env_port) > 0 ? std::atoi(env_port) : 1120;
}

// Under CI a missing INN2 is a failure; elsewhere the test is skipped.
inline bool Inn2Required() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

struct GroupNumbers {
    long count = -1, first = 0, last = 0;  // count -1: no such group
};

inline GroupNumbers GroupOf(RawNntpClient& client, const std::string& group) {
    GroupNumbers n;
    const std::string reply = client.Command("GROUP " + group);
    const bool found =
        std::sscanf(reply.c_str(), "211 %ld %ld %ld", &n.count, &n.first, &n.last) == 3;
    return found ? n : GroupNumbers{};
}

// Asks on a new connection each time: an nnrpd process keeps the spool's group map it loaded and
// misses a group whose first article was filed in the same second as its last reload.
inline GroupNumbers GroupSeenAfresh(int port, const std::string& group) {
    RawNntpClient reader;
    return reader.Connect(port).starts_with("200") ? GroupOf(reader, group) : GroupNumbers{};
}

// What a new reader sees once the group and `last` show (or, failing that, after a bounded wait).
inline GroupNumbers WaitForLast(int port, const std::string& group, long last) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    GroupNumbers seen = GroupSeenAfresh(port, group);
    const auto shown = [&] { return seen.count >= 0 && seen.last >= last; };
    while (!shown() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        seen = GroupSeenAfresh(port, group);
    }
    return seen;
}

}  // namespace quillfin::platform
