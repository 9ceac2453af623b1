// The printer's three character fonts ("Font1", "Font2", "Font3" of ESC M), each a fixed cell of
// dots. Glyphs come from a free monospaced outline font (DejaVu Sans Mono), rasterised once per
// character into the cell, without grey levels, and kept for the life of the process; characters
// it lacks from DejaVu Sans, TlwgMono (Thai) and WenQuanYi Zen Hei (CJK), scaled into the cell.
// Box drawing and block elements fill their cell, so lines join. A character no font has, or
// every character when the main font file is missing, is drawn as a hollow box, so the layout
// never changes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace pellory::receipt {

struct FontCell {
    int width;
    int height;
};

inline constexpr int kFontCount = 3;
// Cells of Font1, Font2 and Font3. A character of the Kanji mode takes two cells of Font1 side
// by side (a square of 24 x 24 dots).
inline constexpr FontCell kFontCells[kFontCount] = {{12, 24}, {9, 17}, {8, 16}};

// A one-bit picture: rows top to bottom, each `stride` bytes, MSB = leftmost dot.
struct Bitmap {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> bits;

    Bitmap() = default;
    Bitmap(int w, int h) : width(w), height(h), stride((w + 7) / 8), bits(static_cast<size_t>(stride) * static_cast<size_t>(h), 0) {}
    bool get(int x, int y) const { return (bits[static_cast<size_t>(y * stride + (x >> 3))] >> (7 - (x & 7))) & 1; }
    void set(int x, int y) { bits[static_cast<size_t>(y * stride + (x >> 3))] |= static_cast<uint8_t>(0x80 >> (x & 7)); }
    void flip(int x, int y) { bits[static_cast<size_t>(y * stride + (x >> 3))] ^= static_cast<uint8_t>(0x80 >> (x & 7)); }
    const uint8_t* row(int y) const { return bits.data() + static_cast<size_t>(y) * static_cast<size_t>(stride); }

    // For fast drawing of narrow pictures (at most 56 dots wide): each row as one word, its
    // first dot in bit 63, and the rows that hold ink. Made by prepareWords().
    std::vector<uint64_t> words;
    int inkTop = 0, inkEnd = 0;
    void prepareWords() {
        words.assign(static_cast<size_t>(height), 0);
        inkTop = height;
        inkEnd = 0;
        if (width > 56) return;
        for (int y = 0; y < height; ++y) {
            uint64_t v = 0;
            for (int i = 0; i < stride; ++i) v |= static_cast<uint64_t>(row(y)[i]) << (56 - 8 * i);
            words[static_cast<size_t>(y)] = v;
            if (v) {
                inkTop = std::min(inkTop, y);
                inkEnd = y + 1;
            }
        }
    }
};

// The plain glyph of a character in font 0..2, `cells` cells wide (1, or 2 for Kanji). The
// reference stays valid for the life of the process. Thread-safe.
const Bitmap& PlainGlyph(int font, char32_t ch, int cells = 1);

// Whether the outline font was found (false: every glyph is a box).
bool OutlineFontAvailable();
// The path of the outline font in use (empty when none).
std::string OutlineFontPath();

}  // namespace pellory::receipt
