// How the pages read their number fields (threshold, line space, margins, barcode width and
// height): one shared reader, so that every field treats odd text the same way.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>

namespace pellory::pages {

// The value of a number field: optional spaces, an optional sign and decimal digits, optional
// spaces. Any other text (empty, "-", "12a", "1.5") reads as 0. Values past the 32-bit range
// saturate, so that they are refused by the range checks rather than wrapping.
inline int32_t ReadFieldNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    int64_t value = 0;
    const size_t firstDigit = i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit) value = kLimit;
    }
    if (i == firstDigit) return 0;  // no digit at all
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i != text.size()) return 0;  // something after the number
    if (negative) return static_cast<int32_t>(-value);  // -2^31 at the most
    return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

}  // namespace pellory::pages
