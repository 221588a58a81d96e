#pragma once

#include <memory>

#include "nntp/socket.h"

class QTimer;

namespace quillfin::platform {

// nntp::Timer over QTimer: ticks on the event loop of the thread that created it.
class QtTimer : public nntp::Timer {
  public:
    QtTimer();
    ~QtTimer() override;
    QtTimer(const QtTimer&) = delete;
    QtTimer& operator=(const QtTimer&) = delete;

    // 0 (or less) stops it; a new interval restarts the count, the same one leaves it running.
    void SetInterval(int milliseconds) override;
    int Interval() const override;

  private:
    QTimer* timer_;
    int interval_ = 0;
};

}  // namespace quillfin::platform
