#include "app/qt_notify.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <chrono>

namespace pellory::app {

// What the target and the receiver's event taker share. Everything is guarded by mutex; the
// taker clears it all when the receiver destroys it, the target when it is detached or destroyed.
struct QtNotifyTarget::State {
    std::mutex mutex;
    bool live = false;
    Handler handler;
    QObject* receiver = nullptr;
    QObject* taker = nullptr;
};

namespace {

// A child of the receiver that takes the link events and calls the handler. It dies with the
// receiver, which marks the target dead before the receiver's other children and the receiver
// itself are gone.
class EventTaker : public QObject {
public:
    EventTaker(QObject* receiver, std::shared_ptr<QtNotifyTarget::State> state)
        : QObject(receiver), state_(std::move(state)) {}

    ~EventTaker() override {
        QtNotifyTarget::Handler dropped;
        {
            std::lock_guard lock(state_->mutex);
            if (state_->taker == this) {
                state_->live = false;
                state_->taker = nullptr;
                state_->receiver = nullptr;
                dropped = std::move(state_->handler);
            }
        }
        // The handler (and what it holds) goes here, outside the lock.
    }

    bool event(QEvent* e) override {
        if (e->type() != LinkMessageEvent::EventType()) return QObject::event(e);
        const auto* m = static_cast<const LinkMessageEvent*>(e);
        QtNotifyTarget::Handler handler;
        {
            std::lock_guard lock(state_->mutex);
            if (!state_->live || state_->taker != this) return true;  // dropped
            handler = state_->handler;
        }
        // A copy, so that the handler may detach or destroy the target while it runs.
        if (handler) handler(m->message, m->wParam, m->lParam);
        return true;
    }

private:
    std::shared_ptr<QtNotifyTarget::State> state_;
};

}  // namespace

// --- SendCompletion ---

void SendCompletion::Finish() {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    cv_.notify_all();
}

bool SendCompletion::WaitFor(uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done_; });
}

bool SendCompletion::Done() const {
    std::lock_guard lock(mutex_);
    return done_;
}

// --- LinkMessageEvent ---

QEvent::Type LinkMessageEvent::EventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

LinkMessageEvent::LinkMessageEvent(uint32_t msg, uintptr_t w, intptr_t l,
                                   std::shared_ptr<SendCompletion> completion)
    : QEvent(EventType()), message(msg), wParam(w), lParam(l), completion_(std::move(completion)) {}

LinkMessageEvent::~LinkMessageEvent() {
    if (completion_) completion_->Finish();
}

// --- QtNotifyTarget ---

std::shared_ptr<QtNotifyTarget> QtNotifyTarget::Create(QObject* receiver, Handler handler) {
    auto state = std::make_shared<State>();
    if (receiver != nullptr) {
        state->receiver = receiver;
        state->handler = std::move(handler);
        state->taker = new EventTaker(receiver, state);
        state->live = true;
    }
    return std::shared_ptr<QtNotifyTarget>(new QtNotifyTarget(std::move(state)));
}

QtNotifyTarget::QtNotifyTarget(std::shared_ptr<State> state) : state_(std::move(state)) {}

QtNotifyTarget::~QtNotifyTarget() {
    Handler dropped;
    std::lock_guard lock(state_->mutex);
    state_->live = false;
    QObject* taker = state_->taker;
    state_->taker = nullptr;
    state_->receiver = nullptr;
    dropped = std::move(state_->handler);
    // Later, since the last owner may let go from inside the handler; and under the lock, so
    // that the receiver cannot finish destroying the taker meanwhile. Queued events are dropped
    // with it (the taker no longer counts as the target's).
    if (taker != nullptr) taker->deleteLater();
}

bool QtNotifyTarget::IsLive() const {
    std::lock_guard lock(state_->mutex);
    return state_->live;
}

QObject* QtNotifyTarget::Receiver() const {
    std::lock_guard lock(state_->mutex);
    return state_->live ? state_->receiver : nullptr;
}

void QtNotifyTarget::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard lock(state_->mutex);
    if (!state_->live) return;
    QCoreApplication::postEvent(state_->taker, new LinkMessageEvent(message, wParam, lParam));
}

void QtNotifyTarget::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    auto completion = std::make_shared<SendCompletion>();
    Handler direct;
    bool onReceiverThread = false;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->live) return;
        onReceiverThread = state_->taker->thread() == QThread::currentThread();
        if (onReceiverThread) {
            direct = state_->handler;
        } else {
            QCoreApplication::postEvent(state_->taker,
                                        new LinkMessageEvent(message, wParam, lParam, completion));
        }
    }
    if (onReceiverThread) {
        if (direct) direct(message, wParam, lParam);
        return;
    }
    // The event completes when the receiver has handled it, or when it is dropped because the
    // receiver went away; a dead target ends the wait in any case.
    while (!completion->WaitFor(kSendCheckMs)) {
        if (!IsLive()) return;
    }
}

void QtNotifyTarget::Detach() {
    Handler dropped;
    {
        std::lock_guard lock(state_->mutex);
        state_->live = false;
        state_->receiver = nullptr;
        dropped = std::move(state_->handler);
        if (state_->taker != nullptr) {
            // Later, since Detach may be called from the handler, inside the taker's event().
            state_->taker->deleteLater();
            state_->taker = nullptr;
        }
    }
}

}  // namespace pellory::app
