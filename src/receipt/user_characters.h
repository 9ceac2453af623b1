// The user-defined characters of ESC &: for each of the three fonts, a picture for each character
// code 32 to 126, as the printers keep them (95 per font, 285 in all, each at most a cell of its
// font: at most 3 x 95 x 12 x 3 bytes of definitions). ESC ? deletes one, ESC @ all of them; ESC %
// chooses whether they print in place of the built-in glyphs (the interpreter keeps that).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "receipt/glyphs.h"

namespace pellory::receipt {

class UserCharacters {
public:
    static constexpr uint8_t kFirst = 32;
    static constexpr uint8_t kLast = 126;
    static constexpr int kMaxColumnBytes = 3;  // y: bytes per column, a 24-dot column at most

    // Defines the characters of the whole command ESC & y c1 c2 [x d1...d(y*x)]... for `font`.
    // Refused whole (nothing defined, false) when y is not 1 to 3, c1 > c2, c1 or c2 is outside
    // 32 to 126, or an x is wider than the font's cell, as the printer cancels such a command. A
    // character's column gives its dots top down, the first byte's high bit at the top; dots below
    // the font's cell are dropped, the columns past x are white.
    bool define(int font, const uint8_t* p, size_t n);
    // ESC ? n: the character's definition in `font` is deleted (codes outside 32 to 126: nothing).
    void erase(int font, uint8_t code);
    void clear();

    // The character's picture in `font` (a whole cell of the font), or null when not defined.
    const Bitmap* find(int font, uint8_t code) const;
    // Counts the definitions changed since made: styled pictures of older ones are out of date.
    uint64_t generation() const { return generation_; }

private:
    static constexpr size_t kCodes = kLast - kFirst + 1;
    std::array<std::array<std::optional<Bitmap>, kCodes>, kFontCount> defined_{};
    uint64_t generation_ = 0;
};

}  // namespace pellory::receipt
