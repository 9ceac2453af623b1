// How the printer turns text bytes into characters: the code table (ESC t), the international
// character set (ESC R) and the Kanji mode (FS &, FS .). The interpreter keeps that state and asks
// a CharacterDecoder for each character: by default the character module's tables (src/charset);
// SetCharacterDecoder puts another one in its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pellory::receipt {

struct CharacterState {
    uint8_t codeTable = 0;      // n of ESC t
    uint8_t international = 0;  // n of ESC R
    bool kanji = false;         // FS & on, FS . off
};

struct DecodedCharacter {
    char32_t ch = U'?';
    size_t length = 1;   // bytes used: 1, or 2 for a Kanji-mode character
    bool wide = false;   // takes two cells (Kanji mode)
};

class CharacterDecoder {
public:
    virtual ~CharacterDecoder() = default;
    // Decodes the character at the start of bytes[0, n) (n >= 1). Returns length 0 when the
    // bytes end inside a character that needs more (the lead byte of a Kanji pair).
    virtual DecodedCharacter decode(const CharacterState& state, const uint8_t* bytes, size_t n) const = 0;
};

// The decoder in use: the one set, else the character module's (code tables, international sets,
// two-byte GB18030 codes in Kanji mode; bytes without a character read as U+FFFD). An interpreter
// takes the decoder in use when it is made.
std::shared_ptr<const CharacterDecoder> CurrentCharacterDecoder();
void SetCharacterDecoder(std::shared_ptr<const CharacterDecoder> decoder);

}  // namespace pellory::receipt
