// The black-and-white dot matrix that the Image Print page keeps of its picture, and the
// threshold step that builds it from a decoded picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pellory::imaging {

class WorkingBitmap;

// One byte per dot, 1 = black (a dot to print), 0 = white; no other values (the encoders read
// the lowest bit). Rows run top to bottom, each row holds
// `width` bytes from left to right, all rows in one contiguous block. `rowStarts[y]` is the offset
// of row y in `dots` (always y * width). width = 0 or height = 0 means no picture was converted.
struct DotMatrix {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> dots;
    std::vector<size_t> rowStarts;

    bool empty() const { return width <= 0 || height <= 0; }
    const uint8_t* Row(int y) const { return dots.data() + rowStarts[static_cast<size_t>(y)]; }
    uint8_t* Row(int y) { return dots.data() + rowStarts[static_cast<size_t>(y)]; }
    uint8_t At(int x, int y) const { return Row(y)[x]; }

    // Sets the size, fills every dot with `value` and rebuilds the row table.
    void Reset(int newWidth, int newHeight, uint8_t value = 0);
};

// The luminance of one colour exactly as the threshold step computes it, in double precision:
// (0.587 * G + 0.299 * R) + 0.114 * B. Kept here as the single definition of the formula.
inline double Luma(uint8_t r, uint8_t g, uint8_t b) {
    return (0.587 * g + 0.299 * r) + 0.114 * b;
}

// Rebuilds `out` from `picture`: same width and height, a dot is black when
// Luma(r, g, b) <= threshold and white otherwise. Any threshold is accepted: 255 or more makes
// every dot black, a negative one every dot white. The result is bit-identical to evaluating
// Luma() for each pixel; see dot_matrix.cpp for how it is computed quickly.
void ThresholdImage(const WorkingBitmap& picture, int threshold, DotMatrix& out);

}  // namespace pellory::imaging
