// The functions of the function-coded commands that Pellory sends and reads, by name: the bytes
// after pL pH of GS ( k (cn, then fn), of GS ( L (m, then fn), of GS ( E and GS ( H (fn, then its
// parameters), the fn of DLE DC4; and the bits of the print mode of ESC !. Each number is an entry
// of the function table (function_table.h), which checks that they agree.
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

// GS ( H pL pH fn m d1...d4: the process ID response (fn 48, m 48).
namespace processid {
inline constexpr uint8_t kResponse = 48;  // fn, and its m
}  // namespace processid

// GS ( L pL pH m fn ... and GS 8 L p1 p2 p3 p4 m fn ...: graphics, m 48. Each function of the NV
// graphics (65 to 69) has a twin of the downloaded ones 16 above it (81 to 85).
namespace graphics {
inline constexpr uint8_t kMode = 48;            // m
inline constexpr uint8_t kPrintBufferOld = 2;   // fn 2: print the buffer (as fn 50)
inline constexpr uint8_t kPrintBuffer = 50;     // fn 50: print the buffer
inline constexpr uint8_t kDeleteAllNv = 65;     // fn 65 "CLR": delete all NV graphics
inline constexpr uint8_t kDeleteNv = 66;        // fn 66 kc1 kc2
inline constexpr uint8_t kDefineNvRaster = 67;  // fn 67 a kc1 kc2 b xL xH yL yH c d1...dk
inline constexpr uint8_t kDefineNvColumn = 68;  // fn 68, the same with column data
inline constexpr uint8_t kPrintNv = 69;         // fn 69 kc1 kc2 x y
inline constexpr uint8_t kDownloaded = 16;      // added to an NV function: its downloaded twin
inline constexpr uint8_t kStoreRaster = 112;    // fn 112 a bx by c xL xH yL yH d1...dk
inline constexpr uint8_t kStoreColumn = 113;    // fn 113, the same with column data
}  // namespace graphics

// DLE DC4 fn ...: the real-time functions.
namespace realtime {
inline constexpr uint8_t kDrawerPulse = 1;   // fn 1 m t
inline constexpr uint8_t kPowerOff = 2;      // fn 2 a b
inline constexpr uint8_t kBuzzer = 3;        // fn 3 a n r t1 t2
inline constexpr uint8_t kSendStatus = 7;    // fn 7 m
inline constexpr uint8_t kClearBuffers = 8;  // fn 8 d1...d7
}  // namespace realtime

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
