// The code tables, international sets and two-byte codes against known characters, and every
// byte of every single-byte table back and forth.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "charset/code_tables.h"
#include "charset/printer_text.h"

namespace pellory::charset {
namespace {

TEST(CodeTables, SystemHasEveryConverter) { EXPECT_EQ(ConverterProblem(), ""); }

TEST(CodeTables, ElevenTablesInListOrderWithTheirEscTValues) {
    const auto tables = CodeTables();
    ASSERT_EQ(tables.size(), 11u);
    const uint8_t ns[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x10, 0x11, 0x12, 0x13, 0xFF};
    for (size_t i = 0; i < tables.size(); ++i) {
        EXPECT_EQ(static_cast<uint8_t>(tables[i].table), ns[i]) << tables[i].caption;
        EXPECT_EQ(CodeTableOfN(ns[i]), tables[i].table);
    }
    EXPECT_EQ(CodeTableOfN(0x06), std::nullopt);
}

// The bytes of a table that have no character.
std::set<int> Gaps(CodeTable t) {
    std::set<int> gaps;
    for (int b = 0; b < 256; ++b) {
        if (TableOf(t).CharOf(static_cast<uint8_t>(b)) == kNoCharacter) gaps.insert(b);
    }
    return gaps;
}

std::set<int> Range(int from, int to) {
    std::set<int> r;
    for (int b = from; b <= to; ++b) r.insert(b);
    return r;
}

TEST(CodeTables, EveryByteRoundTripsAndOnlyTheKnownGapsHaveNoCharacter) {
    for (const CodeTableInfo& info : CodeTables()) {
        const ByteTable& table = TableOf(info.table);
        std::set<char32_t> seen;
        for (int b = 0; b < 256; ++b) {
            const auto byte = static_cast<uint8_t>(b);
            const char32_t c = table.CharOf(byte);
            if (c == kNoCharacter) continue;
            EXPECT_TRUE(seen.insert(c).second) << info.caption << ": byte " << b << " repeats a character";
            EXPECT_EQ(table.ByteOf(c), byte) << info.caption << ": byte " << b;
            // The same through the whole text functions (U.S.A. set, Kanji Mode off).
            const PrinterState state{info.table, 0, false};
            const DecodeResult d = Decode(std::string(1, static_cast<char>(byte)), state);
            ASSERT_TRUE(d.ok()) << info.caption << ": byte " << b;
            const EncodeResult e = Encode(d.text, state);
            ASSERT_TRUE(e.ok()) << info.caption << ": byte " << b;
            EXPECT_EQ(e.bytes, std::vector<uint8_t>{byte}) << info.caption;
        }
        // The lower half is ASCII in every table.
        for (int b = 0; b < 0x80; ++b) EXPECT_EQ(table.CharOf(static_cast<uint8_t>(b)), static_cast<char32_t>(b));
    }
    for (CodeTable t : {CodeTable::PC437, CodeTable::PC850, CodeTable::PC860, CodeTable::PC863, CodeTable::PC865,
                        CodeTable::PC866, CodeTable::PC852, CodeTable::PC858}) {
        EXPECT_EQ(Gaps(t), std::set<int>{}) << InfoOf(t).caption;
    }
    EXPECT_EQ(Gaps(CodeTable::WPC1252), (std::set<int>{0x81, 0x8D, 0x8F, 0x90, 0x9D}));
    // Katakana: the graphics fill 80-9F and E0-FE; A0 and FF print blank.
    EXPECT_EQ(Gaps(CodeTable::Katakana), (std::set<int>{0xA0, 0xFF}));
    EXPECT_EQ(Gaps(CodeTable::Page255), Range(0x80, 0xFF));
}

TEST(CodeTables, KnownCharacters) {
    struct Spot {
        CodeTable table;
        uint8_t byte;
        char32_t c;
    };
    const Spot spots[] = {
        {CodeTable::PC437, 0x82, U'\u00E9'},     // é
        {CodeTable::PC437, 0xE1, U'\u00DF'},     // ß
        {CodeTable::PC858, 0xD5, U'\u20AC'},     // €
        {CodeTable::PC850, 0xD5, U'\u0131'},     // ı, where PC858 has the euro
        {CodeTable::PC866, 0x80, U'\u0410'},     // А
        {CodeTable::Katakana, 0xB1, U'\uFF71'},  // ｱ
        {CodeTable::Katakana, 0x5C, U'\\'},      // ASCII, not the yen sign
        {CodeTable::WPC1252, 0x80, U'\u20AC'},   // €
        {CodeTable::WPC1252, 0x9F, U'\u0178'},   // Ÿ
        {CodeTable::PC860, 0x86, U'\u00C1'},     // Á
        {CodeTable::PC863, 0x86, U'\u00B6'},     // ¶
        {CodeTable::PC865, 0x9D, U'\u00D8'},     // Ø
        {CodeTable::PC852, 0x85, U'\u016F'},     // ů
    };
    for (const Spot& s : spots) {
        EXPECT_EQ(TableOf(s.table).CharOf(s.byte), s.c) << InfoOf(s.table).caption << " " << int(s.byte);
    }
}

TEST(InternationalSets, ReplaceTheTwelvePositionsOnly) {
    EXPECT_EQ(InternationalChar(1, 0x40), U'\u00E0');   // France: à
    EXPECT_EQ(InternationalChar(8, 0x5C), U'\u00A5');   // Japan: ¥
    EXPECT_EQ(InternationalChar(3, 0x23), U'\u00A3');   // U.K.: £
    EXPECT_EQ(InternationalChar(2, 0x7E), U'\u00DF');   // Germany: ß
    EXPECT_EQ(InternationalChar(7, 0x23), U'\u20A7');   // Spain: peseta
    EXPECT_EQ(InternationalChar(13, 0x5C), U'\u20A9');  // Korean: won
    EXPECT_EQ(InternationalChar(14, 0x40), U'\u017D');  // Slovenia / Croatia: Ž
    EXPECT_EQ(InternationalChar(15, 0x24), U'\u00A5');  // Chinese: ¥ for the dollar
    for (uint8_t set = 0; set < kInternationalSetCount; ++set) {
        for (int b = 0; b < 0x80; ++b) {
            const auto byte = static_cast<uint8_t>(b);
            const bool replaced = std::find(kInternationalPositions.begin(), kInternationalPositions.end(), byte) !=
                                  kInternationalPositions.end();
            if (!replaced) {
                EXPECT_EQ(InternationalChar(set, byte), static_cast<char32_t>(b));
            }
        }
    }
    // U.S.A. is plain ASCII; a set number past the list reads as U.S.A.
    for (uint8_t pos : kInternationalPositions) {
        EXPECT_EQ(InternationalChar(0, pos), static_cast<char32_t>(pos));
        EXPECT_EQ(InternationalChar(200, pos), static_cast<char32_t>(pos));
    }
}

TEST(TwoByteCodes, ChineseCharactersBothWays) {
    EXPECT_EQ(TwoByteCode(U'\u4E2D'), uint16_t{0xD6D0});  // 中
    EXPECT_EQ(TwoByteChar(0xD6, 0xD0), U'\u4E2D');
    EXPECT_EQ(TwoByteCode(U'\u6587'), uint16_t{0xCEC4});  // 文
    EXPECT_EQ(TwoByteCode(U'\u20AC'), uint16_t{0xA2E3});  // €
    // Characters GB18030 writes in four bytes have no two-byte code.
    EXPECT_EQ(TwoByteCode(U'\U0001F600'), std::nullopt);
    EXPECT_EQ(TwoByteCode(U'\u00E9'), uint16_t{0xA8A6});  // é, among the pinyin letters
    EXPECT_EQ(TwoByteCode(U'\u00DF'), std::nullopt);      // ß is 81 30 89 38
    EXPECT_EQ(TwoByteChar(0xD6, 0x7F), kNoCharacter);
    EXPECT_EQ(TwoByteChar(0x81, 0x30), kNoCharacter);  // the start of a four-byte code
    EXPECT_EQ(TwoByteChar(0x80, 0x40), kNoCharacter);
}

}  // namespace
}  // namespace pellory::charset
