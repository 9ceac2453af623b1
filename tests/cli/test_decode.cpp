// Naming the commands, and the command line's render, decode and --receipt.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "history/history_decoding.h"
#include "pages/core/samples.h"
#include "receipt/command_decoder.h"
#include "receipt/receipt_test_support.h"
#include "support/scratch_folder.h"

namespace pellory::receipt::test {
namespace {

TEST(ReceiptDecode, OneLinePerCommandWithOffsetBytesMnemonicAndMeaning) {
    const Bytes stream = Cat({B({0x0A}), T("Font"), B({0x1B, 0x21, 0x08}), B({0x1B, 0x7A}),
                              B({0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, 0x02, 0x00, 0xFF, 0x00}), B({0x1D, 0x56, 0x42, 0x78})});
    const std::string text = DecodeStream(stream.data(), stream.size());
    EXPECT_EQ(text,
              "0000  0A  LF  print and feed one line\n"
              "0001  46 6F 6E 74  \"Font\"\n"
              "0005  1B 21 08  ESC ! 08  print mode: emphasized\n"
              "0008  1B 7A  ESC z  unknown\n"
              "000A  1D 76 30 00 01 00 02 00 FF 00  GS v 0 00 01 00 02 00  raster image, normal: 8 x 2 dots\n"
              "0014  1D 56 42 78  GS V 42 78  partial cut after feeding 120 dots\n");
}

TEST(ReceiptDecode, TextReadsThroughTheCodeTableAndLongStreamsAreCut) {
    // PC437: 82 is e-acute.
    const Bytes cafe = T("caf\x82");
    EXPECT_EQ(DecodeStream(cafe.data(), cafe.size()), "0000  63 61 66 82  \"caf\xC3\xA9\"\n");
    Bytes many;
    for (int i = 0; i < 60; ++i) many.push_back(0x0A);
    const std::string cut = DecodeStream(many.data(), many.size(), 50);
    EXPECT_EQ(std::count(cut.begin(), cut.end(), '\n'), 51);
    EXPECT_NE(cut.find("... and 10 more commands"), std::string::npos);
}

TEST(ReceiptDecode, TextFollowsTheInternationalSetAndTheKanjiMode) {
    // Japan (ESC R 8) puts the yen sign at 5C; France (ESC R 1) a-grave at 40.
    const Bytes japan = Cat({B({0x1B, 0x52, 0x08}), B({0x5C})});
    EXPECT_NE(DecodeStream(japan.data(), japan.size()).find("\"\xC2\xA5\""), std::string::npos)
        << DecodeStream(japan.data(), japan.size());
    const Bytes france = Cat({B({0x1B, 0x52, 0x01}), B({0x40})});
    EXPECT_NE(DecodeStream(france.data(), france.size()).find("\"\xC3\xA0\""), std::string::npos);
    // Kanji mode on (FS &): D6 D0 is one character.
    const Bytes kanji = Cat({B({0x1C, 0x26}), B({0xD6, 0xD0})});
    EXPECT_NE(DecodeStream(kanji.data(), kanji.size()).find("\"\xE4\xB8\xAD\""), std::string::npos)
        << DecodeStream(kanji.data(), kanji.size());
    // The paper differs too: the yen sign is not the backslash.
    const Bytes usa = Cat({B({0x1B, 0x52, 0x00}), B({0x5C, 0x0A})});
    const Bytes yen = Cat({B({0x1B, 0x52, 0x08}), B({0x5C, 0x0A})});
    EXPECT_FALSE(SameDots(Render(usa), Render(yen)));
}

TEST(ReceiptDecode, AnIncompleteCommandAtTheEndIsShownUnknown) {
    const Bytes stream = B({0x41, 0x1D, 0x76, 0x30, 0x00, 0x10});
    const std::vector<DecodedCommand> c = DecodeCommands(stream.data(), stream.size());
    ASSERT_EQ(c.size(), 2u);
    EXPECT_FALSE(c[1].known);
    EXPECT_EQ(c[1].offset, 1u);
    EXPECT_EQ(c[1].bytes.size(), 5u);
    // Cut inside its parameters: named by its introducer only (nothing past the end is read).
    const Bytes shortEsc = B({0x1B, 0x24, 0x05});
    EXPECT_EQ(DecodeStream(shortEsc.data(), shortEsc.size()), "0000  1B 24 05  ESC $  unknown\n");
}

TEST(ReceiptDecode, TheLinesAreTheSameWhateverPiecesTheStreamComesIn) {
    // Long text runs, Kanji pairs, commands between them, and a raster image too long to hold whole.
    std::string longRun;
    for (int i = 0; i < 900; ++i) longRun += "Line of text " + std::to_string(i) + " ";
    const Bytes stream = Cat({T(longRun), B({0x0A, 0x1C, 0x26}), B({0xD6, 0xD0, 0xD6, 0xD0, 0x41}), B({0x1C, 0x2E}),
                              B({0x1D, 0x76, 0x30, 0x00, 0x30, 0x00, 0x00, 0x08}), Bytes(48 * 2048, 0x81), T(longRun),
                              B({0x1B, 0x21, 0x08}), T("end")});
    const std::string whole = DecodeStream(stream.data(), stream.size());
    EXPECT_EQ(std::count(whole.begin(), whole.end(), '\n'), 9) << whole;
    for (const size_t piece : {size_t{1}, size_t{3}, size_t{4096}, size_t{65536}}) {
        std::string lines;
        CommandDecoder decoder;
        decoder.setDecodeSink([&](const DecodedCommand& c) { lines += FormatDecoded(c) + '\n'; });
        for (size_t at = 0; at < stream.size(); at += piece) decoder.feed(stream.data() + at, std::min(piece, stream.size() - at));
        decoder.finish();
        EXPECT_EQ(lines, whole) << "pieces of " << piece;
    }
}

TEST(ReceiptDecode, EverySampleCommandIsKnown) {
    for (const samples::Sample& s : samples::Samples()) {
        for (const samples::Row& row : s.rows) {
            const Bytes b = samples::RowBytes(row);
            for (const DecodedCommand& c : DecodeCommands(b.data(), b.size())) {
                EXPECT_TRUE(c.known) << s.button << ": " << FormatDecoded(c);
            }
        }
    }
}

TEST(ReceiptDecode, HistoryRowDecodingShowsTheFirstFiftyCommands) {
    EXPECT_EQ(app::HistoryRowDecoding("1B 21 08 "), "0000  1B 21 08  ESC ! 08  print mode: emphasized");
    std::string many;
    for (int i = 0; i < 60; ++i) many += "0A ";
    const std::string cut = app::HistoryRowDecoding(many);
    EXPECT_EQ(std::count(cut.begin(), cut.end(), '\n'), 50);
    EXPECT_NE(cut.find("... and 10 more commands"), std::string::npos);
    // A long text run is cut, so a tooltip stays readable.
    std::string run;
    for (int i = 0; i < 500; ++i) run += "41 ";
    const std::string longText = app::HistoryRowDecoding(run);
    EXPECT_LE(longText.size(), app::kTooltipLineLimit + 3);
}

// ---------------------------------------------------------------------------------------------

// A file's path in a scratch folder of this executable's, removed as it ends.
std::string TempPath(const std::string& name) {
    static const pellory::test::ScratchFolder scratch("pellory_receipt");
    return scratch.Path(name);
}

int Cli(const std::vector<std::string>& args, std::string* out = nullptr) {
    std::ostringstream o, e;
    const int code = app::RunCli(args, o, e);
    if (out) *out = o.str();
    return code;
}

TEST(ReceiptCli, VirtualPrinterReceiptOfTheBarcodeSampleReadsBack) {
    const std::string png = TempPath("barcode.png");
    ASSERT_EQ(Cli({"--virtual-printer", "--receipt", png, "sample", "barcode"}), 0);
    QImage image(QString::fromStdString(png));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 384);
    // Back to a paper, then to the reader.
    Paper p(image.width());
    p.extendTo(image.height());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == qRgb(0, 0, 0)) p.fill(y, x, x + 1, 4);
    const std::vector<ReadSymbol> read = ReadSymbols(p);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].data, "0123456789005");
    std::remove(png.c_str());
}

TEST(ReceiptCli, RenderAndDecodeACapturedStream) {
    const std::string input = TempPath("stream.bin");
    const std::string png = TempPath("stream.png");
    const std::string pdf = TempPath("stream.pdf");
    {
        std::ofstream f(input, std::ios::binary);
        f << "Total\n" << "\x1d\x56\x42\x10";
    }
    ASSERT_EQ(Cli({"render", input, "-o", png, "--model", "ORVA80"}), 0);
    QImage image(QString::fromStdString(png));
    EXPECT_EQ(image.width(), 576);
    EXPECT_EQ(image.height(), 33 + 16 + 1);
    ASSERT_EQ(Cli({"render", input, "-o", pdf}), 0);
    std::ifstream pdfFile(pdf, std::ios::binary);
    std::string head(5, '\0');
    pdfFile.read(head.data(), 5);
    EXPECT_EQ(head, "%PDF-");
    std::string decoded;
    ASSERT_EQ(Cli({"decode", input}, &decoded), 0);
    EXPECT_EQ(decoded, "0000  54 6F 74 61 6C  \"Total\"\n0005  0A  LF  print and feed one line\n"
                       "0006  1D 56 42 10  GS V 42 10  partial cut after feeding 16 dots\n");
    EXPECT_EQ(Cli({"render", TempPath("missing.bin"), "-o", png}), app::kCliFileUnreadable);
    EXPECT_EQ(Cli({"--receipt", png, "sample", "barcode"}), app::kCliRefused);  // needs the virtual printer
    std::remove(input.c_str());
    std::remove(png.c_str());
    std::remove(pdf.c_str());
}

// decode decodes on the paper of its own --model, else of the global --model (ORVA58 unless
// given): a QR code of 456 dots prints on ORVA80's paper only. Another model name is refused.
TEST(ReceiptCli, DecodeIsOnThePaperOfTheModel) {
    const std::string input = TempPath("wide.bin");
    {
        std::ofstream f(input, std::ios::binary);
        f << std::string("\x1d\x5a\x02\x1b\x5a\x0a\x4c\x08\x01\x00x", 11);  // GS Z 2, ESC Z: 456 dots
    }
    const std::string fault = "(prints nothing: wider than the print area)";
    const std::vector<std::pair<std::vector<std::string>, bool>> cases = {
        {{"decode", input, "--model", "ORVA80"}, true},
        {{"decode", input, "--model", "orva58"}, false},
        {{"--model", "ORVA80", "decode", input}, true},
        {{"--model", "ORVA80", "decode", input, "--model", "ORVA58"}, false},
        {{"decode", input}, false},
    };
    for (const auto& [args, prints] : cases) {
        SCOPED_TRACE(args.front() + " " + args.back());
        std::string decoded;
        ASSERT_EQ(Cli(args, &decoded), app::kCliDone);
        EXPECT_EQ(decoded.find(fault) == std::string::npos, prints) << decoded;
    }
    std::ostringstream out, err;
    EXPECT_EQ(app::RunCli({"decode", input, "--model", "ORVA60"}, out, err), app::kCliRefused);
    EXPECT_NE(err.str().find("--model: \"ORVA60\" is not ORVA58 or ORVA80"), std::string::npos) << err.str();
    std::remove(input.c_str());
}

}  // namespace
}  // namespace pellory::receipt::test
