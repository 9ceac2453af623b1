// Hex command text: the textual form of raw printer command bytes.
//
// The Text Print page lets the user type command bytes as hexadecimal pairs ("1B 40 0A"), shows
// received bytes in the same form, and loads and saves the text as hex command files. The command
// history and the echo record of a link use the same pair form. Everything here is a plain,
// stateless function over strings of single-byte characters: one char is one byte 0..255, which is
// how the Qt fields hold the text once it is converted to Latin-1, so a round trip through a field
// never loses a byte.
//
// Written form: every byte becomes two upper-case hexadecimal digits followed by one space
// ("1B 40 "), with no line breaks.
//
// Reading: ParseHex reads by the reading rules of hex text in protocol/hex.h (ParseHexText): pairs
// of digits, separators (space, CR, LF, backspace; not tab) skipped, a pair that does not start
// with a digit dropped. So "1B40" and "1B 40" both give 1B 40, "123" gives 12 03 and "1B,40" gives
// 1B 00. Such garbage only reaches the transmit field by pasting; dropping it means it never
// turns into a byte the user did not write (in particular no stray 00 is sent to the printer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/hex.h"

namespace pellory::hextext {

// The message box shown when a loaded file breaks the hex command file rules, and its caption.
inline constexpr std::string_view kFileRejectedMessage =
    "The contents of the file does not meet the hex command mode, the import operation is canceled";
inline constexpr std::string_view kFileRejectedCaption = "Note";

// ---- Characters ---------------------------------------------------------------------------

// 0-9, a-f, A-F.
bool IsHexDigit(char c) noexcept;
// Space, CR, LF, backspace (the separators of ParseHex). Tab is not one.
bool IsSeparator(char c) noexcept;

// ---- Written form -------------------------------------------------------------------------

// Every byte as two upper-case hexadecimal digits and a space: {1B, 40} -> "1B 40 ".
std::string FormatBytes(const std::uint8_t* data, std::size_t size);
// Characters to hex: the written form of the text's character values, each taken as unsigned.
// The text is used as it stands, so a CR LF in it gives "0D 0A ".
std::string FormatBytes(std::string_view text);
// Appends the written form of the bytes to `out` (for growing texts such as the receive field).
void AppendFormattedBytes(std::string& out, const std::uint8_t* data, std::size_t size);

// ---- Reading ------------------------------------------------------------------------------

// The bytes of a hex command text by the reading rules above. Never fails.
std::vector<std::uint8_t> ParseHex(std::string_view text);

// Bytes taken as characters, ending just before the first byte of value 0 (edit fields hold no
// zero character). Used for the receive field's character display.
std::string BytesToCharacters(const std::uint8_t* data, std::size_t size);
// Hex to characters: ParseHex, then BytesToCharacters. "00 00 41" -> "", "41 00 42" -> "A".
std::string HexToCharacters(std::string_view text);

// ---- Text of the transmit field ------------------------------------------------------------

// The characters of a field text as they go to the printer in text mode: a line break "\n" that
// does not follow a "\r" becomes "\r\n"; "\r\n" is kept as it is, and so is a lone "\r".
// No terminating zero is added.
std::string TextToWireBytes(std::string_view fieldText);
// The hex form of a field text with its line breaks as CR LF: FormatBytes(TextToWireBytes(t)).
// This is what the transmit field turns into when hex mode is switched on, and what Save writes
// in text mode.
std::string FieldTextToHex(std::string_view fieldText);

// ---- Hex command files ----------------------------------------------------------------------

// The largest hex command file that is read: 64 MiB. A longer file, or an endless one (a device,
// a pipe), is refused after reading one byte past it.
inline constexpr std::size_t kHexFileSizeLimit = 64u * 1024 * 1024;

enum class HexFileStatus {
  Loaded,      // content holds the new field text (possibly empty)
  Rejected,    // a line broke the rules; show kFileRejectedMessage / kFileRejectedCaption
  CannotOpen,  // the file could not be opened or read; the page ends silently
  TooLarge,    // the file holds more than kHexFileSizeLimit bytes; nothing of it is used
};

struct HexFileResult {
  HexFileStatus status = HexFileStatus::Loaded;
  // Loaded: every kept line's characters before its first "//", then "\r\n". Otherwise empty.
  std::string content;
  // Rejected: the 1-based number of the offending line. Otherwise 0.
  std::size_t rejectedLine = 0;
};

// Applies the file rules to lines whose line ends are already removed:
//  - n = position of the first "//", or the line's length; a line with n == 0 is skipped;
//  - each of the first n characters must be a hexadecimal digit, space, CR or LF, else the whole
//    file is rejected (characters after "//" are never examined);
//  - a line whose first n characters are all spaces is skipped; any other is kept as its first
//    n characters (trailing spaces included) followed by "\r\n".
// Digit counts are not checked: "1B4" is accepted (and later parses as 1B 04).
HexFileResult ReadHexCommandLines(const std::vector<std::string>& lines);

// Splits the raw bytes of a file into lines the way a text-mode read does: a line ends at "\n";
// a "\r" directly before that "\n" belongs to the line end and is removed, every other "\r"
// stays in the line. A last line without "\n" is a line; a final "\n" does not start another.
std::vector<std::string> SplitTextLines(std::string_view fileBytes);

// ReadHexCommandLines(SplitTextLines(fileBytes)), worked out line by line without the list.
HexFileResult ReadHexCommandText(std::string_view fileBytes);

// Reads the file at `path` as text (SplitTextLines) and applies ReadHexCommandLines.
// CannotOpen when the file cannot be opened or read (missing, a directory, no permission);
// TooLarge, after reading kHexFileSizeLimit + 1 bytes at most, when it holds more than that.
HexFileResult ReadHexCommandFile(const std::filesystem::path& path);

// ---- Input filter of the hex-only transmit field ---------------------------------------------

// Whether a typed character is let through while the transmit field is in hex-only mode: the
// hexadecimal digits, space (20), backspace (08), LF (0A, Ctrl+Enter), CR (0D, Enter) and the
// editing control codes 03, 16, 18, 1A, 19 (Ctrl+C, V, X, Z, Y). Everything else is dropped.
bool IsHexModeInputAllowed(char32_t code) noexcept;

// ---- File names ------------------------------------------------------------------------------

// The save-name rule of hex text files (protocol/hex.h).
using protocol::hex::AppendTxtExtension;

}  // namespace pellory::hextext
