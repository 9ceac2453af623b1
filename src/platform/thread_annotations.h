// Locks the compiler can check: Clang's thread-safety analysis (-Wthread-safety, an error in the
// Clang builds) reads these annotations and refuses code that touches data without the lock that
// guards it, or calls a function without the lock it requires. Other compilers see nothing.
//
//   platform::Mutex m_;
//   int count_ GUARDED_BY(m_) = 0;
//   void bump() EXCLUDES(m_) { platform::MutexLock lock(m_); ++count_; }
//   void bumpLocked() REQUIRES(m_) { ++count_; }
//
// std::mutex carries no annotations in libstdc++, so the locks that guard annotated data are
// platform::Mutex, taken through platform::MutexLock. A condition variable waits on
// MutexLock::native(); a predicate that reads guarded data says so (a lambda REQUIRES(m_)).
#pragma once

#include <mutex>

#if defined(__clang__)
#define PELLORY_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PELLORY_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) PELLORY_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY PELLORY_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) PELLORY_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) PELLORY_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) PELLORY_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) PELLORY_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) PELLORY_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) PELLORY_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) PELLORY_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) PELLORY_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) PELLORY_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) PELLORY_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS PELLORY_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace pellory::platform {

// A std::mutex the analysis knows as a lock.
class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { m_.lock(); }
    void unlock() RELEASE() { m_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return m_.try_lock(); }

    // The mutex underneath, for MutexLock. Taking it by hand escapes the analysis.
    std::mutex& native() { return m_; }

private:
    std::mutex m_;
};

// Holds a Mutex from its making to its end (or between unlock() and lock()).
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& m) ACQUIRE(m) : lock_(m.native()) {}
    ~MutexLock() RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void lock() ACQUIRE() { lock_.lock(); }
    void unlock() RELEASE() { lock_.unlock(); }

    // The standard lock underneath, for a std::condition_variable's wait: the wait lets the
    // mutex go and takes it again before it returns, so to the analysis it stays held.
    std::unique_lock<std::mutex>& native() { return lock_; }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace pellory::platform
