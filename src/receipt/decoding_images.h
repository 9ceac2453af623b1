// What the decoding shows of graphics and stored pictures (GS ( L, GS 8 L, FS q, FS p, GS *,
// GS /): the function and its sizes, appended to the entry's meaning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pellory::receipt {

// d: m fn and the parameters of GS ( L or GS 8 L (n bytes of them, possibly fewer than the
// command holds when only its start is kept). ": store in the print buffer, raster, 300 x 236 dots ...".
std::string GraphicsMeaning(const uint8_t* d, size_t n);
// ": image 2, double width" (FS p n m, GS / m).
std::string ImageModeMeaning(uint8_t m);

}  // namespace pellory::receipt
