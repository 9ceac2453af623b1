// Run-length-compressed BMP files (RLE8 and RLE4), decoded here rather than by Qt: an RLE stream
// may skip pixels (end-of-line, delta and an early end of the picture), and those pixels must
// have a defined colour. Skipped pixels are white. A stream that runs out before its end-of-picture
// code, with rows still to fill, is refused as cut short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <QImage>

namespace pellory::imaging {

// Whether the bytes are a BMP file whose pixel data is RLE8 or RLE4.
bool IsRleBmp(const uint8_t* data, size_t size);

// Decodes such a file into `out` (Format_RGB32). The caller has already checked the announced
// size against the limits. Fails with a one-line reason in `error` (the file is cut short, the
// palette or pixel data lies outside the file, the header is malformed).
bool DecodeRleBmp(const uint8_t* data, size_t size, QImage& out, std::string& error);

}  // namespace pellory::imaging
