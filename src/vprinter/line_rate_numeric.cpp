// The kernel's numeric-rate terminal request lives apart from the C library's termios header
// (their termios records clash), so this file includes only the kernel's own definitions.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include "vprinter/line_rate.h"

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace pellory::vprinter {

std::optional<uint32_t> ReadNumericLineRate(int fd) {
#ifdef TCGETS2
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return std::nullopt;
    if (t.c_ospeed == 0) return std::nullopt;
    return static_cast<uint32_t>(t.c_ospeed);
#else
    (void)fd;
    return std::nullopt;
#endif
}

}  // namespace pellory::vprinter
