#include "platform/qt_event_pump.h"

#include <QCoreApplication>

namespace quillfin::platform {

namespace {
constexpr qint64 kDueAfterNanoseconds = 2'000'000;
}

QtEventPump::QtEventPump() { since_pump_.start(); }

void QtEventPump::Pump() {
    QCoreApplication::processEvents();
    since_pump_.restart();
}

void QtEventPump::PumpIfDue() {
    if (since_pump_.nsecsElapsed() >= kDueAfterNanoseconds) Pump();
}

}  // namespace quillfin::platform
