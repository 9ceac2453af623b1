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

constexpr int kDefaultLineSpacing = 33;
constexpr int kDefaultTabColumns = 8;  // a tab stop every 8 characters until ESC D
constexpr size_t kGlyphCacheLimit = 4096;
// The stream goes to the command splitter in pieces of at most this many bytes, and a command of
// a long kind still incomplete with this many bytes is taken over as a long command: so the
// splitter never holds more than about twice this.
constexpr size_t kSplitPiece = 64 * 1024;
constexpr size_t kLongCommandFrom = 64 * 1024;

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

Interpreter::Interpreter(int widthDots, Drawing drawing, int64_t paperRows, Paper::AtBound atBound)
    : paper_(widthDots, paperRows, atBound), drawing_(drawing), decoder_(CurrentCharacterDecoder()),
      kanjiModel_(CurrentKanjiModel()) {
    resetModes();
}

void Interpreter::resetModes() {
    font_ = 0;
    mode_ = 0;
    emphasized_ = false;
    underline_ = 0;
    reverse_ = false;
    sizeW_ = sizeH_ = 1;
    kanjiQuadruple_ = condensed_ = lineWide_ = false;
    align_ = 0;
    leftMargin_ = rightMargin_ = leftMarginDots_ = 0;
    lineSpacing_ = otherLineSpacing_ = kDefaultLineSpacing;
    charSpacing_ = otherCharSpacing_ = 0;
    unitX_ = unitY_ = kDotsPerInch;
    pageArea_.reset();
    direction_ = PrintDirection::LeftToRight;
    turned_ = upsideDown_ = doubleStrike_ = userSet_ = false;
    lineUpsideDown_ = false;
    printWidth_ = 0;
    userChars_.clear();
    tabs_.clear();
    for (int c = kDefaultTabColumns; c < 256; c += kDefaultTabColumns) tabs_.push_back(c);
    density_ = Paper::kDefaultDensity;
    red_ = false;
    barWidth_ = 3;
    barHeight_ = 162;
    hri_ = 0;
    hriFont_ = 0;
    symbols2D_ = Symbols2D{};
    chars_ = CharacterState{};
    chars_.kanjiSystem = kanjiModel_;
    lead_.clear();
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
    if (pageMode_) leavePage();
    pageArea_.reset();
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
    if (sink_) flushText();
    // A long command cut short is named by its header, with how much of it came (what was not
    // drawn yet stays undrawn, as any command cut short).
    const protocol::Bytes& pending = splitter_.pending();
    if (!long_ && LongCommand::Recognised(pending.data(), pending.size())) takeOverLong(false);
    if (long_) endLong(false);
    if (splitter_.pendingSize() == 0) return;
    if (sink_) {
        // The command splitter keeps the bytes of the incomplete command; hand them over as they are.
        DecodedCommand c;
        c.offset = offset_;
        c.bytes = splitter_.pending();
        const CommandInfo info = DescribeCommand(c.bytes.data(), c.bytes.size());
        c.mnemonic = info.mnemonic;
        c.family = info.family;
        c.known = false;
        sink_(c);
    }
    offset_ += splitter_.pendingSize();
    splitter_.reset();
}

void Interpreter::takeOverLong(bool draw) {
    const protocol::Bytes start = splitter_.pending();  // the start of the command: its header and more
    splitter_.reset();
    long_ = std::make_unique<LongCommand>();
    gatherLong_ = draw && drawing_ == Drawing::On && IsLongDefinition(start.data(), start.size());
    feedLong(start.data(), start.size(), draw);
}

size_t Interpreter::feedLong(const uint8_t* data, size_t n, bool draw) {
    LongCommand::RowSink row;
    if (drawing_ == Drawing::On && draw) {
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
    if (sink_) {
        flushText();
        const CommandInfo info = DescribeCommandStart(c.head().data(), c.head().size());
        DecodedCommand d;
        d.offset = offset_;
        d.bytes = c.head();
        d.length = static_cast<size_t>(c.taken());
        d.mnemonic = info.mnemonic;
        d.meaning = info.meaning;
        d.known = info.known;
        if (!complete) {
            d.meaning += "; incomplete: the stream ends after " + std::to_string(c.taken());
            if (const std::optional<uint64_t> length = c.length()) d.meaning += " of " + std::to_string(*length);
            d.meaning += " bytes";
        }
        sink_(d);
    }
    if (drawing_ == Drawing::Off && c.isRaster() && complete && !pageMode_) lineStarted_ = false;  // see followLine
    if (drawing_ == Drawing::On && c.isRaster() && (complete || longRaster_)) {
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
    if (sink_) {
        flushText();
        const CommandInfo info = DescribeCommand(p, n);
        DecodedCommand c;
        c.offset = offset_;
        c.bytes.assign(p, p + n);
        c.mnemonic = info.mnemonic;
        c.meaning = info.meaning;
        c.known = info.known;
        c.family = info.family;
        if (const protocol::CommandEntry* e = view.entry; e && info.known) {
            unitsMeaning(e->id, p, n, c.meaning);
            pageMeaning(e->id, c.meaning);
        }
        if (info.known) {
            if (const std::string why = symbolPrintFault(p, n); !why.empty())
                c.meaning += " (prints nothing: " + why + ")";
        }
        if (const protocol::CommandEntry* e = view.entry; e && e->otherFamily()) dialectMeaning(e->id, p, n, c.family);
        sink_(c);
    }
    const protocol::CommandEntry* entry = view.entry;
    if (!entry) return;
    if (entry->otherFamily()) {
        if (drawing_ == Drawing::On) otherFamily(entry->id);
        dialectCommand(entry->id, p, n);  // other makers' 2-D codes
        return;
    }
    // ESC W n of the Star and ESC/P printers (3 bytes, see Rule::PageArea) is not this printer's.
    if (entry->id == Id::PageArea && n < entry->length.head) return;
    if (drawing_ == Drawing::Off) {
        followLine(entry->id, p, n);
        followPageMode(entry->id, p, n);
        // Modes that decide how later text reads still follow the stream, and the symbols'
        // settings and data (for the decoding of their prints).
        switch (entry->id) {
            case Id::Symbol2D:
                if (n > 6 && p[6] != protocol::symbol2d::kPrint) symbol2D(p, n);
                break;
            case Id::BarcodeWidth: barWidth_ = p[2]; break;
            case Id::CodeTable: chars_.codeTable = p[2]; break;
            case Id::InternationalSet: chars_.international = p[2]; break;
            case Id::Initialise:
                chars_ = CharacterState{.kanjiSystem = kanjiModel_};
                symbols2D_ = Symbols2D{};
                barWidth_ = 3;
                break;
            case Id::KanjiCodeSystem: chars_.kanjiSystem = SystemOfFsC(chars_.kanjiSystem, p[2]); break;
            case Id::KanjiOn:
            case Id::KanjiOff: chars_.kanji = entry->id == Id::KanjiOn; break;
            default: break;
        }
        return;
    }
    apply(entry->id, p, n);
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
    while (i < count && !halted_) {
        if (userSet_ && src[i] >= UserCharacters::kFirst && src[i] <= UserCharacters::kLast &&
            drawing_ == Drawing::On && !(chars_.kanji && chars_.kanjiSystem == charset::KanjiSystem::Jis) &&
            putUserCharacter(src[i])) {
            if (sink_) AppendUtf8(shown, decoder_->decode(chars_, src + i, 1).ch);
            ++i;
            continue;
        }
        if (src[i] < 0x80 && !sink_ && drawing_ == Drawing::On &&
            !(chars_.kanji && chars_.kanjiSystem == charset::KanjiSystem::Jis)) {
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
        if (drawing_ == Drawing::On) {
            putCharacter(d.ch, d.wide);
        } else {
            lineStarted_ = true;  // followed for the decoding (see followLine)
        }
        i += d.length;
    }
    if (sink_) {
        // The run goes on from the part before (cut by the end of a piece): one line for both.
        if (text_ && text_->bytes.size() + n <= kTextLineBytes) {
            text_->bytes.insert(text_->bytes.end(), p, p + n);
            text_->meaning.insert(text_->meaning.size() - 1, shown);
            return;
        }
        flushText();
        text_.emplace();
        text_->offset = offset_;
        text_->bytes.assign(p, p + n);
        text_->meaning = "\"" + shown + "\"";
        text_->text = true;
    }
}

void Interpreter::flushText() {
    if (!text_) return;
    const DecodedCommand c = std::move(*text_);
    text_.reset();
    sink_(c);
}

void Interpreter::apply(protocol::CommandId id, const uint8_t* p, size_t n) {
    if (pageCommand(id, p, n)) return;
    const uint8_t a = n > 2 ? p[2] : 0;
    switch (id) {
        // One control byte.
        case Id::LineFeed:
        case Id::FormFeed:
            printLine(lineSpacing_, true);
            break;
        case Id::HorizontalTab: {
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

        // ESC
        case Id::CharacterSpacing: charSpacing_ = across(a); break;
        case Id::PrintMode:  // bit 0 chooses the font as ESC M does: Font1 or Font2
            mode_ = a;
            font_ = a & 1;
            // The size as its bits 5 and 4 say (single or double), in place of what GS ! set.
            sizeW_ = (a & protocol::kModeDoubleWidth) ? 2 : 1;
            sizeH_ = (a & protocol::kModeDoubleHeight) ? 2 : 1;
            kanjiQuadruple_ = false;
            break;
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
        case Id::Underline: underline_ = (a >= 48 ? a - 48 : a) > 2 ? 0 : (a >= 48 ? a - 48 : a); break;
        case Id::DefaultLineSpacing: lineSpacing_ = kDefaultLineSpacing; break;
        case Id::LineSpacing: lineSpacing_ = along(a); break;
        case Id::Initialise:  // the unprinted line is dropped, the modes return to their defaults
            line_.clear();
            owned_.clear();
            lineStarted_ = false;
            xSet_ = false;
            resetModes();
            pictures_.downloaded.reset();
            break;
        case Id::TabPositions:
            tabs_.clear();
            for (size_t i = 2; i < n && p[i] != 0; ++i) {
                if (tabs_.empty() || p[i] > tabs_.back()) tabs_.push_back(p[i]);
            }
            break;
        case Id::Emphasized: emphasized_ = a & 1; break;
        case Id::DoubleStrike: doubleStrike_ = a & 1; break;
        case Id::FeedDots: printLine(along(a), false); break;
        case Id::ReverseFeed:
        case Id::ReverseFeedDots: reverseFeed(along(a)); break;
        case Id::ReverseFeedLines: reverseFeed(lineSpacing_ * a); break;
        case Id::UserCharacterSet: userSet_ = a & 1; break;
        case Id::DefineUserCharacters: userChars_.define(font_, p, n); break;
        case Id::CancelUserCharacter: userChars_.erase(font_, a); break;
        case Id::Rotation: turned_ = (a % 48 == 1 || a % 48 == 2) && a < 51; break;  // 1, 2, 49, 50
        case Id::UpsideDown:
            upsideDown_ = a & 1;
            if (!lineStarted_) lineUpsideDown_ = upsideDown_;
            break;
        case Id::Font: font_ = std::clamp(a >= 48 ? a - 48 : static_cast<int>(a), 0, kFontCount - 1); break;
        case Id::RightMargin: rightMargin_ = a; break;
        case Id::InternationalSet: chars_.international = a; break;
        case Id::Alignment: align_ = std::clamp(a >= 48 ? a - 48 : static_cast<int>(a), 0, 2); break;
        case Id::FeedLines: printLine(lineSpacing_ * a, a != 0); break;
        case Id::PartialCut: cut(0); break;
        case Id::LeftMargin: leftMargin_ = a; break;
        case Id::PrintDensity: density_ = static_cast<uint8_t>(std::clamp<int>(a, 1, 8)); break;
        case Id::CodeTable: chars_.codeTable = a; break;
        case Id::PrintColour:  // 0 or 48: black; 1 or 49: red; any other: no change
            if (a == 0 || a == 48 || a == 1 || a == 49) red_ = (a & 1) != 0;
            break;

        // FS
        case Id::KanjiOn: chars_.kanji = true; break;
        case Id::KanjiOff:
            chars_.kanji = false;
            lead_.clear();
            break;
        case Id::TableRow: tableRow(p, n); break;
        case Id::StoreImages: storeImages(p, n); break;
        case Id::PrintStoredImage: printStoredImage(a, p[3]); break;
        case Id::KanjiCodeSystem: chars_.kanjiSystem = SystemOfFsC(chars_.kanjiSystem, a); break;
        case Id::KanjiQuadruple: kanjiQuadruple_ = a & 1; break;

        // GS
        case Id::CharacterSize:  // an n with bit 3 or 7 set is out of range: ignored
            if (a & 0x88) break;
            sizeW_ = ((a >> 4) & 7) + 1;
            sizeH_ = (a & 7) + 1;
            kanjiQuadruple_ = false;
            break;
        case Id::Symbol2D: symbol2D(p, n); break;
        case Id::Graphics: graphics(p + 5, n - 5); break;
        case Id::LargeGraphics:
            if (a == 'L') graphics(p + 7, n - 7);
            break;
        case Id::DefineDownloadedImage: defineDownloadedImage(p, n); break;
        case Id::PrintDownloadedImage: printDownloadedImage(a); break;
        case Id::ReversePrinting: reverse_ = a & 1; break;
        case Id::BarcodeTextPosition: hri_ = a & 3; break;
        case Id::LeftMarginDots: leftMarginDots_ = across(static_cast<int64_t>(Word(p + 2))); break;
        case Id::PrintAreaWidth: printWidth_ = across(static_cast<int64_t>(Word(p + 2))); break;
        case Id::Cut: {
            const bool withFeed = n > 3;
            cut(withFeed ? along(p[3]) : 0);
            break;
        }
        case Id::BarcodeTextFont: hriFont_ = std::clamp(a >= 48 ? a - 48 : static_cast<int>(a), 0, 1); break;
        case Id::BarcodeHeight: barHeight_ = a; break;
        case Id::Barcode: barcode(p, n); break;
        case Id::RasterImage: raster(p, n); break;
        case Id::BarcodeWidth: barWidth_ = a; break;
        default: break;
    }
}

// ---------------------------------------------------------------------------------------------
// Geometry and glyphs

int Interpreter::areaLeft() const {
    if (page_) return 0;  // page mode: the print area's start, GS L aside
    const int left = leftMargin_ * 8 + leftMarginDots_;
    return std::clamp(left, 0, paper_.width() - 8);
}

int Interpreter::areaRight() const {
    if (page_) return page_->across();
    int right = paper_.width() - rightMargin_ * 8;
    // GS W: at least one cell of Font1 wide.
    if (printWidth_ > 0) right = std::min(right, areaLeft() + std::max(printWidth_, kFontCells[0].width));
    return right <= areaLeft() + 8 ? paper_.width() : right;
}

int Interpreter::scaleX(bool kanji) const {
    const int w = kanji && kanjiQuadruple_ ? 2 : sizeW_;
    return lineWide_ ? std::min(2 * w, 8) : w;
}
int Interpreter::scaleY(bool kanji) const { return kanji && kanjiQuadruple_ ? 2 : sizeH_; }

uint8_t Interpreter::glyphStyle() const {
    uint8_t s = mode_ & (protocol::kModeItalic | protocol::kModeBorder | protocol::kModeEmphasized | protocol::kModeHighlight | protocol::kModeUnderline);
    if (emphasized_ || doubleStrike_) s |= protocol::kModeEmphasized;
    if (reverse_) s |= protocol::kModeHighlight;
    return s;
}

uint64_t Interpreter::glyphLook(bool kanji) const {
    return static_cast<uint64_t>(font_) << 22 | static_cast<uint64_t>(glyphStyle()) << 24 |
           static_cast<uint64_t>(scaleX(kanji) - 1) << 32 | static_cast<uint64_t>(scaleY(kanji) - 1) << 36 |
           static_cast<uint64_t>(underline_) << 40 | static_cast<uint64_t>(turnedNow()) << 42 |
           static_cast<uint64_t>(condensed_) << 43;
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

    const int font = wide ? 0 : font_;
    const GlyphLook styled{glyphStyle(), underline_, scaleX(wide), scaleY(wide), turnedNow(), condensed_};
    if (glyphs_.size() >= kGlyphCacheLimit && line_.empty()) {
        glyphs_.clear();
        asciiGlyphs_.fill(nullptr);
    }
    Bitmap& made = glyphs_.emplace(key, StyleGlyph(PlainGlyph(font, ch, wide ? 2 : 1), styled)).first->second;
    if (ascii) asciiGlyphs_[ch] = &made;
    return made;
}

void Interpreter::putCharacter(char32_t ch, bool wide) {
    if (!inTable_ && line_.size() >= kMaxLineElements) printLine(lineSpacing_, true);
    placeGlyph(styledGlyph(ch, wide));
}

void Interpreter::placeGlyph(const Bitmap& glyph) {
    if (!lineStarted_ && !xSet_) x_ = areaLeft();
    if (inTable_ && x_ + glyph.width > areaRight()) return;  // a table cell is cut at the edge
    if (x_ + glyph.width > areaRight() && x_ > areaLeft()) {
        printLine(lineSpacing_, true);  // the line is full: it prints, the character starts the next
        x_ = areaLeft();
    }
    line_.push_back({x_, -1, &glyph, ink()});
    x_ += glyph.width + charSpacing_ * scaleX();
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
    lineWide_ = false;  // SO lasts for one line
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
        const int shift = spare <= 0 ? 0 : align_ == 1 ? spare / 2 : align_ == 2 ? spare : 0;
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
    lineUpsideDown_ = upsideDown_;
}

void Interpreter::printBlock(const Bitmap& block, Block kind) {
    if (page_) {
        if (kind != Block::StandardOnly) placePageBlock(block);
        return;
    }
    if (lineStarted_) printLine(lineSpacing_, true);
    const int spare = areaRight() - areaLeft() - block.width;
    const int shift = spare <= 0 ? 0 : align_ == 1 ? spare / 2 : align_ == 2 ? spare : 0;
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
