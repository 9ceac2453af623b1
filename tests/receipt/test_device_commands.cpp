// The commands that draw nothing (real-time requests, the drawer, the beeper, sensors, set-up and
// status) and the other printer families' commands a stream may hold: each is taken as long as it
// is, the decoding names it and its parameters, and the text after it prints as it would alone.
// And what ESC r and the font bit of ESC ! change on the paper.
#include <gtest/gtest.h>

#include <QImage>
#include <string>
#include <vector>

#include "receipt/decoding.h"
#include "receipt/paper_image.h"
#include "receipt/paper_png.h"
#include "receipt_test_support.h"

namespace pellory::receipt::test {
namespace {

struct NamedCase {
    const char* name;
    Bytes command;
    std::string decoded;  // the decoding's line for it, from the mnemonic on
};

// Decodes the command followed by text and a line feed.
std::vector<DecodedCommand> DecodedWithText(const Bytes& command) {
    const Bytes stream = Cat({command, T("Ab"), B({0x0A})});
    return DecodeCommands(stream.data(), stream.size());
}

// The line the decoding writes, from the mnemonic on (after the offset and the bytes).
std::string FromMnemonic(const DecodedCommand& c) {
    const std::string line = FormatDecoded(c);
    const std::string bytes = "  " + c.mnemonic + "  ";
    const size_t at = line.find(bytes);
    return at == std::string::npos ? line : line.substr(at + 2);
}

void ExpectTakenWholeAndNamed(const std::vector<NamedCase>& cases) {
    const Paper alone = Render(Cat({T("Ab"), B({0x0A})}), kOrva80Dots);
    for (const NamedCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<DecodedCommand> d = DecodedWithText(c.command);
        ASSERT_EQ(d.size(), 3u);
        EXPECT_EQ(StreamLength(d[0]), c.command.size()) << FormatDecoded(d[0]);
        EXPECT_EQ(FromMnemonic(d[0]), c.decoded);
        // The text after it is text, where the command ends; it prints as it prints alone.
        EXPECT_TRUE(d[1].text);
        EXPECT_EQ(d[1].offset, c.command.size());
        EXPECT_EQ(d[1].meaning, "\"Ab\"");
        EXPECT_TRUE(SameDots(Render(Cat({c.command, T("Ab"), B({0x0A})}), kOrva80Dots), alone));
    }
}

TEST(DeviceCommands, EachIsTakenWholeNamedAndDrawsNothing) {
    ExpectTakenWholeAndNamed({
        {"DLE EOT", B({0x10, 0x04, 1}), "DLE 04 01  status request 1"},
        {"DLE ENQ", B({0x10, 0x05, 2}), "DLE 05 02  real-time request 2: recover, the buffers cleared"},
        {"DLE DC4 pulse", B({0x10, 0x14, 1, 1, 3}),
         "DLE 14 01 01 03  real-time function 1: drawer pulse, pin 5, 300 ms"},
        {"DLE DC4 buzzer", B({0x10, 0x14, 3, 1, 2, 1, 5, 5}),
         "DLE 14 03 01 02 01 05 05  real-time function 3: buzzer, pattern 1, 2 times"},
        {"DLE DC4 clear", B({0x10, 0x14, 8, 1, 3, 20, 1, 6, 2, 8}),
         "DLE 14 08 01 03 14 01 06 ...  real-time function 8: clear the buffers"},
        {"ESC p", B({0x1B, 'p', 0, 25, 250}), "ESC p 00 19 FA  drawer pulse: pin 2, on 50 ms, off 500 ms"},
        {"ESC ( A", B({0x1B, '(', 'A', 5, 0, 97, 100, 2, 2, 1}),
         "ESC ( A 05 00 61 64 02 02 ...  beeper: fn 97, n 100, c 2, t1 2, t2 1"},
        {"ESC c 3", B({0x1B, 'c', '3', 0x0F}), "ESC c 33 0F  paper sensors: those that signal paper end, 0F"},
        {"ESC c 4", B({0x1B, 'c', '4', 0x01}), "ESC c 34 01  paper sensors: those that stop printing, 01"},
        {"ESC c 5", B({0x1B, 'c', '5', 0x01}), "ESC c 35 01  paper sensors: panel buttons disabled"},
        {"ESC =", B({0x1B, '=', 1}), "ESC = 01  select device: printer on"},
        {"GS a", B({0x1D, 'a', 0x0F}), "GS a 0F  automatic status back: 0F"},
        {"GS r", B({0x1D, 'r', 1}), "GS r 01  status request 1"},
        {"GS I", B({0x1D, 'I', 67}), "GS I 43  printer ID 67"},
        {"GS ( A", B({0x1D, '(', 'A', 2, 0, 0, 2}), "GS ( A 02 00 00 02  test print (not drawn): n 0, m 2"},
        {"GS ( H", B({0x1D, '(', 'H', 6, 0, 48, 48, 1, 2, 3, 4}),
         "GS ( H 06 00 30 30 01 02 ...  process ID response: fn 48, m 48"},
        {"GS ( N", B({0x1D, '(', 'N', 2, 0, 48, 49}), "GS ( N 02 00 30 31  character effects: character colour 49"},
        {"GS g", B({0x1D, 'g', '0', 0, 20, 0}), "GS g 30 00 14 00  maintenance counter: reset counter 20"},
        {"GS b", B({0x1D, 'b', 1}), "GS b 01  smoothing on"},
        {"FS ( A", B({0x1C, '(', 'A', 2, 0, 48, 1}), "FS ( A 02 00 30 01  Kanji font: fn 48, m 1"},
        {"FS S", B({0x1C, 'S', 2, 3}), "FS S 02 03  Kanji spacing: left 2 dots, right 3 dots"},
        {"FS W", B({0x1C, 'W', 1}), "FS W 01  Kanji quadruple size on"},
        {"FS !", B({0x1C, '!', 4}), "FS ! 04  Kanji print mode 04"},
        {"FS -", B({0x1C, '-', 1}), "FS - 01  Kanji underline: 1 dots"},
        {"FS - of two dots as a character", B({0x1C, '-', '2'}), "FS - 32  Kanji underline: 2 dots"},
        {"FS .", B({0x1C, '.'}), "FS .  Kanji mode off"},
        {"NUL", B({0x00}), "NUL  nothing (passed by)"},
        {"ESC r out of range", B({0x1B, 'r', 29}), "ESC r 1D  print colour: 29 (none: ignored)"},
    });
}

TEST(DeviceCommands, ALoneEscMAtTheEndIsNamedAsTheOtherMakersCut) {
    const Bytes stream = B({0x1B, 't', 2, 0x1B, 'm'});
    EXPECT_EQ(DecodeStream(stream.data(), stream.size()),
              "0000  1B 74 02  ESC t 02  code table 2\n"
              "0003  1B 6D  ESC m  unknown; ESC m alone is a partial cut on other makers' printers (here it takes n, "
              "the print density)\n");
}

TEST(DeviceCommands, OtherFamiliesCommandsAreTheirLengthAndNamedAsTheirs) {
    ExpectTakenWholeAndNamed({
        // ESC SI draws narrower text: its case is with the text sizes (test_text_size.cpp).
        {"ESC/P condensed off", B({0x12}),
         "DC2  unknown; ESC/P: condensed printing off; drawn as wide as before ESC SI"},
        {"ESC/P italic on", B({0x1B, '4'}),
         "ESC 4  unknown; ESC/P: italic on (Star: highlight on); the text is drawn as it is"},
        {"ESC/P italic off", B({0x1B, '5'}),
         "ESC 5  unknown; ESC/P: italic off (Star: highlight off); the text is drawn as it is"},
        {"Star and ESC/P double width", B({0x1B, 'W', 1}), "ESC W 01  unknown; Star and ESC/P: double width on"},
        {"Star and ESC/P double width off, '0'", B({0x1B, 'W', '0'}),
         "ESC W 30  unknown; Star and ESC/P: double width off"},
        {"Bematech command set", B({0x1D, 0xF9, '5', '0'}), "GS F9 35 30  unknown; Bematech: select the command set"},
    });
}

// ---------------------------------------------------------------------------------------------
// ESC r: the second colour

bool IsRed(QRgb c) { return qRed(c) == 255 && qGreen(c) == 0 && qBlue(c) == 0; }
bool IsBlack(QRgb c) { return qRed(c) == 0 && qGreen(c) == 0 && qBlue(c) == 0; }

QImage Png(const Paper& p) {
    std::vector<uint8_t> bytes;
    const bool written = WritePaperPng(p, p.firstRow(), p.endRow(), [&](const uint8_t* d, size_t n) {
        bytes.insert(bytes.end(), d, d + n);
        return true;
    });
    EXPECT_TRUE(written);
    return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()), "PNG");
}

TEST(PrintColour, ColourTwoPrintsRedInThePngAndTheLiveViewAndBlackStaysBlack) {
    struct Case {
        const char* name;
        Bytes stream;
        bool firstRed, secondRed;
    };
    const Case cases[] = {
        {"ESC r 1, then ESC r 0", Cat({B({0x1B, 'r', 1}), T("AB\n"), B({0x1B, 'r', 0}), T("AB\n")}), true, false},
        {"ESC r 49, then ESC r 48", Cat({B({0x1B, 'r', 49}), T("AB\n"), B({0x1B, 'r', 48}), T("AB\n")}), true, false},
        {"ESC r 1, then ESC @", Cat({B({0x1B, 'r', 1}), T("AB\n"), B({0x1B, '@'}), T("AB\n")}), true, false},
        {"ESC r 2 changes nothing", Cat({B({0x1B, 'r', 1}), T("AB\n"), B({0x1B, 'r', 2}), T("AB\n")}), true, true},
        {"never colour 2", Cat({T("AB\n"), T("AB\n")}), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Paper p = Render(c.stream, kOrva58Dots);
        const QImage png = Png(p);
        const QImage live = PaperImage(p, true);
        ASSERT_FALSE(png.isNull());
        // A picture without red keeps its palette of white and black, one bit a pixel.
        EXPECT_EQ(png.depth() == 1, !(c.firstRed || c.secondRed)) << png.depth();
        const Box first = InkBox(p, 0, 33), second = InkBox(p, 33, p.endRow());
        ASSERT_FALSE(first.empty());
        ASSERT_FALSE(second.empty());
        for (const auto& [box, red] : {std::pair{first, c.firstRed}, std::pair{second, c.secondRed}}) {
            size_t inked = 0;
            for (int64_t y = box.y0; y < box.y1; ++y) {
                for (int x = box.x0; x < box.x1; ++x) {
                    if (!p.dot(x, y)) continue;
                    ++inked;
                    const QRgb inPng = png.pixel(x, static_cast<int>(y));
                    ASSERT_TRUE(red ? IsRed(inPng) : IsBlack(inPng)) << x << "," << y;
                    const QRgb inLive = live.pixel(x, static_cast<int>(y));
                    ASSERT_EQ(qRed(inLive), red ? 255 : qGreen(inLive)) << x << "," << y;
                    ASSERT_LT(qGreen(inLive), 255) << x << "," << y;
                }
            }
            EXPECT_GT(inked, 0u);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// ESC ! bit 0: the font, as ESC M chooses it

TEST(PrintModeFont, BitZeroChoosesFont2AndItsAbsenceFont1) {
    struct Case {
        const char* name;
        Bytes stream, same;
    };
    const Bytes text = T("Font 0123\n");
    const Case cases[] = {
        {"ESC ! 1 is ESC M 1", Cat({B({0x1B, '!', 1}), text}), Cat({B({0x1B, 'M', 1}), text})},
        {"ESC ! 0 after ESC M 1 is Font1", Cat({B({0x1B, 'M', 1, 0x1B, '!', 0}), text}), text},
        {"ESC ! 9 is ESC M 1 with ESC E", Cat({B({0x1B, '!', 9}), text}), Cat({B({0x1B, 'M', 1, 0x1B, 'E', 1}), text})},
        {"ESC M 2 after ESC ! 1 is Font3", Cat({B({0x1B, '!', 1, 0x1B, 'M', 2}), text}),
         Cat({B({0x1B, 'M', 2}), text})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(SameDots(Render(c.stream), Render(c.same)));
    }
    EXPECT_FALSE(SameDots(Render(Cat({B({0x1B, '!', 1}), text})), Render(text)));
    const Bytes one = B({0x1B, '!', 0x09});
    EXPECT_EQ(DecodeStream(one.data(), one.size()), "0000  1B 21 09  ESC ! 09  print mode: Font2, emphasized\n");
}

}  // namespace
}  // namespace pellory::receipt::test
