#include "link/hex_echo.h"

namespace pellory::link {

void AppendHexEcho(std::string& out, const uint8_t* data, size_t n) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (n == 0) return;
    const size_t start = out.size();
    out.resize(start + 3 * n);
    char* p = out.data() + start;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = data[i];
        p[0] = kDigits[b >> 4];
        p[1] = kDigits[b & 0x0F];
        p[2] = ' ';
        p += 3;
    }
}

}  // namespace pellory::link
