// The checks of a line-settings record that every OS's serial device makes alike
// (platform-internal).
#pragma once

#include "platform/serial_device.h"

namespace pellory::platform::detail {

// Whether setLineSettings may take in: byteSize 5..8, parity and stop bits known, a baud rate,
// a DTR control other than 3, and different XON and XOFF characters when XON/XOFF flow is on.
inline bool LineSettingsValid(const LineSettings& in) {
    const uint32_t dtr = (in.flags & kFlagDtrControlMask) >> kDtrControlShift;
    const bool xonXoff = (in.flags & (kFlagOutX | kFlagInX)) != 0;
    return !(in.byteSize < 5 || in.byteSize > 8 || in.parity > kParitySpace || in.stopBits > kTwoStopBits ||
             in.baudRate == 0 || dtr > 2 || (xonXoff && in.xonChar == in.xoffChar));
}

// What a device without a line (a printer file, a network printer) describes before any set:
// 9600 8N1 with DTR and RTS on.
inline LineSettings LinelessSettings() {
    LineSettings out;
    out.baudRate = 9600;
    out.byteSize = 8;
    out.flags = kFlagBinary | (1u << kDtrControlShift) | (1u << kRtsControlShift);
    out.xonChar = 0x11;
    out.xoffChar = 0x13;
    return out;
}

}  // namespace pellory::platform::detail
