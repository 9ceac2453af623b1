// Pictures of the tests' own and the streams that print them in each form the printer has (GS v 0,
// GS ( L and GS 8 L graphics, ESC *, NV and downloaded graphics, FS q / FS p, GS * / GS /).
#pragma once

#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "receipt_test_support.h"

namespace pellory::receipt::test {

// A picture of the test's own: one bool per dot.
struct Picture {
    int w = 0, h = 0;
    std::vector<bool> dots;
    bool at(int x, int y) const { return dots[static_cast<size_t>(y * w + x)]; }
};

inline Picture RandomPicture(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    Picture p{w, h, std::vector<bool>(static_cast<size_t>(w * h))};
    for (size_t i = 0; i < p.dots.size(); ++i) p.dots[i] = rng() & 1;
    return p;
}

inline Bytes Le16(size_t v) { return B({static_cast<int>(v & 0xFF), static_cast<int>(v >> 8 & 0xFF)}); }
inline Bytes Le32(size_t v) { return Cat({Le16(v & 0xFFFF), Le16(v >> 16)}); }

// Rows of (w + 7) / 8 bytes, the leftmost dot in the top bit.
inline Bytes RasterData(const Picture& p) {
    const int stride = (p.w + 7) / 8;
    Bytes b(static_cast<size_t>(stride * p.h), 0);
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            if (p.at(x, y)) b[static_cast<size_t>(y * stride + x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
    return b;
}

// Columns of (h + 7) / 8 bytes, the top dot in the top bit.
inline Bytes ColumnData(const Picture& p) {
    const int perColumn = (p.h + 7) / 8;
    Bytes b(static_cast<size_t>(perColumn * p.w), 0);
    for (int x = 0; x < p.w; ++x)
        for (int y = 0; y < p.h; ++y)
            if (p.at(x, y)) b[static_cast<size_t>(x * perColumn + y / 8)] |= static_cast<uint8_t>(0x80 >> (y % 8));
    return b;
}

inline Bytes GsL(const Bytes& body) { return Cat({B({0x1D, 0x28, 0x4C}), Le16(body.size()), body}); }
inline Bytes Gs8L(const Bytes& body) { return Cat({B({0x1D, 0x38, 0x4C}), Le32(body.size()), body}); }
inline const Bytes kPrintBuffer = GsL(B({0x30, 0x32}));

// m fn a bx by c xL xH yL yH and the data: the print buffer's graphics.
inline Bytes BufferBody(bool raster, const Picture& p, int sx, int sy, int colour = 49) {
    return Cat({B({0x30, raster ? 112 : 113, 0x30, sx, sy, colour}), Le16(p.w), Le16(p.h),
                raster ? RasterData(p) : ColumnData(p)});
}
// m fn a kc1 kc2 b xL xH yL yH c d...: a stored definition of one colour.
inline Bytes DefineBody(int fn, const std::string& key, const Picture& p) {
    const bool raster = fn == 67 || fn == 83;
    return Cat({B({0x30, fn, 0x30, key[0], key[1], 1}), Le16(p.w), Le16(p.h), B({49}),
                raster ? RasterData(p) : ColumnData(p)});
}
inline Bytes PrintKey(int fn, const std::string& key, int sx = 1, int sy = 1) {
    return GsL(B({0x30, fn, key[0], key[1], sx, sy}));
}

// The modes of FS p, GS / and GS v 0: bit 0 doubles the width, bit 1 the height.
inline int Mode(int sx, int sy) { return (sx == 2 ? 1 : 0) | (sy == 2 ? 2 : 0); }

struct Form {
    const char* name;
    // The stream that prints the picture at scale sx, sy; nothing where the form cannot.
    std::function<std::optional<Bytes>(const Picture&, int sx, int sy)> encode;
};

inline bool Fits16(size_t n) { return n <= 0xFFFF; }

inline std::vector<Form> Forms() {
    return {
        {"GS v 0",
         [](const Picture& p, int sx, int sy) -> std::optional<Bytes> {
             if (p.w % 8) return std::nullopt;
             return Cat({B({0x1D, 0x76, 0x30, Mode(sx, sy)}), Le16(p.w / 8), Le16(p.h), RasterData(p)});
         }},
        {"GS ( L raster",
         [](const Picture& p, int sx, int sy) -> std::optional<Bytes> {
             const Bytes body = BufferBody(true, p, sx, sy);
             if (!Fits16(body.size())) return std::nullopt;
             return Cat({GsL(body), kPrintBuffer});
         }},
        {"GS ( L column",
         [](const Picture& p, int sx, int sy) -> std::optional<Bytes> {
             const Bytes body = BufferBody(false, p, sx, sy);
             if (!Fits16(body.size())) return std::nullopt;
             return Cat({GsL(body), kPrintBuffer});
         }},
        {"GS 8 L raster",
         [](const Picture& p, int sx, int sy) -> std::optional<Bytes> {
             return Cat({Gs8L(BufferBody(true, p, sx, sy)), GsL(B({0x30, 0x02}))});
         }},
        {"ESC *",
         [](const Picture& p, int sx, int sy) -> std::optional<Bytes> {
             if (p.h != 24 || sx != 1 || sy != 1) return std::nullopt;
             return Cat({B({0x1B, 0x2A, 33}), Le16(p.w), ColumnData(p), B({0x1B, 0x4A, 24})});
         }},
        {"NV graphics, raster",
         [](const Picture& p, int sx, int sy) -> std::optional<Bytes> {
             const Bytes body = DefineBody(67, "G1", p);
             if (!Fits16(body.size())) return std::nullopt;
             return Cat({GsL(body), PrintKey(69, "G1", sx, sy)});
         }},
        {"NV graphics, column",
         [](const Picture& p, int sx, int sy) -> std::optional<Bytes> {
             const Bytes body = DefineBody(68, "G2", p);
             if (!Fits16(body.size())) return std::nullopt;
             return Cat({GsL(body), PrintKey(69, "G2", sx, sy)});
         }},
        {"downloaded graphics",
         [](const Picture& p, int sx, int sy) -> std::optional<Bytes> {
             const Bytes body = DefineBody(83, "D1", p);
             if (!Fits16(body.size())) return std::nullopt;
             return Cat({GsL(body), PrintKey(85, "D1", sx, sy)});
         }},
        {"FS q / FS p",
         [](const Picture& p, int sx, int sy) -> std::optional<Bytes> {
             if (p.w % 8 || p.h % 8 || !Fits16(p.w * p.h / 8)) return std::nullopt;
             return Cat(
                 {B({0x1C, 0x71, 1}), Le16(p.w / 8), Le16(p.h / 8), ColumnData(p), B({0x1C, 0x70, 1, Mode(sx, sy)})});
         }},
        {"GS * / GS /",
         [](const Picture& p, int sx, int sy) -> std::optional<Bytes> {
             if (p.w % 8 || p.h % 8 || p.h > 48 * 8 || p.w / 8 * p.h / 8 > 1536) return std::nullopt;
             return Cat({B({0x1D, 0x2A, p.w / 8, p.h / 8}), ColumnData(p), B({0x1D, 0x2F, 48 + Mode(sx, sy)})});
         }},
    };
}

}  // namespace pellory::receipt::test
