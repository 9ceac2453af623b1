// The Qt side of a link's notifications: a NotifyTarget that turns Post and Send into events for a
// window, so that a link's worker thread can tell the window thread that something happened.
//
// A target is made for one receiver QObject (a window or a page) and a handler function. It gives
// the receiver a small child object that takes the events and calls the handler on the
// receiver's thread with the message number, wParam and lParam. The target is live while the
// receiver exists and Detach has not been called; a dead target posts nothing, and events still
// queued when it dies are dropped without calling the handler. So a worker thread can never reach
// a window that is gone: the live flag is guarded by a mutex that every Post holds while it posts.
//
// Typical use, on the window thread:
//     notify_ = QtNotifyTarget::Create(this, [this](uint32_t m, uintptr_t w, intptr_t l) {
//         OnLinkMessage(m, w, l);
//     });
//     link.SetNotifyTarget(notify_);
//     ...
//     // in the window's destructor, before its links go:
//     notify_->Detach();
#pragma once

#include <QEvent>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "link/notify.h"

class QObject;

namespace pellory::app {

// Completion of one Send: set when its event has been handled or dropped.
class SendCompletion {
public:
    void Finish();
    // Waits up to timeoutMs for the completion; true when it has happened.
    bool WaitFor(uint32_t timeoutMs);
    bool Done() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
};

// The event a target posts: one link message. Deleting it (handled or dropped) completes the
// Send it belongs to, if any.
class LinkMessageEvent : public QEvent {
public:
    // The event type, registered with Qt once per process.
    static QEvent::Type EventType();

    LinkMessageEvent(uint32_t message, uintptr_t wParam, intptr_t lParam,
                     std::shared_ptr<SendCompletion> completion = nullptr);
    ~LinkMessageEvent() override;
    LinkMessageEvent(const LinkMessageEvent&) = delete;
    LinkMessageEvent& operator=(const LinkMessageEvent&) = delete;

    const uint32_t message;
    const uintptr_t wParam;
    const intptr_t lParam;

private:
    std::shared_ptr<SendCompletion> completion_;
};

class QtNotifyTarget : public link::NotifyTarget {
public:
    using Handler = std::function<void(uint32_t message, uintptr_t wParam, intptr_t lParam)>;

    // How long a blocked Send sleeps between checks that its target is still live.
    static constexpr uint32_t kSendCheckMs = 20;

    // Makes a target for receiver (which must live on the calling thread). The handler runs on
    // the receiver's thread, once per message, in the order the messages were posted.
    static std::shared_ptr<QtNotifyTarget> Create(QObject* receiver, Handler handler);

    ~QtNotifyTarget() override;
    QtNotifyTarget(const QtNotifyTarget&) = delete;
    QtNotifyTarget& operator=(const QtNotifyTarget&) = delete;

    // link::NotifyTarget
    bool IsLive() const override;
    // Queues the message for the receiver's thread; nothing when the target is dead.
    void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    // On the receiver's thread: calls the handler at once. On any other thread: queues the
    // message and waits until the receiver has handled it, or until the target dies (the event
    // is then dropped) or the application goes away, whichever comes first.
    void Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // Marks the target dead and forgets the handler: nothing posted before or after reaches the
    // receiver. The receiver calls it on its own thread, at the start of its destructor.
    void Detach();

    // The receiver, or null once the target is dead.
    QObject* Receiver() const;

    struct State;

private:
    explicit QtNotifyTarget(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
};

}  // namespace pellory::app
