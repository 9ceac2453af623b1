// Structural checks on picture files that Qt's decoders let through: a BMP or JPEG file that was
// cut short decodes "successfully" with missing rows filled in, so the file is examined first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pellory::imaging {

enum class FileCompleteness {
    Complete,    // the file holds all the data its structure announces
    Truncated,   // the file ends before the picture data does
    NotChecked,  // not a layout these checks understand (compressed BMP, other formats)
};

// BMP: for uncompressed and bit-field pixel data, the pixel array that the headers announce
// (offset + row stride x rows) must lie inside the file. RLE data is not checked.
FileCompleteness CheckBmpComplete(const uint8_t* data, size_t size);

// JPEG: walks the marker segments and the entropy-coded data; the file must reach the end-of-image
// marker. Data after that marker is allowed.
FileCompleteness CheckJpegComplete(const uint8_t* data, size_t size);

// The width and height that a BMP file's header announces, when the header is readable. Qt's own
// reader declines to report sizes beyond its limits, so this keeps the reason for a refusal
// precise.
struct AnnouncedSize {
    bool known = false;
    int64_t width = 0;
    int64_t height = 0;
};
AnnouncedSize BmpAnnouncedSize(const uint8_t* data, size_t size);

// Runs whichever check fits the file's leading bytes.
FileCompleteness CheckFileComplete(const uint8_t* data, size_t size);

}  // namespace pellory::imaging
