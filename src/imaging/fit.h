// Fitting a picture to the paper: a picture wider than the printable width is scaled down to it,
// keeping its aspect ratio, by area averaging (each new pixel is the mean of the source area it
// covers, weighted by how much of each source pixel lies inside), done in linear light so that
// fine black-and-white detail keeps its overall brightness. Narrower pictures stay as they are.
#pragma once

#include <QSize>

#include "imaging/picture.h"

namespace pellory::imaging {

// The size of a width x height picture fitted to maxWidth: unchanged when it is not wider (or
// maxWidth is not positive); otherwise maxWidth wide and height * maxWidth / width high, rounded
// to the nearest row and at least 1.
QSize FittedSize(int width, int height, int maxWidth);

// The picture fitted to maxWidth (the same picture, shared, when it already fits). Empty when
// the memory for the result cannot be had.
WorkingBitmap FitToWidth(const WorkingBitmap& picture, int maxWidth);

}  // namespace pellory::imaging
