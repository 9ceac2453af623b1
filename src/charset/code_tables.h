// The printer's character tables: the code tables of ESC t (the upper half of a byte's
// characters), the sixteen international sets of ESC R (twelve positions of the lower half) and
// the two-byte codes of the Kanji mode (FS &) in each Kanji code system.
//
// Every table is compiled in, so that every system prints the same characters: most code tables
// and the two-byte codes as the C library's converters (glibc iconv) read them, written into
// code_table_data.cpp by tools/make_code_tables.cpp; the tables the C library lacks or reads
// differently from the printers (PC853, PC857 with its euro sign, TCVN-3, PC720, PC1098, PC1118,
// PC1119, PC1125) from code_page_data.cpp. Typed in by hand are only what neither has: the
// international sets' twelve positions and the line, block and box graphics of the Katakana table
// (80-9F, E0-FF). Positions with no character (the "Page 255" upper half, the gaps of WPC1252)
// are kNoCharacter. Nothing opens a converter at run time.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "protocol/model_profile.h"

namespace pellory::charset {

// A byte (or two-byte code) that has no known character.
inline constexpr char32_t kNoCharacter = 0xFFFFFFFF;

// The code tables, by their n of ESC t (the numbers of the public ESC/POS reference).
enum class CodeTable : uint8_t {
    PC437 = 0,
    Katakana = 1,
    PC850 = 2,
    PC860 = 3,
    PC863 = 4,
    PC865 = 5,
    PC851 = 11,
    PC853 = 12,
    PC857 = 13,
    PC737 = 14,
    ISO8859_7 = 15,
    WPC1252 = 16,
    PC866 = 17,
    PC852 = 18,
    PC858 = 19,
    Thai42 = 20,
    Thai11 = 21,
    Thai13 = 22,
    Thai14 = 23,
    Thai16 = 24,
    Thai17 = 25,
    Thai18 = 26,
    Tcvn3 = 30,
    Tcvn3Capitals = 31,
    PC720 = 32,
    PC775 = 33,
    PC855 = 34,
    PC861 = 35,
    PC862 = 36,
    PC864 = 37,
    PC869 = 38,
    ISO8859_2 = 39,
    ISO8859_15 = 40,
    PC1098 = 41,
    PC1118 = 42,
    PC1119 = 43,
    PC1125 = 44,
    WPC1250 = 45,
    WPC1251 = 46,
    WPC1253 = 47,
    WPC1254 = 48,
    WPC1255 = 49,
    WPC1256 = 50,
    WPC1257 = 51,
    WPC1258 = 52,
    KZ1048 = 53,
    Page255 = 255,
};

struct CodeTableInfo {
    CodeTable table;
    const char* caption;  // the entry of the "Code Table" list, or the reference's name of the table
    const char* name;     // the short name of the command line
    const char*
        converter;  // the iconv name its compiled-in upper half was read from (nullptr: another source, or none)
};

// The eleven tables in the order of the "Code Table" list.
std::span<const CodeTableInfo> CodeTables();
// Every table the printer selects with ESC t: the eleven of the list first, then the others in
// the order of their n.
std::span<const CodeTableInfo> AllCodeTables();
// The table selected by ESC t n; nothing for an n no table has.
std::optional<CodeTable> CodeTableOfN(uint8_t n);
const CodeTableInfo& InfoOf(CodeTable table);

// A complete map of the 256 byte values of one code table: the lower half as ASCII, the upper half
// as the compiled-in data gives it.
class ByteTable {
public:
    // The character of a byte, or kNoCharacter.
    char32_t CharOf(uint8_t byte) const { return chars_[byte]; }
    // The byte of a character, or nothing. Where a character sits at two bytes, the first counts.
    std::optional<uint8_t> ByteOf(char32_t c) const;

private:
    friend struct TableBuilder;
    std::array<char32_t, 256> chars_{};
    // The upper half's characters with their bytes, sorted by character (first byte first).
    std::array<std::pair<char32_t, uint8_t>, 128> upper_{};
};

// The map of a code table, built from the compiled-in data on first use (thread-safe) and kept
// for the run.
const ByteTable& TableOf(CodeTable table);
// Why the tables of the list and the Kanji code systems, or one table (of any n), cannot be used:
// always empty, as every table is compiled in and no system can lack one. The callers that name
// a missing table keep asking, so that the answer stays in one place.
std::string ConverterProblem();
std::string ConverterProblem(CodeTable table);

// --- international sets (ESC R n) ---------------------------------------------------------------

inline constexpr int kInternationalSetCount = 16;
// The twelve byte positions an international set replaces.
inline constexpr std::array<uint8_t, 12> kInternationalPositions = {0x23, 0x24, 0x40, 0x5B, 0x5C, 0x5D,
                                                                    0x5E, 0x60, 0x7B, 0x7C, 0x7D, 0x7E};
// The set's character at a byte below 0x80 (the ASCII character outside the twelve positions).
// A set number past 15 reads as 0 (U.S.A.).
char32_t InternationalChar(uint8_t set, uint8_t byte);

// --- the Kanji mode (two-byte codes) -----------------------------------------------------------

// How the Kanji mode reads bytes. The model decides: Simplified Chinese models GB18030, Traditional
// Chinese models Big5, Korean models KS C 5601 (EUC-KR); Japanese models Shift_JIS or JIS, the
// two FS C switches between.
enum class KanjiSystem : uint8_t { Gb18030, ShiftJis, Jis, Big5, Ksc5601 };
// The system of a model's profile (protocol::KanjiCodes, enumerated in the same order).
constexpr KanjiSystem KanjiSystemOf(protocol::KanjiCodes codes) { return static_cast<KanjiSystem>(codes); }
static_assert(KanjiSystemOf(protocol::KanjiCodes::Gb18030) == KanjiSystem::Gb18030 &&
              KanjiSystemOf(protocol::KanjiCodes::ShiftJis) == KanjiSystem::ShiftJis &&
              KanjiSystemOf(protocol::KanjiCodes::Jis) == KanjiSystem::Jis &&
              KanjiSystemOf(protocol::KanjiCodes::Big5) == KanjiSystem::Big5 &&
              KanjiSystemOf(protocol::KanjiCodes::Ksc5601) == KanjiSystem::Ksc5601);
// The system a printer of model m reads its Kanji mode in until FS C selects another.
constexpr KanjiSystem ModelKanjiSystem(protocol::Model m) { return KanjiSystemOf(protocol::ProfileOf(m).kanji); }
// "GB18030", "Shift_JIS", "JIS", "Big5", "KS C 5601".
const char* KanjiSystemName(KanjiSystem system);
// Whether the system is a Japanese model's (FS C applies).
constexpr bool IsJapanese(KanjiSystem s) { return s == KanjiSystem::ShiftJis || s == KanjiSystem::Jis; }

// Whether b starts a two-byte code in the system (GB18030 81-FE; Shift_JIS 81-9F, E0-FC; JIS
// 21-7E; Big5 81-FE; KS C 5601 A1-FE).
bool IsLeadByte(uint8_t b, KanjiSystem system);
// The character of the two-byte code lead, trail, or kNoCharacter.
char32_t TwoByteChar(uint8_t lead, uint8_t trail, KanjiSystem system);
// The character of a byte that stands alone in the Kanji mode from 0x80 up (Shift_JIS: the
// half-width katakana A1-DF), or kNoCharacter.
char32_t SingleByteKanjiChar(uint8_t b, KanjiSystem system);
// The code of a character in the Kanji mode from 0x80 up: a two-byte code (lead in the high
// byte), or a single byte (below 0x100, Shift_JIS katakana); nothing when the system has none
// (GB18030: the characters it writes in four bytes).
std::optional<uint16_t> KanjiCode(char32_t c, KanjiSystem system);

// GB18030, the system of the Simplified Chinese models:
// the character of the two-byte code lead, trail (lead 81-FE, trail 40-7E or 80-FE), or kNoCharacter.
char32_t TwoByteChar(uint8_t lead, uint8_t trail);
// The two-byte code of a character (lead in the high byte), or nothing: a character GB18030 writes
// in four bytes (or not at all) has none.
std::optional<uint16_t> TwoByteCode(char32_t c);
// Whether lead is the first byte of a two-byte code.
constexpr bool IsLeadByte(uint8_t b) { return b >= 0x81 && b <= 0xFE; }
constexpr bool IsTrailByte(uint8_t b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

}  // namespace pellory::charset
