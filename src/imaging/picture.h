// Decoding picture files into the working bitmap whose pixels are thresholded or dithered, and
// the size limits that keep a huge or hostile file from exhausting memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <QImage>

namespace pellory::imaging {

// Limits for any picture that is decoded. A file whose header announces more is refused before a
// single pixel is decoded. A whole load (the file's bytes, the decoder's buffers, the decoded
// picture, its preview and the dot matrix) stays within kLoadMemoryBudget: at the dot limit the
// decoded picture takes 4 bytes per dot (256 MiB) and the dot matrix 1 byte per dot (64 MiB),
// enough for an 8192 x 8192 photo or a strip as wide as 80 mm paper and 116,000 rows tall.
inline constexpr int kMaxPictureSide = 262144;                 // dots, each of width and height
inline constexpr int64_t kMaxPictureDots = int64_t{1} << 26;  // 67,108,864 dots in all
inline constexpr size_t kLoadMemoryBudget = size_t{600} << 20;
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

// How a picture may be decoded.
struct DecodeOptions {
    // When positive, a decoder that can decode at a reduced size (JPEG) may do so as long as the
    // picture stays at least this wide; other decoders give the full size.
    int reduceToWidth = 0;
};

// Decodes the picture file at `path` into `out`. The path is used as the bytes given (a file name
// that is not valid text opens all the same). Files that are not regular files (pipes, devices)
// are read in pieces up to kMaxPictureFileBytes. Fails, with a one-line reason in *error when
// error is not null and `out` left empty, as DecodePictureBytes does, and when the file cannot be
// opened or read or is larger than that limit.
bool DecodePicture(const std::string& path, WorkingBitmap& out, std::string* error = nullptr,
                   const DecodeOptions& options = {});

// Decodes a picture held in memory. BMP (RLE8 and RLE4 included) and JPEG are always accepted,
// other formats as far as Qt reads them. Fails, with a one-line reason, when the bytes are not a
// picture, announce a size beyond the limits above or one whose decoding would take more than the
// memory budget, are visibly cut short (BMP pixel data or JPEG entropy data ending before the
// picture does, an RLE stream without its end), or the decoder reports an error or a warning
// about corrupt or missing data.
bool DecodePictureBytes(const uint8_t* data, size_t size, WorkingBitmap& out, std::string* error = nullptr,
                        const DecodeOptions& options = {});

// DecodePicture's result as a QImage (Format_RGB32), for drawing. `out` is left null on failure.
bool DecodeForPreview(const std::string& path, QImage& out, std::string* error = nullptr);

// Whether the first bytes of a file can start a picture that can be read (used to refuse a
// stream that is no picture after its first piece).
bool LooksLikePicture(const uint8_t* data, size_t size);

}  // namespace pellory::imaging
