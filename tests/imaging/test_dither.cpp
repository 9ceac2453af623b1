// Dithering and fitting: each dither method gives the darkness it should on grey ramps, the
// threshold's grey prints half black, results repeat exactly, and "Fit to paper" keeps the
// aspect ratio, never enlarges and averages areas (in light) rather than picking pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "imaging/dither.h"
#include "imaging/dot_matrix.h"
#include "imaging/dot_preview.h"
#include "imaging/fit.h"
#include "imaging/picture.h"

namespace pellory::imaging {
namespace {

// The darkness a grey level should print with, worked out here from the sRGB curve: the grey's
// light and the threshold's light, with the threshold's light at half black and straight lines in
// light to black and to white on either side.
double ExpectedDarkness(double grey, int threshold) {
    auto light = [](double v) {
        const double c = v / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const double l = light(grey), t = light(threshold);
    const double white = l <= t ? 0.5 * l / t : 0.5 + 0.5 * (l - t) / (1 - t);
    return 1.0 - white;
}

// A horizontal ramp: column x has grey level x * 255 / (width - 1), tall enough for the
// patterns to settle.
WorkingBitmap Ramp(int width, int height) {
    WorkingBitmap b(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto v = static_cast<uint8_t>(x * 255 / (width - 1));
            b.SetPixel(x, y, Rgb{v, v, v});
        }
    }
    return b;
}

double BlackShare(const DotMatrix& m, int x0, int x1) {
    long black = 0;
    for (int y = 0; y < m.height; ++y) {
        for (int x = x0; x < x1; ++x) black += m.At(x, y);
    }
    return static_cast<double>(black) / (static_cast<double>(x1 - x0) * m.height);
}

constexpr DitherMethod kMethods[] = {DitherMethod::FloydSteinberg, DitherMethod::Atkinson,
                                     DitherMethod::Ordered8x8};
const char* Name(DitherMethod m) {
    return m == DitherMethod::FloydSteinberg ? "Floyd-Steinberg" : m == DitherMethod::Atkinson ? "Atkinson" : "ordered";
}

TEST(Dither, GreyRampsPrintTheirDarknessWithinTwoPercent) {
    // 512 columns in 16 bands of 32; each band's share of black against the mean expected
    // darkness of its columns.
    const WorkingBitmap ramp = Ramp(512, 256);
    for (int threshold : {128, 90, 180}) {
        for (DitherMethod method : kMethods) {
            DotMatrix m;
            DitherImage(ramp, threshold, method, m);
            ASSERT_EQ(m.width, 512);
            ASSERT_EQ(m.height, 256);
            double whole = 0, wholeExpected = 0;
            for (int band = 0; band < 16; ++band) {
                double expected = 0;
                for (int x = band * 32; x < band * 32 + 32; ++x) expected += ExpectedDarkness(x * 255 / 511, threshold);
                expected /= 32;
                const double got = BlackShare(m, band * 32, band * 32 + 32);
                EXPECT_NEAR(got, expected, 0.02) << Name(method) << " threshold " << threshold << " band " << band;
                whole += got / 16;
                wholeExpected += expected / 16;
            }
            EXPECT_NEAR(whole, wholeExpected, 0.02) << Name(method) << " threshold " << threshold;
        }
    }
}

TEST(Dither, TheThresholdGreyPrintsHalfTheDotsBlack) {
    for (int threshold : {60, 128, 200}) {
        WorkingBitmap flat(256, 256);
        const auto v = static_cast<uint8_t>(threshold);
        for (int y = 0; y < 256; ++y) {
            for (int x = 0; x < 256; ++x) flat.SetPixel(x, y, Rgb{v, v, v});
        }
        for (DitherMethod method : kMethods) {
            DotMatrix m;
            DitherImage(flat, threshold, method, m);
            EXPECT_NEAR(BlackShare(m, 0, 256), 0.5, 0.01) << Name(method) << " at " << threshold;
        }
    }
}

TEST(Dither, SamePictureGivesTheSameDotsAndNoneIsThePlainThreshold) {
    // A colourful picture with noise, so that every method makes many decisions.
    WorkingBitmap picture(300, 120);
    uint32_t seed = 12345;
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 300; ++x) {
            seed = seed * 1664525u + 1013904223u;
            picture.SetPixel(x, y, Rgb{static_cast<uint8_t>(x * 255 / 299), static_cast<uint8_t>(seed >> 24),
                                       static_cast<uint8_t>(y * 2)});
        }
    }
    for (DitherMethod method : kMethods) {
        DotMatrix first, second;
        DitherImage(picture, 128, method, first);
        DitherImage(WorkingBitmap::FromImage(picture.image().copy()), 128, method, second);
        EXPECT_EQ(first.dots, second.dots) << Name(method);
        DotMatrix plain;
        ThresholdImage(picture, 128, plain);
        EXPECT_NE(first.dots, plain.dots) << Name(method);
    }
    for (int threshold : {-5, 0, 77, 128, 255, 300}) {
        DotMatrix dithered, plain;
        DitherImage(picture, threshold, DitherMethod::None, dithered);
        ThresholdImage(picture, threshold, plain);
        EXPECT_EQ(dithered.dots, plain.dots) << threshold;
    }
    // At the ends of the threshold range every method gives what the threshold gives: all white
    // below 0, all black from 255.
    for (DitherMethod method : kMethods) {
        for (int threshold : {-1, 255}) {
            DotMatrix dithered, plain;
            DitherImage(picture, threshold, method, dithered);
            ThresholdImage(picture, threshold, plain);
            EXPECT_EQ(dithered.dots, plain.dots) << Name(method) << " " << threshold;
        }
    }
}

TEST(Fit, KeepsTheAspectRatioAndNeverEnlarges) {
    EXPECT_EQ(FittedSize(1000, 500, 384), QSize(384, 192));
    EXPECT_EQ(FittedSize(4000, 3000, 572), QSize(572, 429));
    EXPECT_EQ(FittedSize(577, 1, 576), QSize(576, 1));      // rounded, at least one row
    EXPECT_EQ(FittedSize(5000, 1, 384), QSize(384, 1));
    EXPECT_EQ(FittedSize(384, 900, 384), QSize(384, 900));  // not wider: unchanged
    EXPECT_EQ(FittedSize(100, 50, 384), QSize(100, 50));    // narrower: never enlarged
    for (int width = 385; width < 3000; width += 37) {
        const QSize s = FittedSize(width, 777, 384);
        EXPECT_EQ(s.width(), 384);
        EXPECT_NEAR(static_cast<double>(s.height()) / s.width(), 777.0 / width, 0.5 / s.width()) << width;
    }

    WorkingBitmap narrow = Ramp(200, 10);
    const WorkingBitmap same = FitToWidth(narrow, 384);
    EXPECT_EQ(same.image(), narrow.image());
}

TEST(Fit, AveragesAreasInLight) {
    // A one-dot checkerboard, halved: each new pixel covers two black and two white dots, so
    // its light is one half: sRGB level 188. Picking pixels would give black or white.
    WorkingBitmap board(800, 40);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 800; ++x) {
            const uint8_t v = (x + y) % 2 == 0 ? 0 : 255;
            board.SetPixel(x, y, Rgb{v, v, v});
        }
    }
    const WorkingBitmap half = FitToWidth(board, 400);
    ASSERT_EQ(half.width(), 400);
    ASSERT_EQ(half.height(), 20);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 400; ++x) {
            const Rgb p = half.Pixel(x, y);
            ASSERT_NEAR(p.g, 188, 1) << x << "," << y;
            ASSERT_EQ(p.r, p.g);
            ASSERT_EQ(p.b, p.g);
        }
    }
    // A scale that is not a whole number: a picture with a black left half keeps its edge where
    // it was, with one grey column in between at most.
    WorkingBitmap halfBlack(1000, 10);
    for (int y = 0; y < 10; ++y) {
        for (int x = 500; x < 1000; ++x) halfBlack.SetPixel(x, y, Rgb{255, 255, 255});
    }
    const WorkingBitmap fitted = FitToWidth(halfBlack, 384);
    ASSERT_EQ(fitted.width(), 384);
    ASSERT_EQ(fitted.height(), 4);
    for (int x = 0; x < 384; ++x) {
        const int g = fitted.Pixel(x, 2).g;
        if (x < 191) {
            EXPECT_EQ(g, 0) << x;
        } else if (x > 192) {
            EXPECT_EQ(g, 255) << x;
        }
    }
}

TEST(DotPreviewPicture, ShowsEachDotOrTheMeanOfABlock) {
    DotMatrix m;
    m.Reset(6, 2);
    m.Row(0)[1] = 1;
    m.Row(1)[4] = 1;
    const QImage small = DotPreview(m, 100);
    ASSERT_EQ(small.size(), QSize(6, 2));
    EXPECT_EQ(qGray(small.pixel(1, 0)), 0);
    EXPECT_EQ(qGray(small.pixel(0, 0)), 255);
    EXPECT_EQ(qGray(small.pixel(4, 1)), 0);
    // Halved: blocks of 2 x 2, one black dot in four.
    const QImage reduced = DotPreview(m, 3);
    ASSERT_EQ(reduced.size(), QSize(3, 1));
    EXPECT_EQ(qGray(reduced.pixel(0, 0)), 255 - 255 / 4);
    EXPECT_EQ(qGray(reduced.pixel(1, 0)), 255);
    EXPECT_EQ(qGray(reduced.pixel(2, 0)), 255 - 255 / 4);
    EXPECT_TRUE(DotPreview(DotMatrix{}, 100).isNull());
}

}  // namespace
}  // namespace pellory::imaging
