// How the printer turns text bytes into characters: the code table (ESC t), the international
// character set (ESC R) and the Kanji mode (FS &, FS .). The interpreter keeps that state and asks
// a CharacterDecoder for each character: by default the character module's tables (src/charset);
// SetCharacterDecoder puts another one in its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "charset/code_tables.h"
#include "protocol/model_profile.h"

namespace pellory::receipt {

struct CharacterState {
    uint8_t codeTable = protocol::ProfileOf(protocol::kStartModel).codeTable;  // n of ESC t
    uint8_t international = 0;  // n of ESC R
    bool kanji = false;         // FS & on, FS . off
    // How the Kanji mode reads bytes: the model's system until FS C selects another.
    charset::KanjiSystem kanjiSystem = charset::ModelKanjiSystem(protocol::kStartModel);
    bool operator==(const CharacterState&) const = default;
};

// The Kanji code system FS C n selects, whatever the model's: JIS (n 0 or 48) or Shift_JIS (1, 49;
// 2, 50, Shift_JIS-2004, reads as Shift_JIS); an n the command does not define keeps `current`.
// Under Shift_JIS a lead byte starts a two-byte code whether or not FS & turned the Kanji mode on
// (the other bytes read as the Kanji mode or the code table has them); JIS needs FS &. ESC @ brings
// back the model's system.
charset::KanjiSystem SystemOfFsC(charset::KanjiSystem current, uint8_t n);

// The bytes of a text run to read: with the lead byte of a Kanji pair that the end of the last
// piece cut (held, emptied here) put in front, in storage; else the run itself.
inline std::span<const uint8_t> WithHeldLead(std::vector<uint8_t>& held, const uint8_t* p, size_t n,
                                             std::vector<uint8_t>& storage) {
    if (held.empty()) return {p, n};
    storage.swap(held);
    storage.insert(storage.end(), p, p + n);
    return storage;
}

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

// The Kanji code system of the model being drawn (the start model's unless set; pellory-cli --kanji): an
// interpreter takes the one in use when it is made.
charset::KanjiSystem CurrentKanjiModel();
void SetKanjiModel(charset::KanjiSystem system);

}  // namespace pellory::receipt
