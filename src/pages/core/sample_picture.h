// The picture printed by the "Image" test of the "Printer Test" page.
//
// A monochrome raster of 320 x 226 dots in the layout of the printer's raster image command:
// 226 rows from top to bottom, 40 bytes per row, the most significant bit of each byte is the
// leftmost dot, a set bit prints black. It shows a frame, the word "PELLORY" in large block
// letters, a row of circles, a checker strip, a grey ramp dithered from white to black and a
// caption, so that one print shows edges, curves, fine alternation and density at once.
#pragma once

#include <cstdint>
#include <vector>

namespace pellory::samples {

inline constexpr int kSamplePictureWidth = 320;
inline constexpr int kSamplePictureHeight = 226;
inline constexpr int kSamplePictureBytesPerRow = kSamplePictureWidth / 8;
inline constexpr int kSamplePictureBytes = kSamplePictureBytesPerRow * kSamplePictureHeight;  // 9040

// The picture's 9040 bytes; drawn on the first call (thread-safe), the same object afterwards.
const std::vector<uint8_t>& SamplePicture();

// Whether the dot at column x, row y of a picture in the layout above is black. Dots outside
// the picture read as white.
bool SamplePictureDot(const std::vector<uint8_t>& picture, int x, int y);

}  // namespace pellory::samples
