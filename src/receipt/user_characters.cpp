#include "receipt/user_characters.h"

#include <utility>

namespace pellory::receipt {

bool UserCharacters::define(int font, const uint8_t* p, size_t n) {
    constexpr size_t kHead = 5;  // ESC & y c1 c2
    if (font < 0 || font >= kFontCount || n < kHead) return false;
    const int y = p[2];
    const uint8_t c1 = p[3], c2 = p[4];
    if (y < 1 || y > kMaxColumnBytes || c1 > c2 || c1 < kFirst || c2 > kLast) return false;
    const FontCell cell = kFontCells[font];
    // First the whole command is checked, then the characters are defined.
    size_t at = kHead;
    for (int c = c1; c <= c2; ++c) {
        if (at >= n || p[at] > cell.width) return false;
        at += 1 + static_cast<size_t>(y) * p[at];
        if (at > n) return false;
    }
    at = kHead;
    for (int c = c1; c <= c2; ++c) {
        const int x = p[at++];
        Bitmap b(cell.width, cell.height);
        for (int column = 0; column < x; ++column, at += static_cast<size_t>(y)) {
            for (int row = 0; row < y * 8 && row < cell.height; ++row) {
                if ((p[at + static_cast<size_t>(row / 8)] >> (7 - row % 8)) & 1) b.set(column, row);
            }
        }
        defined_[static_cast<size_t>(font)][static_cast<size_t>(c - kFirst)] = std::move(b);
    }
    ++generation_;
    return true;
}

void UserCharacters::erase(int font, uint8_t code) {
    if (font < 0 || font >= kFontCount || code < kFirst || code > kLast) return;
    defined_[static_cast<size_t>(font)][static_cast<size_t>(code - kFirst)].reset();
    ++generation_;
}

void UserCharacters::clear() {
    for (auto& font : defined_) {
        for (auto& c : font) c.reset();
    }
    ++generation_;
}

const Bitmap* UserCharacters::find(int font, uint8_t code) const {
    if (font < 0 || font >= kFontCount || code < kFirst || code > kLast) return nullptr;
    const auto& c = defined_[static_cast<size_t>(font)][static_cast<size_t>(code - kFirst)];
    return c ? &*c : nullptr;
}

}  // namespace pellory::receipt
