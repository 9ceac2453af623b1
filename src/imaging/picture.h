// Decoding picture files for the Image Print page: the working bitmap whose pixels are
// thresholded, and the size limits that keep a huge or hostile file from exhausting memory.
#pragma once

#include <cstdint>
#include <string>

#include <QImage>

namespace pellory::imaging {

// Limits for any picture that is decoded. A file whose header announces more is refused before a
// single pixel is decoded. At the limit the decoded picture takes 4 bytes per dot (512 MiB) and
// the dot matrix 1 byte per dot (128 MiB): large enough for a 100-megapixel photo or a
// receipt-wide strip of 576 x 233,000 rows, small enough for an ordinary desktop.
inline constexpr int kMaxPictureSide = 262144;                 // dots, each of width and height
inline constexpr int64_t kMaxPictureDots = int64_t{1} << 27;  // 134,217,728 dots in all
// The Qt image-reader allocation limit (MiB) that goes with it: one 32-bit picture at the limit.
// Decoders that do not announce their size up front are stopped by Qt at this bound.
inline constexpr int kDecodeAllocationLimitMiB = static_cast<int>((kMaxPictureDots * 4) >> 20);

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A decoded picture as width x height pixels of 8-bit R, G and B, rows top to bottom. Storage is
// a QImage in Format_RGB32 (one native 32-bit word 0xffRRGGBB per pixel), so a decoded picture is
// kept without another copy. Palettes are resolved to colours and alpha is dropped: for a file
// with an alpha channel the stored colour of each pixel is kept as it is, not blended.
class WorkingBitmap {
public:
    WorkingBitmap() = default;
    // A black picture of the given size; an empty one when the size is not positive or the
    // memory cannot be had.
    WorkingBitmap(int width, int height);
    // Takes any QImage: palette, grey, 16-bit and alpha formats are converted to RGB32 (in place
    // where Qt can). Alpha is dropped as described above.
    static WorkingBitmap FromImage(QImage image);

    bool empty() const { return image_.isNull(); }
    int width() const { return image_.width(); }
    int height() const { return image_.height(); }

    // Row y as `width()` words; the top byte of each word carries no meaning.
    const uint32_t* Row(int y) const { return reinterpret_cast<const uint32_t*>(image_.constScanLine(y)); }
    uint32_t* MutableRow(int y) { return reinterpret_cast<uint32_t*>(image_.scanLine(y)); }

    Rgb Pixel(int x, int y) const;
    void SetPixel(int x, int y, Rgb colour);

    const QImage& image() const { return image_; }

private:
    QImage image_;
};

// Decodes the file at `path` (a file name in the local 8-bit encoding) into `out`. Every format
// that Qt can read is accepted; BMP and JPEG always are. Fails, with a one-line reason in *error
// when error is not null and `out` left empty, when the file cannot be opened, is not a picture,
// announces a size beyond the limits above, is visibly cut short (BMP pixel data or JPEG entropy
// data ending before the picture does), or the decoder reports an error.
bool DecodePicture(const std::string& path, WorkingBitmap& out, std::string* error = nullptr);

// The same checks, but the picture is returned in whatever format the decoder produced, for
// drawing only. `out` is left null on failure.
bool DecodeForPreview(const std::string& path, QImage& out, std::string* error = nullptr);

}  // namespace pellory::imaging
