// The time that the timed rules of the threaded parts go by (the printer server's idle end and
// idle time-out, the job recorder's stop time and its writers' time bound, the link's reply and
// probe waits), passed in so that a test can move it instead of sleeping through it.
//
// RealClock() is std::chrono::steady_clock, and the default everywhere. A ManualClock stands
// still until advanced; advancing it ends the waits whose deadline it reaches and calls the
// watchers (a loop that waits in poll() on its descriptors has its wake-up written), so that
// what was waiting acts at once, on its own thread.
//
// Every wait here is bounded in real time as well: a ManualClock's waiter looks again at least
// every kManualStepMs, so no wake-up can be lost and no thread waits unbounded on a clock that is
// never advanced (it still watches its own run flag through ready()).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

namespace pellory::platform {

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    // Keeps a watcher registered until destroyed (watch()).
    class Watch {
    public:
        virtual ~Watch() = default;
    };

    virtual ~Clock() = default;

    virtual TimePoint now() const = 0;
    // Waits on cv, with lock held as for cv.wait(), until ready() holds or this clock reaches
    // deadline, whichever is first; true when ready() holds. ready() is called with lock held.
    // Spurious wake-ups are taken care of; cv may be notified by others as ever.
    virtual bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, TimePoint deadline,
                           const std::function<bool()>& ready) = 0;
    // Waits without a condition until this clock reaches deadline, or stop() holds (looked at
    // least every stepMs of real time). True when the deadline was reached.
    virtual bool sleepUntil(TimePoint deadline, const std::function<bool()>& stop, uint32_t stepMs = 20) = 0;
    // The real time, in milliseconds (0 to limitMs), that a wait this clock cannot end itself
    // (poll() on descriptors) may last at most to end no later than deadline. A ManualClock wakes
    // such a wait through watch() instead, and answers the same as the real clock would for its
    // own time.
    int realWaitMs(TimePoint deadline, int limitMs) const;
    // Calls wake (from the thread that moves the clock) whenever this clock's time moves other
    // than by passing, until the returned Watch is destroyed; wake must not wait. The real clock
    // never calls it.
    virtual std::unique_ptr<Watch> watch(std::function<void()> wake) = 0;

    // The same waits with a span instead of a deadline.
    bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, Duration span,
                 const std::function<bool()>& ready) {
        return waitUntil(cv, lock, now() + span, ready);
    }
};

// The process-wide steady clock.
std::shared_ptr<Clock> RealClock();

// A clock that moves only when advanced; it starts at the real clock's time of its making (any
// start would do; a real one keeps time points of both comparable in logs).
class ManualClock final : public Clock {
public:
    // How often (real milliseconds) a waiter on a ManualClock looks at it again at most.
    static constexpr uint32_t kManualStepMs = 10;

    ManualClock();
    ~ManualClock() override;

    TimePoint now() const override;
    bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, TimePoint deadline,
                   const std::function<bool()>& ready) override;
    bool sleepUntil(TimePoint deadline, const std::function<bool()>& stop, uint32_t stepMs = 20) override;
    std::unique_ptr<Watch> watch(std::function<void()> wake) override;

    // Moves the time on by span (not back: a negative span does nothing), then ends the waits it
    // reached and calls every watcher. Any thread.
    void advance(Duration span);
    // The waits on this clock under way now (waitUntil and sleepUntil): a test waits for a thread
    // to be waiting before it advances.
    size_t waiters() const;

private:
    struct Shared;
    class Registered;
    std::shared_ptr<Shared> shared_;
};

}  // namespace pellory::platform
