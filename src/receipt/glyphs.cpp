#include "receipt/glyphs.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

namespace pellory::receipt {

namespace {

#ifndef PELLORY_RECEIPT_FONT
#define PELLORY_RECEIPT_FONT "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"
#endif

class GlyphStore {
public:
    GlyphStore() {
        const char* env = std::getenv("PELLORY_RECEIPT_FONT");
        path_ = env && *env ? env : PELLORY_RECEIPT_FONT;
        if (FT_Init_FreeType(&library_) != 0) {
            library_ = nullptr;
            return;
        }
        if (FT_New_Face(library_, path_.c_str(), 0, &face_) != 0) face_ = nullptr;
    }
    ~GlyphStore() {
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

    Bitmap render(int font, char32_t ch, int cells) {
        const FontCell cell = kFontCells[font];
        const int w = cell.width * cells;
        const int h = cell.height;
        Bitmap out(w, h);
        if (ch == U' ' || ch == 0x3000) return out;
        if (!face_) return Box(w, h);
        const FT_UInt index = FT_Get_Char_Index(face_, ch);
        if (index == 0) return Box(w, h);
        // The largest size whose advance fits the cell and whose line fits its height.
        const double advance = 0.602;  // DejaVu Sans Mono: advance of every glyph, per em
        int px = static_cast<int>(std::floor(std::min(cell.width / advance, h / 1.17)));
        if (FT_Set_Pixel_Sizes(face_, 0, static_cast<FT_UInt>(px)) != 0) return Box(w, h);
        if (FT_Load_Glyph(face_, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) return Box(w, h);
        const FT_GlyphSlot g = face_->glyph;
        const FT_Bitmap& bm = g->bitmap;
        const int ascent = static_cast<int>(face_->size->metrics.ascender >> 6);
        const int descent = static_cast<int>(-(face_->size->metrics.descender >> 6));
        const int top = (h - (ascent + descent)) / 2;
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
