#include "receipt/symbols.h"

#include <zint.h>

#include <algorithm>
#include <memory>

namespace pellory::receipt {

namespace {

struct SymbolDeleter {
    void operator()(zint_symbol* s) const { ZBarcode_Delete(s); }
};
using SymbolPtr = std::unique_ptr<zint_symbol, SymbolDeleter>;

bool ModuleSet(const zint_symbol* s, int row, int column) {
    return (s->encoded_data[row][column >> 3] >> (column & 7)) & 1;
}

// Encodes; on failure fills error and returns null.
SymbolPtr Encode(int type, int inputMode, const std::string& data, std::string* error, int option1 = -1, int option2 = 0) {
    SymbolPtr s(ZBarcode_Create());
    if (!s) {
        if (error) *error = "out of memory";
        return nullptr;
    }
    s->symbology = type;
    s->input_mode = inputMode;
    s->option_1 = option1;
    s->option_2 = option2;
    s->show_hrt = 1;
    const int rc = ZBarcode_Encode(s.get(), reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    if (rc >= ZINT_ERROR) {
        if (error) *error = s->errtxt;
        return nullptr;
    }
    return s;
}

// Quiet zone of a linear symbology, in modules, each side.
int QuietModules(Symbology s) {
    switch (s) {
        case Symbology::UpcA:
        case Symbology::UpcE:
        case Symbology::Ean13:
        case Symbology::Ean8:
            return 11;
        default:
            return 10;
    }
}

// GS k data of Code 128 begin with a code set ("{A", "{B" or "{C") and may switch sets inside;
// the library chooses the sets itself, so the selectors go and "{{" stands for "{".
std::string Code128Text(const std::string& data) {
    std::string out;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '{' && i + 1 < data.size()) {
            const char c = data[i + 1];
            if (c == 'A' || c == 'B' || c == 'C') {
                ++i;
                continue;
            }
            if (c == '{') {
                out += '{';
                ++i;
                continue;
            }
        }
        out += data[i];
    }
    return out;
}

}  // namespace

const char* SymbologyName(Symbology s) {
    static const char* const kNames[kSymbologyCount] = {"UPC-A", "UPC-E", "EAN13",   "EAN8",    "CODE39",
                                                        "ITF",   "CODABAR", "CODE93", "CODE128", "GS1-128"};
    return kNames[static_cast<int>(s)];
}

std::optional<LinearSymbol> MakeLinear(Symbology sym, const std::string& data, int moduleWidth, int height,
                                       std::string* error) {
    moduleWidth = std::clamp(moduleWidth, 1, 6);
    height = std::clamp(height, 1, 255);
    std::string note;
    SymbolPtr s;
    switch (sym) {
        case Symbology::UpcA: s = Encode(BARCODE_UPCA, DATA_MODE, data, error); break;
        case Symbology::UpcE: s = Encode(BARCODE_UPCE, DATA_MODE, data, error); break;
        case Symbology::Ean13:
        case Symbology::Ean8: s = Encode(BARCODE_EANX, DATA_MODE, data, error); break;
        case Symbology::Code39: s = Encode(BARCODE_CODE39, DATA_MODE, data, error); break;
        case Symbology::Itf: s = Encode(BARCODE_C25INTER, DATA_MODE, data, error); break;
        case Symbology::Codabar: {
            std::string upper = data;
            std::transform(upper.begin(), upper.end(), upper.begin(),
                           [](char c) { return c >= 'a' && c <= 'd' ? static_cast<char>(c - 32) : c; });
            s = Encode(BARCODE_CODABAR, DATA_MODE, upper, error);
            break;
        }
        case Symbology::Code93: s = Encode(BARCODE_CODE93, DATA_MODE, data, error); break;
        case Symbology::Code128: s = Encode(BARCODE_CODE128, DATA_MODE, Code128Text(data), error); break;
        case Symbology::Gs1_128: {
            const std::string text = Code128Text(data);
            if (!text.empty() && (text[0] == '[' || text[0] == '(')) {
                s = Encode(BARCODE_GS1_128, GS1_MODE | GS1NOCHECK_MODE | (text[0] == '(' ? GS1PARENS_MODE : 0), text, error);
            }
            if (!s) {
                // Data without application identifiers: drawn as plain Code 128.
                s = Encode(BARCODE_CODE128, DATA_MODE, text, error);
                if (s) note = "drawn as Code 128 (no application identifier)";
            }
            break;
        }
    }
    if ((sym == Symbology::Ean13 && data.size() != 12 && data.size() != 13) ||
        (sym == Symbology::Ean8 && data.size() != 7 && data.size() != 8)) {
        if (error) *error = "wrong number of digits";
        return std::nullopt;
    }
    if (!s) return std::nullopt;
    const int quiet = QuietModules(sym);
    const int modules = s->width + 2 * quiet;
    LinearSymbol out;
    out.bars = Bitmap(modules * moduleWidth, height);
    // The bars of the last row (EAN/UPC add-ons aside, a linear symbol has one row).
    const int row = s->rows - 1;
    for (int c = 0; c < s->width; ++c) {
        if (!ModuleSet(s.get(), row, c)) continue;
        const int x0 = (quiet + c) * moduleWidth;
        for (int y = 0; y < height; ++y) {
            for (int x = x0; x < x0 + moduleWidth; ++x) out.bars.set(x, y);
        }
    }
    out.text = reinterpret_cast<const char*>(s->text);
    if (sym == Symbology::Code39 && out.text.size() >= 2 && out.text.front() == '*' && out.text.back() == '*') {
        out.text = out.text.substr(1, out.text.size() - 2);
    }
    out.note = note;
    return out;
}

std::optional<Bitmap> MakeQr(const QrSettings& settings, const std::vector<uint8_t>& data, std::string* error) {
    if (data.empty()) {
        if (error) *error = "no data stored";
        return std::nullopt;
    }
    const bool micro = settings.model == 3;
    const int level = std::clamp(settings.errorLevel, 0, 3) + 1;
    const std::string text(data.begin(), data.end());
    SymbolPtr s = Encode(micro ? BARCODE_MICROQR : BARCODE_QRCODE, DATA_MODE, text, error, micro ? std::min(level, 3) : level);
    if (!s) return std::nullopt;
    const int module = std::clamp(settings.moduleSize, 1, 16);
    const int quiet = micro ? 2 : 4;
    const int side = (s->width + 2 * quiet) * module;
    const int tall = (s->rows + 2 * quiet) * module;
    Bitmap out(side, tall);
    for (int r = 0; r < s->rows; ++r) {
        for (int c = 0; c < s->width; ++c) {
            if (!ModuleSet(s.get(), r, c)) continue;
            for (int y = (quiet + r) * module; y < (quiet + r + 1) * module; ++y) {
                for (int x = (quiet + c) * module; x < (quiet + c + 1) * module; ++x) out.set(x, y);
            }
        }
    }
    return out;
}

}  // namespace pellory::receipt
