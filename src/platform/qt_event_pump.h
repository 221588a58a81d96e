#pragma once

#include <QElapsedTimer>

#include "common/event_pump.h"

namespace quillfin::platform {

// Lets the Qt events that are pending run, as the logic's long loops ask for.
class QtEventPump : public common::EventPump {
  public:
    QtEventPump();
    void Pump() override;
    // Runs the events at most every couple of milliseconds: a pass through the event loop
    // costs more than parsing several overview lines, and the window needs no more.
    void PumpIfDue() override;

  private:
    QElapsedTimer since_pump_;
};

}  // namespace quillfin::platform
