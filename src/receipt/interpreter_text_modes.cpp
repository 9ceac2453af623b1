// The interpreter's user-defined characters (ESC %, ESC &, ESC ?) and reverse feeds (ESC e, ESC K).
#include <algorithm>
#include <memory>

#include "receipt/glyph_style.h"
#include "receipt/interpreter.h"

namespace pellory::receipt {

namespace {

// A reverse feed moves the paper back at most 1/6 inch (33 dots, one line at the default
// spacing) per command, as the receipt printers that have one do.
constexpr int kMaxReverseFeed = 33;
// At most this many styled user-defined characters are kept at once (95 codes in 3 fonts in a
// few looks); past it they are made anew.
constexpr size_t kUserGlyphLimit = 1024;

}  // namespace

bool Interpreter::putUserCharacter(uint8_t code) {
    const Bitmap* plain = userChars_.find(modes_.font, code);
    if (!plain) return false;
    if (!inTable_ && line_.size() >= kMaxLineElements) printLine(modes_.lineSpacing, true);
    if (userGlyphsOf_ != userChars_.generation() || userGlyphs_.size() >= kUserGlyphLimit) {
        // Out of date or too many: those the line being gathered shows stay with the line.
        for (auto& [key, glyph] : userGlyphs_) {
            if (!line_.empty()) owned_.push_back(std::move(glyph));
        }
        userGlyphs_.clear();
        userGlyphsOf_ = userChars_.generation();
    }
    const uint64_t key = glyphLook() | code;
    std::unique_ptr<Bitmap>& glyph = userGlyphs_[key];
    if (!glyph)
        glyph = std::make_unique<Bitmap>(
            StyleGlyph(*plain, {glyphStyle(), modes_.underline, scaleX(), scaleY(), turnedNow(), modes_.condensed}));
    placeGlyph(*glyph);
    return true;
}

void Interpreter::reverseFeed(int dots) {
    printLine(0, false);
    endBlankRun();  // its mark first, before anything is printed back up on it
    // Never above the oldest row kept, nor above the last cut.
    int64_t floor = paper_.firstRow();
    if (!paper_.cuts().empty()) floor = std::max(floor, paper_.cuts().back() + 1);
    y_ = std::max(y_ - std::clamp(dots, 0, kMaxReverseFeed), std::min(floor, y_));
    x_ = areaLeft();
}

}  // namespace pellory::receipt
