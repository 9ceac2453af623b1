#include "platform/line_rate.h"

#include "platform/termios2_posix.h"

namespace pellory::platform {

namespace {

struct SpeedCode {
    uint32_t rate;
    speed_t code;
};

// Every standard speed code of POSIX and of Linux; the ones above 230400 only where the system
// defines them.
constexpr SpeedCode kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

}  // namespace

std::optional<speed_t> SpeedCodeOfRate(uint32_t rate) {
    for (const auto& s : kSpeeds) {
        if (s.rate == rate) return s.code;
    }
    return std::nullopt;
}

std::optional<uint32_t> RateOfSpeedCode(speed_t code) {
    for (const auto& s : kSpeeds) {
        if (s.code == code) return s.rate;
    }
    return std::nullopt;
}

std::optional<uint32_t> ReadNumericLineRate(int fd) {
#if PELLORY_HAVE_TERMIOS2
    detail::KernelTermios2 k{};
    if (::ioctl(fd, detail::kTcGets2, &k) != 0 || k.c_ospeed == 0) return std::nullopt;
    return static_cast<uint32_t>(k.c_ospeed);
#else
    (void)fd;
    return std::nullopt;
#endif
}

std::optional<uint32_t> LineRate(int fd, const termios& t) {
    if (const auto rate = ReadNumericLineRate(fd)) return rate;
    return RateOfSpeedCode(::cfgetospeed(&t));
}

std::optional<uint32_t> ReadLineRate(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return std::nullopt;
    return LineRate(fd, t);
}

}  // namespace pellory::platform
