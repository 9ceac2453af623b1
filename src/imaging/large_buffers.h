// Large pixel buffers (a decoded picture, a dot matrix) are written once from start to end right
// after they are allocated. With ordinary 4 KiB pages the first write to each page costs a fault,
// which for a 12-megapixel picture takes longer than decoding it; asking for huge pages before the
// first write makes that cost vanish. Only advice: where the system does not follow it (Windows
// gives large pages only to a privileged process, and is not asked), nothing changes but the speed.
#pragma once

#include <cstddef>

namespace pellory::imaging {

// Advises huge pages for the whole 2 MiB extents inside [data, data + size), when there are any.
// Call it before the buffer is first written.
void AdviseHugePages(void* data, size_t size);

}  // namespace pellory::imaging
