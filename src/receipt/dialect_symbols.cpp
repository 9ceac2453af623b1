// Other makers' 2-D codes (see symbol_maker.h): GS Z n chooses the kind (0 PDF417, 1 DataMatrix,
// 2 QR code; the QR code until one is chosen) and ESC Z v e k nL nH d1...dn prints a symbol of
// that kind at once, its data the nL + 256 nH bytes that follow. This printer has neither command
// of its own: the decoding names them "unknown" with the other makers' meaning, and the symbol is
// drawn as those printers draw it. What v, e and k mean depends on the kind:
//
//   QR code     v version 1..40 (0: as the data need), e error correction 'L' 'M' 'Q' 'H',
//               k module size in dots, 1..16;
//   PDF417      v data columns 1..30 (0: as the data need), e error correction level 0..8,
//               k module width in dots, 2..8 (1 is taken as 2), rows three module widths tall;
//   DataMatrix  v rows 8..144 (0: a square as the data need, e then unread), e columns 8..144
//               (as many as v: a square), k module size in dots, 2..16 (1 is taken as 2).
//
// A parameter out of its range, data that do not fit, or a symbol wider than the print area:
// nothing prints, and the decoding says why.
#include <zint.h>

#include <algorithm>
#include <string>

#include "receipt/symbol_maker.h"
#include "receipt/zint_symbol.h"

namespace pellory::receipt {

namespace {

using protocol::CommandId;

constexpr size_t kHead = 7;  // ESC Z v e k nL nH

const char* KindName(uint8_t kind) {
    switch (kind) {
        case PrinterModes::kDialectPdf417:
            return "PDF417";
        case PrinterModes::kDialectDataMatrix:
            return "DataMatrix";
        case PrinterModes::kDialectQr:
            return "QR code";
        default:
            return nullptr;
    }
}

// The QR code's error correction of e: 0 L to 3 H, or -1 for another byte.
int QrLevel(uint8_t e) {
    switch (e) {
        case 'L':
            return 0;
        case 'M':
            return 1;
        case 'Q':
            return 2;
        case 'H':
            return 3;
        default:
            return -1;
    }
}

std::optional<Bitmap> Refused(std::string* error, std::string why) {
    if (error) *error = std::move(why);
    return std::nullopt;
}

// A QR code of the version asked for (0: the smallest that holds the data).
std::optional<Bitmap> VersionedQr(int version, int level, int module, const std::vector<uint8_t>& data,
                                  std::string* error) {
    zint::Options options;
    options.option1 = level + 1;
    options.option2 = version;
    const zint::SymbolPtr s =
        zint::Encode(BARCODE_QRCODE, DATA_MODE, std::string(data.begin(), data.end()), error, options);
    if (!s) return std::nullopt;
    return zint::Matrix(s.get(), module, module);
}

}  // namespace

std::optional<Bitmap> SymbolMaker::dialectSymbol(const uint8_t* p, size_t n, uint8_t kind, std::string* error) {
    if (n < kHead) return Refused(error, "incomplete");
    const uint8_t v = p[2], e = p[3], k = p[4];
    const std::vector<uint8_t> data(p + kHead, p + n);
    if (data.empty()) return Refused(error, "no data");
    switch (kind) {
        case PrinterModes::kDialectQr: {
            const int level = QrLevel(e);
            if (v > 40) return Refused(error, "version " + std::to_string(v) + " is past 40");
            if (level < 0) return Refused(error, "error correction is 'L', 'M', 'Q' or 'H'");
            if (k < 1 || k > 16) return Refused(error, "module size is 1 to 16 dots");
            return VersionedQr(v, level, k, data, error);
        }
        case PrinterModes::kDialectPdf417: {
            if (v > 30) return Refused(error, "columns are 1 to 30");
            if (e > 8) return Refused(error, "error correction level is 0 to 8");
            if (k < 1 || k > 8) return Refused(error, "module width is 1 to 8 dots");
            Pdf417Settings settings;
            settings.columns = v;
            settings.byRatio = false;
            settings.errorValue = e;
            settings.moduleWidth = std::max<int>(k, 2);
            return MakePdf417(settings, data, error);
        }
        case PrinterModes::kDialectDataMatrix: {
            if (v != 0 && (v < 8 || v > 144 || e < 8 || e > 144))
                return Refused(error, "rows and columns are 8 to 144 modules");
            if (k < 1 || k > 16) return Refused(error, "module size is 1 to 16 dots");
            DataMatrixSettings settings;
            settings.rectangle = v != 0 && v != e;
            settings.columns = v == 0 ? 0 : e;
            settings.rows = settings.rectangle ? v : 0;
            settings.moduleSize = std::max<int>(k, 2);
            return MakeDataMatrix(settings, data, error);
        }
        default:
            return Refused(error, "GS Z chose no kind this printer draws");
    }
}

void SymbolMaker::DialectMeaning(protocol::CommandId id, const uint8_t* p, size_t n, uint8_t kind, int area,
                                 std::string& family) {
    if (id == CommandId::DialectSymbolKind && n == 3) {
        const char* name = KindName(p[2]);
        family += name ? std::string(": ") + name : ": unknown kind " + std::to_string(p[2]);
        return;
    }
    if (id != CommandId::DialectSymbol || n < kHead) return;
    const uint8_t v = p[2], e = p[3], k = p[4];
    const char* name = KindName(kind);
    if (!name) {
        family += " (prints nothing: GS Z chose no kind this printer draws)";
        return;
    }
    family += std::string(": ") + name;
    const std::string dots = std::to_string(k) + "-dot modules";
    switch (kind) {
        case PrinterModes::kDialectQr: {
            const int level = QrLevel(e);
            family += v == 0 ? ", version as the data need" : ", version " + std::to_string(v);
            family += level < 0 ? ", error correction " + std::to_string(e)
                                : std::string(", error correction ") + static_cast<char>(e);
            family += ", " + dots;
            break;
        }
        case PrinterModes::kDialectPdf417:
            family += v == 0 ? ", columns as the data need" : ", " + std::to_string(v) + " columns";
            family += ", error correction level " + std::to_string(e) + ", " + dots;
            break;
        default:
            family += v == 0 ? ", a square as the data need"
                             : ", " + std::to_string(v) + " rows, " + std::to_string(e) + " columns";
            family += ", " + dots;
            break;
    }
    family += ", " + std::to_string(n - kHead) + (n - kHead == 1 ? " byte of data" : " bytes of data");
    std::string why;
    const std::optional<Bitmap> symbol = dialectSymbol(p, n, kind, &why);
    if (!symbol) {
        family += " (prints nothing: " + (why.empty() ? std::string("the data do not fit") : why) + ")";
    } else if (InkWidth(*symbol) > area) {
        family += " (prints nothing: wider than the print area)";
    }
}

}  // namespace pellory::receipt
