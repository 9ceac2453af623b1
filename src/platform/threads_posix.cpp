// Thread priorities on POSIX systems: the thread's nice value on Linux (per-thread there) and
// the scheduling parameters elsewhere.
#include "platform/threads_native.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <cerrno>

namespace pellory::platform {

namespace {

// How much a thread of priority AboveNormal is favoured over its start value, in nice steps.
constexpr int kAboveNormalBoost = 2;
constexpr int kHighestNice = -20;
// How much background work (LowerCurrentThreadPriority) gives way, in nice steps.
constexpr int kBackgroundNiceSteps = 10;

}  // namespace

namespace detail {

NativeThread CurrentNativeThread() {
    NativeThread native;
#if defined(__linux__)
    const auto tid = static_cast<pid_t>(::syscall(SYS_gettid));
    native.id = tid;
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    native.startNice = errno == 0 ? nice : 0;
#endif
    return native;
}

bool SetNativePriority(const NativeThread& native, std::thread& thread, ThreadPriority p) {
#if defined(__linux__)
    (void)thread;
    int target = native.startNice;
    if (p == ThreadPriority::AboveNormal) target = std::max(kHighestNice, target - kAboveNormalBoost);
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(native.id), target) == 0;
#else
    (void)native;
    int policy = 0;
    sched_param param{};
    pthread_t handle = thread.native_handle();
    if (pthread_getschedparam(handle, &policy, &param) != 0) return false;
    const int lo = sched_get_priority_min(policy);
    const int hi = sched_get_priority_max(policy);
    if (lo < 0 || hi < 0) return false;
    param.sched_priority = p == ThreadPriority::AboveNormal ? (lo + hi + 1) / 2 + (hi - lo) / 4 : (lo + hi) / 2;
    return pthread_setschedparam(handle, policy, &param) == 0;
#endif
}

}  // namespace detail

bool LowerCurrentThreadPriority() {
#if defined(__linux__)
    // The nice value is per thread on Linux; raising it needs no privilege.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, tid);
    if (now == -1 && errno != 0) return false;
    return ::setpriority(PRIO_PROCESS, tid, std::min(19, now + kBackgroundNiceSteps)) == 0;
#else
    sched_param param{};
    int policy = 0;
    if (pthread_getschedparam(pthread_self(), &policy, &param) != 0) return false;
    param.sched_priority = sched_get_priority_min(policy);
    return pthread_setschedparam(pthread_self(), policy, &param) == 0;
#endif
}

}  // namespace pellory::platform
