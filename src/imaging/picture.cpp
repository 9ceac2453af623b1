#include "imaging/picture.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>

#include "imaging/file_checks.h"

namespace pellory::imaging {

WorkingBitmap::WorkingBitmap(int width, int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    image_ = QImage(width, height, QImage::Format_RGB32);
    if (!image_.isNull()) {
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

// Files that cannot be mapped (pipes, special files) are read into memory up to this size.
constexpr qint64 kMaxUnmappedFileBytes = qint64{1} << 30;

// Opens, checks and decodes the file. `image` is the decoder's own result.
bool DecodeFile(const std::string& path, QImage& image, std::string* error) {
    // Process-wide: Qt stops any decoder whose picture would need more than this.
    static const bool limitSet = [] {
        QImageReader::setAllocationLimit(kDecodeAllocationLimitMiB);
        return true;
    }();
    (void)limitSet;

    image = QImage();
    QFile file(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!file.open(QIODevice::ReadOnly)) {
        SetError(error, "cannot open " + path + ": " + file.errorString().toStdString());
        return false;
    }
    const qint64 fileSize = file.size();
    QByteArray bytes;
    if (uchar* mapped = fileSize > 0 ? file.map(0, fileSize) : nullptr) {
        bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), fileSize);
    } else {
        bytes = file.read(kMaxUnmappedFileBytes + 1);
        if (bytes.size() > kMaxUnmappedFileBytes) {
            SetError(error, "file too large to read: " + path);
            return false;
        }
    }
    if (bytes.isEmpty()) {
        SetError(error, "empty file: " + path);
        return false;
    }

    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);  // pixels as stored; the preview shows them the same way
    if (!reader.canRead()) {
        SetError(error, "not a picture format that can be read: " + path);
        return false;
    }
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const QSize qtSize = reader.size();
    AnnouncedSize announced{qtSize.isValid(), qtSize.width(), qtSize.height()};
    if (!announced.known) {
        announced = BmpAnnouncedSize(data, static_cast<size_t>(bytes.size()));
    }
    if (announced.known && !WithinLimits(announced.width, announced.height)) {
        SetError(error, "picture size " + SizeText(announced.width, announced.height) +
                            " is outside the limit of " + std::to_string(kMaxPictureDots) +
                            " dots and " + std::to_string(kMaxPictureSide) + " per side");
        return false;
    }
    if (CheckFileComplete(data, static_cast<size_t>(bytes.size())) == FileCompleteness::Truncated) {
        SetError(error, "file is cut short: " + path);
        return false;
    }
    QImage decoded;
    if (!reader.read(&decoded) || decoded.isNull()) {
        SetError(error, "cannot decode " + path + ": " + reader.errorString().toStdString());
        return false;
    }
    if (!WithinLimits(decoded.width(), decoded.height())) {
        SetError(error, "picture size " + SizeText(decoded.width(), decoded.height()) +
                            " is outside the limit");
        return false;
    }
    // The decoded pixels never point into the mapped file (Qt copies into its own buffer), so the
    // mapping may go away with `file`.
    image = std::move(decoded);
    return true;
}

}  // namespace

bool DecodePicture(const std::string& path, WorkingBitmap& out, std::string* error) {
    out = WorkingBitmap();
    QImage image;
    if (!DecodeFile(path, image, error)) {
        return false;
    }
    out = WorkingBitmap::FromImage(std::move(image));
    if (out.empty()) {
        SetError(error, "out of memory converting " + path);
        return false;
    }
    return true;
}

bool DecodeForPreview(const std::string& path, QImage& out, std::string* error) {
    return DecodeFile(path, out, error);
}

}  // namespace pellory::imaging
