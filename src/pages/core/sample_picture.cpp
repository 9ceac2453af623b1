#include "pages/core/sample_picture.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace pellory::samples {
namespace {

constexpr int kW = kSamplePictureWidth;
constexpr int kH = kSamplePictureHeight;

// A 5 x 7 block font with just the characters the picture writes; '#' is a dot.
struct Glyph {
    char ch;
    std::array<std::string_view, 7> rows;
};

constexpr std::array<Glyph, 16> kFont{{
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'Y', {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'N', {"#...#", "##..#", "#.#.#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {' ', {".....", ".....", ".....", ".....", ".....", ".....", "....."}},
}};

constexpr int kGlyphW = 5;
constexpr int kGlyphH = 7;

const Glyph* FindGlyph(char c) {
    for (const Glyph& g : kFont) {
        if (g.ch == c) {
            return &g;
        }
    }
    return nullptr;
}

class Canvas {
public:
    Canvas() : bytes_(static_cast<std::size_t>(kSamplePictureBytes), 0) {}

    void Set(int x, int y) {
        if (x < 0 || y < 0 || x >= kW || y >= kH) {
            return;
        }
        bytes_[static_cast<std::size_t>(y * kSamplePictureBytesPerRow + x / 8)] |=
            static_cast<uint8_t>(0x80u >> (x % 8));
    }

    void FillRect(int x0, int y0, int x1, int y1) {  // inclusive corners
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                Set(x, y);
            }
        }
    }

    // A rectangle outline `thickness` dots wide, drawn inwards from the given corners.
    void Frame(int x0, int y0, int x1, int y1, int thickness) {
        FillRect(x0, y0, x1, y0 + thickness - 1);
        FillRect(x0, y1 - thickness + 1, x1, y1);
        FillRect(x0, y0, x0 + thickness - 1, y1);
        FillRect(x1 - thickness + 1, y0, x1, y1);
    }

    // Dots whose distance from (cx, cy) lies in about [inner, outer]; inner 0 gives a disc.
    void Ring(int cx, int cy, int outer, int inner) {
        for (int y = cy - outer; y <= cy + outer; ++y) {
            for (int x = cx - outer; x <= cx + outer; ++x) {
                const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                // Comparing with r * r + r (about (r + 0.5)^2) avoids single-dot spikes at the
                // four extremes of the circle.
                if (d2 <= outer * outer + outer && (inner == 0 || d2 >= inner * inner - inner)) {
                    Set(x, y);
                }
            }
        }
    }

    // Writes text with every font dot drawn as a scale x scale block; characters advance by
    // (5 + 1) * scale. Returns the width of the text in dots.
    int Text(int x, int y, std::string_view text, int scale) {
        int pen = x;
        for (char c : text) {
            if (const Glyph* g = FindGlyph(c)) {
                for (int row = 0; row < kGlyphH; ++row) {
                    for (int col = 0; col < kGlyphW; ++col) {
                        if (g->rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] ==
                            '#') {
                            FillRect(pen + col * scale, y + row * scale, pen + col * scale + scale - 1,
                                     y + row * scale + scale - 1);
                        }
                    }
                }
            }
            pen += (kGlyphW + 1) * scale;
        }
        return TextWidth(text, scale);
    }

    static int TextWidth(std::string_view text, int scale) {
        if (text.empty()) {
            return 0;
        }
        return static_cast<int>(text.size()) * (kGlyphW + 1) * scale - scale;
    }

    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

std::vector<uint8_t> Draw() {
    Canvas c;

    // Frame: a heavy outer border and a thin inner line.
    c.Frame(0, 0, kW - 1, kH - 1, 3);
    c.Frame(5, 5, kW - 6, kH - 6, 1);

    // Title in block letters, centred.
    constexpr std::string_view kTitle = "PELLORY";
    constexpr int kTitleScale = 6;
    c.Text((kW - Canvas::TextWidth(kTitle, kTitleScale)) / 2, 14, kTitle, kTitleScale);
    c.FillRect(12, 62, kW - 13, 63);

    // Five circles: disc, ring, target, ring, disc.
    constexpr int kCy = 98;
    constexpr int kR = 24;
    for (int i = 0; i < 5; ++i) {
        const int cx = 40 + 60 * i;
        switch (i) {
            case 0:
            case 4:
                c.Ring(cx, kCy, kR, 0);
                break;
            case 1:
            case 3:
                c.Ring(cx, kCy, kR, kR - 3);
                c.Ring(cx, kCy, 4, 0);
                break;
            default:
                for (int r = kR; r > 0; r -= 8) {
                    c.Ring(cx, kCy, r, r - 4 > 0 ? r - 4 : 0);
                }
                break;
        }
    }

    // Checker strip of 8 x 8 squares, two squares high.
    constexpr int kStripLeft = 12;
    constexpr int kStripRight = kW - 13;
    for (int y = 132; y < 148; ++y) {
        for (int x = kStripLeft; x <= kStripRight; ++x) {
            if (((x - kStripLeft) / 8 + (y - 132) / 8) % 2 == 0) {
                c.Set(x, y);
            }
        }
    }

    // Grey ramp, white at the left to black at the right, in 17 steps of a 4 x 4 ordered dither.
    constexpr std::array<std::array<int, 4>, 4> kBayer{{
        {{0, 8, 2, 10}},
        {{12, 4, 14, 6}},
        {{3, 11, 1, 9}},
        {{15, 7, 13, 5}},
    }};
    constexpr int kRampWidth = kStripRight - kStripLeft + 1;
    for (int y = 154; y < 186; ++y) {
        for (int x = kStripLeft; x <= kStripRight; ++x) {
            const int level = (x - kStripLeft) * 17 / kRampWidth;  // 0 .. 16 black dots of 16
            if (kBayer[static_cast<std::size_t>(y % 4)][static_cast<std::size_t>(x % 4)] < level) {
                c.Set(x, y);
            }
        }
    }
    c.Frame(kStripLeft - 2, 152, kStripRight + 2, 187, 1);

    // Caption.
    constexpr std::string_view kCaption = "PRINTER TEST 320X226";
    constexpr int kCaptionScale = 2;
    c.Text((kW - Canvas::TextWidth(kCaption, kCaptionScale)) / 2, 197, kCaption, kCaptionScale);

    return c.Take();
}

}  // namespace

const std::vector<uint8_t>& SamplePicture() {
    static const std::vector<uint8_t> picture = Draw();
    return picture;
}

bool SamplePictureDot(const std::vector<uint8_t>& picture, int x, int y) {
    if (x < 0 || y < 0 || x >= kW || y >= kH) {
        return false;
    }
    const auto index = static_cast<std::size_t>(y * kSamplePictureBytesPerRow + x / 8);
    if (index >= picture.size()) {
        return false;
    }
    return (picture[index] & (0x80u >> (x % 8))) != 0;
}

}  // namespace pellory::samples
