#include "imaging/bit_image.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pellory::imaging {

namespace {

// The largest count that fits the 16-bit fields of both headers.
constexpr int kMaxHeaderCount = 65535;

// Eight dot bytes (0 or 1, lowest address = leftmost) to one byte with the leftmost dot in bit 7.
inline uint8_t PackEight(const uint8_t* dots) {
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t v;
        std::memcpy(&v, dots, sizeof v);
        // Dot i sits at bit 8i. Multiplying by 2^(63 - 9i) for every i moves dot i to bit 63 - i;
        // every other product lands on a distinct bit outside 56..63, so nothing carries into the
        // top byte, which then holds dot 0 in bit 7 down to dot 7 in bit 0.
        return static_cast<uint8_t>(((v & 0x0101010101010101ULL) * 0x8040201008040201ULL) >> 56);
    } else {
        unsigned byte = 0;
        for (int i = 0; i < 8; ++i) {
            byte |= (dots[i] & 1u) << (7 - i);
        }
        return static_cast<uint8_t>(byte);
    }
}

}  // namespace

SendRows EncodeColumnStripes(const DotMatrix& matrix, int modeIndex, int printableWidth) {
    SendRows rows;
    if (modeIndex < 0 || modeIndex >= static_cast<int>(kColumnModes.size()) || matrix.empty()) {
        return rows;
    }
    const ColumnMode& mode = kColumnModes[static_cast<size_t>(modeIndex)];
    const int w = std::min({matrix.width, std::max(printableWidth, 0), kMaxHeaderCount});
    if (w == 0) {
        return rows;
    }
    const int h = mode.dotsPerStripe;
    const size_t b = static_cast<size_t>(mode.bytesPerColumn);
    const size_t columns = static_cast<size_t>(w);
    const int stripes = matrix.height / h + (matrix.height % h != 0 ? 1 : 0);
    rows.reserve(2 * static_cast<size_t>(stripes));
    for (int s = 0; s < stripes; ++s) {
        std::vector<uint8_t> row(5 + columns * b, 0);
        row[0] = protocol::kEsc;
        row[1] = '*';
        row[2] = mode.m;
        row[3] = static_cast<uint8_t>(w & 0xFF);
        row[4] = static_cast<uint8_t>(w >> 8);
        uint8_t* data = row.data() + 5;
        for (size_t k = 0; k < b; ++k) {
            for (int bit = 0; bit < 8; ++bit) {
                const int y = s * h + 8 * static_cast<int>(k) + bit;
                if (y >= matrix.height) {
                    break;  // below the picture: the remaining bits stay 0
                }
                const uint8_t* dots = matrix.Row(y);
                const int shift = 7 - bit;
                uint8_t* out = data + k;
                for (size_t x = 0; x < columns; ++x) {
                    out[x * b] = static_cast<uint8_t>(out[x * b] | (dots[x] & 1) << shift);
                }
            }
        }
        rows.push_back(std::move(row));
        rows.emplace_back(kStripeFeed.begin(), kStripeFeed.end());
    }
    return rows;
}

RasterImage EncodeRaster(const DotMatrix& matrix, int printableWidth) {
    RasterImage image;
    if (matrix.empty()) {
        return image;
    }
    const int w = std::min({matrix.width, std::max(printableWidth, 0), 8 * kMaxHeaderCount});
    const int x = (w + 7) / 8;
    if (x == 0) {
        return image;
    }
    image.bytesPerRow = x;
    image.rows = matrix.height;
    const size_t stride = static_cast<size_t>(x);
    image.data.resize(stride * static_cast<size_t>(matrix.height));
    // Bytes whose eight columns all lie inside the picture are packed eight dots at a time; the
    // rest (at most the last byte) test each column against W.
    const int fullBytes = std::min(x, matrix.width / 8);
    for (int y = 0; y < matrix.height; ++y) {
        const uint8_t* dots = matrix.Row(y);
        uint8_t* out = image.data.data() + static_cast<size_t>(y) * stride;
        for (int j = 0; j < fullBytes; ++j) {
            out[j] = PackEight(dots + 8 * j);
        }
        for (int j = fullBytes; j < x; ++j) {
            unsigned byte = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const int column = 8 * j + bit;
                if (column < matrix.width) {
                    byte |= (dots[column] & 1u) << (7 - bit);
                }
            }
            out[j] = static_cast<uint8_t>(byte);
        }
    }
    return image;
}

std::vector<RasterBand> SplitRasterBands(int height, int maxRows) {
    std::vector<RasterBand> bands;
    const int step = std::clamp(maxRows, 1, kMaxRasterRows);
    for (int first = 0; first < height; first += std::min(step, height - first)) {
        bands.push_back(RasterBand{first, std::min(step, height - first)});
    }
    return bands;
}

std::vector<RasterCommand> RasterCommands(const RasterImage& image, int modeIndex) {
    std::vector<RasterCommand> commands;
    if (image.empty() || modeIndex < 0 || modeIndex >= static_cast<int>(kRasterModes.size()) ||
        image.bytesPerRow > kMaxHeaderCount) {
        return commands;
    }
    const size_t stride = static_cast<size_t>(image.bytesPerRow);
    for (const RasterBand& band : SplitRasterBands(image.rows)) {
        RasterCommand c;
        c.m = kRasterModes[static_cast<size_t>(modeIndex)].m;
        c.xL = static_cast<uint8_t>(image.bytesPerRow & 0xFF);
        c.xH = static_cast<uint8_t>(image.bytesPerRow >> 8);
        c.yL = static_cast<uint8_t>(band.rows & 0xFF);
        c.yH = static_cast<uint8_t>(band.rows >> 8);
        c.data = image.data.data() + static_cast<size_t>(band.firstRow) * stride;
        c.size = static_cast<size_t>(band.rows) * stride;
        commands.push_back(c);
    }
    return commands;
}

}  // namespace pellory::imaging
