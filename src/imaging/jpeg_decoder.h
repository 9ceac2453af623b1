// JPEG decoding with libjpeg-turbo: straight into the working bitmap's pixel layout, optionally at
// a reduced size (the decoder's DCT scaling), and strict: any warning of corrupt or missing data
// fails the decode with the decoder's own words, and the memory the decoder may take is bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <QImage>

namespace pellory::imaging {

struct JpegLimits {
    int64_t maxSide = 0;         // largest width or height the file may announce
    int64_t maxDots = 0;         // largest width x height the file may announce
    size_t memoryBytes = 0;      // for the decoded picture and the decoder's own buffers together
    size_t outputBytesPerDot = 4;  // what each decoded dot will take (4: the picture alone)
};

// Decodes the JPEG in data[0 .. size) into `out` (Format_RGB32). When reduceToWidth > 0, the
// picture is decoded at the smallest of the scales 1/8, 2/8 .. 8/8 that keeps it at least that
// wide. Fails, with a one-line reason, when the file announces a size beyond the limits, when
// decoding it would need more memory than allowed, or when the decoder reports an error or a
// warning about the data (a cut-short or damaged file).
bool DecodeJpeg(const uint8_t* data, size_t size, int reduceToWidth, const JpegLimits& limits, QImage& out,
                std::string& error);

}  // namespace pellory::imaging
