// Threads, events and time, the same on every OS.
//
// Threads are std::thread underneath. A held start parks the new thread on a condition until
// resume(). The priority hints are the OS's (threads_posix.cpp, threads_win.cpp): each thread
// records who it is to the OS as it starts, so that its priority can be set from outside.
#include "platform/threads.h"

#include "platform/threads_native.h"

#include <atomic>
#include <system_error>

namespace pellory::platform {

namespace {

std::atomic<uint64_t> g_nextThreadId{1};

template <typename Pred>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint32_t timeoutMs, Pred pred) {
    if (timeoutMs == kInfinite) {
        cv.wait(lock, pred);
        return true;
    }
    return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
}

}  // namespace

// --- ManualResetEvent ---

void ManualResetEvent::set() {
    std::lock_guard<std::mutex> lock(m_);
    set_ = true;
    cv_.notify_all();
}

void ManualResetEvent::reset() {
    std::lock_guard<std::mutex> lock(m_);
    set_ = false;
}

bool ManualResetEvent::isSet() const {
    std::lock_guard<std::mutex> lock(m_);
    return set_;
}

bool ManualResetEvent::wait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_);
    return WaitFor(cv_, lock, timeoutMs, [this] { return set_; });
}

// --- Thread ---

struct Thread::State {
    std::mutex m;
    std::condition_variable cv;
    bool held = false;       // waiting for resume()
    bool cancelled = false;  // the owner went away while the thread was held
    bool started = false;    // the thread has recorded its identity
    bool finished = false;
    uint32_t exitCode = 0;
    uint64_t id = 0;
    detail::NativeThread native;  // recorded by the thread itself as it starts
};

Thread::Thread() = default;

Thread::~Thread() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(state_->m);
        state_->cancelled = true;
        state_->cv.notify_all();
    }
    thread_.join();
}

bool Thread::start(std::function<uint32_t()> body, bool startHeld) {
    if (thread_.joinable()) return false;
    auto st = std::make_shared<State>();
    st->held = startHeld;
    st->id = g_nextThreadId.fetch_add(1);
    try {
        thread_ = std::thread([st, fn = std::move(body)] {
            {
                std::unique_lock<std::mutex> lock(st->m);
                st->native = detail::CurrentNativeThread();
                st->started = true;
                st->cv.notify_all();
                st->cv.wait(lock, [&] { return !st->held || st->cancelled; });
                if (st->held) {  // cancelled before resume: the body never runs
                    st->finished = true;
                    st->cv.notify_all();
                    return;
                }
            }
            uint32_t code = 0;
            try {
                code = fn ? fn() : 0;
            } catch (...) {
                code = 0xFFFFFFFFu;  // a body must not throw; its thread ends with this code
            }
            std::lock_guard<std::mutex> lock(st->m);
            st->exitCode = code;
            st->finished = true;
            st->cv.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    state_ = st;
    std::unique_lock<std::mutex> lock(st->m);
    st->cv.wait(lock, [&] { return st->started; });
    return true;
}

void Thread::resume() {
    if (!state_) return;
    std::lock_guard<std::mutex> lock(state_->m);
    state_->held = false;
    state_->cv.notify_all();
}

bool Thread::setPriority(ThreadPriority p) {
    if (!thread_.joinable()) return false;
    detail::NativeThread native;
    {
        std::lock_guard<std::mutex> lock(state_->m);
        if (state_->finished) return false;
        native = state_->native;
    }
    return detail::SetNativePriority(native, thread_, p);
}

bool Thread::join(uint32_t timeoutMs) {
    if (!thread_.joinable()) return true;
    {
        std::unique_lock<std::mutex> lock(state_->m);
        if (!WaitFor(state_->cv, lock, timeoutMs, [this] { return state_->finished; })) return false;
    }
    thread_.join();  // the body has returned: the thread only has its own exit left
    return true;
}

bool Thread::running() const { return thread_.joinable(); }

bool Thread::finished() const {
    if (!state_) return false;
    std::lock_guard<std::mutex> lock(state_->m);
    return state_->finished;
}

uint32_t Thread::exitCode() const {
    if (!state_) return 0;
    std::lock_guard<std::mutex> lock(state_->m);
    return state_->finished ? state_->exitCode : 0;
}

uint64_t Thread::id() const { return thread_.joinable() ? state_->id : 0; }

// --- time ---

uint32_t TickCount() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace pellory::platform
