// The 2-D symbols of GS ( k besides the QR code (see symbols.h).
#include <zint.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "receipt/symbols.h"
#include "receipt/zint_symbol.h"

namespace pellory::receipt {

namespace {

std::string Text(const std::vector<uint8_t>& data) { return std::string(data.begin(), data.end()); }

bool Refuse(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

bool NeedData(const std::vector<uint8_t>& data, std::string* error) {
    return !data.empty() || Refuse(error, "no data stored");
}

// The number of data codewords PDF417 needs for the text: with one column and error correction
// level 0 every row holds one codeword (the data, the length descriptor and two for the error
// correction). Past 90 rows, thirty columns tell it to within a row.
int Pdf417DataCodewords(int type, const std::string& text) {
    zint::Options one;
    one.option1 = 0;
    one.option2 = 1;
    if (const zint::SymbolPtr s = zint::Encode(type, DATA_MODE, text, nullptr, one))
        return std::max(1, zint::Rows(s.get()) - 3);
    one.option2 = 30;
    if (const zint::SymbolPtr s = zint::Encode(type, DATA_MODE, text, nullptr, one))
        return zint::Rows(s.get()) * 30 - 3;
    return 928;
}

}  // namespace

int Pdf417LevelForRatio(int dataCodewords, int ratio) {
    // data codewords x n x 0.1, halves rounded up; each level doubles the error correction codewords.
    const int a = (dataCodewords * ratio + 5) / 10;
    constexpr std::array<int, 7> kUpTo = {3, 10, 20, 45, 100, 200, 400};
    for (size_t i = 0; i < kUpTo.size(); ++i) {
        if (a <= kUpTo[i]) return static_cast<int>(i) + 1;
    }
    return 8;
}

std::optional<Bitmap> MakePdf417(const Pdf417Settings& settings, const std::vector<uint8_t>& data, std::string* error) {
    if (!NeedData(data, error)) return std::nullopt;
    const int type = settings.truncated ? BARCODE_PDF417COMP : BARCODE_PDF417;
    const std::string text = Text(data);
    zint::Options options;
    options.option1 = settings.byRatio ? Pdf417LevelForRatio(Pdf417DataCodewords(type, text), settings.errorValue)
                                       : std::clamp(settings.errorValue, 0, 8);
    options.option2 = std::clamp(settings.columns, 0, 30);
    options.option3 = settings.rows == 0 ? 0 : std::clamp(settings.rows, 3, 90);
    const zint::SymbolPtr s = zint::Encode(type, DATA_MODE, text, error, options);
    if (!s) return std::nullopt;
    // Columns and rows both given hold the data or nothing prints (the library would add rows).
    if (options.option2 && options.option3 && zint::Rows(s.get()) != options.option3) {
        if (error)
            *error = "the data do not fit " + std::to_string(options.option2) + " columns and " +
                     std::to_string(options.option3) + " rows";
        return std::nullopt;
    }
    const int w = std::clamp(settings.moduleWidth, 2, 8);
    const int h = w * std::clamp(settings.rowHeight, 2, 8);
    return zint::Matrix(s.get(), w, h);
}

std::optional<Bitmap> MakeMaxiCode(int mode, const std::vector<uint8_t>& data, std::string* error) {
    if (!NeedData(data, error)) return std::nullopt;
    mode = std::clamp(mode, 2, 6);
    std::string text = Text(data);
    zint::Options options;
    options.option1 = mode;
    if (mode <= 3) {
        // The structured carrier message: [")>" RS "01" GS yy] postal code GS country GS class GS ...
        std::string header;
        static const std::string kHeader =
            "[)>\x1e"
            "01\x1d";
        if (text.compare(0, kHeader.size(), kHeader) == 0 && text.size() >= kHeader.size() + 2) {
            header = text.substr(0, kHeader.size() + 2);
            text.erase(0, header.size());
        }
        std::array<std::string, 3> field;
        for (std::string& f : field) {
            const size_t gs = text.find('\x1d');
            if (gs == std::string::npos) {
                if (error)
                    *error = "mode " + std::to_string(mode) +
                             " takes the postal code, country and class of service, each ended by GS";
                return std::nullopt;
            }
            f = text.substr(0, gs);
            text.erase(0, gs + 1);
        }
        if (field[1].size() != 3 || field[2].size() != 3) {
            if (error) *error = "the country code and the class of service take three digits each";
            return std::nullopt;
        }
        options.primary = field[0] + field[1] + field[2];
        text = header + text;
        if (text.empty()) text = " ";
    }
    const zint::SymbolPtr s = zint::Encode(BARCODE_MAXICODE, DATA_MODE, text, error, options);
    if (!s) return std::nullopt;
    // Modules as small hexagons 7 dots wide and 6 tall, odd rows half a module to the right; three
    // rings about the middle (where the matrix holds no modules). No quiet zone, as for every symbol.
    constexpr int kQuiet = 0;
    const int rows = zint::Rows(s.get()), columns = zint::Columns(s.get());
    // As wide as the modules reach: the odd rows' last place holds none, so the symbol ends with
    // the even rows' last module unless one is there.
    int width = columns * kMaxiModulePitch;
    for (int r = 1; r < rows; r += 2) {
        if (zint::ModuleSet(s.get(), r, columns - 1)) width = columns * kMaxiModulePitch + (kMaxiModulePitch + 1) / 2;
    }
    Bitmap out(width, rows * kMaxiRowPitch);
    constexpr std::array<int, 6> kHexRows = {5, 7, 7, 7, 7, 5};
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            if (!zint::ModuleSet(s.get(), r, c)) continue;
            const int x0 = kQuiet + c * kMaxiModulePitch + ((r & 1) ? (kMaxiModulePitch + 1) / 2 : 0);
            const int y0 = kQuiet + r * kMaxiRowPitch;
            for (int dy = 0; dy < kMaxiRowPitch; ++dy) {
                const int w = kHexRows[static_cast<size_t>(dy)];
                for (int dx = (kMaxiModulePitch - w) / 2; dx < (kMaxiModulePitch - w) / 2 + w; ++dx)
                    out.set(x0 + dx, y0 + dy);
            }
        }
    }
    const double cx = kQuiet + 14 * kMaxiModulePitch + kMaxiModulePitch / 2.0;
    const double cy = kQuiet + 16 * kMaxiRowPitch + kMaxiRowPitch / 2.0;
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            if ((d >= 6 && d < 11) || (d >= 17 && d < 22) || (d >= 28 && d < 33)) out.set(x, y);
        }
    }
    return out;
}

std::optional<Bitmap> MakeStackedDataBar(StackedDataBar type, const DataBarSettings& settings, int areaWidth,
                                         const std::vector<uint8_t>& data, std::string* error) {
    if (!NeedData(data, error)) return std::nullopt;
    const int w = std::clamp(settings.moduleWidth, 2, 8);
    std::string text = Text(data);
    zint::Options options;
    int symbology = BARCODE_DBAR_STK;
    int input = DATA_MODE;
    if (type == StackedDataBar::ExpandedStacked) {
        const std::optional<std::string> gs1 = zint::Gs1Brackets(text, error);
        if (!gs1) return std::nullopt;
        text = *gs1;
        symbology = BARCODE_DBAR_EXPSTK;
        input = GS1_MODE | GS1NOCHECK_MODE;
        // Segment pairs of 49 modules side by side, as many as the width allows (at most 11).
        const int width = settings.maxWidth > 0 ? settings.maxWidth : areaWidth;
        options.option2 = std::clamp((width / w - 4) / 49, 1, 11);
    } else {
        if (text.size() != 13 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            if (error) *error = "takes 13 digits (the item number without its check digit)";
            return std::nullopt;
        }
        if (type == StackedDataBar::StackedOmni) symbology = BARCODE_DBAR_OMNSTK;
    }
    const zint::SymbolPtr s = zint::Encode(symbology, input, text, error, options);
    if (!s) return std::nullopt;
    std::vector<int> heights;
    for (int r = 0; r < zint::Rows(s.get()); ++r) heights.push_back(std::max(1, zint::RowHeight(s.get(), r)) * w);
    return zint::Matrix(s.get(), w, w, heights);
}

std::optional<Bitmap> MakeComposite(uint8_t linearType, const std::vector<uint8_t>& linear,
                                    const DataBarSettings& settings, int areaWidth, const std::vector<uint8_t>& data,
                                    std::string* error) {
    if (linear.empty()) {
        if (error) *error = "no linear part stored";
        return std::nullopt;
    }
    if (!NeedData(data, error)) return std::nullopt;
    struct Linear {
        uint8_t type;
        int symbology;
        bool gs1;
    };
    static constexpr std::array<Linear, 13> kLinear = {{{65, BARCODE_EANX_CC, false},
                                                        {66, BARCODE_EANX_CC, false},
                                                        {67, BARCODE_UPCA_CC, false},
                                                        {68, BARCODE_UPCE_CC, false},
                                                        {69, BARCODE_UPCE_CC, false},
                                                        {70, BARCODE_DBAR_OMN_CC, false},
                                                        {71, BARCODE_DBAR_OMN_CC, false},
                                                        {72, BARCODE_DBAR_STK_CC, false},
                                                        {73, BARCODE_DBAR_OMNSTK_CC, false},
                                                        {74, BARCODE_DBAR_LTD_CC, false},
                                                        {75, BARCODE_DBAR_EXP_CC, true},
                                                        {76, BARCODE_DBAR_EXPSTK_CC, true},
                                                        {77, BARCODE_GS1_128_CC, true}}};
    const auto it = std::find_if(kLinear.begin(), kLinear.end(), [&](const Linear& l) { return l.type == linearType; });
    if (it == kLinear.end()) {
        if (error) *error = "linear part of unknown type " + std::to_string(linearType);
        return std::nullopt;
    }
    zint::Options options;
    std::string primary = Text(linear);
    if (it->gs1) {
        const std::optional<std::string> gs1 = zint::Gs1Brackets(primary, error);
        if (!gs1) return std::nullopt;
        primary = *gs1;
    }
    options.primary = primary;
    const int w = std::clamp(settings.moduleWidth, 2, 8);
    if (it->symbology == BARCODE_DBAR_EXPSTK_CC) {
        const int width = settings.maxWidth > 0 ? settings.maxWidth : areaWidth;
        options.option2 = std::clamp((width / w - 4) / 49, 1, 11);
    }
    const std::optional<std::string> part = zint::Gs1Brackets(Text(data), error);
    if (!part) return std::nullopt;
    const zint::SymbolPtr s = zint::Encode(it->symbology, GS1_MODE | GS1NOCHECK_MODE, *part, error, options);
    if (!s) return std::nullopt;
    // Rows of the 2-D part are a module or two tall as the library says; the linear rows take
    // their height from it too (at least 16 modules for the bars of EAN, UPC and GS1-128).
    std::vector<int> heights;
    const int rows = zint::Rows(s.get());
    for (int r = 0; r < rows; ++r) {
        int h = zint::RowHeight(s.get(), r);
        if (h <= 0) h = r == rows - 1 ? 16 : 2;
        heights.push_back(h * w);
    }
    return zint::Matrix(s.get(), w, w, heights);
}

std::optional<Bitmap> MakeAztec(const AztecSettings& settings, const std::vector<uint8_t>& data, std::string* error) {
    if (!NeedData(data, error)) return std::nullopt;
    const std::string text = Text(data);
    zint::Options options;
    // The library's error correction levels: 10, 23, 36 and 50 % (the share asked for, or the next above).
    const int percent = std::clamp(settings.errorPercent, 5, 95);
    options.option1 = percent <= 10 ? 1 : percent <= 23 ? 2 : percent <= 36 ? 3 : 4;
    zint::SymbolPtr s;
    if (settings.layers > 0) {
        // Sizes 1 to 4 are the compact symbols of 1 to 4 layers, 5 to 36 full range of 1 to 32.
        options.option2 = settings.compact ? std::min(settings.layers, 4) : 4 + std::min(settings.layers, 32);
        s = zint::Encode(BARCODE_AZTEC, DATA_MODE, text, error, options);
    } else if (settings.compact) {
        for (int size = 1; size <= 4 && !s; ++size) {
            options.option2 = size;
            s = zint::Encode(BARCODE_AZTEC, DATA_MODE, text, error, options);
        }
    } else {
        s = zint::Encode(BARCODE_AZTEC, DATA_MODE, text, error, options);
    }
    if (!s) return std::nullopt;
    const int m = std::clamp(settings.moduleSize, 2, 16);
    return zint::Matrix(s.get(), m, m);
}

std::optional<Bitmap> MakeDataMatrix(const DataMatrixSettings& settings, const std::vector<uint8_t>& data,
                                     std::string* error) {
    if (!NeedData(data, error)) return std::nullopt;
    const std::string text = Text(data);
    // The library's sizes by number: 1 to 24 square (10 to 144 modules), 25 to 30 rectangles.
    static constexpr std::array<int, 24> kSquare = {10, 12, 14, 16, 18, 20, 22, 24, 26,  32,  36,  40,
                                                    44, 48, 52, 64, 72, 80, 88, 96, 104, 120, 132, 144};
    struct Rect {
        int rows, columns;
    };
    static constexpr std::array<Rect, 6> kRect = {{{8, 18}, {8, 32}, {12, 26}, {12, 36}, {16, 36}, {16, 48}}};
    zint::Options options;
    zint::SymbolPtr s;
    if (!settings.rectangle) {
        options.option3 = DM_SQUARE;
        if (settings.columns > 0) {
            const auto it = std::find(kSquare.begin(), kSquare.end(), settings.columns);
            if (it == kSquare.end()) {
                if (error) *error = "no square symbol of " + std::to_string(settings.columns) + " modules";
                return std::nullopt;
            }
            options.option2 = static_cast<int>(it - kSquare.begin()) + 1;
        }
        s = zint::Encode(BARCODE_DATAMATRIX, DATA_MODE, text, error, options);
    } else {
        for (size_t i = 0; i < kRect.size() && !s; ++i) {
            if ((settings.columns && kRect[i].columns != settings.columns) ||
                (settings.rows && kRect[i].rows != settings.rows))
                continue;
            options.option2 = 25 + static_cast<int>(i);
            s = zint::Encode(BARCODE_DATAMATRIX, DATA_MODE, text, error, options);
        }
        if (!s && error && error->empty()) *error = "no rectangle of that size";
    }
    if (!s) return std::nullopt;
    const int m = std::clamp(settings.moduleSize, 2, 16);
    return zint::Matrix(s.get(), m, m);
}

}  // namespace pellory::receipt
