// The process-wide record of the printer's character state as this run last chose it: the "Code
// Table", "Character" and "Kanji Mode" of the "Print Setup" page (start: PC437, U.S.A., off), and
// whether text is shown and typed as the printer's characters (the "Text Print" choice "Printer
// characters") or as bytes. Written on the window thread, read from any thread.
#pragma once

#include <cstdint>

#include "charset/printer_text.h"

namespace pellory::charset {

PrinterState LastPrinterState();
void RecordCodeTable(CodeTable table);
void RecordInternationalSet(uint8_t n);
void RecordKanji(bool on);

// Whether bytes 0x80-0xFF show as the printer's characters (true) or as bytes (false, the start).
bool PrinterCharactersShown();
void ShowPrinterCharacters(bool on);

// Back to the start of a run: PC437, U.S.A., Kanji Mode off, bytes shown as bytes.
void ResetPrinterRecord();

}  // namespace pellory::charset
