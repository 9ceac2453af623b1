// How a link tells the rest of the program what happened, without knowing any window system.
//
// A NotifyTarget stands for a window: the link asks whether it is still live, then posts (or
// sends) a message number with wParam and lParam. A ThreadTarget stands for a thread's message
// queue. The Qt side implements both by posting events to the window thread.
//
// The message numbers are the link's (MSG_LINK_* in serial_engine.h). Most repeat while their
// condition lasts (received bytes, line changes); MSG_LINK_REMOVED, the device went away, is
// posted once per opening of the link, whichever worker notices first, so a target that shows
// it to the user shows it once.
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
