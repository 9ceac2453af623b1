// Counts the heap bytes in use, for tests of how much memory a step keeps. Include it in exactly
// one source file of a test program: it replaces the global operator new and delete of that
// program with versions that count the usable size of every block.
#pragma once

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace pellory::test {

inline std::atomic<long long> g_liveHeapBytes{0};
inline std::atomic<long long> g_peakHeapBytes{0};

// Bytes held by blocks of operator new right now.
inline long long LiveHeapBytes() { return g_liveHeapBytes.load(); }
// The most LiveHeapBytes() was since the last ResetPeakHeap().
inline long long PeakHeapBytes() { return g_peakHeapBytes.load(); }
inline void ResetPeakHeap() { g_peakHeapBytes = g_liveHeapBytes.load(); }

inline void* CountedAlloc(std::size_t n) {
    void* p = std::malloc(n == 0 ? 1 : n);
    if (!p) throw std::bad_alloc();
    const long long now = g_liveHeapBytes += static_cast<long long>(malloc_usable_size(p));
    long long peak = g_peakHeapBytes.load();
    while (now > peak && !g_peakHeapBytes.compare_exchange_weak(peak, now)) {
    }
    return p;
}

inline void CountedFree(void* p) noexcept {
    if (!p) return;
    g_liveHeapBytes -= static_cast<long long>(malloc_usable_size(p));
    std::free(p);
}

}  // namespace pellory::test

void* operator new(std::size_t n) { return pellory::test::CountedAlloc(n); }
void* operator new[](std::size_t n) { return pellory::test::CountedAlloc(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return pellory::test::CountedAlloc(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return pellory::test::CountedAlloc(n);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { pellory::test::CountedFree(p); }
void operator delete[](void* p) noexcept { pellory::test::CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { pellory::test::CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { pellory::test::CountedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { pellory::test::CountedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { pellory::test::CountedFree(p); }
