// How the pages read their number fields (threshold, line space, margins, barcode width and
// height) and the numbers of their list entries: one shared reader, so that every field treats
// odd text the same way.
//
// It differs on purpose from the digits-only reader of port numbers and command-line counts
// (platform/decimal_text.h): a page takes whatever text its field holds, signed, with blanks
// around it, and reads text that is not a number as 0 instead of refusing it, as the window
// always has; its range checks then give the page's own message.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace pellory::pages {

// The signed decimal number at the start of text, after optional spaces and tabs: its value
// (past the 32-bit range saturated, so that it is refused by the range checks rather than
// wrapping, 0 without a digit) and where the number ends in text.
struct LeadingNumber {
    int32_t value = 0;
    bool hasDigits = false;
    size_t end = 0;
};

inline LeadingNumber ReadLeadingNumber(std::string_view text) {
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
    LeadingNumber out;
    out.hasDigits = i != firstDigit;
    out.end = i;
    if (negative) {
        out.value = static_cast<int32_t>(-value);  // -2^31 at the most
    } else {
        out.value = static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
    }
    return out;
}

// The value of a number field: optional spaces, an optional sign and decimal digits, optional
// spaces. Any other text (empty, "-", "12a", "1.5") reads as 0. Values past the 32-bit range
// saturate.
inline int32_t ReadFieldNumber(std::string_view text) {
    const LeadingNumber n = ReadLeadingNumber(text);
    if (!n.hasDigits) return 0;
    size_t i = n.end;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    return i == text.size() ? n.value : 0;  // something after the number: 0
}

}  // namespace pellory::pages
