// The printer's modes as the drawing and the decoding without paper follow them: both hand every
// command to the same PrinterModes::apply, so after any stream the two hold the same modes, the
// ones the decoding never reads (margins, sizes, the other families' modes) as well.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "picture_forms.h"
#include "receipt/command_decoder.h"
#include "receipt/interpreter.h"
#include "receipt_test_support.h"

namespace pellory::receipt::test {
namespace {

TEST(ReceiptPrinterModes, TheDecodingFollowsTheModesTheDrawingReads) {
    struct Case {
        const char* name;
        Bytes stream;
        std::function<bool(const PrinterModes&)> set;  // the mode the stream sets, as it should be
    };
    const Case cases[] = {
        {"text modes", B({0x1B, 0x21, 0x38, 0x1D, 0x42, 1, 0x1B, 0x2D, 0x32, 0x1B, 0x7B, 1}),
         [](const PrinterModes& m) {
             return m.sizeW == 2 && m.sizeH == 2 && m.reverse && m.underline == 2 && m.upsideDown;
         }},
        {"margins in motion units", Cat({B({0x1D, 0x50, 100, 100, 0x1D, 0x4C}), Le16(10), B({0x1D, 0x57}), Le16(100)}),
         [](const PrinterModes& m) { return m.leftMarginDots == 20 && m.printWidth == 203; }},
        {"characters", B({0x1B, 0x74, 17, 0x1B, 0x52, 3, 0x1C, 0x43, 1, 0x1C, 0x26}),
         [](const PrinterModes& m) {
             return m.chars.codeTable == 17 && m.chars.international == 3 && m.chars.kanji &&
                    m.chars.kanjiSystem == charset::KanjiSystem::ShiftJis;
         }},
        {"page mode, area and direction",
         Cat({B({0x1B, 0x4C, 0x1B, 0x57}), Le16(8), Le16(0), Le16(200), Le16(300), B({0x1B, 0x54, 1, 0x1B, 0x33, 50})}),
         [](const PrinterModes& m) {
             return m.pageMode && m.pageArea == PageArea{8, 0, 200, 300} &&
                    m.direction == PrintDirection::BottomToTop && m.lineSpacing == 50 &&
                    m.otherLineSpacing == PrinterModes::kDefaultLineSpacing;
         }},
        {"ESC L in the middle of a line", B({'A', 0x1B, 0x4C}), [](const PrinterModes& m) { return !m.pageMode; }},
        {"ESC @ in page mode", B({0x1B, 0x4C, 0x1B, 0x33, 50, 0x1B, 0x40}),
         [](const PrinterModes& m) { return m == PrinterModes(CurrentKanjiModel()); }},
        {"symbol settings and data", B({0x1D, 0x28, 0x6B, 3,    0,   0x31, 0x43, 5,    0x1D, 0x28, 0x6B, 5,
                                        0,    0x31, 0x50, 0x30, 'a', 'b',  0x1D, 0x77, 4,    0x1D, 0x68, 80}),
         [](const PrinterModes& m) {
             return m.symbols2D.qr.moduleSize == 5 && m.symbols2D.qrData == Bytes{'a', 'b'} && m.symbolStores == 2 &&
                    m.barWidth == 4 && m.barHeight == 80;
         }},
        {"other families", B({0x1B, 0x0F, 0x0E, 0x1D, 0x5A, 0}),
         [](const PrinterModes& m) {
             return m.condensed && m.lineWide && m.dialectKind == PrinterModes::kDialectPdf417;
         }},
    };
    for (const Case& c : cases) {
        Interpreter drawing(kOrva58Dots);
        drawing.feed(c.stream);
        CommandDecoder decoding;
        decoding.feed(c.stream);
        EXPECT_TRUE(c.set(drawing.modes())) << c.name;
        EXPECT_TRUE(drawing.modes() == decoding.modes()) << c.name;
    }
}

}  // namespace
}  // namespace pellory::receipt::test
