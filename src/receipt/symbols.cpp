#include "receipt/symbols.h"

#include <zint.h>

#include <algorithm>
#include <cctype>

#include "receipt/code128.h"
#include "receipt/zint_symbol.h"

namespace pellory::receipt {

namespace {

using zint::Encode;

bool AllDigits(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Position(size_t i) { return " at position " + std::to_string(i + 1); }

char CheckDigit(const std::string& digits) {  // GS1 mod 10, the last digit weighs 3
    int sum = 0, weight = 3;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        sum += (*it - '0') * weight;
        weight = 4 - weight;
    }
    return static_cast<char>('0' + (10 - sum % 10) % 10);
}

// UPC-E's six digits as the UPC-A number they stand for (number system 0, no check digit): the
// last digit says where the zeros go.
std::string UpcEExpanded(const std::string& e) {
    const std::string z5 = "00000";
    switch (e[5]) {
        case '0':
        case '1':
        case '2':
            return "0" + e.substr(0, 2) + e[5] + "0000" + e.substr(2, 3);
        case '3':
            return "0" + e.substr(0, 3) + z5 + e.substr(3, 2);
        case '4':
            return "0" + e.substr(0, 4) + z5 + e[4];
        default:
            return "0" + e.substr(0, 5) + "0000" + e[5];
    }
}

// The six UPC-E digits of an 11-digit UPC-A number of system 0, or empty when its zeros do not
// fall where UPC-E can leave them out.
std::string UpcECompressed(const std::string& a) {
    const std::string m = a.substr(1, 5), p = a.substr(6, 5);
    std::string e;
    if (m[2] <= '2' && m.compare(3, 2, "00") == 0 && p.compare(0, 2, "00") == 0) {
        e = m.substr(0, 2) + p.substr(2, 3) + m[2];
    } else if (m.compare(3, 2, "00") == 0 && p.compare(0, 3, "000") == 0) {
        e = m.substr(0, 3) + p.substr(3, 2) + "3";
    } else if (m[4] == '0' && p.compare(0, 4, "0000") == 0) {
        e = m.substr(0, 4) + p[4] + "4";
    } else if (p.compare(0, 4, "0000") == 0 && p[4] >= '5') {
        e = m + p[4];
    }
    return !e.empty() && UpcEExpanded(e) == a ? e : std::string();
}

// The digits the library takes for UPC-A, UPC-E, EAN13 and EAN8 (without their check digit:
// 11, 7 as "0" and UPC-E's six, 12 and 7), from every form GS k allows; or why the printer
// prints nothing (a wrong check digit, UPC-E of another number system or without a short form).
std::string RetailDigits(Symbology s, const std::string& data, std::string* digits) {
    const char* name = SymbologyName(s);
    std::string body = data;  // the digits, the check digit left out
    std::string number;       // the number the check digit is of
    switch (s) {
        case Symbology::UpcA:
        case Symbology::Ean13:
        case Symbology::Ean8: {
            const size_t full = s == Symbology::UpcA ? 12 : s == Symbology::Ean13 ? 13 : 8;
            if (!AllDigits(data) || (data.size() != full && data.size() != full - 1)) {
                return std::string(name) + " takes " + std::to_string(full - 1) + " or " + std::to_string(full) +
                       " digits";
            }
            if (data.size() == full) body.pop_back();
            number = body;
            break;
        }
        case Symbology::UpcE: {
            const size_t n = data.size();
            if (!AllDigits(data) || (n != 6 && n != 7 && n != 8 && n != 11 && n != 12)) {
                return "UPC-E takes 6, 7, 8, 11 or 12 digits";
            }
            if (n != 6 && data[0] != '0') return "UPC-E of 7, 8, 11 or 12 digits starts with 0 (number system 0)";
            if (n == 8 || n == 12) body.pop_back();
            if (n >= 11) {
                number = body;
                body = UpcECompressed(number);
                if (body.empty())
                    return "UPC-A " + number + " has no UPC-E form (its zeros are not where UPC-E leaves them out)";
            } else {
                if (n != 6) body.erase(0, 1);
                number = UpcEExpanded(body);
            }
            body = "0" + body;
            break;
        }
        default:
            return {};
    }
    const char check = CheckDigit(number);
    const bool given = (s == Symbology::UpcE) ? (data.size() == 8 || data.size() == 12)
                                              : data.size() == number.size() + 1;
    if (given && data.back() != check) {
        return std::string("the check digit is wrong: ") + data.back() + ", not " + check;
    }
    if (digits) *digits = body;
    return {};
}

std::string DataBarDigitsFault(Symbology s, const std::string& data) {
    if (data.size() != 13 || !AllDigits(data)) return "takes 13 digits (the item number without its check digit)";
    if (s == Symbology::DataBarLimited && data[0] > '1') return "GS1 DataBar Limited takes 0 or 1 as its first digit";
    return {};
}

// GS1-128 data whose application identifiers stand in no parentheses: the printer puts FNC1 first
// and encodes the data as they stand (parentheses only shape the printed text), so no identifier
// is checked. Written as data for the CODE128 encoder: set C for runs of digit pairs (four digits
// or more, or the whole rest), set B for everything else, "{1" kept as FNC1, "{A" "{B" "{C"
// passed by, "{(" "{)" "{{" their characters. Nothing when the data hold a parenthesis, a '*'
// (check digits belong to an identifier in parentheses) or a byte set B lacks. `hri` gets the
// printed text: the data without their escapes.
std::optional<std::string> BareGs1AsCode128(const std::string& data, std::string* hri) {
    std::vector<int> chars;  // bytes, or -1 for FNC1
    for (size_t i = 0; i < data.size(); ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c == '{') {
            if (i + 1 >= data.size()) return std::nullopt;
            const char f = data[++i];
            if (f == '1')
                chars.push_back(-1);
            else if (f == '(' || f == ')' || f == '{')
                chars.push_back(f);
            else if (f != 'A' && f != 'B' && f != 'C')
                return std::nullopt;
            continue;
        }
        if (c == '(' || c == ')' || c == '*' || c < 0x20 || c > 0x7E) return std::nullopt;
        chars.push_back(c);
    }
    // The printer puts FNC1 first itself.
    if (!chars.empty() && chars.front() < 0) chars.erase(chars.begin());
    if (chars.empty()) return std::nullopt;
    const auto digits = [&](size_t from) {
        size_t end = from;
        while (end < chars.size() && chars[end] >= '0' && chars[end] <= '9') ++end;
        return end - from;
    };
    std::string out;
    char set = 0;
    if (hri) hri->clear();
    for (size_t i = 0; i < chars.size();) {
        if (chars[i] < 0) {
            out += "{1";
            ++i;
            continue;
        }
        const size_t run = digits(i);
        if (run >= 4 || (run >= 2 && run % 2 == 0 && i + run == chars.size())) {
            if (set != 'C') {
                out += "{C";
                set = 'C';
            }
            for (size_t k = 0; k + 1 < run; k += 2) {
                out += static_cast<char>((chars[i + k] - '0') * 10 + (chars[i + k + 1] - '0'));
                if (hri) *hri += {static_cast<char>(chars[i + k]), static_cast<char>(chars[i + k + 1])};
            }
            i += run - run % 2;
            continue;
        }
        if (set != 'B') {
            out += "{B";
            set = 'B';
        }
        out += chars[i] == '{' ? "{{" : std::string(1, static_cast<char>(chars[i]));
        if (hri) *hri += static_cast<char>(chars[i]);
        ++i;
    }
    // FNC1 right after the start character marks the symbol as GS1-128.
    return out.substr(0, 2) + "{1" + out.substr(2);
}

}  // namespace

// GS1 data of GS k (GS1-128, GS1 DataBar Expanded) as zint reads them: application identifiers
// in square brackets. The printer's form: code-set selectors ({A {B {C) ignored, each identifier
// of two or more digits in parentheses (not encoded), "{1" FNC1 (the library sets the separators
// itself), "{(" "{)" "{*" those characters, '*' the check digit of (01) where it is the 14th digit,
// skipped elsewhere.
std::optional<std::string> zint::Gs1Brackets(const std::string& data, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<std::string> {
        if (error) *error = why;
        return std::nullopt;
    };
    std::string out, field, ai;
    auto endField = [&] {
        if (ai == "01" && field.size() == 14 && field.back() == '*') field.back() = CheckDigit(field.substr(0, 13));
        out += field;
        field.clear();
    };
    for (size_t i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (c == '{') {
            if (i + 1 >= data.size()) return fail("a '{' at the end of the data");
            const char f = data[++i];
            if (f == 'A' || f == 'B' || f == 'C' || f == '1') continue;
            if (f == '(' || f == ')' || f == '*' || f == '{') {
                if (ai.empty()) return fail("data before the first application identifier");
                field += f;
                continue;
            }
            return fail(std::string("'{' followed by '") + f + "'" + Position(i - 1));
        }
        if (c == '(' || c == '[') {
            const size_t close = data.find(c == '(' ? ')' : ']', i);
            if (close == std::string::npos) return fail("an application identifier without its closing parenthesis");
            const std::string id = data.substr(i + 1, close - i - 1);
            if (id.size() < 2 || id.size() > 4 || !AllDigits(id)) {
                return fail("application identifier \"" + id + "\" is not two to four digits");
            }
            endField();
            ai = id;
            out += "[" + id + "]";
            i = close;
            continue;
        }
        if (ai.empty()) return fail("no application identifier in parentheses at the start");
        if (c == '*') {
            if (ai == "01" && field.size() == 13) field += '*';
            continue;
        }
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
            return fail("byte " + std::to_string(static_cast<unsigned char>(c)) + Position(i) + " is not GS1 data");
        }
        field += c;
    }
    endField();
    if (ai.empty()) return fail("no application identifier in parentheses at the start");
    return out;
}

const char* SymbologyName(Symbology s) {
    static const char* const kNames[kSymbologyCount] = {"UPC-A",
                                                        "UPC-E",
                                                        "EAN13",
                                                        "EAN8",
                                                        "CODE39",
                                                        "ITF",
                                                        "CODABAR",
                                                        "CODE93",
                                                        "CODE128",
                                                        "GS1-128",
                                                        "GS1 DataBar Omnidirectional",
                                                        "GS1 DataBar Truncated",
                                                        "GS1 DataBar Limited",
                                                        "GS1 DataBar Expanded"};
    return kNames[static_cast<int>(s)];
}

std::string LinearDataFault(Symbology s, const std::string& data) {
    if (data.empty()) return "no data";
    switch (s) {
        case Symbology::UpcA:
        case Symbology::UpcE:
        case Symbology::Ean13:
        case Symbology::Ean8:
            return RetailDigits(s, data, nullptr);
        case Symbology::Code39:
            for (size_t i = 0; i < data.size(); ++i) {
                const char c = data[i];
                const bool ends = c == '*' && (i == 0 || i + 1 == data.size());
                if (!ends && !(c >= '0' && c <= '9') && !(c >= 'A' && c <= 'Z') &&
                    std::string(" $%+-./").find(c) == std::string::npos) {
                    return "CODE39 has no character " + std::to_string(static_cast<unsigned char>(c)) + Position(i);
                }
            }
            break;
        case Symbology::Itf:
            if (!AllDigits(data) || data.size() % 2 != 0) return "ITF takes an even number of digits";
            break;
        case Symbology::Codabar: {
            const auto stop = [](char c) { return (c >= 'A' && c <= 'D') || (c >= 'a' && c <= 'd'); };
            if (data.size() < 2 || !stop(data.front()) || !stop(data.back())) {
                return "CODABAR starts and ends with A, B, C or D";
            }
            for (size_t i = 1; i + 1 < data.size(); ++i) {
                const char c = data[i];
                if (!(c >= '0' && c <= '9') && std::string("$+-./:").find(c) == std::string::npos) {
                    return "CODABAR has no character " + std::to_string(static_cast<unsigned char>(c)) + " inside" +
                           Position(i);
                }
            }
            break;
        }
        case Symbology::Code93:
            for (size_t i = 0; i < data.size(); ++i) {
                if (static_cast<unsigned char>(data[i]) > 127) return "CODE93 takes bytes 0 to 127" + Position(i);
            }
            break;
        case Symbology::Code128: {
            std::string why;
            if (data.size() < 2) return "CODE128 takes at least 2 bytes";
            if (!EncodeCode128(data, &why)) return why;
            break;
        }
        case Symbology::Gs1_128:
        case Symbology::DataBarExpanded: {
            std::string why;
            if (s == Symbology::Gs1_128 && BareGs1AsCode128(data, nullptr)) break;
            if (!zint::Gs1Brackets(data, &why)) return why;
            break;
        }
        case Symbology::DataBarOmni:
        case Symbology::DataBarTruncated:
        case Symbology::DataBarLimited:
            return DataBarDigitsFault(s, data);
    }
    return {};
}

std::optional<LinearSymbol> MakeLinear(Symbology sym, const std::string& data, int moduleWidth, int height,
                                       std::string* error) {
    moduleWidth = std::clamp(moduleWidth, 1, 6);
    height = std::clamp(height, 1, 255);
    if (const std::string fault = LinearDataFault(sym, data); !fault.empty()) {
        if (error) *error = fault;
        return std::nullopt;
    }
    zint::SymbolPtr s;
    constexpr int kGs1 = GS1_MODE | GS1NOCHECK_MODE;
    switch (sym) {
        case Symbology::UpcA:
        case Symbology::UpcE:
        case Symbology::Ean13:
        case Symbology::Ean8: {
            std::string digits;  // checked above: the check digit left out, UPC-E in its short form
            RetailDigits(sym, data, &digits);
            const int type = sym == Symbology::UpcA   ? BARCODE_UPCA
                             : sym == Symbology::UpcE ? BARCODE_UPCE
                                                      : BARCODE_EANX;
            s = Encode(type, DATA_MODE, digits, error);
            break;
        }
        case Symbology::Code39: {
            std::string text = data;  // '*' at the ends are the start and stop characters
            if (text.size() > 1 && text.front() == '*') text.erase(0, 1);
            if (!text.empty() && text.back() == '*') text.pop_back();
            s = Encode(BARCODE_CODE39, DATA_MODE, text, error);
            break;
        }
        case Symbology::Itf:
            s = Encode(BARCODE_C25INTER, DATA_MODE, data, error);
            break;
        case Symbology::Codabar: {
            std::string upper = data;
            std::transform(upper.begin(), upper.end(), upper.begin(),
                           [](char c) { return c >= 'a' && c <= 'd' ? static_cast<char>(c - 32) : c; });
            s = Encode(BARCODE_CODABAR, DATA_MODE, upper, error);
            break;
        }
        case Symbology::Code93:
            s = Encode(BARCODE_CODE93, DATA_MODE, data, error);
            break;
        case Symbology::Code128: {
            // Our own encoder: the bars of the code sets and function characters the data ask for.
            const std::optional<Code128Symbol> code = EncodeCode128(data, error);
            if (!code) return std::nullopt;
            return LinearSymbol{Code128Bars(*code, moduleWidth, height), code->hri};
        }
        case Symbology::Gs1_128:
        case Symbology::DataBarExpanded:
            if (std::string hri; sym == Symbology::Gs1_128) {
                if (const std::optional<std::string> bare = BareGs1AsCode128(data, &hri)) {
                    const std::optional<Code128Symbol> code = EncodeCode128(*bare, error);
                    if (!code) return std::nullopt;
                    return LinearSymbol{Code128Bars(*code, moduleWidth, height), hri};
                }
            }
            if (const std::optional<std::string> text = zint::Gs1Brackets(data, error)) {
                s = Encode(sym == Symbology::Gs1_128 ? BARCODE_GS1_128 : BARCODE_DBAR_EXP, kGs1, *text, error);
            }
            break;
        case Symbology::DataBarOmni:
        case Symbology::DataBarTruncated:
            s = Encode(BARCODE_DBAR_OMN, DATA_MODE, data, error);
            break;
        case Symbology::DataBarLimited:
            s = Encode(BARCODE_DBAR_LTD, DATA_MODE, data, error);
            break;
    }
    if (!s) return std::nullopt;
    // The first bar at the bitmap's left edge, the last at its right: the printer adds no quiet zone.
    LinearSymbol out;
    out.bars = Bitmap(zint::Columns(s.get()) * moduleWidth, height);
    // The bars of the last row (EAN/UPC add-ons aside, a linear symbol has one row).
    const int row = zint::Rows(s.get()) - 1;
    for (int c = 0; c < zint::Columns(s.get()); ++c) {
        if (!zint::ModuleSet(s.get(), row, c)) continue;
        const int x0 = c * moduleWidth;
        for (int x = x0; x < x0 + moduleWidth; ++x) out.bars.set(x, 0);
    }
    // Every row of bars is the first.
    const auto stride = static_cast<size_t>(out.bars.stride);
    for (int y = 1; y < height; ++y) {
        std::copy_n(out.bars.bits.begin(), stride, out.bars.bits.begin() + static_cast<std::ptrdiff_t>(y * stride));
    }
    out.text = zint::Text(s.get());
    if (sym == Symbology::Code39 && out.text.size() >= 2 && out.text.front() == '*' && out.text.back() == '*') {
        out.text = out.text.substr(1, out.text.size() - 2);
    }
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
    zint::Options options;
    options.option1 = micro ? std::min(level, 3) : level;
    zint::SymbolPtr s = Encode(micro ? BARCODE_MICROQR : BARCODE_QRCODE, DATA_MODE, text, error, options);
    if (!s) return std::nullopt;
    const int module = std::clamp(settings.moduleSize, 1, 16);
    return zint::Matrix(s.get(), module, module);
}

}  // namespace pellory::receipt
