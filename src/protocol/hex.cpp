#include "protocol/hex.h"

#include <cstring>

namespace pellory::protocol::hex {

namespace {

// "00 01 02 ... FF ": three characters per byte value.
constexpr std::array<char, 256 * 3> MakeEchoPairs() {
    std::array<char, 256 * 3> t{};
    for (size_t b = 0; b < 256; ++b) {
        t[b * 3] = Digit(static_cast<unsigned>(b >> 4));
        t[b * 3 + 1] = Digit(static_cast<unsigned>(b));
        t[b * 3 + 2] = ' ';
    }
    return t;
}
constexpr std::array<char, 256 * 3> kEchoPairs = MakeEchoPairs();

}  // namespace

void AppendByte(std::string& out, uint8_t b) {
    out += Digit(b >> 4);
    out += Digit(b);
}

std::string Byte(uint8_t b) { return {Digit(b >> 4), Digit(b)}; }

void AppendEscape(std::string& out, uint8_t b) {
    out += "\\x";
    AppendByte(out, b);
}

void WriteEcho(char* dst, const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        std::memcpy(dst, &kEchoPairs[static_cast<size_t>(data[i]) * 3], 3);
        dst += 3;
    }
}

void AppendEcho(std::string& out, const uint8_t* data, size_t n) {
    if (n == 0) return;
    const size_t start = out.size();
    out.resize(start + 3 * n);
    WriteEcho(out.data() + start, data, n);
}

bool IsEchoOf(std::string_view text, const uint8_t* data, size_t n) {
    if (text.size() != 3 * n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::memcmp(text.data() + 3 * i, &kEchoPairs[static_cast<size_t>(data[i]) * 3], 3) != 0) return false;
    }
    return true;
}

std::string Spaced(const uint8_t* data, size_t n) {
    std::string s;
    if (n == 0) return s;
    s.reserve(3 * n - 1);
    for (size_t i = 0; i < n; ++i) {
        if (i) s += ' ';
        AppendByte(s, data[i]);
    }
    return s;
}

std::optional<std::vector<uint8_t>> ParseEcho(std::string_view text) {
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 3 + 1);
    size_t pos = 0;
    while (pos < text.size()) {
        const int high = DigitValue(text[pos]);
        const int low = pos + 1 < text.size() ? DigitValue(text[pos + 1]) : -1;
        if (high < 0 || low < 0 || (pos + 2 < text.size() && text[pos + 2] != ' ')) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        pos += 3;
    }
    return bytes;
}

std::vector<uint8_t> ParseHexText(std::string_view text) {
    std::vector<uint8_t> bytes;
    const size_t n = text.size();
    bytes.reserve((n + 1) / 2);  // at most one byte per two characters
    size_t pos = 0;
    for (;;) {
        while (pos < n && IsSeparator(text[pos])) ++pos;
        if (pos >= n) break;
        // A pair that does not start with a digit yields nothing.
        if (IsDigit(text[pos])) bytes.push_back(LeadingByte(text, pos));
        pos += 2;
    }
    return bytes;
}

uint8_t LeadingByte(std::string_view text, size_t pos) {
    unsigned value = 0;
    for (size_t i = pos; i < text.size() && i < pos + 2; ++i) {
        const int digit = DigitValue(text[i]);
        if (digit < 0) break;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<uint8_t>(value);
}

std::vector<uint8_t> DigitPairs(std::string_view text) {
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 3 + 1);
    int high = -1;
    for (const char c : text) {
        const int d = DigitValue(c);
        if (d < 0) {
            high = -1;
        } else if (high < 0) {
            high = d;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | d));
            high = -1;
        }
    }
    return bytes;
}

std::string AppendTxtExtension(std::string_view path) {
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    const size_t dot = path.rfind('.');
    bool isTxt = false;
    if (dot != std::string_view::npos && dot >= nameStart) {
        const std::string_view ext = path.substr(dot + 1);
        if (ext.size() == 3) {
            char lower[3];
            for (size_t i = 0; i < 3; ++i) {
                const char c = ext[i];
                lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            }
            isTxt = std::string_view(lower, 3) == "txt";
        }
    }
    std::string out(path);
    if (!isTxt) out.append(".txt");
    return out;
}

}  // namespace pellory::protocol::hex
