// The paper as the interpreter draws it: geometry of text, modes, margins, alignment, images,
// feeds, cuts and the roll's bound, checked by what they mean.
#include <gtest/gtest.h>

#include <random>

#include "receipt/paper_image.h"
#include "receipt_test_support.h"

namespace pellory::receipt::test {
namespace {

const Bytes kLf = B({0x0A});

TEST(ReceiptText, DoubleHeightAndWidthDoubleTheInk) {
    const Box normal = InkBox(Render(Cat({T("HHHH"), kLf})));
    const Box tall = InkBox(Render(Cat({B({0x1B, 0x21, 0x10}), T("HHHH"), kLf})));
    const Box wide = InkBox(Render(Cat({B({0x1B, 0x21, 0x20}), T("HHHH"), kLf})));
    ASSERT_FALSE(normal.empty());
    EXPECT_EQ(tall.height(), 2 * normal.height());
    EXPECT_EQ(tall.width(), normal.width());
    EXPECT_EQ(wide.width(), 2 * normal.width() + (wide.x0 - 2 * normal.x0) * 0);
    EXPECT_EQ(wide.height(), normal.height());
}

TEST(ReceiptText, FontsHaveTheirCells) {
    // 20 characters of each font: the line is 20 cells wide, the next line starts a line spacing on.
    for (int font = 0; font < kFontCount; ++font) {
        Interpreter i;
        i.feed(Cat({B({0x1B, 0x4D, font}), T("MMMMMMMMMMMMMMMMMMMM"), kLf}));
        const Box box = InkBox(i.paper());
        EXPECT_LE(box.x1, 20 * kFontCells[font].width) << "font " << font;
        EXPECT_GT(box.x1, 19 * kFontCells[font].width) << "font " << font;
        EXPECT_LE(box.height(), kFontCells[font].height);
        EXPECT_EQ(i.position(), 33);
    }
}

TEST(ReceiptText, AlignmentPlacesTheLine) {
    const Bytes word = T("Center");
    const Box left = InkBox(Render(Cat({word, kLf})));
    const Box centre = InkBox(Render(Cat({B({0x1B, 0x61, 0x01}), word, kLf})));
    const Box right = InkBox(Render(Cat({B({0x1B, 0x61, 0x02}), word, kLf})));
    EXPECT_LT(left.x0, 12);
    // Centred: the white on both sides differs by less than one cell.
    EXPECT_LE(std::abs(centre.x0 - (384 - centre.x1)), 12);
    EXPECT_EQ(centre.width(), left.width());
    EXPECT_LT(384 - right.x1, 12);
    EXPECT_EQ(right.width(), left.width());
}

TEST(ReceiptText, MarginsMoveTheInkAndWrapTheLine) {
    // ESC l 10 and ESC Q 10: 80 dots each side; a long text wraps inside them.
    const Bytes text = T("Left Margins and Right Margins of 80 dots, the print buffer also");
    const Paper plain = Render(Cat({text, kLf}));
    const Paper narrow = Render(Cat({B({0x1B, 0x6C, 0x0A, 0x1B, 0x51, 0x0A}), text, kLf}));
    const Box a = InkBox(plain), b = InkBox(narrow);
    EXPECT_LT(a.x0, 10);
    EXPECT_GE(b.x0, 80);
    EXPECT_LT(b.x0, 80 + 12);
    EXPECT_LE(b.x1, 384 - 80);
    EXPECT_GT(b.height(), a.height());  // more lines
}

TEST(ReceiptText, AbsolutePositionAndTabs) {
    const Box at100 = InkBox(Render(Cat({B({0x1B, 0x24, 100, 0}), T("X"), kLf})));
    EXPECT_GE(at100.x0, 100);
    EXPECT_LT(at100.x0, 112);
    // ESC D 12 24: HT moves to column 12 (144 dots) and 24 (288 dots).
    const Paper tabs = Render(Cat({B({0x1B, 0x44, 12, 24, 0}), T("A"), B({0x09}), T("B"), B({0x09}), T("C"), kLf}));
    EXPECT_FALSE(InkBox(tabs).empty());
    const Box b = [&] {
        Box r{};
        for (int x = 140; x < 160 && r.empty(); ++x)
            for (int64_t y = 0; y < tabs.endRow(); ++y)
                if (tabs.dot(x, y)) r = Box{x, x + 1, y, y + 1};
        return r;
    }();
    EXPECT_GE(b.x0, 144);
    EXPECT_TRUE(InkBox(tabs, 0, tabs.endRow()).x1 > 288);
}

TEST(ReceiptText, StylesOfPrintSetupEachChangeTheInk) {
    const Paper plain = Render(Cat({T("Style"), kLf}));
    const size_t ink = plain.inkDots();
    const Box box = InkBox(plain);
    struct Case { uint8_t bit; const char* name; };
    for (const Case c : {Case{protocol::kModeItalic, "italic"}, Case{protocol::kModeBorder, "border"}, Case{protocol::kModeEmphasized, "emphasized"},
                         Case{protocol::kModeHighlight, "highlight"}, Case{protocol::kModeUnderline, "underline"}}) {
        const Paper styled = Render(Cat({B({0x1B, 0x21, c.bit}), T("Style"), kLf}));
        EXPECT_FALSE(SameDots(styled, plain)) << c.name;
    }
    // Emphasized adds ink; highlight inverts the cells (most of five 12 x 24 cells black).
    EXPECT_GT(Render(Cat({B({0x1B, 0x21, protocol::kModeEmphasized}), T("Style"), kLf})).inkDots(), ink);
    EXPECT_EQ(Render(Cat({B({0x1B, 0x21, protocol::kModeHighlight}), T("Style"), kLf})).inkDots(), 5u * 12 * 24 - ink);
    // Underline: a full row of ink under the five cells.
    const Paper under = Render(Cat({B({0x1B, 0x21, protocol::kModeUnderline}), T("Style"), kLf}));
    const Box u = InkBox(under);
    int row = 0;
    for (int x = 0; x < 60; ++x) row += under.dot(x, u.y1 - 1);
    EXPECT_EQ(row, 60);
    EXPECT_GE(u.y1, box.y1);
}

// ---------------------------------------------------------------------------------------------

Bytes RandomBits(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
    return b;
}

TEST(ReceiptImages, RasterDotsAreExactlyTheBitsInEveryMode) {
    const int xBytes = 5, rows = 7;
    const Bytes data = RandomBits(xBytes * rows, 7);
    for (int m = 0; m < 4; ++m) {
        const int sx = (m & 1) ? 2 : 1, sy = (m & 2) ? 2 : 1;
        const Paper p = Render(Cat({B({0x1D, 0x76, 0x30, m, xBytes, 0, rows, 0}), data}));
        ASSERT_EQ(p.endRow(), rows * sy) << "mode " << m;
        for (int y = 0; y < rows * sy; ++y) {
            for (int x = 0; x < 384; ++x) {
                const int sxp = x / sx, syp = y / sy;
                const bool bit = sxp < xBytes * 8 && ((data[static_cast<size_t>(syp * xBytes + sxp / 8)] >> (7 - sxp % 8)) & 1);
                ASSERT_EQ(p.dot(x, y), bit) << "mode " << m << " at " << x << "," << y;
            }
        }
    }
}

TEST(ReceiptImages, BitImageColumnsInAllFourModes) {
    const int columns = 9;
    for (const int m : {0, 1, 32, 33}) {
        const int perColumn = (m >= 32) ? 3 : 1;
        const int sx = (m == 0 || m == 32) ? 2 : 1;  // single density doubles each column
        const Bytes data = RandomBits(static_cast<size_t>(columns * perColumn), static_cast<unsigned>(m + 1));
        Interpreter i;
        i.feed(Cat({B({0x1B, 0x2A, m, columns, 0}), data, B({0x1B, 0x4A, 24})}));
        const Paper& p = i.paper();
        EXPECT_EQ(i.position(), 24);
        for (int y = 0; y < 8 * perColumn; ++y) {
            for (int x = 0; x < 40; ++x) {
                const int c = x / sx;
                const bool bit = c < columns && ((data[static_cast<size_t>(c * perColumn + y / 8)] >> (7 - y % 8)) & 1);
                ASSERT_EQ(p.dot(x, y), bit) << "m " << m << " at " << x << "," << y;
            }
        }
    }
}

TEST(ReceiptImages, RasterWiderThanThePaperIsCutAtItsEdge) {
    const Bytes data(80 * 2, 0xFF);
    const Paper p = Render(Cat({B({0x1D, 0x76, 0x30, 0, 80, 0, 2, 0}), data}));
    EXPECT_EQ(p.inkDots(), 2u * 384);
}

// ---------------------------------------------------------------------------------------------

TEST(ReceiptPaper, FeedsMoveThePosition) {
    Interpreter i;
    i.feed(B({0x0A}));
    EXPECT_EQ(i.position(), 33);
    i.feed(B({0x1B, 0x33, 50, 0x0A}));
    EXPECT_EQ(i.position(), 83);
    i.feed(B({0x1B, 0x4A, 100}));
    EXPECT_EQ(i.position(), 183);
    i.feed(B({0x1B, 0x64, 2}));
    EXPECT_EQ(i.position(), 283);
    EXPECT_EQ(i.paper().endRow(), 283);
}

TEST(ReceiptPaper, RollKeepsTheNewestRowsOnly) {
    Interpreter i;
    for (int k = 0; k < 100; ++k) i.feed(B({0x1B, 0x4A, 250}));  // 25,000 rows
    i.feed(Cat({T("end"), kLf}));
    const Paper& p = i.paper();
    EXPECT_EQ(p.keptRows(), static_cast<size_t>(Paper::kMaxRows));
    EXPECT_EQ(p.endRow(), 25000 + 33);
    EXPECT_EQ(p.firstRow(), p.endRow() - Paper::kMaxRows);
    const Box ink = InkBox(p);
    EXPECT_GE(ink.y0, 25000);
}

TEST(ReceiptPaper, UnknownCommandsDrawNothingAndKeepTheStreamInStep) {
    const Paper plain = Render(Cat({T("AB"), kLf, T("CD"), kLf}));
    // ESC z, GS Y and FS y are unknown; the bytes after them still read as before.
    const Paper mixed = Render(Cat({T("AB"), B({0x1B, 0x7A, 0x1D, 0x59, 0x1C, 0x79}), kLf, T("CD"), kLf}));
    EXPECT_EQ(plain.inkDots(), mixed.inkDots());
    EXPECT_EQ(plain.endRow(), mixed.endRow());
}

TEST(ReceiptPaper, FedInPiecesDrawsTheSameAsAtOnce) {
    const Bytes stream = Cat({B({0x1B, 0x21, 0x30}), T("Piece by piece"), kLf, B({0x1D, 0x76, 0x30, 0, 2, 0, 3, 0}),
                              RandomBits(6, 3), B({0x1D, 0x6B, 0x43, 12}), T("012345678900"), B({0x1B, 0x4A, 48})});
    const Paper whole = Render(stream);
    Interpreter i;
    for (uint8_t b : stream) i.feed(&b, 1);
    ASSERT_EQ(i.paper().endRow(), whole.endRow());
    for (int64_t y = 0; y < whole.endRow(); ++y) {
        ASSERT_TRUE(std::equal(whole.row(y), whole.row(y) + whole.stride(), i.paper().row(y))) << "row " << y;
    }
}

TEST(ReceiptPaper, PictureIsBlackWhiteAndAGreyDashedCut) {
    // "Haft-cut", LF, GS V 66 120, ESC J 48
    Interpreter i(kOrva80Dots);
    i.feed(Cat({T("Haft-cut"), kLf, B({0x1D, 0x56, 0x42, 0x78, 0x1B, 0x4A, 0x30})}));
    const Paper& p = i.paper();
    ASSERT_EQ(p.cuts().size(), 1u);
    EXPECT_EQ(p.cuts().front(), 33 + 120);
    const QImage image = PaperImage(p).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(image.width(), 576);
    EXPECT_EQ(image.height(), p.endRow());
    int grey = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            const bool allowed = c == qRgb(0, 0, 0) || c == qRgb(255, 255, 255) || c == kCutGrey;
            ASSERT_TRUE(allowed) << x << "," << y;
            ASSERT_EQ(c == qRgb(0, 0, 0), p.dot(x, y));
            if (c == kCutGrey) {
                ++grey;
                EXPECT_EQ(y, 33 + 120);
            }
        }
    }
    EXPECT_GT(grey, 576 / 3);
    EXPECT_LT(grey, 576);  // dashed, not solid
}

TEST(ReceiptPaper, DensityIsKeptPerRowForTheLiveView) {
    Interpreter i;
    i.feed(Cat({B({0x1B, 0x6D, 8}), T("dark"), kLf, B({0x1B, 0x6D, 1}), T("light"), kLf}));
    const Paper& p = i.paper();
    const Box first = InkBox(p, 0, 33), second = InkBox(p, 33, 66);
    EXPECT_EQ(p.density(first.y0), 8);
    EXPECT_EQ(p.density(second.y0), 1);
    const QImage shaded = PaperImage(p, true);
    int darkGrey = 256, lightGrey = -1;
    for (int x = 0; x < 384; ++x) {
        if (p.dot(x, first.y0 + 10)) darkGrey = std::min(darkGrey, qGray(shaded.pixel(x, static_cast<int>(first.y0) + 10)));
        if (p.dot(x, second.y0 + 10)) lightGrey = std::max(lightGrey, qGray(shaded.pixel(x, static_cast<int>(second.y0) + 10)));
    }
    EXPECT_EQ(darkGrey, 0);
    EXPECT_GT(lightGrey, 100);
}

}  // namespace
}  // namespace pellory::receipt::test
