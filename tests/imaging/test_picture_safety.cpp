// Picture files that used to print undefined pixels or pass as good: run-length BMPs that skip
// pixels or stop early, JPEG files whose data the decoder warns about, files that announce more
// than the memory allows, endless streams, and file names that are not valid text.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <jpeglib.h>
#include <string>
#include <thread>
#include <vector>

#include "imaging/picture.h"
#include "imaging/picture_file.h"

namespace pellory::imaging {
namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A BMP file with a palette and RLE8 (bits 8) or RLE4 (bits 4) pixel data.
Bytes RleBmp(int32_t width, int32_t height, int bits, const std::vector<uint32_t>& palette, const Bytes& stream) {
    const size_t offset = 14 + 40 + 4 * palette.size();
    Bytes b(offset, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<uint32_t>(offset + stream.size()));
    Put32(b, 10, static_cast<uint32_t>(offset));
    Put32(b, 14, 40);
    Put32(b, 18, static_cast<uint32_t>(width));
    Put32(b, 22, static_cast<uint32_t>(height));
    Put16(b, 26, 1);
    Put16(b, 28, static_cast<uint32_t>(bits));
    Put32(b, 30, bits == 8 ? 1 : 2);
    Put32(b, 34, static_cast<uint32_t>(stream.size()));
    Put32(b, 46, static_cast<uint32_t>(palette.size()));
    for (size_t i = 0; i < palette.size(); ++i) {
        const uint32_t c = palette[i];  // 0xRRGGBB
        b[54 + 4 * i] = static_cast<uint8_t>(c);
        b[54 + 4 * i + 1] = static_cast<uint8_t>(c >> 8);
        b[54 + 4 * i + 2] = static_cast<uint8_t>(c >> 16);
    }
    b.insert(b.end(), stream.begin(), stream.end());
    return b;
}

class SafetyFiles : public ::testing::Test {
protected:
    std::string PathOf(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }
    std::string Write(const std::string& name, const Bytes& bytes) {
        const std::string path = PathOf(name);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_GE(fd, 0) << path;
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
        return path;
    }
    static uint32_t Rgb(const WorkingBitmap& b, int x, int y) { return b.Row(y)[x] & 0xFFFFFFu; }

    QTemporaryDir dir_;
};

void ExpectRefused(const std::string& path, const std::string& reason) {
    WorkingBitmap bitmap(2, 2);
    std::string error;
    EXPECT_FALSE(DecodePicture(path, bitmap, &error)) << path;
    EXPECT_TRUE(bitmap.empty());
    EXPECT_NE(error.find(reason), std::string::npos) << "error was: " << error;
}

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;

TEST_F(SafetyFiles, RleBmpPixelsThatTheStreamSkipsAreWhite) {
    // 6 x 4, RLE8, palette entry 0 red so that an undefined index-0 pixel would show.
    // Bottom row: 2 green, end of line. Row 1: delta (3, 1) jumps to row 2, column 3: 1 blue,
    // end of line. Row 3 (top): a literal run "0 1 0" (padded), then end of picture.
    const Bytes stream = {2, 1, 0, 0,           // row 0: green green, then skipped to the end
                          0, 2, 3, 1,           // delta: to x 3 of row 1 ... and on to row 2
                          1, 2, 0, 0,           // row 2 (from x 3): one blue
                          0, 3, 0, 1, 0, 0,     // row 3: literal red, green, red (+ pad)
                          0, 1};                // end of picture
    const std::string path = Write("skip8.bmp", RleBmp(6, 4, 8, {kRed, kGreen, kBlue}, stream));
    WorkingBitmap b;
    std::string error;
    ASSERT_TRUE(DecodePicture(path, b, &error)) << error;
    ASSERT_EQ(b.width(), 6);
    ASSERT_EQ(b.height(), 4);
    // File rows run from the bottom: row 0 is picture row 3.
    const std::vector<std::vector<uint32_t>> want = {
        {kRed, kGreen, kRed, kWhite, kWhite, kWhite},      // top: the literal run
        {kWhite, kWhite, kWhite, kBlue, kWhite, kWhite},   // after the delta
        {kWhite, kWhite, kWhite, kWhite, kWhite, kWhite},  // jumped over entirely
        {kGreen, kGreen, kWhite, kWhite, kWhite, kWhite},  // bottom
    };
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) EXPECT_EQ(Rgb(b, x, y), want[static_cast<size_t>(y)][static_cast<size_t>(x)]) << x << "," << y;
    }

    // RLE4 with an early end of picture: only the first two pixels are drawn.
    const Bytes stream4 = {2, 0x12, 0, 1};  // two pixels: index 1 then 2; end of picture
    ASSERT_TRUE(DecodePicture(Write("early4.bmp", RleBmp(5, 3, 4, {kRed, kGreen, kBlue}, stream4)), b, &error))
        << error;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            const uint32_t expected = y == 2 && x == 0 ? kGreen : y == 2 && x == 1 ? kBlue : kWhite;
            EXPECT_EQ(Rgb(b, x, y), expected) << x << "," << y;
        }
    }
}

TEST_F(SafetyFiles, RleStreamCutShortIsRefused) {
    const Bytes whole = {4, 1, 0, 0, 4, 2, 0, 0, 0, 1};  // two rows of four, end of picture
    WorkingBitmap b;
    std::string error;
    ASSERT_TRUE(DecodePicture(Write("whole.bmp", RleBmp(4, 2, 8, {kRed, kGreen, kBlue}, whole)), b, &error))
        << error;
    // Every shorter stream stops before the picture is complete.
    for (size_t n = 0; n + 2 < whole.size(); ++n) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        ExpectRefused(Write("cut" + std::to_string(n) + ".bmp", RleBmp(4, 2, 8, {kRed, kGreen, kBlue}, cut)),
                      "cut short");
    }
    // A literal run promising more bytes than the file holds.
    ExpectRefused(Write("literal.bmp", RleBmp(8, 1, 4, {kRed}, {0, 8, 0x11})), "cut short");
}

// A small JPEG written by libjpeg: 3 components (YCbCr) or 4 (CMYK), baseline or progressive.
Bytes EncodeJpeg(int width, int height, bool cmyk, bool progressive) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = cmyk ? 4 : 3;
    cinfo.in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(width * cinfo.input_components));
    while (cinfo.next_scanline < cinfo.image_height) {
        for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>((i * 7 + cinfo.next_scanline * 13) & 0xFF);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes bytes(out, out + size);
    free(out);
    return bytes;
}

// Rewrites the frame header's height and width.
void ClaimSize(Bytes& jpeg, int width, int height) {
    for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = static_cast<uint8_t>(height >> 8);
            jpeg[i + 6] = static_cast<uint8_t>(height);
            jpeg[i + 7] = static_cast<uint8_t>(width >> 8);
            jpeg[i + 8] = static_cast<uint8_t>(width);
            return;
        }
    }
    ADD_FAILURE() << "no frame header";
}

TEST_F(SafetyFiles, JpegWhoseDataTheDecoderWarnsAboutIsRefused) {
    for (bool progressive : {false, true}) {
        for (bool cmyk : {false, true}) {
            Bytes jpeg = EncodeJpeg(32, 16, cmyk, progressive);
            WorkingBitmap b;
            std::string error;
            ASSERT_TRUE(DecodePicture(Write("ok.jpg", jpeg), b, &error)) << error;
            EXPECT_EQ(b.width(), 32);
            // The file is whole (it ends in its end-of-image marker) but claims more rows than
            // its data holds: the decoder warns of missing data, and that fails the load.
            ClaimSize(jpeg, 32, 200);
            ExpectRefused(Write("short.jpg", jpeg), "Corrupt JPEG data");
        }
    }
}

TEST_F(SafetyFiles, JpegThatWouldTakeTooMuchMemoryIsRefusedBeforeDecoding) {
    // A tiny progressive CMYK file claiming 11000 x 12000: over the dot limit.
    Bytes huge = EncodeJpeg(16, 16, true, true);
    ASSERT_LT(huge.size(), 4000u);
    ClaimSize(huge, 11000, 12000);
    ExpectRefused(Write("huge.jpg", huge), "11000 x 12000");
    // Within the dot limit, but a progressive CMYK decode keeps 8 bytes of coefficients per dot
    // besides the picture itself: more than a load may take.
    Bytes big = EncodeJpeg(16, 16, true, true);
    ClaimSize(big, 8000, 8000);
    ExpectRefused(Write("big.jpg", big), "MiB");
}

TEST_F(SafetyFiles, FileNameThatIsNotValidTextOpensByItsBytes) {
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(qRgb(10, 200, 30));
    const QString plain = dir_.filePath(QStringLiteral("plain.bmp"));
    ASSERT_TRUE(image.save(plain, "BMP"));
    const std::string odd = PathOf("bild\xff\xfe-\xe9.bmp");  // Latin-1 bytes, not UTF-8
    ASSERT_EQ(::rename(plain.toStdString().c_str(), odd.c_str()), 0);
    WorkingBitmap b;
    std::string error;
    ASSERT_TRUE(DecodePicture(odd, b, &error)) << error;
    EXPECT_EQ(Rgb(b, 2, 1), 0x0AC81Eu);
    ::unlink(odd.c_str());  // the temporary folder cannot remove a name it cannot spell
}

TEST_F(SafetyFiles, PipesAreReadInPiecesUpToTheLimit) {
    std::signal(SIGPIPE, SIG_IGN);  // the writer outlives the reader that refuses its stream
    // A picture through a named pipe arrives whole.
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(qRgb(1, 2, 3));
    QByteArray bmp;
    {
        const QString path = dir_.filePath(QStringLiteral("p.bmp"));
        ASSERT_TRUE(image.save(path, "BMP"));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        bmp = f.readAll();
    }
    const std::string fifo = PathOf("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto writer = [&fifo](const QByteArray& head, size_t endless) {
        return std::thread([&fifo, head, endless] {
            const int fd = ::open(fifo.c_str(), O_WRONLY);
            if (fd < 0) return;
            (void)!::write(fd, head.constData(), static_cast<size_t>(head.size()));
            std::vector<char> zeros(1 << 16, 0);
            for (size_t sent = 0; sent < endless;) {
                const ssize_t n = ::write(fd, zeros.data(), zeros.size());
                if (n <= 0) break;  // the reader has gone
                sent += static_cast<size_t>(n);
            }
            ::close(fd);
        });
    };
    std::thread w = writer(bmp, 0);
    WorkingBitmap b;
    std::string error;
    EXPECT_TRUE(DecodePicture(fifo, b, &error)) << error;
    w.join();
    EXPECT_EQ(b.width(), 40);

    // A stream that starts like a picture but does not end is stopped at the size limit.
    w = writer(QByteArray("BM"), kMaxPictureFileBytes + (size_t{4} << 20));
    ExpectRefused(fifo, "too large");
    w.join();
    // A stream that is no picture is refused after its first piece.
    ExpectRefused("/dev/zero", "not a picture");
    // A regular file past the limit is refused by its size, unread (this one is sparse).
    const std::string big = Write("big.bmp", {'B', 'M'});
    ASSERT_EQ(::truncate(big.c_str(), static_cast<off_t>(kMaxPictureFileBytes + 1)), 0);
    ExpectRefused(big, "too large");
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

TEST_F(SafetyFiles, ReadingAStreamReservesNoMoreThanItReads) {
    if (kSanitized) GTEST_SKIP() << "address-space limits do not work under a sanitizer";
    // In a child with only 256 MiB of address space to spare, a device stream is refused
    // rather than exhausting memory on a large reservation.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{};
        ::getrlimit(RLIMIT_AS, &limit);
        FILE* status = std::fopen("/proc/self/statm", "r");
        unsigned long pages = 0;
        if (status == nullptr || std::fscanf(status, "%lu", &pages) != 1) _exit(3);
        std::fclose(status);
        limit.rlim_cur = pages * static_cast<unsigned long>(::sysconf(_SC_PAGESIZE)) + (size_t{256} << 20);
        ::setrlimit(RLIMIT_AS, &limit);
        WorkingBitmap b;
        std::string error;
        const bool ok = DecodePicture("/dev/zero", b, &error);
        _exit(!ok && error.find("not a picture") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
}

}  // namespace
}  // namespace pellory::imaging
