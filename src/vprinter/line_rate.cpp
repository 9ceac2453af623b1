#include "vprinter/line_rate.h"

#include <termios.h>

namespace pellory::vprinter {

namespace {

struct Pair {
    speed_t code;
    uint32_t rate;
};
const Pair kPairs[] = {
    {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B500000, 500000},
    {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000},
};

std::optional<uint32_t> FromSpeedCode(speed_t code) {
    for (const auto& p : kPairs) {
        if (p.code == code) return p.rate;
    }
    return std::nullopt;
}

std::optional<speed_t> ToSpeedCode(uint32_t rate) {
    for (const auto& p : kPairs) {
        if (p.rate == rate) return p.code;
    }
    return std::nullopt;
}

}  // namespace

bool MakeRawLine(int fd, uint32_t rate) {
    termios t {};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    if (auto code = ToSpeedCode(rate)) {
        cfsetispeed(&t, *code);
        cfsetospeed(&t, *code);
    }
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

std::optional<uint32_t> ReadLineRate(int fd) {
    if (auto rate = ReadNumericLineRate(fd)) return rate;
    termios t {};
    if (tcgetattr(fd, &t) != 0) return std::nullopt;
    return FromSpeedCode(cfgetospeed(&t));
}

}  // namespace pellory::vprinter
