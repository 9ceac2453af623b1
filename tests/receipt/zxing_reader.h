// A second independent reader for the receipt tests: zxing-cpp, for the symbologies zbar does not
// read (PDF417, DataMatrix, Aztec, MaxiCode, GS1 DataBar). Tests only.
#pragma once

#define ZX_USE_UTF8 1
#include <ZXing/BarcodeFormat.h>
#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <string>
#include <vector>

#include "receipt/paper.h"

namespace pellory::receipt::test {

struct ZxingSymbol {
    std::string format;  // "PDF417", "DataMatrix", ...
    std::string text;    // as the reader shows it (GS1 data with its identifiers in parentheses)
    std::string bytes;   // the content's bytes
    std::string level;   // the error correction level the symbol says it has
    std::string symbologyId;  // "]cm": "]C1" for CODE128 read as GS1-128
};

// Reads every symbol in rows [fromRow, toRow) of the paper (a white border added around them).
// pure: the rows hold one symbol and nothing else, read without searching (MaxiCode needs it).
inline std::vector<ZxingSymbol> ZxingRead(const Paper& p, int64_t fromRow = INT64_MIN, int64_t toRow = INT64_MAX,
                                          bool pure = false) {
    // The printer leaves no quiet zone about a symbol; the readers need one of ten modules or more.
    constexpr int kPad = 96;
    fromRow = std::max(fromRow, p.firstRow());
    toRow = std::min(toRow, p.endRow());
    if (toRow <= fromRow) return {};
    const int w = p.width() + 2 * kPad;
    const int h = static_cast<int>(toRow - fromRow) + 2 * kPad;
    std::vector<uint8_t> grey(static_cast<size_t>(w) * static_cast<size_t>(h), 255);
    for (int64_t y = fromRow; y < toRow; ++y) {
        for (int x = 0; x < p.width(); ++x) {
            if (p.dot(x, y)) grey[static_cast<size_t>((y - fromRow + kPad) * w + x + kPad)] = 0;
        }
    }
    ZXing::DecodeHints hints;
    hints.setTryHarder(true);
    hints.setIsPure(pure);
    hints.setFormats(ZXing::BarcodeFormat::Any);
    std::vector<ZxingSymbol> out;
    for (const ZXing::Result& r :
         ZXing::ReadBarcodes(ZXing::ImageView(grey.data(), w, h, ZXing::ImageFormat::Lum), hints)) {
        if (!r.isValid()) continue;
        const ZXing::ByteArray& b = r.bytes();
        out.push_back({ZXing::ToString(r.format()), r.text(), std::string(b.begin(), b.end()), r.ecLevel(), r.symbologyIdentifier()});
    }
    return out;
}

}  // namespace pellory::receipt::test
