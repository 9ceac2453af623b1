// What the printer sends back: its status byte (to a status request, or unasked when a status
// changes) and blocks of text (its answers to the set-up and information requests).
#pragma once

#include <cstdint>

#include "protocol/control_bytes.h"

namespace pellory::protocol {

// The bits of the status byte; 00 is "online, no fault".
inline constexpr uint8_t kStatusOverVoltage = 0x01;
inline constexpr uint8_t kStatusPlatenOpen = 0x02;
inline constexpr uint8_t kStatusPaperError = 0x04;
inline constexpr uint8_t kStatusOverHeat = 0x08;
inline constexpr uint8_t kStatusCutterError = 0x20;

// A byte with this bit set is no status byte.
inline constexpr uint8_t kNotStatusBit = 0x10;
// Of those, this one starts a block of text, which a zero byte ends.
inline constexpr uint8_t kTextBlockStart = 0x37;
inline constexpr uint8_t kTextBlockEnd = kNul;

// Every answer to the real-time status requests DLE EOT 1 to 4 has bits 1 and 4 on and bits 0
// and 7 off: how a host tells such an answer from any other byte.
inline constexpr uint8_t kRealTimeStatusFixedMask = 0x93;
inline constexpr uint8_t kRealTimeStatusFixedBits = 0x12;
constexpr bool IsRealTimeStatusAnswer(uint8_t b) { return (b & kRealTimeStatusFixedMask) == kRealTimeStatusFixedBits; }

}  // namespace pellory::protocol
