#pragma once

namespace quillfin::common {

// "Let pending events run." Long loops call it so the window repaints and the user's Stop
// reaches them; in tests it is a no-op or a scripted hook.
class EventPump {
  public:
    virtual ~EventPump() = default;
    virtual void Pump() = 0;
    // For tight loops that only need the window to stay responsive: may skip the pump when
    // events ran a moment ago.
    virtual void PumpIfDue() { Pump(); }
};

class NoEventPump : public EventPump {
  public:
    void Pump() override {}
};

}  // namespace quillfin::common
