// The compiled-in code tables and Kanji code systems against the C library's converters (glibc
// iconv), asked here directly: every byte and two-byte code as the converter reads it, and every
// code point of Unicode to the code the converter reads as it (the first, where two codes read
// as one character) or to none, in agreement with the converter's own writing of that character.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "charset/code_tables.h"
#include "converter_answers.h"

namespace pellory::charset {
namespace {

using test::Converter;

constexpr char32_t kLastCodePoint = 0x10FFFF;
bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

std::string Hex(uint32_t v) {
    std::ostringstream s;
    s << std::hex << std::uppercase << v;
    return s.str();
}

// Disagreements over one table or system: how many, and the first few described, so that a wrong
// table fails once with examples rather than a million times.
struct Tally {
    int wrong = 0;
    std::string examples;
    // `what` describes the disagreement; it is asked only when there is one.
    template <typename Describe>
    void Check(bool ok, Describe what) {
        if (ok) return;
        if (++wrong <= 5) examples += "\n  " + what();
    }
};

// What the module holds for one table or system, asked the same way for both kinds: the
// character of a code, and the code of a character (nothing: none).
struct Codes {
    std::string name;
    const char* converter;
    bool twoBytes;  // a Kanji code system
    // The code as the converter is given it (JIS: as EUC-JP, the high bit set on both bytes).
    std::string (*bytesOf)(uint16_t code);
    // Every code the module reads, in order: single bytes, then two-byte codes.
    std::vector<uint16_t> codes;
    std::function<char32_t(uint16_t)> charOf;
    std::function<std::optional<uint16_t>(char32_t)> codeOf;
    // Codes whose character the module has from elsewhere than the converter (the Katakana graphics).
    std::function<bool(uint16_t)> ownCharacter = [](uint16_t) { return false; };
};

std::string OneByte(uint16_t code) { return std::string(1, static_cast<char>(code)); }
std::string TwoBytes(uint16_t code) {
    return code < 0x100 ? OneByte(code) : std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
}
std::string JisAsEucJp(uint16_t code) { return TwoBytes(code < 0x100 ? code : static_cast<uint16_t>(code | 0x8080)); }

std::vector<Codes> AllTablesAndSystems() {
    std::vector<Codes> all;
    for (const CodeTableInfo& info : AllCodeTables()) {
        if (!info.converter) continue;
        Codes c{info.caption, info.converter, false, OneByte, {}, {}, {}};
        for (uint16_t b = 0x80; b < 0x100; ++b) c.codes.push_back(b);
        const CodeTable table = info.table;
        c.charOf = [table](uint16_t code) { return TableOf(table).CharOf(static_cast<uint8_t>(code)); };
        c.codeOf = [table](char32_t ch) -> std::optional<uint16_t> { return TableOf(table).ByteOf(ch); };
        if (table == CodeTable::Katakana) {
            c.ownCharacter = [](uint16_t code) { return code < 0xA0 || code >= 0xE0; };
        }
        all.push_back(std::move(c));
    }
    for (const KanjiSystem system :
         {KanjiSystem::Gb18030, KanjiSystem::ShiftJis, KanjiSystem::Jis, KanjiSystem::Big5, KanjiSystem::Ksc5601}) {
        const bool jis = system == KanjiSystem::Jis;
        Codes c{KanjiSystemName(system), nullptr, true, jis ? JisAsEucJp : TwoBytes, {}, {}, {}};
        c.converter = system == KanjiSystem::Gb18030    ? "GB18030"
                      : system == KanjiSystem::ShiftJis ? "SHIFT_JIS"
                      : jis                             ? "EUC-JP"
                      : system == KanjiSystem::Big5     ? "BIG5"
                                                        : "EUC-KR";
        // Every pair of bytes from 21 to FE (JIS: to 7E, its codes being EUC-JP's less the high
        // bit), whether the system has codes there or not, then the single bytes from 80 up.
        const int last = jis ? 0x7E : 0xFE;
        for (int lead = 0x21; lead <= last; ++lead) {
            for (int trail = 0x21; trail <= last; ++trail) c.codes.push_back(static_cast<uint16_t>(lead << 8 | trail));
        }
        for (uint16_t b = 0x80; b < 0x100; ++b) c.codes.push_back(b);
        c.charOf = [system](uint16_t code) {
            return code < 0x100 ? SingleByteKanjiChar(static_cast<uint8_t>(code), system)
                                : TwoByteChar(static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code), system);
        };
        c.codeOf = [system](char32_t ch) { return KanjiCode(ch, system); };
        all.push_back(std::move(c));
    }
    return all;
}

class TablesAsConverters : public ::testing::Test {
protected:
    static void SetUpTestSuite() { all_ = new std::vector<Codes>(AllTablesAndSystems()); }
    static void TearDownTestSuite() { delete all_; }
    static const std::vector<Codes>& All() { return *all_; }

private:
    static inline std::vector<Codes>* all_ = nullptr;
};

// Every byte of each table and every code of each system in its ranges reads as its converter
// reads it; none of them is missing on this system.
TEST_F(TablesAsConverters, EveryCodeReadsAsTheConverterReadsIt) {
    EXPECT_EQ(All().size(), 37u + 5u);  // the 37 tables read from a converter and the 5 systems
    for (const Codes& t : All()) {
        Converter conv(t.converter);
        ASSERT_TRUE(conv.Open()) << t.converter;
        Tally tally;
        int characters = 0;
        for (const uint16_t code : t.codes) {
            if (t.ownCharacter(code)) continue;
            char32_t want = conv.CharOf(t.bytesOf(code));
            // A single byte of the Kanji mode that the converter passes through as a C1 control
            // character prints nothing.
            if (t.twoBytes && code < 0x100 && want >= 0x80 && want <= 0x9F) want = kNoCharacter;
            const char32_t ours = t.charOf(code);
            tally.Check(ours == want,
                        [&] { return Hex(code) + ": U+" + Hex(ours) + ", the converter U+" + Hex(want); });
            characters += want != kNoCharacter;
        }
        EXPECT_EQ(tally.wrong, 0) << t.name << tally.examples;
        EXPECT_GT(characters, t.twoBytes ? 6000 : 40) << t.name;
    }
}

// Every code point of Unicode from 80 up goes out as the first code that reads as it (two-byte
// codes before single bytes), or is refused; and the converter itself writes each character the
// module has a code for as a code that reads back as that character. (That the converter writes no
// other character as such a code follows: the codes read as the converter reads them.)
TEST_F(TablesAsConverters, EveryCodePointGoesOutAsTheConverterWritesIt) {
    for (const Codes& t : All()) {
        Converter conv(t.converter);
        ASSERT_TRUE(conv.Open()) << t.converter;
        std::map<char32_t, uint16_t> first;  // each character's first code, by the module's reading
        std::map<std::string, uint16_t> codeOfBytes;
        for (const uint16_t code : t.codes) {
            const char32_t c = t.charOf(code);
            if (c != kNoCharacter) first.emplace(c, code);
            codeOfBytes.emplace(t.bytesOf(code), code);
        }
        // The same by code point, -1 for none, for the sweep over all of them.
        std::vector<int> expected(kLastCodePoint + 1, -1);
        for (const auto& [c, code] : first) expected[c] = code;
        Tally tally;
        for (char32_t c = 0x80; c <= kLastCodePoint; ++c) {
            if (IsSurrogate(c)) continue;
            const std::optional<uint16_t> ours = t.codeOf(c);
            const int got = ours ? *ours : -1;
            tally.Check(got == expected[c], [&] {
                return "U+" + Hex(c) + ": " + (ours ? Hex(*ours) : "none") + ", expected " +
                       (expected[c] < 0 ? "none" : Hex(static_cast<uint32_t>(expected[c])));
            });
        }
        for (const auto& [c, code] : first) {
            if (t.ownCharacter(code)) continue;
            const std::string written = conv.BytesOf(c);
            const auto at = codeOfBytes.find(written);
            tally.Check(at != codeOfBytes.end() && t.charOf(at->second) == c, [&] {
                return "U+" + Hex(c) + ": the converter writes " + std::to_string(written.size()) +
                       " bytes, not a code that reads as it";
            });
        }
        EXPECT_EQ(tally.wrong, 0) << t.name << tally.examples;
    }
}

}  // namespace
}  // namespace pellory::charset
