#include "imaging/dot_preview.h"

#include <algorithm>
#include <vector>

namespace pellory::imaging {

QImage DotPreview(const DotMatrix& matrix, int maxSide) {
    if (matrix.empty() || maxSide <= 0) return QImage();
    const int longest = std::max(matrix.width, matrix.height);
    const int n = (longest + maxSide - 1) / maxSide;
    const int w = (matrix.width + n - 1) / n;
    const int h = (matrix.height + n - 1) / n;
    QImage image(w, h, QImage::Format_Grayscale8);
    if (image.isNull()) return image;
    std::vector<int> black(static_cast<size_t>(w));
    for (int oy = 0; oy < h; ++oy) {
        std::fill(black.begin(), black.end(), 0);
        const int y0 = oy * n;
        const int y1 = std::min(y0 + n, matrix.height);
        for (int y = y0; y < y1; ++y) {
            const uint8_t* dots = matrix.Row(y);
            for (int x = 0; x < matrix.width; ++x) black[static_cast<size_t>(x / n)] += dots[x];
        }
        uchar* out = image.scanLine(oy);
        for (int ox = 0; ox < w; ++ox) {
            const int cells = (y1 - y0) * (std::min((ox + 1) * n, matrix.width) - ox * n);
            out[ox] = static_cast<uchar>(255 - 255 * black[static_cast<size_t>(ox)] / cells);
        }
    }
    return image;
}

}  // namespace pellory::imaging
