#include "platform/qt_timer.h"

#include <QTimer>

namespace quillfin::platform {

QtTimer::QtTimer() : timer_(new QTimer) {
    QObject::connect(timer_, &QTimer::timeout, timer_, [this] {
        if (onTick) onTick();
    });
}

QtTimer::~QtTimer() {
    timer_->disconnect();
    timer_->stop();
    // May be destroyed from inside its own tick.
    timer_->deleteLater();
}

void QtTimer::SetInterval(int milliseconds) {
    if (milliseconds <= 0) {
        interval_ = 0;
        timer_->stop();
        return;
    }
    if (milliseconds == interval_ && timer_->isActive()) return;
    interval_ = milliseconds;
    timer_->start(milliseconds);
}

int QtTimer::Interval() const { return interval_; }

}  // namespace quillfin::platform
