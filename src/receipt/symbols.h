// Barcodes and QR codes as the printer draws them, made with the zint library: a module matrix
// turned into dots at the printer's geometry (module width and bar height in dots), with white
// quiet zones around the symbol.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "receipt/glyphs.h"

namespace pellory::receipt {

// The one-dimensional symbologies of GS k, by their m of the two-byte-count form (0x41..0x4A);
// the zero-terminated form's m 0..9 names the same ones in the same order.
enum class Symbology : uint8_t {
    UpcA = 0,
    UpcE = 1,
    Ean13 = 2,
    Ean8 = 3,
    Code39 = 4,
    Itf = 5,
    Codabar = 6,
    Code93 = 7,
    Code128 = 8,
    Gs1_128 = 9,
};
inline constexpr int kSymbologyCount = 10;
const char* SymbologyName(Symbology s);

struct LinearSymbol {
    Bitmap bars;              // module width x height dots, quiet zones included
    std::string text;         // the human-readable text (check digits included)
    std::string note;         // how it was drawn, when it differs from the request
};

// The bars of a barcode: `moduleWidth` dots per module, `height` dots tall. Nothing when the
// data do not fit the symbology (the printer then prints nothing); error tells why.
std::optional<LinearSymbol> MakeLinear(Symbology s, const std::string& data, int moduleWidth, int height,
                                       std::string* error = nullptr);

struct QrSettings {
    int model = 2;        // 1, 2, or 3 (Micro QR)
    int moduleSize = 3;   // dots per module, 1..16
    int errorLevel = 0;   // 0 L, 1 M, 2 Q, 3 H
};

// A QR code of the data, each module moduleSize x moduleSize dots, with a quiet zone of four
// modules (two for Micro QR). Nothing when the data do not fit.
std::optional<Bitmap> MakeQr(const QrSettings& settings, const std::vector<uint8_t>& data, std::string* error = nullptr);

}  // namespace pellory::receipt
