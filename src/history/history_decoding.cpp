#include "history/history_decoding.h"

#include <algorithm>
#include <vector>

#include "receipt/decoding.h"

namespace pellory::app {

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
}  // namespace

std::string HistoryRowDecoding(const std::string& echo) {
    std::vector<uint8_t> bytes;
    bytes.reserve(echo.size() / 3 + 1);
    int high = -1;
    for (char c : echo) {
        const int d = HexDigit(c);
        if (d < 0) {
            high = -1;
            continue;
        }
        if (high < 0) {
            high = d;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | d));
            high = -1;
        }
    }
    return HistoryRowDecoding(std::span<const uint8_t>(bytes));
}

std::string HistoryRowDecoding(std::span<const uint8_t> bytes) {
    const std::string text = receipt::DecodeStream(bytes.data(), bytes.size(), kTooltipCommands);
    // Each line cut to kTooltipLineLimit characters (a long text run or a large image).
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (line.size() > kTooltipLineLimit) {
            size_t cut = kTooltipLineLimit;
            while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;  // UTF-8 boundary
            line = line.substr(0, cut) + "\u2026";
        }
        if (!out.empty()) out += '\n';
        out += line;
        start = end + 1;
    }
    return out;
}

std::string HistoryRowHexTooltip(std::span<const uint8_t> bytes) {
    static const char* const kDigits = "0123456789ABCDEF";
    const size_t shown = std::min(bytes.size(), kTooltipHexBytes);
    std::string out;
    out.reserve(shown * 3 + 64);
    for (size_t i = 0; i < shown; ++i) {
        if (i > 0) out += (i % 16 == 0) ? '\n' : ' ';
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0x0F];
    }
    if (bytes.size() > shown) {
        out += "\n\u2026 and " + std::to_string(bytes.size() - shown) + " more bytes";
    }
    return out;
}

}  // namespace pellory::app
