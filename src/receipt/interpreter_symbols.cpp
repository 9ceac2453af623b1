// The interpreter's symbols: GS ( k of every cn, and the bars of GS k (see interpreter.h). A
// setting out of its range is ignored (the one before stays), as the printer does; a print whose
// data the symbol cannot hold, or whose symbol is wider than the print area, prints nothing.
#include <algorithm>
#include <bit>
#include <string>

#include "protocol/functions.h"
#include "receipt/interpreter.h"

namespace pellory::receipt {

namespace {

// The dots from the symbol's first inked column to its last (MaxiCode's bitmap has a few white
// columns at its right, where its offset rows end).
int InkWidth(const Bitmap& b) {
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

int Interpreter::symbolInkWidth(const Bitmap& b) { return InkWidth(b); }

void Interpreter::symbol2D(const uint8_t* p, size_t n) {
    namespace k = protocol::symbol2d;
    if (n < 7) return;
    const uint8_t cn = p[5], fn = p[6];
    const uint8_t a = n > 7 ? p[7] : 0, b = n > 8 ? p[8] : 0, c = n > 9 ? p[9] : 0;
    Symbols2D& s = symbols2D_;
    // The data of a store function: after m (and the type byte where there is one).
    const auto from = [&](size_t at) { return std::vector<uint8_t>(p + std::min(at, n), p + n); };
    const auto inRange = [](int v, int lo, int hi) { return v >= lo && v <= hi; };
    if (fn == k::kStore && cn >= 48 && cn < 56) symbolStores_ = static_cast<uint8_t>(symbolStores_ | 1 << (cn - 48));
    if (fn == k::kPrint) {
        // A symbol wider than the print area prints nothing, as on the printer.
        const std::optional<Bitmap> symbol = makeSymbol2D(cn, nullptr);
        if (symbol && WiderThan(InkWidth(*symbol), areaRight() - areaLeft()).empty()) {
            printBlock(*symbol, Block::Turned);
        }
        return;
    }
    switch (cn) {
        case k::kPdf417:
            switch (fn) {
                case 65:
                    if (a <= 30) s.pdf417.columns = a;
                    break;
                case 66:
                    if (a == 0 || inRange(a, 3, 90)) s.pdf417.rows = a;
                    break;
                case 67:
                    if (inRange(a, 2, 8)) s.pdf417.moduleWidth = a;
                    break;
                case 68:
                    if (inRange(a, 2, 8)) s.pdf417.rowHeight = a;
                    break;
                case 69:
                    if (a == 48 && inRange(b, 48, 56)) {
                        s.pdf417.byRatio = false;
                        s.pdf417.errorValue = b - 48;
                    } else if (a == 49 && inRange(b, 1, 40)) {
                        s.pdf417.byRatio = true;
                        s.pdf417.errorValue = b;
                    }
                    break;
                case 70:
                    if (a <= 1) s.pdf417.truncated = a == 1;
                    break;
                case k::kStore:
                    s.pdf417Data = from(8);
                    break;
                default:
                    break;
            }
            break;
        case k::kQr: {
            namespace qr = protocol::qr;
            switch (fn) {
                case qr::kModel:
                    s.qr.model = a >= 49 && a <= 51 ? a - 48 : 2;
                    break;
                case qr::kModuleSize:
                    s.qr.moduleSize = std::clamp<int>(a, 1, 16);
                    break;
                case qr::kErrorLevel:
                    s.qr.errorLevel = a >= 48 && a <= 51 ? a - 48 : 0;
                    break;
                case qr::kStore:
                    s.qrData = from(8);
                    break;
                default:
                    break;
            }
            break;
        }
        case k::kMaxiCode:
            switch (fn) {
                case 65:
                    if (inRange(a, 50, 54)) s.maxiMode = a - 48;
                    break;
                case k::kStore:
                    s.maxiData = from(8);
                    break;
                default:
                    break;
            }
            break;
        case k::kDataBar:
            switch (fn) {
                case 67:
                    if (inRange(a, 2, 8)) s.dataBar.moduleWidth = a;
                    break;
                case 71:
                    s.dataBar.maxWidth = a | b << 8;
                    break;
                case k::kStore:
                    s.dataBarType = b;
                    s.dataBarData = from(9);
                    break;
                default:
                    break;
            }
            break;
        case k::kComposite:
            switch (fn) {
                case 67:
                    if (inRange(a, 2, 8)) s.composite.moduleWidth = a;
                    break;
                case 71:
                    s.composite.maxWidth = a | b << 8;
                    break;
                case k::kStore:
                    // m = 48, then the element (48 the linear one, 49 the 2-D one), its type, the data.
                    if (a != 48) break;
                    if (b == 48) {
                        s.compositeLinearType = c;
                        s.compositeLinear = from(10);
                    } else if (b == 49) {
                        s.compositeData = from(10);
                    }
                    break;
                default:
                    break;
            }
            break;
        case k::kAztec:
            switch (fn) {
                case 50:
                    if (a <= 1 && b <= (a == 1 ? 4 : 32)) {
                        s.aztec.compact = a == 1;
                        s.aztec.layers = b;
                    }
                    break;
                case 51:
                    if (inRange(a, 2, 16)) s.aztec.moduleSize = a;
                    break;
                case 53:
                    if (inRange(a, 5, 95)) s.aztec.errorPercent = a;
                    break;
                case k::kStore:
                    s.aztecData = from(8);
                    break;
                default:
                    break;
            }
            break;
        case k::kDataMatrix:
            switch (fn) {
                case 66:
                    if (a <= 1) {
                        s.dataMatrix.rectangle = a == 1;
                        s.dataMatrix.columns = b;
                        s.dataMatrix.rows = a == 1 ? c : 0;
                    }
                    break;
                case 67:
                    if (inRange(a, 2, 16)) s.dataMatrix.moduleSize = a;
                    break;
                case k::kStore:
                    s.dataMatrixData = from(8);
                    break;
                default:
                    break;
            }
            break;
        default:
            break;
    }
}

std::optional<LinearSymbol> Interpreter::makeBarcode(const uint8_t* p, size_t n, int area, std::string* wide) const {
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
        MakeLinear(static_cast<Symbology>(index), data, barWidth_, std::max(barHeight_, 1));
    if (!symbol) return std::nullopt;
    // The first bar goes where the margin, GS L, GS W and ESC a put it; bars that do not all fit
    // the print area print nothing, as on the printer.
    if (symbol->bars.width > area) {
        if (wide) *wide = WiderThan(symbol->bars.width, area, drawing_ == Drawing::Off || decodeAlone_);
        return std::nullopt;
    }
    return symbol;
}

std::string Interpreter::symbolPrintFault(const uint8_t* p, size_t n) const {
    if (n > 2 && p[0] == protocol::kGs && p[1] == 'k') {
        // The data's faults are in the command's meaning; the print area is known while drawing.
        std::string wide;
        const bool alone = drawing_ == Drawing::Off || decodeAlone_;
        makeBarcode(p, n, alone ? kOrva80Dots : areaRight() - areaLeft(), &wide);
        return wide;
    }
    if (n <= 6 || p[0] != protocol::kGs || p[1] != '(' || p[2] != 'k' || p[6] != protocol::symbol2d::kPrint ||
        p[5] < 48 || p[5] >= 56 || !(symbolStores_ >> (p[5] - 48) & 1)) {
        return {};
    }
    // A 2-D symbol says why where the stream stored its data (a history row holding the print
    // alone says nothing of the rows before).
    std::string why;
    const std::optional<Bitmap> symbol = makeSymbol2D(p[5], &why);
    if (!symbol) return why;
    if (drawing_ == Drawing::Off || decodeAlone_) return WiderThan(InkWidth(*symbol), kOrva80Dots, true);
    return WiderThan(InkWidth(*symbol), areaRight() - areaLeft());
}

std::optional<Bitmap> Interpreter::makeSymbol2D(uint8_t cn, std::string* error) const {
    if (cn < 48 || cn >= 48 + madeSymbols_.size()) return std::nullopt;
    MadeSymbol& made = madeSymbols_[cn - 48];
    const int area = areaRight() - areaLeft();
    if (!made.valid || made.area != area || !SameSymbolInputs(cn, made.inputs, symbols2D_)) {
        made.valid = false;
        made.error.clear();
        made.symbol = buildSymbol2D(cn, &made.error);
        made.inputs = symbols2D_;
        made.area = area;
        made.valid = true;
    }
    if (error && !made.error.empty()) *error = made.error;
    return made.symbol;
}

std::optional<Bitmap> Interpreter::buildSymbol2D(uint8_t cn, std::string* error) const {
    namespace k = protocol::symbol2d;
    const Symbols2D& s = symbols2D_;
    const int area = areaRight() - areaLeft();
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
