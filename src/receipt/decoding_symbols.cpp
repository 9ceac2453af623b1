#include "receipt/decoding_symbols.h"

#include <algorithm>

#include "protocol/functions.h"
#include "protocol/hex.h"
#include "receipt/symbols.h"

namespace pellory::receipt {

namespace {

std::string Num(size_t v) { return std::to_string(v); }

std::string Shown(const uint8_t* p, size_t from, size_t to) {
    std::string s;
    for (size_t i = from; i < to; ++i) s += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '.';
    return s;
}

const char* SymbolName(uint8_t cn) {
    namespace k = protocol::symbol2d;
    switch (cn) {
        case k::kPdf417:
            return "PDF417";
        case k::kQr:
            return "QR code";
        case k::kMaxiCode:
            return "MaxiCode";
        case k::kDataBar:
            return "GS1 DataBar";
        case k::kComposite:
            return "Composite";
        case k::kAztec:
            return "Aztec";
        case k::kDataMatrix:
            return "DataMatrix";
        default:
            return nullptr;
    }
}

std::string DataBarType(uint8_t t) {
    switch (t) {
        case 72:
            return "stacked";
        case 73:
            return "stacked omnidirectional";
        case 76:
            return "expanded stacked";
        default:
            return "type " + Num(t) + " (prints nothing: not a type of this command)";
    }
}

// The settings of each symbol (every function but store, print and size).
std::string Setting(uint8_t cn, uint8_t fn, uint8_t a, uint8_t b, uint8_t c) {
    namespace k = protocol::symbol2d;
    switch (cn) {
        case k::kPdf417:
            switch (fn) {
                case 65:
                    return a == 0 ? "columns as the data need" : "columns " + Num(a);
                case 66:
                    return a == 0 ? "rows as the data need" : "rows " + Num(a);
                case 67:
                    return "module width " + Num(a) + " dots";
                case 68:
                    return "row height " + Num(a) + " modules";
                case 69:
                    if (a == 48) return "error correction level " + Num(b >= 48 ? b - 48u : b);
                    return "error correction " + Num(b * 10u) + " % of the data";
                case 70:
                    return a == 1 ? "truncated" : "standard";
                default:
                    break;
            }
            break;
        case k::kQr:
            switch (fn) {
                case protocol::qr::kModel:
                    return "model " + Num(a >= 49 ? a - 48u : a);
                case protocol::qr::kModuleSize:
                    return "module size " + Num(a) + " dots";
                case protocol::qr::kErrorLevel: {
                    static const char* const kLevels = "LMQH";
                    return std::string("error correction ") + (a >= 48 && a <= 51 ? kLevels[a - 48] : '?');
                }
                default:
                    break;
            }
            break;
        case k::kMaxiCode:
            if (fn == 65) return "mode " + Num(a >= 48 ? a - 48u : a);
            break;
        case k::kDataBar:
        case k::kComposite:
            if (fn == 67) return "module width " + Num(a) + " dots";
            if (fn == 71)
                return "expanded stacked width " +
                       (a | b << 8 ? Num(a | b << 8) + " dots" : std::string("of the print area"));
            if (fn == 72 && cn == k::kComposite) return "HRI font " + Num(a);
            break;
        case k::kAztec:
            if (fn == 50)
                return std::string(a == 1 ? "compact" : "full range") + ", " +
                       (b ? Num(b) + " layers" : std::string("layers as the data need"));
            if (fn == 51) return "module size " + Num(a) + " dots";
            if (fn == 53) return "error correction " + Num(a) + " %";
            break;
        case k::kDataMatrix:
            if (fn == 66) {
                if (a == 1) return "rectangle" + (b ? ", " + Num(c) + " x " + Num(b) + " modules" : std::string());
                return "square" + (b ? ", " + Num(b) + " modules" : std::string());
            }
            if (fn == 67) return "module size " + Num(a) + " dots";
            break;
        default:
            break;
    }
    return "function " + protocol::hex::Byte(fn);
}

}  // namespace

SymbolMeaning Symbol2DMeaning(const uint8_t* p, size_t n) {
    namespace k = protocol::symbol2d;
    SymbolMeaning out;
    if (n < 7) return out;
    const uint8_t cn = p[5], fn = p[6];
    const char* name = SymbolName(cn);
    if (!name) return out;
    const uint8_t a = n > 7 ? p[7] : 0, b = n > 8 ? p[8] : 0, c = n > 9 ? p[9] : 0;
    out.meaning = std::string(name) + ": ";
    switch (fn) {
        case k::kStore:
            if (cn == k::kDataBar || cn == k::kComposite) {
                // DataBar: m, the type, the data. Composite: m, the element, its type, the data.
                const size_t header = cn == k::kDataBar ? 9 : 10;
                out.shown = header - 3;
                const size_t bytes = n > header ? n - header : 0;
                if (cn == k::kDataBar) {
                    out.meaning += "store " + Num(bytes) + " data bytes, " + DataBarType(b);
                } else {
                    out.meaning += std::string("store the ") +
                                   (a != 48   ? "unknown"
                                    : b == 48 ? "linear"
                                    : b == 49 ? "2-D"
                                              : "unknown") +
                                   " part, " + Num(bytes) + " data bytes";
                }
                if (cn == k::kDataBar && (b == 72 || b == 73) &&
                    (bytes != 13 || !std::all_of(p + 9, p + n, [](uint8_t d) { return d >= '0' && d <= '9'; }))) {
                    out.meaning += " (prints nothing: takes 13 digits)";
                }
            } else {
                out.shown = 5;
                out.meaning += "store " + Num(n > 8 ? n - 8 : 0) + " data bytes";
            }
            break;
        case k::kPrint:
            out.meaning += "print";
            break;
        case k::kSendSize:
            out.meaning += "send size";
            break;
        default:
            out.meaning += Setting(cn, fn, a, b, c);
            break;
    }
    return out;
}

SymbolMeaning BarcodeMeaning(const uint8_t* p, size_t n) {
    SymbolMeaning out;
    const uint8_t m = n > 2 ? p[2] : 0;
    out.shown = m >= 65 ? 2 : 1;
    const int index = m >= 65 ? m - 65 : m;
    if (index < 0 || index >= (m >= 65 ? kSymbologyCount : kZeroTerminatedSymbologies)) {
        out.meaning = " of unknown system " + Num(m);
        out.known = false;
        return out;
    }
    const size_t from = m >= 65 ? 4 : 3;
    const size_t count = m >= 65 ? (n > 3 ? p[3] : 0u) : (n > 3 ? n - 4 : 0u);
    const size_t to = std::min(n, from + count);
    const auto symbology = static_cast<Symbology>(index);
    const std::string data(reinterpret_cast<const char*>(p) + std::min(from, n), reinterpret_cast<const char*>(p) + to);
    std::string shown = Shown(p, std::min(from, n), to);
    const std::string fault = LinearDataFault(symbology, data);
    if (symbology == Symbology::Code128) {
        if (const std::optional<std::string> content = Code128Content(data)) {
            shown = Shown(reinterpret_cast<const uint8_t*>(content->data()), 0, content->size());
        }
    }
    out.meaning = std::string(" ") + SymbologyName(symbology) + ": \"" + shown + "\"";
    if (!fault.empty()) out.meaning += " (prints nothing: " + fault + ")";
    return out;
}

}  // namespace pellory::receipt
