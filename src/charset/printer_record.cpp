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

size_t AppendShownHighCharacter(std::string_view bytes, size_t pos, std::string& out) {
    PrinterState state;
    {
        std::lock_guard lock(gMutex);
        if (!gShown) return 0;
        state = gState;
    }
    if (pos >= bytes.size()) return 0;
    const auto byte = static_cast<uint8_t>(bytes[pos]);
    if (byte < 0x80) return 0;
    if (state.kanji) {
        if (pos + 1 >= bytes.size()) return 0;
        const char32_t c = TwoByteChar(byte, static_cast<uint8_t>(bytes[pos + 1]), state.kanjiSystem);
        if (c == kNoCharacter) return 0;
        AppendUtf8(out, c);
        return 2;
    }
    const char32_t c = TableOf(state.table).CharOf(byte);
    if (c == kNoCharacter) return 0;
    AppendUtf8(out, c);
    return 1;
}

void ResetPrinterRecord() {
    std::lock_guard lock(gMutex);
    gState = {};
    gShown = false;
}

}  // namespace pellory::charset
