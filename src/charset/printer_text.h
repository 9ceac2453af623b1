// Text as the printer prints it: characters to bytes and bytes to characters under the printer's
// character state (code table, international set, Chinese mode).
//
// Encoding never replaces a character: one the state cannot print refuses the whole text, and the
// refusal names the character and its position. Decoding comes in two forms: strict (the first
// byte without a character stops it, with its offset) and for display (such a byte shows as
// "\xHH").
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "charset/code_tables.h"

namespace pellory::charset {

// What decides the characters of the bytes: ESC t, ESC R and FS & / FS . .
struct PrinterState {
    CodeTable table = static_cast<CodeTable>(protocol::ProfileOf(protocol::kStartModel).codeTable);
    uint8_t internationalSet = 0;  // the n of ESC R, 0 (U.S.A.) to 15
    bool kanji = false;            // Kanji mode: bytes from 0x80 up go in two-byte codes
    KanjiSystem kanjiSystem = ModelKanjiSystem(protocol::kStartModel);  // how the Kanji mode reads them

    bool operator==(const PrinterState&) const = default;
};

// How the state's characters are called in messages: the code table's list entry, or the Kanji
// code system's ("GB18030 (Kanji Mode)"); with the international set's name when it is not U.S.A.
std::string StateName(const PrinterState& state);
// The name of international set n (the entry of the "Character" list).
const char* InternationalSetName(uint8_t n);

// A character that cannot be encoded, or a byte that cannot be decoded.
struct Refusal {
    size_t position = 0;       // encoding: the character's position, counted from 1
    char32_t character = 0;    // encoding: the character
    size_t offset = 0;         // decoding: the offset of the first bad byte, counted from 0
    uint8_t byte = 0;          // decoding: that byte
    std::string message;       // the full sentence for the user
};

struct EncodeResult {
    std::vector<uint8_t> bytes;     // empty when refused
    std::optional<Refusal> refusal;
    bool ok() const { return !refusal; }
};

struct DecodeResult {
    std::u32string text;            // empty when refused
    std::optional<Refusal> refusal;
    bool ok() const { return !refusal; }
};

// The bytes of one character under the state (one byte, or two in Chinese mode); nothing when the
// state has no code for it. Below 0x80 the international set counts (a character it moved away
// from ASCII, such as "#" under U.K., has no code); from 0x80 up the code table or, in Chinese
// mode, the two-byte codes (four-byte GB18030 codes are not taken by the printer).
std::optional<std::vector<uint8_t>> EncodeChar(char32_t c, const PrinterState& state);

// The bytes of a text. A character without a code refuses the whole text.
EncodeResult Encode(std::u32string_view text, const PrinterState& state);
// The same for UTF-8 text; a byte sequence that is not UTF-8 is refused as well (position of the
// character it would have been).
EncodeResult EncodeUtf8(std::string_view utf8, const PrinterState& state);

// The characters of bytes; the first byte (or incomplete two-byte code) without a character
// refuses them, with its offset.
DecodeResult Decode(const uint8_t* data, size_t size, const PrinterState& state);
DecodeResult Decode(std::string_view bytes, const PrinterState& state);

// UTF-8 of the characters; "\xHH" (upper-case digits) for a byte without a character.
std::string ToUtf8(std::u32string_view text);
void AppendUtf8(std::string& out, char32_t c);
void AppendHexEscape(std::string& out, uint8_t byte);
// UTF-32 of UTF-8 text; nothing when it is not valid UTF-8 (badAt, when given, gets the offset of
// the first bad byte).
std::optional<std::u32string> FromUtf8(std::string_view utf8, size_t* badAt = nullptr);

// "\"é\" (U+00E9)": a character as messages name it (a control character by its code only).
std::string CharacterName(char32_t c);

// One byte at a time: the printer's reading of a byte stream. It keeps the lead byte of a
// two-byte code until its trail comes, and (when it follows commands) keeps its state up to date
// with ESC t n, ESC R n, FS & and FS . in the stream, whose bytes then show nothing.
class StreamDecoder {
public:
    struct Piece {
        enum class Kind { Nothing, Character, Unknown };
        Kind kind = Kind::Nothing;
        char32_t character = 0;             // Character
        std::vector<uint8_t> unknownBytes;  // Unknown: the bytes that have no character
    };

    explicit StreamDecoder(PrinterState state = {}, bool followCommands = false)
        : state_(state), followCommands_(followCommands) {}

    // What the byte shows, in order: nothing for a lead byte (until its trail comes) or a byte of
    // a followed command; one piece for a character or a byte without one; two pieces when a
    // waiting lead byte turns out to have no trail (it, then the byte read anew) or when ESC or
    // FS starts no followed command (both bytes, each as itself).
    std::vector<Piece> Feed(uint8_t byte);
    // A lead byte still waiting at the end of the stream, as Unknown (or nothing). A command
    // left incomplete (ESC t without its n) shows nothing.
    std::optional<Piece> Finish();

    const PrinterState& State() const { return state_; }
    // A new state from outside (another "Print Setup" choice). A waiting lead byte stays waiting
    // while Chinese mode stays on.
    void SetState(const PrinterState& state);

private:
    Piece Single(uint8_t byte) const;

    PrinterState state_;
    bool followCommands_;
    std::optional<uint8_t> lead_;
    // Command being read: 0 none, else the bytes so far (ESC or FS, then its second byte).
    std::vector<uint8_t> command_;
};

// Bytes as display text (UTF-8) under the state, "\xHH" for bytes without a character.
std::string DisplayText(const uint8_t* data, size_t size, const PrinterState& state);

}  // namespace pellory::charset
