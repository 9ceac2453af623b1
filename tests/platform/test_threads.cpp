// Threads, manual-reset events and the tick counter.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/threads.h"

namespace pellory::platform {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST(ManualResetEvent, StaysSetUntilResetAndTimesOutOtherwise) {
    ManualResetEvent e;
    EXPECT_FALSE(e.isSet());
    auto t0 = Clock::now();
    EXPECT_FALSE(e.wait(40));
    EXPECT_GE(MsSince(t0), 38);

    e.set();
    EXPECT_TRUE(e.isSet());
    EXPECT_TRUE(e.wait(0));
    EXPECT_TRUE(e.wait(10));  // manual reset: a wait does not consume it
    EXPECT_TRUE(e.isSet());

    e.reset();
    EXPECT_FALSE(e.isSet());
    EXPECT_FALSE(e.wait(0));

    ManualResetEvent initially(true);
    EXPECT_TRUE(initially.wait(0));
}

TEST(ManualResetEvent, SetFromAnotherThreadWakesWaiters) {
    ManualResetEvent e;
    std::atomic<int> woken{0};
    std::thread a([&] { woken += e.wait(5000) ? 1 : 0; });
    std::thread b([&] { woken += e.wait(kInfinite) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto t0 = Clock::now();
    e.set();
    a.join();
    b.join();
    EXPECT_EQ(woken.load(), 2);
    EXPECT_LT(MsSince(t0), 1000);
}

TEST(Thread, HeldStartRunsBodyOnlyAfterResume) {
    std::atomic<bool> ran{false};
    Thread t;
    ASSERT_TRUE(t.start(
        [&] {
            ran = true;
            return 42u;
        },
        true));
    EXPECT_TRUE(t.running());
    EXPECT_NE(t.id(), 0u);
    EXPECT_FALSE(t.join(60));
    EXPECT_FALSE(ran.load());
    EXPECT_FALSE(t.finished());
    EXPECT_EQ(t.exitCode(), 0u);

    t.resume();
    ASSERT_TRUE(t.join(5000));
    EXPECT_TRUE(ran.load());
    EXPECT_TRUE(t.finished());
    EXPECT_FALSE(t.running());
    EXPECT_EQ(t.exitCode(), 42u);
    EXPECT_EQ(t.id(), 0u);
}

TEST(Thread, BoundedJoinReportsNotYetThenJoins) {
    ManualResetEvent release;
    Thread t;
    ASSERT_TRUE(t.start([&] { return release.wait(10000) ? 7u : 1u; }));
    EXPECT_FALSE(t.start([] { return 0u; })) << "a second start while one runs";

    const auto t0 = Clock::now();
    EXPECT_FALSE(t.join(50));
    EXPECT_GE(MsSince(t0), 45);
    EXPECT_TRUE(t.running());
    EXPECT_FALSE(t.finished());

    release.set();
    EXPECT_TRUE(t.join(kInfinite));
    EXPECT_EQ(t.exitCode(), 7u);
    EXPECT_TRUE(t.join(0)) << "joining a joined thread";

    // The object can run another body afterwards.
    ASSERT_TRUE(t.start([] { return 9u; }));
    EXPECT_TRUE(t.join(5000));
    EXPECT_EQ(t.exitCode(), 9u);
}

TEST(Thread, IdsAreDistinctWhileRunning) {
    ManualResetEvent release;
    Thread a, b;
    ASSERT_TRUE(a.start([&] { return release.wait(5000) ? 0u : 1u; }));
    ASSERT_TRUE(b.start([&] { return release.wait(5000) ? 0u : 1u; }));
    EXPECT_NE(a.id(), 0u);
    EXPECT_NE(b.id(), 0u);
    EXPECT_NE(a.id(), b.id());
    release.set();
    EXPECT_TRUE(a.join(5000));
    EXPECT_TRUE(b.join(5000));
}

TEST(Thread, DestructorJoinsARunningBodyAndDropsAHeldOne) {
    std::atomic<bool> done{false};
    {
        Thread t;
        ASSERT_TRUE(t.start([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            done = true;
            return 0u;
        }));
    }
    EXPECT_TRUE(done.load()) << "the destructor returned before the body ended";

    std::atomic<bool> heldRan{false};
    const auto t0 = Clock::now();
    {
        Thread t;
        ASSERT_TRUE(t.start(
            [&] {
                heldRan = true;
                return 0u;
            },
            true));
    }
    EXPECT_FALSE(heldRan.load());
    EXPECT_LT(MsSince(t0), 2000);
}

TEST(Thread, JoinWithoutStartAndPriorityWithoutThread) {
    Thread t;
    EXPECT_TRUE(t.join(0));
    EXPECT_FALSE(t.running());
    EXPECT_FALSE(t.finished());
    EXPECT_EQ(t.id(), 0u);
    EXPECT_FALSE(t.setPriority(ThreadPriority::AboveNormal));
}

TEST(Thread, PriorityHintReachesTheThreadWhenGranted) {
    // The body reports its own nice value; a granted AboveNormal hint must have lowered it
    // below the value the thread started with, a refused one must have left it alone.
    errno = 0;
    const int mine = getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    ASSERT_EQ(errno, 0);
    Thread t;
    ASSERT_TRUE(t.start(
        [] {
            const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
            return static_cast<uint32_t>(nice + 100);
        },
        true));
    const bool granted = t.setPriority(ThreadPriority::AboveNormal);
    t.resume();
    ASSERT_TRUE(t.join(5000));
    const int seen = static_cast<int>(t.exitCode()) - 100;
    if (granted) {
        EXPECT_LT(seen, mine);
    } else {
        EXPECT_EQ(seen, mine);
    }
    if (mine > -20) {
        Thread u;
        ASSERT_TRUE(u.start(
            [] {
                const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
                return static_cast<uint32_t>(nice + 100);
            },
            true));
        // Normal after AboveNormal puts the start value back.
        if (u.setPriority(ThreadPriority::AboveNormal)) {
            EXPECT_TRUE(u.setPriority(ThreadPriority::Normal));
        }
        u.resume();
        ASSERT_TRUE(u.join(5000));
        EXPECT_EQ(static_cast<int>(u.exitCode()) - 100, mine);
    }
}

TEST(Time, TickCountFollowsSleeps) {
    const uint32_t a = TickCount();
    SleepMs(30);
    const uint32_t b = TickCount();
    const uint32_t elapsed = b - a;  // modulo 2^32, as callers compute it
    EXPECT_GE(elapsed, 29u);
    EXPECT_LT(elapsed, 2000u);
    const auto t0 = Clock::now();
    SleepMs(0);
    EXPECT_LT(MsSince(t0), 100);
}

}  // namespace
}  // namespace pellory::platform
