#include "imaging/fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace pellory::imaging {

namespace {

// The source pixels that make up one output pixel along one axis, and their weights (summing to 1).
struct Span {
    int first = 0;
    std::vector<float> weights;
};

std::vector<Span> Spans(int from, int to) {
    std::vector<Span> spans(static_cast<size_t>(to));
    const double scale = static_cast<double>(from) / to;
    for (int o = 0; o < to; ++o) {
        const double a = o * scale;
        const double b = std::min((o + 1) * scale, static_cast<double>(from));
        Span& s = spans[static_cast<size_t>(o)];
        s.first = static_cast<int>(std::floor(a));
        for (int i = s.first; i < b; ++i) {
            const double w = std::min(b, i + 1.0) - std::max(a, static_cast<double>(i));
            if (w > 0) s.weights.push_back(static_cast<float>(w / (b - a)));
        }
    }
    return spans;
}

struct LightTables {
    std::array<float, 256> toLight{};
    std::array<uint8_t, 4096> toLevel{};
    LightTables() {
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            toLight[static_cast<size_t>(i)] =
                static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        for (int i = 0; i < 4096; ++i) {
            const double l = i / 4095.0;
            const double c = l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
            toLevel[static_cast<size_t>(i)] = static_cast<uint8_t>(std::lround(std::clamp(c, 0.0, 1.0) * 255));
        }
    }
    uint32_t Level(float light) const {
        return toLevel[static_cast<size_t>(std::clamp(static_cast<int>(light * 4095.0f + 0.5f), 0, 4095))];
    }
};

const LightTables& Tables() {
    static const LightTables tables;
    return tables;
}

}  // namespace

QSize FittedSize(int width, int height, int maxWidth) {
    if (maxWidth <= 0 || width <= maxWidth) return QSize(width, height);
    const auto h = static_cast<int>(std::llround(static_cast<double>(height) * maxWidth / width));
    return QSize(maxWidth, std::max(h, 1));
}

WorkingBitmap FitToWidth(const WorkingBitmap& picture, int maxWidth) {
    if (picture.empty()) return picture;
    const QSize size = FittedSize(picture.width(), picture.height(), maxWidth);
    if (size.width() == picture.width()) return picture;
    WorkingBitmap out(size.width(), size.height());
    if (out.empty()) return out;

    const LightTables& t = Tables();
    const std::vector<Span> columns = Spans(picture.width(), size.width());
    const std::vector<Span> rows = Spans(picture.height(), size.height());
    const size_t w = static_cast<size_t>(size.width());
    std::vector<float> reduced(3 * w), sum(3 * w);
    int reducedRow = -1;  // the source row that `reduced` holds
    for (int oy = 0; oy < size.height(); ++oy) {
        const Span& rs = rows[static_cast<size_t>(oy)];
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (size_t k = 0; k < rs.weights.size(); ++k) {
            const int sy = rs.first + static_cast<int>(k);
            if (sy != reducedRow) {  // a row on the border of two output rows is reduced once
                const uint32_t* in = picture.Row(sy);
                for (size_t ox = 0; ox < w; ++ox) {
                    const Span& cs = columns[ox];
                    float r = 0, g = 0, b = 0;
                    for (size_t j = 0; j < cs.weights.size(); ++j) {
                        const uint32_t p = in[cs.first + static_cast<int>(j)];
                        const float wt = cs.weights[j];
                        r += wt * t.toLight[(p >> 16) & 0xFF];
                        g += wt * t.toLight[(p >> 8) & 0xFF];
                        b += wt * t.toLight[p & 0xFF];
                    }
                    reduced[3 * ox] = r;
                    reduced[3 * ox + 1] = g;
                    reduced[3 * ox + 2] = b;
                }
                reducedRow = sy;
            }
            const float wt = rs.weights[k];
            for (size_t i = 0; i < 3 * w; ++i) sum[i] += wt * reduced[i];
        }
        uint32_t* dst = out.MutableRow(oy);
        for (size_t ox = 0; ox < w; ++ox) {
            dst[ox] = 0xff000000u | t.Level(sum[3 * ox]) << 16 | t.Level(sum[3 * ox + 1]) << 8 |
                      t.Level(sum[3 * ox + 2]);
        }
    }
    return out;
}

}  // namespace pellory::imaging
