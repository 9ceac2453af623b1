// Text under the code tables of ESC t beyond the list, the Katakana graphics and the Kanji code
// systems, as the interpreter reads and draws it; the glyph of a character of each script.
#include <gtest/gtest.h>

#include <string>

#include "charset/printer_text.h"
#include "receipt/characters.h"
#include "receipt/decoding.h"
#include "receipt/glyphs.h"
#include "receipt_test_support.h"

namespace pellory::receipt::test {
namespace {

const Bytes kLf = B({0x0A});

// The characters of the stream's text runs, as the decoding shows them.
std::string TextOf(const Bytes& stream) {
    std::string text;
    for (const DecodedCommand& c : DecodeCommands(stream.data(), stream.size())) {
        if (c.text) text += c.meaning.substr(1, c.meaning.size() - 2);
    }
    return text;
}

// The Kanji model for one test, put back afterwards.
class KanjiModel {
public:
    explicit KanjiModel(charset::KanjiSystem s) : before_(CurrentKanjiModel()) { SetKanjiModel(s); }
    ~KanjiModel() { SetKanjiModel(before_); }

private:
    charset::KanjiSystem before_;
};

TEST(CodeTablesInStreams, EscTSelectsEveryTableByItsNumber) {
    const struct {
        uint8_t n;
        Bytes bytes;
        std::string text;
    } cases[] = {
        {1, B({0x95, 0x87, 0xB1}), "\u2500\u2588\uFF71"},  // Katakana: rule, block, katakana
        {13, B({0x98}), "\u0130"},                         // PC857
        {14, B({0x80}), "\u0391"},                         // PC737
        {15, B({0xC1}), "\u0391"},                         // ISO8859-7
        {20, B({0xA1}), "\u0E01"},                         // Thai
        {36, B({0x80}), "\u05D0"},                         // PC862
        {46, B({0xC0}), "\u0410"},                         // WPC1251
        {50, B({0xC7}), "\u0627"},                         // WPC1256
        {52, B({0xD0}), "\u0110"},                         // WPC1258
        {53, B({0xAF}), "\u04AE"},                         // KZ-1048
        {40, B({0xA4}), "\u20AC"},                         // ISO8859-15
        {6, B({0x80}), "\uFFFD"},                          // no table 6: no character
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
        for (size_t k = 0; k < c.text.size(); ++k) {
            const Bitmap& g = PlainGlyph(0, c.text[k], 2);
            int differing = 0;
            for (int y = 0; y < g.height; ++y) {
                for (int x = 0; x < g.width; ++x) differing += g.get(x, y) != p.dot(static_cast<int>(24 * k) + x, y);
            }
            EXPECT_EQ(differing, 0) << charset::KanjiSystemName(c.model) << " character " << k;
        }
    }
}

}  // namespace
}  // namespace pellory::receipt::test
