#pragma once

// What the benchmarks that run the whole program without windows give it: message boxes that
// answer Yes at once, windows that are never shown, sounds that are never played, and a fresh
// folder to keep its files in.
#include <stdlib.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "app/program.h"

namespace quillfin::bench {

struct SilentPrompts : common::Prompts {
    void Message(const std::string&, const std::string&) override {}
    bool AskYesNo(const std::string&, const std::string&) override { return true; }
};

struct NoWindows : app::ProgramWindows {
    void ShowLoginDialog() override {}
    void HideLoginDialog() override {}
    void ShowOptionsNewsgroupsTab() override {}
    void ShowAddNewsgroupDialog() override {}
    void ShowFolderPicker() override {}
    void HideOptionsWindow() override {}
    void HideMainWindow() override {}
    void EndProcess() override {}
};

struct NoSounds : nntp::SoundPlayer {
    void Play(const std::string&) override {}
};

// Bytes that do not compress, the same for the same seed.
inline std::string RandomBytes(std::size_t size, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::string out(size, '\0');
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint64_t word = random();
        std::memcpy(out.data() + i, &word, 8);
    }
    for (; i < size; ++i) out[i] = char(random());
    return out;
}

inline double ResidentMegabytes() {
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / 1e6;
}

// A new folder under the system's temporary folder; prefix names it.
inline std::string MakeFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    return ::mkdtemp(pattern.data());
}

// Runs the event loop until done() holds, checked every poll_ms, or the seconds have passed.
inline bool RunUntil(const std::function<bool()>& done, int seconds, int poll_ms = 5) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    check.start(poll_ms);
    loop.exec();
    return done();
}

}  // namespace quillfin::bench
