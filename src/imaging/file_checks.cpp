#include "imaging/file_checks.h"

#include <cstring>

namespace pellory::imaging {

namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

FileCompleteness CheckBmpComplete(const uint8_t* data, size_t size) {
    // File header (14 bytes), then an info header whose first word is its own size.
    if (size < 2 || data[0] != 'B' || data[1] != 'M') {
        return FileCompleteness::NotChecked;
    }
    if (size < 18) {
        return FileCompleteness::Truncated;
    }
    const uint64_t pixelOffset = Le32(data + 10);
    const uint32_t infoSize = Le32(data + 14);
    uint64_t width = 0, rows = 0;
    uint32_t bitsPerPixel = 0, compression = 0;
    if (infoSize == 12) {  // the old core header: 16-bit sizes, never compressed
        if (size < 26) {
            return FileCompleteness::Truncated;
        }
        width = Le16(data + 18);
        rows = Le16(data + 20);
        bitsPerPixel = Le16(data + 24);
    } else if (infoSize >= 40) {
        if (size < 14 + 40) {
            return FileCompleteness::Truncated;
        }
        const int32_t w = static_cast<int32_t>(Le32(data + 18));
        const int32_t h = static_cast<int32_t>(Le32(data + 22));
        if (w <= 0 || h == 0 || h == INT32_MIN) {
            return FileCompleteness::NotChecked;  // malformed: the decoder refuses it on its own
        }
        width = static_cast<uint64_t>(w);
        rows = static_cast<uint64_t>(h < 0 ? -static_cast<int64_t>(h) : h);
        bitsPerPixel = Le16(data + 28);
        compression = Le32(data + 30);
    } else {
        return FileCompleteness::NotChecked;
    }
    // 0 = plain RGB, 3 = bit fields, 6 = bit fields with alpha: all store a plain pixel array.
    if (compression != 0 && compression != 3 && compression != 6) {
        return FileCompleteness::NotChecked;
    }
    if (bitsPerPixel == 0 || bitsPerPixel > 64) {
        return FileCompleteness::NotChecked;
    }
    // Sizes this large are refused by the size limit before this check matters; bounding them
    // here keeps the product below 2^62.
    const uint64_t stride = (width * bitsPerPixel + 31) / 32 * 4;
    if (rows > (uint64_t{1} << 28) || stride > (uint64_t{1} << 34)) {
        return FileCompleteness::NotChecked;  // far beyond the size limit, refused by size anyway
    }
    const uint64_t needed = pixelOffset + stride * rows;
    return needed > size ? FileCompleteness::Truncated : FileCompleteness::Complete;
}

AnnouncedSize BmpAnnouncedSize(const uint8_t* data, size_t size) {
    AnnouncedSize announced;
    if (size < 26 || data[0] != 'B' || data[1] != 'M') {
        return announced;
    }
    const uint32_t infoSize = Le32(data + 14);
    if (infoSize == 12) {
        announced = {true, Le16(data + 18), Le16(data + 20)};
    } else if (infoSize >= 40) {
        const int64_t h = static_cast<int32_t>(Le32(data + 22));
        announced = {true, static_cast<int32_t>(Le32(data + 18)), h < 0 ? -h : h};
    }
    return announced;
}

FileCompleteness CheckJpegComplete(const uint8_t* data, size_t size) {
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) {
        return FileCompleteness::NotChecked;
    }
    size_t pos = 2;
    while (true) {
        // Find the next marker: 0xFF, any number of 0xFF fill bytes, then the marker code. Stray
        // bytes between segments are skipped the way the decoder skips them.
        while (pos < size && data[pos] != 0xFF) {
            ++pos;
        }
        while (pos < size && data[pos] == 0xFF) {
            ++pos;
        }
        if (pos >= size) {
            return FileCompleteness::Truncated;
        }
        const uint8_t code = data[pos++];
        if (code == 0xD9) {
            return FileCompleteness::Complete;  // end of image
        }
        if (code == 0x00 || code == 0x01 || (code >= 0xD0 && code <= 0xD8)) {
            continue;  // no length field: stuffing, TEM, restart markers, a stray SOI
        }
        if (size - pos < 2) {
            return FileCompleteness::Truncated;
        }
        const size_t length = static_cast<size_t>(data[pos] << 8 | data[pos + 1]);
        if (length < 2) {
            return FileCompleteness::NotChecked;  // malformed; the decoder gives its own verdict
        }
        if (size - pos < length) {
            return FileCompleteness::Truncated;
        }
        pos += length;
        if (code != 0xDA) {
            continue;
        }
        // Start of scan: entropy-coded data follows up to the next marker that is neither byte
        // stuffing (FF 00) nor a restart marker (FF D0..D7).
        while (true) {
            const void* ff = std::memchr(data + pos, 0xFF, size - pos);
            if (ff == nullptr) {
                return FileCompleteness::Truncated;
            }
            pos = static_cast<size_t>(static_cast<const uint8_t*>(ff) - data);
            if (pos + 1 >= size) {
                return FileCompleteness::Truncated;
            }
            const uint8_t next = data[pos + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
                pos += 2;
            } else if (next == 0xFF) {
                pos += 1;  // fill byte before a marker
            } else {
                break;  // a marker: handled by the outer loop
            }
        }
    }
}

FileCompleteness CheckFileComplete(const uint8_t* data, size_t size) {
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        return CheckBmpComplete(data, size);
    }
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8) {
        return CheckJpegComplete(data, size);
    }
    return FileCompleteness::NotChecked;
}

}  // namespace pellory::imaging
