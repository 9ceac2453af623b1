#include "protocol/command_splitter.h"

#include <algorithm>
#include <atomic>

#include "protocol/command_table.h"

namespace pellory::protocol {

namespace {

// How a command goes on after the head bytes seen so far. The head is every byte of the command
// but the data of its images (and of GS 8): the introducer, the parameters, and the size fields
// that sit between images (FS q, ESC &). Data follow the head at fixed points; `segments` tells
// how many data runs have passed. The answer depends only on head bytes before `at`, so a longer
// head gives the same answer.
struct Frame {
    enum Step { More, Data, End };
    Step step = More;
    size_t at = 0;     // Data, End: head bytes up to here
    size_t count = 0;  // Data: this many data bytes come next
};

constexpr Frame kMore{};
inline Frame EndAt(size_t at) { return Frame{Frame::End, at, 0}; }
inline Frame DataAt(size_t at, size_t count) { return Frame{Frame::Data, at, count}; }
// A command of k bytes without data.
inline Frame Fixed(size_t k, size_t n) { return n >= k ? EndAt(k) : kMore; }
// A head of `head` bytes, then `count` data bytes, then the end.
inline Frame Single(size_t head, size_t count, size_t segments) {
    return segments == 0 ? DataAt(head, count) : EndAt(head);
}

inline size_t Word(const uint8_t* p) { return static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8; }

// Finds the zero byte that ends a field starting at `from`, with at most `maxData` bytes before
// it. Returns the offset just past the field (past its zero byte, or past maxData bytes when
// none came), or 0 when the bytes end first.
size_t ZeroTerminated(const uint8_t* p, size_t n, size_t from, size_t maxData) {
    for (size_t i = from; i < n; ++i) {
        if (p[i] == 0) return i + 1;
        if (i - from + 1 == maxData) {
            if (i + 1 >= n) return 0;  // the next byte decides
            return p[i + 1] == 0 ? i + 2 : i + 1;
        }
    }
    return 0;
}

inline Frame FromOffset(size_t end) { return end == 0 ? kMore : EndAt(end); }

// The frame of a command of the table, by its length rule (see Rule); p[0, n) holds its whole
// introducer.
Frame RuleFrame(const CommandEntry& entry, const uint8_t* p, size_t n, size_t segments) {
    const LengthRule& r = entry.length;
    const size_t head = r.head;
    switch (r.rule) {
    case Rule::Fixed:
        return Fixed(head, n);
    case Rule::ZeroTerminated:
        return FromOffset(ZeroTerminated(p, n, head, r.limit));
    case Rule::Prefix16:
        if (n < head) return kMore;
        return Fixed(head + Word(p + head - 2), n);
    case Rule::Prefix32:
        if (n < head) return kMore;
        return Single(head, Word(p + head - 4) | Word(p + head - 2) << 16, segments);
    case Rule::BitImage: {  // ESC * m nL nH d1..dk: k = n columns, times 3 in the 24-dot modes
        if (n < head) return kMore;
        // A mode the printer does not name is read by its bits as 32 and 33 are: bit 5 set and
        // bit 4 clear is 24 dots (the Daruma printers' mode 109 is such a one), any other 8 dots.
        const size_t columns = Word(p + 3);
        return Single(head, (p[2] & 0x30) == 0x20 ? 3 * columns : columns, segments);
    }
    case Rule::DownloadedImage:  // GS * x y + x*y*8 bytes
        if (n < head) return kMore;
        return Single(head, static_cast<size_t>(p[2]) * p[3] * 8, segments);
    case Rule::RasterImage:  // GS v 0 m xL xH yL yH + (xL + 256 xH) * (yL + 256 yH) bytes
        if (n < head) return kMore;
        return Single(head, Word(p + 4) * Word(p + 6), segments);
    case Rule::StoredImages: {  // FS q n, then n images of xL xH yL yH + x*y*8 bytes
        if (n < head) return kMore;
        const size_t at = head + 4 * segments;  // the size of the next image
        if (segments == p[2]) return EndAt(at);
        if (n < at + 4) return kMore;
        return DataAt(at + 4, Word(p + at) * Word(p + at + 2) * 8);
    }
    case Rule::UserCharacters: {  // ESC & y c1 c2, then for each character: x, then y*x bytes
        if (n < head) return kMore;
        // The printer refuses a command out of its ranges and reads what follows as print data:
        // y 1 to 3, codes 32 to 126, x at most 12 (the widest cell). It ends with the first value
        // out of range.
        if (p[2] < 1 || p[2] > 3 || p[3] < 32 || p[4] > 126) return EndAt(head);
        const size_t characters = p[4] >= p[3] ? size_t{p[4]} - p[3] + 1 : 0;
        const size_t at = head + segments;  // the x of the next character
        if (segments == characters) return EndAt(at);
        if (n < at + 1) return kMore;
        if (p[at] > 12) return EndAt(at + 1);
        return DataAt(at + 1, size_t{p[2]} * p[at]);
    }
    case Rule::TableRow: {  // FS V: k positions, cell count c, c positions, per cell a byte and a text
        if (n < head) return kMore;
        size_t off = head + p[2];
        if (n < off + 1) return kMore;
        const size_t cells = p[off];
        off += 1 + cells;
        for (size_t c = 0; c < cells; ++c) {
            if (n < off + 1) return kMore;
            off = ZeroTerminated(p, n, off + 1, r.limit);
            if (off == 0) return kMore;
        }
        return Fixed(off, n);
    }
    case Rule::Cut: {  // GS V m [n]
        if (n < head) return kMore;
        const uint8_t m = p[2];
        const bool withN = m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104;
        return Fixed(withN ? head + 1 : head, n);
    }
    case Rule::Barcode:  // GS k m ...
        if (n < head) return kMore;
        if (p[2] >= 65) {  // m n d1..dn
            if (n < head + 1) return kMore;
            return Fixed(head + 1 + p[3], n);
        }
        return FromOffset(ZeroTerminated(p, n, head, r.limit));  // m d1..dk NUL
    case Rule::RealTimeFunction:  // DLE DC4 fn ...
        if (n < head) return kMore;
        switch (p[2]) {
        case 1: case 2: return Fixed(5, n);
        case 3: return Fixed(8, n);  // the buzzer: a n r t1 t2
        case 7: return Fixed(4, n);
        case 8: return Fixed(10, n);
        default: return EndAt(head);
        }
    case Rule::PageArea:  // ESC W xL xH yL yH dxL dxH dyL dyH, or another family's ESC W n
        if (n < 4) return kMore;
        if ((p[2] == 0 || p[2] == 1 || p[2] == 48 || p[2] == 49) && p[3] >= 8) return EndAt(3);
        return Fixed(head, n);
    case Rule::Unsized:
        return EndAt(entry.introducer.size);
    }
    return EndAt(entry.introducer.size);
}

// An ESC, FS, GS or DLE command: its entry's rule, or the length of an unknown one.
Frame IntroducedFrame(const uint8_t* p, size_t n, size_t segments) {
    const CommandMatch m = MatchCommand(p, n);
    switch (m.status) {
    case CommandMatch::Status::NeedMore: return kMore;
    case CommandMatch::Status::Found: return RuleFrame(*m.entry, p, n, segments);
    case CommandMatch::Status::Unknown:
    case CommandMatch::Status::Text: break;
    }
    return EndAt(UnknownCommandLength(p[0]));
}

// The text run at the start of p[0, n) (n > 0): it is complete where the bytes end.
size_t TextRun(const uint8_t* p, size_t n) {
    size_t i = 1;
    while (i < n && p[i] >= kFirstText) ++i;
    return i;
}

// The frame of the command whose head is p[0, n) (n > 0), with `segments` data runs passed.
Frame FrameOf(const uint8_t* p, size_t n, size_t segments) {
    switch (CommandKindOf(p[0])) {
    case Command::Kind::Text: return EndAt(TextRun(p, n));
    case Command::Kind::Control: return EndAt(1);
    case Command::Kind::Esc:
    case Command::Kind::Fs:
    case Command::Kind::Gs:
    case Command::Kind::Dle: return IntroducedFrame(p, n, segments);
    }
    return EndAt(1);
}

// FrameOf, past data runs of no bytes (counted in segments).
Frame NextFrame(const uint8_t* p, size_t n, size_t& segments) {
    for (;;) {
        const Frame f = FrameOf(p, n, segments);
        if (f.step != Frame::Data || f.count > 0) return f;
        ++segments;
    }
}

}  // namespace

Command::Kind CommandKindOf(uint8_t first) {
    switch (first) {
    case kEsc: return Command::Kind::Esc;
    case kFs: return Command::Kind::Fs;
    case kGs: return Command::Kind::Gs;
    case kDle: return Command::Kind::Dle;
    default: return first >= kFirstText ? Command::Kind::Text : Command::Kind::Control;
    }
}

size_t CommandLength(const uint8_t* data, size_t n) {
    if (n == 0) return 0;
    size_t segments = 0;
    Frame f = NextFrame(data, n, segments);
    if (f.step != Frame::Data) return f.step == Frame::End ? f.at : 0;
    // The head is data[0, f.at) so far; the size fields of FS q and ESC & that follow a data run
    // are gathered into a head of its own.
    Bytes gathered;
    const uint8_t* head = data;
    size_t headSize = f.at;
    size_t pos = f.at;  // in data
    for (;;) {
        if (n - pos < f.count) return 0;
        pos += f.count;
        ++segments;
        f = NextFrame(head, headSize, segments);
        while (f.step == Frame::More) {
            if (pos >= n) return 0;
            if (gathered.empty()) gathered.assign(head, head + headSize);
            gathered.push_back(data[pos++]);
            head = gathered.data();
            headSize = gathered.size();
            f = NextFrame(head, headSize, segments);
        }
        if (f.step == Frame::End) return pos - (headSize - f.at);
    }
}

namespace {

// Counted once for each piece fed, not for each command: the splitters of several threads share it.
std::atomic<uint64_t> gSplitBytes{0};

}  // namespace

uint64_t SplitBytesHandedOut() { return gSplitBytes.load(std::memory_order_relaxed); }

size_t CommandSplitter::run(const uint8_t* data, size_t n, const Sink& sink) {
    size_t pos = 0;
    while (pos < n) {
        const size_t len = CommandLength(data + pos, n - pos);
        if (len == 0) break;
        sink(CommandKindOf(data[pos]), data + pos, len);
        pos += len;
    }
    if (pos > 0) gSplitBytes.fetch_add(pos, std::memory_order_relaxed);
    return pos;
}

void CommandSplitter::feed(const uint8_t* data, size_t n, const Sink& sink) {
    if (n == 0) return;
    if (pending_.empty()) {
        const size_t used = run(data, n, sink);
        pending_.assign(data + used, data + n);
        return;
    }
    pending_.insert(pending_.end(), data, data + n);
    const size_t used = run(pending_.data(), pending_.size(), sink);
    if (used > 0) pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
}

// --- PieceSplitter ---

void PieceSplitter::reset() {
    head_.clear();
    head_.shrink_to_fit();
    handedHead_ = 0;
    segments_ = 0;
    dataLeft_ = 0;
    started_ = false;
}

void PieceSplitter::hand(const uint8_t* bytes, size_t length, bool last, const Sink& sink) {
    sink(Piece{kind_, bytes, length, !started_, last});
    started_ = !last;
    if (last) {
        head_.clear();
        handedHead_ = 0;
        segments_ = 0;
    }
}

// A frame reached with the head in head_: hands out the head bytes not handed out yet.
void PieceSplitter::headDone(size_t at, bool end, const Sink& sink) {
    const size_t from = handedHead_;
    handedHead_ = at;
    hand(head_.data() + from, at - from, end, sink);
}

void PieceSplitter::feed(const uint8_t* data, size_t n, const Sink& sink) {
    size_t pos = 0;
    while (pos < n) {
        if (dataLeft_ > 0) {
            // Data pass through; only their count is kept.
            const size_t take = std::min(dataLeft_, n - pos);
            dataLeft_ -= take;
            bool end = false;
            if (dataLeft_ == 0) {
                ++segments_;
                const Frame f = NextFrame(head_.data(), head_.size(), segments_);
                end = f.step == Frame::End;
                if (f.step == Frame::Data) dataLeft_ = f.count;  // the head goes on at f.at == its size
            }
            hand(data + pos, take, end, sink);
            pos += take;
            continue;
        }
        if (head_.empty()) {
            // A command starts: taken from the input itself where it is there whole.
            const uint8_t* p = data + pos;
            kind_ = CommandKindOf(p[0]);
            const Frame f = NextFrame(p, n - pos, segments_);
            if (f.step == Frame::End) {
                hand(p, f.at, true, sink);
                pos += f.at;
            } else if (f.step == Frame::Data) {
                head_.assign(p, p + f.at);
                handedHead_ = f.at;
                dataLeft_ = f.count;
                hand(p, f.at, false, sink);
                pos += f.at;
            } else {
                head_.assign(p, data + n);
                pos = n;
            }
            continue;
        }
        // More head bytes of the command in progress, a slice at a time: the bytes past the head
        // go back to the input.
        const size_t before = head_.size();
        const size_t add = std::min(n - pos, std::max<size_t>(kHeadSlice, before));
        head_.insert(head_.end(), data + pos, data + pos + add);
        const Frame f = NextFrame(head_.data(), head_.size(), segments_);
        if (f.step == Frame::More) {
            pos += add;
            continue;
        }
        pos += f.at - before;
        head_.resize(f.at);
        if (f.step == Frame::Data) dataLeft_ = f.count;
        headDone(f.at, f.step == Frame::End, sink);
    }
}

SplitResult SplitCommands(const Bytes& stream) {
    SplitResult result;
    CommandSplitter splitter;
    splitter.feed(stream.data(), stream.size(), [&](Command::Kind kind, const uint8_t* bytes, size_t length) {
        if (kind == Command::Kind::Text && !result.commands.empty() && result.commands.back().kind == Command::Kind::Text) {
            auto& b = result.commands.back().bytes;
            b.insert(b.end(), bytes, bytes + length);
        } else {
            result.commands.push_back(Command{kind, Bytes(bytes, bytes + length)});
        }
        result.consumed += length;
    });
    return result;
}

}  // namespace pellory::protocol
