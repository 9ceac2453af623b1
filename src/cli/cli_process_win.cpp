// What pellory-cli's main does around a run, on Windows: the console's control events become the
// stop request the signals are on POSIX systems.
#include "cli/cli_process.h"

#include <windows.h>

#include <atomic>

#include "platform/stop_request.h"

namespace pellory::app::cli {

namespace {

// The reasons the stop request is given, as the signals' numbers on POSIX systems, so that the
// exit statuses are the same: 130 for Ctrl-C (SIGINT), 129 for a closed console (SIGHUP).
constexpr int kInterruptReason = 2;
constexpr int kHangUpReason = 1;
// Windows ends the process once the handler of a console close returns, and at the latest some
// 5 s after the event: the handler waits (in steps) at most this long for the program to finish.
constexpr int kCloseWaitMs = 4500;
constexpr DWORD kCloseStepMs = 50;

// True while a SignalWatch lives, that is until main has finished its command.
std::atomic<bool> gWatching{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            platform::RequestStop(kInterruptReason);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            platform::RequestStop(kHangUpReason);
            for (int waited = 0; waited < kCloseWaitMs && gWatching.load(); waited += static_cast<int>(kCloseStepMs)) {
                ::Sleep(kCloseStepMs);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

// The port is a handle on Windows, never one of the standard streams: nothing to occupy.
void OccupyClosedStandardStreams() {}

SignalWatch::SignalWatch() {
    gWatching = true;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

SignalWatch::~SignalWatch() {
    gWatching = false;
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

}  // namespace pellory::app::cli
