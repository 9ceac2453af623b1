// The code tables beyond the "Code Table" list, the Katakana graphics and the Kanji code systems:
// against the converter's own answer, asked here directly, and against characters of the
// reference's charts.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "charset/code_tables.h"
#include "charset/printer_text.h"
#include "converter_answers.h"

namespace pellory::charset {
namespace {

using test::IconvByte;
using test::SystemHas;

TEST(MoreCodeTables, EscTNumbersOfTheReference) {
    const struct {
        uint8_t n;
        std::string caption;
    } cases[] = {
        // clang-format off
        {11, "PC851(Greek)"}, {12, "PC853(Turkish)"}, {13, "PC857(Turkish)"}, {14, "PC737(Greek)"}, {15, "ISO8859-7(Greek)"},
        {16, "WPC1252"}, {20, "Thai Character Code 42"}, {26, "Thai Character Code 18"},
        {30, "TCVN-3(Vietnamese)"}, {31, "TCVN-3(Vietnamese capitals)"}, {32, "PC720(Arabic)"},
        {33, "PC775(Baltic Rim)"}, {34, "PC855(Cyrillic)"}, {35, "PC861(Icelandic)"}, {36, "PC862(Hebrew)"},
        {37, "PC864(Arabic)"}, {38, "PC869(Greek)"}, {39, "ISO8859-2(Latin 2)"}, {40, "ISO8859-15(Latin 9)"},
        {41, "PC1098(Farsi)"}, {42, "PC1118(Lithuanian)"}, {43, "PC1119(Lithuanian)"}, {44, "PC1125(Ukrainian)"},
        {45, "WPC1250(Latin 2)"}, {46, "WPC1251(Cyrillic)"}, {47, "WPC1253(Greek)"}, {48, "WPC1254(Turkish)"},
        {49, "WPC1255(Hebrew)"}, {50, "WPC1256(Arabic)"}, {51, "WPC1257(Baltic Rim)"}, {52, "WPC1258(Vietnamese)"},
        {53, "KZ-1048(Kazakhstan)"}, {255, "Page 255"},
        // clang-format on
    };
    for (const auto& c : cases) {
        const std::optional<CodeTable> t = CodeTableOfN(c.n);
        ASSERT_TRUE(t) << int(c.n);
        EXPECT_EQ(InfoOf(*t).caption, c.caption) << int(c.n);
    }
    // Every table once, each with its own n, caption and name.
    std::set<int> ns;
    std::set<std::string> names;
    for (const CodeTableInfo& info : AllCodeTables()) {
        ASSERT_NE(info.caption, nullptr);
        ASSERT_NE(info.name, nullptr);
        EXPECT_TRUE(ns.insert(static_cast<int>(info.table)).second) << info.caption;
        EXPECT_TRUE(names.insert(info.name).second) << info.caption;
    }
    EXPECT_EQ(ns.size(), 47u);
    for (int none : {6, 7, 27, 29, 54, 254}) {
        EXPECT_EQ(CodeTableOfN(static_cast<uint8_t>(none)), std::nullopt) << none;
    }
}

// Every byte of every table with a converter of its own reads as iconv reads it; a converter the
// system lacks leaves the upper half empty and is named, not a crash.
TEST(MoreCodeTables, UpperHalfIsTheConvertersOwnAnswer) {
    for (const CodeTableInfo& info : AllCodeTables()) {
        if (!info.converter || info.table == CodeTable::Katakana) continue;
        const bool present = SystemHas(info.converter);
        EXPECT_EQ(ConverterProblem(info.table),
                  present ? std::string() : std::string("the system has no ") + info.converter + " converter (iconv)");
        for (int b = 0x80; b < 0x100; ++b) {
            const auto byte = static_cast<uint8_t>(b);
            EXPECT_EQ(TableOf(info.table).CharOf(byte), IconvByte(info.converter, byte))
                << info.caption << " byte " << b;
        }
        for (int b = 0x20; b < 0x80; ++b) EXPECT_EQ(TableOf(info.table).CharOf(static_cast<uint8_t>(b)), char32_t(b));
    }
    EXPECT_EQ(ConverterProblem(), "");  // the list's tables and the Kanji systems are all there
}

TEST(MoreCodeTables, KnownCharactersOfTheCharts) {
    const struct {
        CodeTable table;
        uint8_t byte;
        char32_t c;
    } spots[] = {
        {CodeTable::PC737, 0x80, U'\u0391'},     {CodeTable::PC857, 0x98, U'\u0130'},
        {CodeTable::PC862, 0x80, U'\u05D0'},     {CodeTable::PC864, 0x80, U'\u00B0'},
        {CodeTable::WPC1250, 0x8A, U'\u0160'},   {CodeTable::WPC1251, 0xC0, U'\u0410'},
        {CodeTable::WPC1254, 0xD0, U'\u011E'},   {CodeTable::WPC1256, 0xC7, U'\u0627'},
        {CodeTable::WPC1258, 0xD0, U'\u0110'},   {CodeTable::ISO8859_7, 0xC1, U'\u0391'},
        {CodeTable::ISO8859_15, 0xA4, U'\u20AC'}, {CodeTable::Thai18, 0xA1, U'\u0E01'},
        {CodeTable::PC775, 0x80, U'\u0106'},     {CodeTable::PC855, 0x80, U'\u0452'},
        {CodeTable::KZ1048, 0xAF, U'\u04AE'},  // Kazakh Ү, where WPC1251 has Ї
        {CodeTable::PC864, 0x25, U'%'},        // ASCII below 0x80, whatever the converter says
    };
    for (const auto& s : spots) {
        EXPECT_EQ(TableOf(s.table).CharOf(s.byte), s.c) << InfoOf(s.table).caption << " " << int(s.byte);
        // And back, through the text functions.
        const EncodeResult e = Encode(std::u32string(1, s.c), PrinterState{s.table, 0, false});
        ASSERT_TRUE(e.ok()) << InfoOf(s.table).caption;
        EXPECT_EQ(e.bytes, std::vector<uint8_t>{s.byte}) << InfoOf(s.table).caption;
    }
}

// Katakana's line, block and box graphics at the positions of the reference's chart.
TEST(KatakanaGraphics, AtTheChartsPositions) {
    const struct {
        uint8_t byte;
        char32_t c;
    } spots[] = {
        {0x80, U'\u2581'}, {0x87, U'\u2588'}, {0x88, U'\u258F'}, {0x8F, U'\u253C'}, {0x90, U'\u2534'},
        {0x94, U'\u2594'}, {0x95, U'\u2500'}, {0x96, U'\u2502'}, {0x98, U'\u250C'}, {0x9B, U'\u2518'},
        {0x9C, U'\u256D'}, {0x9F, U'\u256F'}, {0xE0, U'\u2550'}, {0xE2, U'\u256A'}, {0xE4, U'\u25E2'},
        {0xE8, U'\u2660'}, {0xEC, U'\u25CF'}, {0xEE, U'\u2571'}, {0xF0, U'\u2573'}, {0xF1, U'\u5186'},
        {0xF8, U'\u3012'}, {0xFE, U'\u2592'}, {0xB1, U'\uFF71'}, {0xDF, U'\uFF9F'},
    };
    for (const auto& s : spots) {
        EXPECT_EQ(TableOf(CodeTable::Katakana).CharOf(s.byte), s.c) << int(s.byte);
        EXPECT_EQ(TableOf(CodeTable::Katakana).ByteOf(s.c), s.byte) << int(s.byte);
    }
    // A rule line typed as text goes out as byte 95.
    const EncodeResult rule = EncodeUtf8("\u2500\u2500", PrinterState{CodeTable::Katakana, 0, false});
    EXPECT_EQ(rule.bytes, (std::vector<uint8_t>{0x95, 0x95}));
}

// Each Kanji code system both ways, against codes iconv gives for the same characters.
TEST(KanjiSystems, CodesBothWays) {
    const struct {
        KanjiSystem system;
        char32_t c;
        uint16_t code;
    } cases[] = {
        {KanjiSystem::Gb18030, U'\u4E2D', 0xD6D0},  {KanjiSystem::ShiftJis, U'\u65E5', 0x93FA},
        {KanjiSystem::ShiftJis, U'\u4E2D', 0x9286}, {KanjiSystem::Jis, U'\u65E5', 0x467C},
        {KanjiSystem::Big5, U'\u4E2D', 0xA4A4},     {KanjiSystem::Big5, U'\u65E5', 0xA4E9},
        {KanjiSystem::Ksc5601, U'\uD55C', 0xC7D1},  {KanjiSystem::Ksc5601, U'\u65E5', 0xECED},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(KanjiCode(k.c, k.system), k.code) << KanjiSystemName(k.system);
        EXPECT_EQ(TwoByteChar(static_cast<uint8_t>(k.code >> 8), static_cast<uint8_t>(k.code), k.system), k.c)
            << KanjiSystemName(k.system);
        EXPECT_TRUE(IsLeadByte(static_cast<uint8_t>(k.code >> 8), k.system)) << KanjiSystemName(k.system);
    }
    // Shift_JIS keeps its half-width katakana in single bytes; its leads skip A0-DF.
    EXPECT_EQ(KanjiCode(U'\uFF71', KanjiSystem::ShiftJis), uint16_t{0xB1});
    EXPECT_EQ(SingleByteKanjiChar(0xB1, KanjiSystem::ShiftJis), U'\uFF71');
    EXPECT_FALSE(IsLeadByte(0xB1, KanjiSystem::ShiftJis));
    EXPECT_TRUE(IsLeadByte(0xE0, KanjiSystem::ShiftJis));
    EXPECT_FALSE(IsLeadByte(0x81, KanjiSystem::Ksc5601));
    // Hangul has no code in GB18030's two bytes, nor Korean-only text in Big5.
    EXPECT_EQ(KanjiCode(U'\uD55C', KanjiSystem::Gb18030), std::nullopt);
    EXPECT_EQ(KanjiCode(U'\uD55C', KanjiSystem::Big5), std::nullopt);

    // The text functions: a refusal names the system; bytes decode back.
    const PrinterState korean{CodeTable::PC437, 0, true, KanjiSystem::Ksc5601};
    const EncodeResult han = EncodeUtf8("A\uD55C", korean);
    EXPECT_EQ(han.bytes, (std::vector<uint8_t>{0x41, 0xC7, 0xD1}));
    EXPECT_EQ(Decode(han.bytes.data(), han.bytes.size(), korean).text, U"A\uD55C");
    const PrinterState big5{CodeTable::PC437, 0, true, KanjiSystem::Big5};
    const EncodeResult refused = EncodeUtf8("\uD55C", big5);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.refusal->message, "\"\uD55C\" (U+D55C) at position 1 has no two-byte code in Big5 (Kanji Mode).");
}

}  // namespace
}  // namespace pellory::charset
