// libFuzzer target for the "Tips" reading of a history row, over any text (well-formed echo rows
// and anything else). The reading's prefix form agrees with the full reading; the terminal form
// reads back to the reading; the list form is valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "history/history_reading.h"

namespace app = pellory::app;
using pellory::fuzz::Check;

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads EscapeReading's form back; nothing when it is not that form.
std::optional<std::string> Unescape(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (i + 1 < s.size() && s[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (i + 3 < s.size() && s[i + 1] == 'x' && HexValue(s[i + 2]) >= 0 && HexValue(s[i + 3]) >= 0) {
            out += static_cast<char>(HexValue(s[i + 2]) * 16 + HexValue(s[i + 3]));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

bool ValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        }
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view echo(reinterpret_cast<const char*>(data), size);
    const std::string reading = app::HistoryReading(echo);

    for (const std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{7}, reading.size(), size + 1}) {
        bool cut = false;
        const std::string prefix = app::HistoryReadingPrefix(echo, limit, &cut);
        Check(prefix == reading.substr(0, limit));
        Check(cut == (reading.size() > limit));
    }

    const std::string escaped = app::EscapeReading(reading);
    for (const char c : escaped) Check(c >= 0x20 && c <= 0x7E);
    const std::optional<std::string> back = Unescape(escaped);
    Check(back && *back == reading);

    Check(ValidUtf8(app::DisplayReading(reading)));
    return 0;
}
