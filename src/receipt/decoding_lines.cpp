#include "receipt/decoding_lines.h"

#include <string>
#include <utility>

namespace pellory::receipt {

namespace {

using Id = protocol::CommandId;

size_t Word(const uint8_t* p) { return static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8; }

}  // namespace

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

void PageMeaning(protocol::CommandId id, const PrinterModes& modes, bool lineStarted, std::string& meaning) {
    switch (id) {
        case Id::FormFeed:
            if (modes.pageMode) meaning = "print the page, back to standard mode";
            break;
        case Id::LineFeed:
            if (modes.pageMode) meaning = "next line of the page";
            break;
        case Id::Cancel:
            if (modes.pageMode) meaning = "cancel the page's data in the print area";
            break;
        case Id::PageMode:
            if (modes.pageMode) {
                meaning += " (in page mode already: ignored)";
            } else if (lineStarted) {
                meaning += " (in the middle of a line: ignored)";
            }
            break;
        case Id::StandardMode:
        case Id::PageModePrint:
        case Id::PageVerticalPosition:
        case Id::PageRelativePosition:
            if (!modes.pageMode) meaning += " (in standard mode: ignored)";
            break;
        default:
            break;
    }
}

void UnitsMeaning(protocol::CommandId id, const uint8_t* p, size_t n, const PrinterModes& modes, std::string& meaning) {
    // The unit the command counts in: along the characters or down the lines (swapped sideways).
    int unit = 0;
    int64_t value = 0;
    switch (id) {
        case Id::CharacterSpacing:
        case Id::LineSpacing:
        case Id::FeedDots:
        case Id::ReverseFeed:
        case Id::ReverseFeedDots:
            value = n > 2 ? p[2] : 0;
            break;
        case Id::Cut:
            if (n < 4) return;  // no feed
            value = p[3];
            break;
        case Id::AbsolutePosition:
        case Id::LeftMarginDots:
        case Id::PrintAreaWidth:
        case Id::PageVerticalPosition:
            value = static_cast<int64_t>(Word(p + 2));
            break;
        case Id::RelativePosition:
        case Id::PageRelativePosition:
            value = static_cast<int16_t>(Word(p + 2));
            break;
        case Id::PageArea: {
            if (n < 10 || (modes.unitX == kDotsPerInch && modes.unitY == kDotsPerInch)) return;
            meaning += " (" + std::to_string(MotionDots(static_cast<int64_t>(Word(p + 2)), modes.unitX)) + ", " +
                       std::to_string(MotionDots(static_cast<int64_t>(Word(p + 4)), modes.unitY)) + ", " +
                       std::to_string(MotionDots(static_cast<int64_t>(Word(p + 6)), modes.unitX)) + " x " +
                       std::to_string(MotionDots(static_cast<int64_t>(Word(p + 8)), modes.unitY)) + " dots)";
            return;
        }
        default:
            return;
    }
    switch (id) {
        case Id::CharacterSpacing:
        case Id::AbsolutePosition:
        case Id::RelativePosition:
        case Id::LeftMarginDots:
        case Id::PrintAreaWidth:
            unit = modes.sideways() ? modes.unitY : modes.unitX;
            break;
        default:
            unit = modes.sideways() ? modes.unitX : modes.unitY;
            break;
    }
    if (unit == kDotsPerInch) return;  // units are dots: the decoding says dots
    const std::string dots = " (" + std::to_string(MotionDots(value, unit)) + " dots)";
    if (meaning.ends_with(" units")) {  // GS $, GS \: already in units
        meaning += dots;
        return;
    }
    // The value the decoding gave in dots, at the end: said again in units.
    if (!meaning.ends_with(" dots")) return;
    const size_t at = meaning.rfind(' ', meaning.size() - std::string(" dots").size() - 1);
    if (at == std::string::npos) return;
    meaning = meaning.substr(0, at + 1) + std::to_string(value) + " units" + dots;
}

void DecodingLines::text(size_t offset, const uint8_t* p, size_t n, const std::string& shown) {
    if (!sink_) return;
    // The run goes on from the part before (cut by the end of a piece): one line for both.
    if (text_ && text_->bytes.size() + n <= kTextLineBytes) {
        text_->bytes.insert(text_->bytes.end(), p, p + n);
        text_->meaning.insert(text_->meaning.size() - 1, shown);
        return;
    }
    flush();
    text_.emplace();
    text_->offset = offset;
    text_->bytes.assign(p, p + n);
    text_->meaning = "\"" + shown + "\"";
    text_->text = true;
}

void DecodingLines::command(size_t offset, const uint8_t* p, size_t n, const PrinterModes& modes, bool lineStarted,
                            const SymbolMaker& symbols, SymbolArea area) {
    if (!sink_) return;
    flush();
    const CommandInfo info = DescribeCommand(p, n);
    DecodedCommand c;
    c.offset = offset;
    c.bytes.assign(p, p + n);
    c.mnemonic = info.mnemonic;
    c.meaning = info.meaning;
    c.known = info.known;
    c.family = info.family;
    const protocol::CommandEntry* e = protocol::FindCommand(p, n);
    if (e && info.known) {
        UnitsMeaning(e->id, p, n, modes, c.meaning);
        PageMeaning(e->id, modes, lineStarted, c.meaning);
    }
    if (info.known) {
        if (const std::string why = symbols.printFault(p, n, modes, area); !why.empty())
            c.meaning += " (prints nothing: " + why + ")";
    }
    if (e && e->otherFamily()) SymbolMaker::DialectMeaning(e->id, p, n, modes.dialectKind, area.dots, c.family);
    sink_(c);
}

void DecodingLines::longCommand(size_t offset, const LongCommand& c, bool complete) {
    if (!sink_) return;
    flush();
    const CommandInfo info = DescribeCommandStart(c.head().data(), c.head().size());
    DecodedCommand d;
    d.offset = offset;
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

void DecodingLines::unfinished(size_t offset, const protocol::Bytes& bytes) {
    if (!sink_) return;
    // The command splitter keeps the bytes of the incomplete command; hand them over as they are.
    DecodedCommand c;
    c.offset = offset;
    c.bytes = bytes;
    const CommandInfo info = DescribeCommand(c.bytes.data(), c.bytes.size());
    c.mnemonic = info.mnemonic;
    c.family = info.family;
    c.known = false;
    sink_(c);
}

void DecodingLines::flush() {
    if (!text_) return;
    const DecodedCommand c = std::move(*text_);
    text_.reset();
    sink_(c);
}

}  // namespace pellory::receipt
