// Making the symbols (see symbol_maker.h). A setting out of its range was ignored by the modes (the
// one before stays), as the printer does; a print whose data the symbol cannot hold, or whose
// symbol is wider than the print area, prints nothing.
#include "receipt/symbol_maker.h"

#include <algorithm>
#include <bit>
#include <string>

#include "protocol/control_bytes.h"
#include "protocol/functions.h"

namespace pellory::receipt {

namespace {

// The dots from the symbol's first inked column to its last (MaxiCode's bitmap has a few white
// columns at its right, where its offset rows end).
int InkOf(const Bitmap& b) {
    int left = b.width, right = -1;
    for (int y = 0; y < b.height; ++y) {
        const uint8_t* row = b.row(y);
        int first = 0, last = b.stride - 1;
        while (first <= last && row[first] == 0) ++first;
        if (first > last) continue;
        while (row[last] == 0) --last;
        left = std::min(left, first * 8 + std::countl_zero(row[first]));
        right = std::max(right, last * 8 + 7 - std::countr_zero(row[last]));
    }
    return std::max(std::min(right, b.width - 1) - left + 1, 0);
}

// Why a symbol `width` dots wide prints nothing in a print area `area` dots wide; empty when it
// fits. paper: the area is the widest paper's, the paper itself unknown.
std::string WiderThan(int width, int area, bool paper = false) {
    if (width <= area) return {};
    return std::to_string(width) + " dots wide, wider than the print area of " +
           (paper ? "80 mm paper (" + std::to_string(area) + ")" : std::to_string(area));
}

// Whether a and b hold the same data and settings for the symbol of cn.
bool SameSymbolInputs(uint8_t cn, const Symbols2D& a, const Symbols2D& b) {
    namespace k = protocol::symbol2d;
    switch (cn) {
        case k::kPdf417:
            return a.pdf417 == b.pdf417 && a.pdf417Data == b.pdf417Data;
        case k::kQr:
            return a.qr == b.qr && a.qrData == b.qrData;
        case k::kMaxiCode:
            return a.maxiMode == b.maxiMode && a.maxiData == b.maxiData;
        case k::kDataBar:
            return a.dataBar == b.dataBar && a.dataBarType == b.dataBarType && a.dataBarData == b.dataBarData;
        case k::kComposite:
            return a.composite == b.composite && a.compositeLinearType == b.compositeLinearType &&
                   a.compositeLinear == b.compositeLinear && a.compositeData == b.compositeData;
        case k::kAztec:
            return a.aztec == b.aztec && a.aztecData == b.aztecData;
        case k::kDataMatrix:
            return a.dataMatrix == b.dataMatrix && a.dataMatrixData == b.dataMatrixData;
        default:
            return false;
    }
}

}  // namespace

int SymbolMaker::InkWidth(const Bitmap& b) { return InkOf(b); }

std::optional<LinearSymbol> SymbolMaker::barcode(const uint8_t* p, size_t n, const PrinterModes& modes, int area,
                                                 std::string* wide, bool paperUnknown) const {
    if (n < 3) return std::nullopt;
    const uint8_t m = p[2];
    int index;
    std::string data;
    if (m >= 65) {
        index = m - 65;
        if (n < 4) return std::nullopt;
        data.assign(reinterpret_cast<const char*>(p + 4), std::min<size_t>(p[3], n - 4));
    } else {
        index = m;
        size_t end = n;
        if (end > 3 && p[end - 1] == 0) --end;
        data.assign(reinterpret_cast<const char*>(p + 3), end - 3);
    }
    if (index < 0 || index >= (m >= 65 ? kSymbologyCount : kZeroTerminatedSymbologies)) return std::nullopt;
    std::optional<LinearSymbol> symbol =
        MakeLinear(static_cast<Symbology>(index), data, modes.barWidth, std::max(modes.barHeight, 1));
    if (!symbol) return std::nullopt;
    // The first bar goes where the margin, GS L, GS W and ESC a put it; bars that do not all fit
    // the print area print nothing, as on the printer.
    if (symbol->bars.width > area) {
        if (wide) *wide = WiderThan(symbol->bars.width, area, paperUnknown);
        return std::nullopt;
    }
    return symbol;
}

std::string SymbolMaker::printFault(const uint8_t* p, size_t n, const PrinterModes& modes, SymbolArea area) const {
    if (n > 2 && p[0] == protocol::kGs && p[1] == 'k') {
        // The data's faults are in the command's meaning; the print area is known while drawing.
        std::string wide;
        barcode(p, n, modes, area.paperKnown ? area.dots : area.widest, &wide, !area.paperKnown);
        return wide;
    }
    if (n <= 6 || p[0] != protocol::kGs || p[1] != '(' || p[2] != 'k' || p[6] != protocol::symbol2d::kPrint ||
        p[5] < 48 || p[5] >= 56 || !(modes.symbolStores >> (p[5] - 48) & 1)) {
        return {};
    }
    // A 2-D symbol says why where the stream stored its data (a history row holding the print
    // alone says nothing of the rows before).
    std::string why;
    const std::optional<Bitmap> symbol = symbol2D(p[5], modes, area.dots, &why);
    if (!symbol) return why;
    if (!area.paperKnown) return WiderThan(InkWidth(*symbol), area.widest, true);
    return WiderThan(InkWidth(*symbol), area.dots);
}

std::optional<Bitmap> SymbolMaker::symbol2D(uint8_t cn, const PrinterModes& modes, int area, std::string* error) const {
    if (cn < 48 || cn >= 48 + made_.size()) return std::nullopt;
    MadeSymbol& made = made_[cn - 48];
    if (!made.valid || made.area != area || !SameSymbolInputs(cn, made.inputs, modes.symbols2D)) {
        made.valid = false;
        made.error.clear();
        made.symbol = build2D(cn, modes.symbols2D, area, &made.error);
        made.inputs = modes.symbols2D;
        made.area = area;
        made.valid = true;
    }
    if (error && !made.error.empty()) *error = made.error;
    return made.symbol;
}

std::optional<Bitmap> SymbolMaker::build2D(uint8_t cn, const Symbols2D& s, int area, std::string* error) const {
    namespace k = protocol::symbol2d;
    std::optional<Bitmap> symbol;
    switch (cn) {
        case k::kPdf417:
            symbol = MakePdf417(s.pdf417, s.pdf417Data, error);
            break;
        case k::kQr:
            symbol = MakeQr(s.qr, s.qrData, error);
            break;
        case k::kMaxiCode:
            symbol = MakeMaxiCode(s.maxiMode, s.maxiData, error);
            break;
        case k::kDataBar:
            if (s.dataBarType != 72 && s.dataBarType != 73 && s.dataBarType != 76) {
                if (error)
                    *error = s.dataBarData.empty() ? "no data stored"
                                                   : "no GS1 DataBar of type " + std::to_string(s.dataBarType);
                return std::nullopt;
            }
            symbol =
                MakeStackedDataBar(static_cast<StackedDataBar>(s.dataBarType), s.dataBar, area, s.dataBarData, error);
            break;
        case k::kComposite:
            symbol = MakeComposite(s.compositeLinearType, s.compositeLinear, s.composite, area, s.compositeData, error);
            break;
        case k::kAztec:
            symbol = MakeAztec(s.aztec, s.aztecData, error);
            break;
        case k::kDataMatrix:
            symbol = MakeDataMatrix(s.dataMatrix, s.dataMatrixData, error);
            break;
        default:
            return std::nullopt;
    }
    return symbol;
}

}  // namespace pellory::receipt
