#include "charset/printer_text.h"

#include <algorithm>
#include <array>

#include "protocol/control_bytes.h"
#include "protocol/hex.h"

namespace pellory::charset {

namespace {

using protocol::kEsc;
using protocol::kFs;

constexpr std::array<const char*, kInternationalSetCount> kSetNames = {
    "U.S.A.", "France", "Germany",   "U.K.",       "Denmark I",     "Sweden", "Italy",              "Spain",
    "Japan",  "Norway", "Denmark II", "Spain II", "Latin America", "Korean", "Slovenia / Croatia", "Chinese"};

std::string HexByte(uint8_t b) { return protocol::hex::Byte(b); }

std::string CodePoint(char32_t c) {
    std::string digits;
    for (uint32_t v = c; v != 0 || digits.size() < 4; v >>= 4) digits.insert(digits.begin(), protocol::hex::Digit(v));
    return "U+" + digits;
}

bool IsInternationalPosition(char32_t c) {
    return c < 0x80 && std::find(kInternationalPositions.begin(), kInternationalPositions.end(),
                                 static_cast<uint8_t>(c)) != kInternationalPositions.end();
}

// Where a character sits below 0x80 under the international set, if anywhere.
std::optional<uint8_t> LowerByteOf(char32_t c, uint8_t set) {
    if (c < 0x80 && !IsInternationalPosition(c)) return static_cast<uint8_t>(c);
    for (uint8_t pos : kInternationalPositions) {
        if (InternationalChar(set, pos) == c) return pos;
    }
    return std::nullopt;
}

Refusal EncodeRefusal(char32_t c, size_t position, const PrinterState& state) {
    Refusal r;
    r.position = position;
    r.character = c;
    if (state.kanji && c >= 0x80 && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) {
        r.message = CharacterName(c) + " at position " + std::to_string(position) + " has no two-byte code in " +
                    KanjiSystemName(state.kanjiSystem) + " (Kanji Mode)" +
                    (state.kanjiSystem == KanjiSystem::Gb18030 ? "; the printer takes no four-byte codes." : ".");
    } else {
        r.message = CharacterName(c) + " at position " + std::to_string(position) + " cannot be printed with " +
                    StateName(state) + ".";
    }
    return r;
}

Refusal DecodeRefusal(uint8_t byte, size_t offset, const PrinterState& state) {
    Refusal r;
    r.offset = offset;
    r.byte = byte;
    r.message = "Byte " + HexByte(byte) + " at offset " + std::to_string(offset) + " is not a character of " +
                StateName(state) + ".";
    return r;
}

}  // namespace

const char* InternationalSetName(uint8_t n) { return n < kSetNames.size() ? kSetNames[n] : kSetNames[0]; }

std::string StateName(const PrinterState& state) {
    std::string name = state.kanji ? std::string(KanjiSystemName(state.kanjiSystem)) + " (Kanji Mode)"
                                   : std::string(InfoOf(state.table).caption);
    if (state.internationalSet != 0 && state.internationalSet < kInternationalSetCount) {
        name += std::string(" and the character set ") + InternationalSetName(state.internationalSet);
    }
    return name;
}

std::string CharacterName(char32_t c) {
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return "the character " + CodePoint(c);
    }
    std::string out = "\"";
    AppendUtf8(out, c);
    return out + "\" (" + CodePoint(c) + ")";
}

namespace {

// Appends the code of c under the state; false (nothing appended) when it has none.
bool AppendCode(char32_t c, const PrinterState& state, std::vector<uint8_t>& out) {
    if (const std::optional<uint8_t> low = LowerByteOf(c, state.internationalSet)) {
        out.push_back(*low);
        return true;
    }
    if (state.kanji) {
        const std::optional<uint16_t> code = KanjiCode(c, state.kanjiSystem);
        if (!code) return false;
        if (*code > 0xFF) out.push_back(static_cast<uint8_t>(*code >> 8));
        out.push_back(static_cast<uint8_t>(*code & 0xFF));
        return true;
    }
    const std::optional<uint8_t> b = TableOf(state.table).ByteOf(c);
    if (!b || *b < 0x80) return false;
    out.push_back(*b);
    return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> EncodeChar(char32_t c, const PrinterState& state) {
    std::vector<uint8_t> code;
    if (!AppendCode(c, state, code)) return std::nullopt;
    return code;
}

EncodeResult Encode(std::u32string_view text, const PrinterState& state) {
    EncodeResult result;
    result.bytes.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (!AppendCode(text[i], state, result.bytes)) {
            result.bytes.clear();
            result.refusal = EncodeRefusal(text[i], i + 1, state);
            return result;
        }
    }
    return result;
}

EncodeResult EncodeUtf8(std::string_view utf8, const PrinterState& state) {
    size_t badAt = 0;
    const std::optional<std::u32string> text = FromUtf8(utf8, &badAt);
    if (!text) {
        // The position of the character the bad byte would have started.
        const std::optional<std::u32string> before = FromUtf8(utf8.substr(0, badAt));
        EncodeResult result;
        Refusal r;
        r.position = (before ? before->size() : 0) + 1;
        r.offset = badAt;
        r.byte = static_cast<uint8_t>(utf8[badAt]);
        r.message = "The text is not UTF-8: byte " + HexByte(r.byte) + " at position " + std::to_string(r.position) +
                    " starts no character.";
        result.refusal = std::move(r);
        return result;
    }
    return Encode(*text, state);
}

DecodeResult Decode(const uint8_t* data, size_t size, const PrinterState& state) {
    DecodeResult result;
    result.text.reserve(size);
    const ByteTable& table = TableOf(state.table);
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = data[i];
        char32_t c = kNoCharacter;
        if (b < 0x80) {
            c = InternationalChar(state.internationalSet, b);
        } else if (!state.kanji) {
            c = table.CharOf(b);
        } else if (!IsLeadByte(b, state.kanjiSystem)) {
            c = SingleByteKanjiChar(b, state.kanjiSystem);
        } else if (i + 1 < size) {
            c = TwoByteChar(b, data[i + 1], state.kanjiSystem);
            if (c != kNoCharacter) ++i;
        }
        if (c == kNoCharacter) {
            result.text.clear();
            result.refusal = DecodeRefusal(b, i, state);
            return result;
        }
        result.text.push_back(c);
    }
    return result;
}

DecodeResult Decode(std::string_view bytes, const PrinterState& state) {
    return Decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), state);
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendHexEscape(std::string& out, uint8_t byte) {
    out += "\\x";
    out += HexByte(byte);
}

std::string ToUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) AppendUtf8(out, c);
    return out;
}

std::optional<std::u32string> FromUtf8(std::string_view utf8, size_t* badAt) {
    std::u32string out;
    out.reserve(utf8.size());
    size_t i = 0;
    auto fail = [&](size_t at) -> std::optional<std::u32string> {
        if (badAt) *badAt = at;
        return std::nullopt;
    };
    while (i < utf8.size()) {
        const auto b0 = static_cast<uint8_t>(utf8[i]);
        size_t n = 0;
        char32_t c = 0;
        char32_t min = 0;
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        } else if ((b0 & 0xE0) == 0xC0) {
            n = 1, c = b0 & 0x1Fu, min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            n = 2, c = b0 & 0x0Fu, min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            n = 3, c = b0 & 0x07u, min = 0x10000;
        } else {
            return fail(i);
        }
        if (i + n >= utf8.size()) return fail(i);
        for (size_t k = 1; k <= n; ++k) {
            const auto b = static_cast<uint8_t>(utf8[i + k]);
            if ((b & 0xC0) != 0x80) return fail(i);
            c = (c << 6) | (b & 0x3Fu);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return fail(i);
        out.push_back(c);
        i += n + 1;
    }
    return out;
}

// --- the stream -------------------------------------------------------------------------------

StreamDecoder::Piece StreamDecoder::Single(uint8_t byte) const {
    Piece p;
    char32_t c = kNoCharacter;
    if (byte < 0x80) {
        c = InternationalChar(state_.internationalSet, byte);
    } else if (!state_.kanji) {
        c = TableOf(state_.table).CharOf(byte);
    } else {
        c = SingleByteKanjiChar(byte, state_.kanjiSystem);
    }
    if (c == kNoCharacter) {
        p.kind = Piece::Kind::Unknown;
        p.unknownBytes = {byte};
    } else {
        p.kind = Piece::Kind::Character;
        p.character = c;
    }
    return p;
}

std::vector<StreamDecoder::Piece> StreamDecoder::Feed(uint8_t byte) {
    std::vector<Piece> out;
    if (lead_) {
        const uint8_t lead = *lead_;
        lead_.reset();
        const char32_t c = TwoByteChar(lead, byte, state_.kanjiSystem);
        if (c != kNoCharacter) {
            Piece p;
            p.kind = Piece::Kind::Character;
            p.character = c;
            out.push_back(std::move(p));
            return out;
        }
        Piece bad;
        bad.kind = Piece::Kind::Unknown;
        bad.unknownBytes = {lead};
        out.push_back(std::move(bad));
    }
    if (followCommands_) {
        if (!command_.empty()) {
            command_.push_back(byte);
            const uint8_t first = command_[0];
            const uint8_t second = command_[1];
            if (command_.size() == 2) {
                if (first == kFs && (second == '&' || second == '.')) {
                    state_.kanji = second == '&';
                    command_.clear();
                    return out;
                }
                if (first == kEsc && (second == 't' || second == 'R')) return out;  // the n follows
                // Not a followed command: both bytes as themselves.
                command_.clear();
                out.push_back(Single(first));
                if (byte == kEsc || byte == kFs) {
                    command_.push_back(byte);
                } else {
                    for (Piece& p : Feed(byte)) out.push_back(std::move(p));
                }
                return out;
            }
            // ESC t n or ESC R n.
            if (second == 't') {
                if (const std::optional<CodeTable> t = CodeTableOfN(byte)) state_.table = *t;
            } else if (byte < kInternationalSetCount) {
                state_.internationalSet = byte;
            }
            command_.clear();
            return out;
        }
        if (byte == kEsc || byte == kFs) {
            command_.push_back(byte);
            return out;
        }
    }
    if (state_.kanji && byte >= 0x80) {
        if (IsLeadByte(byte, state_.kanjiSystem)) {
            lead_ = byte;
        } else if (SingleByteKanjiChar(byte, state_.kanjiSystem) != kNoCharacter) {
            out.push_back(Single(byte));
        } else {
            Piece bad;
            bad.kind = Piece::Kind::Unknown;
            bad.unknownBytes = {byte};
            out.push_back(std::move(bad));
        }
        return out;
    }
    out.push_back(Single(byte));
    return out;
}

std::optional<StreamDecoder::Piece> StreamDecoder::Finish() {
    std::optional<Piece> out;
    if (lead_) {
        Piece bad;
        bad.kind = Piece::Kind::Unknown;
        bad.unknownBytes = {*lead_};
        lead_.reset();
        out = std::move(bad);
    }
    return out;
}

void StreamDecoder::SetState(const PrinterState& state) {
    if (!state.kanji) lead_.reset();
    state_ = state;
}

std::string DisplayText(const uint8_t* data, size_t size, const PrinterState& state) {
    std::string out;
    out.reserve(size);
    StreamDecoder decoder(state);
    auto show = [&out](const StreamDecoder::Piece& p) {
        if (p.kind == StreamDecoder::Piece::Kind::Character) {
            AppendUtf8(out, p.character);
        } else if (p.kind == StreamDecoder::Piece::Kind::Unknown) {
            for (uint8_t b : p.unknownBytes) AppendHexEscape(out, b);
        }
    };
    for (size_t i = 0; i < size; ++i) {
        for (const StreamDecoder::Piece& p : decoder.Feed(data[i])) show(p);
    }
    if (const auto rest = decoder.Finish()) show(*rest);
    return out;
}

}  // namespace pellory::charset
