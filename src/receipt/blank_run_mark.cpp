#include "receipt/blank_run_mark.h"

#include <algorithm>

#include "receipt/decoding.h"

namespace pellory::receipt {

namespace {

constexpr int kDotsPerMm = 8;
constexpr int kDashRows = 2;
constexpr int kGapRows = 8;
constexpr int kDashDots = 12;  // 12 dots black, 6 white
constexpr int kDashGap = 6;
constexpr int kMarkFont = 2;  // Font3, 8 x 16

void Dashes(Bitmap& b, int top) {
    for (int y = top; y < top + kDashRows; ++y) {
        for (int x = 0; x < b.width; ++x) {
            if (x % (kDashDots + kDashGap) < kDashDots) b.set(x, y);
        }
    }
}

}  // namespace

std::string BlankRunText(int64_t rows) {
    const int64_t mm = (std::max<int64_t>(rows, 0) + kDotsPerMm / 2) / kDotsPerMm;
    if (mm < 1000) return std::to_string(mm) + " mm of blank paper";
    const int64_t tenths = (mm + 50) / 100;  // tenths of a metre
    return GroupedNumber(static_cast<uint64_t>(tenths / 10)) + "." + std::to_string(tenths % 10) + " m of blank paper";
}

Bitmap BlankRunMark(int widthDots, int64_t rows) {
    Bitmap mark(std::max(widthDots, 1), kBlankRunMarkRows);
    Dashes(mark, 0);
    Dashes(mark, kBlankRunMarkRows - kDashRows);
    const std::string text = BlankRunText(rows);
    const FontCell cell = kFontCells[kMarkFont];
    const int textTop = kDashRows + kGapRows;
    int x = std::max(0, (mark.width - cell.width * static_cast<int>(text.size())) / 2);
    for (const char c : text) {
        const Bitmap& glyph = PlainGlyph(kMarkFont, static_cast<unsigned char>(c));
        for (int gy = 0; gy < glyph.height && textTop + gy < mark.height; ++gy) {
            for (int gx = 0; gx < glyph.width && x + gx < mark.width; ++gx) {
                if (glyph.get(gx, gy)) mark.set(x + gx, textTop + gy);
            }
        }
        x += cell.width;
    }
    return mark;
}

}  // namespace pellory::receipt
