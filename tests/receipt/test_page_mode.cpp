// Page mode (ESC L, ESC W, ESC T, ESC $ / ESC \, GS $ / GS \, FF, ESC FF, CAN, ESC S, GS P) and
// ESC { on the pictures, barcodes and codes of standard mode, checked by what they mean on the
// paper: items at their positions in each direction, the directions as turns of one another,
// clipping at the area's edge, a page bounded whatever the stream asks for.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "picture_forms.h"
#include "receipt/decoding.h"
#include "receipt_test_support.h"

namespace pellory::receipt::test {
namespace {

const Bytes kPage = B({0x1B, 0x4C});  // ESC L
const Bytes kFf = B({0x0C});
const Bytes kEscFf = B({0x1B, 0x0C});
const Bytes kCan = B({0x18});
const Bytes kLf = B({0x0A});

Bytes Area(int x, int y, int dx, int dy) { return Cat({B({0x1B, 0x57}), Le16(x), Le16(y), Le16(dx), Le16(dy)}); }
Bytes Direction(int n) { return B({0x1B, 0x54, n}); }
Bytes Across(int n) { return Cat({B({0x1B, 0x24}), Le16(static_cast<size_t>(n))}); }
Bytes AcrossBy(int n) { return Cat({B({0x1B, 0x5C}), Le16(static_cast<uint16_t>(n))}); }
Bytes Down(int n) { return Cat({B({0x1D, 0x24}), Le16(static_cast<size_t>(n))}); }
Bytes DownBy(int n) { return Cat({B({0x1D, 0x5C}), Le16(static_cast<uint16_t>(n))}); }
Bytes Units(int x, int y) { return B({0x1D, 0x50, x, y}); }
// A black block of GS v 0, 8 * bytes dots wide and `rows` tall.
Bytes Block(int bytes = 1, int rows = 8) {
    return Cat({B({0x1D, 0x76, 0x30, 0}), Le16(static_cast<size_t>(bytes)), Le16(static_cast<size_t>(rows)),
                Bytes(static_cast<size_t>(bytes * rows), 0xFF)});
}
Bytes Qr(const std::string& data) {
    return Cat({B({0x1D, 0x28, 0x6B}), Le16(data.size() + 3), B({0x31, 0x50, 0x30}), T(data),
                B({0x1D, 0x28, 0x6B, 3, 0, 0x31, 0x51, 0x30})});
}
Picture Solid(int w, int h) { return {w, h, std::vector<bool>(static_cast<size_t>(w * h), true)}; }
const Bytes kCode39 = Cat({B({0x1D, 0x68, 40, 0x1D, 0x77, 2, 0x1D, 0x6B, 4}), T("AB1"), B({0})});

// ---------------------------------------------------------------------------------------------

TEST(PageMode, EachDirectionIsTheFirstTurnedWithItsArea) {
    // Direction 2 is direction 0 turned a half turn in the same area; 1 and 3 are direction 0, in
    // an area of the sides swapped, turned a quarter anticlockwise and clockwise.
    const Picture picture = RandomPicture(24, 24, 7);
    const struct {
        const char* name;
        Bytes items;
    } items[] = {
        {"text in two sizes", Cat({T("Ab1,g"), kLf, B({0x1D, 0x21, 0x11}), T("Qy"), kLf})},
        {"text at ESC $ and GS $", Cat({Down(40), Across(30), T("pos"), AcrossBy(-20), T("X"), kLf})},
        {"ESC * bit image and text", Cat({T("a"), B({0x1B, 0x2A, 33}), Le16(24), ColumnData(picture), T("b"), kLf})},
        {"GS v 0 raster", Cat({Across(9), B({0x1D, 0x76, 0x30, 0}), Le16(3), Le16(24), RasterData(picture)})},
        {"barcode", Cat({Down(5), kCode39})},
        {"QR code", Cat({Across(60), Qr("page")})},
    };
    constexpr int kX = 24, kY = 16, kW = 300, kH = 180;
    for (const auto& item : items) {
        for (const int d : {1, 2, 3}) {
            SCOPED_TRACE(std::string(item.name) + ", direction " + std::to_string(d));
            const bool side = d != 2;
            const Paper turned = Render(Cat({kPage, Area(kX, kY, kW, kH), Direction(d), item.items, kFf}), kOrva80Dots);
            const Paper first = Render(
                Cat({kPage, Area(kX, kY, side ? kH : kW, side ? kW : kH), Direction(0), item.items, kFf}), kOrva80Dots);
            ASSERT_GT(first.inkDots(), 0u);
            EXPECT_EQ(turned.inkDots(), first.inkDots());
            for (int y = 0; y < kY + kH; ++y) {
                for (int x = 0; x < kOrva80Dots; ++x) {
                    const int px = x - kX, py = y - kY;
                    if (px < 0 || py < 0 || px >= kW || py >= kH) {
                        ASSERT_FALSE(turned.dot(x, y)) << "outside the area at " << x << "," << y;
                        continue;
                    }
                    const int fx = d == 1 ? kH - 1 - py : d == 2 ? kW - 1 - px : py;
                    const int fy = d == 1 ? px : d == 2 ? kH - 1 - py : kW - 1 - px;
                    ASSERT_EQ(turned.dot(x, y), first.dot(kX + fx, kY + fy)) << "at " << x << "," << y;
                }
            }
        }
    }
}

TEST(PageMode, ItemsGoWhereTheAreaAndThePositionsSay) {
    // An 8 x 8 block after the commands; its box on the paper.
    const struct {
        const char* name;
        Bytes before;
        Box box;
    } cases[] = {
        {"the default area's upper left corner", {}, {0, 8, 0, 8}},
        {"ESC W moves the origin", Area(40, 24, 200, 100), {40, 48, 24, 32}},
        {"ESC $", Across(100), {100, 108, 0, 8}},
        {"GS $", Down(50), {0, 8, 50, 58}},
        {"ESC \\ back from ESC $", Cat({Across(100), AcrossBy(-30)}), {70, 78, 0, 8}},
        {"GS \\ back from GS $", Cat({Down(50), DownBy(-20)}), {0, 8, 30, 38}},
        {"ESC $ in the area of ESC W", Cat({Area(40, 24, 200, 100), Across(10), Down(6)}), {50, 58, 30, 38}},
        {"LF moves down by the line spacing", Cat({B({0x1B, 0x33, 40}), kLf}), {0, 8, 40, 48}},
        {"a line of text moves down by the spacing", Cat({T(" "), kLf}), {0, 8, 33, 41}},
        {"a spacing below the line's height is kept", Cat({B({0x1B, 0x33, 10}), T(" "), kLf}), {0, 8, 10, 18}},
        {"ESC d 2", B({0x1B, 0x64, 2}), {0, 8, 66, 74}},
        {"ESC J 7", B({0x1B, 0x4A, 7}), {0, 8, 7, 15}},
        {"ESC $ past the area: ignored", Cat({Area(40, 24, 200, 100), Across(250)}), {40, 48, 24, 32}},
        {"GS $ past the area: ignored", Cat({Area(40, 24, 200, 100), Down(100)}), {40, 48, 24, 32}},
        {"ESC \\ before the area's start: ignored", Cat({Across(5), AcrossBy(-6)}), {5, 13, 0, 8}},
        {"GS P: 7 dots across, 29 down a unit", Cat({Units(29, 7), Across(10), Down(2)}), {70, 78, 58, 66}},
        {"GS P 0 0: the default units", Cat({Units(29, 7), Units(0, 0), Across(10)}), {10, 18, 0, 8}},
        {"GS P for ESC W", Cat({Units(29, 7), Area(2, 1, 10, 10)}), {14, 22, 29, 37}},
        {"direction 1", Cat({Area(40, 24, 200, 100), Direction(1), Across(10)}), {40, 48, 106, 114}},
        {"direction 2", Cat({Area(40, 24, 200, 100), Direction(2), Across(10)}), {222, 230, 116, 124}},
        {"direction 3", Cat({Area(40, 24, 200, 100), Direction(3), Across(10)}), {232, 240, 34, 42}},
        {"direction 3 by its ASCII digit",
         Cat({Area(40, 24, 200, 100), Direction('3'), Across(10)}),
         {232, 240, 34, 42}},
        // The area 35, 29, 140 x 290 dots: 290 along the characters, 140 down the lines.
        {"direction 1: ESC $ in vertical units",
         Cat({Units(29, 7), Area(5, 1, 20, 10), Direction(1), Across(1)}),
         {35, 43, 282, 290}},
        {"direction 1: GS $ in horizontal units",
         Cat({Units(29, 7), Area(5, 1, 20, 10), Direction(1), Down(3)}),
         {56, 64, 311, 319}},
        {"ESC a 2: not in page mode", B({0x1B, 0x61, 2}), {0, 8, 0, 8}},
        {"GS L 100: not in page mode", B({0x1D, 0x4C, 100, 0}), {0, 8, 0, 8}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(InkBox(Render(Cat({kPage, c.before, Block(), kFf}))), c.box);
    }
}

TEST(PageMode, PrintingCancellingAndLeaving) {
    // Blocks of 8 x 8 dots: how many reach the paper, the paper's last row and the first block's box.
    const Bytes area = Area(0, 0, 384, 100);
    const struct {
        const char* name;
        Bytes stream;
        size_t blocks;
        int64_t endRow;
        Box first;
    } cases[] = {
        {"FF prints the page, standard mode follows below it",
         Cat({kPage, area, Block(), kFf, Block()}),
         2,
         108,
         {0, 8, 0, 108}},
        {"ESC FF prints and keeps the page and the position",
         Cat({kPage, area, Block(), kEscFf, Across(50), Block(), kFf}),
         3,
         200,
         {0, 58, 0, 116}},
        {"nothing reaches the paper before FF", Cat({kPage, area, Block()}), 0, 0, {}},
        {"CAN empties the page", Cat({kPage, area, Block(), kCan, kFf}), 0, 100, {}},
        {"CAN empties the current area only",
         Cat({kPage, Area(0, 0, 100, 100), Block(), Area(200, 0, 100, 100), Block(), kCan, kFf}),
         1,
         100,
         {0, 8, 0, 8}},
        {"CAN in standard mode cancels nothing", Cat({Block(), kCan}), 1, 8, {0, 8, 0, 8}},
        {"ESC S lets the page go", Cat({kPage, area, Block(), B({0x1B, 0x53}), Block()}), 1, 8, {0, 8, 0, 8}},
        {"ESC @ lets the page go", Cat({kPage, area, Block(), B({0x1B, 0x40}), Block()}), 1, 8, {0, 8, 0, 8}},
        {"FF returns ESC W to the default area",
         Cat({kPage, Area(40, 0, 100, 50), kFf, kPage, Block(), kFf}),
         1,
         50 + Page::kMaxRows,
         {0, 8, 50, 58}},
        {"ESC W given in standard mode holds for the page",
         Cat({Area(40, 0, 100, 50), kPage, Block(), kFf}),
         1,
         50,
         {40, 48, 0, 8}},
        {"ESC L inside a line is ignored", Cat({T(" "), kPage, Block(), kFf}), 1, 33 + 8 + 33, {0, 8, 33, 41}},
        {"ESC FF and GS $ in standard mode are ignored", Cat({kEscFf, Down(20), Block()}), 1, 8, {0, 8, 0, 8}},
        {"FS p does not print in page mode",
         Cat({B({0x1C, 0x71, 1}), Le16(1), Le16(1), Bytes(8, 0xFF), kPage, area, B({0x1C, 0x70, 1, 0}), kFf}),
         0,
         100,
         {}},
        {"GS / prints in page mode, at the position",
         Cat({B({0x1D, 0x2A, 1, 1}), Bytes(8, 0xFF), kPage, area, Across(20), B({0x1D, 0x2F, 0}), kFf}),
         1,
         100,
         {20, 28, 0, 8}},
        {"cuts are ignored in page mode",
         Cat({kPage, area, Block(), B({0x1D, 0x56, 0x42, 20}), Block(), kFf}),
         2,
         100,
         {0, 8, 0, 16}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Interpreter printer(kOrva58Dots);
        printer.feed(c.stream);
        printer.finish();
        const Paper& paper = printer.paper();
        EXPECT_EQ(paper.inkDots(), c.blocks * 64);
        EXPECT_EQ(paper.endRow(), c.endRow);
        EXPECT_TRUE(paper.cuts().empty());
        EXPECT_EQ(InkBox(paper), c.first);
    }
}

TEST(PageMode, WhatPassesTheAreaIsClippedAndThePageStaysBounded) {
    const struct {
        const char* name;
        Bytes stream;
        size_t ink;
        Box box;
        int64_t endRow;
    } cases[] = {
        {"a block past the right edge",
         Cat({Area(0, 0, 100, 50), kPage, Across(96), Block(2), kFf}),
         4 * 8,
         {96, 100, 0, 8},
         50},
        {"a block past the bottom",
         Cat({Area(0, 0, 100, 50), kPage, Down(46), Block(), kFf}),
         8 * 4,
         {0, 8, 46, 50},
         50},
        {"a raster wider than the area",
         Cat({Area(8, 0, 100, 50), kPage, Block(100, 2), kFf}),
         100 * 2,
         {8, 108, 0, 2},
         50},
        {"a block past the top, turned",
         Cat({Area(0, 0, 100, 50), kPage, Direction(1), Across(46), Block(), kFf}),
         8 * 4,
         {0, 8, 0, 4},
         50},
        {"lines past the bottom",
         Cat({Area(0, 0, 100, 40), kPage, B({0x1B, 0x64, 255, 0x1B, 0x64, 255}), Block(), kFf}),
         0,
         {},
         40},
        {"ESC W of 65535 x 65535 units",
         Cat({Area(0, 0, 0xFFFF, 0xFFFF), kPage, Block(), kFf}),
         64,
         {0, 8, 0, 8},
         Page::kMaxRows},
        {"ESC W with units of an inch",
         Cat({Units(1, 1), Area(0, 1, 0xFFFF, 0xFFFF), kPage, Block(), kFf}),
         64,
         {0, 8, 203, 211},
         Page::kMaxRows},
        {"ESC W from past the right edge: ignored",
         Cat({Area(384, 0, 10, 10), kPage, Block(), kFf}),
         64,
         {0, 8, 0, 8},
         Page::kMaxRows},
        {"ESC W from past the last row: ignored",
         Cat({Area(0, Page::kMaxRows, 10, 10), kPage, Block(), kFf}),
         64,
         {0, 8, 0, 8},
         Page::kMaxRows},
        {"ESC W of no height: ignored",
         Cat({Area(0, 0, 100, 0), kPage, Block(), kFf}),
         64,
         {0, 8, 0, 8},
         Page::kMaxRows},
        {"GS $ far past the page: ignored", Cat({kPage, Down(0xFFFF), Block(), kFf}), 64, {0, 8, 0, 8}, Page::kMaxRows},
        {"a raster of 65535 rows",
         Cat({Area(0, 0, 64, 64), kPage, Block(1, 0xFFFF), Block(), kFf}),
         64 * 8,
         {0, 8, 0, 64},
         64},
        // The print buffer's graphics run along the characters as far as the area does: down the
        // paper in directions 1 and 3, past the paper's width.
        {"print-buffer graphics, direction 3",
         Cat({Area(0, 0, 100, 700), kPage, Direction(3), GsL(BufferBody(true, Solid(600, 8), 1, 1)), kPrintBuffer,
              kFf}),
         600 * 8,
         {92, 100, 0, 600},
         700},
        {"print-buffer graphics of GS 8 L past 64 KiB, direction 1",
         Cat({kPage, Direction(1), Gs8L(BufferBody(true, Solid(2000, 300), 1, 1)), kPrintBuffer, kFf}),
         size_t{Page::kMaxRows} * 300,
         {0, 300, 0, Page::kMaxRows},
         Page::kMaxRows},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Paper paper = Render(c.stream);
        EXPECT_EQ(paper.inkDots(), c.ink);
        EXPECT_EQ(paper.endRow(), c.endRow);
        EXPECT_EQ(InkBox(paper), c.box);
    }
}

TEST(PageMode, StandardModeSettingsWaitForStandardMode) {
    // In page mode ESC a, ESC {, ESC V, GS L and GS W are only set: the page is the same without
    // them, and standard mode takes them after FF. ESC 3 and ESC SP keep a value for each mode.
    const Bytes area = Area(0, 0, 384, 80);
    const Bytes page = Cat({T("Page Ab"), kLf, T("two"), kLf});
    const Bytes standard = Cat({T("Standard mode, after FF"), kLf});
    const auto sameRows = [](const Paper& a, const Paper& b, int64_t from, int64_t to) {
        for (int64_t y = from; y < to; ++y)
            for (int x = 0; x < a.width(); ++x)
                if (a.dot(x, y) != b.dot(x, y)) return false;
        return true;
    };
    const struct {
        const char* name;
        Bytes setting;
        bool perMode;
    } cases[] = {
        {"ESC a 1", B({0x1B, 0x61, 1}), false},       {"ESC { 1", B({0x1B, 0x7B, 1}), false},
        {"ESC V 1", B({0x1B, 0x56, 1}), false},       {"GS L 64", B({0x1D, 0x4C, 64, 0}), false},
        {"GS W 100", B({0x1D, 0x57, 100, 0}), false}, {"ESC 3 50", B({0x1B, 0x33, 50}), true},
        {"ESC SP 4", B({0x1B, 0x20, 4}), true},
    };
    const Paper plain = Render(Cat({kPage, area, page, kFf, standard}));
    ASSERT_GT(plain.inkDots(), 0u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Paper inPage = Render(Cat({kPage, area, c.setting, page, kFf, standard}));
        const Paper before = Render(Cat({c.setting, kPage, area, page, kFf, standard}));
        const Paper after = Render(Cat({kPage, area, page, kFf, c.setting, standard}));
        if (c.perMode) {
            EXPECT_FALSE(sameRows(inPage, plain, 0, 80));              // the page takes its own value
            EXPECT_TRUE(sameRows(inPage, plain, 80, plain.endRow()));  // standard mode keeps its own
            EXPECT_EQ(inPage.endRow(), plain.endRow());
            EXPECT_TRUE(sameRows(before, plain, 0, 80));
        } else {
            EXPECT_TRUE(sameRows(inPage, plain, 0, 80));  // the page does not take it
            EXPECT_TRUE(SameDots(inPage, after));         // standard mode does, after FF
            EXPECT_FALSE(SameDots(inPage, plain));
        }
    }
}

TEST(MotionUnits, GsPAppliesToTheDistancesOfStandardModeWhenTheyAreSet) {
    // 8 x 8 bit images of ESC *; GS P 29 7 makes a unit 7 dots across and 29 down.
    const Bytes image = Cat({B({0x1B, 0x2A, 1, 8, 0}), Bytes(8, 0xFF)});
    const Bytes units = Units(29, 7);
    const struct {
        const char* name;
        Bytes stream;
        Box box;
        int64_t cut;  // the row of the first cut, -1: none
    } cases[] = {
        {"ESC $ without GS P: dots", Cat({Across(10), image, kLf}), {10, 18, 0, 8}, -1},
        {"ESC $", Cat({units, Across(10), image, kLf}), {70, 78, 0, 8}, -1},
        {"ESC \\", Cat({units, AcrossBy(10), image, kLf}), {70, 78, 0, 8}, -1},
        {"GS L", Cat({units, B({0x1D, 0x4C, 10, 0}), image, kLf}), {70, 78, 0, 8}, -1},
        {"ESC 3", Cat({units, B({0x1B, 0x33, 2}), image, kLf, image, kLf}), {0, 8, 0, 66}, -1},
        {"ESC J", Cat({units, image, B({0x1B, 0x4A, 2}), image, kLf}), {0, 8, 0, 66}, -1},
        {"GS V's feed", Cat({units, image, kLf, B({0x1D, 0x56, 66, 2})}), {0, 8, 0, 8}, 33 + 58},
        {"a GS P after ESC $ changes nothing", Cat({Across(10), units, image, kLf}), {10, 18, 0, 8}, -1},
        {"ESC @ returns to dots", Cat({units, B({0x1B, 0x40}), Across(10), image, kLf}), {10, 18, 0, 8}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Paper paper = Render(c.stream);
        EXPECT_EQ(InkBox(paper), c.box);
        EXPECT_EQ(paper.cuts().empty() ? -1 : paper.cuts().front(), c.cut);
    }
}

TEST(UpsideDown, TurnsEveryPictureButRasterAndBufferGraphicsAsItTurnsText) {
    // The same picture through each form, with and without ESC {, in a print area from GS L 40:
    // the forms ESC { applies to are turned a half turn within the area; GS v 0 and the print
    // buffer's graphics print as they are.
    const std::map<std::string, bool> turns = {
        {"GS v 0", false},
        {"GS ( L raster", false},
        {"GS ( L column", false},
        {"GS 8 L raster", false},
        {"ESC *", true},
        {"NV graphics, raster", true},
        {"NV graphics, column", true},
        {"downloaded graphics", true},
        {"FS q / FS p", true},
        {"GS * / GS /", true},
    };
    const Picture picture = RandomPicture(48, 24, 11);
    const Bytes area = B({0x1D, 0x4C, 40, 0});
    constexpr int kLeft = 40, kRight = kOrva58Dots;
    std::vector<std::pair<std::string, Bytes>> items;
    for (const Form& form : Forms()) {
        ASSERT_TRUE(turns.count(form.name)) << form.name;
        items.emplace_back(form.name, *form.encode(picture, 1, 1));
    }
    items.emplace_back("barcode", kCode39);
    items.emplace_back("QR code", Qr("upside"));
    for (const auto& [name, bytes] : items) {
        SCOPED_TRACE(name);
        const bool turned = turns.count(name) ? turns.at(name) : true;
        const Paper normal = Render(Cat({area, bytes}));
        const Paper upsideDown = Render(Cat({area, B({0x1B, 0x7B, 1}), bytes}));
        ASSERT_GT(normal.inkDots(), 0u);
        ASSERT_EQ(upsideDown.endRow(), normal.endRow());
        if (!turned) {
            EXPECT_TRUE(SameDots(upsideDown, normal));
            continue;
        }
        // The item is all the paper holds: its rows are the paper's.
        EXPECT_EQ(upsideDown.inkDots(), normal.inkDots());
        const int64_t rows = normal.endRow();
        for (int64_t y = 0; y < rows; ++y) {
            for (int x = kLeft; x < kRight; ++x) {
                ASSERT_EQ(upsideDown.dot(x, y), normal.dot(kLeft + kRight - 1 - x, rows - 1 - y))
                    << "at " << x << "," << y;
            }
        }
    }
}

TEST(PageMode, DecodingNamesEachCommandAndKeepsTheStreamInStep) {
    const struct {
        Bytes bytes;
        const char* line;  // mnemonic and meaning
    } commands[] = {
        {kCan, "CAN  cancel (nothing to cancel)"},
        {kFf, "FF  print and feed one line"},
        {kEscFf, "ESC 0C  print the page, page mode goes on (in standard mode: ignored)"},
        {Area(8, 16, 300, 0x0400),
         "ESC W 08 00 10 00 2C 01 ...  print area in page mode: origin 8, 16, 300 x 1024 units"},
        {Direction(1), "ESC T 01  print direction in page mode: bottom to top, from the lower left"},
        {Direction('3'), "ESC T 33  print direction in page mode: top to bottom, from the upper right"},
        {Direction(9), "ESC T 09  print direction in page mode 9 (ignored)"},
        {Units(180, 0), "GS P B4 00  motion units: horizontal 1/180 inch, vertical default"},
        {Down(4), "GS $ 04 00  vertical position in page mode: 4 units (in standard mode: ignored)"},
        {kPage, "ESC L  page mode"},
        {kPage, "ESC L  page mode (in page mode already: ignored)"},
        // Direction 3 (above): GS \\ counts horizontal units, 1/180 inch since GS P.
        {DownBy(-10), "GS \\ F6 FF  relative vertical position in page mode: -10 units (-11 dots)"},
        {kCan, "CAN  cancel the page's data in the print area"},
        {kLf, "LF  next line of the page"},
        {kEscFf, "ESC 0C  print the page, page mode goes on"},
        {kFf, "FF  print the page, back to standard mode"},
        {kFf, "FF  print and feed one line"},
        {kPage, "ESC L  page mode"},
        {B({0x1B, 0x53}), "ESC S  standard mode (the page is discarded)"},
        {B({0x1B, 0x53}), "ESC S  standard mode (the page is discarded) (in standard mode: ignored)"},
        // ESC L in the middle of a line is ignored, as the drawing ignores it: FF is then standard
        // mode's. A line ends as it prints (LF, a raster image) and starts with ESC * as with text.
        {T("ab"), "  \"ab\""},
        {kPage, "ESC L  page mode (in the middle of a line: ignored)"},
        {kFf, "FF  print and feed one line"},
        {B({0x1B, 0x2A, 0, 1, 0, 0xFF}), "ESC * 00 01 00  bit image, 8-dot single-density: 1 columns"},
        {kPage, "ESC L  page mode (in the middle of a line: ignored)"},
        {Block(), "GS v 0 00 01 00 08 00  raster image, normal: 8 x 8 dots"},
        {kPage, "ESC L  page mode"},
        {B({0x1B, 0x53}), "ESC S  standard mode (the page is discarded)"},
        // GS P 180 0 above: distances across in units and dots, those down in dots as before.
        {Across(100), "ESC $ 64 00  absolute position: 100 units (112 dots)"},
        {AcrossBy(-10), "ESC \\ F6 FF  relative position: -10 units (-11 dots)"},
        {B({0x1B, 0x20, 9}), "ESC 20 09  character spacing: 9 units (10 dots)"},
        {B({0x1D, 0x57, 0x2C, 0x01}), "GS W 2C 01  print area width: 300 units (338 dots)"},
        {B({0x1B, 0x33, 50}), "ESC 3 32  line spacing: 50 dots"},
        {Units(0, 100), "GS P 00 64  motion units: horizontal default, vertical 1/100 inch"},
        {B({0x1B, 0x33, 50}), "ESC 3 32  line spacing: 50 units (101 dots)"},
        {B({0x1B, 0x4A, 10}), "ESC J 0A  print and feed 10 units (20 dots)"},
        {B({0x1D, 0x56, 66, 20}), "GS V 42 14  partial cut after feeding 20 units (40 dots)"},
        {Area(8, 16, 300, 1024),
         "ESC W 08 00 10 00 2C 01 ...  print area in page mode: origin 8, 16, 300 x 1024 units (8, 32, 300 x 2078 "
         "dots)"},
        {kPage, "ESC L  page mode"},
        {Direction(1), "ESC T 01  print direction in page mode: bottom to top, from the lower left"},
        {Across(10), "ESC $ 0A 00  absolute position: 10 units (20 dots)"},  // sideways: vertical units
        {Down(10), "GS $ 0A 00  vertical position in page mode: 10 units"},
        {kFf, "FF  print the page, back to standard mode"},
        {B({0x1B, 0x40}), "ESC @  initialise printer"},
        {B({0x1B, 0x33, 50}), "ESC 3 32  line spacing: 50 dots"},  // ESC @: the default units again
    };
    Bytes stream;
    for (const auto& c : commands) stream.insert(stream.end(), c.bytes.begin(), c.bytes.end());
    const std::vector<DecodedCommand> decoded = DecodeCommands(stream.data(), stream.size());
    ASSERT_EQ(decoded.size(), std::size(commands));
    size_t offset = 0;
    for (size_t i = 0; i < decoded.size(); ++i) {
        SCOPED_TRACE(commands[i].line);
        EXPECT_EQ(decoded[i].offset, offset);
        EXPECT_EQ(decoded[i].bytes, commands[i].bytes);
        EXPECT_EQ(decoded[i].mnemonic + "  " + decoded[i].meaning, commands[i].line);
        offset += commands[i].bytes.size();
    }
}

}  // namespace
}  // namespace pellory::receipt::test
