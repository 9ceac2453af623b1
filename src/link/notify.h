// How a link tells the rest of the program what happened, without knowing any window system.
//
// A NotifyTarget stands for a window: the link asks whether it is still live, then posts (or
// sends) a message number with wParam and lParam. A ThreadTarget stands for a thread's message
// queue. The Qt side implements both by posting events to the window thread.
#pragma once

#include <cstdint>
#include <memory>

namespace pellory::link {

class NotifyTarget {
public:
    virtual ~NotifyTarget() = default;
    // Whether the window behind this target still exists.
    virtual bool IsLive() const = 0;
    // Queues the message for the window's thread and returns at once. Thread-safe.
    virtual void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
    // Delivers the message and waits until the window has handled it. Thread-safe.
    virtual void Send(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

class ThreadTarget {
public:
    virtual ~ThreadTarget() = default;
    virtual void PostToThread(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

using NotifyTargetPtr = std::shared_ptr<NotifyTarget>;
using ThreadTargetPtr = std::shared_ptr<ThreadTarget>;

}  // namespace pellory::link
