#include "receipt/characters.h"

#include <mutex>

#include "charset/code_tables.h"

namespace pellory::receipt {

namespace {

// The printer's characters from the character module: the code table of ESC t (a table number no
// table has prints no character above 0x7F), the international set of ESC R below 0x80, and the
// two-byte codes of the Kanji mode. Bytes without a character read as U+FFFD.
class PrinterCharacters : public CharacterDecoder {
public:
    DecodedCharacter decode(const CharacterState& state, const uint8_t* bytes, size_t n) const override {
        const uint8_t b = bytes[0];
        if (b < 0x80) return {Known(charset::InternationalChar(state.international, b)), 1, false};
        if (state.kanji) {
            if (n < 2) return {kUnknown, 0, true};
            return {Known(charset::TwoByteChar(b, bytes[1])), 2, true};
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

}  // namespace

std::shared_ptr<const CharacterDecoder> CurrentCharacterDecoder() {
    std::lock_guard<std::mutex> lock(gDecoderMutex);
    if (!gDecoder) gDecoder = std::make_shared<PrinterCharacters>();
    return gDecoder;
}

void SetCharacterDecoder(std::shared_ptr<const CharacterDecoder> decoder) {
    std::lock_guard<std::mutex> lock(gDecoderMutex);
    gDecoder = std::move(decoder);
}

}  // namespace pellory::receipt
