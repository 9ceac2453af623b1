// Other makers' 2-D codes: GS Z n chooses the kind, ESC Z v e k nL nH prints it. The symbols are
// read back by independent readers at the size their version, columns or module count give, the
// data are taken at their whole length and print nothing as text, parameters out of range print
// nothing, and the decoding names both commands and holds the symbols against the model's paper.
#include <gtest/gtest.h>

#include <string>

#include "receipt/decoding.h"
#include "receipt_test_support.h"
#include "zxing_reader.h"

namespace pellory::receipt::test {
namespace {

Bytes Kind(int n) { return B({0x1D, 'Z', n}); }
Bytes Print(int v, int e, int k, const std::string& data) {
    return Cat(
        {B({0x1B, 'Z', v, e, k, static_cast<int>(data.size() & 0xFF), static_cast<int>(data.size() >> 8)}), T(data)});
}

// Data whose bytes would be commands or text if the command's length were misread: ESC @, LF,
// and more than 256 bytes.
std::string LongData() {
    std::string s = "HEAD\x1b@\n";
    while (s.size() < 300) s += "0123456789";
    return s;
}

struct DrawnCase {
    const char* name;
    Bytes stream;
    const char* format;  // as zxing names it
    std::string data;
    const char* level;  // the error correction the symbol says it has ("" not checked)
    int width, height;  // of the ink in dots: modules times module size (height 0: not checked)
};

TEST(DialectSymbols, EachKindIsDrawnAtTheSizeItsParametersGive) {
    const DrawnCase cases[] = {
        // Version 5 is 37 modules, version 1 is 21, version 10 is 57.
        {"QR code, version 5, M, 3 dots", Cat({Kind(2), Print(5, 'M', 3, "Pellory dialect")}), "QRCode",
         "Pellory dialect", "M", 111, 111},
        {"QR code as the data need, L, 4 dots", Cat({Kind(2), Print(0, 'L', 4, "12345")}), "QRCode", "12345", "L", 84,
         84},
        {"QR code, the kind before any GS Z", Print(1, 'H', 2, "ABC"), "QRCode", "ABC", "H", 42, 42},
        {"QR code of more than 256 bytes", Cat({Kind(2), Print(10, 'L', 2, LongData())}), "QRCode", LongData(), "L",
         114, 114},
        // Start 17, left indicator 17, three columns of 17, right indicator 17, stop 18 modules.
        {"PDF417, 3 columns, 2-dot modules", Cat({Kind(0), Print(3, 2, 2, "PDF417 dialect")}), "PDF417",
         "PDF417 dialect", "", 240, 0},
        {"DataMatrix square as the data need", Cat({Kind(1), Print(0, 0, 4, "DM")}), "DataMatrix", "DM", "", 40, 40},
        {"DataMatrix rectangle of 12 rows, 26 columns", Cat({Kind(1), Print(12, 26, 3, "Pellory")}), "DataMatrix",
         "Pellory", "", 78, 36},
    };
    for (const DrawnCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Paper paper = Render(c.stream);
        const auto read = ZxingRead(paper);
        ASSERT_EQ(read.size(), 1u);
        EXPECT_EQ(read[0].format, c.format);
        EXPECT_EQ(read[0].bytes, c.data);
        if (*c.level) {
            EXPECT_EQ(read[0].level, c.level);
        }
        // The symbol is all the ink: nothing of the command printed as text.
        const Box ink = InkBox(paper);
        EXPECT_EQ(ink.width(), c.width);
        if (c.height) {
            EXPECT_EQ(ink.height(), c.height);
        }
    }
    // A second reader agrees on the QR code.
    const auto zbar = ReadSymbols(Render(Cat({Kind(2), Print(0, 'Q', 3, "https://pellory.example/r/42")})));
    ASSERT_EQ(zbar.size(), 1u);
    EXPECT_EQ(zbar[0].type, "QR-Code");
    EXPECT_EQ(zbar[0].data, "https://pellory.example/r/42");
}

// Out of range or too much data: nothing prints, and the text after the command prints where it
// would have without it (the command's length is taken whatever its parameters).
TEST(DialectSymbols, ARefusedSymbolPrintsNothingAndTheStreamGoesOn) {
    const std::string text = "after\n";
    const Paper plain = Render(T(text));
    struct Refused {
        const char* name;
        Bytes stream;
    };
    const Refused cases[] = {
        {"QR version 41", Cat({Kind(2), Print(41, 'L', 3, "x")})},
        {"QR error correction 'X'", Cat({Kind(2), Print(0, 'X', 3, "x")})},
        {"QR module size 0", Cat({Kind(2), Print(0, 'L', 0, "x")})},
        {"QR module size 17", Cat({Kind(2), Print(0, 'L', 17, "x")})},
        {"data past version 1", Cat({Kind(2), Print(1, 'H', 3, LongData())})},
        {"no data", Cat({Kind(2), Print(0, 'L', 3, "")})},
        {"PDF417 of 31 columns", Cat({Kind(0), Print(31, 2, 2, "x")})},
        {"PDF417 level 9", Cat({Kind(0), Print(3, 9, 2, "x")})},
        {"DataMatrix of 7 rows", Cat({Kind(1), Print(7, 26, 3, "x")})},
        {"a kind GS Z does not have", Cat({Kind(3), Print(0, 'L', 3, "x")})},
        {"wider than the paper", Cat({Kind(2), Print(10, 'L', 8, "x")})},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(SameDots(Render(Cat({c.stream, T(text)})), plain));
    }
}

// The decoding holds a symbol against the paper of the model it decodes for, as the drawing does:
// a QR code of 456 dots (version 10, 8-dot modules) prints on ORVA80's 576 dots, not on ORVA58's
// 384.
TEST(DialectSymbols, TheDecodingHoldsASymbolAgainstTheModelsPaper) {
    const Bytes wide = Cat({Kind(2), Print(10, 'L', 8, "x")});
    struct Case {
        const char* name;
        protocol::Model model;
        Bytes stream;
        bool prints;
    };
    const Case cases[] = {
        {"456 dots on ORVA80", protocol::Model::Orva80, wide, true},
        {"456 dots on ORVA58", protocol::Model::Orva58, wide, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string decoded = DecodeStream(c.stream.data(), c.stream.size(), 0, c.model);
        EXPECT_EQ(decoded.find("(prints nothing: wider than the print area)") == std::string::npos, c.prints)
            << decoded;
        EXPECT_EQ(Render(c.stream, protocol::ProfileOf(c.model).paperDots).inkDots() > 0, c.prints);
    }
}

TEST(DialectSymbols, TheDecodingNamesBothCommandsAsOtherMakers) {
    const Bytes stream = Cat({Kind(2), Print(5, 'M', 3, "Pellory"), Kind(0), Print(0, 9, 2, "x"), Kind(1),
                              Print(12, 26, 3, LongData()), T("A")});
    const std::string expected =
        "0000  1D 5A 02  GS Z 02  unknown; other makers: 2-D code kind: QR code\n"
        "0003  1B 5A 05 4D 03 07 00 50 65 6C 6C 6F ... (14 bytes)  ESC Z 05 4D 03 07 00 50 ...  unknown; other "
        "makers: print a 2-D code: QR code, version 5, error correction M, 3-dot modules, 7 bytes of data\n"
        "0011  1D 5A 00  GS Z 00  unknown; other makers: 2-D code kind: PDF417\n"
        "0014  1B 5A 00 09 02 01 00 78  ESC Z 00 09 02 01 00 78  unknown; other makers: print a 2-D code: PDF417, "
        "columns as the data need, error correction level 9, 2-dot modules, 1 byte of data (prints nothing: error "
        "correction level is 0 to 8)\n"
        "001C  1D 5A 01  GS Z 01  unknown; other makers: 2-D code kind: DataMatrix\n"
        "001F  1B 5A 0C 1A 03 33 01 48 45 41 44 1B ... (314 bytes)  ESC Z 0C 1A 03 33 01 48 ...  unknown; other "
        "makers: print a 2-D code: DataMatrix, 12 rows, 26 columns, 3-dot modules, 307 bytes of data (prints "
        "nothing: Error 522: Input too long for selected symbol size)\n"
        "0159  41  \"A\"\n";
    EXPECT_EQ(DecodeStream(stream.data(), stream.size()), expected);
}

}  // namespace
}  // namespace pellory::receipt::test
