// The kernel's termios2 record, which carries the baud rate as a number (platform-internal).
//
// glibc's <termios.h> does not declare it and the kernel's own header clashes with glibc's, so
// the generic layout is spelled out here for the architectures that use it; elsewhere
// PELLORY_HAVE_TERMIOS2 is 0 and rates go by the standard speed codes alone.
#pragma once

#include <sys/ioctl.h>
#include <termios.h>

#if defined(__linux__) && defined(CBAUDEX) && \
    (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__) || defined(__riscv))
#define PELLORY_HAVE_TERMIOS2 1
namespace pellory::platform::detail {
struct KernelTermios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
static_assert(sizeof(KernelTermios2) == 44, "kernel termios2 layout");
inline const unsigned long kTcGets2 = _IOR('T', 0x2A, KernelTermios2);
inline const unsigned long kTcSets2 = _IOW('T', 0x2B, KernelTermios2);
inline constexpr tcflag_t kBother = CBAUDEX;  // "the rate is in c_ispeed/c_ospeed"
}  // namespace pellory::platform::detail
#else
#define PELLORY_HAVE_TERMIOS2 0
#endif
