// The "Tips" reading of a command-history row: a short description of an echo text (groups of
// two upper-case hexadecimal digits and a space) that names the command's leading control bytes,
// or, for text data, the text itself. Free of Qt so that the command line can use it as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pellory::app {

// Name of a control byte 0x00-0x1F ("NULL" .. "US"); an empty view for any other value.
std::string_view ControlByteName(unsigned char byte);

// The reading of an echo text. The result holds raw single-byte characters: a text row gives its
// bytes back unchanged, control characters and bytes above 0x7F included.
//
// Rules, with L the length of the echo E and positions counted from 0:
//  - L = 0 gives the empty reading.
//  - E[0..1] is read as the first byte b0.
//  - b0 < 0x20: name(b0) and a space; with L <= 3 that is all. Otherwise E[3..4] is b1:
//      b1 < 0x20: name(b1), a space, then E from position 6 on;
//      else: the character b1 and a space; if E goes past position 6, E[6..7] is b2, shown as a
//      character and a space followed by E from position 9 when (b0, b1) is ESC c, ESC (, FS g,
//      FS (, GS (, GS C, GS 8, GS Q, GS g, GS v or GS z (the commands whose entry in the command
//      table carries a function byte), otherwise followed by E from position 6.
//  - b0 >= 0x20 (text data): walk E skipping spaces, CR, LF and backspaces; at every other
//    position read two characters as one byte, append it and advance by two.
//
// Any input is accepted. A "byte" at position p is read from the (at most two) characters
// available there: the leading hexadecimal digits (either case) count, reading stops at the first
// other character, and no digit at all gives 0. Nothing is read past the end of E.
std::string HistoryReading(std::string_view echo);

// The first `limit` characters of HistoryReading(echo), worked out in time proportional to
// `limit` rather than to the length of the echo. *cut (when given) tells whether the full
// reading is longer than what was returned.
std::string HistoryReadingPrefix(std::string_view echo, std::size_t limit, bool* cut = nullptr);

// The same readings worked out from the bytes sent rather than from their echo form:
// HistoryReading(bytes) == HistoryReading(echo form of bytes), and likewise for the prefix, which
// takes time proportional to `limit` however many bytes there are.
std::string HistoryReading(std::span<const std::uint8_t> bytes);
std::string HistoryReadingPrefix(std::span<const std::uint8_t> bytes, std::size_t limit, bool* cut = nullptr);

// A reading as UTF-8 text for the history list, with every byte visible:
//  - 0x20-0x7E as themselves;
//  - control characters 0x00-0x1F as the Unicode control pictures U+2400-U+241F
//    (a line feed shows as U+240A, an escape as U+241B), one narrow cell each;
//  - 0x7F as U+2421 (the picture for delete);
//  - 0x80-0xFF as "\xHH" with upper-case digits (the reading is raw bytes, not text in any
//    particular code page, so no character is guessed for them), except while the "Text Print"
//    choice "Printer characters" holds: then as the printer's characters under the last "Print
//    Setup" choices (charset::AppendShownHighCharacter), "\xHH" only where there is none.
std::string DisplayReading(std::string_view reading);

// A reading as plain 7-bit text for a terminal: bytes 0x20-0x7E as themselves except the
// backslash, which is doubled; every other byte (controls, 0x7F, 0x80-0xFF) as "\xHH" with
// upper-case digits. The result can be read back unambiguously.
std::string EscapeReading(std::string_view reading);

}  // namespace pellory::app
