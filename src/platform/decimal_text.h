// Decimal numbers in text that must be digits and nothing else: port numbers ("COM12", a
// network printer's port, the number of a device's name such as ttyUSB3), command-line values
// and the digits of the printer's baud-rate set-up command. One reader for all of them, so that
// each refuses signs, blanks and over-long numbers the same way.
//
// (The pages read their number fields and list entries otherwise, on purpose: as the window
// reads them, signed and blank-tolerant, with text that is not a number as 0; see
// pages/core/field_reader.h.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pellory::platform {

// Whether text is one or more decimal digits and nothing else (any length).
constexpr bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// The value of text made of 1 to maxDigits decimal digits and nothing else; nothing for any
// other text. maxDigits is at most 9, so that every value fits an int32_t.
constexpr std::optional<int32_t> ReadDigits(std::string_view text, size_t maxDigits = 9) {
    if (maxDigits > 9) maxDigits = 9;
    if (text.size() > maxDigits || !AllDigits(text)) return std::nullopt;
    int32_t value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    return value;
}

}  // namespace pellory::platform
