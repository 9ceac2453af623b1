// The paper as a picture: PNG (one pixel per dot, printed dots pure black, all else white, cuts as
// a dashed mid-grey line) or PDF at the real paper size. Qt Gui only; no widgets.
#pragma once

#include <QImage>
#include <string>

#include "receipt/paper.h"

namespace pellory::receipt {

inline constexpr QRgb kCutGrey = qRgb(128, 128, 128);

// Kept rows from the oldest to the last the stream reached. With `shaded`, ink shows the
// density it was printed with (lighter for low levels, level 8 black), as the live view shows it.
QImage PaperImage(const Paper& paper, bool shaded = false);
// Rows [fromRow, toRow) only (limited to the kept rows; a null image when none).
QImage PaperImage(const Paper& paper, bool shaded, int64_t fromRow, int64_t toRow);

// Grey level of ink printed at a density level 1..8 (level 8: 0, black).
int InkGrey(uint8_t density);

// Writes the paper to path: PDF when the name ends in ".pdf" (any letter case), else PNG.
// False with error set when the file cannot be written.
bool SavePaper(const Paper& paper, const std::string& path, std::string* error = nullptr);

// Width of the roll in mm for a print head of widthDots (58 mm for 384 dots, 80 mm for 576).
double PaperWidthMm(int widthDots);

}  // namespace pellory::receipt
