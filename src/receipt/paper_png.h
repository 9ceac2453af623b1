// The paper as a PNG, written row by row as it is made: one pixel per dot, printed dots pure
// black (pure red in rows printed in the second colour, ESC r), all else white, a cut a dashed
// mid-grey line. A picture with a cut or red in it has a palette of these colours (white, grey,
// black, and red where there is red), two bits a pixel; one without (a receipt from cut to cut,
// in black) a palette of white and black, one bit a pixel: the paper's rows as they are, half the
// data to compress.
// Nothing but some 16 KB of rows being compressed is held besides the paper itself. Free of Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "receipt/paper.h"

namespace pellory::receipt {

// Takes the next bytes of a file being written; false when they could not be written, which
// ends the writing.
using ByteSink = std::function<bool(const uint8_t* data, size_t n)>;

// Writes rows [fromRow, toRow) of the paper (limited to the kept rows; one white row when none)
// as a PNG to sink. False when the sink refused bytes. compression: zlib's level, 1 (fastest, some
// twice the size) to 9; -1 its default (6).
bool WritePaperPng(const Paper& paper, int64_t fromRow, int64_t toRow, const ByteSink& sink, int compression = -1);
// The level of the pictures of render and --receipt: on receipts some three times as fast as the
// default, the files some 1.3 times the size (up to twice for a roll of one receipt repeated).
inline constexpr int kRenderCompression = 3;

// The grey of a cut's dashes, and their length: 8 dots grey, 8 dots gap.
inline constexpr uint8_t kCutGreyLevel = 128;
inline constexpr int kCutDash = 8;

}  // namespace pellory::receipt
