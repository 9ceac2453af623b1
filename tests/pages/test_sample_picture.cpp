// The "Image" test's picture: its size and raster layout (40 bytes a row, leftmost dot in the
// most significant bit), its frame, that it holds a real picture, and that it is drawn once
// and always the same.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include "pages/core/sample_picture.h"

namespace pellory::samples {
namespace {

constexpr int kW = kSamplePictureWidth;
constexpr int kH = kSamplePictureHeight;

bool Dot(int x, int y) { return SamplePictureDot(SamplePicture(), x, y); }

TEST(SamplePicture, IsDrawnOnceEvenWhenFirstAskedFromSeveralThreads) {
    std::vector<const std::vector<uint8_t>*> seen(4, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = &SamplePicture(); });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (const auto* p : seen) {
        EXPECT_EQ(p, &SamplePicture());
    }
    const std::vector<uint8_t> copy = SamplePicture();
    EXPECT_EQ(copy, SamplePicture());
}

TEST(SamplePicture, HasTheRasterSizeOfTheImageCommand) {
    EXPECT_EQ(kW, 320);
    EXPECT_EQ(kH, 226);
    EXPECT_EQ(kSamplePictureBytesPerRow, 40);
    EXPECT_EQ(SamplePicture().size(), 9040u);
    EXPECT_EQ(static_cast<std::size_t>(kSamplePictureBytes), SamplePicture().size());
}

TEST(SamplePicture, FrameIsClosedAndLeftmostDotIsTheTopBit) {
    const std::vector<uint8_t>& p = SamplePicture();
    for (int corner_x : {0, kW - 1}) {
        for (int corner_y : {0, kH - 1}) {
            EXPECT_TRUE(Dot(corner_x, corner_y)) << corner_x << "," << corner_y;
        }
    }
    // Top and bottom rows are solid; so are the left and right columns.
    for (int i = 0; i < kSamplePictureBytesPerRow; ++i) {
        EXPECT_EQ(p[static_cast<std::size_t>(i)], 0xFF) << i;
        EXPECT_EQ(p[static_cast<std::size_t>((kH - 1) * kSamplePictureBytesPerRow + i)], 0xFF) << i;
    }
    for (int y = 0; y < kH; ++y) {
        EXPECT_TRUE(Dot(0, y)) << y;
        EXPECT_TRUE(Dot(kW - 1, y)) << y;
        const uint8_t first = p[static_cast<std::size_t>(y * kSamplePictureBytesPerRow)];
        const uint8_t last = p[static_cast<std::size_t>(y * kSamplePictureBytesPerRow + 39)];
        EXPECT_NE(first & 0x80, 0) << y;  // dot 0 is the top bit of the row's first byte
        EXPECT_NE(last & 0x01, 0) << y;   // dot 319 is the bottom bit of its last byte
    }
    // The frame is a border, not a fill: just inside it, in the middle of the left edge, the
    // row has white dots, so the set bits above are the frame's and not the byte's.
    const int y = kH / 2;
    const uint8_t first = p[static_cast<std::size_t>(y * kSamplePictureBytesPerRow)];
    const uint8_t last = p[static_cast<std::size_t>(y * kSamplePictureBytesPerRow + 39)];
    EXPECT_NE(first, 0xFF);
    EXPECT_NE(last, 0xFF);
}

TEST(SamplePicture, FrameIsMirrorSymmetric) {
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(Dot(x, y), Dot(kW - 1 - x, y)) << x << "," << y;
        }
    }
    for (int x = 0; x < kW; ++x) {
        for (int y = 0; y < 8; ++y) {
            EXPECT_EQ(Dot(x, y), Dot(x, kH - 1 - y)) << x << "," << y;
        }
    }
}

TEST(SamplePicture, IsAPictureNotAFill) {
    const std::vector<uint8_t>& p = SamplePicture();
    long black = 0;
    for (uint8_t b : p) {
        black += std::popcount(b);
    }
    const long dots = static_cast<long>(kW) * kH;
    EXPECT_GT(black, dots / 10);
    EXPECT_LT(black, dots * 7 / 10);

    // Many different rows: lettering, curves and patterns rather than a few stripes.
    std::set<std::vector<uint8_t>> rows;
    for (int y = 0; y < kH; ++y) {
        const auto begin = p.begin() + y * kSamplePictureBytesPerRow;
        rows.emplace(begin, begin + kSamplePictureBytesPerRow);
    }
    EXPECT_GT(rows.size(), 40u);

    // Ink in each quarter of the inside, so a print shows the whole width and height.
    for (int qx = 0; qx < 2; ++qx) {
        for (int qy = 0; qy < 2; ++qy) {
            int ink = 0;
            for (int y = 8 + qy * (kH - 16) / 2; y < 8 + (qy + 1) * (kH - 16) / 2; ++y) {
                for (int x = 8 + qx * (kW - 16) / 2; x < 8 + (qx + 1) * (kW - 16) / 2; ++x) {
                    ink += Dot(x, y) ? 1 : 0;
                }
            }
            EXPECT_GT(ink, 500) << qx << "," << qy;
        }
    }
}

TEST(SamplePicture, DotReaderMatchesTheBytesAndIsWhiteOutside) {
    const std::vector<uint8_t>& p = SamplePicture();
    for (int y = 0; y < kH; y += 7) {
        for (int x = 0; x < kW; ++x) {
            const bool bit = ((p[static_cast<std::size_t>(y * 40 + x / 8)] << (x % 8)) & 0x80) != 0;
            EXPECT_EQ(Dot(x, y), bit) << x << "," << y;
        }
    }
    EXPECT_FALSE(Dot(-1, 0));
    EXPECT_FALSE(Dot(0, -1));
    EXPECT_FALSE(Dot(kW, 0));
    EXPECT_FALSE(Dot(0, kH));
    const std::vector<uint8_t> tooShort(10, 0xFF);
    EXPECT_TRUE(SamplePictureDot(tooShort, 0, 0));
    EXPECT_FALSE(SamplePictureDot(tooShort, 0, 1));
}

}  // namespace
}  // namespace pellory::samples
