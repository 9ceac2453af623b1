// The paper written as a PNG, row by row.
#include <gtest/gtest.h>

#include <QImage>

#include "receipt/paper_image.h"
#include "receipt_test_support.h"

namespace pellory::receipt::test {
namespace {

const Bytes kCut = B({0x1D, 0x56, 0x42, 0x00});

// The PNG written row by row reads back as the picture of the same rows: black ink, white paper,
// the cuts' grey dashes, at either width and for any range of rows.
TEST(PaperPng, ReadsBackAsThePictureOfItsRows) {
    const Bytes stream = Cat({B({0x1B, 0x21, 0x30}), T("Wide ink\n"), B({0x1D, 0x76, 0x30, 0x00, 3, 0, 2, 0}),
                              B({0xFF, 0x0F, 0xA5, 0x81, 0x42, 0x3C}), kCut, T("after the cut\n"),
                              B({0x1D, 0x56, 0x42, 0x10})});
    for (const int width : {kOrva58Dots, kOrva80Dots, 100}) {
        const Paper paper = Render(stream, width);
        struct Range {
            int64_t from, to;
        };
        for (const Range r : {Range{0, paper.endRow()}, Range{40, 90}, Range{5, 5}}) {
            std::vector<uint8_t> png;
            ASSERT_TRUE(WritePaperPng(paper, r.from, r.to, [&](const uint8_t* d, size_t n) {
                png.insert(png.end(), d, d + n);
                return true;
            }));
            QImage read;
            ASSERT_TRUE(read.loadFromData(png.data(), static_cast<int>(png.size()), "PNG"));
            QImage want = PaperImage(paper, false, r.from, r.to);
            if (want.isNull()) {  // no rows: one white row
                want = QImage(width, 1, QImage::Format_RGB32);
                want.fill(Qt::white);
            }
            ASSERT_EQ(read.size(), want.size()) << width << " dots, rows " << r.from << ".." << r.to;
            for (int y = 0; y < read.height(); ++y) {
                for (int x = 0; x < read.width(); ++x) {
                    ASSERT_EQ(read.pixel(x, y), want.pixel(x, y)) << width << " dots, at " << x << "," << y;
                }
            }
        }
    }
    // A sink that refuses ends the writing with false.
    EXPECT_FALSE(WritePaperPng(Render(stream), 0, 10, [](const uint8_t*, size_t) { return false; }));
}

}  // namespace
}  // namespace pellory::receipt::test
