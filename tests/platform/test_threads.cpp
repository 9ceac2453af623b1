// Threads, manual-reset events and the tick counter.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/threads.h"

namespace pellory::platform {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

#ifdef _WIN32
// The calling thread's priority as a nice value: negated, so that a lower number is favoured.
int OwnNice() { return -::GetThreadPriority(::GetCurrentThread()); }
// Where background work goes from a thread of priority mine: two steps down, at most to the lowest.
int BackgroundNice(int mine) { return std::min(-THREAD_PRIORITY_LOWEST, mine + 2); }
#else
int OwnNice() { return getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))); }
int BackgroundNice(int mine) { return std::min(19, mine + 10); }
#endif

TEST(ManualResetEvent, StaysSetUntilResetAndTimesOutOtherwise) {
    ManualResetEvent e;
    EXPECT_FALSE(e.isSet());
    const auto t0 = Clock::now();
    EXPECT_FALSE(e.wait(40));
    EXPECT_GE(MsSince(t0), 38);
    e.set();
    EXPECT_TRUE(e.wait(0));
    EXPECT_TRUE(e.wait(10)) << "a wait consumed a manual-reset event";
    e.reset();
    EXPECT_FALSE(e.isSet());
    EXPECT_FALSE(e.wait(0));
    EXPECT_TRUE(ManualResetEvent(true).wait(0));
}

TEST(ManualResetEvent, SetFromAnotherThreadWakesEveryWaiter) {
    ManualResetEvent e;
    std::atomic<int> woken{0};
    std::thread a([&] { woken += e.wait(5000) ? 1 : 0; });
    std::thread b([&] { woken += e.wait(5000) ? 1 : 0; });
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
}

TEST(Thread, BoundedJoinReportsNotYetThenJoinsAndTheObjectRunsAgain) {
    ManualResetEvent release;
    Thread t, u;
    EXPECT_TRUE(t.join(0)) << "nothing started, nothing to wait for";
    EXPECT_EQ(t.id(), 0u);
    ASSERT_TRUE(t.start([&] { return release.wait(5000) ? 7u : 1u; }));
    ASSERT_TRUE(u.start([&] { return release.wait(5000) ? 8u : 1u; }));
    EXPECT_FALSE(t.start([] { return 0u; })) << "a second start while one runs";
    EXPECT_NE(t.id(), 0u);
    EXPECT_NE(t.id(), u.id());

    const auto t0 = Clock::now();
    EXPECT_FALSE(t.join(50));
    EXPECT_GE(MsSince(t0), 45);
    EXPECT_TRUE(t.running());
    release.set();
    EXPECT_TRUE(t.join(5000));
    EXPECT_TRUE(u.join(5000));
    EXPECT_EQ(t.exitCode(), 7u);
    EXPECT_EQ(u.exitCode(), 8u);
    EXPECT_EQ(t.id(), 0u);
    ASSERT_TRUE(t.start([] { return 9u; }));
    EXPECT_TRUE(t.join(5000));
    EXPECT_EQ(t.exitCode(), 9u);
}

TEST(Thread, DestructorJoinsARunningBodyAndDropsAHeldOne) {
    std::atomic<bool> done{false}, heldRan{false};
    {
        Thread t;
        ASSERT_TRUE(t.start([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            done = true;
            return 0u;
        }));
    }
    EXPECT_TRUE(done.load()) << "the destructor returned before the body ended";
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

TEST(Thread, PriorityHintReachesTheThreadWhenGranted) {
    // The body reports its own nice value: a granted AboveNormal hint must have lowered it below
    // the value the thread started with (its creator's), a refused one left it alone; Normal
    // after AboveNormal puts the start value back.
    Thread none;
    EXPECT_FALSE(none.setPriority(ThreadPriority::AboveNormal)) << "no thread to apply it to";
    errno = 0;
    const int mine = OwnNice();
    ASSERT_EQ(errno, 0);
    for (bool back : {false, true}) {
        Thread t;
        ASSERT_TRUE(t.start([] { return static_cast<uint32_t>(OwnNice() + 100); }, true));
        const bool granted = t.setPriority(ThreadPriority::AboveNormal);
        if (back && granted) {
            EXPECT_TRUE(t.setPriority(ThreadPriority::Normal));
        }
        t.resume();
        ASSERT_TRUE(t.join(5000));
        const int seen = static_cast<int>(t.exitCode()) - 100;
        if (granted && !back && mine > -20) {
            EXPECT_LT(seen, mine);
        } else {
            EXPECT_EQ(seen, mine);
        }
    }
}

TEST(Thread, BackgroundWorkGivesWay) {
    errno = 0;
    const int mine = OwnNice();
    ASSERT_EQ(errno, 0);
    int seen = mine;
    bool lowered = false;
    std::thread([&] {
        lowered = LowerCurrentThreadPriority();
        seen = OwnNice();
    }).join();
    ASSERT_TRUE(lowered);
    EXPECT_EQ(seen, BackgroundNice(mine));
    EXPECT_EQ(OwnNice(), mine) << "only the calling thread gives way";
}

TEST(Time, TickCountFollowsSleeps) {
    const uint32_t a = TickCount();
    SleepMs(30);
    const uint32_t elapsed = TickCount() - a;  // modulo 2^32, as callers compute it
    EXPECT_GE(elapsed, 29u);
    EXPECT_LT(elapsed, 2000u);
}

}  // namespace
}  // namespace pellory::platform
