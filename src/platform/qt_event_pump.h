#pragma once

#include "common/event_pump.h"

namespace quillfin::platform {

// Lets the Qt events that are pending run, as the logic's long loops ask for.
class QtEventPump : public common::EventPump {
  public:
    void Pump() override;
};

}  // namespace quillfin::platform
