// How the printer turns text bytes into characters: the code table (ESC t), the international
// character set (ESC R) and the Kanji mode (FS &, FS .). The interpreter keeps that state and asks
// a CharacterDecoder for each character: by default the character module's tables (src/charset);
// SetCharacterDecoder puts another one in its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "charset/code_tables.h"

namespace pellory::receipt {

struct CharacterState {
    uint8_t codeTable = 0;      // n of ESC t
    uint8_t international = 0;  // n of ESC R
    bool kanji = false;         // FS & on, FS . off
    // How the Kanji mode reads bytes: the model's system (FS C switches a Japanese model's).
    charset::KanjiSystem kanjiSystem = charset::KanjiSystem::Gb18030;
};

// The Kanji code system FS C n selects on a model whose system is `model`: JIS (n 0 or 48) or
// Shift_JIS (1, 49; 2, 50, Shift_JIS-2004, reads as Shift_JIS) on a Japanese model; other models
// keep theirs, as does an n the command does not define.
charset::KanjiSystem SystemOfFsC(charset::KanjiSystem model, charset::KanjiSystem current, uint8_t n);

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
// the Kanji mode's codes in the state's code system; bytes without a character read as U+FFFD). An interpreter
// takes the decoder in use when it is made.
std::shared_ptr<const CharacterDecoder> CurrentCharacterDecoder();
void SetCharacterDecoder(std::shared_ptr<const CharacterDecoder> decoder);

// The Kanji code system of the model being drawn (GB18030 unless set; pellory-cli --kanji): an
// interpreter takes the one in use when it is made.
charset::KanjiSystem CurrentKanjiModel();
void SetKanjiModel(charset::KanjiSystem system);

}  // namespace pellory::receipt
