// The ESC * column stripes and the GS v 0 raster block, byte for byte against plain reference
// encoders that test one dot per bit.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "imaging/bit_image.h"
#include "imaging/dot_matrix.h"
#include "imaging/picture.h"

namespace pellory::imaging {
namespace {

using Bytes = std::vector<uint8_t>;

DotMatrix MakeMatrix(int width, int height, const std::function<bool(int, int)>& black) {
    DotMatrix m;
    m.Reset(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            m.Row(y)[x] = black(x, y) ? 1 : 0;
        }
    }
    return m;
}

DotMatrix RandomMatrix(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    return MakeMatrix(width, height, [&](int, int) { return (rng() & 1) != 0; });
}

SendRows ReferenceColumns(const DotMatrix& m, uint8_t mode, int stripeHeight, int printableWidth) {
    SendRows rows;
    if (m.width == 0 || m.height == 0) {
        return rows;
    }
    const int w = std::min(m.width, printableWidth);
    for (int top = 0; top < m.height; top += stripeHeight) {
        Bytes row{0x1B, 0x2A, mode, static_cast<uint8_t>(w % 256), static_cast<uint8_t>(w / 256)};
        for (int x = 0; x < w; ++x) {
            for (int k = 0; k < stripeHeight / 8; ++k) {
                int byte = 0;
                for (int bit = 0; bit < 8; ++bit) {
                    const int y = top + 8 * k + bit;
                    if (y < m.height && m.At(x, y) == 1) {
                        byte |= 0x80 >> bit;
                    }
                }
                row.push_back(static_cast<uint8_t>(byte));
            }
        }
        rows.push_back(row);
        rows.push_back(Bytes{0x1B, 0x4A, 0x18});
    }
    return rows;
}

Bytes ReferenceRaster(const DotMatrix& m, int printableWidth) {
    const int x = (std::min(m.width, printableWidth) + 7) / 8;
    Bytes data;
    for (int y = 0; y < m.height; ++y) {
        for (int j = 0; j < x; ++j) {
            int byte = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const int column = 8 * j + bit;
                if (column < m.width && m.At(column, y) == 1) {
                    byte |= 0x80 >> bit;
                }
            }
            data.push_back(static_cast<uint8_t>(byte));
        }
    }
    return data;
}

TEST(BitImage, ModeTables) {
    const char* vertical[] = {"8-dot single-density", "8-dot double-density",
                              "24-dot single-density", "24-dot double-density"};
    const uint8_t m[] = {0x00, 0x01, 0x20, 0x21};
    const char* horizontal[] = {"Normal", "Double-width", "Double-height", "Quadruple"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_STREQ(kColumnModes[i].label, vertical[i]);
        EXPECT_EQ(kColumnModes[i].m, m[i]);
        EXPECT_EQ(kColumnModes[i].dotsPerStripe, i < 2 ? 8 : 24);
        EXPECT_EQ(kColumnModes[i].bytesPerColumn * 8, kColumnModes[i].dotsPerStripe);
        EXPECT_STREQ(kRasterModes[i].label, horizontal[i]);
        EXPECT_EQ(kRasterModes[i].m, i);
    }
    EXPECT_STREQ(kColumnModes[kDefaultColumnMode].label, "24-dot double-density");
    EXPECT_STREQ(kRasterModes[kDefaultRasterMode].label, "Normal");
}

TEST(BitImage, RandomPicturesMatchTheReferenceInBothOrientations) {
    unsigned seed = 1;
    for (int width : {1, 7, 8, 9, 10, 383, 384, 385, 571, 572, 573, 575, 576, 600}) {
        for (int height : {1, 7, 8, 9, 23, 24, 25, 30, 50}) {
            const DotMatrix m = RandomMatrix(width, height, seed++);
            for (int printable : {384, 572}) {
                for (int mode = 0; mode < 4; ++mode) {
                    const ColumnMode& cm = kColumnModes[static_cast<size_t>(mode)];
                    ASSERT_EQ(EncodeColumnStripes(m, mode, printable),
                              ReferenceColumns(m, cm.m, cm.dotsPerStripe, printable))
                        << width << "x" << height << " at " << printable << " mode " << mode;
                }
                const RasterImage raster = EncodeRaster(m, printable);
                EXPECT_EQ(raster.bytesPerRow, (std::min(width, printable) + 7) / 8);
                EXPECT_EQ(raster.rows, height);
                ASSERT_EQ(raster.data, ReferenceRaster(m, printable))
                    << width << "x" << height << " at " << printable;
            }
        }
    }
}

TEST(BitImage, OneRowPictureIn24DotModeUsesOnlyTheTopBit) {
    const DotMatrix m = MakeMatrix(5, 1, [](int, int) { return true; });
    const SendRows rows = EncodeColumnStripes(m, 3, 384);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (Bytes{0x1B, 0x2A, 0x21, 5, 0, 0x80, 0, 0, 0x80, 0, 0, 0x80, 0, 0, 0x80, 0, 0,
                              0x80, 0, 0}));
    EXPECT_EQ(rows[1], (Bytes{0x1B, 0x4A, 0x18}));
}

TEST(BitImage, WidePictureIsCutAtThePrintableWidth) {
    // 600 columns; black exactly in columns 568..575 of every row except 572..575 of row 1.
    const DotMatrix m = MakeMatrix(600, 30, [](int x, int y) {
        return x >= 568 && x < 576 && !(y == 1 && x >= 572);
    });
    const SendRows narrow = EncodeColumnStripes(m, 0, 384);
    ASSERT_EQ(narrow.size(), 8u);
    for (size_t i = 0; i < narrow.size(); i += 2) {
        EXPECT_EQ(Bytes(narrow[i].begin(), narrow[i].begin() + 5), (Bytes{0x1B, 0x2A, 0, 0x80, 0x01}));
        EXPECT_EQ(narrow[i].size(), 5u + 384u);
    }
    const SendRows wide = EncodeColumnStripes(m, 2, 572);
    ASSERT_EQ(wide.size(), 4u);
    EXPECT_EQ(Bytes(wide[0].begin(), wide[0].begin() + 5), (Bytes{0x1B, 0x2A, 0x20, 0x3C, 0x02}));
    EXPECT_EQ(wide[0].size(), 5u + 572u * 3u);

    const RasterImage r384 = EncodeRaster(m, 384);
    EXPECT_EQ(r384.bytesPerRow, 48);  // xL = 0x30, xH = 0
    const RasterImage r572 = EncodeRaster(m, 572);
    ASSERT_EQ(r572.bytesPerRow, 72);
    // The last byte carries the picture's own columns 568..575, including 572..575.
    EXPECT_EQ(r572.data[71], 0xFF);
    EXPECT_EQ(r572.data[72 + 71], 0xF0);
    EXPECT_EQ(r572.data[2 * 72 + 71], 0xFF);
}

TEST(BitImage, NarrowRasterPadsColumnsBeyondThePicture) {
    const DotMatrix m = MakeMatrix(10, 2, [](int, int) { return true; });
    const RasterImage r = EncodeRaster(m, 384);
    EXPECT_EQ(r.bytesPerRow, 2);
    EXPECT_EQ(r.data, (Bytes{0xFF, 0xC0, 0xFF, 0xC0}));
}

TEST(BitImage, ThirtyRowsGiveFourOrTwoStripesWithWhiteRowsBelow) {
    const DotMatrix m = MakeMatrix(3, 30, [](int, int) { return true; });
    const SendRows eight = EncodeColumnStripes(m, 1, 384);
    ASSERT_EQ(eight.size(), 8u);  // 4 stripes, two history rows each
    EXPECT_EQ(eight[6], (Bytes{0x1B, 0x2A, 0x01, 3, 0, 0xFC, 0xFC, 0xFC}));  // rows 30, 31 white
    const SendRows twentyFour = EncodeColumnStripes(m, 2, 384);
    ASSERT_EQ(twentyFour.size(), 4u);
    EXPECT_EQ(twentyFour[2],
              (Bytes{0x1B, 0x2A, 0x20, 3, 0, 0xFC, 0, 0, 0xFC, 0, 0, 0xFC, 0, 0}));
}

TEST(BitImage, ThresholdExtremesGiveSolidOrBlankStripes) {
    WorkingBitmap white(4, 9);
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 4; ++x) {
            white.SetPixel(x, y, Rgb{255, 255, 255});
        }
    }
    DotMatrix m;
    ThresholdImage(white, 255, m);
    const SendRows solid = EncodeColumnStripes(m, 0, 384);
    ASSERT_EQ(solid.size(), 4u);
    EXPECT_EQ(solid[0], (Bytes{0x1B, 0x2A, 0, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(solid[2], (Bytes{0x1B, 0x2A, 0, 4, 0, 0x80, 0x80, 0x80, 0x80}));

    ThresholdImage(white, -7, m);
    const SendRows blank = EncodeColumnStripes(m, 0, 384);
    ASSERT_EQ(blank.size(), 4u);  // the paper still feeds once per stripe
    EXPECT_EQ(blank[2], (Bytes{0x1B, 0x2A, 0, 4, 0, 0, 0, 0, 0}));
    EXPECT_EQ(blank[3], (Bytes{0x1B, 0x4A, 0x18}));
}

TEST(BitImage, NothingToSendWithoutAPictureOrAValidMode) {
    DotMatrix none;
    EXPECT_TRUE(EncodeColumnStripes(none, 0, 384).empty());
    EXPECT_TRUE(EncodeRaster(none, 384).empty());
    none.Reset(10, 0);
    EXPECT_TRUE(EncodeColumnStripes(none, 0, 384).empty());
    EXPECT_TRUE(EncodeRaster(none, 384).empty());
    const DotMatrix m = RandomMatrix(10, 10, 7);
    EXPECT_TRUE(EncodeColumnStripes(m, 4, 384).empty());
    EXPECT_TRUE(EncodeColumnStripes(m, -1, 384).empty());
    EXPECT_TRUE(RasterCommands(EncodeRaster(m, 384), 4).empty());
}

TEST(BitImage, RasterCommandsCarryHeaderFieldsAndData) {
    const DotMatrix m = RandomMatrix(300, 226, 11);
    const RasterImage r = EncodeRaster(m, 572);
    const auto commands = RasterCommands(r, 3);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].m, 3);
    EXPECT_EQ(commands[0].xL, 38);  // (300 + 7) / 8
    EXPECT_EQ(commands[0].xH, 0);
    EXPECT_EQ(commands[0].yL, 226);
    EXPECT_EQ(commands[0].yH, 0);
    EXPECT_EQ(Bytes(commands[0].data, commands[0].data + commands[0].size), ReferenceRaster(m, 572));
}

TEST(BitImage, TallRasterIsSplitIntoCommandsOfAtMost65535Rows) {
    EXPECT_TRUE(SplitRasterBands(0).empty());
    EXPECT_EQ(SplitRasterBands(65535), (std::vector<RasterBand>{{0, 65535}}));
    EXPECT_EQ(SplitRasterBands(65536), (std::vector<RasterBand>{{0, 65535}, {65535, 1}}));
    EXPECT_EQ(SplitRasterBands(131071),
              (std::vector<RasterBand>{{0, 65535}, {65535, 65535}, {131070, 1}}));

    // One column, 70000 rows, black on every row divisible by 3.
    const DotMatrix m = MakeMatrix(1, 70000, [](int, int y) { return y % 3 == 0; });
    const RasterImage r = EncodeRaster(m, 384);
    ASSERT_EQ(r.bytesPerRow, 1);
    ASSERT_EQ(r.rows, 70000);
    const auto commands = RasterCommands(r, 0);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].yL, 0xFF);
    EXPECT_EQ(commands[0].yH, 0xFF);
    EXPECT_EQ(commands[0].size, 65535u);
    EXPECT_EQ(commands[1].yL, 0x71);  // 4465 = 0x1171 rows
    EXPECT_EQ(commands[1].yH, 0x11);
    EXPECT_EQ(commands[1].size, 4465u);
    for (const auto& c : commands) {
        EXPECT_EQ(c.xL, 1);
        EXPECT_EQ(c.xH, 0);
    }
    // The second command starts at row 65535 (divisible by 3: black), then 65536 and 65537.
    EXPECT_EQ(commands[1].data[0], 0x80);
    EXPECT_EQ(commands[1].data[1], 0x00);
    EXPECT_EQ(commands[1].data[2], 0x00);
    EXPECT_EQ(commands[1].data[3], 0x80);
    Bytes joined(commands[0].data, commands[0].data + commands[0].size);
    joined.insert(joined.end(), commands[1].data, commands[1].data + commands[1].size);
    EXPECT_EQ(joined, ReferenceRaster(m, 384));
}

}  // namespace
}  // namespace pellory::imaging
