// The OS's side of the threads of threads.h (platform-internal): who a thread is to the OS and
// its priority. One implementation per OS: threads_posix.cpp, threads_win.cpp.
#pragma once

#include <cstdint>
#include <thread>

#include "platform/threads.h"

namespace pellory::platform::detail {

// What a thread records about itself as it starts: on Linux its kernel thread id and the nice
// value it started with, on Windows its thread id; unused elsewhere.
struct NativeThread {
    int64_t id = 0;
    int startNice = 0;
};

// Called on the new thread itself.
NativeThread CurrentNativeThread();

// Sets the priority of the running thread that native describes (thread is its std::thread);
// false when the OS refused.
bool SetNativePriority(const NativeThread& native, std::thread& thread, ThreadPriority p);

}  // namespace pellory::platform::detail
