#pragma once

// The program without windows on real Qt sockets and timers, for benchmarks that run it whole.
#include <memory>
#include <string>

#include "app/program.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_socket.h"
#include "platform/qt_timer.h"
#include "quiet_program.h"

namespace quillfin::bench {

struct BenchProgram {
    explicit BenchProgram(const std::string& dir)
        : program(dir, {clock, pump, prompts, windows, sounds, tcp1, timerbot1, tcp2, timerbot2,
                        timer1}) {
        program.download.SetPoolPlatform(
            {[]() -> std::unique_ptr<nntp::Socket> {
                 return std::make_unique<platform::QtSocket>();
             },
             []() -> std::unique_ptr<nntp::Timer> {
                 return std::make_unique<platform::QtTimer>();
             }});
    }
    ~BenchProgram() {
        tcp1.Close();
        tcp2.Close();
    }

    common::SystemClock clock;
    platform::QtEventPump pump;
    SilentPrompts prompts;
    NoWindows windows;
    NoSounds sounds;
    platform::QtSocket tcp1, tcp2;
    platform::QtTimer timerbot1, timerbot2, timer1;
    app::Program program;
};

}  // namespace quillfin::bench
