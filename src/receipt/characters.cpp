#include "receipt/characters.h"

#include <mutex>

#include "charset/code_tables.h"

namespace pellory::receipt {

namespace {

// The printer's characters from the character module: the code table of ESC t (a table number no
// table has prints no character above 0x7F), the international set of ESC R below 0x80, and the
// codes of the Kanji mode in the state's system. Bytes without a character read as U+FFFD.
class PrinterCharacters : public CharacterDecoder {
public:
    DecodedCharacter decode(const CharacterState& state, const uint8_t* bytes, size_t n) const override {
        const uint8_t b = bytes[0];
        const charset::KanjiSystem system = state.kanjiSystem;
        // Shift_JIS tells its two-byte codes by their lead bytes: they print as Kanji without FS &.
        const bool twoByte = state.kanji || system == charset::KanjiSystem::ShiftJis;
        if (twoByte && charset::IsLeadByte(b, system) && (b >= 0x80 || system == charset::KanjiSystem::Jis)) {
            if (n < 2) return {kUnknown, 0, true};
            return {Known(charset::TwoByteChar(b, bytes[1], system)), 2, true};
        }
        if (b < 0x80) return {Known(charset::InternationalChar(state.international, b)), 1, false};
        if (state.kanji) {
            // GB18030 takes every byte from 80 up as a lead byte (one without a code reads as one
            // unknown character of two bytes); the others have single bytes there.
            if (system == charset::KanjiSystem::Gb18030) {
                if (n < 2) return {kUnknown, 0, true};
                return {Known(charset::TwoByteChar(b, bytes[1])), 2, true};
            }
            return {Known(charset::SingleByteKanjiChar(b, system)), 1, false};
        }
        const std::optional<charset::CodeTable> table = charset::CodeTableOfN(state.codeTable);
        if (!table) return {kUnknown, 1, false};
        return {Known(charset::TableOf(*table).CharOf(b)), 1, false};
    }

private:
    static constexpr char32_t kUnknown = 0xFFFD;
    static char32_t Known(char32_t c) { return c == charset::kNoCharacter ? kUnknown : c; }
};

std::mutex gDecoderMutex;
std::shared_ptr<const CharacterDecoder> gDecoder;
charset::KanjiSystem gKanjiModel = charset::ModelKanjiSystem(protocol::kStartModel);

}  // namespace

charset::KanjiSystem SystemOfFsC(charset::KanjiSystem current, uint8_t n) {
    switch (n) {
        case 0: case 48: return charset::KanjiSystem::Jis;
        case 1: case 49: case 2: case 50: return charset::KanjiSystem::ShiftJis;
        default: return current;
    }
}

std::shared_ptr<const CharacterDecoder> CurrentCharacterDecoder() {
    std::lock_guard<std::mutex> lock(gDecoderMutex);
    if (!gDecoder) gDecoder = std::make_shared<PrinterCharacters>();
    return gDecoder;
}

void SetCharacterDecoder(std::shared_ptr<const CharacterDecoder> decoder) {
    std::lock_guard<std::mutex> lock(gDecoderMutex);
    gDecoder = std::move(decoder);
}

charset::KanjiSystem CurrentKanjiModel() {
    std::lock_guard<std::mutex> lock(gDecoderMutex);
    return gKanjiModel;
}

void SetKanjiModel(charset::KanjiSystem system) {
    std::lock_guard<std::mutex> lock(gDecoderMutex);
    gKanjiModel = system;
}

}  // namespace pellory::receipt
