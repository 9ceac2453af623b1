#include "receipt/command_decoder.h"

#include <algorithm>

#include "receipt/interpreter.h"  // the models' widths

namespace pellory::receipt {

namespace {

using Id = protocol::CommandId;

// The stream goes to the command splitter in pieces of at most this many bytes, and a command of
// a long kind still incomplete with this many bytes is taken over as a long command: so the
// splitter never holds more than about twice this.
constexpr size_t kSplitPiece = 64 * 1024;
constexpr size_t kLongCommandFrom = 64 * 1024;

}  // namespace

CommandDecoder::CommandDecoder() : CommandDecoder(kOrva58Dots, kOrva80Dots) {}

CommandDecoder::CommandDecoder(int paperDots, int widestDots)
    : modes_(CurrentKanjiModel()), area_{paperDots, false, widestDots}, decoder_(CurrentCharacterDecoder()) {}

void CommandDecoder::feed(const uint8_t* data, size_t n) {
    const auto sink = [this](protocol::Command::Kind kind, const uint8_t* bytes, size_t length) {
        command(kind, bytes, length);
        offset_ += length;
    };
    while (n > 0 && !halted_) {
        size_t used = 0;
        if (long_) {
            used = feedLong(data, n);
        } else {
            used = std::min(n, kSplitPiece);
            splitter_.feed(data, used, sink);
            const protocol::Bytes& pending = splitter_.pending();
            if (pending.size() >= kLongCommandFrom && LongCommand::Recognised(pending.data(), pending.size())) {
                takeOverLong();
            }
        }
        data += used;
        n -= used;
    }
}

void CommandDecoder::finish() {
    if (halted_) return;
    lines_.flush();
    // A long command cut short is named by its header, with how much of it came.
    const protocol::Bytes& pending = splitter_.pending();
    if (!long_ && LongCommand::Recognised(pending.data(), pending.size())) takeOverLong();
    if (long_) endLong(false);
    if (splitter_.pendingSize() == 0) return;
    lines_.unfinished(offset_, splitter_.pending());
    offset_ += splitter_.pendingSize();
    splitter_.reset();
}

void CommandDecoder::takeOverLong() {
    const protocol::Bytes start = splitter_.pending();  // the start of the command: its header and more
    splitter_.reset();
    long_ = std::make_unique<LongCommand>();
    feedLong(start.data(), start.size());
}

size_t CommandDecoder::feedLong(const uint8_t* data, size_t n) {
    const size_t used = long_->take(data, n, {});
    if (long_->complete()) endLong(true);
    return used;
}

void CommandDecoder::endLong(bool complete) {
    const LongCommand& c = *long_;
    lines_.longCommand(offset_, c, complete);
    if (c.isRaster() && complete && !modes_.pageMode) lineStarted_ = false;  // see followLine
    offset_ += static_cast<size_t>(c.taken());
    long_.reset();
}

void CommandDecoder::command(protocol::Command::Kind kind, const uint8_t* p, size_t n) {
    if (halted_) return;
    if (kind == protocol::Command::Kind::Text) {
        text(p, n);
        return;
    }
    lines_.command(offset_, p, n, modes_, lineStarted_, symbols_, area_);
    const protocol::CommandEntry* entry = protocol::FindCommand(p, n);
    if (!entry) return;
    // ESC W n of the Star and ESC/P printers (3 bytes, see Rule::PageArea) is not this printer's.
    if (!entry->otherFamily() && entry->id == Id::PageArea && n < entry->length.head) return;
    if (!entry->otherFamily()) followLine(entry->id, p, n);
    modes_.apply(entry->id, p, n, lineStarted_, area_.dots);
}

void CommandDecoder::text(const uint8_t* p, size_t n) {
    std::string shown;
    std::vector<uint8_t> bytes;
    const std::span<const uint8_t> run = WithHeldLead(lead_, p, n, bytes);
    const uint8_t* src = run.data();
    const size_t count = run.size();
    for (size_t i = 0; i < count && !halted_;) {
        const DecodedCharacter d = decoder_->decode(modes_.chars, src + i, count - i);
        if (d.length == 0) {
            lead_.assign(src + i, src + count);
            break;
        }
        if (lines_.on()) AppendUtf8(shown, d.ch);
        lineStarted_ = true;
        i += d.length;
    }
    lines_.text(offset_, p, n, shown);
}

void CommandDecoder::followLine(protocol::CommandId id, const uint8_t* p, size_t n) {
    // Only standard mode's line decides an ESC L; leaving page mode ends the page's. The line ends
    // on a feed, a cut, ESC @, or a block that prints on a line of its own.
    if (id == Id::Initialise || modes_.endsPage(id)) lineStarted_ = false;
    if (modes_.pageMode) return;
    switch (id) {
        case Id::BitImage:
            if (n >= 5 && (p[2] == 0 || p[2] == 1 || p[2] == 32 || p[2] == 33)) lineStarted_ = true;
            break;
        case Id::LineFeed:
        case Id::FormFeed:
        case Id::FeedDots:
        case Id::FeedLines:
        case Id::ReverseFeed:
        case Id::ReverseFeedDots:
        case Id::ReverseFeedLines:
        case Id::PartialCut:
        case Id::Cut:
        case Id::Barcode:
        case Id::PrintStoredImage:
        case Id::PrintDownloadedImage:
            lineStarted_ = false;
            break;
        case Id::RasterImage:
            if (n >= 8) lineStarted_ = false;
            break;
        case Id::TableRow:  // a row of cells prints at once, when its header is whole
            if (n >= 4 && n >= 4u + p[2] && 4u + p[2] + p[3 + p[2]] <= n) lineStarted_ = false;
            break;
        case Id::Symbol2D:  // the print function
            if (n > 6 && p[6] == protocol::symbol2d::kPrint) lineStarted_ = false;
            break;
        case Id::Graphics:
        case Id::LargeGraphics: {  // print the buffer (2, 50) or stored graphics (69, 85)
            const size_t at = id == Id::Graphics ? 6 : 8;
            const uint8_t fn = n > at ? p[at] : 0;
            if ((id == Id::Graphics || p[2] == 'L') && (fn == 2 || fn == 50 || fn == 69 || fn == 85)) {
                lineStarted_ = false;
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace pellory::receipt
