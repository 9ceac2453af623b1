// The echo form of bytes: two upper-case hexadecimal digits and a space per byte ("1B 40 ").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pellory::link {

// Appends the echo form of n bytes to out.
void AppendHexEcho(std::string& out, const uint8_t* data, size_t n);

inline std::string HexEcho(const uint8_t* data, size_t n) {
    std::string s;
    AppendHexEcho(s, data, n);
    return s;
}

}  // namespace pellory::link
