// Reading the baud rate that a program set on a terminal (the host side of the pseudo-terminal).
#pragma once

#include <cstdint>
#include <optional>

namespace pellory::vprinter {

// The output rate of the terminal open as fd, in bits per second: any rate, custom ones
// included, where the kernel reports the rate as a number; otherwise from the standard speed
// codes. Nothing when the terminal cannot be read.
std::optional<uint32_t> ReadLineRate(int fd);

// Puts the terminal open as fd in raw mode (no byte translated, no echo, 8 data bits) and gives
// it the rate where that rate has a standard speed code. False when the terminal refused.
bool MakeRawLine(int fd, uint32_t rate);

// The rate read through the kernel's numeric-rate request only (no fallback). Nothing when the
// kernel does not offer it.
std::optional<uint32_t> ReadNumericLineRate(int fd);

}  // namespace pellory::vprinter
