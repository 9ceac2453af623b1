#include "history/history_decoding.h"

#include <algorithm>
#include <vector>

#include "protocol/hex.h"
#include "receipt/decoding.h"

namespace pellory::app {

std::string HistoryRowDecoding(const std::string& echo) {
    const std::vector<uint8_t> bytes = protocol::hex::DigitPairs(echo);
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
    const size_t shown = std::min(bytes.size(), kTooltipHexBytes);
    std::string out;
    out.reserve(shown * 3 + 64);
    for (size_t i = 0; i < shown; ++i) {
        if (i > 0) out += (i % 16 == 0) ? '\n' : ' ';
        protocol::hex::AppendByte(out, bytes[i]);
    }
    if (bytes.size() > shown) {
        out += "\n\u2026 and " + std::to_string(bytes.size() - shown) + " more bytes";
    }
    return out;
}

}  // namespace pellory::app
