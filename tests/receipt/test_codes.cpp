// Barcodes and 2-D codes as point-of-sale software sends them: every symbol read back by an
// independent reader (zbar where it reads the symbology, zxing-cpp for the rest), the data the
// printer refuses printing nothing with the decoding saying why, the geometry the commands set.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "receipt/decoding.h"
#include "receipt/symbols.h"
#include "symbol_streams.h"
#include "zxing_reader.h"

#ifndef PELLORY_ESCPOS_CORPUS
#error "PELLORY_ESCPOS_CORPUS names the folder of the streams"
#endif

namespace pellory::receipt::test {
namespace {

enum class Reader { Zbar, Zxing, ZxingPure };

struct ReadCase {
    const char* name;
    Bytes stream;
    Reader reader;
    std::string format;  // the reader's name of the symbology
    std::string text;    // what it reads
};

std::string Listed(const std::vector<ZxingSymbol>& read) {
    std::string s;
    for (const ZxingSymbol& r : read) s += r.format + ":\"" + r.text + "\" ";
    return s;
}

TEST(ReceiptCodes, EverySymbolReadsBackWithItsData) {
    const std::string gs = "\x1d";
    const std::vector<ReadCase> cases = {
        {"PDF417 defaults", Cat({Store(48, "Pellory PDF417 receipt 0042"), Print(48)}), Reader::Zxing, "PDF417",
         "Pellory PDF417 receipt 0042"},
        {"PDF417 4 columns, width 2, row height 4, level 3",
         Cat({Fn2D(48, 65, B({4})), Fn2D(48, 67, B({2})), Fn2D(48, 68, B({4})), Fn2D(48, 69, B({48, 51})),
              Store(48, "Table 12, 3 covers, total 48.70"), Print(48)}),
         Reader::Zxing, "PDF417", "Table 12, 3 covers, total 48.70"},
        {"PDF417 rows 20, ratio 40 %",
         Cat({Fn2D(48, 66, B({20})), Fn2D(48, 69, B({49, 4})), Store(48, "0123456789ABCDEF"), Print(48)}),
         Reader::Zxing, "PDF417", "0123456789ABCDEF"},
        {"DataMatrix defaults", Cat({Store(54, "Pellory DataMatrix"), Print(54)}), Reader::Zxing, "DataMatrix",
         "Pellory DataMatrix"},
        {"DataMatrix module 5, square 26",
         Cat({Fn2D(54, 67, B({5})), Fn2D(54, 66, B({0, 26, 0})), Store(54, "LOT 7731"), Print(54)}), Reader::Zxing,
         "DataMatrix", "LOT 7731"},
        {"DataMatrix rectangle 12 x 36", Cat({Fn2D(54, 66, B({1, 36, 12})), Store(54, "RECT-36"), Print(54)}),
         Reader::Zxing, "DataMatrix", "RECT-36"},
        {"Aztec defaults", Cat({Store(53, "Pellory Aztec"), Print(53)}), Reader::Zxing, "Aztec", "Pellory Aztec"},
        {"Aztec compact, 3 layers, module 4",
         Cat({Fn2D(53, 50, B({1, 3})), Fn2D(53, 51, B({4})), Store(53, "COMPACT 3"), Print(53)}), Reader::Zxing,
         "Aztec", "COMPACT 3"},
        {"Aztec full range, 6 layers, 50 %",
         Cat({Fn2D(53, 50, B({0, 6})), Fn2D(53, 53, B({50})), Store(53, "FULL RANGE 6"), Print(53)}), Reader::Zxing,
         "Aztec", "FULL RANGE 6"},
        {"MaxiCode mode 4", Cat({Fn2D(50, 65, B({52})), Store(50, "Pellory MaxiCode mode 4"), Print(50)}),
         Reader::ZxingPure, "MaxiCode", "Pellory MaxiCode mode 4"},
        {"MaxiCode mode 2",
         Cat({Fn2D(50, 65, B({50})),
              Store(50,
                    "152382802\x1d"
                    "840\x1d"
                    "001\x1d"
                    "Pellory parcel"),
              Print(50)}),
         Reader::ZxingPure, "MaxiCode",
         "152382802\x1d"
         "840\x1d"
         "001\x1d"
         "Pellory parcel"},
        {"GS1 DataBar Stacked Omnidirectional", Cat({StoreTyped(51, 48, 73, "0001234567890"), Print(51)}),
         Reader::Zxing, "DataBar", "00012345678905"},
        {"GS1 DataBar Stacked, module 3",
         Cat({Fn2D(51, 67, B({3})), StoreTyped(51, 48, 72, "0001234567890"), Print(51)}), Reader::Zxing, "DataBar",
         "00012345678905"},
        {"GS1 DataBar Expanded Stacked", Cat({StoreTyped(51, 48, 76, "(01)00012345678905(10)LOT42"), Print(51)}),
         Reader::Zxing, "DataBarExpanded", "(01)00012345678905(10)LOT42"},
        {"Composite on EAN13",
         Cat({StoreElement(48, 66, "401234567890"), StoreElement(49, 65, "(10)LOT42"), Print(52)}), Reader::Zxing,
         "EAN-13", "4012345678901"},
        {"Composite on GS1-128",
         Cat({StoreElement(48, 77, "(01)00012345678905"), StoreElement(49, 65, "(10)LOT42"), Print(52)}), Reader::Zxing,
         "Code128", "0100012345678905"},
        {"QR code", Cat({Store(49, "Pellory QR"), Print(49)}), Reader::Zbar, "QR-Code", "Pellory QR"},
        {"CODE128 code set C for the digits", GsK(73, Cat({T("{BORDER-{C"), B({77, 31})})), Reader::Zbar, "CODE-128",
         "ORDER-7731"},
        {"CODE128 all in code set C", GsK(73, Cat({T("{C"), B({12, 34, 56, 0})})), Reader::Zbar, "CODE-128",
         "12345600"},
        {"CODE128 SHIFT and {{", GsK(73, T("{AABC{Sx{B{{y")), Reader::Zbar, "CODE-128", "ABCx{y"},
        {"CODE128 in code set B", GsK(73, T("{BPlain 128")), Reader::Zbar, "CODE-128", "Plain 128"},
        {"GS1-128 with a computed check digit", GsK(74, T("{A(01)0001234567890*(10)ABC1")), Reader::Zxing, "Code128",
         "010001234567890510ABC1"},
        {"GS1-128 with its identifiers bare", GsK(74, T("0100012345678905")), Reader::Zxing, "Code128",
         "0100012345678905"},
        {"GS1-128 bare, letters and an FNC1 between fields", GsK(74, T("10ABC1{12112345")), Reader::Zxing, "Code128",
         "10ABC1\x1d" "2112345"},
        {"GS1 DataBar Omnidirectional", GsK(75, T("0001234567890")), Reader::Zxing, "DataBar", "00012345678905"},
        {"GS1 DataBar Truncated", GsK(76, T("0001234567890")), Reader::Zxing, "DataBar", "00012345678905"},
        {"GS1 DataBar Expanded", GsK(78, T("(01)00012345678905(10)LOT42")), Reader::Zxing, "DataBarExpanded",
         "(01)00012345678905(10)LOT42"},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Paper p =
            Render(Cat({B({0x1B, 0x61, 1, 0x1D, 0x68, 80, 0x1D, 0x77, 2}), c.stream, T("\n")}), kOrva80Dots);
        ASSERT_GT(p.inkDots(), 0u);
        if (c.reader == Reader::Zbar) {
            const std::vector<ReadSymbol> read = ReadSymbols(p);
            ASSERT_EQ(read.size(), 1u);
            EXPECT_EQ(read[0].type, c.format);
            EXPECT_EQ(read[0].data, c.text);
            continue;
        }
        const std::vector<ZxingSymbol> read = ZxingRead(p, INT64_MIN, INT64_MAX, c.reader == Reader::ZxingPure);
        ASSERT_EQ(read.size(), 1u) << Listed(read);
        EXPECT_EQ(read[0].format, c.format);
        EXPECT_EQ(read[0].text, c.text);
    }
}

TEST(ReceiptCodes, DataThePrinterRefusesPrintsNothingAndTheDecodingSaysWhy) {
    struct Case {
        Bytes stream;
        std::string why;  // in the decoding's line
    };
    const std::vector<Case> cases = {
        {GsK(73, Cat({T("{C"), B({12, 100})})), "code set C takes bytes 0 to 99, not 100 at position 4"},
        {GsK(73, T("{BAB{X")), "'{' followed by 'X' at position 5"},
        {GsK(73, T("{C{S1")), "SHIFT ({S) in code set C"},
        {GsK(73, T("{A{{")), "'{{' outside code set B"},
        {GsK(73, Cat({T("{Aab")})), "code set A takes bytes 0 to 95, not 97"},
        {GsK(74, T("12(01)0001234567890")), "no application identifier in parentheses"},
        {GsK(74, T("(1)2345")), "application identifier \"1\" is not two to four digits"},
        {GsK(75, T("000123456789")), "takes 13 digits"},
        {GsK(77, T("2001234567890")), "GS1 DataBar Limited takes 0 or 1 as its first digit"},
        {GsK(67, T("12345678901a")), "EAN13 takes 12 or 13 digits"},
        {GsK(70, T("12345")), "ITF takes an even number of digits"},
        {GsK(71, T("12345")), "CODABAR starts and ends with A, B, C or D"},
        {GsK(69, T("code39")), "CODE39 has no character 99 at position 1"},
        {Cat({StoreTyped(51, 48, 72, "000123456789"), Print(51)}), "takes 13 digits"},
    };
    for (const Case& c : cases) {
        const std::string decoded = DecodeStream(c.stream.data(), c.stream.size());
        SCOPED_TRACE(decoded);
        EXPECT_NE(decoded.find("(prints nothing: " + c.why), std::string::npos);
        EXPECT_EQ(Render(c.stream).inkDots(), 0u);
    }
}

TEST(ReceiptCodes, Code128SelectorsResolveToWhatTheReaderReads) {
    struct Case {
        Bytes data;
        std::string content;
    };
    const std::vector<Case> cases = {
        {Cat({T("{BORDER-{C"), B({77, 31})}), "ORDER-7731"},
        {Cat({T("{C"), B({0, 5, 99})}), "000599"},
        {Cat({T("{A"), B({0x0D}), T("AB")}), "\rAB"},
        {T("{BNo.{C{1"), "No."},      // FNC1 reads as nothing
        {T("{AAB{Sc{SdE"), "ABcdE"},  // SHIFT takes one character from code set B
        {T("{Bx{{y"), "x{y"},
        {T("{B{4A"), "\xC1"},  // FNC4: the next character + 128
        {T("{B{4{4AB{4{4C"),
         "\xC1\xC2"
         "C"},  // FNC4 twice: until the next pair
        {Cat({T("{C"), B({12}), T("{Bx")}), "12x"},
    };
    for (const Case& c : cases) {
        const std::string data(c.data.begin(), c.data.end());
        std::string error;
        const std::optional<std::string> content = Code128Content(data, &error);
        ASSERT_TRUE(content) << data << ": " << error;
        EXPECT_EQ(*content, c.content) << data;
    }
}

// CODE128 drawn as its data ask: code set C only where the data use it, FNC1 first as GS1-128 (the
// reader says GS1, and reads a GS for each FNC1 after it), FNC3 first as reader initialisation
// (one character more). modules: the symbol's width the data ask for (start, characters, code
// changes, function characters, check character: 11 each; stop: 13).
TEST(ReceiptCodes, Code128DrawsTheCodeSetsAndFunctionCharactersTheDataAskFor) {
    struct Case {
        const char* name;
        Bytes data;
        std::string text;
        bool gs1;
        int modules;
    };
    const std::vector<Case> cases = {
        {"digits in code set B, as asked", T("{B12345678"), "12345678", false, 11 * 10 + 13},
        {"digits in code set A, as asked", T("{A12345678"), "12345678", false, 11 * 10 + 13},
        {"digits in code set C, as asked", Cat({T("{C"), B({12, 34, 56, 78})}), "12345678", false, 11 * 6 + 13},
        {"code set A, then C", Cat({T("{AAB{C"), B({12, 34})}), "AB1234", false, 11 * 7 + 13},
        {"FNC1 first: GS1-128, a field of varying length then another", T("{A{110ABC{121XYZ"),
         "10ABC\x1d"
         "21XYZ",
         true, 11 * 14 + 13},
        {"FNC1 first: GS1-128, a field of fixed length", Cat({T("{C{1"), B({1, 9, 50, 11, 1, 53, 0, 3})}),
         "0109501101530003", true, 11 * 11 + 13},
        {"FNC3 first: reader initialisation", T("{B{3ABC"), "ABC", false, 11 * 6 + 13},
        {"FNC2: drawn, read as nothing", T("{BAB{2C"), "ABC", false, 11 * 6 + 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Paper p = Render(Cat({B({0x1D, 0x77, 2}), GsK(73, c.data), T("\n")}), kOrva80Dots);
        const std::vector<ReadSymbol> read = ReadSymbols(p);
        ASSERT_EQ(read.size(), 1u);
        EXPECT_EQ(read[0].type, "CODE-128");
        EXPECT_EQ(read[0].data, c.text);
        EXPECT_EQ(read[0].gs1, c.gs1);
        EXPECT_EQ(InkBox(p).width(), 2 * c.modules);
    }
}

TEST(ReceiptCodes, Pdf417TakesTheColumnsRowsModuleAndRowHeightItIsGiven) {
    struct Case {
        int columns, rows, width, rowHeight;
        bool truncated;
    };
    for (const Case& c : std::vector<Case>{{3, 0, 3, 3, false},
                                           {5, 12, 2, 4, false},
                                           {2, 30, 2, 2, false},
                                           {4, 0, 4, 3, true},
                                           {2, 10, 3, 5, true}}) {
        SCOPED_TRACE(testing::Message() << c.columns << " columns, " << c.rows << " rows, " << c.width << " x "
                                        << c.rowHeight << (c.truncated ? " truncated" : ""));
        const Bytes stream = Cat({Fn2D(48, 65, B({c.columns})), Fn2D(48, 66, B({c.rows})), Fn2D(48, 67, B({c.width})),
                                  Fn2D(48, 68, B({c.rowHeight})), Fn2D(48, 70, B({c.truncated ? 1 : 0})),
                                  Store(48, "Columns and rows"), Print(48)});
        const Paper p = Render(stream, kOrva80Dots);
        const Box ink = InkBox(p);
        // Start pattern, left row indicator, the columns, (right row indicator,) stop pattern.
        const int modules = c.truncated ? 17 + 17 + 17 * c.columns + 1 : 17 + 17 + 17 * c.columns + 17 + 18;
        EXPECT_EQ(ink.width(), modules * c.width);
        EXPECT_EQ(ink.height() % (c.width * c.rowHeight), 0);
        if (c.rows) {
            EXPECT_EQ(ink.height(), c.rows * c.width * c.rowHeight);
        }
        // The start pattern opens with a bar of 8 modules.
        int bar = 0;
        while (p.dot(ink.x0 + bar, ink.y0)) ++bar;
        EXPECT_EQ(bar, 8 * c.width);
        const std::vector<ZxingSymbol> read = ZxingRead(p);
        if (!c.truncated) {  // the reader has no truncated PDF417
            ASSERT_EQ(read.size(), 1u);
            EXPECT_EQ(read[0].text, "Columns and rows");
        }
    }
}

TEST(ReceiptCodes, Pdf417ThatDoesNotFitPrintsNothing) {
    const std::string data = "Columns and rows";
    // Two columns and ten rows hold it; one column and ten rows do not; thirty columns of three
    // dots are wider than the 80 mm paper.
    EXPECT_GT(Render(Cat({Fn2D(48, 65, B({2})), Fn2D(48, 66, B({10})), Store(48, data), Print(48)})).inkDots(), 0u);
    EXPECT_EQ(Render(Cat({Fn2D(48, 65, B({1})), Fn2D(48, 66, B({10})), Store(48, data), Print(48)})).inkDots(), 0u);
    EXPECT_EQ(Render(Cat({Fn2D(48, 65, B({30})), Store(48, data), Print(48)}), kOrva80Dots).inkDots(), 0u);
    EXPECT_GT(Render(Cat({Fn2D(48, 65, B({30})), Store(48, data), Print(48)}), 2048).inkDots(), 0u);
}

TEST(ReceiptCodes, Pdf417ErrorCorrectionByLevelAndByRatio) {
    // The printer's table: data codewords x ratio x 0.1 (halves up) gives the level.
    struct Ratio {
        int codewords, ratio, level;
    };
    for (const Ratio& r : std::vector<Ratio>{{10, 1, 1},
                                             {34, 1, 1},
                                             {35, 1, 2},
                                             {10, 10, 2},
                                             {11, 10, 3},
                                             {21, 10, 4},
                                             {100, 1, 2},
                                             {100, 10, 5},
                                             {101, 10, 6},
                                             {100, 40, 7},
                                             {200, 40, 8}}) {
        EXPECT_EQ(Pdf417LevelForRatio(r.codewords, r.ratio), r.level) << r.codewords << " x " << r.ratio;
    }
    // What the reader finds in the symbol.
    struct Case {
        Bytes setting;
        std::string level;
    };
    const std::string data(60, '7');  // 60 digits: 21 data codewords
    for (const Case& c : std::vector<Case>{{{}, "1"},
                                           {Fn2D(48, 69, B({48, 53})), "5"},
                                           {Fn2D(48, 69, B({48, 48})), "0"},
                                           {Fn2D(48, 69, B({49, 10})), "4"},
                                           {Fn2D(48, 69, B({49, 40})), "5"}}) {
        const std::vector<ZxingSymbol> read =
            ZxingRead(Render(Cat({c.setting, Store(48, data), Print(48)}), kOrva80Dots));
        ASSERT_EQ(read.size(), 1u);
        EXPECT_EQ(read[0].bytes, data);
        EXPECT_EQ(read[0].level, c.level);
    }
}

TEST(ReceiptCodes, DecodingNamesEachSymbolFunction) {
    struct Case {
        Bytes command;
        std::string meaning;
    };
    const std::vector<Case> cases = {
        {Fn2D(48, 65, B({4})), "PDF417: columns 4"},
        {Fn2D(48, 66, B({0})), "PDF417: rows as the data need"},
        {Fn2D(48, 67, B({3})), "PDF417: module width 3 dots"},
        {Fn2D(48, 68, B({5})), "PDF417: row height 5 modules"},
        {Fn2D(48, 69, B({48, 50})), "PDF417: error correction level 2"},
        {Fn2D(48, 69, B({49, 3})), "PDF417: error correction 30 % of the data"},
        {Fn2D(48, 70, B({1})), "PDF417: truncated"},
        {Store(48, "abc"), "PDF417: store 3 data bytes"},
        {Print(48), "PDF417: print"},  // alone (a history row): nothing said of what came before
        {Cat({Store(48, "abc"), B({0x1B, 0x40}), Print(48)}), "PDF417: print (prints nothing: no data stored)"},
        {Cat({Store(48, "abc"), Print(48)}), "PDF417: print"},
        {Cat({Fn2D(48, 65, B({1})), Fn2D(48, 66, B({3})), Store(48, std::string(40, 'x')), Print(48)}),
         "PDF417: print (prints nothing: the data do not fit 1 columns and 3 rows)"},
        {Cat({StoreTyped(51, 48, 74, "0001234567890"), Print(51)}),
         "GS1 DataBar: print (prints nothing: no GS1 DataBar of type 74)"},
        {Cat({Fn2D(50, 65, B({50})), Store(50, "no fields"), Print(50)}),
         "MaxiCode: print (prints nothing: mode 2 takes the postal code, country and class of service, each ended by GS)"},
        {Cat({Fn2D(54, 66, B({0, 11, 0})), Store(54, "x"), Print(54)}),
         "DataMatrix: print (prints nothing: no square symbol of 11 modules)"},
        {Fn2D(48, 82, B({48})), "PDF417: send size"},
        {Fn2D(50, 65, B({50})), "MaxiCode: mode 2"},
        {StoreTyped(51, 48, 73, "0001234567890"), "GS1 DataBar: store 13 data bytes, stacked omnidirectional"},
        {Fn2D(51, 71, B({0, 2})), "GS1 DataBar: expanded stacked width 512 dots"},
        {StoreElement(48, 70, "0001234567890"), "Composite: store the linear part, 13 data bytes"},
        {StoreElement(49, 65, "(10)LOT42"), "Composite: store the 2-D part, 9 data bytes"},
        {Fn2D(53, 50, B({1, 3})), "Aztec: compact, 3 layers"},
        {Fn2D(53, 53, B({40})), "Aztec: error correction 40 %"},
        {Fn2D(54, 66, B({1, 18, 8})), "DataMatrix: rectangle, 8 x 18 modules"},
        {Fn2D(54, 67, B({6})), "DataMatrix: module size 6 dots"},
        {GsK(73, Cat({T("{BORDER-{C"), B({77, 31})})), "barcode CODE128: \"ORDER-7731\""},
        {GsK(78, T("(01)00012345678905")), "barcode GS1 DataBar Expanded: \"(01)00012345678905\""},
    };
    for (const Case& c : cases) {
        // The last command's line (the ones before set up the symbol).
        const std::vector<DecodedCommand> decoded = DecodeCommands(c.command.data(), c.command.size());
        ASSERT_FALSE(decoded.empty()) << c.meaning;
        EXPECT_TRUE(decoded.back().known) << c.meaning;
        EXPECT_EQ(decoded.back().meaning, c.meaning);
    }
    // A cn no printer has stays the entry's meaning.
    const Bytes other = Fn2D(60, 65, B({1}));
    EXPECT_EQ(DecodeCommands(other.data(), other.size())[0].meaning, "2D symbol function");
}

TEST(ReceiptCodes, InitialiseReturnsTheSymbolSettingsToTheirDefaults) {
    const Bytes wide = Cat({Fn2D(54, 67, B({8})), B({0x1B, 0x40}), Store(54, "DEFAULT"), Print(54)});
    const Bytes plain = Cat({Store(54, "DEFAULT"), Print(54)});
    EXPECT_TRUE(SameDots(Render(wide), Render(plain)));
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ReceiptCodes, EveryPdf417OfTheCorpusReadsBack) {
    namespace fs = std::filesystem;
    const fs::path root(PELLORY_ESCPOS_CORPUS);
    ASSERT_TRUE(fs::is_directory(root)) << root << " (the shared streams) is missing";
    size_t symbols = 0;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file() || e.path().filename() == "README.md") continue;
        const std::vector<uint8_t> stream = ReadFile(e.path());
        // Command by command: after each PDF417 print, its rows are read alone. The paper is wide
        // enough for the widest (30 columns of 3 dots: on 80 mm paper it prints nothing).
        Interpreter printer(2048);
        std::string stored;
        for (const DecodedCommand& c : DecodeCommands(stream.data(), stream.size())) {
            const int64_t before = printer.position();
            printer.feed(stream.data() + c.offset, StreamLength(c));
            const bool pdf417 = c.bytes.size() >= 7 && c.bytes[0] == 0x1D && c.bytes[1] == '(' && c.bytes[2] == 'k' &&
                                c.bytes[5] == 48;
            if (!pdf417) continue;
            if (c.bytes[6] == 80) stored.assign(c.bytes.begin() + 8, c.bytes.end());
            if (c.bytes[6] != 81) continue;
            SCOPED_TRACE(e.path().string() + " at " + std::to_string(c.offset));
            ++symbols;
            const std::vector<ZxingSymbol> read = ZxingRead(printer.paper(), before, printer.position());
            ASSERT_EQ(read.size(), 1u) << Listed(read);
            EXPECT_EQ(read[0].format, "PDF417");
            EXPECT_EQ(read[0].bytes, stored);
        }
    }
    EXPECT_GE(symbols, 24u);
}

}  // namespace
}  // namespace pellory::receipt::test
