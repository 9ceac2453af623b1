// The window's signal closer on POSIX systems: SIGTERM, SIGINT and SIGHUP write a byte to a pipe
// that the event loop watches.
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>

#include "app/pellory_app.h"

namespace pellory::app {

namespace {

constexpr std::array<int, 3> kCloseSignals = {SIGTERM, SIGINT, SIGHUP};

// The pipe's write end for the signal handler; -1 while no SignalCloser lives.
std::atomic<int> signalPipeWrite{-1};
struct sigaction previousActions[kCloseSignals.size()];

extern "C" void OnCloseSignal(int) {
    // Only async-signal-safe calls here: one write, errno kept.
    const int saved = errno;
    const int fd = signalPipeWrite.load();
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

SignalCloser::SignalCloser(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
    if (signalPipeWrite.load() >= 0) return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    readFd_ = fds[0];
    signalPipeWrite.store(fds[1]);
    notifier_ = std::make_unique<QSocketNotifier>(readFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        char buffer[64];
        while (::read(readFd_, buffer, sizeof buffer) > 0) {
        }
        if (onSignal_) onSignal_();
    });
    for (size_t i = 0; i < kCloseSignals.size(); ++i) {
        struct sigaction action {};
        action.sa_handler = OnCloseSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(kCloseSignals[i], &action, &previousActions[i]);
    }
    active_ = true;
}

SignalCloser::~SignalCloser() {
    if (!active_) return;
    // The handlers go first, so that none writes to a closed pipe.
    for (size_t i = 0; i < kCloseSignals.size(); ++i) sigaction(kCloseSignals[i], &previousActions[i], nullptr);
    notifier_.reset();
    const int writeFd = signalPipeWrite.exchange(-1);
    ::close(writeFd);
    ::close(readFd_);
}

}  // namespace pellory::app
