// The interpreter's images, symbols, tables and cuts (see interpreter.h).
#include <algorithm>
#include <array>

#include "protocol/functions.h"
#include "receipt/bit_rows.h"
#include "receipt/interpreter.h"

namespace pellory::receipt {

namespace {

size_t Word(const uint8_t* p) { return static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Images, symbols, tables, cuts

void Interpreter::bitImage(const uint8_t* p, size_t n) {
    if (n < 5) return;
    const uint8_t m = p[2];
    const bool tall = m == 32 || m == 33;
    const bool single = m == 0 || m == 32;
    if (!tall && m != 1 && !single) return;
    const int columns = static_cast<int>(Word(p + 3));
    const int bytesPerColumn = tall ? 3 : 1;
    const int sx = single ? 2 : 1;
    const int width = columns * sx;
    if (line_.size() >= kMaxLineElements) printLine(modes_.lineSpacing, true);
    if (!lineStarted_ && !xSet_) x_ = areaLeft();
    if (x_ >= lineLimit()) {  // wholly past the paper's right edge (the area's, in page mode): only the position moves on
        x_ = std::min(x_ + width, kFarRight);
        lineStarted_ = true;
        return;
    }
    // Columns past the paper's edge are dropped.
    const int shown = std::min(columns, (lineLimit() + sx - 1) / sx);
    const bool memo = n <= kBitImageMemoBytes;
    std::string key;
    if (memo) {
        key.assign(reinterpret_cast<const char*>(p) + 2, n - 2);  // m, nL, nH and the data
        if (const auto it = bitImages_.find(key); it != bitImages_.end()) {
            putInLine(&it->second, width);
            return;
        }
    }
    Bitmap image = ColumnPicture(p + 5, shown, bytesPerColumn, 8 * bytesPerColumn);
    if (sx == 2) image = ScaledPicture(image, 2, 1);
    if (memo && (bitImages_.size() < kBitImageMemo || line_.empty())) {
        if (bitImages_.size() >= kBitImageMemo) bitImages_.clear();
        putInLine(&bitImages_.emplace(std::move(key), std::move(image)).first->second, width);
        return;
    }
    putInLine(&keep(std::move(image)), width);
}

Interpreter::RasterPlace Interpreter::rasterStart(uint8_t mode, size_t xBytes) {
    RasterPlace place;
    const uint8_t m = mode >= 48 ? static_cast<uint8_t>(mode - 48) : mode;
    place.sx = (m & 1) ? 2 : 1;
    place.sy = (m & 2) ? 2 : 1;
    place.xBytes = xBytes;
    if (page_) {  // page mode: from the print position, cut at the area's edge
        if (lineStarted_) placePageLine(0, true);
        place.x = xSet_ ? x_ : 0;
        place.usedBytes = std::min<size_t>(xBytes, static_cast<size_t>((page_->across() + 7) / 8));
        rasterWide_.resize(place.usedBytes * 2);
        return place;
    }
    if (lineStarted_) printLine(modes_.lineSpacing, true);
    const int fullWidth = static_cast<int>(std::min<size_t>(xBytes * 8 * static_cast<size_t>(place.sx), 1u << 20));
    const int spare = areaRight() - areaLeft() - fullWidth;
    place.x = areaLeft() + (spare <= 0 ? 0 : modes_.align == 1 ? spare / 2 : modes_.align == 2 ? spare : 0);
    place.usedBytes = std::min<size_t>(xBytes, static_cast<size_t>((paper_.width() + 7) / 8));
    rasterWide_.resize(place.usedBytes * 2);
    return place;
}

void Interpreter::rasterRow(const RasterPlace& place, size_t index, const uint8_t* src) {
    const uint8_t* bits = src;
    int widthBits = static_cast<int>(place.usedBytes * 8);
    if (place.sx == 2) {
        DoubleDots(rasterWide_.data(), src, widthBits);
        bits = rasterWide_.data();
        widthBits *= 2;
    }
    for (int dy = 0; dy < place.sy; ++dy) {
        const int64_t y = y_ + static_cast<int64_t>(index) * place.sy + dy;
        if (page_) {
            const int row = static_cast<int>(std::min<size_t>(index, 1u << 22)) * place.sy + dy;
            page_->drawRow(bits, widthBits, place.x, pageY_ + row);
            continue;
        }
        paper_.extendTo(y + 1);
        paper_.blit(y, place.x, bits, widthBits, ink());
    }
}

void Interpreter::rasterEnd(const RasterPlace& place, size_t rows) {
    if (page_) {
        movePageDown(static_cast<int>(std::min<size_t>(rows, 1u << 22)) * place.sy);
        x_ = 0;
        xSet_ = false;
        return;
    }
    y_ += static_cast<int64_t>(rows) * place.sy;
    paper_.extendTo(y_);
    xSet_ = false;
}

void Interpreter::raster(const uint8_t* p, size_t n) {  // GS v 0
    if (n < 8) return;
    const size_t xBytes = Word(p + 4), rows = Word(p + 6);
    const RasterPlace place = rasterStart(p[3], xBytes);
    for (size_t r = 0; r < rows; ++r) rasterRow(place, r, p + 8 + r * xBytes);
    rasterEnd(place, rows);
}

void Interpreter::barcode(const uint8_t* p, size_t n) {
    const std::optional<LinearSymbol> symbol = symbols_.barcode(p, n, modes_, areaRight() - areaLeft(), nullptr);
    if (!symbol) return;
    const FontCell cell = kFontCells[modes_.hriFont];
    const bool above = modes_.hri == 1 || modes_.hri == 3, below = modes_.hri == 2 || modes_.hri == 3;
    const int textRows = cell.height + 2;
    const int height = symbol->bars.height + (above ? textRows : 0) + (below ? textRows : 0);
    Bitmap block(symbol->bars.width, height);
    const int barsTop = above ? textRows : 0;
    for (int y = 0; y < symbol->bars.height; ++y) {
        std::copy_n(symbol->bars.row(y), block.stride,
                    block.bits.begin() + static_cast<std::ptrdiff_t>((barsTop + y) * block.stride));
    }
    auto drawText = [&](int top) {
        const int textWidth = static_cast<int>(symbol->text.size()) * cell.width;
        int x = std::max(0, (block.width - textWidth) / 2);
        for (char c : symbol->text) {
            const Bitmap& g = PlainGlyph(modes_.hriFont, static_cast<unsigned char>(c));
            for (int y = 0; y < g.height; ++y) {
                for (int gx = 0; gx < g.width; ++gx) {
                    if (g.get(gx, y) && x + gx < block.width) block.set(x + gx, top + y);
                }
            }
            x += cell.width;
        }
    };
    if (above) drawText(0);
    if (below) drawText(barsTop + symbol->bars.height + 2);
    printBlock(block, Block::Turned);
}

void Interpreter::tableRow(const uint8_t* p, size_t n) {
    // FS V k, k column rules (in characters), c cells, c cell positions (in characters), then for
    // each cell a style byte (2: emphasized) and its text up to a zero byte.
    if (n < 4) return;
    const size_t k = p[2];
    if (n < 4 + k) return;
    const size_t cells = p[3 + k];
    size_t off = 4 + k + cells;
    if (off > n) return;
    if (lineStarted_) printLine(modes_.lineSpacing, true);
    const int column = kFontCells[modes_.font].width + modes_.charSpacing;
    const uint8_t savedMode = modes_.mode;
    inTable_ = true;
    for (size_t c = 0; c < cells && off < n; ++c) {
        const uint8_t style = p[off++];
        size_t end = off;
        while (end < n && p[end] != 0) ++end;
        x_ = areaLeft() + p[4 + k + c] * column;
        xSet_ = true;
        modes_.mode = static_cast<uint8_t>(style == 2 ? (savedMode | protocol::kModeEmphasized) : savedMode);
        for (size_t i = off; i < end;) {
            const DecodedCharacter d = decoder_->decode(modes_.chars, p + i, end - i);
            if (d.length == 0) break;
            putCharacter(d.ch, d.wide);
            i += d.length;
        }
        off = end + 1;
    }
    modes_.mode = savedMode;
    inTable_ = false;
    const int height = kFontCells[modes_.font].height * scaleY();
    Bitmap rule(1, height);
    for (int y = 0; y < height; ++y) rule.set(0, y);
    const Bitmap& kept = keep(std::move(rule));
    for (size_t i = 0; i < k; ++i) {
        const int x = std::min(areaLeft() + p[3 + i] * column, paper_.width() - 1);
        line_.push_back({x, 0, &kept, ink()});
    }
    lineStarted_ = true;
    printLine(modes_.lineSpacing, true);
}

void Interpreter::cut(int feed) {
    if (lineStarted_) printLine(modes_.lineSpacing, true);
    feedTo(y_ + std::max(feed, 0));
    endBlankRun();  // the run ends at the cut, which is drawn below its mark
    paper_.extendTo(y_ + 1);
    paper_.addCut(y_);
    y_ += 1;
    if (cutSink_) cutSink_(y_ - 1);
}

}  // namespace pellory::receipt
