#include "imaging/picture.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include "imaging/bmp_rle.h"
#include "imaging/file_checks.h"
#include "imaging/jpeg_decoder.h"
#include "imaging/large_buffers.h"
#include "imaging/picture_file.h"

namespace pellory::imaging {

WorkingBitmap::WorkingBitmap(int width, int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    image_ = QImage(width, height, QImage::Format_RGB32);
    if (!image_.isNull()) {
        AdviseHugePages(image_.bits(), static_cast<size_t>(image_.sizeInBytes()));
        image_.fill(0xff000000u);
    }
}

WorkingBitmap WorkingBitmap::FromImage(QImage image) {
    WorkingBitmap bitmap;
    if (image.isNull()) {
        return bitmap;
    }
    if (image.format() != QImage::Format_RGB32) {
        // Non-premultiplied alpha formats keep their stored colours here; palettes are resolved.
        image = std::move(image).convertToFormat(QImage::Format_RGB32);
    }
    bitmap.image_ = std::move(image);  // null if the conversion ran out of memory
    return bitmap;
}

Rgb WorkingBitmap::Pixel(int x, int y) const {
    const uint32_t p = Row(y)[x];
    return Rgb{static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p)};
}

void WorkingBitmap::SetPixel(int x, int y, Rgb colour) {
    MutableRow(y)[x] = 0xff000000u | uint32_t{colour.r} << 16 | uint32_t{colour.g} << 8 | colour.b;
}

namespace {

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
}

bool WithinLimits(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           width * height <= kMaxPictureDots;
}

std::string SizeText(int64_t width, int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

std::string OutsideLimit(int64_t width, int64_t height) {
    return "picture size " + SizeText(width, height) + " is outside the limit of " +
           std::to_string(kMaxPictureDots) + " dots and " + std::to_string(kMaxPictureSide) + " per side";
}

bool IsJpeg(const uint8_t* data, size_t size) { return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF; }

// What a load keeps besides the decoded picture: the preview copy (at most 2048 x 2048 words)
// and the dot matrix (one byte per dot, counted with the picture).
constexpr size_t kPreviewReserve = size_t{16} << 20;

void SetQtAllocationLimit() {
    // Process-wide: Qt stops any decoder whose picture would need more than this.
    static const bool limitSet = [] {
        QImageReader::setAllocationLimit(kDecodeAllocationLimitMiB);
        return true;
    }();
    (void)limitSet;
}

// Decodes with the decoder that fits the bytes. `image` is that decoder's own result.
bool DecodeBytes(const uint8_t* data, size_t size, const DecodeOptions& options, QImage& image,
                 std::string& error) {
    image = QImage();
    if (size == 0) {
        error = "empty file";
        return false;
    }
    if (IsJpeg(data, size)) {
        if (CheckJpegComplete(data, size) == FileCompleteness::Truncated) {
            error = "file is cut short";
            return false;
        }
        JpegLimits limits;
        limits.maxSide = kMaxPictureSide;
        limits.maxDots = kMaxPictureDots;
        limits.outputBytesPerDot = 5;  // the picture and the dot matrix made of it
        const size_t taken = size + kPreviewReserve;
        limits.memoryBytes = taken < kLoadMemoryBudget ? kLoadMemoryBudget - taken : 0;
        return DecodeJpeg(data, size, options.reduceToWidth, limits, image, error);
    }

    const AnnouncedSize bmpSize = BmpAnnouncedSize(data, size);
    if (bmpSize.known && !WithinLimits(bmpSize.width, bmpSize.height)) {
        error = OutsideLimit(bmpSize.width, bmpSize.height);
        return false;
    }
    if (IsRleBmp(data, size)) {
        return DecodeRleBmp(data, size, image, error);
    }

    SetQtAllocationLimit();
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);  // pixels as stored; the preview shows them the same way
    if (!reader.canRead()) {
        error = "not a picture format that can be read";
        return false;
    }
    const QSize qtSize = reader.size();
    if (qtSize.isValid() && !WithinLimits(qtSize.width(), qtSize.height())) {
        error = OutsideLimit(qtSize.width(), qtSize.height());
        return false;
    }
    if (CheckFileComplete(data, size) == FileCompleteness::Truncated) {
        error = "file is cut short";
        return false;
    }
    QImage decoded;
    if (!reader.read(&decoded) || decoded.isNull()) {
        error = "cannot decode the picture: " + reader.errorString().toStdString();
        return false;
    }
    if (!WithinLimits(decoded.width(), decoded.height())) {
        error = OutsideLimit(decoded.width(), decoded.height());
        return false;
    }
    // The decoded pixels never point into `data` (Qt copies into its own buffer).
    image = std::move(decoded);
    return true;
}

bool ToBitmap(QImage image, WorkingBitmap& out, std::string& error) {
    out = WorkingBitmap::FromImage(std::move(image));
    if (out.empty()) {
        error = "out of memory converting the picture";
        return false;
    }
    return true;
}

}  // namespace

bool LooksLikePicture(const uint8_t* data, size_t size) {
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') return true;
    if (IsJpeg(data, size)) return true;
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return !QImageReader::imageFormat(&buffer).isEmpty();
}

bool DecodePictureBytes(const uint8_t* data, size_t size, WorkingBitmap& out, std::string* error,
                        const DecodeOptions& options) {
    out = WorkingBitmap();
    QImage image;
    std::string reason;
    if (!DecodeBytes(data, size, options, image, reason) || !ToBitmap(std::move(image), out, reason)) {
        SetError(error, reason);
        return false;
    }
    return true;
}

bool DecodePicture(const std::string& path, WorkingBitmap& out, std::string* error,
                   const DecodeOptions& options) {
    out = WorkingBitmap();
    std::string reason;
    QImage image;
    {
        FileBytes file;
        if (!file.Open(path, kMaxPictureFileBytes, LooksLikePicture, &reason)) {
            SetError(error, reason);
            return false;
        }
        if (!DecodeBytes(file.data(), file.size(), options, image, reason)) {
            SetError(error, reason + ": " + path);
            return false;
        }
    }  // the file's bytes go before the picture is converted
    if (!ToBitmap(std::move(image), out, reason)) {
        SetError(error, reason + ": " + path);
        return false;
    }
    return true;
}

bool DecodeForPreview(const std::string& path, QImage& out, std::string* error) {
    WorkingBitmap bitmap;
    if (!DecodePicture(path, bitmap, error)) {
        out = QImage();
        return false;
    }
    out = bitmap.image();
    return true;
}

}  // namespace pellory::imaging
