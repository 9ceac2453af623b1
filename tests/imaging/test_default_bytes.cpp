// The default path (no fitting, no dithering) must keep sending exactly the bytes it always has:
// a BMP and a JPEG picture, thresholded at several levels and encoded in every mode, against
// digests recorded from the program before fitting and dithering existed.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

#include <cstdint>
#include <string>

#include "imaging/bit_image.h"
#include "imaging/dot_matrix.h"
#include "imaging/picture.h"

namespace pellory::imaging {
namespace {

// A 600 x 70 picture with colour gradients, stripes and a diagonal, so that every threshold level
// between 0 and 255 cuts through it somewhere.
QImage TestPicture() {
    QImage image(600, 70, QImage::Format_RGB32);
    for (int y = 0; y < 70; ++y) {
        for (int x = 0; x < 600; ++x) {
            const int r = (x * 255) / 599;
            const int g = (y * 255) / 69;
            const int b = ((x + 3 * y) % 97) * 255 / 96;
            const bool line = (x / 3 == y) || (x % 50 < 2);
            image.setPixel(x, y, line ? qRgb(0, 0, 0) : qRgb(r, g, b));
        }
    }
    return image;
}

uint64_t Fnv(uint64_t h, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001b3ULL;
    }
    return h;
}

// Every byte the two print operations would send for the picture at the threshold, in all four
// modes of each orientation, at both printable widths.
uint64_t DigestOfEverySend(const WorkingBitmap& bitmap, int threshold) {
    DotMatrix matrix;
    ThresholdImage(bitmap, threshold, matrix);
    uint64_t h = 0xcbf29ce484222325ULL;
    for (int width : {384, 572}) {
        for (int mode = 0; mode < 4; ++mode) {
            for (const auto& row : EncodeColumnStripes(matrix, mode, width)) h = Fnv(h, row.data(), row.size());
            const RasterImage raster = EncodeRaster(matrix, width);
            for (const RasterCommand& c : RasterCommands(raster, mode)) {
                const uint8_t header[] = {0x1D, 0x76, 0x30, c.m, c.xL, c.xH, c.yL, c.yH};
                h = Fnv(h, header, sizeof header);
                h = Fnv(h, c.data, c.size);
            }
        }
    }
    return h;
}

TEST(DefaultPath, SendsTheRecordedBytesForBmpAndJpeg) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage picture = TestPicture();
    struct Case {
        const char* name;
        const char* format;
        int quality;
        const uint64_t* digests;  // at the thresholds -1, 0, 64, 128, 200 and 255
    };
    static const uint64_t bmp[] = {0x9fe4b07732840e71ULL, 0x26b9a05b56e0aee5ULL, 0x713b59d87a8a1369ULL,
                                   0x64fe5860e1670ce5ULL, 0x8a5a0e2b36ab1e31ULL, 0x93f3f2104c9ff931ULL};
    static const uint64_t jpg[] = {0x9fe4b07732840e71ULL, 0x4b2f79f2b8f57e35ULL, 0x7a13c952b2271645ULL,
                                   0xe9e7dd70cfc828ddULL, 0xe680f89e2e347c91ULL, 0x93f3f2104c9ff931ULL};
    for (const Case& c : {Case{"p.bmp", "BMP", -1, bmp}, Case{"p.jpg", "JPEG", 85, jpg}}) {
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        ASSERT_TRUE(picture.save(path, c.format, c.quality));
        WorkingBitmap bitmap;
        std::string error;
        ASSERT_TRUE(DecodePicture(path.toStdString(), bitmap, &error)) << error;
        const uint64_t* want = c.digests;
        for (int threshold : {-1, 0, 64, 128, 200, 255}) {
            EXPECT_EQ(DigestOfEverySend(bitmap, threshold), *want++) << c.name << " at " << threshold;
        }
    }
}

}  // namespace
}  // namespace pellory::imaging
