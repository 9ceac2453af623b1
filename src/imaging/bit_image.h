// The two byte encodings of a dot matrix for the printer: column stripes for the bit-image
// command ESC * ("Vertical") and one raster block for GS v 0 ("Horizontal"). Pure functions:
// they only build bytes; the Image Print page sends them and records the history rows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/dot_matrix.h"
#include "protocol/control_bytes.h"

namespace pellory::imaging {

// One entry of the "Vertical" mode list: ESC * m with stripes of `dotsPerStripe` rows.
struct ColumnMode {
    const char* label;
    uint8_t m;
    int dotsPerStripe;   // 8 or 24
    int bytesPerColumn;  // dotsPerStripe / 8
};

// One entry of the "Horizontal" mode list: GS v 0 m.
struct RasterMode {
    const char* label;
    uint8_t m;
};

// The mode lists in list order; the list position is the mode index.
inline constexpr std::array<ColumnMode, 4> kColumnModes{{
    {"8-dot single-density", 0x00, 8, 1},
    {"8-dot double-density", 0x01, 8, 1},
    {"24-dot single-density", 0x20, 24, 3},
    {"24-dot double-density", 0x21, 24, 3},
}};
inline constexpr std::array<RasterMode, 4> kRasterModes{{
    {"Normal", 0},
    {"Double-width", 1},
    {"Double-height", 2},
    {"Quadruple", 3},
}};
// The entry selected whenever a list is (re)filled.
inline constexpr int kDefaultColumnMode = 3;  // "24-dot double-density"
inline constexpr int kDefaultRasterMode = 0;  // "Normal"

// Bytes that go out as one row of the command history each, in send order.
using SendRows = std::vector<std::vector<uint8_t>>;

// The paper feed sent after every stripe: ESC J 24.
inline constexpr std::array<uint8_t, 3> kStripeFeed{protocol::kEsc, 'J', 24};

// "Vertical" printing. With h the mode's stripe height, b = h / 8 and w = min(W, printableWidth)
// (capped at 65535, the largest count the header can carry), the result holds two rows per
// stripe, stripes from the top:
//   [1B 2A m nL nH, then w * b data bytes]   (nL nH = w, little-endian)
//   [1B 4A 18]
// Stripe s covers matrix rows s*h .. s*h+h-1. Its data runs column by column from the left; the
// b bytes of a column run top to bottom, each with its top row in bit 7. Rows at H and below are 0.
// Nothing (an empty list) when W, H or w is 0, or when modeIndex is not 0..3.
SendRows EncodeColumnStripes(const DotMatrix& matrix, int modeIndex, int printableWidth);

// "Horizontal" printing: the raster data of GS v 0 without its header.
struct RasterImage {
    int bytesPerRow = 0;  // X = (min(W, printableWidth) + 7) / 8
    int rows = 0;         // H
    std::vector<uint8_t> data;  // X * H bytes, rows top to bottom
    bool empty() const { return bytesPerRow == 0 || rows == 0; }
};

// Packs each matrix row into X bytes, leftmost column in bit 7. A bit is 1 when its column is
// inside the picture (column < W, not < printableWidth) and the dot is black, so a picture wider
// than a printable width that is not a multiple of 8 keeps its own dots in the last byte
// (columns 572..575 at width 572). printableWidth is capped at 8 * 65535. Empty when W, H or X is 0.
RasterImage EncodeRaster(const DotMatrix& matrix, int printableWidth);

// GS v 0 carries the row count in 16 bits, so taller pictures are sent as several commands of at
// most 65535 rows each, one after the other, each its own history row. A band is a run of rows.
inline constexpr int kMaxRasterRows = 65535;
struct RasterBand {
    int firstRow = 0;
    int rows = 0;
    friend bool operator==(const RasterBand&, const RasterBand&) = default;
};
// Bands covering rows 0 .. height-1 in order; none for height <= 0.
std::vector<RasterBand> SplitRasterBands(int height, int maxRows = kMaxRasterRows);

// Everything one raster-image command needs: its header fields (GS v 0 m xL xH yL yH) and a
// pointer to its data, which stays valid as long as the RasterImage it came from.
struct RasterCommand {
    uint8_t m = 0, xL = 0, xH = 0, yL = 0, yH = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;  // (xL + 256 xH) * (yL + 256 yH)
};
// The commands that send `image` in mode `modeIndex`, one per band. None when the image is empty
// or modeIndex is not 0..3.
std::vector<RasterCommand> RasterCommands(const RasterImage& image, int modeIndex);

}  // namespace pellory::imaging
