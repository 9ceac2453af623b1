#include "vprinter/symbol_storage.h"

#include <algorithm>
#include <string>

#include "protocol/control_bytes.h"
#include "protocol/function_table.h"
#include "protocol/functions.h"

namespace pellory::vprinter {

namespace {

namespace k = protocol::symbol2d;

constexpr uint8_t kHeader = 0x37;
constexpr uint8_t kPdf417Identifier = 0x2F;
constexpr uint8_t kQrIdentifier = 0x36;
constexpr uint8_t kSeparator = 0x1F;
constexpr uint8_t kFixed = 0x31;
constexpr uint8_t kPrintable = 0x30, kNotPrintable = 0x31;

bool InRange(int v, int lo, int hi) { return v >= lo && v <= hi; }

// Whether bytes[0, n) is one whole GS ( k, its length pL pH telling n.
bool IsSymbolCommand(const uint8_t* p, size_t n) {
    return n >= 7 && p[0] == protocol::kGs && p[1] == '(' && p[2] == 'k' &&
           static_cast<size_t>(p[3] | p[4] << 8) + 5 == n;
}

// The PDF417 functions 65 to 70 and 80, as the receipt renderer takes them.
void TakePdf417(StoredSymbol& s, const uint8_t* p, size_t n) {
    const uint8_t fn = p[6];
    const int a = n > 7 ? p[7] : -1, b = n > 8 ? p[8] : -1;
    switch (fn) {
        case 65:
            if (InRange(a, 0, 30)) s.columns = a;
            break;
        case 66:
            if (a == 0 || InRange(a, 3, 90)) s.rows = a;
            break;
        case 67:
            if (InRange(a, 2, 8)) s.moduleWidth = a;
            break;
        case 68:
            if (InRange(a, 2, 8)) s.rowHeight = a;
            break;
        case 69:
            if (a == 48 && InRange(b, 48, 56)) {
                s.errorByRatio = false;
                s.errorValue = b - 48;
            } else if (a == 49 && InRange(b, 1, 40)) {
                s.errorByRatio = true;
                s.errorValue = b;
            }
            break;
        case 70:
            if (InRange(a, 0, 1)) s.truncated = a == 1;
            break;
        default:
            break;
    }
}

// The QR code's functions 65, 67 and 69, as the receipt renderer takes them: a model or level out
// of range is the default one, a module size is brought into 1..16.
void TakeQr(StoredSymbol& s, const uint8_t* p, size_t n) {
    const uint8_t fn = p[6];
    if (n < 8) return;
    const uint8_t a = p[7];
    switch (fn) {
        case protocol::qr::kModel:
            s.model = a >= 49 && a <= 51 ? a - 48 : 2;
            break;
        case protocol::qr::kModuleSize:
            s.moduleSize = std::clamp<int>(a, 1, 16);
            break;
        case protocol::qr::kErrorLevel:
            s.errorLevel = a >= 48 && a <= 51 ? a - 48 : 0;
            break;
        default:
            break;
    }
}

void AppendDecimal(AnswerBytes& out, int v) {
    for (const char c : std::to_string(std::max(v, 0))) out.push_back(static_cast<uint8_t>(c));
}

}  // namespace

void SymbolStorage::take(const uint8_t* p, size_t n) {
    if (n == 2 && p[0] == protocol::kEsc && p[1] == '@') {
        pdf417_ = StoredSymbol::Of(StoredSymbol::Kind::Pdf417);
        qr_ = StoredSymbol::Of(StoredSymbol::Kind::Qr);
        return;
    }
    if (!IsSymbolCommand(p, n)) return;
    const uint8_t cn = p[5], fn = p[6];
    if (cn != k::kPdf417 && cn != k::kQr) return;
    StoredSymbol& s = cn == k::kQr ? qr_ : pdf417_;
    if (fn == k::kStore) {
        // The data after m; the stored data replace the ones before.
        s.data.assign(p + std::min<size_t>(8, n), p + n);
        s.stored = true;
        return;
    }
    if (cn == k::kQr) {
        TakeQr(s, p, n);
    } else {
        TakePdf417(s, p, n);
    }
}

std::optional<StoredSymbol::Kind> SymbolStorage::SizeRequest(const uint8_t* p, size_t n) {
    if (n != 8 || !IsSymbolCommand(p, n)) return std::nullopt;
    // The function the table names, with the mode byte it requires.
    const protocol::FunctionEntry* f = protocol::FindFunction(protocol::CommandId::Symbol2D, p[5], p[6]);
    if (f == nullptr || p[6] != k::kSendSize || p[7] != f->m) return std::nullopt;
    if (p[5] == k::kPdf417) return StoredSymbol::Kind::Pdf417;
    if (p[5] == k::kQr) return StoredSymbol::Kind::Qr;
    return std::nullopt;
}

AnswerBytes SymbolSizeAnswer(StoredSymbol::Kind kind, std::optional<SymbolSize> size, int paperDots) {
    // Header 37, identifier (2F PDF417, 36 QR code), the horizontal size in dots as 1 to 5
    // decimal digits (30..39), separator 1F, the vertical size likewise, 1F, the fixed value 31,
    // 1F, the other information: 30 the symbol can be printed, 31 it cannot; then NUL.
    AnswerBytes out{kHeader, kind == StoredSymbol::Kind::Qr ? kQrIdentifier : kPdf417Identifier};
    AppendDecimal(out, size ? size->width : 0);
    out.push_back(kSeparator);
    AppendDecimal(out, size ? size->height : 0);
    out.push_back(kSeparator);
    out.push_back(kFixed);
    out.push_back(kSeparator);
    out.push_back(size && size->width > 0 && size->width <= paperDots ? kPrintable : kNotPrintable);
    out.push_back(0);
    return out;
}

}  // namespace pellory::vprinter
