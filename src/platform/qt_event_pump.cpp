#include "platform/qt_event_pump.h"

#include <QCoreApplication>

namespace quillfin::platform {

void QtEventPump::Pump() { QCoreApplication::processEvents(); }

}  // namespace quillfin::platform
