// User-defined characters (ESC &, ESC %, ESC ?) and the standard mode's orientation and print area
// (ESC {, ESC V, ESC e, ESC K, GS L, GS W, ESC G), checked by what they mean on the paper.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "receipt/decoding.h"
#include "receipt_test_support.h"

#ifndef PELLORY_ESCPOS_CORPUS
#error "PELLORY_ESCPOS_CORPUS names the folder of the streams"
#endif

namespace pellory::receipt::test {
namespace {

const Bytes kLf = B({0x0A});
const Bytes kUserOn = B({0x1B, 0x25, 0x01});

Bytes RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
    return b;
}

// ESC & y c c x d1...d(y*x): one character.
Bytes Define(uint8_t code, int y, int x, const Bytes& data) { return Cat({B({0x1B, 0x26, y, code, code, x}), data}); }

// The dot of a definition's column data (y bytes per column, high bit on top).
bool DefinedDot(const Bytes& data, int y, int x, int column, int row) {
    if (column >= x || row >= 8 * y) return false;
    return (data[static_cast<size_t>(column * y + row / 8)] >> (7 - row % 8)) & 1;
}

// ---------------------------------------------------------------------------------------------
// User-defined characters

TEST(UserCharacters, DotsAreWhereTheBitsSayInEveryFontAndTextMode) {
    struct Mode {
        const char* name;
        Bytes bytes;
        int sx, sy;
        bool bold;
        int underline;
        bool reverse;
    };
    const Mode modes[] = {
        {"plain", {}, 1, 1, false, 0, false},
        {"ESC ! double width and height", B({0x1B, 0x21, 0x30}), 2, 2, false, 0, false},
        {"GS ! 3 x 2", B({0x1D, 0x21, 0x21}), 3, 2, false, 0, false},
        {"GS ! 8 x 8", B({0x1D, 0x21, 0x77}), 8, 8, false, 0, false},
        {"ESC E emphasized", B({0x1B, 0x45, 0x01}), 1, 1, true, 0, false},
        {"ESC G double-strike", B({0x1B, 0x47, 0x01}), 1, 1, true, 0, false},
        {"ESC - 2 underline", B({0x1B, 0x2D, 0x02}), 1, 1, false, 2, false},
        {"GS B reverse", B({0x1D, 0x42, 0x01}), 1, 1, false, 0, true},
    };
    for (int font = 0; font < kFontCount; ++font) {
        const FontCell cell = kFontCells[font];
        for (const int x : {cell.width, cell.width - 3}) {
            for (const Mode& m : modes) {
                SCOPED_TRACE(std::string(m.name) + ", font " + std::to_string(font) + ", x " + std::to_string(x));
                const Bytes data = RandomBytes(static_cast<size_t>(3 * x), static_cast<unsigned>(font * 100 + x));
                // The mode first: ESC ! chooses the font too (bit 0), ESC M after it the one wanted.
                const Paper p = Render(
                    Cat({m.bytes, B({0x1B, 0x4D, font}), Define('A', 3, x, data), kUserOn, T("A"), kLf}), kOrva80Dots);
                const auto cellDot = [&](int c, int r) {
                    bool on = DefinedDot(data, 3, x, c, r) && r < cell.height;
                    if (m.bold && c > 0) on = on || (DefinedDot(data, 3, x, c - 1, r) && r < cell.height);
                    if (r >= cell.height - m.underline) on = true;
                    return m.reverse ? !on : on;
                };
                size_t ink = 0;
                for (int r = 0; r < cell.height * m.sy; ++r) {
                    for (int c = 0; c < cell.width * m.sx; ++c) {
                        const bool expected = cellDot(c / m.sx, r / m.sy);
                        ink += expected;
                        ASSERT_EQ(p.dot(c, r), expected) << "at " << c << "," << r;
                    }
                }
                EXPECT_EQ(p.inkDots(), ink);  // nothing outside the cell
            }
        }
    }
}

TEST(UserCharacters, TheBuiltInGlyphComesBackWhereNoneIsInForce) {
    // Each case: definitions, ESC % 1, more commands, then the character; against the definitions
    // and the character alone (the built-in glyph, whatever the definitions' bytes print).
    const Bytes black = Define('A', 3, 12, Bytes(36, 0xFF));  // Font1: the whole cell black
    struct Case {
        const char* name;
        Bytes definitions, after;
        const char* text;
        bool builtIn;
    };
    const Case cases[] = {
        {"ESC % 1 prints the definition", black, {}, "A", false},
        {"ESC % 0 after ESC % 1", black, B({0x1B, 0x25, 0x00}), "A", true},
        {"ESC % 48 after ESC % 1", black, B({0x1B, 0x25, 0x30}), "A", true},
        {"ESC ? deletes it", black, B({0x1B, 0x3F, 'A'}), "A", true},
        {"ESC ? of another code keeps it", black, B({0x1B, 0x3F, 'B'}), "A", false},
        {"ESC @ clears it", black, Cat({B({0x1B, 0x40}), kUserOn}), "A", true},
        {"defined for Font2, printed in Font1",
         Cat({B({0x1B, 0x4D, 1}), Define('A', 3, 9, Bytes(27, 0xFF)), B({0x1B, 0x4D, 0})}),
         {},
         "A",
         true},
        {"wider than the cell of Font2: refused",
         Cat({B({0x1B, 0x4D, 1}), Define('A', 3, 10, Bytes(30, 0xFF))}),
         {},
         "A",
         true},
        {"wider than any cell: refused", Define('A', 3, 13, Bytes(39, 0xFF)), {}, "A", true},
        {"y of 4: refused", Define('A', 4, 12, Bytes(48, 0xFF)), {}, "A", true},
        {"code 127 in the range: refused",
         Cat({B({0x1B, 0x26, 3, 126, 127, 12}), Bytes(36, 0xFF), B({12}), Bytes(36, 0xFF)}),
         {},
         "~",
         true},
        {"the last code, 126", Define('~', 3, 12, Bytes(36, 0xFF)), {}, "~", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Paper p = Render(Cat({c.definitions, kUserOn, c.after, T(c.text), kLf}));
        const Paper builtIn = Render(Cat({c.definitions, T(c.text), kLf}));
        EXPECT_EQ(SameDots(p, builtIn), c.builtIn);
        if (!c.builtIn) {
            EXPECT_EQ(p.inkDots(), 12u * 24);  // the black cell, and nothing else
        }
    }
}

TEST(UserCharacters, TheCorpusStreamPrintsItsDefinitions) {
    // Its first definition (ESC & 3 20 20 x d...), printed at twice the size in Font2 (ESC ! 31:
    // bit 0 chooses Font2, whose 9 x 17 cell takes the 8 x 16 glyphs) as the first character of
    // its first line.
    std::ifstream in(std::string(PELLORY_ESCPOS_CORPUS) + "/mike42-escpos-php/unifont-print-buffer.bin",
                     std::ios::binary);
    ASSERT_TRUE(in) << "the corpus stream";
    const Bytes stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Bytes head = B({0x1B, 0x26, 0x03, 0x20, 0x20});
    const auto at = std::search(stream.begin(), stream.end(), head.begin(), head.end());
    ASSERT_NE(at, stream.end());
    const size_t start = static_cast<size_t>(at - stream.begin());
    const int x = stream[start + 5];
    const Bytes data(stream.begin() + static_cast<long>(start) + 6,
                     stream.begin() + static_cast<long>(start) + 6 + 3 * x);
    const Paper p = Render(stream);
    int ink = 0;
    const FontCell cell = kFontCells[1];
    for (int r = 0; r < 2 * cell.height; ++r) {
        for (int c = 0; c < 2 * cell.width; ++c) {
            ASSERT_EQ(p.dot(c, r), DefinedDot(data, 3, x, c / 2, r / 2)) << "at " << c << "," << r;
            ink += p.dot(c, r);
        }
    }
    EXPECT_GT(ink, 0);
}

// ---------------------------------------------------------------------------------------------
// Orientation

TEST(TextOrientation, UpsideDownIsTheNormalLineTurnedHalfAround) {
    struct Case {
        const char* name;
        Bytes before;  // modes, then the text
        Bytes text;
        int lineHeight;
        int width;
    };
    const Case cases[] = {
        {"plain", {}, T("Ab1,g"), 24, kOrva58Dots},
        {"double width, 80 mm", B({0x1B, 0x21, 0x20}), T("Wide"), 24, kOrva80Dots},
        {"GS ! 2 x 3, centred", B({0x1D, 0x21, 0x12, 0x1B, 0x61, 0x01}), T("Mid"), 72, kOrva58Dots},
        {"underlined, Font2", B({0x1B, 0x4D, 0x01, 0x1B, 0x2D, 0x01}), T("under"), 17, kOrva58Dots},
        {"user-defined", Cat({Define('Q', 3, 12, RandomBytes(36, 5)), kUserOn}), T("QaQ"), 24, kOrva58Dots},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Paper normal = Render(Cat({c.before, c.text, kLf}), c.width);
        const Paper turned = Render(Cat({B({0x1B, 0x7B, 0x01}), c.before, c.text, kLf}), c.width);
        ASSERT_EQ(turned.endRow(), normal.endRow());
        ASSERT_GT(normal.inkDots(), 0u);
        EXPECT_EQ(turned.inkDots(), normal.inkDots());
        for (int y = 0; y < c.lineHeight; ++y) {
            for (int x = 0; x < c.width; ++x) {
                ASSERT_EQ(turned.dot(x, y), normal.dot(c.width - 1 - x, c.lineHeight - 1 - y))
                    << "at " << x << "," << y;
            }
        }
    }
    // Taken where a line begins: a line already begun prints as it began, the next one turned.
    const Paper late = Render(Cat({T("Ab"), B({0x1B, 0x7B, 0x01}), T("c"), kLf, T("Abc"), kLf}));
    const Paper normal = Render(Cat({T("Abc"), kLf}));
    EXPECT_TRUE(InkBox(late, 0, 33).x0 == InkBox(normal).x0);
    EXPECT_GT(InkBox(late, 33, 66).x0, kOrva58Dots / 2);
}

TEST(TextOrientation, Esc_V_TurnsEachCharacterAQuarterClockwise) {
    struct Case {
        const char* name;
        Bytes normalModes, turnedModes;
        int w, h;  // the normal character's cell
    };
    const Case cases[] = {
        {"Font1", {}, {}, 12, 24},
        {"Font2", B({0x1B, 0x4D, 1}), B({0x1B, 0x4D, 1}), 9, 17},
        {"double width", B({0x1B, 0x21, 0x20}), B({0x1B, 0x21, 0x20}), 24, 24},
        {"GS ! 1 x 2", B({0x1D, 0x21, 0x01}), B({0x1D, 0x21, 0x01}), 12, 48},
        {"no underline when turned", {}, B({0x1B, 0x2D, 0x01}), 12, 24},
        {"user-defined", Cat({Define('L', 3, 12, RandomBytes(36, 9)), kUserOn}),
         Cat({Define('L', 3, 12, RandomBytes(36, 9)), kUserOn}), 12, 24},
    };
    for (const Case& c : cases) {
        for (const char* text : {"L", "g", "7"}) {
            SCOPED_TRACE(std::string(c.name) + " " + text);
            const Paper normal = Render(Cat({c.normalModes, T(text), kLf}));
            const Paper turned = Render(Cat({c.turnedModes, B({0x1B, 0x56, 0x01}), T(text), kLf}));
            ASSERT_GT(normal.inkDots(), 0u);
            EXPECT_EQ(turned.inkDots(), normal.inkDots());
            // The normal cell at rows [0, h), columns [0, w); the turned one h wide and w tall.
            for (int y = 0; y < c.h; ++y) {
                for (int x = 0; x < c.w; ++x)
                    ASSERT_EQ(turned.dot(c.h - 1 - y, x), normal.dot(x, y)) << "at " << x << "," << y;
            }
        }
    }
    // ESC V 0 and 48 turn it off again.
    for (const int off : {0, 48}) {
        EXPECT_TRUE(
            SameDots(Render(Cat({B({0x1B, 0x56, 49, 0x1B, 0x56, off}), T("L"), kLf})), Render(Cat({T("L"), kLf}))));
    }
}

// ---------------------------------------------------------------------------------------------
// Feeds and the print area

TEST(ReverseFeed, ThePaperMovesBackAndInkOverlaps) {
    struct Case {
        const char* name;
        Bytes command;
        int back;  // dots the paper moves back
    };
    const Case cases[] = {
        {"ESC K 20", B({0x1B, 0x4B, 20}), 20},
        {"ESC K 33", B({0x1B, 0x4B, 33}), 33},
        {"ESC K 255, bounded", B({0x1B, 0x4B, 255}), 33},
        {"ESC e 1 at the default spacing", B({0x1B, 0x65, 1}), 33},
        {"ESC e 1 at a spacing of 16", B({0x1B, 0x33, 16, 0x1B, 0x65, 1}), 16},
        {"ESC e 5, bounded", B({0x1B, 0x65, 5}), 33},
        {"ESC e 0", B({0x1B, 0x65, 0}), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Two lines: the second is fed back to and drawn over, 200 dots to the right.
        Interpreter i;
        i.feed(Cat({T("XXXX"), kLf, T("XXXX"), kLf}));
        const int64_t before = i.position();
        i.feed(c.command);
        EXPECT_EQ(i.position(), before - c.back);
        i.feed(Cat({B({0x1B, 0x24, 200, 0}), T("YYYY"), kLf}));
        const Paper& p = i.paper();
        // The Y line's ink (the only ink right of dot 200) sits `back` dots above where it would
        // be without the reverse feed, and every line is whole.
        const Paper straight = Render(Cat({T("XXXX"), kLf, T("XXXX"), kLf, B({0x1B, 0x24, 200, 0}), T("YYYY"), kLf}));
        const auto firstRowRightOf200 = [](const Paper& paper) {
            for (int64_t row = 0; row < paper.endRow(); ++row) {
                for (int col = 200; col < kOrva58Dots; ++col) {
                    if (paper.dot(col, row)) return row;
                }
            }
            return int64_t{-1};
        };
        ASSERT_GT(firstRowRightOf200(straight), 66);
        EXPECT_EQ(firstRowRightOf200(p), firstRowRightOf200(straight) - c.back);
        EXPECT_EQ(p.inkDots(), straight.inkDots());
    }
    // Never above a cut: the paper there is gone.
    Interpreter i;
    i.feed(Cat({T("XXXX"), kLf, B({0x1D, 0x56, 0x00}), B({0x1B, 0x4A, 10})}));
    const int64_t below = i.paper().cuts().back() + 1;
    i.feed(B({0x1B, 0x4B, 30}));
    EXPECT_EQ(i.position(), below);
}

TEST(PrintArea, GsLAndGsWPlaceAndWrapTheText) {
    const Bytes longText = T("The print area holds this long line of text and wraps it");
    struct Case {
        const char* name;
        Bytes modes;
        int x0min, x0max, x1min, x1max;
        bool wraps;
    };
    const Case cases[] = {
        {"GS L 40", B({0x1D, 0x4C, 40, 0}), 40, 41, 300, 384, true},
        {"GS W 100", B({0x1D, 0x57, 100, 0}), 0, 1, 80, 100, true},
        {"GS L 40, GS W 100, right aligned", B({0x1D, 0x4C, 40, 0, 0x1D, 0x57, 100, 0, 0x1B, 0x61, 2}), 40, 140, 128,
         140, true},
        {"GS W 100 then ESC @", B({0x1D, 0x57, 100, 0, 0x1B, 0x40}), 0, 1, 300, 384, true},
        {"GS W wider than the paper", B({0x1D, 0x57, 0xFF, 0xFF}), 0, 1, 300, 384, true},
    };
    const int64_t lineOfPlain = InkBox(Render(Cat({T("The"), kLf}))).height();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Box box = InkBox(Render(Cat({c.modes, longText, kLf})));
        EXPECT_GE(box.x0, c.x0min);
        EXPECT_LE(box.x0, c.x0max);
        EXPECT_GE(box.x1, c.x1min);
        EXPECT_LE(box.x1, c.x1max);
        EXPECT_EQ(box.height() > lineOfPlain + 10, c.wraps);
    }
}

TEST(TextModes, DoubleStrikeAndEmphasisAreTwoModes) {
    const Paper bold = Render(Cat({B({0x1B, 0x45, 1}), T("Bold"), kLf}));
    ASSERT_FALSE(SameDots(bold, Render(Cat({T("Bold"), kLf}))));
    EXPECT_TRUE(SameDots(Render(Cat({B({0x1B, 0x47, 1}), T("Bold"), kLf})), bold));
    // Turning one off leaves the other.
    EXPECT_TRUE(SameDots(Render(Cat({B({0x1B, 0x45, 1, 0x1B, 0x47, 0}), T("Bold"), kLf})), bold));
    EXPECT_TRUE(SameDots(Render(Cat({B({0x1B, 0x47, 1, 0x1B, 0x45, 0}), T("Bold"), kLf})), bold));
}

// ---------------------------------------------------------------------------------------------
// Decoding

TEST(TextModes, TheDecodingNamesEachCommandAndStaysInStep) {
    struct Case {
        Bytes bytes;
        const char* shown;
    };
    const Case cases[] = {
        {Define('A', 3, 2, Bytes(6, 1)),
         "ESC & 03 41 41  define user-defined characters: 'A' (41), 3 bytes per column"},
        {B({0x1B, 0x26, 0x02, 0x41, 0x42, 1, 0, 0, 1, 0, 0}),
         "define user-defined characters: 'A' (41) to 'B' (42), 2 bytes per column"},
        {B({0x1B, 0x26, 0x00, 0x41, 0x41}),
         "ESC & 00 41 41  define user-defined characters: 'A' (41), 0 bytes per column (refused: y is 1 to 3)"},
        {B({0x1B, 0x26, 0x03, 0x20, 0x7F}), "(refused: codes are 32 to 126)"},
        {B({0x1B, 0x25, 0x01}), "user-defined characters on"},
        {B({0x1B, 0x3F, 0x41}), "cancel user-defined character 'A' (41)"},
        {B({0x1B, 0x7B, 0x01}), "upside-down on"},
        {B({0x1B, 0x56, 0x31}), "90-degree rotation on"},
        {B({0x1B, 0x56, 0x30}), "90-degree rotation off"},
        {B({0x1B, 0x56, 0x02}), "90-degree rotation on"},
        {B({0x1B, 0x65, 0x02}), "print and feed back 2 lines"},
        {B({0x1B, 0x4B, 0x18}), "ESC K 18  print and feed back 24 dots"},
        {B({0x1B, 0x20, 0x03}), "character spacing: 3 dots"},
        {B({0x1B, 0x47, 0x01}), "double-strike on"},
        {B({0x1D, 0x21, 0x77}), "character size: width x8, height x8"},
        {B({0x1D, 0x4C, 0x28, 0x00}), "left margin: 40 dots"},
        {B({0x1D, 0x57, 0x64, 0x00}), "print area width: 100 dots"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        const Bytes stream = Cat({c.bytes, T("Z")});
        const std::vector<DecodedCommand> d = DecodeCommands(stream.data(), stream.size());
        ASSERT_EQ(d.size(), 2u) << c.shown;
        const std::string line = FormatDecoded(d[0]);
        EXPECT_NE(line.find(c.shown), std::string::npos) << line;
        EXPECT_TRUE(d[0].known) << line;
        EXPECT_EQ(d[1].offset, c.bytes.size()) << c.shown;
        EXPECT_TRUE(d[1].text) << c.shown;
    }
}

TEST(TextModes, AnEscAmpersandOutOfRangeEndsWithItAndTheRestIsPrintData) {
    // x 13 for the second character: the command ends with it; "Z" and the byte after it (the
    // second character's first column, were it in range) are text.
    const Bytes stream = B({0x1B, 0x26, 0x03, 0x41, 0x42, 0x01, 0xFF, 0xFF, 0xFF, 0x0D, 'Z', 'Y'});
    const std::vector<DecodedCommand> d = DecodeCommands(stream.data(), stream.size());
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(StreamLength(d[0]), 10u);
    EXPECT_NE(FormatDecoded(d[0]).find("(refused: x is at most 12)"), std::string::npos) << FormatDecoded(d[0]);
    EXPECT_TRUE(d[1].text);
    EXPECT_EQ(d[1].bytes, T("ZY"));
    // Nothing is defined: 'A' prints its built-in glyph.
    EXPECT_TRUE(SameDots(Render(Cat({stream, kUserOn, T("A"), kLf})), Render(Cat({stream, T("A"), kLf}))));
}

}  // namespace
}  // namespace pellory::receipt::test
