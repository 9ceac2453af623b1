// Baud rates of terminal lines (POSIX termios): the one table of the system's standard speed
// codes and the reading of a line's rate as a number. The serial device sets and reads its line
// through it, the virtual printer reads what rate the program at the other end of its
// pseudo-terminal chose. POSIX only: a Windows COM port carries its rate in its DCB
// (LineSettings::baudRate) and has no speed codes.
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>

namespace pellory::platform {

// The standard speed code of a rate (B9600 for 9600); nothing for a rate without one on this
// system (250000, say, which only the kernel's numeric rate can carry).
std::optional<speed_t> SpeedCodeOfRate(uint32_t rate);
// The rate a standard speed code stands for; nothing for B0 (hang up) and unknown codes.
std::optional<uint32_t> RateOfSpeedCode(speed_t code);

// The output rate of the terminal open as fd, in bits per second: any rate, custom ones
// included, where the kernel reports the rate as a number; otherwise from the speed code of t
// (the line's settings as read by tcgetattr). Nothing when neither tells a rate.
std::optional<uint32_t> LineRate(int fd, const termios& t);
// The same, reading the settings itself. Nothing when the terminal cannot be read.
std::optional<uint32_t> ReadLineRate(int fd);
// The rate through the kernel's numeric-rate request only (no speed code): nothing where the
// kernel or the architecture does not offer the request, or it reports no rate.
std::optional<uint32_t> ReadNumericLineRate(int fd);

}  // namespace pellory::platform
