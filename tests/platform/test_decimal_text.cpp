// The one reader of digits-only numbers (port numbers, network ports, device name numbers,
// command-line counts, the digits of the baud-rate set-up command).
#include <gtest/gtest.h>

#include <optional>
#include <string_view>

#include "platform/decimal_text.h"

namespace pellory::platform {
namespace {

TEST(DecimalText, DigitsOnlyUpToTheirLimit) {
    struct Case {
        std::string_view text;
        size_t maxDigits;
        std::optional<int32_t> value;
    };
    const Case cases[] = {
        {"0", 9, 0},
        {"007", 9, 7},
        {"123456789", 9, 123456789},
        {"999999999", 9, 999999999},
        {"1234567890", 9, std::nullopt},  // ten digits would not fit every int32_t
        {"1234567890", 12, std::nullopt},  // nor with a larger limit asked for
        {"1024", 4, 1024},
        {"01024", 4, std::nullopt},
        {"65535", 5, 65535},
        {"", 9, std::nullopt},
        {"+1", 9, std::nullopt},
        {"-1", 9, std::nullopt},
        {" 1", 9, std::nullopt},
        {"1 ", 9, std::nullopt},
        {"1a", 9, std::nullopt},
        {"1.5", 9, std::nullopt},
        {"\xd9\xa1", 9, std::nullopt},  // ARABIC-INDIC DIGIT ONE: not a decimal digit here
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadDigits(c.text, c.maxDigits), c.value) << '"' << c.text << "\" max " << c.maxDigits;
        EXPECT_EQ(AllDigits(c.text), c.value.has_value() || c.text == "1234567890" || c.text == "01024")
            << '"' << c.text << '"';
    }
    // Any length counts as digits; only the value has a limit.
    EXPECT_TRUE(AllDigits("123456789012345678901234567890"));
    static_assert(ReadDigits("42") == 42, "usable at compile time");
}

}  // namespace
}  // namespace pellory::platform
