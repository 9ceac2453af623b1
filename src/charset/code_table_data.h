// The code tables and Kanji code systems as the C library's converters (glibc iconv) read them,
// compiled into the program so that every system prints the same characters, whether it has those
// converters or not. code_table_data.cpp is written by tools/make_code_tables.cpp from the
// converters named in code_table_list.h (build and run the target "code_tables" to write it
// again); it is data only, and nothing here opens a converter at run time.
#pragma once

#include <cstdint>
#include <span>

#include "charset/code_page_data.h"
#include "charset/code_tables.h"

namespace pellory::charset::generated {

// The upper half of a table as its converter reads it (bytes 80-FF, kNoCharacter where the
// converter has no character), or nullptr for a table without a converter in code_table_list.h.
// The Katakana table's graphics are not in it: no converter has them.
const UpperHalf* ConverterUpperHalf(CodeTable table);

// The lead bytes of the two-byte codes: 21-FE, a row each.
inline constexpr int kFirstLead = 0x21;
inline constexpr int kLeadCount = 0xFE - kFirstLead + 1;

// One lead byte's two-byte codes: the character of trail byte t, for `from` <= t <= `to`, is
// chars[at + t - from]: 0 for none (no two-byte code reads as U+0000), kBeyondPlane for a
// character past U+FFFF, which the system's list `wide` holds; a row without codes has `from` >
// `to`.
inline constexpr char16_t kBeyondPlane = 0xFFFF;  // a noncharacter: no code reads as it
struct LeadRow {
    uint32_t at;
    uint8_t from;
    uint8_t to;
};

// A character and its code in a system: a two-byte code with the lead in the high byte, or a
// byte that stands alone (below 0x100).
struct CodeOfChar {
    char16_t c;
    uint16_t code;
};
struct CodeOfWideChar {
    char32_t c;
    uint16_t code;
};

struct KanjiTables {
    std::span<const LeadRow, kLeadCount> rows;  // by lead byte, from kFirstLead
    std::span<const char16_t> chars;            // the rows' characters, one after the other
    // Every character with its code, sorted by character; a character with two codes has the
    // lower two-byte code (a single byte only when it has no two-byte code).
    std::span<const CodeOfChar> codes;
    std::span<const CodeOfWideChar> wide;  // the same for the characters past U+FFFF (a few, if any)
    const UpperHalf* singles;              // bytes 80-FF standing alone (Shift_JIS's katakana), or nullptr
};

// The tables of a Kanji code system.
const KanjiTables& KanjiTablesOf(KanjiSystem system);

}  // namespace pellory::charset::generated
