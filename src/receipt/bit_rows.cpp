#include "receipt/bit_rows.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace pellory::receipt {

namespace {

// Each dot of a byte twice: the two bytes of the doubled dots, the first in the top byte.
constexpr std::array<uint16_t, 256> MakeDoubling() {
    std::array<uint16_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        uint16_t v = 0;
        for (int i = 0; i < 8; ++i) {
            if (b & (0x80u >> i)) v = static_cast<uint16_t>(v | (0xC000u >> (2 * i)));
        }
        t[b] = v;
    }
    return t;
}
constexpr std::array<uint16_t, 256> kDoubling = MakeDoubling();

// Eight bytes of dots as one word, the first byte on top (and back: the same swap).
uint64_t FromBigEndian(uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(v);
    return v;
}

// An 8 x 8 block of dots, row i in byte i from the top (bits 63..56 row 0), its first dot in the
// byte's top bit, turned about its diagonal: row i becomes column i.
uint64_t Transpose8(uint64_t x) {
    x = (x & 0xAA55AA55AA55AA55ull) | ((x & 0x00AA00AA00AA00AAull) << 7) | ((x >> 7) & 0x00AA00AA00AA00AAull);
    x = (x & 0xCCCC3333CCCC3333ull) | ((x & 0x0000CCCC0000CCCCull) << 14) | ((x >> 14) & 0x0000CCCC0000CCCCull);
    x = (x & 0xF0F0F0F00F0F0F0Full) | ((x & 0x00000000F0F0F0F0ull) << 28) | ((x >> 28) & 0x00000000F0F0F0F0ull);
    return x;
}

}  // namespace

void OrDots(uint8_t* dst, int limit, int x, const uint8_t* src, int count) {
    int from = 0;  // the first dot of src drawn
    if (x < 0) {
        from = -x;
        x = 0;
    }
    const int n = std::min(count - from, limit - x);
    if (n <= 0) return;
    if (from & 7) {  // hanging off the left edge by part of a byte: dot by dot (rare)
        for (int i = 0; i < n; ++i) {
            const int s = from + i, d = x + i;
            if ((src[s >> 3] >> (7 - (s & 7))) & 1) dst[d >> 3] |= static_cast<uint8_t>(0x80 >> (d & 7));
        }
        return;
    }
    const uint8_t* s = src + (from >> 3);
    uint8_t* d = dst + (x >> 3);
    const int shift = x & 7, whole = n >> 3, rest = n & 7;
    const unsigned last = rest ? s[whole] & (0xFF00u >> rest) : 0;  // dots past n are not drawn
    if (shift == 0) {
        for (int i = 0; i < whole; ++i) d[i] |= s[i];
        if (rest) d[whole] |= static_cast<uint8_t>(last);
        return;
    }
    // Every byte of dots lands in two; the second only holds dots before x + n, inside the row.
    // Eight bytes at a time while the row has nine from there.
    int i0 = 0;
    for (; i0 + 8 <= whole; i0 += 8) {
        uint64_t w;
        std::memcpy(&w, s + i0, 8);
        if (!w) continue;
        w = FromBigEndian(w);
        uint64_t out;
        std::memcpy(&out, d + i0, 8);
        out |= FromBigEndian(w >> shift);
        std::memcpy(d + i0, &out, 8);
        d[i0 + 8] |= static_cast<uint8_t>(w << (8 - shift));
    }
    for (int i = i0; i < whole; ++i) {
        d[i] |= static_cast<uint8_t>(s[i] >> shift);
        d[i + 1] |= static_cast<uint8_t>(s[i] << (8 - shift));
    }
    if (rest) {
        d[whole] |= static_cast<uint8_t>(last >> shift);
        if (const auto spill = static_cast<uint8_t>(last << (8 - shift))) d[whole + 1] |= spill;
    }
}

void DoubleDots(uint8_t* dst, const uint8_t* src, int count) {
    const int bytes = (count + 7) / 8;
    const int rest = count & 7;
    for (int i = 0; i < bytes; ++i) {
        unsigned v = src[i];
        if (i == bytes - 1 && rest) v &= 0xFF00u >> rest;
        dst[2 * i] = static_cast<uint8_t>(kDoubling[v] >> 8);
        if (2 * i + 1 < (2 * count + 7) / 8) dst[2 * i + 1] = static_cast<uint8_t>(kDoubling[v]);
    }
}

void ColumnsToRows(uint8_t* dst, size_t stride, int rows, const uint8_t* data, int columns, int columnBytes) {
    rows = std::min(rows, 8 * columnBytes);
    if (stride == 0 || rows <= 0) return;  // a picture of no columns (no rows to clear either)
    for (int r = 0; r < rows; ++r) std::memset(dst + static_cast<size_t>(r) * stride, 0, stride);
    const auto cb = static_cast<size_t>(columnBytes);
    const int fullGroups = columns / 8;
    for (int g = 0; g * 8 < columns; ++g) {
        // Eight columns side by side (fewer at the end): their bytes follow one another.
        const uint8_t* at = data + static_cast<size_t>(g) * 8 * cb;
        const int group = std::min(8, columns - g * 8);
        for (int k = 0; k * 8 < rows; ++k, ++at) {
            // The k-th byte of each column, column j in byte j from the top.
            uint64_t block;
            if (g < fullGroups) {
                block = uint64_t{at[0]} << 56 | uint64_t{at[cb]} << 48 | uint64_t{at[2 * cb]} << 40 |
                        uint64_t{at[3 * cb]} << 32 | uint64_t{at[4 * cb]} << 24 | uint64_t{at[5 * cb]} << 16 |
                        uint64_t{at[6 * cb]} << 8 | uint64_t{at[7 * cb]};
            } else {
                block = 0;
                for (int j = 0; j < group; ++j) block |= uint64_t{at[static_cast<size_t>(j) * cb]} << (56 - 8 * j);
            }
            if (!block) continue;
            block = Transpose8(block);
            uint8_t* band = dst + static_cast<size_t>(k) * 8 * stride + static_cast<size_t>(g);
            const int bandRows = std::min(8, rows - k * 8);
            for (int r = 0; r < bandRows; ++r)
                band[static_cast<size_t>(r) * stride] = static_cast<uint8_t>(block >> (56 - 8 * r));
        }
    }
}

}  // namespace pellory::receipt
