// Barcodes, QR codes and the twelve samples, read back with an independent reader (zbar).
#include <gtest/gtest.h>

#include "pages/core/barcode_actions.h"
#include "pages/core/samples.h"
#include "receipt/receipt_test_support.h"

namespace pellory::receipt::test {
namespace {

std::string AllRead(const std::vector<ReadSymbol>& read) {
    std::string s;
    for (const ReadSymbol& r : read) s += r.type + ":" + r.data + " ";
    return s;
}

bool AnyContains(const std::vector<ReadSymbol>& read, const std::string& data) {
    for (const ReadSymbol& r : read) {
        if (r.data.find(data) != std::string::npos) return true;
    }
    return false;
}

struct BarcodeCase {
    int index;          // position in "Barcode System:"
    std::string data;   // as typed
    std::string reads;  // what the reader must find
};

TEST(ReceiptBarcodes, EverySymbologyReadsBackWithTheBarcodePageBytes) {
    const std::vector<BarcodeCase> cases = {
        {0, "01234567890", "1234567890"},     {1, "123456", "123456"},
        {2, "012345678900", "0123456789005"}, {3, "1234567", "12345670"},
        {4, "CODE-39 $1.00", "CODE-39 $1.00"}, {5, "1234567890", "1234567890"},
        {6, "A40156B", "40156"},              {7, "CODE93", "CODE93"},
        {8, "{BPellory-128", "Pellory-128"},   {9, "{A(01)12345678901231", "12345678901231"},
    };
    ASSERT_EQ(cases.size(), pages::kSymbologies.size());
    for (const BarcodeCase& c : cases) {
        // What "Print Barcode" sends with HRI below, width 2, height 80.
        const uint8_t m = pages::kSymbologies[static_cast<size_t>(c.index)].m;
        const Bytes stream = Cat({B({0x1D, 0x77, 2, 0x1D, 0x68, 80, 0x1D, 0x48, 2, 0x1D, 0x6B, m,
                                     static_cast<int>(c.data.size())}),
                                  T(c.data), B({0x1B, 0x4A, 0x30})});
        const Paper p = Render(stream, kOrva80Dots);
        const std::vector<ReadSymbol> read = ReadSymbols(p);
        EXPECT_TRUE(AnyContains(read, c.reads)) << pages::kSymbologies[static_cast<size_t>(c.index)].item << " read: " << AllRead(read);
        // Bars 80 dots tall plus the text below.
        const Box ink = InkBox(p);
        EXPECT_GE(ink.height(), 80 + 17) << c.index;
    }
}

TEST(ReceiptBarcodes, ModuleWidthAndHeightAreTheCommandsDots) {
    // EAN13: 95 modules; width 3 gives 285 dots of bars, height 50 gives 50 rows.
    const Bytes stream = Cat({B({0x1D, 0x77, 3, 0x1D, 0x68, 50, 0x1D, 0x6B, 0x43, 12}), T("012345678900")});
    const Box ink = InkBox(Render(stream));
    EXPECT_EQ(ink.width(), 95 * 3);  // the first and last modules are bars
    EXPECT_EQ(ink.height(), 50);
    // HRI above and below: digits on both sides of the bars, the bars keep their 50 rows.
    const Paper both = Render(Cat({B({0x1D, 0x48, 3}), stream}));
    const Box all = InkBox(both);
    EXPECT_GT(all.height(), 50 + 2 * 12);
    int fullRows = 0;
    for (int64_t y = all.y0; y < all.y1; ++y) fullRows += both.dot(all.x0, y) ? 1 : 0;
    EXPECT_EQ(fullRows, 50);
}

TEST(ReceiptBarcodes, DataTheSymbologyRefusesPrintsNothing) {
    const Paper p = Render(Cat({B({0x1D, 0x6B, 0x43, 3}), T("abc"), T("X\n")}));
    const Box ink = InkBox(p);
    EXPECT_LE(ink.height(), 24);  // only the text line
}

Bytes QrStream(int moduleSize, int level, const std::string& data) {
    const int pl = static_cast<int>(data.size()) + 3;
    return Cat({B({0x1D, 0x28, 0x6B, 0x04, 0x00, 0x31, 0x41, 0x32, 0x00}),
                B({0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x43, moduleSize}),
                B({0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x45, 0x30 + level}),
                B({0x1D, 0x28, 0x6B, pl & 0xFF, pl >> 8, 0x31, 0x50, 0x30}), T(data),
                B({0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x51, 0x30})});
}

TEST(ReceiptQr, EveryLevelAndModuleSizeReadsBack) {
    for (int level = 0; level < 4; ++level) {
        for (const int size : {3, 5, 8}) {
            const Paper p = Render(Cat({B({0x1B, 0x61, 1}), QrStream(size, level, "Pellory QR " + std::to_string(level))}));
            const std::vector<ReadSymbol> read = ReadSymbols(p);
            ASSERT_EQ(read.size(), 1u) << "level " << level << " size " << size;
            EXPECT_EQ(read[0].type, "QR-Code");
            EXPECT_EQ(read[0].data, "Pellory QR " + std::to_string(level));
            const Box ink = InkBox(p);
            EXPECT_EQ(ink.width() % size, 0);
            EXPECT_EQ(ink.width(), ink.height());
            EXPECT_LE(std::abs(ink.x0 - (384 - ink.x1)), size);  // centred
        }
    }
}

TEST(ReceiptQr, PrintWithoutStoredDataPrintsNothing) {
    const Paper p = Render(B({0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x51, 0x30}));
    EXPECT_EQ(p.inkDots(), 0u);
}

// ---------------------------------------------------------------------------------------------

Bytes SampleBytes(size_t index) {
    Bytes out;
    for (const samples::Row& row : samples::Samples()[index].rows) {
        const Bytes b = samples::RowBytes(row);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

TEST(ReceiptSamples, EverySampleDrawsAndStartsWithItsTitle) {
    for (size_t i = 0; i < samples::kSampleCount; ++i) {
        Interpreter printer;
        printer.feed(SampleBytes(i));
        const Box ink = InkBox(printer.paper());
        ASSERT_FALSE(ink.empty()) << samples::Samples()[i].button;
        // The title: an empty line first, then emphasized text at the left.
        EXPECT_GE(ink.y0, 33) << samples::Samples()[i].button;
        EXPECT_LT(ink.x0, 12) << samples::Samples()[i].button;
    }
}

TEST(ReceiptSamples, BarcodeAndQrSamplesReadBack) {
    const auto barcode = samples::FindSample("Barcode");
    const auto qr = samples::FindSample("QR Code");
    ASSERT_TRUE(barcode && qr);
    const std::vector<ReadSymbol> a = ReadSymbols(Render(SampleBytes(*barcode)));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].type, "EAN-13");
    EXPECT_EQ(a[0].data, "0123456789005");
    const std::vector<ReadSymbol> b = ReadSymbols(Render(SampleBytes(*qr)));
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].data, "Westhaven PELLRY Development");
}

TEST(ReceiptSamples, ImageSamplePrintsThePictureBitForBit) {
    const auto index = samples::FindSample("Image");
    ASSERT_TRUE(index);
    const samples::Sample& s = samples::Samples()[*index];
    Interpreter printer;
    Bytes picture;
    for (const samples::Row& row : s.rows) {
        const Bytes b = samples::RowBytes(row);
        if (b.size() == 8 + 9040) picture.assign(b.begin() + 8, b.end());
        if (picture.empty()) printer.feed(b);
    }
    ASSERT_EQ(picture.size(), 9040u);
    const int64_t top = printer.position();
    printer.feed(Cat({B({0x1D, 0x76, 0x30, 0, 40, 0, 226, 0}), picture}));
    for (int y = 0; y < 226; ++y) {
        for (int x = 0; x < 384; ++x) {
            const bool bit = x < 320 && ((picture[static_cast<size_t>(y * 40 + x / 8)] >> (7 - x % 8)) & 1);
            ASSERT_EQ(printer.paper().dot(x, top + y), bit) << x << "," << y;
        }
    }
}

TEST(ReceiptSamples, MarginsSampleKeepsItsTextInsideEightyDots) {
    const auto index = samples::FindSample("Margins");
    ASSERT_TRUE(index);
    Interpreter printer;
    printer.feed(SampleBytes(*index));
    const Box body = InkBox(printer.paper(), 70);  // below the title
    EXPECT_GE(body.x0, 80);
    EXPECT_LE(body.x1, 384 - 80);
}

}  // namespace
}  // namespace pellory::receipt::test
