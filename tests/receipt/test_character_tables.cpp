// Text under the code tables of ESC t beyond the list, the Katakana graphics and the Kanji code
// systems, as the interpreter reads and draws it; the glyph of a character of each script.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "charset/code_tables.h"
#include "charset/printer_text.h"
#include "receipt/characters.h"
#include "receipt/decoding.h"
#include "receipt/glyphs.h"
#include "receipt_test_support.h"
#include "text_fixtures.h"

namespace pellory::receipt::test {
namespace {

const Bytes kLf = B({0x0A});

TEST(CodeTablesInStreams, EscTSelectsEveryTableByItsNumber) {
    const struct {
        uint8_t n;
        Bytes bytes;
        std::string text;
    } cases[] = {
        {1, B({0x95, 0x87, 0xB1}), "\u2500\u2588\uFF71"},   // Katakana: rule, block, katakana
        {12, B({0x9B, 0xA6, 0xF2}), "\u011D\u011E\u2113"},  // PC853: ĝ Ğ ℓ
        {13, B({0x98}), "\u0130"},                          // PC857
        {13, B({0xD5}), "\u20AC"},                          // PC857's euro sign
        {30, B({0xB5, 0xA8, 0xA7}), "\u00E0\u0103\u0110"},  // TCVN-3: à ă Đ
        {31, B({0xB5, 0xA8}), "\u00C0\u0102"},              // TCVN-3 capitals: À Ă
        {30, B({0x80}), "\uFFFD"},                          // a byte TCVN-3 has no character for
        {32, B({0xA0, 0x82}), "\u0628\u00E9"},              // PC720: ب é
        {41, B({0x80, 0xF5}), "\u060C\u06F1"},              // PC1098: ، ۱
        {42, B({0xB5, 0xE0}), "\u0104\u03B1"},              // PC1118: Ą α
        {43, B({0x80, 0xB5}), "\u0410\u0104"},              // PC1119: А Ą
        {44, B({0xF2, 0xF6}), "\u0490\u0406"},              // PC1125: Ґ І
        {14, B({0x80}), "\u0391"},                          // PC737
        {15, B({0xC1}), "\u0391"},                          // ISO8859-7
        {20, B({0xA1}), "\u0E01"},                          // Thai
        {36, B({0x80}), "\u05D0"},                          // PC862
        {46, B({0xC0}), "\u0410"},                          // WPC1251
        {50, B({0xC7}), "\u0627"},                          // WPC1256
        {52, B({0xD0}), "\u0110"},                          // WPC1258
        {53, B({0xAF}), "\u04AE"},                          // KZ-1048
        {40, B({0xA4}), "\u20AC"},                          // ISO8859-15
        {6, B({0x80}), "\uFFFD"},                           // no table 6: no character
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TextOf(Cat({B({0x1B, 0x74, c.n}), c.bytes})), c.text) << "ESC t " << int(c.n);
    }
}

// A rule line of byte 95 under Katakana joins into one unbroken line across the paper, in each
// font; byte 96 on lines one cell apart (ESC 3 at the cell's height) joins into one unbroken
// column.
TEST(CodeTablesInStreams, KatakanaRuleLinesJoin) {
    for (int font = 0; font < kFontCount; ++font) {
        const FontCell cell = kFontCells[font];
        const int count = 20;
        Bytes rule = B({0x1B, 0x74, 0x01, 0x1B, 0x4D, font});
        for (int i = 0; i < count; ++i) rule.push_back(0x95);
        const Paper p = Render(Cat({rule, kLf}));
        bool unbroken = false;
        for (int64_t y = p.firstRow(); y < p.endRow() && !unbroken; ++y) {
            int run = 0;
            for (int x = 0; x < count * cell.width; ++x) run += p.dot(x, y);
            unbroken = run == count * cell.width;
        }
        EXPECT_TRUE(unbroken) << "font " << font;
        EXPECT_LE(InkBox(p).height(), 3) << "font " << font;  // one thin line, not a box per character

        const Paper column = Render(Cat({B({0x1B, 0x74, 0x01, 0x1B, 0x4D, font, 0x1B, 0x33, cell.height}),
                                         B({0x96, 0x0A, 0x96, 0x0A, 0x96, 0x0A})}));
        const Box box = InkBox(column);
        bool joined = false;
        for (int x = box.x0; x < box.x1 && !joined; ++x) {
            int64_t run = 0;
            for (int64_t y = 0; y < 3 * cell.height; ++y) run += column.dot(x, y);
            joined = run == 3 * cell.height;
        }
        EXPECT_TRUE(joined) << "font " << font;
    }
}

// A glyph that no font has: the hollow box.
const Bitmap& NoGlyph(int cells) { return PlainGlyph(0, U'\U0010FFFD', cells); }

int Ink(const Bitmap& b) {
    int n = 0;
    for (int y = 0; y < b.height; ++y) {
        for (int x = 0; x < b.width; ++x) n += b.get(x, y);
    }
    return n;
}

// The dots of the paper's first line that differ from the glyph of c drawn in the first cell.
int DiffersFromGlyph(const Paper& p, char32_t c) {
    const Bitmap& g = PlainGlyph(0, c, 1);
    int differing = 0;
    for (int y = 0; y < g.height; ++y) {
        for (int x = 0; x < g.width; ++x) differing += g.get(x, y) != p.dot(x, y);
    }
    return differing;
}

// A byte of each compiled-in table draws as the glyph of its character, the euro sign at D5 of
// PC857 among them (not the hollow box of a byte without a character).
TEST(CompiledCodeTablesInStreams, BytesDrawAsTheirCharacters) {
    const struct {
        uint8_t n;
        uint8_t byte;
        char32_t c;
    } cases[] = {
        {13, 0xD5, U'\u20AC'}, {12, 0x9B, U'\u011D'}, {30, 0xB5, U'\u00E0'},
        {31, 0xB5, U'\u00C0'}, {32, 0xA0, U'\u0628'}, {41, 0x80, U'\u060C'},
        {42, 0xB5, U'\u0104'}, {43, 0x80, U'\u0410'}, {44, 0xF2, U'\u0490'},
    };
    ASSERT_TRUE(OutlineFontAvailable());
    for (const auto& c : cases) {
        const Paper p = Render(B({0x1B, 0x74, c.n, c.byte, 0x0A}));
        EXPECT_EQ(DiffersFromGlyph(p, c.c), 0) << "ESC t " << int(c.n) << " byte " << std::hex << int(c.byte);
        EXPECT_NE(PlainGlyph(0, c.c, 1).bits, NoGlyph(1).bits) << "ESC t " << int(c.n);
    }
}

// Every character of every compiled-in table has a glyph in the installed fonts, but for the two
// of PC1098 no installed font draws (DejaVu and WenQuanYi lack them): the heh with yeh above (EE)
// and the rial sign (BD), which print as the hollow box.
TEST(CompiledCodeTablesInStreams, EveryCharacterHasAGlyph) {
    const charset::CodeTable tables[] = {
        charset::CodeTable::PC853,         charset::CodeTable::PC857,  charset::CodeTable::Tcvn3,
        charset::CodeTable::Tcvn3Capitals, charset::CodeTable::PC720,  charset::CodeTable::PC1098,
        charset::CodeTable::PC1118,        charset::CodeTable::PC1119, charset::CodeTable::PC1125,
    };
    ASSERT_TRUE(OutlineFontAvailable());
    std::set<char32_t> missing;
    int drawn = 0;
    for (const charset::CodeTable t : tables) {
        for (int b = 0x80; b < 0x100; ++b) {
            const char32_t c = charset::TableOf(t).CharOf(static_cast<uint8_t>(b));
            if (c == charset::kNoCharacter || c == U'\u00A0' || c == U'\u00AD') continue;  // none, or blank
            const Bitmap& g = PlainGlyph(0, c, 1);
            if (g.bits == NoGlyph(1).bits || Ink(g) == 0) missing.insert(c);
            ++drawn;
        }
    }
    EXPECT_GT(drawn, 900);  // the nine tables' characters, not an empty table
    for (const char32_t c : {U'\uFBA4', U'\uFDFC'}) missing.erase(c);
    EXPECT_EQ(missing, (std::set<char32_t>{})) << missing.size() << " characters without a glyph";
}

TEST(Glyphs, EveryNewScriptIsDrawn) {
    const struct {
        char32_t c;
        int cells;
        const char* script;
    } cases[] = {
        {U'\u03A9', 1, "Greek"},        {U'\u0416', 1, "Cyrillic"},
        {U'\u05D0', 1, "Hebrew"},       {U'\u0628', 1, "Arabic"},
        {U'\uFE8F', 1, "Arabic forms"}, {U'\u0E01', 1, "Thai"},
        {U'\u1EA1', 1, "Vietnamese"},   {U'\u04AE', 1, "Kazakh"},
        {U'\u2592', 1, "shade"},        {U'\u5186', 1, "Katakana's yen"},
        {U'\u4E2D', 2, "Chinese"},      {U'\u3042', 2, "Japanese kana"},
        {U'\uD55C', 2, "Hangul"},       {U'\uFF71', 1, "half-width katakana"},
    };
    ASSERT_TRUE(OutlineFontAvailable());
    for (const auto& c : cases) {
        const Bitmap& g = PlainGlyph(0, c.c, c.cells);
        EXPECT_EQ(g.width, 12 * c.cells) << c.script;
        EXPECT_GT(Ink(g), 4) << c.script;
        EXPECT_NE(g.bits, NoGlyph(c.cells).bits) << c.script << ": drawn as the box of a missing glyph";
    }
}

// Two-byte text in each Kanji code system: read back as the characters, drawn as their glyphs
// side by side, two cells each.
TEST(KanjiSystemsInStreams, TwoByteTextReadsAndDrawsInTheModelsSystem) {
    const struct {
        charset::KanjiSystem model;
        Bytes prefix;  // FS C n where the model takes it
        Bytes codes;
        std::u32string text;
    } cases[] = {
        {charset::KanjiSystem::Gb18030, {}, B({0xD6, 0xD0, 0xCE, 0xC4}), U"\u4E2D\u6587"},
        {charset::KanjiSystem::ShiftJis, B({0x1C, 0x43, 0x01}), B({0x93, 0xFA, 0x96, 0x7B}), U"\u65E5\u672C"},
        {charset::KanjiSystem::ShiftJis, B({0x1C, 0x43, 0x00}), B({0x46, 0x7C, 0x4B, 0x5C}), U"\u65E5\u672C"},  // JIS
        {charset::KanjiSystem::Big5, {}, B({0xA4, 0xA4, 0xA4, 0xE5}), U"\u4E2D\u6587"},
        {charset::KanjiSystem::Ksc5601, {}, B({0xC7, 0xD1, 0xB1, 0xB9}), U"\uD55C\uAD6D"},
        // FS C selects the system on any model, a Korean one too.
        {charset::KanjiSystem::Ksc5601, B({0x1C, 0x43, 0x01}), B({0x93, 0xFA, 0x96, 0x7B}), U"\u65E5\u672C"},
    };
    for (const auto& c : cases) {
        const KanjiModel model(c.model);
        const Bytes stream = Cat({c.prefix, B({0x1C, 0x26}), c.codes, B({0x1C, 0x2E}), kLf});
        EXPECT_EQ(TextOf(stream), charset::ToUtf8(c.text)) << charset::KanjiSystemName(c.model);

        const Paper p = Render(stream);
        const std::vector<int> off = DotsOffTheKanjiGlyphs(p, c.text);
        for (size_t k = 0; k < off.size(); ++k) {
            EXPECT_EQ(off[k], 0) << charset::KanjiSystemName(c.model) << " character " << k;
        }
    }
}

}  // namespace
}  // namespace pellory::receipt::test
