// Thread priorities on Windows: SetThreadPriority on the thread's id.
#include "platform/threads_native.h"

#include <windows.h>

namespace pellory::platform {

namespace detail {

NativeThread CurrentNativeThread() {
    NativeThread native;
    native.id = static_cast<int64_t>(::GetCurrentThreadId());
    return native;
}

bool SetNativePriority(const NativeThread& native, std::thread&, ThreadPriority p) {
    HANDLE h = ::OpenThread(THREAD_SET_INFORMATION | THREAD_QUERY_INFORMATION, FALSE, static_cast<DWORD>(native.id));
    if (!h) return false;
    const bool ok = ::SetThreadPriority(h, p == ThreadPriority::AboveNormal ? THREAD_PRIORITY_ABOVE_NORMAL
                                                                            : THREAD_PRIORITY_NORMAL) != 0;
    ::CloseHandle(h);
    return ok;
}

}  // namespace detail

bool LowerCurrentThreadPriority() {
    // Background work gives way to the threads that answer at once: two steps below where it
    // runs now, at most down to the lowest priority of a normal thread.
    const int now = ::GetThreadPriority(::GetCurrentThread());
    if (now == THREAD_PRIORITY_ERROR_RETURN) return false;
    const int target = now - 2 < THREAD_PRIORITY_LOWEST ? THREAD_PRIORITY_LOWEST : now - 2;
    return ::SetThreadPriority(::GetCurrentThread(), target) != 0;
}

}  // namespace pellory::platform
