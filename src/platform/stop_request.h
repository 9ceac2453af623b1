// The process-wide request to stop: set when the program is asked to end (the command line sets
// it when SIGINT, SIGTERM or SIGHUP arrives). The long waits above the platform layer (the
// engine's wait for queued bytes, a port scan, the command line's own loops) watch it and end
// early, so that the program can still close its port as it always does and then exit.
//
// Setting it only stores into a lock-free atomic: safe from a signal handler or any thread.
#pragma once

#include <atomic>

namespace pellory::platform {

namespace detail {
inline std::atomic<int> gStopReason{0};
static_assert(std::atomic<int>::is_always_lock_free, "the stop request is set from signal context");
}  // namespace detail

// Asks everything to stop; reason (non-zero, e.g. the signal number) is kept. The first
// request wins: later ones do not change the reason.
inline void RequestStop(int reason) {
    int none = 0;
    detail::gStopReason.compare_exchange_strong(none, reason == 0 ? -1 : reason);
}

inline bool StopRequested() { return detail::gStopReason.load() != 0; }

// The reason of the first request; 0 when none was made.
inline int StopReason() { return detail::gStopReason.load(); }

// Withdraws the request (for a program that goes on after handling it, and for tests).
inline void ClearStopRequest() { detail::gStopReason.store(0); }

}  // namespace pellory::platform
