#include "charset/printer_record.h"

#include <mutex>

namespace pellory::charset {

namespace {

std::mutex gMutex;
PrinterState gState;
bool gShown = false;

}  // namespace

PrinterState LastPrinterState() {
    std::lock_guard lock(gMutex);
    return gState;
}

void RecordCodeTable(CodeTable table) {
    std::lock_guard lock(gMutex);
    gState.table = table;
}

void RecordInternationalSet(uint8_t n) {
    std::lock_guard lock(gMutex);
    if (n < kInternationalSetCount) gState.internationalSet = n;
}

void RecordKanji(bool on) {
    std::lock_guard lock(gMutex);
    gState.kanji = on;
}

bool PrinterCharactersShown() {
    std::lock_guard lock(gMutex);
    return gShown;
}

void ShowPrinterCharacters(bool on) {
    std::lock_guard lock(gMutex);
    gShown = on;
}

void ResetPrinterRecord() {
    std::lock_guard lock(gMutex);
    gState = {};
    gShown = false;
}

}  // namespace pellory::charset
