#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace quillfin::platform {

// SIGTERM, SIGHUP and SIGINT as events of the event loop: the handler only writes a byte to
// a pipe, and the loop reads it and calls onSignal, so the program ends through its own close
// path (headers, settings and lists saved) instead of dying with them unsaved. One instance;
// the destructor gives the signals their default actions back.
class TerminationSignals {
  public:
    explicit TerminationSignals(std::function<void()> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the pipe or the handlers could not be set up; the signals then end the
    // program as before.
    bool Installed() const { return notifier_ != nullptr; }

  private:
    std::function<void()> on_signal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace quillfin::platform
