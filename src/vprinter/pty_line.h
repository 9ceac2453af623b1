// The printer server's end of a pseudo-terminal line: the raw mode and rate it sets when it makes
// the line, and the rate the program at the other end chose since (read as the platform reads any
// line's rate), which the virtual printer's rate match follows.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/line_rate.h"

namespace pellory::vprinter {

// The output rate of the terminal open as fd: platform/line_rate.h.
using platform::ReadLineRate;

// Puts the terminal open as fd in raw mode (no byte translated, no echo, 8 data bits) and gives
// it the rate where that rate has a standard speed code. False when the terminal refused.
bool MakeRawLine(int fd, uint32_t rate);

}  // namespace pellory::vprinter
