// Where barcodes and 2-D codes start on the paper: the first module at the print position the
// left margin (GS L), the print area width (GS W) and the alignment (ESC a) give, the last where
// the symbol's own width ends, with no quiet zone of the renderer's own; a symbol wider than the
// print area prints nothing, and the decoding of the drawn stream says why.
#include <gtest/gtest.h>

#include "symbol_streams.h"

namespace pellory::receipt::test {
namespace {

Bytes LeftMargin(int dots) { return B({0x1D, 0x4C, dots & 0xFF, dots >> 8}); }
Bytes AreaWidth(int dots) { return B({0x1D, 0x57, dots & 0xFF, dots >> 8}); }
Bytes Align(int n) { return B({0x1B, 0x61, n}); }

struct Symbol {
    const char* name;
    Bytes stream;
    int width;  // dots from the first module's left edge to the last one's right edge
};

// Each symbol's width from its own structure: modules across times the module width set.
std::vector<Symbol> Symbols() {
    return {
        // Start, 7 characters, check character (11 modules each) and the 13-module stop.
        {"CODE128", Cat({B({0x1D, 0x77, 2}), GsK(73, T("{BPELLORY"))}), (9 * 11 + 13) * 2},
        {"EAN13", Cat({B({0x1D, 0x77, 3}), GsK(67, T("400638133393"))}), 95 * 3},
        {"EAN8", Cat({B({0x1D, 0x77, 2}), GsK(68, T("96385074"))}), 67 * 2},
        {"ITF", Cat({B({0x1D, 0x77, 2}), GsK(70, T("1234"))}), (4 + 2 * 18 + 5) * 2},
        {"QR code version 1", Cat({Fn2D(49, 67, B({4})), Store(49, "Pellory"), Print(49)}), 21 * 4},
        // Start, left row indicator, 2 columns, right row indicator, stop: 17 modules each but 18 for the stop.
        {"PDF417 2 columns", Cat({Fn2D(48, 65, B({2})), Fn2D(48, 67, B({2})), Store(48, "Pellory PDF417"), Print(48)}),
         (17 * 5 + 18) * 2},
        {"DataMatrix 14 x 14", Cat({Fn2D(54, 66, B({0, 14, 0})), Store(54, "LOT 7731"), Print(54)}), 14 * 3},
        {"Aztec compact, 2 layers", Cat({Fn2D(53, 50, B({1, 2})), Store(53, "AZTEC"), Print(53)}), 19 * 3},
        {"GS1 DataBar Stacked", Cat({StoreTyped(51, 48, 72, "0001234567890"), Print(51)}), 50 * 2},
        // 30 modules 7 dots apart (the odd rows, 4 dots further right, hold 29).
        {"MaxiCode mode 4", Cat({Fn2D(50, 65, B({52})), Store(50, "Pellory MaxiCode"), Print(50)}), 30 * 7},
        // The 2-D part over EAN13 is CC-A of 4 columns: row address patterns left, centre and right
        // (10 modules each), 4 codewords (17) and a closing bar: 99 modules, 4 more than the EAN.
        {"Composite on EAN13",
         Cat({StoreElement(48, 66, "401234567890"), StoreElement(49, 65, "(10)LOT42"), Print(52)}), 99 * 2},
    };
}

TEST(SymbolPlacement, TheFirstModuleIsWhereTheMarginAreaAndAlignmentPutIt) {
    constexpr int kPaper = kOrva80Dots;
    struct Place {
        const char* name;
        Bytes setting;
        int left, area;  // the print area: its first dot and width
        int align;       // 0 left, 1 centred, 2 right
    };
    const std::vector<Place> places = {
        {"left", {}, 0, kPaper, 0},
        {"centred", Align(1), 0, kPaper, 1},
        {"right", Align(2), 0, kPaper, 2},
        {"GS L 40", LeftMargin(40), 40, kPaper - 40, 0},
        {"GS L 40, GS W 400, centred", Cat({LeftMargin(40), AreaWidth(400), Align(1)}), 40, 400, 1},
        {"GS L 40, GS W 400, right", Cat({LeftMargin(40), AreaWidth(400), Align(2)}), 40, 400, 2},
        {"GS W 300, right", Cat({AreaWidth(300), Align(2)}), 0, 300, 2},
    };
    for (const Symbol& s : Symbols()) {
        for (const Place& at : places) {
            SCOPED_TRACE(std::string(s.name) + ", " + at.name);
            const Paper p = Render(Cat({at.setting, s.stream}), kPaper);
            const Box ink = InkBox(p);
            const int spare = at.area - s.width;
            const int x0 = at.left + (at.align == 0 ? 0 : at.align == 1 ? spare / 2 : spare);
            EXPECT_EQ(ink.x0, x0);
            EXPECT_EQ(ink.x1, x0 + s.width);
        }
    }
}

TEST(SymbolPlacement, ASymbolWiderThanThePrintAreaPrintsNothing) {
    struct Case {
        const char* name;
        Bytes stream;
        int paper;        // dots across
        std::string why;  // in the line of the print, where the paper is drawn; empty: it prints
    };
    // 16 characters of CODE128 (start, 14, check) and the stop at 3 dots a module: 567 dots.
    const Bytes code128 = Cat({B({0x1D, 0x77, 3}), GsK(73, T("{BORDER-12345678"))});
    const Bytes ean13 = Cat({B({0x1D, 0x77, 6}), GsK(67, T("400638133393"))});  // 570 dots
    // 150 letters need a QR code of version 5 (37 modules), 592 dots at 16 a module.
    const Bytes qr = Cat({Fn2D(49, 67, B({16})), Store(49, std::string(150, 'A')), Print(49)});
    const std::vector<Case> cases = {
        {"CODE128 of 567 dots on 576", code128, kOrva80Dots, ""},
        {"CODE128 of 567 dots in 566", Cat({LeftMargin(10), code128}), kOrva80Dots,
         "567 dots wide, wider than the print area of 566"},
        {"EAN13 of 570 dots on 576", ean13, kOrva80Dots, ""},
        {"EAN13 of 570 dots in GS W 569", Cat({AreaWidth(569), ean13}), kOrva80Dots,
         "570 dots wide, wider than the print area of 569"},
        {"QR code of 592 dots on 576", qr, kOrva80Dots, "592 dots wide, wider than the print area of 576"},
        {"QR code of 592 dots on 640", qr, 640, ""},
        {"QR code of 592 dots in GS L 50 on 640", Cat({LeftMargin(50), qr}), 640,
         "592 dots wide, wider than the print area of 590"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Paper p = Render(c.stream, c.paper);
        const std::string decoded = DecodedWhileDrawing(c.stream, c.paper);
        if (c.why.empty()) {
            EXPECT_GT(p.inkDots(), 0u);
            EXPECT_EQ(decoded.find("prints nothing"), std::string::npos) << decoded;
            continue;
        }
        EXPECT_EQ(p.inkDots(), 0u);
        EXPECT_NE(decoded.find("(prints nothing: " + c.why + ")"), std::string::npos) << decoded;
    }
    // Decoding alone, the paper unknown: a symbol wider than the widest paper prints nothing on
    // any, one that fits it is not said to fail.
    struct Decoded {
        Bytes stream;
        std::string why;
    };
    const std::vector<Decoded> decodings = {
        {code128, ""},
        {Cat({B({0x1D, 0x77, 4}), GsK(73, T("{BORDER-12345678"))}),
         "756 dots wide, wider than the print area of 80 mm paper (576)"},
        {Cat({B({0x1D, 0x77, 4}), B({0x1B, 0x40}), GsK(73, T("{BORDER-12345678"))}), ""},  // ESC @: GS w 3 again
        {qr, "592 dots wide, wider than the print area of 80 mm paper (576)"},
    };
    for (const Decoded& d : decodings) {
        const std::string decoded = DecodeStream(d.stream.data(), d.stream.size());
        SCOPED_TRACE(decoded);
        if (d.why.empty()) {
            EXPECT_EQ(decoded.find("prints nothing"), std::string::npos);
        } else {
            EXPECT_NE(decoded.find("(prints nothing: " + d.why + ")"), std::string::npos);
        }
    }
    // The 567-dot CODE128 fills the paper but for 4 dots each side, and reads back.
    const Paper fits = Render(Cat({Align(1), code128}), kOrva80Dots);
    EXPECT_EQ(InkBox(fits).x0, 4);
    const std::vector<ReadSymbol> read = ReadSymbols(fits);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].data, "ORDER-12345678");
}

}  // namespace
}  // namespace pellory::receipt::test
