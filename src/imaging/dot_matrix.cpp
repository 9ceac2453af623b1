#include "imaging/dot_matrix.h"

#include <algorithm>

#include "imaging/large_buffers.h"
#include "imaging/picture.h"

namespace pellory::imaging {

void DotMatrix::Reset(int newWidth, int newHeight, uint8_t value) {
    width = std::max(newWidth, 0);
    height = std::max(newHeight, 0);
    const size_t w = static_cast<size_t>(width);
    const size_t h = static_cast<size_t>(height);
    if (dots.capacity() < w * h) {
        std::vector<uint8_t>().swap(dots);
        dots.reserve(w * h);
        AdviseHugePages(dots.data(), w * h);
    }
    dots.assign(w * h, value);
    rowStarts.resize(h);
    for (size_t y = 0; y < h; ++y) {
        rowStarts[y] = y * w;
    }
}

namespace {

// The fast pass over one row: dots[x] = (k < limit). Returns whether any pixel had k == limit.
// Kept free of calls and aliasing so that the compiler vectorises it.
bool ClassifyRow(const uint32_t* __restrict in, uint8_t* __restrict dots, size_t count, int32_t limit) {
    uint32_t ties = 0;
    for (size_t x = 0; x < count; ++x) {
        const uint32_t p = in[x];
        const int32_t k = static_cast<int32_t>(299 * ((p >> 16) & 0xFF) + 587 * ((p >> 8) & 0xFF) +
                                               114 * (p & 0xFF));
        dots[x] = static_cast<uint8_t>(k < limit);
        ties |= static_cast<uint32_t>(k == limit);
    }
    return ties != 0;
}

}  // namespace

// How the threshold is computed without a floating-point sum per pixel.
//
// k = 587 G + 299 R + 114 B is an exact integer and the exact luminance is k / 1000. The double
// expression (0.587 G + 0.299 R) + 0.114 B differs from k / 1000 by less than 1e-12 (three
// rounded products and two rounded sums of values below 256, plus the rounding of the three
// constants). For an integer threshold t:
//   - k < 1000 t means k / 1000 <= t - 0.001, so the double value is below t too: black;
//   - k > 1000 t means k / 1000 >= t + 0.001, so the double value is above t: white;
//   - k = 1000 t is the only case where rounding could tip the comparison either way, and those
//     pixels are decided by evaluating the double expression itself.
// So the result equals the double comparison for every colour and threshold. Thresholds below 0
// leave every dot white (the luminance is never negative) and thresholds of 255 or more make
// every dot black (the largest value, for white, comes out at exactly 255.0); clamping t to
// -1 .. 256 keeps 1000 t in range without changing any outcome. The tests compare this against
// the double expression for all 2^24 colours.
void ThresholdImage(const WorkingBitmap& picture, int threshold, DotMatrix& out) {
    const int width = picture.empty() ? 0 : picture.width();
    const int height = picture.empty() ? 0 : picture.height();
    out.Reset(width, height);
    if (width == 0 || height == 0) {
        return;
    }
    const int t = std::clamp(threshold, -1, 256);
    const int32_t limit = 1000 * t;
    const size_t w = static_cast<size_t>(width);
    for (int y = 0; y < height; ++y) {
        const uint32_t* in = picture.Row(y);
        uint8_t* dots = out.Row(y);
        if (!ClassifyRow(in, dots, w, limit)) {
            continue;
        }
        for (size_t x = 0; x < w; ++x) {
            const uint32_t p = in[x];
            const auto r = static_cast<uint8_t>(p >> 16);
            const auto g = static_cast<uint8_t>(p >> 8);
            const auto b = static_cast<uint8_t>(p);
            if (299 * r + 587 * g + 114 * b == limit) {
                dots[x] = static_cast<uint8_t>(Luma(r, g, b) <= t);
            }
        }
    }
}

}  // namespace pellory::imaging
