#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace quillfin::platform {

// Runs the Qt event loop until done() holds or timeout_ms pass; returns done().
inline bool RunEventsUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
    if (done()) return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);
    check.start(2);
    loop.exec();
    return done();
}

// Runs the event loop for a fixed time, for checks that something does not happen.
inline void RunEventsFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace quillfin::platform
