#include "receipt/characters.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace pellory::receipt {

namespace {

// Converter names of the code tables of ESC t (Page 255 and unknown tables: none).
const char* TableEncoding(uint8_t n) {
    switch (n) {
        case 0: return "CP437";
        case 2: return "CP850";
        case 3: return "CP860";
        case 4: return "CP863";
        case 5: return "CP865";
        case 16: return "CP1252";
        case 17: return "CP866";
        case 18: return "CP852";
        case 19: return "IBM858";
        default: return nullptr;
    }
}

char32_t ConvertOne(iconv_t cd, const uint8_t* bytes, size_t n) {
    char in[4];
    std::memcpy(in, bytes, n);
    char* inp = in;
    size_t inLeft = n;
    uint32_t out[2] = {0, 0};
    char* outp = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1) || outLeft == sizeof out) return 0xFFFD;
    return static_cast<char32_t>(out[0]);
}

class BuiltInDecoder : public CharacterDecoder {
public:
    BuiltInDecoder() = default;
    BuiltInDecoder(const BuiltInDecoder&) = delete;
    BuiltInDecoder& operator=(const BuiltInDecoder&) = delete;
    ~BuiltInDecoder() override {
        if (gb_ != nullptr && gb_ != reinterpret_cast<iconv_t>(-1)) iconv_close(gb_);
    }

    DecodedCharacter decode(const CharacterState& state, const uint8_t* bytes, size_t n) const override {
        const uint8_t b = bytes[0];
        if (b < 0x80) return {static_cast<char32_t>(b), 1, false};
        if (state.kanji) {
            if (n < 2) return {0xFFFD, 0, true};
            return {gbPair(bytes[0], bytes[1]), 2, true};
        }
        if (state.codeTable == 1) {  // Katakana: JIS X 0201 half-width katakana at A1..DF
            if (b >= 0xA1 && b <= 0xDF) return {static_cast<char32_t>(0xFF61 + (b - 0xA1)), 1, false};
            return {0xFFFD, 1, false};
        }
        return {upperHalf(state.codeTable)[b - 0x80], 1, false};
    }

private:
    using Half = std::array<char32_t, 128>;

    const Half& upperHalf(uint8_t table) const {
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t slot = table;
        if (!tables_[slot]) {
            auto half = std::make_unique<Half>();
            half->fill(0xFFFD);
            if (const char* name = TableEncoding(table)) {
                iconv_t cd = iconv_open("UTF-32LE", name);
                if (cd != reinterpret_cast<iconv_t>(-1)) {
                    for (int i = 0; i < 128; ++i) {
                        const uint8_t byte = static_cast<uint8_t>(0x80 + i);
                        (*half)[static_cast<size_t>(i)] = ConvertOne(cd, &byte, 1);
                    }
                    iconv_close(cd);
                }
            }
            tables_[slot] = std::move(half);
        }
        return *tables_[slot];
    }

    char32_t gbPair(uint8_t a, uint8_t b) const {
        std::lock_guard<std::mutex> lock(mutex_);
        if (gb_ == nullptr) gb_ = iconv_open("UTF-32LE", "GB18030");
        if (gb_ == reinterpret_cast<iconv_t>(-1)) return 0xFFFD;
        const uint8_t pair[2] = {a, b};
        return ConvertOne(gb_, pair, 2);
    }

    mutable std::mutex mutex_;
    mutable std::array<std::unique_ptr<Half>, 256> tables_;
    mutable iconv_t gb_ = nullptr;
};

std::mutex gDecoderMutex;
std::shared_ptr<const CharacterDecoder> gDecoder;

}  // namespace

std::shared_ptr<const CharacterDecoder> CurrentCharacterDecoder() {
    std::lock_guard<std::mutex> lock(gDecoderMutex);
    if (!gDecoder) gDecoder = std::make_shared<BuiltInDecoder>();
    return gDecoder;
}

void SetCharacterDecoder(std::shared_ptr<const CharacterDecoder> decoder) {
    std::lock_guard<std::mutex> lock(gDecoderMutex);
    gDecoder = std::move(decoder);
}

}  // namespace pellory::receipt
