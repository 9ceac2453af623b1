// Dithering: a picture's grey levels as a pattern of black and white dots whose share of black
// follows the picture's darkness, instead of the plain threshold's all-or-nothing.
//
// The threshold keeps its meaning: a grey of that level prints as half the dots black. Each
// pixel's grey (the same luma the threshold uses) is turned into its light (linear, undoing the
// sRGB transfer curve of the file), and the light is mapped, linearly on each side, so that the
// threshold's light becomes one half: darker than it, the share of white dots rises from 0 (black)
// to 1/2; lighter, from 1/2 to 1 (white). The dither methods then place the dots so that each
// area's share of white follows that value. Every method is deterministic: the same picture
// and threshold give the same dots.
#pragma once

#include <cstdint>

#include "imaging/dot_matrix.h"

namespace pellory::imaging {

class WorkingBitmap;

enum class DitherMethod {
    None,            // the plain threshold (ThresholdImage)
    FloydSteinberg,  // error diffusion to 4 neighbours (7/16, 3/16, 5/16, 1/16), rows in turn
    Atkinson,        // error diffusion of 3/4 of the error to 6 neighbours, 1/8 each
    Ordered8x8,      // an 8 x 8 Bayer matrix of 64 levels
};

// The share of white dots (0 .. 1) that a grey level (0 .. 255, the luma) gets at a threshold
// between 1 and 254. Used by the methods above; exposed for the tests and for the preview.
double WhiteShare(double grey, int threshold);

// Rebuilds `out` from `picture` with the method. With DitherMethod::None, or a threshold of 0 or
// less or of 255 or more (where every dot takes one colour, or only pure black prints), this is
// exactly ThresholdImage.
void DitherImage(const WorkingBitmap& picture, int threshold, DitherMethod method, DotMatrix& out);

}  // namespace pellory::imaging
