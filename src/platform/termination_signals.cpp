#include "platform/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace quillfin::platform {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
int pipe_ends[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // Nothing else is safe here; a full pipe already holds a wake-up.
    [[maybe_unused]] ssize_t written = ::write(pipe_ends[1], &byte, 1);
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal)
    : on_signal_(std::move(onSignal)) {
    if (pipe_ends[0] >= 0 || ::pipe2(pipe_ends, O_NONBLOCK | O_CLOEXEC) != 0) return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals) ::sigaction(signal, &action, nullptr);
    notifier_ = std::make_unique<QSocketNotifier>(pipe_ends[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        char bytes[16];
        while (::read(pipe_ends[0], bytes, sizeof bytes) > 0) {
        }
        if (on_signal_) on_signal_();
    });
}

TerminationSignals::~TerminationSignals() {
    if (notifier_ == nullptr) return;
    for (int signal : kSignals) std::signal(signal, SIG_DFL);
    notifier_.reset();
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
    pipe_ends[0] = pipe_ends[1] = -1;
}

}  // namespace quillfin::platform
