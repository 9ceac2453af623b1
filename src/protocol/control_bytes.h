// The control bytes of the printer's command language, by name. Every command but text starts with
// one of them: a single control byte (LF, HT, ...) or one of the four introducers ESC, FS, GS and
// DLE followed by the command's function byte.
#pragma once

#include <cstdint>
#include <string_view>

namespace pellory::protocol {

inline constexpr uint8_t kNul = 0x00;
inline constexpr uint8_t kEot = 0x04;  // DLE EOT: real-time status
inline constexpr uint8_t kEnq = 0x05;  // DLE ENQ: real-time request
inline constexpr uint8_t kHt = 0x09;
inline constexpr uint8_t kLf = 0x0A;
inline constexpr uint8_t kFf = 0x0C;
inline constexpr uint8_t kCr = 0x0D;
inline constexpr uint8_t kDle = 0x10;
inline constexpr uint8_t kDc4 = 0x14;  // DLE DC4: real-time functions
inline constexpr uint8_t kCan = 0x18;
inline constexpr uint8_t kEsc = 0x1B;
inline constexpr uint8_t kFs = 0x1C;
inline constexpr uint8_t kGs = 0x1D;

// The first byte of text: every byte from here up (0x7F and the upper half included) is printed.
inline constexpr uint8_t kFirstText = 0x20;

// Whether the byte introduces a command of several bytes: ESC, FS, GS or DLE.
constexpr bool IsIntroducer(uint8_t b) { return b == kEsc || b == kFs || b == kGs || b == kDle; }

// The name of a control byte 0x00-0x1F ("NUL", "SOH", ... "US"); an empty view for any other.
constexpr std::string_view ControlName(uint8_t b) {
    constexpr std::string_view kNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                             "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                             "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                             "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    return b < 32 ? kNames[b] : std::string_view();
}

}  // namespace pellory::protocol
