// Every receipt stream of other software (../shared/escpos-corpus/, read where it lies) renders:
// no crash, no "unknown" command outside the streams written for other printer families, and
// every barcode and 2-D code it prints reads back, by an independent reader, with the data the
// decoding of the stream gives it (zbar for 1-D codes and QR, zxing-cpp for the others). A symbol
// whose data the printer refuses prints nothing; those the corpus has are listed with the reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "receipt/decoding.h"
#include "receipt_test_support.h"
#include "zxing_reader.h"

#ifndef PELLORY_ESCPOS_CORPUS
#error "PELLORY_ESCPOS_CORPUS names the folder of the streams"
#endif

namespace pellory::receipt::test {
namespace {

namespace fs = std::filesystem;

// The streams written for another printer family (or with a command of one), by their path in
// the corpus: how many commands this printer does not know, and what they are.
struct OtherFamily {
    size_t unknown;
    const char* why;
};
const std::map<std::string, OtherFamily>& OtherFamilies() {
    static const std::map<std::string, OtherFamily> streams = {
        {"grandchef-escpos-buffer/dr800_draw_buffer.bin", {0, "Daruma: ESC * mode 109 (read as 24-dot data)"}},
        {"grandchef-escpos-buffer/mp-4200_th_qrcode.bin",
         {3, "Bematech: GS F9 5 (command set), its QR code GS k Q with the control bytes of its head"}},
        {"grandchef-escpos-buffer/mp-4200_th_utf8_text.bin", {1, "Bematech: GS F9 5 (command set)"}},
        {"grandchef-escpos-buffer/tm-t20_condensed_text.bin", {2, "ESC/P: ESC SI and DC2 (condensed on and off)"}},
        {"grandchef-escpos-buffer/tm-t20_italic_text.bin", {2, "ESC/P: ESC 4 and ESC 5 (italic on and off)"}},
        {"grandchef-escpos-buffer/tm-t20_cut.bin",
         {1, "ESC m alone at the end: a partial cut of other makers' printers"}},
        {"grandchef-escpos-buffer/tsp-143_cutter.bin", {1, "ESC w alone at the end: no command of this printer"}},
        {"grandchef-escpos-buffer/vox_large_text.bin", {2, "Star and ESC/P: ESC W n (double width)"}},
        {"grandchef-escpos-buffer/vox_qrcode.bin",
         {4, "another family's QR code: GS o with control bytes, then GS k 11 (no symbology of this printer)"}},
        {"taoyuan-npos/raster.bin", {1, "GS S at the end: no command of this printer"}},
        {"taoyuan-npos/raster-2.bin", {1, "GS S at the end: no command of this printer"}},
    };
    return streams;
}

// Symbols whose data the printer refuses (they print nothing), by stream and offset, with the
// reason the decoding gives.
struct Refused {
    std::string stream;
    size_t offset;
    std::string reason;
};
const std::vector<Refused>& RefusedSymbols() {
    static const std::vector<Refused> all = {
        {"escpos-netprinter-xtd/barcodes.bin", 0x1D, "no code set ({A, {B or {C) first"},
        {"escpos-ruby/test_styles.txt", 0x155, "EAN13 takes 12 or 13 digits"},
        {"mike42-escpos-php/barcode.bin", 0x249, "the check digit is wrong"},
        {"mike42-escpos-php/barcode.bin", 0x3A6, "the check digit is wrong"},
        {"escpos-netprinter-xtd/barcodes.bin", 0x101, "UPC-E of 7, 8, 11 or 12 digits starts with 0"},
        {"mike42-escpos-php/barcode.bin", 0x3F1, "UPC-A 01234567890 has no UPC-E form"},
        {"mike42-escpos-php/barcode.bin", 0x44B, "UPC-A 01234567890 has no UPC-E form"},
        {"mike42-escpos-php/barcode.bin", 0x5F5, "the check digit is wrong: 7, not 5"},
    };
    return all;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<fs::path> CorpusFiles() {
    const fs::path root(PELLORY_ESCPOS_CORPUS);
    std::vector<fs::path> files;
    if (!fs::is_directory(root)) return files;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file() && e.path().filename() != "README.md") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string InCorpus(const fs::path& file) { return fs::relative(file, PELLORY_ESCPOS_CORPUS).generic_string(); }

// The data of a barcode as the decoding shows it: `barcode CODE128: "ORDER-7731"`.
std::string QuotedData(const std::string& meaning) {
    const size_t open = meaning.find('"');
    const size_t close = meaning.rfind('"');
    return open == std::string::npos || close <= open ? std::string() : meaning.substr(open + 1, close - open - 1);
}

std::string Digits(const std::string& s) {
    std::string d;
    for (char c : s) {
        if (std::isdigit(static_cast<unsigned char>(c))) d += c;
    }
    return d;
}

// What the reader reads of a barcode whose data the decoding gives. EAN and UPC: the printer adds
// the check digit where the data leave it out, and the reader reads UPC-A as EAN-13 (a leading 0)
// and UPC-E as its eight digits (number system, six digits, check digit).
bool ReadsAs(const std::string& symbology, const std::string& expected, const std::string& read) {
    if (read == expected) return true;
    // CODE39: a '*' at the ends is the start and stop character, not data.
    if (symbology == "CODE39" && expected.size() >= 2 && expected.front() == '*' && expected.back() == '*') {
        return read == expected.substr(1, expected.size() - 2);
    }
    const bool ean = symbology == "EAN13" || symbology == "EAN8" || symbology == "UPC-A" || symbology == "UPC-E";
    if (!ean) return false;
    const std::string e = Digits(expected), r = Digits(read);
    if (r.size() < 2 || e.empty()) return false;
    const std::string withoutCheck = r.substr(0, r.size() - 1);
    const auto endsWith = [](const std::string& s, const std::string& tail) {
        return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
    };
    return endsWith(r, e) || endsWith(withoutCheck, e) ||
           (symbology == "UPC-E" && endsWith(withoutCheck, e.substr(e.size() > 6 ? e.size() - 6 : 0)));
}

std::string Symbology(const std::string& meaning) {
    const std::string head = "barcode ";
    const size_t at = meaning.find(head);
    if (at == std::string::npos) return "";
    const size_t end = meaning.find(':', at);
    return meaning.substr(at + head.size(), end - at - head.size());
}

// Rows [from, to) of the paper on a paper of their own, for zbar to read them alone.
Paper RowsOf(const Paper& p, int64_t from, int64_t to) {
    Paper rows(p.width());
    for (int64_t y = std::max(from, p.firstRow()); y < std::min(to, p.endRow()); ++y) {
        rows.extendTo(y - from + 1);
        rows.blit(y - from, 0, p.row(y), p.width(), Paper::kDefaultDensity);
    }
    return rows;
}

// What the readers read in rows [from, to): zbar where it reads them, else zxing-cpp (zbar reads
// no UPC-E of number system 1 and no Micro QR).
std::vector<ReadSymbol> ReadBack(const Paper& p, int64_t from, int64_t to) {
    std::vector<ReadSymbol> read = ReadSymbols(RowsOf(p, from, to));
    if (read.empty()) {
        for (const ZxingSymbol& z : ZxingRead(p, from, to)) read.push_back({z.format, z.bytes});
    }
    return read;
}

bool IsBarcode(const DecodedCommand& c) { return c.bytes.size() >= 3 && c.bytes[0] == 0x1D && c.bytes[1] == 'k'; }
bool Is2D(const DecodedCommand& c, uint8_t fn) {
    return c.bytes.size() >= 7 && c.bytes[0] == 0x1D && c.bytes[1] == '(' && c.bytes[2] == 'k' && c.bytes[6] == fn;
}

TEST(CorpusRender, EveryStreamRendersAndNamesEveryCommandOfItsFamily) {
    const std::vector<fs::path> files = CorpusFiles();
    ASSERT_GE(files.size(), 40u) << PELLORY_ESCPOS_CORPUS << " (the shared streams) is missing";
    size_t listedSeen = 0;
    for (const fs::path& file : files) {
        const std::string name = InCorpus(file);
        SCOPED_TRACE(name);
        const std::vector<uint8_t> stream = ReadFile(file);
        // Drawn as the 80 mm printer draws it, and decoded at the same time.
        Interpreter printer(kOrva80Dots);
        std::vector<DecodedCommand> commands;
        printer.setDecodeSink([&](const DecodedCommand& c) { commands.push_back(c); });
        printer.feed(stream);
        printer.finish();
        EXPECT_EQ(printer.bytesFed(), stream.size());
        std::string unknown;
        size_t unknownCount = 0;
        for (const DecodedCommand& c : commands) {
            if (c.known) continue;
            ++unknownCount;
            unknown += FormatDecoded(c) + "\n";
        }
        const auto listed = OtherFamilies().find(name);
        if (listed == OtherFamilies().end()) {
            EXPECT_EQ(unknownCount, 0u) << unknown;
            continue;
        }
        ++listedSeen;
        EXPECT_EQ(unknownCount, listed->second.unknown) << listed->second.why << "\n" << unknown;
    }
    EXPECT_EQ(listedSeen, OtherFamilies().size());
}

TEST(CorpusRender, EveryBarcodeAnd2DCodeReadsBackWithTheDataOfTheDecoding) {
    const std::vector<fs::path> files = CorpusFiles();
    ASSERT_GE(files.size(), 40u) << PELLORY_ESCPOS_CORPUS << " (the shared streams) is missing";
    size_t read1D = 0, read2D = 0, refusedSeen = 0;
    for (const fs::path& file : files) {
        const std::string name = InCorpus(file);
        const std::vector<uint8_t> stream = ReadFile(file);
        // Command by command, on paper wide enough for the widest symbol: the rows each symbol
        // print takes hold it alone.
        Interpreter printer(2048);
        std::map<uint8_t, std::string> stored;  // the data stored for each 2-D symbol (cn)
        for (const DecodedCommand& c : DecodeCommands(stream.data(), stream.size())) {
            const int64_t before = printer.position();
            printer.feed(stream.data() + c.offset, StreamLength(c));
            if (Is2D(c, 80)) stored[c.bytes[5]].assign(c.bytes.begin() + 8, c.bytes.end());
            const bool barcode = IsBarcode(c) && c.known;
            if (!barcode && !Is2D(c, 81)) continue;
            SCOPED_TRACE(name + " at " + std::to_string(c.offset) + ": " + FormatDecoded(c));
            const auto refused = std::find_if(RefusedSymbols().begin(), RefusedSymbols().end(), [&](const Refused& r) {
                return r.stream == name && r.offset == c.offset;
            });
            if (refused != RefusedSymbols().end()) {
                ++refusedSeen;
                EXPECT_NE(c.meaning.find("prints nothing: " + refused->reason), std::string::npos);
                EXPECT_TRUE(InkBox(printer.paper(), before, printer.position()).empty());
                continue;
            }
            if (barcode) {
                ++read1D;
                const std::vector<ReadSymbol> here = ReadBack(printer.paper(), before, printer.position());
                if (here.size() != 1) {
                    ADD_FAILURE() << here.size() << " symbols read, ink: "
                                  << !InkBox(printer.paper(), before, printer.position()).empty();
                    continue;
                }
                EXPECT_TRUE(ReadsAs(Symbology(c.meaning), QuotedData(c.meaning), here[0].data))
                    << here[0].type << " \"" << here[0].data << "\"";
                continue;
            }
            ++read2D;
            const uint8_t cn = c.bytes[5];
            // QR: zbar (Micro QR, and data with zero bytes, which zbar's text ends at: zxing).
            if (cn == 49 && stored[cn].find('\0') == std::string::npos) {
                const std::vector<ReadSymbol> read = ReadBack(printer.paper(), before, printer.position());
                ASSERT_EQ(read.size(), 1u);
                EXPECT_EQ(read[0].data, stored[cn]) << read[0].type;
                continue;
            }
            const std::vector<ZxingSymbol> read = ZxingRead(printer.paper(), before, printer.position());
            ASSERT_EQ(read.size(), 1u);
            EXPECT_EQ(read[0].bytes, stored[cn]) << read[0].format;
        }
    }
    EXPECT_EQ(refusedSeen, RefusedSymbols().size());
    // The corpus's symbols: dozens of barcodes, its QR codes and its 24 PDF417 codes.
    EXPECT_GE(read1D, 40u);
    EXPECT_GE(read2D, 28u);
}

}  // namespace
}  // namespace pellory::receipt::test
