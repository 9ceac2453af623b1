// The process-wide port settings with which every link is opened, and the printer's line width.
// Written by the "COM Setup" page (and the command line's options); read whenever a link opens.
#pragma once

#include <cstdint>

#include "protocol/model_profile.h"

namespace pellory::link {

struct PortSettingsRecord {
    int32_t portNumber = 1;           // n of COMn; 0 = none chosen
    int32_t baudRate = 9600;          // rate used to open links
    int32_t requestedBaudRate = 9600; // rate last chosen, sent by the baud-rate set-up command
    int32_t dataBits = 8;
    int32_t parity = 0;               // 0 none, 1 odd, 2 even
    int32_t stopBits = 0;             // 0 one, 2 two
    int32_t handshake = 1;            // 0 None, 1 CTS/RTS, 2 DTR/DSR, 3 Xon/Xoff
    // "Printer answers status": off for printers that cannot answer (some write-only printer
    // device files): the connection probe is skipped and status queries say there is none.
    bool answersStatus = true;
};

// The width in dots pictures are fitted to and sent at, of each model (its profile's).
constexpr int32_t kPrintableWidthOrva58 = protocol::ProfileOf(protocol::Model::Orva58).pictureDots;
constexpr int32_t kPrintableWidthOrva80 = protocol::ProfileOf(protocol::Model::Orva80).pictureDots;

// Process-wide values. Only the window thread (or the command line's one thread) touches them.
inline PortSettingsRecord PortSettings;
inline int32_t PrintableWidth = kPrintableWidthOrva58;

// Back to the start-up values (for a fresh run and for tests).
inline void ResetPortSettings() {
    PortSettings = PortSettingsRecord{};
    PrintableWidth = kPrintableWidthOrva58;
}

}  // namespace pellory::link
