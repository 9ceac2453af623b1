#include "cli/cli_process.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/stop_request.h"

namespace pellory::app::cli {

namespace {

// Sent by the destructor to the watcher alone, to end its wait.
constexpr int kWakeSignal = SIGUSR2;

sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP, kWakeSignal}) sigaddset(&set, s);
    return set;
}

}  // namespace

void OccupyClosedStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is fd itself, since those below it are open by now.
        const int opened = ::open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY));
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

SignalWatch::SignalWatch() {
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = WatchedSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    watcher_ = std::thread([set] {
        for (;;) {
            int number = 0;
            if (::sigwait(&set, &number) != 0) continue;
            if (number == kWakeSignal) return;
            platform::RequestStop(number);
        }
    });
}

SignalWatch::~SignalWatch() {
    if (!watcher_.joinable()) return;
    ::pthread_kill(watcher_.native_handle(), kWakeSignal);
    watcher_.join();
}

}  // namespace pellory::app::cli
