#include "protocol/mnemonic.h"

#include "protocol/control_bytes.h"
#include "protocol/hex.h"

namespace pellory::protocol {

std::string WriteMnemonic(const uint8_t* p, size_t n, size_t shown, bool ellipsis) {
    std::string m(ControlName(p[0] & 0x1F));
    if (n < 2) return m;
    const uint8_t f = p[1];
    m += ' ';
    if (f > 0x20 && f < 0x7F) {
        m += static_cast<char>(f);
    } else {
        hex::AppendByte(m, f);
    }
    size_t first = 2;
    // GS ( k, GS v 0 and the like: the third byte names the function, shown as its character.
    if (n > 2 && (f == '(' || (p[0] == kGs && f == 'v')) && p[2] > 0x20 && p[2] < 0x7F) {
        m += ' ';
        m += static_cast<char>(p[2]);
        first = 3;
    }
    const size_t params = n - first;
    for (size_t i = 0; i < params && i < shown; ++i) {
        m += ' ';
        hex::AppendByte(m, p[first + i]);
    }
    if (params > shown && ellipsis) m += " ...";
    return m;
}

}  // namespace pellory::protocol
