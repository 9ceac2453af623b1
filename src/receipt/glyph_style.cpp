#include "receipt/glyph_style.h"

#include <algorithm>
#include <utility>

#include "protocol/functions.h"

namespace pellory::receipt {

namespace {

Bitmap Scale(const Bitmap& b, int sx, int sy) {
    if (sx == 1 && sy == 1) return b;
    Bitmap out(b.width * sx, b.height * sy);
    for (int y = 0; y < b.height; ++y) {
        for (int x = 0; x < b.width; ++x) {
            if (!b.get(x, y)) continue;
            for (int dy = 0; dy < sy; ++dy) {
                for (int dx = 0; dx < sx; ++dx) out.set(x * sx + dx, y * sy + dy);
            }
        }
    }
    return out;
}

Bitmap Condense(const Bitmap& b) {
    const int w = (2 * b.width + 2) / 3;
    Bitmap out(w, b.height);
    for (int x = 0; x < b.width; ++x) {
        const int to = x * w / b.width;
        for (int y = 0; y < b.height; ++y) {
            if (b.get(x, y)) out.set(to, y);
        }
    }
    return out;
}

bool Dot(const uint8_t* row, int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }
void Put(uint8_t* row, int x, bool on) {
    const auto bit = static_cast<uint8_t>(0x80 >> (x & 7));
    row[x >> 3] = static_cast<uint8_t>(on ? row[x >> 3] | bit : row[x >> 3] & ~bit);
}

}  // namespace

Bitmap StyleGlyph(const Bitmap& plain, const GlyphLook& look) {
    Bitmap b = look.condensed && plain.width > 1 ? Condense(plain) : plain;
    const int w = b.width, h = b.height;
    const uint8_t style = look.style;
    if (style & protocol::kModeEmphasized) {
        Bitmap bold = b;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x + 1 < w; ++x) {
                if (b.get(x, y)) bold.set(x + 1, y);
            }
        }
        b = std::move(bold);
    }
    if (style & protocol::kModeItalic) {
        Bitmap slanted(w, h);
        for (int y = 0; y < h; ++y) {
            const int shift = (h - 1 - y) / 6;
            for (int x = 0; x < w; ++x) {
                if (b.get(x, y) && x + shift < w) slanted.set(x + shift, y);
            }
        }
        b = std::move(slanted);
    }
    const int under = look.turned ? 0 : std::max((style & protocol::kModeUnderline) ? 1 : 0, look.underline);
    for (int y = std::max(h - under, 0); y < h; ++y) {
        for (int x = 0; x < w; ++x) b.set(x, y);
    }
    if (style & protocol::kModeBorder) {
        for (int x = 0; x < w; ++x) {
            b.set(x, 0);
            b.set(x, h - 1);
        }
        for (int y = 0; y < h; ++y) {
            b.set(0, y);
            b.set(w - 1, y);
        }
    }
    if (style & protocol::kModeHighlight) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) b.flip(x, y);
        }
    }
    Bitmap made = Scale(b, look.scaleX, look.scaleY);
    if (look.turned) made = TurnQuarter(made);
    made.prepareWords();
    return made;
}

Bitmap TurnQuarter(const Bitmap& b) {
    Bitmap out(b.height, b.width);
    for (int y = 0; y < b.height; ++y) {
        for (int x = 0; x < b.width; ++x) {
            if (b.get(x, y)) out.set(b.height - 1 - y, x);
        }
    }
    return out;
}

void TurnHalf(uint8_t* rows, size_t stride, int height, int x0, int x1) {
    if (x1 <= x0 || height <= 0) return;
    const auto row = [&](int y) { return rows + static_cast<size_t>(y) * stride; };
    // Each pair of rows (top and bottom) trade places, read backwards; the middle row of an odd
    // height reads backwards in place.
    for (int top = 0, bottom = height - 1; top <= bottom; ++top, --bottom) {
        uint8_t* a = row(top);
        uint8_t* b = row(bottom);
        for (int i = 0; i < x1 - x0; ++i) {
            const int left = x0 + i, right = x1 - 1 - i;
            if (top == bottom && left >= right) break;
            const bool dotA = Dot(a, left), dotB = Dot(b, right);
            Put(a, left, dotB);
            Put(b, right, dotA);
        }
    }
}

}  // namespace pellory::receipt
