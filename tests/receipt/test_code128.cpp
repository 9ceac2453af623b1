// CODE128 drawn as the stream sent it: the code sets, shifts and function characters of the data,
// not a shortest encoding of our own choice. Bar widths against symbols worked out by hand from
// the symbology's table, every symbol read back by zbar and zxing-cpp, the data the printer
// refuses printing nothing with the decoding saying why.
#include <gtest/gtest.h>

#include "receipt/code128.h"
#include "receipt/decoding.h"
#include "receipt_test_support.h"
#include "zxing_reader.h"

namespace pellory::receipt::test {
namespace {

// GS w 2, GS h 40, then GS k 73 n data and a line feed, on the 80 mm paper.
Paper Printed(const Bytes& data) {
    const Bytes gsK = Cat({B({0x1D, 0x6B, 73, static_cast<int>(data.size())}), data});
    return Render(Cat({B({0x1D, 0x77, 2, 0x1D, 0x68, 40}), gsK, T("\n")}), kOrva80Dots);
}

// The widths of the bars and spaces across the symbol's first row, in modules of two dots.
std::string Widths(const Paper& p) {
    const Box ink = InkBox(p);
    std::string widths;
    int run = 0;
    for (int x = ink.x0; x < ink.x1; ++x) {
        ++run;
        if (x + 1 == ink.x1 || p.dot(x + 1, ink.y0) != p.dot(x, ink.y0)) {
            widths += std::to_string(run / 2) + (run % 2 ? "+" : "");
            run = 0;
        }
    }
    return widths;
}

// Worked out by hand: the value of each character (code set A: byte - 32, or byte + 64 below 32;
// B: byte - 32; C: the byte), the check character (start + the sum of position x value, modulo
// 103), each value's widths from the table.
TEST(Code128, BarsAreTheCharactersTheDataAskForWithTheirCheckCharacter) {
    struct Case {
        const char* name;
        Bytes data;
        std::string widths;  // start, data, check, stop
        std::string hri;
    };
    const std::vector<Case> cases = {
        // Start B 104, N 46, o 79, . 14, Code C 99, 12, 34, 56; 1402 % 103 = 63.
        {"code set B, then C", Cat({T("{BNo.{C"), B({12, 34, 56})}),
         "211214"
         "113321134111122231113141112232131123331121"
         "111224"
         "2331112",
         "No.123456"},
        // Start A 103, A 33, B 34, SHIFT 98, c 67 (in B), Code C 99, 12; 1333 % 103 = 97.
        {"code set A, SHIFT, then C", Cat({T("{AAB{Sc{C"), B({12})}),
         "211412"
         "111323131123411311141122113141112232"
         "411113"
         "2331112",
         "ABc12"},
        // Start A 103, FNC1 102, A 33, FNC2 97, B 34; 698 % 103 = 80.
        {"FNC1 first, FNC2 inside", T("{A{1A{2B"),
         "211412"
         "411131111323411113131123"
         "111242"
         "2331112",
         " A B"},
        // Start A 103, FNC4 101 (in A), A 33, Code B 100, FNC4 100 (in B) twice, a 65, b 66;
        // 2322 % 103 = 56.
        {"FNC4 in code sets A and B", T("{A{4A{B{4{4ab"),
         "211412"
         "311141111323114131114131114131121124121421"
         "331121"
         "2331112",
         " \xC1  \xE1\xE2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Paper p = Printed(c.data);
        EXPECT_EQ(Widths(p), c.widths);
        EXPECT_EQ(InkBox(p).height(), 40);
        const std::optional<Code128Symbol> symbol = EncodeCode128(std::string(c.data.begin(), c.data.end()));
        ASSERT_TRUE(symbol);
        EXPECT_EQ(symbol->hri, c.hri);
    }
}

TEST(Code128, EverySymbolReadsBackAsSentInBothReaders) {
    struct Case {
        const char* name;
        Bytes data;
        std::string text;  // the content's bytes (a GS where an FNC1 stands inside GS1 data)
        bool gs1;          // FNC1 first
    };
    const std::vector<Case> cases = {
        {"code set B, then C", Cat({T("{BNo.{C"), B({12, 34, 56})}), "No.123456", false},
        {"code set A, SHIFT, then C", Cat({T("{AAB{Sc{C"), B({12})}), "ABc12", false},
        {"a control character in code set A", Cat({T("{A"), B({0x0D}), T("AB")}), "\rAB", false},
        {"{{ after SHIFT from code set A", T("{AX{S{{Y"), "X{Y", false},
        {"FNC1 inside the data", T("{BAB{1CD"),
         "AB\x1d"
         "CD",
         false},
        {"FNC3 first (reader initialisation)", T("{B{3ABC"), "ABC", false},
        {"FNC1 first: GS1 fields of varying length", T("{A{110ABC{121XYZ"),
         "10ABC\x1d"
         "21XYZ",
         true},
        {"FNC1 first, FNC1 after a field of fixed length kept",
         Cat({T("{C{1"), B({1, 9, 50, 11, 1, 53, 0, 3}), T("{1"), B({10, 12})}),
         "0109501101530003\x1d"
         "1012",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Paper p = Printed(c.data);
        const std::vector<ReadSymbol> zbar = ReadSymbols(p);
        ASSERT_EQ(zbar.size(), 1u);
        EXPECT_EQ(zbar[0].type, "CODE-128");
        EXPECT_EQ(zbar[0].data, c.text);
        EXPECT_EQ(zbar[0].gs1, c.gs1);
        const std::vector<ZxingSymbol> zxing = ZxingRead(p);
        ASSERT_EQ(zxing.size(), 1u);
        EXPECT_EQ(zxing[0].format, "Code128");
        EXPECT_EQ(zxing[0].bytes, c.text);
        EXPECT_EQ(zxing[0].symbologyId, c.gs1 ? "]C1" : "]C0");
    }
}

TEST(Code128, DataThePrinterRefusesPrintsNothingAndTheDecodingSaysWhy) {
    struct Case {
        Bytes data;
        std::string why;
    };
    const std::vector<Case> cases = {
        {T("Plain 128"), "no code set ({A, {B or {C) first"},
        {T("{BAB{S"), "SHIFT ({S) with no data character after it at position 5"},
        {T("{AAB{S{1C"), "SHIFT ({S) with no data character after it at position 5"},
        {Cat({T("{C"), B({12}), T("{2")}), "FNC2 ({2) in code set C at position 4"},
        {T("{Bab{Aa"), "code set A takes bytes 0 to 95, not 97 at position 7"},
        {Cat({T("{BA"), B({0x0D})}), "code set B takes bytes 32 to 127, not 13 at position 4"},
        {T("{BAB{"), "a '{' at the end of the data at position 5"},
        {T("{B{1{2"), "no data characters"},
    };
    for (const Case& c : cases) {
        const Bytes stream = Cat({B({0x1D, 0x6B, 73, static_cast<int>(c.data.size())}), c.data});
        const std::string decoded = DecodeStream(stream.data(), stream.size());
        SCOPED_TRACE(decoded);
        EXPECT_NE(decoded.find("(prints nothing: " + c.why + ")"), std::string::npos);
        EXPECT_EQ(Printed(c.data).inkDots(), 0u);
    }
}

}  // namespace
}  // namespace pellory::receipt::test
