#include "imaging/dither.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "imaging/picture.h"

namespace pellory::imaging {

namespace {

double ToLinear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }

// Shares of white in fixed point: kOne is all white.
constexpr int32_t kOne = 1 << 12;
constexpr int32_t kHalf = kOne / 2;

// The integer luma k = 299 R + 587 G + 114 B (0 .. 255,000, a thousand times the grey level) in
// steps of a tenth of a grey level: 2551 entries.
constexpr int kLevels = 2551;

int LevelOf(uint32_t p) {
    const int k = static_cast<int>(299 * ((p >> 16) & 0xFF) + 587 * ((p >> 8) & 0xFF) + 114 * (p & 0xFF));
    return (k + 50) / 100;
}

std::vector<int32_t> ShareTable(int threshold) {
    std::vector<int32_t> table(kLevels);
    for (int i = 0; i < kLevels; ++i) {
        table[static_cast<size_t>(i)] = static_cast<int32_t>(std::lround(WhiteShare(i / 10.0, threshold) * kOne));
    }
    return table;
}

// Each row's shares of white, from the picture, into `values`.
void RowShares(const WorkingBitmap& picture, int y, const std::vector<int32_t>& table, int32_t* values) {
    const uint32_t* in = picture.Row(y);
    const int width = picture.width();
    for (int x = 0; x < width; ++x) values[x] = table[static_cast<size_t>(LevelOf(in[x]))];
}

void FloydSteinberg(const WorkingBitmap& picture, const std::vector<int32_t>& table, DotMatrix& out) {
    const int width = picture.width();
    const size_t w = static_cast<size_t>(width);
    // Errors for this row and the next, with one spare cell at each end.
    std::vector<int32_t> here(w + 2, 0), below(w + 2, 0), values(w);
    for (int y = 0; y < picture.height(); ++y) {
        RowShares(picture, y, table, values.data());
        uint8_t* dots = out.Row(y);
        std::fill(below.begin(), below.end(), 0);
        int32_t carry = 0;  // the error passed to the right neighbour
        for (size_t x = 0; x < w; ++x) {
            const int32_t v = values[x] + here[x + 1] + carry;
            const bool white = v >= kHalf;
            dots[x] = static_cast<uint8_t>(!white);
            const int32_t err = v - (white ? kOne : 0);
            const int32_t e1 = err / 16, e3 = err * 3 / 16, e5 = err * 5 / 16;
            carry = err - e1 - e3 - e5;  // 7/16, and whatever the divisions left over
            below[x] += e3;
            below[x + 1] += e5;
            below[x + 2] += e1;
        }
        std::swap(here, below);
    }
}

// Atkinson's diffusion over rows of shares; `rowShares(y, values)` gives row y's shares.
template <typename RowSource>
void AtkinsonRows(int width, int height, RowSource rowShares, DotMatrix& out) {
    const size_t w = static_cast<size_t>(width);
    // Errors for this row and the two below it, with two spare cells at each end.
    std::vector<int32_t> rows[3] = {std::vector<int32_t>(w + 4, 0), std::vector<int32_t>(w + 4, 0),
                                    std::vector<int32_t>(w + 4, 0)};
    std::vector<int32_t> values(w);
    for (int y = 0; y < height; ++y) {
        rowShares(y, values.data());
        uint8_t* dots = out.Row(y);
        int32_t* here = rows[0].data() + 2;
        int32_t* next = rows[1].data() + 2;
        int32_t* after = rows[2].data() + 2;
        for (size_t x = 0; x < w; ++x) {
            const int32_t v = values[x] + here[x];
            const bool white = v >= kHalf;
            dots[x] = static_cast<uint8_t>(!white);
            const int32_t e = (v - (white ? kOne : 0)) / 8;  // six shares of an eighth; a quarter is dropped
            here[x + 1] += e;
            here[x + 2] += e;
            next[x - 1] += e;
            next[x] += e;
            next[x + 1] += e;
            after[x] += e;
        }
        std::rotate(rows, rows + 1, rows + 3);
        std::fill(rows[2].begin(), rows[2].end(), 0);
    }
}

// Atkinson's method drops a quarter of each error, which makes light greys lighter and dark
// greys darker than they are (the highlights and shadows clip). The tone curve below undoes that:
// for each share of white wanted, the share to feed the method so that its dots come out at that
// share on an even area. It is measured once, on flat patches, by the method itself, so it is
// the same on every run.
class AtkinsonTone {
public:
    AtkinsonTone() {
        constexpr int kSide = 96;
        DotMatrix patch;
        for (size_t i = 0; i < kSteps; ++i) {
            const auto input = static_cast<int32_t>(i * kOne / (kSteps - 1));
            patch.Reset(kSide, kSide);
            AtkinsonRows(kSide, kSide, [input](int, int32_t* v) { std::fill(v, v + kSide, input); }, patch);
            long black = 0;
            for (uint8_t d : patch.dots) black += d;
            response_[i] = static_cast<double>(kSide * kSide - black) / (kSide * kSide);
        }
        // Made non-decreasing, so that it can be inverted.
        for (size_t i = 1; i < kSteps; ++i) response_[i] = std::max(response_[i], response_[i - 1]);
        for (size_t j = 0; j < inverse_.size(); ++j) {
            const double want = static_cast<double>(j) / static_cast<double>(inverse_.size() - 1);
            size_t i = 1;
            while (i < kSteps - 1 && response_[i] < want) ++i;
            const double lo = response_[i - 1], hi = response_[i];
            const double f = hi > lo ? std::clamp((want - lo) / (hi - lo), 0.0, 1.0) : 0.0;
            inverse_[j] = static_cast<int32_t>(std::lround((static_cast<double>(i - 1) + f) * kOne / (kSteps - 1)));
        }
    }
    int32_t Input(int32_t share) const {
        return inverse_[static_cast<size_t>(std::clamp(share, 0, kOne) * static_cast<int32_t>(inverse_.size() - 1) / kOne)];
    }

private:
    static constexpr size_t kSteps = 129;
    std::array<double, kSteps> response_{};
    std::array<int32_t, 1025> inverse_{};
};

void Atkinson(const WorkingBitmap& picture, const std::vector<int32_t>& table, DotMatrix& out) {
    static const AtkinsonTone tone;
    std::vector<int32_t> toned(table.size());
    for (size_t i = 0; i < table.size(); ++i) toned[i] = tone.Input(table[i]);
    AtkinsonRows(picture.width(), picture.height(),
                 [&](int y, int32_t* values) { RowShares(picture, y, toned, values); }, out);
}

// The classic recursive Bayer matrix: every 2 x 2 block of it holds levels that are 16 apart.
constexpr std::array<std::array<uint8_t, 8>, 8> kBayer8 = {{
    {0, 32, 8, 40, 2, 34, 10, 42},
    {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},
    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},
    {63, 31, 55, 23, 61, 29, 53, 21},
}};

void Ordered(const WorkingBitmap& picture, const std::vector<int32_t>& table, DotMatrix& out) {
    const int width = picture.width();
    // Cell (i, j) is white when the share is above (level + 1/2) / 64.
    std::array<std::array<int32_t, 8>, 8> limits{};
    for (size_t i = 0; i < 8; ++i) {
        for (size_t j = 0; j < 8; ++j) limits[i][j] = (2 * kBayer8[i][j] + 1) * kOne / 128;
    }
    for (int y = 0; y < picture.height(); ++y) {
        const uint32_t* in = picture.Row(y);
        uint8_t* dots = out.Row(y);
        const auto& row = limits[static_cast<size_t>(y % 8)];
        for (int x = 0; x < width; ++x) {
            const int32_t v = table[static_cast<size_t>(LevelOf(in[x]))];
            dots[x] = static_cast<uint8_t>(v <= row[static_cast<size_t>(x % 8)]);
        }
    }
}

}  // namespace

double WhiteShare(double grey, int threshold) {
    const double light = ToLinear(std::clamp(grey, 0.0, 255.0) / 255.0);
    const double level = ToLinear(std::clamp(threshold, 1, 254) / 255.0);
    if (light <= level) return 0.5 * light / level;
    return 0.5 + 0.5 * (light - level) / (1.0 - level);
}

void DitherImage(const WorkingBitmap& picture, int threshold, DitherMethod method, DotMatrix& out) {
    if (method == DitherMethod::None || threshold <= 0 || threshold >= 255 || picture.empty()) {
        ThresholdImage(picture, threshold, out);
        return;
    }
    out.Reset(picture.width(), picture.height());
    const std::vector<int32_t> table = ShareTable(threshold);
    switch (method) {
        case DitherMethod::FloydSteinberg:
            FloydSteinberg(picture, table, out);
            break;
        case DitherMethod::Atkinson:
            Atkinson(picture, table, out);
            break;
        case DitherMethod::Ordered8x8:
            Ordered(picture, table, out);
            break;
        case DitherMethod::None:
            break;
    }
}

}  // namespace pellory::imaging
