#include "receipt/interpreter.h"

#include <algorithm>
#include <array>

namespace pellory::receipt {

namespace {

constexpr int kDefaultLineSpacing = 33;
constexpr int kDefaultTabColumns = 8;  // a tab stop every 8 characters until ESC D
constexpr size_t kGlyphCacheLimit = 4096;

size_t Word(const uint8_t* p) { return static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8; }

void AppendUtf8(std::string& s, char32_t c) {
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Each bit of a byte doubled: the two bytes of a double-width image.
constexpr std::array<uint16_t, 256> MakeDoubling() {
    std::array<uint16_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        uint16_t v = 0;
        for (int i = 0; i < 8; ++i) {
            if (b & (0x80u >> i)) v = static_cast<uint16_t>(v | (0xC000u >> (2 * i)));
        }
        t[b] = v;
    }
    return t;
}
constexpr std::array<uint16_t, 256> kDoubling = MakeDoubling();

// ORs a bitmap into rows of `stride` bytes (a line buffer) at dot x; dots outside [0, width) drop.
void DrawInto(uint8_t* dst, size_t stride, int width, const Bitmap& b, int x) {
    const int shift = x & 7;
    if (x >= 0 && b.width <= 56 && x + b.width <= width && b.words.size() == static_cast<size_t>(b.height)) {
        // Narrow pictures (glyphs): a row at a time as one word, shifted into place.
        const int bytes = (b.width + shift + 7) / 8;
        for (int r = b.inkTop; r < b.inkEnd; ++r) {
            const uint64_t v = b.words[static_cast<size_t>(r)] >> shift;
            if (!v) continue;
            uint8_t* d = dst + static_cast<size_t>(r) * stride + (x >> 3);
            for (int i = 0; i < bytes; ++i) d[i] |= static_cast<uint8_t>(v >> (56 - 8 * i));
        }
        return;
    }
    for (int r = 0; r < b.height; ++r) {
        const uint8_t* src = b.row(r);
        uint8_t* out = dst + static_cast<size_t>(r) * stride;
        for (int c = 0; c < b.width; ++c) {
            const int dx = x + c;
            if (dx < 0 || dx >= width || !((src[c >> 3] >> (7 - (c & 7))) & 1)) continue;
            out[dx >> 3] |= static_cast<uint8_t>(0x80 >> (dx & 7));
        }
    }
}

// The positions an international character set (ESC R) replaces.
bool IsNationalPosition(uint8_t b) {
    switch (b) {
        case 0x23: case 0x24: case 0x40: case 0x5B: case 0x5C: case 0x5D:
        case 0x5E: case 0x60: case 0x7B: case 0x7C: case 0x7D: case 0x7E:
            return true;
        default:
            return false;
    }
}

Bitmap Scale(const Bitmap& b, int sx, int sy) {
    if (sx == 1 && sy == 1) return b;
    Bitmap out(b.width * sx, b.height * sy);
    for (int y = 0; y < b.height; ++y) {
        for (int x = 0; x < b.width; ++x) {
            if (!b.get(x, y)) continue;
            for (int dy = 0; dy < sy; ++dy) {
                for (int dx = 0; dx < sx; ++dx) out.set(x * sx + dx, y * sy + dy);
            }
        }
    }
    return out;
}

}  // namespace

Interpreter::Interpreter(int widthDots, Drawing drawing)
    : paper_(widthDots), drawing_(drawing), decoder_(CurrentCharacterDecoder()) {
    resetModes();
}

void Interpreter::resetModes() {
    font_ = 0;
    mode_ = 0;
    emphasized_ = false;
    underline_ = 0;
    reverse_ = false;
    sizeW_ = sizeH_ = 1;
    align_ = 0;
    leftMargin_ = rightMargin_ = leftMarginDots_ = 0;
    lineSpacing_ = kDefaultLineSpacing;
    charSpacing_ = 0;
    tabs_.clear();
    for (int c = kDefaultTabColumns; c < 256; c += kDefaultTabColumns) tabs_.push_back(c);
    density_ = Paper::kDefaultDensity;
    barWidth_ = 3;
    barHeight_ = 162;
    hri_ = 0;
    hriFont_ = 0;
    qr_ = QrSettings{};
    qrData_.clear();
    chars_ = CharacterState{};
    lead_.clear();
}

void Interpreter::clearPaper() {
    paper_.clear();
    y_ = 0;
    line_.clear();
    owned_.clear();
    lineStarted_ = false;
    xSet_ = false;
}

void Interpreter::setWidth(int widthDots) {
    paper_ = Paper(widthDots);
    clearPaper();
}

void Interpreter::feed(const uint8_t* data, size_t n) {
    splitter_.feed(data, n, [this](vprinter::Command::Kind kind, const uint8_t* bytes, size_t length) {
        command(kind, bytes, length);
        offset_ += length;
    });
}

void Interpreter::finish() {
    if (splitter_.pendingSize() == 0) return;
    if (sink_) {
        // The command splitter keeps the bytes of the incomplete command; hand them over as they are.
        DecodedCommand c;
        c.offset = offset_;
        c.bytes = splitter_.pending();
        c.mnemonic = DescribeCommand(c.bytes.data(), c.bytes.size()).mnemonic;
        c.known = false;
        sink_(c);
    }
    offset_ += splitter_.pendingSize();
    splitter_.reset();
}

// ---------------------------------------------------------------------------------------------

void Interpreter::command(vprinter::Command::Kind kind, const uint8_t* p, size_t n) {
    using Kind = vprinter::Command::Kind;
    if (kind == Kind::Text) {
        text(p, n);
        return;
    }
    if (sink_) {
        const CommandInfo info = DescribeCommand(p, n);
        DecodedCommand c;
        c.offset = offset_;
        c.bytes.assign(p, p + n);
        c.mnemonic = info.mnemonic;
        c.meaning = info.meaning;
        c.known = info.known;
        sink_(c);
    }
    if (drawing_ == Drawing::Off) {
        // Modes that decide how later text reads still follow the stream.
        if (kind == Kind::Esc && n >= 3 && p[1] == 0x74) chars_.codeTable = p[2];
        if (kind == Kind::Esc && n >= 3 && p[1] == 0x52) chars_.international = p[2];
        if (kind == Kind::Esc && n >= 2 && p[1] == 0x40) chars_ = CharacterState{};
        if (kind == Kind::Fs && n >= 2 && (p[1] == 0x26 || p[1] == 0x2E)) chars_.kanji = p[1] == 0x26;
        return;
    }
    switch (kind) {
        case Kind::Control: control(p[0]); break;
        case Kind::Esc: esc(p, n); break;
        case Kind::Fs: fs(p, n); break;
        case Kind::Gs: gs(p, n); break;
        case Kind::Dle:
        case Kind::Text: break;
    }
}

void Interpreter::text(const uint8_t* p, size_t n) {
    std::string shown;
    std::vector<uint8_t> bytes;
    const uint8_t* src = p;
    size_t count = n;
    if (!lead_.empty()) {  // a Kanji pair cut by the end of the last piece
        bytes = lead_;
        bytes.insert(bytes.end(), p, p + n);
        src = bytes.data();
        count = bytes.size();
        lead_.clear();
    }
    size_t i = 0;
    while (i < count) {
        if (src[i] < 0x80 && !sink_ && drawing_ == Drawing::On) {
            // ASCII reads the same in every code table but for the international set's characters.
            const uint8_t b = src[i];
            if (chars_.international == 0 || !IsNationalPosition(b)) {
                putCharacter(b, false);
                ++i;
                continue;
            }
        }
        DecodedCharacter d = decoder_->decode(chars_, src + i, count - i);
        if (d.length == 0) {
            lead_.assign(src + i, src + count);
            break;
        }
        if (sink_) AppendUtf8(shown, d.ch);
        if (drawing_ == Drawing::On) putCharacter(d.ch, d.wide);
        i += d.length;
    }
    if (sink_) {
        DecodedCommand c;
        c.offset = offset_;
        c.bytes.assign(p, p + n);
        c.meaning = "\"" + shown + "\"";
        c.text = true;
        sink_(c);
    }
}

void Interpreter::control(uint8_t b) {
    switch (b) {
        case 0x0A:  // LF
        case 0x0C:  // FF
            printLine(lineSpacing_, true);
            break;
        case 0x09: {  // HT
            const int column = kFontCells[font_].width + charSpacing_;
            if (!lineStarted_ && !xSet_) x_ = areaLeft();
            for (int t : tabs_) {
                const int x = areaLeft() + t * column;
                if (x > x_) {
                    if (x < areaRight()) {
                        x_ = x;
                        xSet_ = true;
                    }
                    break;
                }
            }
            break;
        }
        default:
            break;
    }
}

void Interpreter::esc(const uint8_t* p, size_t n) {
    const uint8_t a = n > 2 ? p[2] : 0;
    switch (p[1]) {
        case 0x20: charSpacing_ = a; break;
        case 0x21: mode_ = a; break;
        case 0x24:
            x_ = areaLeft() + static_cast<int>(Word(p + 2));
            xSet_ = true;
            break;
        case 0x5C:
            if (!lineStarted_ && !xSet_) x_ = areaLeft();
            x_ += static_cast<int16_t>(Word(p + 2));
            x_ = std::max(x_, areaLeft());
            xSet_ = true;
            break;
        case 0x2A: bitImage(p, n); break;
        case 0x2D: underline_ = (a >= 48 ? a - 48 : a) > 2 ? 0 : (a >= 48 ? a - 48 : a); break;
        case 0x32: lineSpacing_ = kDefaultLineSpacing; break;
        case 0x33: lineSpacing_ = a; break;
        case 0x40:  // initialise: the unprinted line is dropped, the modes return to their defaults
            line_.clear();
            owned_.clear();
            lineStarted_ = false;
            xSet_ = false;
            resetModes();
            break;
        case 0x44:
            tabs_.clear();
            for (size_t i = 2; i < n && p[i] != 0; ++i) {
                if (tabs_.empty() || p[i] > tabs_.back()) tabs_.push_back(p[i]);
            }
            break;
        case 0x45:
        case 0x47: emphasized_ = a & 1; break;
        case 0x4A: printLine(a, false); break;
        case 0x4D: font_ = std::clamp(a >= 48 ? a - 48 : static_cast<int>(a), 0, kFontCount - 1); break;
        case 0x51: rightMargin_ = a; break;
        case 0x52: chars_.international = a; break;
        case 0x61: align_ = std::clamp(a >= 48 ? a - 48 : static_cast<int>(a), 0, 2); break;
        case 0x64: printLine(lineSpacing_ * a, a != 0); break;
        case 0x69: cut(0); break;
        case 0x6C: leftMargin_ = a; break;
        case 0x6D: density_ = static_cast<uint8_t>(std::clamp<int>(a, 1, 8)); break;
        case 0x74: chars_.codeTable = a; break;
        default: break;
    }
}

void Interpreter::fs(const uint8_t* p, size_t n) {
    switch (p[1]) {
        case 0x26: chars_.kanji = true; break;
        case 0x2E:
            chars_.kanji = false;
            lead_.clear();
            break;
        case 0x56: tableRow(p, n); break;
        default: break;
    }
}

void Interpreter::gs(const uint8_t* p, size_t n) {
    const uint8_t a = n > 2 ? p[2] : 0;
    switch (p[1]) {
        case 0x21:
            sizeW_ = ((a >> 4) & 7) + 1;
            sizeH_ = (a & 7) + 1;
            break;
        case 0x28:
            if (a == 0x6B) qr(p, n);
            break;
        case 0x42: reverse_ = a & 1; break;
        case 0x48: hri_ = a & 3; break;
        case 0x4C: leftMarginDots_ = static_cast<int>(Word(p + 2)); break;
        case 0x56: {
            const bool withFeed = n > 3;
            cut(withFeed ? p[3] : 0);
            break;
        }
        case 0x66: hriFont_ = std::clamp(a >= 48 ? a - 48 : static_cast<int>(a), 0, 1); break;
        case 0x68: barHeight_ = a; break;
        case 0x6B: barcode(p, n); break;
        case 0x76: raster(p, n); break;
        case 0x77: barWidth_ = a; break;
        default: break;
    }
}

// ---------------------------------------------------------------------------------------------
// Geometry and glyphs

int Interpreter::areaLeft() const {
    const int left = leftMargin_ * 8 + leftMarginDots_;
    return std::clamp(left, 0, paper_.width() - 8);
}

int Interpreter::areaRight() const {
    const int right = paper_.width() - rightMargin_ * 8;
    return right <= areaLeft() + 8 ? paper_.width() : right;
}

int Interpreter::scaleX() const { return std::max(sizeW_, (mode_ & kModeDoubleWidth) ? 2 : 1); }
int Interpreter::scaleY() const { return std::max(sizeH_, (mode_ & kModeDoubleHeight) ? 2 : 1); }

uint8_t Interpreter::glyphStyle() const {
    uint8_t s = mode_ & (kModeItalic | kModeBorder | kModeEmphasized | kModeHighlight | kModeUnderline);
    if (emphasized_) s |= kModeEmphasized;
    if (reverse_) s |= kModeHighlight;
    return s;
}

const Bitmap& Interpreter::styledGlyph(char32_t ch, bool wide) {
    const uint8_t style = glyphStyle();
    const int sx = scaleX(), sy = scaleY();
    const uint64_t look = static_cast<uint64_t>(font_) << 22 | static_cast<uint64_t>(style) << 24 |
                          static_cast<uint64_t>(sx - 1) << 32 | static_cast<uint64_t>(sy - 1) << 36 |
                          static_cast<uint64_t>(underline_) << 40;
    const uint64_t key = static_cast<uint64_t>(ch & 0x1FFFFF) | static_cast<uint64_t>(wide) << 21 | look;
    const bool ascii = ch < 0x80 && !wide;
    if (ascii) {
        if (asciiLook_ != look) {
            asciiGlyphs_.fill(nullptr);
            asciiLook_ = look;
        }
        if (const Bitmap* g = asciiGlyphs_[ch]) return *g;
    }
    auto it = glyphs_.find(key);
    if (it != glyphs_.end()) {
        if (ascii) asciiGlyphs_[ch] = &it->second;
        return it->second;
    }

    const int font = wide ? 0 : font_;
    Bitmap b = PlainGlyph(font, ch, wide ? 2 : 1);
    const int w = b.width, h = b.height;
    if (style & kModeEmphasized) {
        Bitmap bold = b;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x + 1 < w; ++x) {
                if (b.get(x, y)) bold.set(x + 1, y);
            }
        }
        b = std::move(bold);
    }
    if (style & kModeItalic) {
        Bitmap slanted(w, h);
        for (int y = 0; y < h; ++y) {
            const int shift = (h - 1 - y) / 6;
            for (int x = 0; x < w; ++x) {
                if (b.get(x, y) && x + shift < w) slanted.set(x + shift, y);
            }
        }
        b = std::move(slanted);
    }
    const int under = std::max((style & kModeUnderline) ? 1 : 0, underline_);
    for (int y = h - under; y < h; ++y) {
        for (int x = 0; x < w; ++x) b.set(x, y);
    }
    if (style & kModeBorder) {
        for (int x = 0; x < w; ++x) {
            b.set(x, 0);
            b.set(x, h - 1);
        }
        for (int y = 0; y < h; ++y) {
            b.set(0, y);
            b.set(w - 1, y);
        }
    }
    if (style & kModeHighlight) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) b.flip(x, y);
        }
    }
    if (glyphs_.size() >= kGlyphCacheLimit && line_.empty()) {
        glyphs_.clear();
        asciiGlyphs_.fill(nullptr);
    }
    Bitmap& made = glyphs_.emplace(key, Scale(b, sx, sy)).first->second;
    made.prepareWords();
    if (ascii) asciiGlyphs_[ch] = &made;
    return made;
}

void Interpreter::putCharacter(char32_t ch, bool wide) {
    const Bitmap& glyph = styledGlyph(ch, wide);
    if (!lineStarted_ && !xSet_) x_ = areaLeft();
    if (inTable_ && x_ + glyph.width > areaRight()) return;  // a table cell is cut at the edge
    if (x_ + glyph.width > areaRight() && x_ > areaLeft()) {
        printLine(lineSpacing_, true);  // the line is full: it prints, the character starts the next
        x_ = areaLeft();
    }
    line_.push_back({x_, -1, &glyph, density_});
    x_ += glyph.width + charSpacing_ * scaleX();
    lineStarted_ = true;
}

void Interpreter::putInLine(const Bitmap* bitmap, int width) {
    if (!lineStarted_ && !xSet_) x_ = areaLeft();
    line_.push_back({x_, -1, bitmap, density_});
    x_ += width;
    lineStarted_ = true;
}

const Bitmap& Interpreter::keep(Bitmap b) {
    owned_.push_back(std::make_unique<Bitmap>(std::move(b)));
    return *owned_.back();
}

void Interpreter::drawBitmap(const Bitmap& b, int x, int64_t y, uint8_t density) {
    paper_.extendTo(y + b.height);
    for (int r = 0; r < b.height; ++r) paper_.blit(y + r, x, b.row(r), b.width, density);
}

void Interpreter::printLine(int feed, bool atLeastHeight) {
    int height = 0, right = areaLeft();
    for (const Element& e : line_) {
        height = std::max(height, (e.y < 0 ? 0 : e.y) + e.bitmap->height);
        right = std::max(right, e.x + e.bitmap->width);
    }
    if (!line_.empty() && height > 0) {
        const int spare = areaRight() - right;
        const int shift = spare <= 0 ? 0 : align_ == 1 ? spare / 2 : align_ == 2 ? spare : 0;
        // The line is drawn in a buffer of its own first, then each of its rows goes onto the paper.
        const size_t stride = paper_.stride();
        lineBuffer_.assign(stride * static_cast<size_t>(height), 0);
        uint8_t density = density_;
        for (const Element& e : line_) {
            const int top = e.y < 0 ? height - e.bitmap->height : e.y;
            DrawInto(lineBuffer_.data() + static_cast<size_t>(top) * stride, stride, paper_.width(), *e.bitmap, e.x + shift);
            density = e.density;
        }
        paper_.extendTo(y_ + height);
        for (int r = 0; r < height; ++r) paper_.blit(y_ + r, 0, lineBuffer_.data() + static_cast<size_t>(r) * stride, paper_.width(), density);
    }
    y_ += atLeastHeight ? std::max(feed, height) : std::max(feed, 0);
    paper_.extendTo(y_);
    line_.clear();
    owned_.clear();
    lineStarted_ = false;
    xSet_ = false;
    x_ = areaLeft();
}

void Interpreter::printBlock(const Bitmap& block) {
    if (lineStarted_) printLine(lineSpacing_, true);
    const int spare = areaRight() - areaLeft() - block.width;
    const int shift = spare <= 0 ? 0 : align_ == 1 ? spare / 2 : align_ == 2 ? spare : 0;
    drawBitmap(block, areaLeft() + shift, y_, density_);
    y_ += block.height;
    paper_.extendTo(y_);
    xSet_ = false;
}

// ---------------------------------------------------------------------------------------------
// Images, symbols, tables, cuts

void Interpreter::bitImage(const uint8_t* p, size_t n) {
    if (n < 5) return;
    const uint8_t m = p[2];
    const bool tall = m == 32 || m == 33;
    const bool single = m == 0 || m == 32;
    if (!tall && m != 1 && !single) return;
    const int columns = static_cast<int>(Word(p + 3));
    const int bytesPerColumn = tall ? 3 : 1;
    const int sx = single ? 2 : 1;
    // Columns past the paper's edge are dropped.
    const int shown = std::min(columns, (paper_.width() + sx - 1) / sx);
    Bitmap image(shown * sx, 8 * bytesPerColumn);
    const uint8_t* data = p + 5;
    for (int c = 0; c < shown; ++c) {
        for (int k = 0; k < bytesPerColumn; ++k) {
            const uint8_t v = data[c * bytesPerColumn + k];
            if (!v) continue;
            for (int bit = 0; bit < 8; ++bit) {
                if (!(v & (0x80 >> bit))) continue;
                for (int dx = 0; dx < sx; ++dx) image.set(c * sx + dx, k * 8 + bit);
            }
        }
    }
    const int width = columns * sx;
    putInLine(&keep(std::move(image)), width);
}

void Interpreter::raster(const uint8_t* p, size_t n) {
    if (n < 8 || p[2] != 0x30) return;
    const uint8_t m = p[3] >= 48 ? static_cast<uint8_t>(p[3] - 48) : p[3];
    const int sx = (m & 1) ? 2 : 1, sy = (m & 2) ? 2 : 1;
    const size_t xBytes = Word(p + 4), rows = Word(p + 6);
    if (lineStarted_) printLine(lineSpacing_, true);
    const int fullWidth = static_cast<int>(std::min<size_t>(xBytes * 8 * static_cast<size_t>(sx), 1u << 20));
    const int spare = areaRight() - areaLeft() - fullWidth;
    const int x = areaLeft() + (spare <= 0 ? 0 : align_ == 1 ? spare / 2 : align_ == 2 ? spare : 0);
    const size_t usedBytes = std::min<size_t>(xBytes, static_cast<size_t>((paper_.width() + 7) / 8));
    std::vector<uint8_t> wide(usedBytes * 2);
    const uint8_t* data = p + 8;
    for (size_t r = 0; r < rows; ++r) {
        const uint8_t* src = data + r * xBytes;
        const uint8_t* bits = src;
        int widthBits = static_cast<int>(usedBytes * 8);
        if (sx == 2) {
            for (size_t i = 0; i < usedBytes; ++i) {
                wide[2 * i] = static_cast<uint8_t>(kDoubling[src[i]] >> 8);
                wide[2 * i + 1] = static_cast<uint8_t>(kDoubling[src[i]]);
            }
            bits = wide.data();
            widthBits *= 2;
        }
        for (int dy = 0; dy < sy; ++dy) {
            const int64_t y = y_ + static_cast<int64_t>(r) * sy + dy;
            paper_.extendTo(y + 1);
            paper_.blit(y, x, bits, widthBits, density_);
        }
    }
    y_ += static_cast<int64_t>(rows) * sy;
    paper_.extendTo(y_);
    xSet_ = false;
}

void Interpreter::barcode(const uint8_t* p, size_t n) {
    if (n < 3) return;
    const uint8_t m = p[2];
    int index;
    std::string data;
    if (m >= 65) {
        index = m - 65;
        if (n < 4) return;
        data.assign(reinterpret_cast<const char*>(p + 4), std::min<size_t>(p[3], n - 4));
    } else {
        index = m;
        size_t end = n;
        if (end > 3 && p[end - 1] == 0) --end;
        data.assign(reinterpret_cast<const char*>(p + 3), end - 3);
    }
    if (index < 0 || index >= kSymbologyCount) return;
    const std::optional<LinearSymbol> symbol =
        MakeLinear(static_cast<Symbology>(index), data, barWidth_, std::max(barHeight_, 1));
    if (!symbol) return;
    const FontCell cell = kFontCells[hriFont_];
    const bool above = hri_ == 1 || hri_ == 3, below = hri_ == 2 || hri_ == 3;
    const int textRows = cell.height + 2;
    const int height = symbol->bars.height + (above ? textRows : 0) + (below ? textRows : 0);
    Bitmap block(symbol->bars.width, height);
    const int barsTop = above ? textRows : 0;
    for (int y = 0; y < symbol->bars.height; ++y) {
        std::copy_n(symbol->bars.row(y), block.stride,
                    block.bits.begin() + static_cast<std::ptrdiff_t>((barsTop + y) * block.stride));
    }
    auto drawText = [&](int top) {
        const int textWidth = static_cast<int>(symbol->text.size()) * cell.width;
        int x = std::max(0, (block.width - textWidth) / 2);
        for (char c : symbol->text) {
            const Bitmap& g = PlainGlyph(hriFont_, static_cast<unsigned char>(c));
            for (int y = 0; y < g.height; ++y) {
                for (int gx = 0; gx < g.width; ++gx) {
                    if (g.get(gx, y) && x + gx < block.width) block.set(x + gx, top + y);
                }
            }
            x += cell.width;
        }
    };
    if (above) drawText(0);
    if (below) drawText(barsTop + symbol->bars.height + 2);
    printBlock(block);
}

void Interpreter::qr(const uint8_t* p, size_t n) {
    if (n < 7 || p[5] != 0x31) return;
    const uint8_t a = n > 7 ? p[7] : 0;
    switch (p[6]) {
        case 0x41: qr_.model = a >= 49 && a <= 51 ? a - 48 : 2; break;
        case 0x43: qr_.moduleSize = std::clamp<int>(a, 1, 16); break;
        case 0x45: qr_.errorLevel = a >= 48 && a <= 51 ? a - 48 : 0; break;
        case 0x50:
            qrData_.assign(p + std::min<size_t>(8, n), p + n);
            break;
        case 0x51:
            if (std::optional<Bitmap> symbol = MakeQr(qr_, qrData_)) printBlock(*symbol);
            break;
        default: break;
    }
}

void Interpreter::tableRow(const uint8_t* p, size_t n) {
    // FS V k, k column rules (in characters), c cells, c cell positions (in characters), then for
    // each cell a style byte (2: emphasized) and its text up to a zero byte.
    if (n < 4) return;
    const size_t k = p[2];
    if (n < 4 + k) return;
    const size_t cells = p[3 + k];
    size_t off = 4 + k + cells;
    if (off > n) return;
    if (lineStarted_) printLine(lineSpacing_, true);
    const int column = kFontCells[font_].width + charSpacing_;
    const uint8_t savedMode = mode_;
    inTable_ = true;
    for (size_t c = 0; c < cells && off < n; ++c) {
        const uint8_t style = p[off++];
        size_t end = off;
        while (end < n && p[end] != 0) ++end;
        x_ = areaLeft() + p[4 + k + c] * column;
        xSet_ = true;
        mode_ = static_cast<uint8_t>(style == 2 ? (savedMode | kModeEmphasized) : savedMode);
        for (size_t i = off; i < end;) {
            const DecodedCharacter d = decoder_->decode(chars_, p + i, end - i);
            if (d.length == 0) break;
            putCharacter(d.ch, d.wide);
            i += d.length;
        }
        off = end + 1;
    }
    mode_ = savedMode;
    inTable_ = false;
    const int height = kFontCells[font_].height * scaleY();
    Bitmap rule(1, height);
    for (int y = 0; y < height; ++y) rule.set(0, y);
    const Bitmap& kept = keep(std::move(rule));
    for (size_t i = 0; i < k; ++i) {
        const int x = std::min(areaLeft() + p[3 + i] * column, paper_.width() - 1);
        line_.push_back({x, 0, &kept, density_});
    }
    lineStarted_ = true;
    printLine(lineSpacing_, true);
}

void Interpreter::cut(int feed) {
    if (lineStarted_) printLine(lineSpacing_, true);
    y_ += feed;
    paper_.extendTo(y_ + 1);
    paper_.addCut(y_);
    y_ += 1;
}

}  // namespace pellory::receipt
