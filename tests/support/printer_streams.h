// Endless byte streams for a printer, made piece by piece so that nobody has to hold them: line
// feeds, raster images, and random bytes. Used by the memory tests and benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pellory::test {

enum class StreamKind { LineFeeds, Raster, Random };

inline const char* StreamKindName(StreamKind kind) {
    switch (kind) {
        case StreamKind::LineFeeds: return "LineFeeds";
        case StreamKind::Raster: return "Raster";
        case StreamKind::Random: return "Random";
    }
    return "?";
}

class PrinterStream {
public:
    // Raster: GS v 0 images 48 bytes (384 dots) wide and 65535 rows high (3 MiB of data each,
    // holding status requests and other command bytes), each followed by a line feed.
    static constexpr size_t kImageWidth = 48;
    static constexpr size_t kImageRows = 65535;
    static constexpr size_t kImageHead = 8;
    static constexpr size_t kImagePeriod = kImageHead + kImageWidth * kImageRows + 1;

    explicit PrinterStream(StreamKind kind, uint32_t seed = 0x9E3779B9u) : kind_(kind), random_(seed | 1u) {}

    // The next n bytes of the stream.
    void next(uint8_t* out, size_t n) {
        for (size_t i = 0; i < n; ++i) out[i] = nextByte();
    }

private:
    uint8_t nextByte() {
        switch (kind_) {
            case StreamKind::LineFeeds:
                return 0x0A;
            case StreamKind::Random:
                random_ ^= random_ << 13;
                random_ ^= random_ >> 17;
                random_ ^= random_ << 5;
                return static_cast<uint8_t>(random_ >> 24);
            case StreamKind::Raster: {
                static constexpr uint8_t kHead[kImageHead] = {0x1D, 0x76, 0x30, 0x00, kImageWidth, 0x00,
                                                              kImageRows & 0xFF, kImageRows >> 8};
                const size_t at = offset_;
                offset_ = (offset_ + 1) % kImagePeriod;
                if (at < kImageHead) return kHead[at];
                if (at + 1 == kImagePeriod) return 0x0A;
                static constexpr uint8_t kData[] = {0x10, 0x04, 0x05, 0x1B, 0x40, 0xF0, 0x0F, 0x1D, 0x76, 0x30};
                return kData[(at - kImageHead) % sizeof kData];
            }
        }
        return 0;
    }

    StreamKind kind_;
    uint32_t random_;
    size_t offset_ = 0;
};

}  // namespace pellory::test
