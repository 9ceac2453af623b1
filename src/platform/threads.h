// Threads, events and time for the link engine, on the C++ standard library.
//
// No thread is ever killed: a worker's every blocking step is bounded and watches its run flag,
// so a bounded join that times out only means "not yet"; the thread still ends by itself and is
// joined for good when its Thread object is destroyed or joined again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace pellory::platform {

// A wait time meaning "no limit".
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// A manual-reset event: stays signalled until reset.
class ManualResetEvent {
public:
    explicit ManualResetEvent(bool initiallySet = false) : set_(initiallySet) {}
    void set();
    void reset();
    bool isSet() const;
    // Waits at most timeoutMs (kInfinite: no limit) for the event; true when it is signalled.
    bool wait(uint32_t timeoutMs);

private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    bool set_;
};

enum class ThreadPriority { Normal, AboveNormal };

// A worker thread with an optional held start and a bounded join.
class Thread {
public:
    Thread();
    // Joins (the body is bounded, so this ends). A thread still held is released without
    // running its body.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts body on a new thread. With startHeld the body waits until resume().
    // Returns false if a thread runs already or none could be created.
    bool start(std::function<uint32_t()> body, bool startHeld = false);
    void resume();
    // A hint; false when the OS refused it or no thread runs (the thread runs on regardless).
    bool setPriority(ThreadPriority p);
    // Waits at most timeoutMs (kInfinite: no limit) for the body to end; true when it has ended
    // (and was joined), or when no thread was started.
    bool join(uint32_t timeoutMs);
    // The owner's view; call these from the thread that starts and joins.
    bool running() const;    // started and not yet joined
    bool finished() const;   // the body has returned
    uint32_t exitCode() const;  // the body's result once finished, 0 before
    uint64_t id() const;     // a process-unique number of the running thread, 0 when none

private:
    struct State;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

// Background work that must give way to the threads that answer at once (a printer server's
// job writers, which draw pictures, against its serving loop): lowers the calling thread's
// scheduling priority a few steps below its creator's. False when the system refused (it runs on
// regardless).
bool LowerCurrentThreadPriority();

// Milliseconds since an arbitrary start, wrapping modulo 2^32 like a tick counter.
uint32_t TickCount();
void SleepMs(uint32_t ms);

}  // namespace pellory::platform
