// Hexadecimal digits and the hex text of bytes, written and read, for every place that shows or
// takes command bytes as hex: the echo form of the command history ("1B 40 "), the "Text Print"
// page's hex text, the decoding, the "Tips" reading, the \xHH escapes of unprintable bytes.
//
// Written forms use upper-case digits. The readers differ on purpose, each for the text it reads:
//  - ParseEcho: the strict echo form, every pair followed by a space or the end of the text;
//  - ParseHexText: typed or pasted hex text, by the reading rules below;
//  - LeadingByte: one byte at a position of an echo, as the "Tips" reading takes it;
//  - DigitPairs: every two digits of any text, whatever stands between them.
//
// Reading rules of hex text (ParseHexText):
//   1. Skip separators: space (20), carriage return (0D), line feed (0A) and backspace (08). Tab
//      is NOT a separator.
//   2. At the end of the text, stop.
//   3. Take the next two characters (one if only one is left). Their leading hexadecimal digits,
//      one or two, read as a hexadecimal number, give the next byte.
//   4. Advance by two, whatever the second character was, and go on at 1.
// So "1B40" and "1B 40" both give 1B 40; "123" gives 12 03; "1 B" gives 01 0B; a trailing lone
// "A" gives 0A. A pair whose first character is not a hexadecimal digit yields NO byte: both of
// its characters are consumed and nothing is produced, so garbage never turns into a byte nobody
// wrote. Example: "1B,40" gives 1B 00 ("1B", then ",4" dropped, then the lone "0").
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellory::protocol::hex {

inline constexpr char kDigits[] = "0123456789ABCDEF";

// The upper-case digit of the low four bits of v.
constexpr char Digit(unsigned v) { return kDigits[v & 0x0F]; }

namespace detail {
constexpr std::array<int8_t, 256> MakeDigitValues() {
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int c = '0'; c <= '9'; ++c) t[static_cast<size_t>(c)] = static_cast<int8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) t[static_cast<size_t>(c)] = static_cast<int8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) t[static_cast<size_t>(c)] = static_cast<int8_t>(c - 'A' + 10);
    return t;
}
inline constexpr std::array<int8_t, 256> kDigitValues = MakeDigitValues();
}  // namespace detail

// The value of a hexadecimal digit (either case), or -1 for any other character.
constexpr int DigitValue(char c) { return detail::kDigitValues[static_cast<unsigned char>(c)]; }
constexpr bool IsDigit(char c) { return DigitValue(c) >= 0; }
// The separators of hex text: space, CR, LF and backspace. Tab is not one.
constexpr bool IsSeparator(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\b'; }

// --- written forms ---

// "1B": two digits.
void AppendByte(std::string& out, uint8_t b);
std::string Byte(uint8_t b);
// "\x1B": the escape of a byte that has no character to show.
void AppendEscape(std::string& out, uint8_t b);
// The echo form: two digits and a space per byte ("1B 40 ").
void AppendEcho(std::string& out, const uint8_t* data, size_t n);
// Writes the echo form of n bytes to dst (3 n characters).
void WriteEcho(char* dst, const uint8_t* data, size_t n);
// Whether text is the echo form of the bytes, character for character.
bool IsEchoOf(std::string_view text, const uint8_t* data, size_t n);
// The bytes separated by single spaces, none after the last ("0A 1B 21").
std::string Spaced(const uint8_t* data, size_t n);

// --- readers ---

// The strict echo form: pairs of digits (either case), each followed by a space or by the end of
// the text. Nothing for any other text.
std::optional<std::vector<uint8_t>> ParseEcho(std::string_view text);
// Hex text by the reading rules above. Never fails.
std::vector<uint8_t> ParseHexText(std::string_view text);
// The byte written at pos: the leading digits of the (at most two) characters there; 0 without
// any digit or past the end.
uint8_t LeadingByte(std::string_view text, size_t pos);
// Every two digits of the text as a byte, in order; any other character drops a digit waiting for
// its partner.
std::vector<uint8_t> DigitPairs(std::string_view text);

// The save-name rule of hex text files (the Text Print page's and the history export's): if the
// extension of the file name (after the last '.' of the part after the last '/'), lower-cased, is
// not "txt", ".txt" is appended to the whole path. "report.TXT" stays, "report.dat" -> "report.dat.txt",
// "report" -> "report.txt", "dir.v2/report" -> "dir.v2/report.txt".
std::string AppendTxtExtension(std::string_view path);

}  // namespace pellory::protocol::hex
