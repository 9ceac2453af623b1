// Helpers of the receipt tests: streams, ink measurements and an independent symbol reader.
#pragma once

#ifndef _WIN32
#include <zbar.h>  // not built for Windows: the tests that read symbols run on Linux only
#endif

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "receipt/interpreter.h"

namespace pellory::receipt::test {

#ifndef _WIN32
using namespace zbar;
#endif

using Bytes = std::vector<uint8_t>;

inline Bytes B(std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) b.push_back(static_cast<uint8_t>(x));
    return b;
}
inline Bytes T(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Paper Render(const Bytes& stream, int width = kOrva58Dots) {
    Interpreter i(width);
    i.feed(stream);
    i.finish();
    return i.paper();
}

// The box around all ink: x0, x1 (exclusive), y0, y1 (exclusive); empty when no ink.
struct Box {
    int x0 = 0, x1 = 0;
    int64_t y0 = 0, y1 = 0;
    bool empty() const { return x1 <= x0; }
    int width() const { return x1 - x0; }
    int64_t height() const { return y1 - y0; }
    bool operator==(const Box&) const = default;
};
inline void PrintTo(const Box& b, std::ostream* os) {
    *os << "x " << b.x0 << "-" << b.x1 << ", y " << b.y0 << "-" << b.y1;
}

inline Box InkBox(const Paper& p, int64_t fromRow = 0, int64_t toRow = INT64_MAX) {
    Box b{p.width(), 0, INT64_MAX, 0};
    for (int64_t y = std::max(fromRow, p.firstRow()); y < std::min(toRow, p.endRow()); ++y) {
        for (int x = 0; x < p.width(); ++x) {
            if (!p.dot(x, y)) continue;
            b.x0 = std::min(b.x0, x);
            b.x1 = std::max(b.x1, x + 1);
            b.y0 = std::min(b.y0, y);
            b.y1 = std::max(b.y1, y + 1);
        }
    }
    if (b.x1 == 0) return Box{};
    return b;
}

inline bool SameDots(const Paper& a, const Paper& b) {
    if (a.firstRow() != b.firstRow() || a.endRow() != b.endRow() || a.width() != b.width()) return false;
    for (int64_t y = a.firstRow(); y < a.endRow(); ++y) {
        if (!std::equal(a.row(y), a.row(y) + a.stride(), b.row(y))) return false;
    }
    return true;
}

#ifndef _WIN32
struct ReadSymbol {
    std::string type;
    std::string data;
    bool gs1 = false;  // the reader took the symbol for GS1 data (CODE128: FNC1 first)
};

// Reads every barcode and QR code on the paper with zbar (a white border added around it).
inline std::vector<ReadSymbol> ReadSymbols(const Paper& p) {
    // The printer leaves no quiet zone about a symbol; the readers need one of ten modules or more.
    constexpr int kPad = 96;
    const int w = p.width() + 2 * kPad;
    const int h = static_cast<int>(p.endRow() - p.firstRow()) + 2 * kPad;
    std::vector<uint8_t> grey(static_cast<size_t>(w) * static_cast<size_t>(h), 255);
    for (int64_t y = p.firstRow(); y < p.endRow(); ++y) {
        for (int x = 0; x < p.width(); ++x) {
            if (p.dot(x, y)) grey[static_cast<size_t>((y - p.firstRow() + kPad) * w + x + kPad)] = 0;
        }
    }
    zbar_image_scanner_t* scanner = zbar_image_scanner_create();
    // The reader's defaults (UPC-A reads as EAN-13 with a leading 0), plus the symbologies it
    // leaves off.
    zbar_image_scanner_set_config(scanner, ZBAR_UPCE, ZBAR_CFG_ENABLE, 1);
    zbar_image_scanner_set_config(scanner, ZBAR_CODE93, ZBAR_CFG_ENABLE, 1);
    zbar_image_scanner_set_config(scanner, ZBAR_CODABAR, ZBAR_CFG_ENABLE, 1);
    zbar_image_t* image = zbar_image_create();
    zbar_image_set_format(image, zbar_fourcc('Y', '8', '0', '0'));
    zbar_image_set_size(image, static_cast<unsigned>(w), static_cast<unsigned>(h));
    zbar_image_set_data(image, grey.data(), grey.size(), nullptr);
    zbar_scan_image(scanner, image);
    std::vector<ReadSymbol> out;
    for (const zbar_symbol_t* s = zbar_image_first_symbol(image); s; s = zbar_symbol_next(s)) {
        out.push_back({zbar_get_symbol_name(zbar_symbol_get_type(s)),
                       std::string(zbar_symbol_get_data(s), zbar_symbol_get_data_length(s)),
                       ((zbar_symbol_get_modifiers(s) >> ZBAR_MOD_GS1) & 1) != 0});
    }
    zbar_image_destroy(image);
    zbar_image_scanner_destroy(scanner);
    return out;
}

#endif

}  // namespace pellory::receipt::test
