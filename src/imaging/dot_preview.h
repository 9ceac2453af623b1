// A picture of a dot matrix for the preview box: what will print, black on white, reduced by
// averaging blocks of dots when the matrix is larger than the preview needs.
#pragma once

#include <QImage>

#include "imaging/dot_matrix.h"

namespace pellory::imaging {

// A grey picture (Format_Grayscale8) of the matrix: one pixel per dot (0 black, 255 white) when
// neither side exceeds maxSide; otherwise each pixel is the mean of an n x n block of dots, with
// the smallest n that brings both sides within maxSide. Null for an empty matrix.
QImage DotPreview(const DotMatrix& matrix, int maxSide);

}  // namespace pellory::imaging
