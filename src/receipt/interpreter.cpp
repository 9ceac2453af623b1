#include "receipt/interpreter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "protocol/command_view.h"
#include "receipt/bit_rows.h"
#include "receipt/glyph_style.h"

namespace pellory::receipt {

namespace {

using Id = protocol::CommandId;

constexpr size_t kGlyphCacheLimit = 4096;
// The stream goes to the command splitter in pieces of at most this many bytes, and a command of
// a long kind still incomplete with this many bytes is taken over as a long command: so the
// splitter never holds more than about twice this.
constexpr size_t kSplitPiece = 64 * 1024;
constexpr size_t kLongCommandFrom = 64 * 1024;

size_t Word(const uint8_t* p) { return static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8; }

// A word whose first dot is in its top bit, as eight bytes in memory (the first byte first).
uint64_t ToBigEndian(uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(v);
    return v;
}

// ORs a bitmap into rows of `stride` bytes (a line buffer) at dot x; dots outside [0, width) drop.
void DrawInto(uint8_t* dst, size_t stride, int width, const Bitmap& b, int x) {
    const int shift = x & 7;
    if (x >= 0 && b.width <= 56 && x + b.width <= width && b.words.size() == static_cast<size_t>(b.height)) {
        // Narrow pictures (glyphs): a row at a time as one word, shifted into place.
        const int bytes = (b.width + shift + 7) / 8;
        // Eight bytes of the row at once where the row has them (all but its right end).
        const bool whole = (x >> 3) + 8 <= static_cast<int>(stride);
        for (int r = b.inkTop; r < b.inkEnd; ++r) {
            const uint64_t v = b.words[static_cast<size_t>(r)] >> shift;
            if (!v) continue;
            uint8_t* d = dst + static_cast<size_t>(r) * stride + (x >> 3);
            if (whole) {
                uint64_t row;
                std::memcpy(&row, d, 8);
                row |= ToBigEndian(v);
                std::memcpy(d, &row, 8);
                continue;
            }
            for (int i = 0; i < bytes; ++i) d[i] |= static_cast<uint8_t>(v >> (56 - 8 * i));
        }
        return;
    }
    for (int r = 0; r < b.height; ++r) OrDots(dst + static_cast<size_t>(r) * stride, width, x, b.row(r), b.width);
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

}  // namespace

Interpreter::Interpreter(int widthDots, int64_t paperRows, Paper::AtBound atBound)
    : paper_(widthDots, paperRows, atBound), decoder_(CurrentCharacterDecoder()), modes_(CurrentKanjiModel()) {}

SymbolArea Interpreter::symbolArea() const {
    return {areaRight() - areaLeft(), !decodeAlone_, decodeAlone_ ? protocol::WidestProfile().paperDots : 0};
}

void Interpreter::clearPaper() {
    paper_.clear();
    blankRun_ = {};
    y_ = 0;
    line_.clear();
    owned_.clear();
    lineStarted_ = false;
    xSet_ = false;
}

void Interpreter::setWidth(int widthDots) {
    if (page_) closePage();
    modes_.leavePage();
    paper_ = Paper(widthDots, paper_.maxRows(), paper_.atBound());
    clearPaper();
    bitImages_.clear();  // made for the old width (clearPaper emptied the line)
}

void Interpreter::feed(const uint8_t* data, size_t n) {
    const auto sink = protocol::CommandSplitter::ViewSink([this](const protocol::CommandView& c) {
        command(c);
        offset_ += c.length;
    });
    while (n > 0 && !halted_) {
        size_t used = 0;
        if (long_) {
            used = feedLong(data, n);
        } else {
            used = std::min(n, kSplitPiece);
            splitter_.feed(data, used, sink);
            const protocol::Bytes& pending = splitter_.pending();
            if (pending.size() >= kLongCommandFrom && LongCommand::Recognised(pending.data(), pending.size())) {
                takeOverLong(true);
            }
        }
        data += used;
        n -= used;
    }
}

void Interpreter::finish() {
    if (halted_) return;
    finishCommands();
    shortenDrawnBlank();
    endBlankRun();
}

void Interpreter::finishCommands() {
    lines_.flush();
    // A long command cut short is named by its header, with how much of it came (what was not
    // drawn yet stays undrawn, as any command cut short).
    const protocol::Bytes& pending = splitter_.pending();
    if (!long_ && LongCommand::Recognised(pending.data(), pending.size())) takeOverLong(false);
    if (long_) endLong(false);
    if (splitter_.pendingSize() == 0) return;
    lines_.unfinished(offset_, splitter_.pending());
    offset_ += splitter_.pendingSize();
    splitter_.reset();
}

void Interpreter::takeOverLong(bool draw) {
    const protocol::Bytes start = splitter_.pending();  // the start of the command: its header and more
    splitter_.reset();
    long_ = std::make_unique<LongCommand>();
    gatherLong_ = draw && IsLongDefinition(start.data(), start.size());
    feedLong(start.data(), start.size(), draw);
}

size_t Interpreter::feedLong(const uint8_t* data, size_t n, bool draw) {
    LongCommand::RowSink row;
    if (draw) {
        row = [this](size_t index, const uint8_t* bytes) {
            if (long_->isGraphicsRaster()) {
                graphicsRow(index, bytes);
                return;
            }
            if (!longRaster_) longRaster_ = rasterStart(long_->rasterMode(), long_->rowBytes());
            rasterRow(*longRaster_, index, bytes);
        };
    }
    const size_t used = long_->take(data, n, row);
    if (gatherLong_) gatherDefinition(data, used);
    if (long_->complete()) endLong(true);
    return used;
}

void Interpreter::endLong(bool complete) {
    const LongCommand& c = *long_;
    lines_.longCommand(offset_, c, complete);
    if (c.isRaster() && (complete || longRaster_)) {
        if (!longRaster_) longRaster_ = rasterStart(c.rasterMode(), c.rowBytes());
        rasterEnd(*longRaster_, complete ? c.rows() : c.rowsDone());
    }
    if (gatherLong_ && complete) defineGathered();
    gatherLong_ = false;
    longDefinition_ = std::vector<uint8_t>();
    offset_ += static_cast<size_t>(c.taken());
    long_.reset();
    longRaster_.reset();
    longGraphics_ = -1;
}

// ---------------------------------------------------------------------------------------------

void Interpreter::command(const protocol::CommandView& view) {
    const uint8_t* p = view.bytes;
    const size_t n = view.length;
    if (halted_) return;
    shortenDrawnBlank();
    if (progressSink_) {
        progressSink_();
        if (halted_) return;
    }
    if (view.kind == protocol::Command::Kind::Text) {
        text(p, n);
        return;
    }
    if (lines_.on()) lines_.command(offset_, p, n, modes_, lineStarted_, symbols_, symbolArea());
    const protocol::CommandEntry* entry = view.entry;
    if (!entry) return;
    if (entry->otherFamily()) {
        modes_.apply(entry->id, p, n, lineStarted_, paper_.width());  // condensed, one-line double width, GS Z
        if (entry->id == Id::DialectSymbol) dialectSymbol(p, n);      // other makers' 2-D codes
        return;
    }
    // ESC W n of the Star and ESC/P printers (3 bytes, see Rule::PageArea) is not this printer's.
    if (entry->id == Id::PageArea && n < entry->length.head) return;
    apply(entry->id, p, n);
}

void Interpreter::text(const uint8_t* p, size_t n) {
    std::string shown;
    std::vector<uint8_t> bytes;
    const std::span<const uint8_t> run = WithHeldLead(lead_, p, n, bytes);
    const uint8_t* src = run.data();
    const size_t count = run.size();
    size_t i = 0;
    while (i < count && !halted_) {
        if (modes_.userSet && src[i] >= UserCharacters::kFirst && src[i] <= UserCharacters::kLast &&
            !(modes_.chars.kanji && modes_.chars.kanjiSystem == charset::KanjiSystem::Jis) &&
            putUserCharacter(src[i])) {
            if (lines_.on()) AppendUtf8(shown, decoder_->decode(modes_.chars, src + i, 1).ch);
            ++i;
            continue;
        }
        if (src[i] < 0x80 && !(modes_.chars.kanji && modes_.chars.kanjiSystem == charset::KanjiSystem::Jis)) {
            // ASCII reads the same in every code table but for the international set's characters.
            const uint8_t b = src[i];
            if (modes_.chars.international == 0 || !IsNationalPosition(b)) {
                if (lines_.on()) shown.push_back(static_cast<char>(b));
                putCharacter(b, false);
                ++i;
                continue;
            }
        }
        DecodedCharacter d = decoder_->decode(modes_.chars, src + i, count - i);
        if (d.length == 0) {
            lead_.assign(src + i, src + count);
            break;
        }
        if (lines_.on()) AppendUtf8(shown, d.ch);
        putCharacter(d.ch, d.wide);
        i += d.length;
    }
    lines_.text(offset_, p, n, shown);
}

void Interpreter::apply(protocol::CommandId id, const uint8_t* p, size_t n) {
    // A command that ends page mode lets the page go first (FF prints it), in the modes it was made in.
    if (page_ && modes_.endsPage(id)) {
        if (id == Id::FormFeed) printPage();
        closePage();
    }
    const PageStep step = modes_.apply(id, p, n, lineStarted_, paper_.width());
    if (pageCommand(id, p, step)) return;
    const uint8_t a = n > 2 ? p[2] : 0;
    switch (id) {
        // One control byte.
        case Id::LineFeed:
        case Id::FormFeed:
            printLine(modes_.lineSpacing, true);
            break;
        case Id::HorizontalTab: {
            const int column = kFontCells[modes_.font].width + modes_.charSpacing;
            if (!lineStarted_ && !xSet_) x_ = areaLeft();
            for (int t : modes_.tabs) {
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

        // ESC
        case Id::AbsolutePosition:
            x_ = areaLeft() + across(static_cast<int64_t>(Word(p + 2)));
            xSet_ = true;
            break;
        case Id::RelativePosition:
            if (!lineStarted_ && !xSet_) x_ = areaLeft();
            x_ = std::clamp(x_ + across(static_cast<int16_t>(Word(p + 2))), areaLeft(), kFarRight);
            xSet_ = true;
            break;
        case Id::BitImage: bitImage(p, n); break;
        case Id::Initialise:  // the unprinted line is dropped (the modes returned to their defaults)
            line_.clear();
            owned_.clear();
            lineStarted_ = false;
            xSet_ = false;
            lineUpsideDown_ = false;
            userChars_.clear();
            lead_.clear();
            pictures_.downloaded.reset();
            break;
        case Id::FeedDots: printLine(along(a), false); break;
        case Id::ReverseFeed:
        case Id::ReverseFeedDots: reverseFeed(along(a)); break;
        case Id::ReverseFeedLines:
            reverseFeed(modes_.lineSpacing * a);
            break;
        case Id::DefineUserCharacters:
            userChars_.define(modes_.font, p, n);
            break;
        case Id::CancelUserCharacter:
            userChars_.erase(modes_.font, a);
            break;
        case Id::UpsideDown:
            if (!lineStarted_) lineUpsideDown_ = modes_.upsideDown;
            break;
        case Id::FeedLines:
            printLine(modes_.lineSpacing * a, a != 0);
            break;
        case Id::PartialCut:
            cut(0);
            break;

        // FS
        case Id::KanjiOff:
            lead_.clear();
            break;
        case Id::TableRow: tableRow(p, n); break;
        case Id::StoreImages: storeImages(p, n); break;
        case Id::PrintStoredImage:
            printStoredImage(a, p[3]);
            break;

        // GS
        case Id::Symbol2D: symbol2D(p, n); break;
        case Id::Graphics: graphics(p + 5, n - 5); break;
        case Id::LargeGraphics:
            if (a == 'L') graphics(p + 7, n - 7);
            break;
        case Id::DefineDownloadedImage: defineDownloadedImage(p, n); break;
        case Id::PrintDownloadedImage:
            printDownloadedImage(a);
            break;
        case Id::Cut: {
            const bool withFeed = n > 3;
            cut(withFeed ? along(p[3]) : 0);
            break;
        }
        case Id::Barcode: barcode(p, n); break;
        case Id::RasterImage: raster(p, n); break;
        default:
            break;  // a mode alone: the modes took it
    }
}

// ---------------------------------------------------------------------------------------------
// Geometry and glyphs

int Interpreter::areaLeft() const {
    if (page_) return 0;  // page mode: the print area's start, GS L aside
    const int left = modes_.leftMargin * 8 + modes_.leftMarginDots;
    return std::clamp(left, 0, paper_.width() - 8);
}

int Interpreter::areaRight() const {
    if (page_) return page_->across();
    int right = paper_.width() - modes_.rightMargin * 8;
    // GS W: at least one cell of Font1 wide.
    if (modes_.printWidth > 0) right = std::min(right, areaLeft() + std::max(modes_.printWidth, kFontCells[0].width));
    return right <= areaLeft() + 8 ? paper_.width() : right;
}

int Interpreter::scaleX(bool kanji) const {
    const int w = kanji && modes_.kanjiQuadruple ? 2 : modes_.sizeW;
    return modes_.lineWide ? std::min(2 * w, 8) : w;
}
int Interpreter::scaleY(bool kanji) const { return kanji && modes_.kanjiQuadruple ? 2 : modes_.sizeH; }

uint8_t Interpreter::glyphStyle() const {
    uint8_t s = modes_.mode & (protocol::kModeItalic | protocol::kModeBorder | protocol::kModeEmphasized |
                               protocol::kModeHighlight | protocol::kModeUnderline);
    if (modes_.emphasized || modes_.doubleStrike) s |= protocol::kModeEmphasized;
    if (modes_.reverse) s |= protocol::kModeHighlight;
    return s;
}

uint64_t Interpreter::glyphLook(bool kanji) const {
    return static_cast<uint64_t>(modes_.font) << 22 | static_cast<uint64_t>(glyphStyle()) << 24 |
           static_cast<uint64_t>(scaleX(kanji) - 1) << 32 | static_cast<uint64_t>(scaleY(kanji) - 1) << 36 |
           static_cast<uint64_t>(modes_.underline) << 40 | static_cast<uint64_t>(turnedNow()) << 42 |
           static_cast<uint64_t>(modes_.condensed) << 43;
}

const Bitmap& Interpreter::styledGlyph(char32_t ch, bool wide) {
    const uint64_t look = glyphLook(wide);
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

    const int font = wide ? 0 : modes_.font;
    const GlyphLook styled{glyphStyle(), modes_.underline, scaleX(wide), scaleY(wide), turnedNow(), modes_.condensed};
    if (glyphs_.size() >= kGlyphCacheLimit && line_.empty()) {
        glyphs_.clear();
        asciiGlyphs_.fill(nullptr);
    }
    Bitmap& made = glyphs_.emplace(key, StyleGlyph(PlainGlyph(font, ch, wide ? 2 : 1), styled)).first->second;
    if (ascii) asciiGlyphs_[ch] = &made;
    return made;
}

void Interpreter::putCharacter(char32_t ch, bool wide) {
    if (!inTable_ && line_.size() >= kMaxLineElements) printLine(modes_.lineSpacing, true);
    placeGlyph(styledGlyph(ch, wide));
}

void Interpreter::placeGlyph(const Bitmap& glyph) {
    if (!lineStarted_ && !xSet_) x_ = areaLeft();
    if (inTable_ && x_ + glyph.width > areaRight()) return;  // a table cell is cut at the edge
    if (x_ + glyph.width > areaRight() && x_ > areaLeft()) {
        printLine(modes_.lineSpacing, true);  // the line is full: it prints, the character starts the next
        x_ = areaLeft();
    }
    line_.push_back({x_, -1, &glyph, ink()});
    x_ += glyph.width + modes_.charSpacing * scaleX();
    lineStarted_ = true;
}

void Interpreter::putInLine(const Bitmap* bitmap, int width) {
    if (!lineStarted_ && !xSet_) x_ = areaLeft();
    line_.push_back({x_, -1, bitmap, ink()});
    x_ = std::min(x_ + width, kFarRight);
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
    modes_.lineWide = false;  // SO lasts for one line: the mode ends with it
    if (page_) {
        placePageLine(feed);  // page mode: the line goes on the page, the position moves by the feed
        return;
    }
    int height = 0, right = areaLeft();
    for (const Element& e : line_) {
        height = std::max(height, (e.y < 0 ? 0 : e.y) + e.bitmap->height);
        right = std::max(right, e.x + e.bitmap->width);
    }
    if (!line_.empty() && height > 0) {
        const int spare = areaRight() - right;
        const int shift = spare <= 0 ? 0 : modes_.align == 1 ? spare / 2 : modes_.align == 2 ? spare : 0;
        // The line is drawn in a buffer of its own first, then each of its rows goes onto the paper.
        const size_t stride = paper_.stride();
        lineBuffer_.assign(stride * static_cast<size_t>(height), 0);
        uint8_t density = ink();
        for (const Element& e : line_) {
            const int top = e.y < 0 ? height - e.bitmap->height : e.y;
            DrawInto(lineBuffer_.data() + static_cast<size_t>(top) * stride, stride, paper_.width(), *e.bitmap, e.x + shift);
            density = e.density;
        }
        // ESC {: the line turned a half turn within the print area.
        if (lineUpsideDown_) TurnHalf(lineBuffer_.data(), stride, height, areaLeft(), areaRight());
        paper_.extendTo(y_ + height);
        for (int r = 0; r < height; ++r) paper_.blit(y_ + r, 0, lineBuffer_.data() + static_cast<size_t>(r) * stride, paper_.width(), density);
    }
    feedTo(y_ + (atLeastHeight ? std::max(feed, height) : std::max(feed, 0)));
    startLine();
    if (progressSink_) progressSink_();
}

void Interpreter::startLine() {
    line_.clear();
    owned_.clear();
    lineStarted_ = false;
    xSet_ = false;
    x_ = areaLeft();
    lineUpsideDown_ = modes_.upsideDown;
}

void Interpreter::printBlock(const Bitmap& block, Block kind) {
    if (page_) {
        if (kind != Block::StandardOnly) placePageBlock(block);
        return;
    }
    if (lineStarted_) printLine(modes_.lineSpacing, true);
    const int spare = areaRight() - areaLeft() - block.width;
    const int shift = spare <= 0 ? 0 : modes_.align == 1 ? spare / 2 : modes_.align == 2 ? spare : 0;
    if (kind != Block::Upright && lineUpsideDown_) {
        // ESC {: the block turned a half turn within the print area, as a line of text is.
        Bitmap turned = block;
        TurnHalf(turned.bits.data(), static_cast<size_t>(turned.stride), turned.height, 0, turned.width);
        drawBitmap(turned, areaRight() - shift - block.width, y_, ink());
    } else {
        drawBitmap(block, areaLeft() + shift, y_, ink());
    }
    y_ += block.height;
    paper_.extendTo(y_);
    xSet_ = false;
}

}  // namespace pellory::receipt
