#include "cli/symbol_measure.h"

#include <algorithm>

#include "receipt/symbols.h"

namespace pellory::app {

namespace {

// The box from the first inked dot to the last, in both directions; nothing without ink.
std::optional<vprinter::SymbolSize> InkSize(const receipt::Bitmap& b) {
    int left = b.width, right = -1, top = b.height, bottom = -1;
    for (int y = 0; y < b.height; ++y) {
        for (int x = 0; x < b.width; ++x) {
            if (!b.get(x, y)) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (right < 0) return std::nullopt;
    return vprinter::SymbolSize{right - left + 1, bottom - top + 1};
}

}  // namespace

std::optional<vprinter::SymbolSize> MeasureStoredSymbol(const vprinter::StoredSymbol& symbol) {
    if (!symbol.stored || symbol.data.empty()) return std::nullopt;
    std::optional<receipt::Bitmap> made;
    if (symbol.kind == vprinter::StoredSymbol::Kind::Qr) {
        receipt::QrSettings s;
        s.model = symbol.model;
        s.moduleSize = symbol.moduleSize;
        s.errorLevel = symbol.errorLevel;
        made = receipt::MakeQr(s, symbol.data);
    } else {
        receipt::Pdf417Settings s;
        s.columns = symbol.columns;
        s.rows = symbol.rows;
        s.moduleWidth = symbol.moduleWidth;
        s.rowHeight = symbol.rowHeight;
        s.byRatio = symbol.errorByRatio;
        s.errorValue = symbol.errorValue;
        s.truncated = symbol.truncated;
        made = receipt::MakePdf417(s, symbol.data);
    }
    if (!made) return std::nullopt;
    return InkSize(*made);
}

}  // namespace pellory::app
