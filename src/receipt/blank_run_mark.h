// The mark a long run of blank paper is drawn with when it is drawn short (the printer server's
// pictures, Interpreter::shortenBlankRuns): a dashed line, the run's length as text in Font3
// ("1,250 mm of blank paper", "52,593.8 m of blank paper") centred below it, and a dashed line
// again, as wide as the paper.
#pragma once

#include <cstdint>
#include <string>

#include "receipt/glyphs.h"

namespace pellory::receipt {

// The mark's height in dots: two dashed lines of 2 rows, the text line of 16 between them, 8 rows
// apart.
inline constexpr int kBlankRunMarkRows = 36;

// The length of a run of `rows` dots (8 per mm) as the mark says it: whole millimetres below a
// metre, metres with one decimal from there on, the digits grouped by commas.
std::string BlankRunText(int64_t rows);

// The mark of a run of `rows` dots, widthDots wide (text wider than that is cut at the right).
Bitmap BlankRunMark(int widthDots, int64_t rows);

}  // namespace pellory::receipt
