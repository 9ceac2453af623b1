// The symbol commands as the receipt tests send them: GS k in both its forms and the functions of
// GS ( k.
#pragma once

#include <string>

#include "receipt/decoding.h"
#include "receipt_test_support.h"

namespace pellory::receipt::test {

// GS ( k pL pH cn fn params...
inline Bytes Fn2D(int cn, int fn, const Bytes& params = {}) {
    const size_t size = params.size() + 2;
    return Cat({B({0x1D, 0x28, 0x6B, static_cast<int>(size & 0xFF), static_cast<int>(size >> 8), cn, fn}), params});
}
inline Bytes Store(int cn, const std::string& data) { return Fn2D(cn, 80, Cat({B({48}), T(data)})); }
inline Bytes StoreTyped(int cn, int m, int type, const std::string& data) {
    return Fn2D(cn, 80, Cat({B({m, type}), T(data)}));
}
// Composite: m = 48, the element (48 linear, 49 2-D), its type, the data.
inline Bytes StoreElement(int element, int type, const std::string& data) {
    return Fn2D(52, 80, Cat({B({48, element, type}), T(data)}));
}
inline Bytes Print(int cn) { return Fn2D(cn, 81, B({48})); }
// GS k m n d1...dn (m 65 to 78).
inline Bytes GsK(int m, const Bytes& data) { return Cat({B({0x1D, 0x6B, m, static_cast<int>(data.size())}), data}); }
// GS k m d1...dk NUL (m 0 to 9).
inline Bytes GsKZero(int m, const std::string& data) { return Cat({B({0x1D, 0x6B, m}), T(data), B({0})}); }

// The decoding's lines of a stream drawn on paper `width` dots wide, as `render --decode` writes
// them (the print area known).
inline std::string DecodedWhileDrawing(const Bytes& stream, int width) {
    std::string lines;
    Interpreter printer(width);
    printer.setDecodeSink([&](const DecodedCommand& c) { lines += FormatDecoded(c) + "\n"; });
    printer.feed(stream);
    printer.finish();
    return lines;
}

}  // namespace pellory::receipt::test
