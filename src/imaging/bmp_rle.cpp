#include "imaging/bmp_rle.h"

#include "imaging/large_buffers.h"

#include <algorithm>
#include <array>

namespace pellory::imaging {

namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;
constexpr size_t kFileHeader = 14;
constexpr size_t kInfoHeader = 40;

}  // namespace

bool IsRleBmp(const uint8_t* data, size_t size) {
    if (size < kFileHeader + kInfoHeader || data[0] != 'B' || data[1] != 'M') return false;
    if (Le32(data + 14) < kInfoHeader) return false;  // the old core header has no compression
    const uint32_t compression = Le32(data + 30);
    return compression == kRle8 || compression == kRle4;
}

bool DecodeRleBmp(const uint8_t* data, size_t size, QImage& out, std::string& error) {
    out = QImage();
    if (!IsRleBmp(data, size)) {
        error = "not a run-length-compressed BMP file";
        return false;
    }
    const uint32_t infoSize = Le32(data + 14);
    const int32_t width = static_cast<int32_t>(Le32(data + 18));
    const int32_t rawHeight = static_cast<int32_t>(Le32(data + 22));
    const uint16_t bits = Le16(data + 28);
    const uint32_t compression = Le32(data + 30);
    const uint32_t colours = Le32(data + 46);
    const uint64_t pixelOffset = Le32(data + 10);
    if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN ||
        (compression == kRle8 && bits != 8) || (compression == kRle4 && bits != 4)) {
        error = "malformed run-length-compressed BMP header";
        return false;
    }
    const bool topDown = rawHeight < 0;
    const int32_t height = topDown ? -rawHeight : rawHeight;

    // The palette follows the info header: 4 bytes (blue, green, red, unused) per entry. Indexes
    // past its end are black.
    const uint32_t maxEntries = 1u << bits;
    const uint32_t entries = colours == 0 || colours > maxEntries ? maxEntries : colours;
    const uint64_t paletteAt = kFileHeader + uint64_t{infoSize};
    std::array<uint32_t, 256> palette{};
    palette.fill(0xff000000u);
    for (uint32_t i = 0; i < entries; ++i) {
        const uint64_t at = paletteAt + 4 * uint64_t{i};
        if (at + 4 > size || at + 4 > pixelOffset) {
            if (colours != 0) {
                error = "file is cut short: the palette ends early";
                return false;
            }
            break;  // an implicit palette is only as long as the file gives it
        }
        palette[i] = 0xff000000u | uint32_t{data[at + 2]} << 16 | uint32_t{data[at + 1]} << 8 | data[at];
    }
    if (pixelOffset >= size) {
        error = "file is cut short: no pixel data";
        return false;
    }

    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) {
        error = "out of memory for a picture of " + std::to_string(width) + " x " + std::to_string(height);
        return false;
    }
    AdviseHugePages(image.bits(), static_cast<size_t>(image.sizeInBytes()));
    image.fill(0xffffffffu);  // every pixel the stream skips is white

    const uint8_t* p = data + pixelOffset;
    const uint8_t* end = data + size;
    int64_t x = 0, y = 0;  // y counts rows in file order: from the bottom unless top-down
    auto put = [&](unsigned index) {
        if (x < width && y < height) {
            const int row = topDown ? static_cast<int>(y) : height - 1 - static_cast<int>(y);
            reinterpret_cast<uint32_t*>(image.scanLine(row))[x] = palette[index & 0xFF];
        }
        ++x;
    };
    const bool four = compression == kRle4;
    bool ended = false;
    while (!ended) {
        if (y >= height) {
            ended = true;  // every row is done: whatever follows cannot be drawn
            break;
        }
        if (end - p < 2) break;
        const unsigned count = p[0];
        const unsigned code = p[1];
        p += 2;
        if (count > 0) {  // a run: `count` pixels of one index (RLE4: two indexes in turn)
            for (unsigned i = 0; i < count; ++i) put(four ? (i % 2 == 0 ? code >> 4 : code & 0x0F) : code);
            continue;
        }
        if (code == 0) {  // end of line
            x = 0;
            ++y;
        } else if (code == 1) {  // end of picture
            ended = true;
        } else if (code == 2) {  // move right and up (down the file's rows)
            if (end - p < 2) break;
            x += p[0];
            y += p[1];
            p += 2;
        } else {  // `code` literal indexes, padded to an even number of bytes
            const size_t bytes = four ? (code + 1) / 2 : code;
            const size_t padded = bytes + (bytes % 2);
            if (static_cast<size_t>(end - p) < bytes) break;
            for (unsigned i = 0; i < code; ++i) put(four ? (i % 2 == 0 ? p[i / 2] >> 4 : p[i / 2] & 0x0F) : p[i]);
            // A missing pad byte at the very end is tolerated; the next code is checked anyway.
            p += std::min(padded, static_cast<size_t>(end - p));
        }
    }
    if (!ended) {
        error = "file is cut short: the compressed pixel data ends before the picture does";
        return false;
    }
    out = std::move(image);
    return true;
}

}  // namespace pellory::imaging
