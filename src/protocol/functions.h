// The functions of the function-coded commands that Pellory sends and reads, by name: the bytes
// after pL pH of GS ( k (cn, then fn) and of GS ( E (fn, then its parameters); and the bits of
// the print mode of ESC !.
#pragma once

#include <cstdint>

namespace pellory::protocol {

// GS ( k pL pH cn fn ...: 2D symbols. cn 49 is the QR code; its functions fn:
namespace qr {
inline constexpr uint8_t kSymbol = 49;      // cn
inline constexpr uint8_t kModel = 65;       // fn 65 n1 n2: the model (n1 49, 50 or 51)
inline constexpr uint8_t kModuleSize = 67;  // fn 67 n: the module size in dots
inline constexpr uint8_t kErrorLevel = 69;  // fn 69 n: error correction L, M, Q, H (n 48 to 51)
inline constexpr uint8_t kStore = 80;       // fn 80 m d1...dk: store the data (m 48)
inline constexpr uint8_t kPrint = 81;       // fn 81 m: print the stored symbol (m 48)
inline constexpr uint8_t kSendSize = 82;    // fn 82 m: send the size of the stored symbol
}  // namespace qr

// GS ( k pL pH cn fn ...: the other 2D symbols, by cn. Each stores its data with fn 80 (m 48, then
// the data; GS1 DataBar and the composite's parts put a type byte after m), prints it with fn 81
// and sends its size with fn 82; the settings before those are the symbol's own (see the
// interpreter's symbol2D).
namespace symbol2d {
inline constexpr uint8_t kPdf417 = 48;
inline constexpr uint8_t kQr = 49;
inline constexpr uint8_t kMaxiCode = 50;
inline constexpr uint8_t kDataBar = 51;
inline constexpr uint8_t kComposite = 52;
inline constexpr uint8_t kAztec = 53;
inline constexpr uint8_t kDataMatrix = 54;
inline constexpr uint8_t kStore = 80;
inline constexpr uint8_t kPrint = 81;
inline constexpr uint8_t kSendSize = 82;
}  // namespace symbol2d

// GS ( E pL pH fn ...: the printer's set-up. Function 11 sets the serial interface, by a:
namespace setup {
inline constexpr uint8_t kSerial = 11;     // fn
inline constexpr uint8_t kBaudRate = 1;    // a 1: the rate, as ASCII decimal digits
inline constexpr uint8_t kFlowControl = 3; // a 3: flow control (none 0, hardware 48, XON/XOFF 49)
}  // namespace setup

// ESC ! n: the bits of the print mode n. Bit 0 selects font B; the window never sets it.
enum PrintModeBit : uint8_t {
    kModeFontB = 0x01,
    kModeItalic = 0x02,
    kModeBorder = 0x04,
    kModeEmphasized = 0x08,
    kModeDoubleHeight = 0x10,
    kModeDoubleWidth = 0x20,
    kModeHighlight = 0x40,
    kModeUnderline = 0x80,
};

}  // namespace pellory::protocol
