// The process-wide record of the printer's character state as this run last chose it: the "Code
// Table", "Character" and "Kanji Mode" of the "Print Setup" page (start: PC437, U.S.A., off), and
// whether text is shown and typed as the printer's characters (the "Text Print" choice "Printer
// characters") or as bytes. Written on the window thread, read from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "charset/printer_text.h"

namespace pellory::charset {

PrinterState LastPrinterState();
void RecordCodeTable(CodeTable table);
void RecordInternationalSet(uint8_t n);
void RecordKanji(bool on);

// Whether bytes 0x80-0xFF show as the printer's characters (true) or as bytes (false, the start).
bool PrinterCharactersShown();
void ShowPrinterCharacters(bool on);

// The history's "Tips" column: while printer characters are shown, appends the UTF-8 of the
// character that starts with the byte bytes[pos] (0x80-0xFF; in Chinese mode with its trail
// byte) under the recorded code table, and returns how many bytes it took. 0 (nothing appended)
// while bytes are shown as bytes, or for a byte without a character.
size_t AppendShownHighCharacter(std::string_view bytes, size_t pos, std::string& out);

// Back to the start of a run: PC437, U.S.A., Kanji Mode off, bytes shown as bytes.
void ResetPrinterRecord();

}  // namespace pellory::charset
