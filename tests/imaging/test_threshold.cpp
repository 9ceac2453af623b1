// Thresholding a picture into the dot matrix: the fast computation must agree with the plain
// double-precision luminance for every colour and threshold.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

#include "imaging/dot_matrix.h"
#include "imaging/picture.h"

namespace pellory::imaging {
namespace {

// The luminance written out the obvious way, independent of the library's own helper.
bool ReferenceBlack(int r, int g, int b, int threshold) {
    const double grey = 0.587 * static_cast<double>(g) + 0.299 * static_cast<double>(r);
    return grey + 0.114 * static_cast<double>(b) <= static_cast<double>(threshold);
}

Rgb ColourOf(uint32_t index) {
    return Rgb{static_cast<uint8_t>(index >> 16), static_cast<uint8_t>(index >> 8),
               static_cast<uint8_t>(index)};
}

// Compares every dot with the reference; reports the first few mismatches.
void ExpectMatchesReference(const WorkingBitmap& picture, int threshold) {
    DotMatrix matrix;
    ThresholdImage(picture, threshold, matrix);
    ASSERT_EQ(matrix.width, picture.width());
    ASSERT_EQ(matrix.height, picture.height());
    int mismatches = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const Rgb c = picture.Pixel(x, y);
            const uint8_t want = ReferenceBlack(c.r, c.g, c.b, threshold) ? 1 : 0;
            if (matrix.At(x, y) != want && ++mismatches <= 5) {
                ADD_FAILURE() << "threshold " << threshold << " colour " << int(c.r) << ","
                              << int(c.g) << "," << int(c.b) << " gave " << int(matrix.At(x, y));
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << "threshold " << threshold;
}

TEST(Threshold, AllColoursAtSelectedThresholdsMatchTheDoubleFormula) {
    WorkingBitmap all(4096, 4096);
    ASSERT_FALSE(all.empty());
    // For an integer t, grey <= t exactly when ceil(grey) <= t: the reference luminance is
    // evaluated once per colour and kept as its ceiling.
    std::vector<int16_t> ceiling(size_t{1} << 24);
    for (uint32_t i = 0; i < (1u << 24); ++i) {
        const Rgb c = ColourOf(i);
        all.MutableRow(static_cast<int>(i / 4096))[i % 4096] = i;  // 0x00RRGGBB
        const double grey = 0.587 * c.g + 0.299 * c.r;
        ceiling[i] = static_cast<int16_t>(std::ceil(grey + 0.114 * c.b));
    }
    ASSERT_EQ(all.Pixel(3, 1), (Rgb{0, 16, 3}));  // colour 0x001003 sits at (3, 1)
    ASSERT_TRUE(ReferenceBlack(1, 2, 3, ceiling[0x010203]));
    ASSERT_FALSE(ReferenceBlack(1, 2, 3, ceiling[0x010203] - 1));
    DotMatrix matrix;
    for (int threshold : {INT_MIN, -1, 0, 1, 76, 127, 128, 129, 254, 255, 256, INT_MAX}) {
        ThresholdImage(all, threshold, matrix);
        ASSERT_EQ(matrix.dots.size(), ceiling.size());
        size_t mismatches = 0;
        for (size_t i = 0; i < ceiling.size(); ++i) {
            mismatches += matrix.dots[i] != (threshold >= ceiling[i] ? 1 : 0);
        }
        EXPECT_EQ(mismatches, 0u) << "threshold " << threshold;
        if (mismatches != 0) {
            ExpectMatchesReference(all, threshold);  // names the first colours that differ
        }
    }
}

TEST(Threshold, ColoursNearEveryIntegerLevelMatchAtEveryThreshold) {
    // Colours whose luminance lies within 0.005 of a whole number are the only ones where a
    // shortcut could go wrong; they are checked against all thresholds from -2 to 257.
    std::vector<Rgb> near;
    int exactlyWhole = 0;
    for (uint32_t i = 0; i < (1u << 24); ++i) {
        const Rgb c = ColourOf(i);
        const double grey = (0.587 * c.g + 0.299 * c.r) + 0.114 * c.b;
        const double distance = std::abs(grey - std::round(grey));
        if (distance < 0.005) {
            near.push_back(c);
            exactlyWhole += distance == 0.0 ? 1 : 0;
        }
    }
    ASSERT_GT(exactlyWhole, 0);  // the comparison at equality is exercised
    const int width = 1024;
    const int height = static_cast<int>((near.size() + width - 1) / width);
    WorkingBitmap picture(width, height);  // the padding pixels stay black (0,0,0)
    std::vector<int16_t> ceiling(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    for (size_t i = 0; i < near.size(); ++i) {
        const Rgb c = near[i];
        picture.SetPixel(static_cast<int>(i % width), static_cast<int>(i / width), c);
        const double grey = 0.587 * c.g + 0.299 * c.r;
        ceiling[i] = static_cast<int16_t>(std::ceil(grey + 0.114 * c.b));
    }
    DotMatrix matrix;
    for (int threshold = -2; threshold <= 257; ++threshold) {
        ThresholdImage(picture, threshold, matrix);
        size_t mismatches = 0;
        for (size_t i = 0; i < ceiling.size(); ++i) {
            mismatches += matrix.dots[i] != (threshold >= ceiling[i] ? 1 : 0);
        }
        EXPECT_EQ(mismatches, 0u) << "threshold " << threshold;
        if (mismatches != 0) {
            ExpectMatchesReference(picture, threshold);
            break;
        }
    }
}

TEST(Threshold, DocumentedLevels) {
    WorkingBitmap picture(4, 1);
    picture.SetPixel(0, 0, Rgb{128, 128, 128});
    picture.SetPixel(1, 0, Rgb{129, 129, 129});
    picture.SetPixel(2, 0, Rgb{255, 255, 255});
    picture.SetPixel(3, 0, Rgb{0, 0, 0});
    DotMatrix m;

    ThresholdImage(picture, 128, m);  // grey 128 black, grey 129 white
    EXPECT_EQ(m.dots, (std::vector<uint8_t>{1, 0, 0, 1}));
    ThresholdImage(picture, 255, m);  // white prints black too
    EXPECT_EQ(m.dots, (std::vector<uint8_t>{1, 1, 1, 1}));
    ThresholdImage(picture, -1, m);  // black prints white too
    EXPECT_EQ(m.dots, (std::vector<uint8_t>{0, 0, 0, 0}));
    ThresholdImage(picture, 0, m);  // only pure black has luminance 0
    EXPECT_EQ(m.dots, (std::vector<uint8_t>{0, 0, 0, 1}));
}

TEST(Threshold, RebuildsSizeAndRowTable) {
    WorkingBitmap picture(5, 3);
    picture.SetPixel(4, 2, Rgb{255, 255, 255});
    DotMatrix m;
    m.Reset(100, 100, 1);  // an earlier, larger picture is replaced whole
    ThresholdImage(picture, 128, m);
    ASSERT_EQ(m.width, 5);
    ASSERT_EQ(m.height, 3);
    ASSERT_EQ(m.dots.size(), 15u);
    EXPECT_EQ(m.rowStarts, (std::vector<size_t>{0, 5, 10}));
    EXPECT_EQ(m.At(4, 2), 0);
    EXPECT_EQ(m.At(3, 2), 1);

    ThresholdImage(WorkingBitmap(), 128, m);  // no picture: an empty matrix
    EXPECT_TRUE(m.empty());
    EXPECT_TRUE(m.dots.empty());
}

}  // namespace
}  // namespace pellory::imaging
