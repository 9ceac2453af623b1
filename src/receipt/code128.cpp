#include "receipt/code128.h"

#include <algorithm>

namespace pellory::receipt {

namespace {

enum class Set { A, B, C };

// The symbol characters that are no data. FNC4 is 101 in code set A and 100 in code set B (the
// values of the change to code set A and B elsewhere); code set C has no FNC4, FNC2 or FNC3, and
// FNC1 is 102 in all three sets.
constexpr uint8_t kFnc3 = 96, kFnc2 = 97, kShift = 98, kCodeC = 99, kCodeB = 100, kCodeA = 101, kFnc1 = 102;
constexpr uint8_t kFnc4InA = 101, kFnc4InB = 100;
constexpr uint8_t kStartA = 103, kStop = 106;

// The widths of the 107 symbol characters, bar, space, bar, space, bar, space (the stop character
// ends with a bar of two more): the symbology's table, by value.
constexpr const char* kPatterns[107] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213",  "122312", "132212", "221213",  // 0
    "221312", "231212", "112232", "122132", "122231", "113222", "123122",  "123221", "223211", "221132",  // 10
    "221231", "213212", "223112", "312131", "311222", "321122", "321221",  "312212", "322112", "322211",  // 20
    "212123", "212321", "232121", "111323", "131123", "131321", "112313",  "132113", "132311", "211313",  // 30
    "231113", "231311", "112133", "112331", "132131", "113123", "113321",  "133121", "313121", "211331",  // 40
    "231131", "213113", "213311", "213131", "311123", "311321", "331121",  "312113", "312311", "332111",  // 50
    "314111", "221411", "431111", "111224", "111422", "121124", "121421",  "141122", "141221", "112214",  // 60
    "112412", "122114", "122411", "142112", "142211", "241211", "221114",  "413111", "241112", "134111",  // 70
    "111242", "121142", "121241", "114212", "124112", "124211", "411212",  "421112", "421211", "212141",  // 80
    "214121", "412121", "111143", "111341", "131141", "114113", "114311",  "411113", "411311", "113141",  // 90
    "114131", "311141", "411131", "211412", "211214", "211232", "2331112",                                // 100
};

const char* SetName(Set s) { return s == Set::A ? "A" : s == Set::B ? "B" : "C"; }

std::string At(size_t i) { return " at position " + std::to_string(i + 1); }

// The value of byte b in code set s, or -1 where the set has no such character.
int ValueIn(Set s, uint8_t b) {
    switch (s) {
        case Set::A:
            return b < 32 ? b + 64 : b <= 95 ? b - 32 : -1;
        case Set::B:
            return b >= 32 && b <= 127 ? b - 32 : -1;
        case Set::C:
            return b <= 99 ? b : -1;
    }
    return -1;
}

std::string SetRange(Set s) {
    switch (s) {
        case Set::A:
            return "0 to 95";
        case Set::B:
            return "32 to 127";
        case Set::C:
            return "0 to 99";
    }
    return {};
}

}  // namespace

std::optional<Code128Symbol> EncodeCode128(const std::string& data, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<Code128Symbol> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (data.size() < 2 || data[0] != '{' || data[1] < 'A' || data[1] > 'C') {
        return fail("no code set ({A, {B or {C) first");
    }
    Set set = static_cast<Set>(data[1] - 'A');
    Code128Symbol out;
    out.values.push_back(static_cast<uint8_t>(kStartA + static_cast<int>(set)));
    bool shifted = false;    // a SHIFT waits for its character
    size_t shiftAt = 0;      // where it was sent
    bool highOnce = false;   // one FNC4: the next character + 128
    bool highLatch = false;  // FNC4 twice: every character + 128 until the next pair
    bool lastWasFnc4 = false;
    size_t dataCharacters = 0;
    const auto shiftUnused = [&] { return fail("SHIFT ({S) with no data character after it" + At(shiftAt)); };
    for (size_t i = 2; i < data.size(); ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        const size_t at = i;
        if (b == '{') {
            if (i + 1 >= data.size()) return fail("a '{' at the end of the data" + At(at));
            const char c = data[++i];
            if (c != '{' && shifted) return shiftUnused();
            switch (c) {
                case 'A':
                case 'B':
                case 'C': {
                    const auto to = static_cast<Set>(c - 'A');
                    if (to != set) out.values.push_back(to == Set::A ? kCodeA : to == Set::B ? kCodeB : kCodeC);
                    set = to;
                    continue;
                }
                case 'S':
                    if (set == Set::C) return fail("SHIFT ({S) in code set C" + At(at));
                    out.values.push_back(kShift);
                    shifted = true;
                    shiftAt = at;
                    continue;
                case '1':
                case '2':
                case '3':
                    if (c != '1' && set == Set::C) {
                        return fail(std::string("FNC") + c + " ({" + c + ") in code set C" + At(at));
                    }
                    out.values.push_back(c == '1' ? kFnc1 : c == '2' ? kFnc2 : kFnc3);
                    out.hri += ' ';
                    lastWasFnc4 = false;
                    continue;
                case '4':
                    if (set == Set::C) return fail("FNC4 ({4) in code set C" + At(at));
                    out.values.push_back(set == Set::A ? kFnc4InA : kFnc4InB);
                    out.hri += ' ';
                    highLatch ^= lastWasFnc4;  // the second of a pair
                    highOnce = !lastWasFnc4;
                    lastWasFnc4 = !lastWasFnc4;
                    continue;
                case '{':
                    break;  // the character '{' itself
                default:
                    return fail(std::string("'{' followed by '") + c + "'" + At(at));
            }
        }
        const Set in = !shifted ? set : set == Set::A ? Set::B : Set::A;
        const int value = ValueIn(in, b);
        if (value < 0 && b == '{') return fail("'{{' outside code set B" + At(at));
        if (value < 0) {
            return fail(std::string("code set ") + SetName(in) + " takes bytes " + SetRange(in) + ", not " +
                        std::to_string(b) + At(at));
        }
        out.values.push_back(static_cast<uint8_t>(value));
        if (in == Set::C) {
            const char pair[2] = {static_cast<char>('0' + b / 10), static_cast<char>('0' + b % 10)};
            out.content.append(pair, 2);
            out.hri.append(pair, 2);
        } else {
            const auto c = static_cast<char>(b | (highOnce != highLatch ? 0x80 : 0));
            out.content += c;
            out.hri += (b < 32 || b == 127) ? ' ' : c;
        }
        shifted = highOnce = lastWasFnc4 = false;
        ++dataCharacters;
    }
    if (shifted) return shiftUnused();
    if (dataCharacters == 0) return fail("no data characters");
    int sum = out.values[0];
    for (size_t i = 1; i < out.values.size(); ++i) sum += static_cast<int>(i) * out.values[i];
    out.values.push_back(static_cast<uint8_t>(sum % 103));
    out.values.push_back(kStop);
    return out;
}

std::vector<uint8_t> Code128Widths(const std::vector<uint8_t>& values) {
    std::vector<uint8_t> widths;
    widths.reserve(values.size() * 6 + 1);
    for (const uint8_t v : values) {
        if (v > kStop) continue;
        for (const char* w = kPatterns[v]; *w; ++w) widths.push_back(static_cast<uint8_t>(*w - '0'));
    }
    return widths;
}

Bitmap Code128Bars(const Code128Symbol& symbol, int moduleWidth, int height) {
    const std::vector<uint8_t> widths = Code128Widths(symbol.values);
    int modules = 0;
    for (const uint8_t w : widths) modules += w;
    Bitmap bars(modules * moduleWidth, height);
    int x = 0;
    bool bar = true;
    for (const uint8_t w : widths) {
        const int end = x + w * moduleWidth;
        for (; x < end; ++x) {
            if (bar) bars.set(x, 0);
        }
        bar = !bar;
    }
    // Every row of bars is the first.
    const auto stride = static_cast<size_t>(bars.stride);
    for (int y = 1; y < height; ++y) {
        std::copy_n(bars.bits.begin(), stride, bars.bits.begin() + static_cast<std::ptrdiff_t>(y * stride));
    }
    return bars;
}

std::optional<std::string> Code128Content(const std::string& data, std::string* error) {
    std::optional<Code128Symbol> symbol = EncodeCode128(data, error);
    if (!symbol) return std::nullopt;
    return std::move(symbol->content);
}

}  // namespace pellory::receipt
