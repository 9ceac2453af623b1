#include "vprinter/command_splitter.h"

namespace pellory::vprinter {

namespace {

constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kFs = 0x1C;
constexpr uint8_t kGs = 0x1D;

constexpr size_t kMaxTabPositions = 32;    // ESC D
constexpr size_t kMaxBarcodeData = 255;    // GS k, zero-terminated forms
constexpr size_t kMaxCellText = 255;       // FS V, each cell text

// The whole command is k bytes long: complete when n reaches k.
inline size_t Need(size_t k, size_t n) { return n >= k ? k : 0; }

inline size_t Word(const uint8_t* p) { return static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8; }

// Finds the zero byte that ends a field starting at `from`, with at most `maxData` bytes before
// it. Returns the offset just past the field (past its zero byte, or past maxData bytes when
// none came), or 0 when the data end first.
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

size_t EscLength(const uint8_t* p, size_t n) {
    if (n < 2) return 0;
    switch (p[1]) {
    // ESC FF, ESC 2, ESC <, ESC @, ESC L, ESC S, ESC i, ESC v: no parameter
    case 0x0C: case 0x32: case 0x3C: case 0x40: case 0x4C: case 0x53: case 0x69: case 0x76:
        return 2;
    // ESC SP, !, %, -, 3, =, ?, E, G, J, M, Q, R, T, U, V, a, d, e, j, l, m, r, t, u, {: one byte
    case 0x20: case 0x21: case 0x25: case 0x2D: case 0x33: case 0x3D: case 0x3F: case 0x45:
    case 0x47: case 0x4A: case 0x4D: case 0x51: case 0x52: case 0x54: case 0x55: case 0x56:
    case 0x61: case 0x64: case 0x65: case 0x6A: case 0x6C: case 0x6D: case 0x72: case 0x74:
    case 0x75: case 0x7B:
        return Need(3, n);
    // ESC $ nL nH, ESC \ nL nH, ESC c x n
    case 0x24: case 0x5C: case 0x63:
        return Need(4, n);
    case 0x70:  // ESC p m t1 t2
        return Need(5, n);
    case 0x57:  // ESC W: print area, 8 bytes
        return Need(10, n);
    case 0x44:  // ESC D n1 .. nk NUL, k <= 32
        return ZeroTerminated(p, n, 2, kMaxTabPositions);
    case 0x2A: {  // ESC * m nL nH d1..dk: k = n columns, times 3 in the 24-dot modes
        if (n < 5) return 0;
        const size_t columns = Word(p + 3);
        const size_t k = (p[2] == 32 || p[2] == 33) ? 3 * columns : columns;
        return Need(5 + k, n);
    }
    case 0x26: {  // ESC & y c1 c2, then for each character: x, then y*x bytes
        if (n < 5) return 0;
        const size_t y = p[2];
        size_t off = 5;
        for (unsigned c = p[3]; c <= p[4]; ++c) {
            if (n < off + 1) return 0;
            off += 1 + y * p[off];
        }
        return Need(off, n);
    }
    default:
        return 2;
    }
}

size_t FsLength(const uint8_t* p, size_t n) {
    if (n < 2) return 0;
    switch (p[1]) {
    case 0x26: case 0x2E:  // FS &, FS .
        return 2;
    // FS !, FS -, FS C, FS W, FS s: one byte
    case 0x21: case 0x2D: case 0x43: case 0x57: case 0x73:
        return Need(3, n);
    case 0x53: case 0x70:  // FS S n1 n2, FS p n m
        return Need(4, n);
    case 0x32:  // FS 2 c1 c2 + a 24 x 24 character (72 bytes)
        return Need(4 + 72, n);
    case 0x28:  // FS ( fn pL pH data
        if (n < 5) return 0;
        return Need(5 + Word(p + 3), n);
    case 0x71: {  // FS q n, then n images of xL xH yL yH + x*y*8 bytes
        if (n < 3) return 0;
        size_t off = 3;
        for (unsigned i = 0; i < p[2]; ++i) {
            if (n < off + 4) return 0;
            off += 4 + Word(p + off) * Word(p + off + 2) * 8;
        }
        return Need(off, n);
    }
    case 0x56: {  // FS V: k positions, cell count c, c positions, per cell a byte and a text
        if (n < 3) return 0;
        size_t off = 3 + p[2];
        if (n < off + 1) return 0;
        const size_t cells = p[off];
        off += 1 + cells;
        for (size_t c = 0; c < cells; ++c) {
            if (n < off + 1) return 0;
            off = ZeroTerminated(p, n, off + 1, kMaxCellText);
            if (off == 0) return 0;
        }
        return Need(off, n);
    }
    default:
        return 2;
    }
}

size_t GsLength(const uint8_t* p, size_t n) {
    if (n < 2) return 0;
    switch (p[1]) {
    case 0x3A: case 0x63:  // GS :, GS c
        return 2;
    // GS !, /, B, H, I, T, a, b, f, h, r, w: one byte
    case 0x21: case 0x2F: case 0x42: case 0x48: case 0x49: case 0x54: case 0x61: case 0x62:
    case 0x66: case 0x68: case 0x72: case 0x77:
        return Need(3, n);
    // GS $, GS L, GS P, GS W, GS \: two bytes
    case 0x24: case 0x4C: case 0x50: case 0x57: case 0x5C:
        return Need(4, n);
    case 0x5E:  // GS ^ r t m
        return Need(5, n);
    case 0x67:  // GS g 0 m nL nH, GS g 2 m nL nH
        return Need(6, n);
    case 0x28:  // GS ( fn pL pH data
        if (n < 5) return 0;
        return Need(5 + Word(p + 3), n);
    case 0x38: {  // GS 8 fn p1 p2 p3 p4 data (32-bit length)
        if (n < 7) return 0;
        const size_t len = Word(p + 3) | Word(p + 5) << 16;
        return Need(7 + len, n);
    }
    case 0x2A:  // GS * x y + x*y*8 bytes
        if (n < 4) return 0;
        return Need(4 + static_cast<size_t>(p[2]) * p[3] * 8, n);
    case 0x56: {  // GS V m [n]
        if (n < 3) return 0;
        const uint8_t m = p[2];
        const bool withN = m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104;
        return Need(withN ? 4 : 3, n);
    }
    case 0x6B: {  // GS k m ...
        if (n < 3) return 0;
        if (p[2] >= 65) {  // m n d1..dn
            if (n < 4) return 0;
            return Need(4 + p[3], n);
        }
        return ZeroTerminated(p, n, 3, kMaxBarcodeData);  // m d1..dk NUL
    }
    case 0x76:  // GS v 0 m xL xH yL yH + (xL + 256 xH) * (yL + 256 yH) bytes
        if (n < 3) return 0;
        if (p[2] != 0x30) return 2;
        if (n < 8) return 0;
        return Need(8 + Word(p + 4) * Word(p + 6), n);
    default:
        return 2;
    }
}

size_t DleLength(const uint8_t* p, size_t n) {
    if (n < 2) return 0;
    switch (p[1]) {
    case 0x04: case 0x05:  // DLE EOT n, DLE ENQ n
        return Need(3, n);
    case 0x14: {  // DLE DC4 fn ...
        if (n < 3) return 0;
        switch (p[2]) {
        case 1: case 2: case 3: return Need(5, n);
        case 7: return Need(4, n);
        case 8: return Need(10, n);
        default: return 3;
        }
    }
    default:
        return 1;  // a DLE on its own
    }
}

}  // namespace

Command::Kind CommandKindOf(uint8_t first) {
    switch (first) {
    case kEsc: return Command::Kind::Esc;
    case kFs: return Command::Kind::Fs;
    case kGs: return Command::Kind::Gs;
    case kDle: return Command::Kind::Dle;
    default: return first >= 0x20 ? Command::Kind::Text : Command::Kind::Control;
    }
}

size_t CommandLength(const uint8_t* data, size_t n) {
    if (n == 0) return 0;
    switch (CommandKindOf(data[0])) {
    case Command::Kind::Text: {
        size_t i = 1;
        while (i < n && data[i] >= 0x20) ++i;
        return i;
    }
    case Command::Kind::Control: return 1;
    case Command::Kind::Esc: return EscLength(data, n);
    case Command::Kind::Fs: return FsLength(data, n);
    case Command::Kind::Gs: return GsLength(data, n);
    case Command::Kind::Dle: return DleLength(data, n);
    }
    return 1;
}

size_t CommandSplitter::run(const uint8_t* data, size_t n, const Sink& sink) {
    size_t pos = 0;
    while (pos < n) {
        const size_t len = CommandLength(data + pos, n - pos);
        if (len == 0) break;
        sink(CommandKindOf(data[pos]), data + pos, len);
        pos += len;
    }
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

}  // namespace pellory::vprinter
