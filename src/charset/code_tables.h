// The printer's character tables: the eleven code tables of ESC t (the upper half of a byte's
// characters), the sixteen international sets of ESC R (twelve positions of the lower half) and
// the two-byte codes of the Chinese mode (FS &).
//
// The code tables and the two-byte codes come from the C library's converters (iconv), read once
// when first used; nothing here is typed in by hand except the international sets' twelve
// positions, which no converter has. Positions with no character (the "Page 255" upper half, the
// gaps of WPC1252 and Katakana) are kNoCharacter.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace pellory::charset {

// A byte (or two-byte code) that has no known character.
inline constexpr char32_t kNoCharacter = 0xFFFFFFFF;

// The code tables, by their n of ESC t.
enum class CodeTable : uint8_t {
    PC437 = 0x00,
    Katakana = 0x01,
    PC850 = 0x02,
    PC860 = 0x03,
    PC863 = 0x04,
    PC865 = 0x05,
    WPC1252 = 0x10,
    PC866 = 0x11,
    PC852 = 0x12,
    PC858 = 0x13,
    Page255 = 0xFF,
};

struct CodeTableInfo {
    CodeTable table;
    const char* caption;  // the entry of the "Code Table" list
    const char* name;     // the short name of the command line
};

// The eleven tables in the order of the "Code Table" list.
std::span<const CodeTableInfo> CodeTables();
// The table selected by ESC t n; nothing for an n no table has.
std::optional<CodeTable> CodeTableOfN(uint8_t n);
const CodeTableInfo& InfoOf(CodeTable table);

// A complete map of the 256 byte values of one code table: the lower half as ASCII, the upper half
// as the converter gives it.
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

// The map of a code table, built on first use (thread-safe) and kept for the run. A converter the
// system lacks leaves the upper half without characters; ConverterProblem says so.
const ByteTable& TableOf(CodeTable table);
// Empty when every converter the tables need opened; otherwise the name of the first one missing.
std::string ConverterProblem();

// --- international sets (ESC R n) ---------------------------------------------------------------

inline constexpr int kInternationalSetCount = 16;
// The twelve byte positions an international set replaces.
inline constexpr std::array<uint8_t, 12> kInternationalPositions = {0x23, 0x24, 0x40, 0x5B, 0x5C, 0x5D,
                                                                     0x5E, 0x60, 0x7B, 0x7C, 0x7D, 0x7E};
// The set's character at a byte below 0x80 (the ASCII character outside the twelve positions).
// A set number past 15 reads as 0 (U.S.A.).
char32_t InternationalChar(uint8_t set, uint8_t byte);

// --- the Chinese mode (GB18030, two-byte codes) -----------------------------------------------------

// The character of the two-byte code lead, trail (lead 81-FE, trail 40-7E or 80-FE), or kNoCharacter.
char32_t TwoByteChar(uint8_t lead, uint8_t trail);
// The two-byte code of a character (lead in the high byte), or nothing: a character GB18030 writes
// in four bytes (or not at all) has none.
std::optional<uint16_t> TwoByteCode(char32_t c);
// Whether lead is the first byte of a two-byte code.
constexpr bool IsLeadByte(uint8_t b) { return b >= 0x81 && b <= 0xFE; }
constexpr bool IsTrailByte(uint8_t b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

}  // namespace pellory::charset
