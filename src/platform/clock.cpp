#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace pellory::platform {

namespace {

class SteadyClock final : public Clock {
public:
    class NoWatch final : public Watch {};

    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, TimePoint deadline,
                   const std::function<bool()>& ready) override {
        return cv.wait_until(lock, deadline, ready);
    }
    bool sleepUntil(TimePoint deadline, const std::function<bool()>& stop, uint32_t stepMs) override {
        const auto step = std::chrono::milliseconds(std::max<uint32_t>(stepMs, 1));
        for (;;) {
            if (stop && stop()) return now() >= deadline;
            const TimePoint t = now();
            if (t >= deadline) return true;
            std::this_thread::sleep_for(std::min<Duration>(deadline - t, step));
        }
    }
    std::unique_ptr<Watch> watch(std::function<void()>) override { return std::make_unique<NoWatch>(); }
};

}  // namespace

int Clock::realWaitMs(TimePoint deadline, int limitMs) const {
    const auto left = deadline - now();
    if (left <= Duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, std::max(limitMs, 0)));
}

std::shared_ptr<Clock> RealClock() {
    static const std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>();
    return clock;
}

// The waiters and watchers of a ManualClock. Two locks, so that a watcher's wake (which may take
// a lock of its owner) never runs under the lock a waiter takes while it holds its own.
struct ManualClock::Shared {
    std::atomic<Duration::rep> ticks{0};  // the time since the epoch of steady_clock, in its ticks
    mutable std::mutex waitMutex;
    std::list<std::condition_variable*> waiting;  // guarded by waitMutex
    std::mutex watchMutex;
    std::list<std::function<void()>> watchers;  // guarded by watchMutex; each called under it
};

class ManualClock::Registered final : public Watch {
public:
    Registered(std::shared_ptr<Shared> shared, std::list<std::function<void()>>::iterator it)
        : shared_(std::move(shared)), it_(it) {}
    ~Registered() override {
        std::lock_guard<std::mutex> lock(shared_->watchMutex);
        shared_->watchers.erase(it_);
    }

private:
    std::shared_ptr<Shared> shared_;
    std::list<std::function<void()>>::iterator it_;
};

ManualClock::ManualClock() : shared_(std::make_shared<Shared>()) {
    shared_->ticks = std::chrono::steady_clock::now().time_since_epoch().count();
}

ManualClock::~ManualClock() = default;

Clock::TimePoint ManualClock::now() const { return TimePoint(Duration(shared_->ticks.load())); }

bool ManualClock::waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, TimePoint deadline,
                            const std::function<bool()>& ready) {
    std::list<std::condition_variable*>::iterator entry;
    {
        std::lock_guard<std::mutex> w(shared_->waitMutex);
        entry = shared_->waiting.insert(shared_->waiting.end(), &cv);
    }
    bool result = false;
    for (;;) {
        if (ready()) {
            result = true;
            break;
        }
        if (now() >= deadline) break;
        // Bounded: an advance that notified between the look above and this wait is seen in
        // at most one step.
        cv.wait_for(lock, std::chrono::milliseconds(kManualStepMs));
    }
    std::lock_guard<std::mutex> w(shared_->waitMutex);
    shared_->waiting.erase(entry);
    return result;
}

bool ManualClock::sleepUntil(TimePoint deadline, const std::function<bool()>& stop, uint32_t) {
    std::mutex m;
    std::condition_variable cv;
    std::unique_lock<std::mutex> lock(m);
    waitUntil(cv, lock, deadline, [&] { return stop && stop(); });
    return now() >= deadline;
}

std::unique_ptr<Clock::Watch> ManualClock::watch(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(shared_->watchMutex);
    auto it = shared_->watchers.insert(shared_->watchers.end(), std::move(wake));
    return std::make_unique<Registered>(shared_, it);
}

void ManualClock::advance(Duration span) {
    if (span > Duration::zero()) shared_->ticks.fetch_add(span.count());
    {
        std::lock_guard<std::mutex> lock(shared_->waitMutex);
        for (std::condition_variable* cv : shared_->waiting) cv->notify_all();
    }
    std::lock_guard<std::mutex> lock(shared_->watchMutex);
    for (const auto& wake : shared_->watchers) wake();
}

size_t ManualClock::waiters() const {
    std::lock_guard<std::mutex> lock(shared_->waitMutex);
    return shared_->waiting.size();
}

}  // namespace pellory::platform
