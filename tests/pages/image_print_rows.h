// Expected command-history rows of the "Image Print" page for a tiny picture, written out by hand
// from the printer's bit-image commands, for the page tests and the command-line tests.
//
// The picture is 8 dots wide and 1 dot high, black and white in turn from the left:
// columns 0, 2, 4 and 6 black, 1, 3, 5 and 7 white.
#pragma once

#include <string>
#include <vector>

namespace pellory::test::image_rows {

inline constexpr int kPatternWidth = 8;
inline constexpr int kPatternHeight = 1;

// "Vertical", "24-dot double-density" (ESC * 33, 8 columns): per column three bytes, top row in
// bit 7 of the first; the 23 rows below the picture are white. Then the paper feed ESC J 24.
inline const std::vector<std::string> kPatternColumn24Double = {
    "1B 2A 21 08 00 80 00 00 00 00 00 80 00 00 00 00 00 80 00 00 00 00 00 80 00 00 00 00 00 ",
    "1B 4A 18 ",
};

// "Vertical", "8-dot single-density" (ESC * 0): one byte per column.
inline const std::vector<std::string> kPatternColumn8Single = {
    "1B 2A 00 08 00 80 00 80 00 80 00 80 00 ",
    "1B 4A 18 ",
};

// "Horizontal", "Normal" (GS v 0 0, 1 byte per row, 1 row): the row packs into 10101010.
inline const std::vector<std::string> kPatternRasterNormal = {
    "1D 76 30 00 01 00 01 00 AA ",
};

// "Horizontal", "Quadruple" (GS v 0 3).
inline const std::vector<std::string> kPatternRasterQuadruple = {
    "1D 76 30 03 01 00 01 00 AA ",
};

}  // namespace pellory::test::image_rows
