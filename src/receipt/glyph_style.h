// A character's cell as the text modes draw it: emphasis, italic, border, underline and reverse
// (white on black) on the cell, then the size of GS ! and ESC !, then the 90-degree turn of ESC V.
// The same for the built-in glyphs and the user-defined characters of ESC &.
#pragma once

#include <cstdint>

#include "receipt/glyphs.h"

namespace pellory::receipt {

struct GlyphLook {
    uint8_t style = 0;    // ESC ! bits: italic, border, emphasized, highlight (reverse), underline
    int underline = 0;    // ESC -: 0, 1 or 2 rows at the cell's foot
    int scaleX = 1;       // 1 to 8
    int scaleY = 1;       // 1 to 8
    bool turned = false;  // ESC V: turned 90 degrees clockwise after scaling, never underlined
    // Condensed (another family's ESC SI): the cell two thirds as wide (rounded up), each column of
    // it the union of the columns it takes the place of, before the other modes.
    bool condensed = false;
};

// The styled cell of `plain` (its words prepared for drawing).
Bitmap StyleGlyph(const Bitmap& plain, const GlyphLook& look);

// The picture turned 90 degrees clockwise: a w x h picture becomes h x w, its left column its top row.
Bitmap TurnQuarter(const Bitmap& b);

// Turns the dots [x0, x1) of `height` rows of `stride` bytes a half turn in place: the first row
// becomes the last, and each row reads right to left within [x0, x1). Dots outside stay.
void TurnHalf(uint8_t* rows, size_t stride, int height, int x0, int x1);

}  // namespace pellory::receipt
