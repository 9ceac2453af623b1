// The clock that timed rules go by: a manual clock's waits end when it is advanced to their
// deadline (and only then), its watchers hear every advance, and the real clock's waits end by
// themselves.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/clock.h"

namespace pellory::platform {
namespace {

using namespace std::chrono_literals;

// Waits (real time, generously) for the clock to have n waiters.
bool WaitForWaiters(const ManualClock& clock, size_t n) {
    for (int i = 0; i < 1000 && clock.waiters() < n; ++i) std::this_thread::sleep_for(5ms);
    return clock.waiters() >= n;
}

struct WaitCase {
    const char* what;
    Clock::Duration deadline;  // from the clock's now when the wait begins
    Clock::Duration advance;   // how far the test moves the clock, in one step
    bool readyBefore;          // the condition turns true (and is notified) before the advance
    bool ends;                 // the wait ends after the advance
    bool result;               // what the wait returns, once it ended
};

const WaitCase kWaits[] = {
    {"advanced past the deadline", 60s, 61s, false, true, false},
    {"advanced exactly to the deadline", 60s, 60s, false, true, false},
    {"advanced short of the deadline", 60s, 59s, false, false, false},
    {"not advanced at all", 60s, 0s, false, false, false},
    {"the condition comes first", 60s, 0s, true, true, true},
    {"a deadline already passed", -1s, 0s, false, true, false},
};

TEST(ManualClock, WaitsEndWhenTheClockReachesTheirDeadlineOrTheConditionHolds) {
    for (const WaitCase& c : kWaits) {
        SCOPED_TRACE(c.what);
        ManualClock clock;
        std::mutex m;
        std::condition_variable cv;
        bool ready = false;
        const Clock::TimePoint deadline = clock.now() + c.deadline;
        std::atomic<bool> stop{false};
        auto waiting = std::async(std::launch::async, [&] {
            std::unique_lock<std::mutex> lock(m);
            // Ends in any case once the test gives up on it (stop), so the test never hangs.
            return clock.waitUntil(cv, lock, deadline, [&] { return ready || stop.load(); });
        });
        if (c.deadline > 0s) {
            ASSERT_TRUE(WaitForWaiters(clock, 1));
        }
        if (c.readyBefore) {
            std::lock_guard<std::mutex> lock(m);
            ready = true;
            cv.notify_all();
        }
        clock.advance(c.advance);
        const bool ended = waiting.wait_for(c.ends ? 10s : 300ms) == std::future_status::ready;
        EXPECT_EQ(ended, c.ends);
        stop = true;
        const bool result = waiting.get();
        if (c.ends) {
            EXPECT_EQ(result, c.result);
        }
        EXPECT_EQ(clock.waiters(), 0u);
    }
}

TEST(ManualClock, StandsStillUntilAdvancedAndNeverGoesBack) {
    ManualClock clock;
    const Clock::TimePoint t0 = clock.now();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(clock.now(), t0);
    clock.advance(1500ms);
    EXPECT_EQ(clock.now() - t0, 1500ms);
    clock.advance(-1s);
    EXPECT_EQ(clock.now() - t0, 1500ms);
    EXPECT_EQ(clock.realWaitMs(t0 + 1600ms, 1000), 100);
    EXPECT_EQ(clock.realWaitMs(t0 + 1h, 1000), 1000);
    EXPECT_EQ(clock.realWaitMs(t0, 1000), 0);
}

TEST(ManualClock, WatchersHearEveryAdvanceUntilTheirWatchEnds) {
    ManualClock clock;
    std::atomic<int> a{0};
    std::atomic<int> b{0};
    auto watchA = clock.watch([&] { ++a; });
    {
        auto watchB = clock.watch([&] { ++b; });
        clock.advance(1s);
        clock.advance(0s);
    }
    clock.advance(1s);
    EXPECT_EQ(a.load(), 3);
    EXPECT_EQ(b.load(), 2);
}

TEST(ManualClock, SleepEndsAtItsDeadlineOrWhenItsStopHolds) {
    ManualClock clock;
    std::atomic<bool> stop{false};
    std::atomic<bool> giveUp{false};  // ends a sleep that the clock failed to end
    const auto sleep = [&] {
        return std::async(std::launch::async, [&] {
            return clock.sleepUntil(clock.now() + 5s, [&] { return stop.load() || giveUp.load(); });
        });
    };
    auto sleeping = sleep();
    EXPECT_TRUE(WaitForWaiters(clock, 1));
    clock.advance(5s);
    EXPECT_EQ(sleeping.wait_for(10s), std::future_status::ready);
    giveUp = true;
    EXPECT_TRUE(sleeping.get());

    giveUp = false;
    auto stopped = sleep();
    EXPECT_TRUE(WaitForWaiters(clock, 1));
    stop = true;
    EXPECT_EQ(stopped.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(stopped.get());
}

TEST(RealClock, WaitsEndByThemselvesAtTheirDeadline) {
    const std::shared_ptr<Clock> clock = RealClock();
    EXPECT_EQ(clock.get(), RealClock().get());
    std::mutex m;
    std::condition_variable cv;
    std::unique_lock<std::mutex> lock(m);
    const Clock::TimePoint deadline = clock->now() + 30ms;
    EXPECT_FALSE(clock->waitUntil(cv, lock, deadline, [] { return false; }));
    EXPECT_GE(clock->now(), deadline);
    EXPECT_TRUE(clock->waitFor(cv, lock, 10s, [] { return true; }));
    EXPECT_TRUE(clock->sleepUntil(clock->now() + 20ms, nullptr));
    EXPECT_GE(clock->now(), deadline);
}

}  // namespace
}  // namespace pellory::platform
