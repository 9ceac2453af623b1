#include "receipt/glyphs.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <tuple>

#include "receipt/font_files.h"

namespace pellory::receipt {

namespace {

#ifndef PELLORY_RECEIPT_FONT
#define PELLORY_RECEIPT_FONT "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"
#endif

// Where the monospaced font lacks a character, these are asked in turn: DejaVu Sans (Hebrew,
// more Arabic), TlwgMono (Thai), WenQuanYi Zen Hei (Chinese, Japanese, Korean). A missing file
// is skipped. These paths and the main font's are Linux's; FontFile says where each is elsewhere.
constexpr const char* kFallbackFonts[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/tlwg/TlwgMono.ttf",
    "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc",
};

// Block elements and box drawing fill their cell edge to edge, so that lines join.
bool FillsCell(char32_t ch) { return ch >= 0x2500 && ch <= 0x259F; }

// The half-width katakana FF61-FF9F, which none of the fonts has, are drawn as their full-width
// forms narrowed into one cell: these, in the order of FF61 on.
constexpr std::u32string_view kFullWidthKatakana =
    U"\u3002\u300C\u300D\u3001\u30FB\u30F2\u30A1\u30A3\u30A5\u30A7\u30A9\u30E3\u30E5\u30E7\u30C3"
    U"\u30FC\u30A2\u30A4\u30A6\u30A8\u30AA\u30AB\u30AD\u30AF\u30B1\u30B3\u30B5\u30B7\u30B9\u30BB"
    U"\u30BD\u30BF\u30C1\u30C4\u30C6\u30C8\u30CA\u30CB\u30CC\u30CD\u30CE\u30CF\u30D2\u30D5\u30D8"
    U"\u30DB\u30DE\u30DF\u30E0\u30E1\u30E2\u30E4\u30E6\u30E8\u30E9\u30EA\u30EB\u30EC\u30ED\u30EF"
    U"\u30F3\u309B\u309C";
static_assert(kFullWidthKatakana.size() == 0xFF9F - 0xFF61 + 1);

class GlyphStore {
public:
    GlyphStore() {
        const std::string env = EnvironmentFontFile("PELLORY_RECEIPT_FONT");
        path_ = !env.empty() ? env : FontFile(PELLORY_RECEIPT_FONT);
        if (FT_Init_FreeType(&library_) != 0) {
            library_ = nullptr;
            return;
        }
        if (OpenFontFace(library_, path_, &face_) != 0) face_ = nullptr;
    }
    ~GlyphStore() {
        for (FT_Face f : fallbacks_) FT_Done_Face(f);
        if (face_) FT_Done_Face(face_);
        if (library_) FT_Done_FreeType(library_);
    }

    const Bitmap& get(int font, char32_t ch, int cells) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto key = std::make_tuple(font, ch, cells);
        auto it = glyphs_.find(key);
        if (it != glyphs_.end()) return *it->second;
        auto glyph = std::make_unique<Bitmap>(render(font, ch, cells));
        return *glyphs_.emplace(key, std::move(glyph)).first->second;
    }

    bool available() const { return face_ != nullptr; }
    const std::string& path() const { return path_; }

private:
    static Bitmap Box(int w, int h) {
        Bitmap b(w, h);
        for (int x = 1; x < w - 1; ++x) {
            b.set(x, 2);
            b.set(x, h - 3);
        }
        for (int y = 2; y < h - 2; ++y) {
            b.set(1, y);
            b.set(w - 2, y);
        }
        return b;
    }

    // The fallback fonts, opened when the main font first lacks a character (most receipts never
    // need them); a missing file is skipped.
    const std::vector<FT_Face>& fallbacks() {
        if (!fallbacksOpened_) {
            fallbacksOpened_ = true;
            for (const char* fallback : kFallbackFonts) {
                FT_Face f = nullptr;
                if (OpenFontFace(library_, FontFile(fallback), &f) == 0) fallbacks_.push_back(f);
            }
        }
        return fallbacks_;
    }

    // Sets a face's size unless it has that size already: a new size runs the font's own set-up
    // program again, which a run of glyphs of one size would otherwise pay for each glyph.
    bool setSize(FT_Face face, bool pixels, long across, long down) {
        const SizeRequest want{pixels, across, down};
        auto it = sizes_.find(face);
        if (it != sizes_.end() && it->second == want) return true;
        const FT_Error e = pixels ? FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(across), static_cast<FT_UInt>(down))
                                  : FT_Set_Char_Size(face, across, down, 72, 72);
        if (e != 0) {
            sizes_.erase(face);
            return false;
        }
        sizes_[face] = want;
        return true;
    }

    Bitmap render(int font, char32_t ch, int cells) {
        const FontCell cell = kFontCells[font];
        const int w = cell.width * cells;
        const int h = cell.height;
        Bitmap out(w, h);
        if (ch == U' ' || ch == 0x3000) return out;
        if (!face_) return Box(w, h);
        FT_Face face = face_;
        FT_UInt index = FT_Get_Char_Index(face_, ch);
        for (size_t i = 0; index == 0 && i < fallbacks().size(); ++i) {
            face = fallbacks_[i];
            index = FT_Get_Char_Index(face, ch);
        }
        const bool narrowed = index == 0 && ch >= 0xFF61 && ch <= 0xFF9F;
        if (narrowed) {
            const char32_t full = kFullWidthKatakana[ch - 0xFF61];
            for (size_t i = 0; index == 0 && i < fallbacks().size(); ++i) {
                face = fallbacks_[i];
                index = FT_Get_Char_Index(face, full);
            }
        }
        if (index == 0) return Box(w, h);
        const double em = static_cast<double>(face->units_per_EM);
        const double lineHeight = static_cast<double>(face->ascender - face->descender) / em;  // per em
        if (face == face_ && FillsCell(ch)) {
            // Stretched so that the advance is the cell's width and the line its height.
            const double advance = 0.602 * cells;
            if (!setSize(face, false, std::lround(w / advance * 64), std::lround(h / lineHeight * 64)))
                return Box(w, h);
        } else if (face == face_) {
            // The largest size whose advance fits the cell and whose line fits its height.
            const double advance = 0.602;  // DejaVu Sans Mono: advance of every glyph, per em
            int px = static_cast<int>(std::floor(std::min(cell.width / advance, h / 1.17)));
            if (!setSize(face, true, 0, px)) return Box(w, h);
        } else {
            // Another font: the largest size at which this glyph's advance fits the cells and the
            // font's line their height (a narrowed katakana: each on its own).
            if (FT_Load_Glyph(face, index, FT_LOAD_NO_SCALE) != 0) return Box(w, h);
            const double advance = std::max(static_cast<double>(face->glyph->metrics.horiAdvance) / em, 0.3);
            const double across = std::floor(w / advance), down = std::floor(h / lineHeight);
            const double px = std::min(across, down);
            if (px < 1 || !setSize(face, false, static_cast<long>((narrowed ? across : px) * 64),
                                   static_cast<long>((narrowed ? down : px) * 64))) {
                return Box(w, h);
            }
        }
        if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) return Box(w, h);
        const FT_GlyphSlot g = face->glyph;
        const FT_Bitmap& bm = g->bitmap;
        const int ascent = static_cast<int>(face->size->metrics.ascender >> 6);
        const int descent = static_cast<int>(-(face->size->metrics.descender >> 6));
        const int top = face == face_ ? (h - (ascent + descent)) / 2 : std::max((h - (ascent + descent)) / 2, 0);
        const int baseline = top + ascent;
        const int glyphAdvance = static_cast<int>(g->advance.x >> 6);
        const int left = (w - glyphAdvance) / 2 + g->bitmap_left;
        const int y0 = baseline - g->bitmap_top;
        for (unsigned r = 0; r < bm.rows; ++r) {
            const unsigned char* src = bm.buffer + static_cast<std::ptrdiff_t>(r) * bm.pitch;
            const int y = y0 + static_cast<int>(r);
            if (y < 0 || y >= h) continue;
            for (unsigned c = 0; c < bm.width; ++c) {
                const bool on = bm.pixel_mode == FT_PIXEL_MODE_MONO ? ((src[c >> 3] >> (7 - (c & 7))) & 1) != 0
                                                                    : src[c] >= 128;
                const int x = left + static_cast<int>(c);
                if (on && x >= 0 && x < w) out.set(x, y);
            }
        }
        return out;
    }

    std::mutex mutex_;
    std::string path_;
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
    std::vector<FT_Face> fallbacks_;
    bool fallbacksOpened_ = false;
    struct SizeRequest {
        bool pixels;  // FT_Set_Pixel_Sizes, else FT_Set_Char_Size at 72 dpi
        long across, down;
        bool operator==(const SizeRequest&) const = default;
    };
    std::map<FT_Face, SizeRequest> sizes_;  // the size each face was last given
    std::map<std::tuple<int, char32_t, int>, std::unique_ptr<Bitmap>> glyphs_;
};

GlyphStore& Store() {
    static GlyphStore store;
    return store;
}

}  // namespace

const Bitmap& PlainGlyph(int font, char32_t ch, int cells) {
    if (font < 0 || font >= kFontCount) font = 0;
    return Store().get(font, ch, cells < 1 ? 1 : cells);
}

bool OutlineFontAvailable() { return Store().available(); }
std::string OutlineFontPath() { return Store().available() ? Store().path() : std::string(); }

}  // namespace pellory::receipt
