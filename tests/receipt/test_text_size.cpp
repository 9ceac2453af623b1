// How big and how wide text prints: ESC ! and GS ! (the last one received sets the size), FS W
// (Kanji at double width and height), the Kanji code system of FS C, and the text modes of other
// printer families (SO, ESC SO and DC4; SI, ESC SI and DC2; ESC 4 and ESC 5). Each stream is held
// against one whose dots are known to be right: the same text in the size of GS ! alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "charset/printer_text.h"
#include "receipt/characters.h"
#include "receipt/decoding.h"
#include "receipt_test_support.h"
#include "text_fixtures.h"

namespace pellory::receipt::test {
namespace {

const Bytes kLf = B({0x0A});
const Bytes kKanjiOn = B({0x1C, 0x26});
const Bytes kKanjiOff = B({0x1C, 0x2E});
const Bytes kReset = B({0x1B, 0x40});
Bytes GsSize(int n) { return B({0x1D, 0x21, n}); }
Bytes EscMode(int n) { return B({0x1B, 0x21, n}); }

// A stream and the stream that must print the very same dots.
struct SameAs {
    const char* name;
    Bytes stream;
    Bytes expected;
};

void ExpectSameDots(const std::vector<SameAs>& cases, int width = kOrva80Dots) {
    for (const SameAs& c : cases) {
        SCOPED_TRACE(c.name);
        const Paper got = Render(c.stream, width);
        const Paper want = Render(c.expected, width);
        EXPECT_TRUE(SameDots(got, want)) << "ink " << ::testing::PrintToString(InkBox(got)) << ", expected "
                                         << ::testing::PrintToString(InkBox(want));
    }
}

// The decoding's line of the first command of `bytes`, from the mnemonic on.
std::string FirstLine(const Bytes& bytes) {
    const std::vector<DecodedCommand> d = DecodeCommands(bytes.data(), bytes.size());
    if (d.empty()) return "";
    const std::string line = FormatDecoded(d[0]);
    const size_t at = line.find("  " + d[0].mnemonic + "  ");
    return at == std::string::npos ? line : line.substr(at + 2);
}

// ---------------------------------------------------------------------------------------------
// ESC ! and GS !

TEST(CharacterSize, TheLastOfEscBangAndGsBangSetsTheSize) {
    const Bytes text = T("Size Hg");
    const Bytes row48(48, 'M');  // a full line of Font1 on 80 mm paper
    ExpectSameDots({
        {"ESC ! 00 after GS ! 33", Cat({GsSize(0x33), EscMode(0x00), text, kLf}), Cat({text, kLf})},
        {"ESC ! 00 after GS ! 33: 48 columns stay one line", Cat({GsSize(0x33), EscMode(0x00), row48, kLf}),
         Cat({row48, kLf})},
        {"ESC ! 30 after GS ! 33", Cat({GsSize(0x33), EscMode(0x30), text, kLf}), Cat({GsSize(0x11), text, kLf})},
        {"ESC ! 10 after GS ! 77", Cat({GsSize(0x77), EscMode(0x10), text, kLf}), Cat({GsSize(0x01), text, kLf})},
        {"ESC ! 20 after GS ! 02", Cat({GsSize(0x02), EscMode(0x20), text, kLf}), Cat({GsSize(0x10), text, kLf})},
        {"GS ! 00 after ESC ! 30", Cat({EscMode(0x30), GsSize(0x00), text, kLf}), Cat({text, kLf})},
        {"GS ! 23 after ESC ! 30", Cat({EscMode(0x30), GsSize(0x23), text, kLf}), Cat({GsSize(0x23), text, kLf})},
        {"GS ! 88 is out of range: GS ! 11 stays", Cat({GsSize(0x11), GsSize(0x88), text, kLf}),
         Cat({GsSize(0x11), text, kLf})},
        {"GS ! 08 is out of range: ESC ! 30 stays", Cat({EscMode(0x30), GsSize(0x08), text, kLf}),
         Cat({GsSize(0x11), text, kLf})},
        {"ESC @ after GS ! 33", Cat({GsSize(0x33), kReset, text, kLf}), Cat({text, kLf})},
        {"ESC @ after ESC ! 30", Cat({EscMode(0x30), kReset, text, kLf}), Cat({text, kLf})},
    });
}

TEST(CharacterSize, TheDecodingSaysWhatGsBangSets) {
    const struct {
        Bytes bytes;
        const char* line;
    } cases[] = {
        {GsSize(0x77), "GS ! 77  character size: width x8, height x8"},
        {GsSize(0x21), "GS ! 21  character size: width x3, height x2"},
        {GsSize(0x88), "GS ! 88  character size: 88 (out of range: ignored)"},
        {GsSize(0x0F), "GS ! 0F  character size: 0F (out of range: ignored)"},
    };
    for (const auto& c : cases) EXPECT_EQ(FirstLine(Cat({c.bytes, T("Z")})), c.line);
}

// ---------------------------------------------------------------------------------------------
// FS W

TEST(KanjiQuadruple, FsWDrawsKanjiAtDoubleWidthAndHeightUntilAnotherSizeComes) {
    const KanjiModel model(charset::KanjiSystem::Gb18030);
    const Bytes kanji = Cat({kKanjiOn, B({0xD6, 0xD0, 0xCE, 0xC4}), kKanjiOff});  // two Kanji
    const Bytes fsW1 = B({0x1C, 0x57, 0x01}), fsW0 = B({0x1C, 0x57, 0x00});
    ExpectSameDots({
        {"FS W 1", Cat({fsW1, kanji, kLf}), Cat({GsSize(0x11), kanji, kLf})},
        {"FS W 49: bit 0", Cat({B({0x1C, 0x57, 49}), kanji, kLf}), Cat({GsSize(0x11), kanji, kLf})},
        {"FS W 1 leaves single-byte text as it is", Cat({fsW1, T("Ab"), kanji, kLf}),
         Cat({T("Ab"), GsSize(0x11), kanji, kLf})},
        {"FS W 1 after GS ! 22", Cat({GsSize(0x22), fsW1, kanji, kLf}), Cat({GsSize(0x11), kanji, kLf})},
        {"GS ! 22 after FS W 1", Cat({fsW1, GsSize(0x22), kanji, kLf}), Cat({GsSize(0x22), kanji, kLf})},
        {"ESC ! 00 after FS W 1", Cat({fsW1, EscMode(0x00), kanji, kLf}), Cat({kanji, kLf})},
        {"FS W 0 after FS W 1", Cat({fsW1, fsW0, kanji, kLf}), Cat({kanji, kLf})},
        {"ESC @ after FS W 1", Cat({fsW1, kReset, kanji, kLf}), Cat({kanji, kLf})},
    });
}

// ---------------------------------------------------------------------------------------------
// FS C

TEST(KanjiCodeSystem, FsCSelectsHowTwoByteTextReadsAndDraws) {
    const Bytes sjis = B({0x93, 0xFA, 0x96, 0x7B, 0x8C, 0xEA});  // "日本語" in Shift_JIS
    const Bytes jis = B({0x46, 0x7C, 0x4B, 0x5C, 0x38, 0x6C});   // the same in JIS
    const std::u32string nihongo = U"\u65E5\u672C\u8A9E";
    const std::u32string chuwen = U"\u4E2D\u6587";
    const Bytes gb = B({0xD6, 0xD0, 0xCE, 0xC4});  // "中文" in GB18030
    const Bytes fsC1 = B({0x1C, 0x43, 0x01});
    const struct {
        const char* name;
        charset::KanjiSystem model;
        Bytes stream;
        std::u32string text;
    } cases[] = {
        {"FS C 1", charset::KanjiSystem::Gb18030, Cat({fsC1, kKanjiOn, sjis, kKanjiOff}), nihongo},
        {"FS C 49", charset::KanjiSystem::Gb18030, Cat({B({0x1C, 0x43, 49}), kKanjiOn, sjis, kKanjiOff}), nihongo},
        {"FS C 50 (Shift_JIS-2004)", charset::KanjiSystem::Gb18030, Cat({B({0x1C, 0x43, 50}), kKanjiOn, sjis}),
         nihongo},
        {"FS C 0", charset::KanjiSystem::Gb18030, Cat({B({0x1C, 0x43, 0}), kKanjiOn, jis, kKanjiOff}), nihongo},
        {"FS C 48", charset::KanjiSystem::Gb18030, Cat({B({0x1C, 0x43, 48}), kKanjiOn, jis, kKanjiOff}), nihongo},
        {"FS C 1 on a Korean model", charset::KanjiSystem::Ksc5601, Cat({fsC1, kKanjiOn, sjis}), nihongo},
        {"Shift_JIS without FS &", charset::KanjiSystem::Gb18030, Cat({fsC1, sjis}), nihongo},
        {"a Shift_JIS model without FS &", charset::KanjiSystem::ShiftJis, sjis, nihongo},
        {"FS C 7 defines nothing: the model's system stays", charset::KanjiSystem::Gb18030,
         Cat({B({0x1C, 0x43, 7}), kKanjiOn, gb}), chuwen},
        {"ESC @ brings back the model's system", charset::KanjiSystem::Gb18030, Cat({fsC1, kReset, kKanjiOn, gb}),
         chuwen},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const KanjiModel model(c.model);
        const Bytes stream = Cat({c.stream, kLf});
        EXPECT_EQ(TextOf(stream), charset::ToUtf8(c.text));
        // Drawn as the characters' glyphs side by side, two cells each.
        const Paper p = Render(stream);
        const std::vector<int> off = DotsOffTheKanjiGlyphs(p, c.text);
        for (size_t k = 0; k < off.size(); ++k) {
            EXPECT_EQ(off[k], 0) << "character " << k;
        }
    }
}

TEST(KanjiCodeSystem, TheDecodingNamesTheSystem) {
    const struct {
        int n;
        const char* line;
    } cases[] = {
        {0, "FS C 00  Kanji code system 0: JIS"},
        {49, "FS C 31  Kanji code system 49: Shift_JIS"},
        {2, "FS C 02  Kanji code system 2: Shift_JIS-2004 (read as Shift_JIS)"},
        {7, "FS C 07  Kanji code system 7 (none: ignored)"},
    };
    for (const auto& c : cases) EXPECT_EQ(FirstLine(Cat({B({0x1C, 0x43, c.n}), T("Z")})), c.line);
}

// ---------------------------------------------------------------------------------------------
// Other printer families

TEST(OtherFamilies, OneLineDoubleWidthAndCondensedAreDrawnItalicIsNot) {
    const Bytes ab = T("AbHg");
    const Bytes so = B({0x0E}), escSo = B({0x1B, 0x0E}), dc4 = B({0x14});
    const Bytes si = B({0x0F}), escSi = B({0x1B, 0x0F}), dc2 = B({0x12});
    ExpectSameDots({
        {"SO: double width", Cat({so, ab, kLf}), Cat({GsSize(0x10), ab, kLf})},
        {"ESC SO: double width", Cat({escSo, ab, kLf}), Cat({GsSize(0x10), ab, kLf})},
        {"SO over GS ! 11: twice as wide again", Cat({GsSize(0x11), so, ab, kLf}), Cat({GsSize(0x31), ab, kLf})},
        {"DC4 ends it", Cat({so, ab, dc4, ab, kLf}), Cat({GsSize(0x10), ab, GsSize(0x00), ab, kLf})},
        {"the end of the line ends it", Cat({so, ab, kLf, ab, kLf}),
         Cat({GsSize(0x10), ab, kLf, GsSize(0x00), ab, kLf})},
        {"SI: as ESC SI", Cat({si, ab, kLf}), Cat({escSi, ab, kLf})},
        {"DC2 ends condensed", Cat({escSi, dc2, ab, kLf}), Cat({ab, kLf})},
        {"ESC @ ends condensed", Cat({escSi, kReset, ab, kLf}), Cat({ab, kLf})},
        {"ESC 4: the text as it is", Cat({B({0x1B, '4'}), ab, kLf}), Cat({ab, kLf})},
        {"ESC 5: the text as it is", Cat({B({0x1B, '5'}), ab, kLf}), Cat({ab, kLf})},
    });
}

TEST(OtherFamilies, CondensedCellsAreTwoThirdsAsWideAndAsTall) {
    const Bytes text = T("MMMMMMMMMMMM");  // 12 cells
    for (const int font : {0, 1}) {
        SCOPED_TRACE("font " + std::to_string(font));
        const Bytes escM = B({0x1B, 0x4D, font});
        const FontCell cell = kFontCells[font];
        const int narrow = (2 * cell.width + 2) / 3;
        const Box plain = InkBox(Render(Cat({escM, text, kLf})));
        const Box condensed = InkBox(Render(Cat({escM, B({0x1B, 0x0F}), text, kLf})));
        ASSERT_FALSE(condensed.empty());
        EXPECT_EQ(condensed.y0, plain.y0);
        EXPECT_EQ(condensed.y1, plain.y1);
        // The last M ends within its narrow cell: eleven narrow cells and at most one more.
        EXPECT_GT(condensed.x1, 11 * narrow);
        EXPECT_LE(condensed.x1, 12 * narrow);
    }
}

TEST(OtherFamilies, EachIsTakenAtItsLengthAndTheDecodingSaysWhatIsDrawn) {
    const struct {
        Bytes bytes;
        const char* line;
    } cases[] = {
        {B({0x1B, 0x0F}), "ESC 0F  unknown; ESC/P: condensed printing on; drawn two thirds as wide until DC2"},
        {B({0x0F}), "SI  unknown; ESC/P: condensed printing on; drawn two thirds as wide until DC2"},
        {B({0x12}), "DC2  unknown; ESC/P: condensed printing off; drawn as wide as before ESC SI"},
        {B({0x0E}),
         "SO  unknown; ESC/P and Star: double width to the end of the line; drawn twice as wide until the line "
         "ends or DC4"},
        {B({0x1B, 0x0E}),
         "ESC 0E  unknown; ESC/P: double width to the end of the line; drawn twice as wide until the line ends or "
         "DC4"},
        {B({0x14}), "DC4  unknown; ESC/P and Star: double width of SO off; drawn as wide as before SO"},
        {B({0x1B, '4'}), "ESC 4  unknown; ESC/P: italic on (Star: highlight on); the text is drawn as it is"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const Bytes stream = Cat({c.bytes, T("Ab"), kLf});
        const std::vector<DecodedCommand> d = DecodeCommands(stream.data(), stream.size());
        ASSERT_EQ(d.size(), 3u);
        EXPECT_EQ(StreamLength(d[0]), c.bytes.size());
        EXPECT_EQ(FirstLine(stream), c.line);
        EXPECT_TRUE(d[1].text);
        EXPECT_EQ(d[1].meaning, "\"Ab\"");
    }
}

}  // namespace
}  // namespace pellory::receipt::test
