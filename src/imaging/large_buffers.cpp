#include "imaging/large_buffers.h"

#ifndef _WIN32
#include <sys/mman.h>
#endif

#include <cstdint>

namespace pellory::imaging {

void AdviseHugePages(void* data, size_t size) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<uintptr_t>(data);
    const uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t last = (begin + size) & ~(kHuge - 1);
    if (data == nullptr || last <= first) return;
    (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

}  // namespace pellory::imaging
