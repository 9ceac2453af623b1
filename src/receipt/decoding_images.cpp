#include "receipt/decoding_images.h"

namespace pellory::receipt {

namespace {

size_t Word(const uint8_t* p) { return static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8; }
std::string Num(size_t v) { return std::to_string(v); }

std::string Key(uint8_t a, uint8_t b) {
    auto show = [](uint8_t c) { return c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : "\\x" + Num(c); };
    return "\"" + show(a) + show(b) + "\"";
}

std::string Colour(uint8_t c) { return c >= 49 && c <= 52 ? "colour " + Num(c - 48u) : "unknown colour " + Num(c); }

std::string Scale(uint8_t x, uint8_t y) { return "x" + Num(x) + " y" + Num(y); }

}  // namespace

std::string ImageModeMeaning(uint8_t m) {
    static const char* const kModes[4] = {"normal", "double width", "double height", "quadruple"};
    const unsigned v = m >= 48 ? m - 48u : m;
    return v < 4 ? kModes[v] : "unknown mode " + Num(m);
}

std::string GraphicsMeaning(const uint8_t* d, size_t n) {
    if (n < 2) return ": no function";
    const uint8_t fn = d[1];
    const bool download = fn >= 80 && fn <= 85;
    const std::string store = download ? "downloaded graphics" : "NV graphics";
    switch (fn) {
        case 0:
        case 48:
            return ": send the NV graphics capacity (no answer here)";
        case 1:
        case 49:
            if (n < 4) break;
            return ": reference dot density " + std::string(d[2] == 51 ? "360" : "180") + " x " +
                   (d[3] == 51 ? "360" : "180") + " dpi";
        case 2:
        case 50:
            return ": print the print buffer's graphics";
        case 3:
        case 51:
            return ": send the free NV graphics capacity (no answer here)";
        case 4:
        case 52:
            return ": send the free downloaded graphics capacity (no answer here)";
        case 64:
        case 80:
            return ": send the " + store + " keys (no answer here)";
        case 65:
        case 81:
            return ": delete all " + store;
        case 66:
        case 82:
            if (n < 4) break;
            return ": delete " + store + " " + Key(d[2], d[3]);
        case 67:
        case 68:
        case 83:
        case 84:
            if (n < 10) break;
            return ": define " + store + " " + Key(d[3], d[4]) + ", " + (fn == 67 || fn == 83 ? "raster" : "column") +
                   ", " + Num(Word(d + 6)) + " x " + Num(Word(d + 8)) + " dots, " + Num(d[5]) +
                   (d[5] == 1 ? " colour" : " colours");
        case 69:
        case 85:
            if (n < 6) break;
            return ": print " + store + " " + Key(d[2], d[3]) + ", " + Scale(d[4], d[5]);
        case 112:
        case 113:
            if (n < 10) break;
            return std::string(": store in the print buffer, ") + (fn == 112 ? "raster" : "column") + ", " +
                   Num(Word(d + 6)) + " x " + Num(Word(d + 8)) + " dots, " + Scale(d[3], d[4]) + ", " + Colour(d[5]);
        default:
            return ": function " + Num(fn) + " (not drawn)";
    }
    return ": function " + Num(fn) + ", too short";
}

}  // namespace pellory::receipt
