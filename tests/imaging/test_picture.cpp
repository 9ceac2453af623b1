// Decoding picture files into the working bitmap: colours, palettes and alpha, and the refusal of
// garbage, cut-short and oversized files.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <cstdlib>
#include <string>

#include "imaging/dot_matrix.h"
#include "imaging/file_checks.h"
#include "imaging/picture.h"

namespace pellory::imaging {
namespace {

class PictureFiles : public ::testing::Test {
protected:
    std::string PathOf(const char* name) const { return dir_.filePath(name).toStdString(); }

    std::string Save(const QImage& image, const char* name, const char* format, int quality = -1) {
        const std::string path = PathOf(name);
        EXPECT_TRUE(image.save(QString::fromStdString(path), format, quality)) << name;
        return path;
    }
    std::string Write(const char* name, const QByteArray& bytes) {
        const std::string path = PathOf(name);
        QFile file(QString::fromStdString(path));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    static QByteArray Read(const std::string& path) {
        QFile file(QString::fromStdString(path));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    }

    QTemporaryDir dir_;
};

// Expects decoding to fail with a reason that contains `reason`, leaving the bitmap empty.
void ExpectRefused(const std::string& path, const std::string& reason) {
    WorkingBitmap bitmap(3, 3);
    std::string error;
    EXPECT_FALSE(DecodePicture(path, bitmap, &error));
    EXPECT_TRUE(bitmap.empty());
    EXPECT_NE(error.find(reason), std::string::npos) << "error was: " << error;
    QImage preview(2, 2, QImage::Format_RGB32);
    EXPECT_FALSE(DecodeForPreview(path, preview));
    EXPECT_TRUE(preview.isNull());
}

// A 54-byte BMP header for a 24-bit picture of the given size, with no pixel data behind it.
QByteArray BmpHeader(int32_t width, int32_t height) {
    QByteArray h(54, '\0');
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            h[at + i] = static_cast<char>(v >> (8 * i));
        }
    };
    h[0] = 'B';
    h[1] = 'M';
    put32(2, 54);
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    h[26] = 1;   // planes
    h[28] = 24;  // bits per pixel
    return h;
}

TEST_F(PictureFiles, BmpColoursArriveExactly) {
    QImage image(7, 5, QImage::Format_RGB32);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            image.setPixel(x, y, qRgb(x * 36, y * 60, (x * 7 + y * 13) % 256));
        }
    }
    const std::string path = Save(image, "colours.bmp", "BMP");
    WorkingBitmap bitmap;
    std::string error;
    ASSERT_TRUE(DecodePicture(path, bitmap, &error)) << error;
    ASSERT_EQ(bitmap.width(), 7);
    ASSERT_EQ(bitmap.height(), 5);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            const Rgb want{static_cast<uint8_t>(x * 36), static_cast<uint8_t>(y * 60),
                           static_cast<uint8_t>((x * 7 + y * 13) % 256)};
            EXPECT_EQ(bitmap.Pixel(x, y), want) << x << "," << y;
        }
    }
    QImage preview;
    ASSERT_TRUE(DecodeForPreview(path, preview));
    EXPECT_EQ(preview.size(), QSize(7, 5));
}

TEST_F(PictureFiles, PaletteBmpIsResolvedToColours) {
    QImage indexed(4, 2, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(10, 20, 30), qRgb(250, 0, 0), qRgb(0, 128, 255), qRgb(255, 255, 255)});
    for (int i = 0; i < 8; ++i) {
        indexed.setPixel(i % 4, i / 4, static_cast<uint>((i * 3) % 4));
    }
    const std::string path = Save(indexed, "palette.bmp", "BMP");
    ASSERT_LE(static_cast<uint8_t>(Read(path)[28]), 8);  // stored with a palette
    WorkingBitmap bitmap;
    ASSERT_TRUE(DecodePicture(path, bitmap));
    const Rgb table[] = {{10, 20, 30}, {250, 0, 0}, {0, 128, 255}, {255, 255, 255}};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(bitmap.Pixel(i % 4, i / 4), table[(i * 3) % 4]) << i;
    }

    QImage mono(9, 1, QImage::Format_Mono);
    mono.setColorTable({qRgb(0, 0, 200), qRgb(200, 200, 0)});
    mono.fill(0);
    mono.setPixel(8, 0, 1);
    ASSERT_TRUE(DecodePicture(Save(mono, "mono.bmp", "BMP"), bitmap));
    EXPECT_EQ(bitmap.Pixel(0, 0), (Rgb{0, 0, 200}));
    EXPECT_EQ(bitmap.Pixel(8, 0), (Rgb{200, 200, 0}));
}

TEST_F(PictureFiles, AlphaIsIgnored) {
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(255, 255, 255, 0));  // fully transparent white stays white
    image.setPixel(1, 0, qRgba(20, 40, 60, 128));
    WorkingBitmap bitmap;
    ASSERT_TRUE(DecodePicture(Save(image, "alpha.png", "PNG"), bitmap));
    EXPECT_EQ(bitmap.Pixel(0, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(bitmap.Pixel(1, 0), (Rgb{20, 40, 60}));
    DotMatrix m;
    ThresholdImage(bitmap, 128, m);
    EXPECT_EQ(m.dots, (std::vector<uint8_t>{0, 1}));
}

TEST_F(PictureFiles, JpegColoursArriveWithinCompressionError) {
    // Flat 16 x 16 blocks survive JPEG at full quality almost unchanged.
    const QRgb colours[] = {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(200, 30, 30), qRgb(40, 90, 220)};
    QImage image(64, 16, QImage::Format_RGB32);
    for (int x = 0; x < 64; ++x) {
        for (int y = 0; y < 16; ++y) {
            image.setPixel(x, y, colours[x / 16]);
        }
    }
    WorkingBitmap bitmap;
    std::string error;
    ASSERT_TRUE(DecodePicture(Save(image, "blocks.jpg", "JPEG", 100), bitmap, &error)) << error;
    ASSERT_EQ(bitmap.width(), 64);
    ASSERT_EQ(bitmap.height(), 16);
    for (int block = 0; block < 4; ++block) {
        const Rgb got = bitmap.Pixel(block * 16 + 8, 8);
        EXPECT_NEAR(got.r, qRed(colours[block]), 4) << block;
        EXPECT_NEAR(got.g, qGreen(colours[block]), 4) << block;
        EXPECT_NEAR(got.b, qBlue(colours[block]), 4) << block;
    }

    QImage grey(8, 8, QImage::Format_Grayscale8);
    grey.fill(100);
    ASSERT_TRUE(DecodePicture(Save(grey, "grey.jpg", "JPEG", 100), bitmap));
    const Rgb g = bitmap.Pixel(3, 3);
    EXPECT_EQ(g.r, g.g);
    EXPECT_EQ(g.g, g.b);
    EXPECT_NEAR(g.r, 100, 2);
}

TEST_F(PictureFiles, GarbageAndMissingFilesAreRefused) {
    QByteArray noise(5000, '\0');
    srand(5);
    for (char& c : noise) {
        c = static_cast<char>(rand());
    }
    ExpectRefused(Write("noise.jpg", noise), "not a picture");
    ExpectRefused(Write("empty.bmp", QByteArray()), "empty");
    ExpectRefused(PathOf("missing.bmp"), "cannot open");
}

TEST_F(PictureFiles, OversizedHeadersAreRefusedBeforeDecoding) {
    // Decoding any of these would need gigabytes; the header alone decides.
    ExpectRefused(Write("huge.bmp", BmpHeader(100000, 100000)), "100000 x 100000");
    ExpectRefused(Write("wide.bmp", BmpHeader(kMaxPictureSide + 1, 1)), "outside the limit");
    ExpectRefused(Write("many.bmp", BmpHeader(16384, 8193)), "outside the limit");

    // A real JPEG whose frame header is patched to claim 65000 x 65000.
    QImage small(16, 16, QImage::Format_RGB32);
    small.fill(Qt::gray);
    QByteArray jpeg = Read(Save(small, "small.jpg", "JPEG"));
    const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    jpeg[sof + 5] = static_cast<char>(0xFD);  // height 0xFDE8 = 65000
    jpeg[sof + 6] = static_cast<char>(0xE8);
    jpeg[sof + 7] = static_cast<char>(0xFD);  // width
    jpeg[sof + 8] = static_cast<char>(0xE8);
    ExpectRefused(Write("huge.jpg", jpeg), "65000 x 65000");
}

TEST_F(PictureFiles, CutShortFilesAreRefused) {
    // Within the size limit, but the pixel data is missing: refused without decoding.
    ExpectRefused(Write("empty_body.bmp", BmpHeader(8192, 8192)), "cut short");

    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            image.setPixel(x, y, qRgb(x * 4, y * 5, (x ^ y) * 3));
        }
    }
    const QByteArray bmp = Read(Save(image, "full.bmp", "BMP"));
    ExpectRefused(Write("half.bmp", bmp.left(bmp.size() / 2)), "cut short");
    const QByteArray jpeg = Read(Save(image, "full.jpg", "JPEG"));
    ExpectRefused(Write("half.jpg", jpeg.left(jpeg.size() / 2)), "cut short");
    ExpectRefused(Write("no_end.jpg", jpeg.left(jpeg.size() - 2)), "cut short");
}

TEST_F(PictureFiles, CompletenessChecksAcceptWholeFilesAndRejectEveryPrefix) {
    QImage image(40, 30, QImage::Format_RGB32);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            image.setPixel(x, y, qRgb(x * 6, y * 8, (x * y) % 256));
        }
    }
    const QByteArray bmp = Read(Save(image, "c.bmp", "BMP"));
    const QByteArray baseline = Read(Save(image, "c.jpg", "JPEG", 80));
    QImageWriter writer(QString::fromStdString(PathOf("p.jpg")), "jpeg");
    writer.setProgressiveScanWrite(true);
    ASSERT_TRUE(writer.write(image));
    const QByteArray progressive = Read(PathOf("p.jpg"));
    ASSERT_NE(progressive, baseline);

    auto check = [](const QByteArray& bytes, qsizetype length) {
        return CheckFileComplete(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                 static_cast<size_t>(length));
    };
    for (const QByteArray* file : {&bmp, &baseline, &progressive}) {
        EXPECT_EQ(check(*file, file->size()), FileCompleteness::Complete);
        for (qsizetype length = 2; length < file->size(); ++length) {
            ASSERT_EQ(check(*file, length), FileCompleteness::Truncated) << length;
        }
    }
    // Bytes after the end-of-image marker do not matter, and a file with them still decodes.
    const std::string trailing = Write("trailing.jpg", baseline + QByteArray(100, 'x'));
    EXPECT_EQ(check(Read(trailing), baseline.size() + 100), FileCompleteness::Complete);
    WorkingBitmap bitmap;
    EXPECT_TRUE(DecodePicture(trailing, bitmap));
    EXPECT_TRUE(DecodePicture(PathOf("p.jpg"), bitmap));
    EXPECT_EQ(bitmap.width(), 40);
}

}  // namespace
}  // namespace pellory::imaging
