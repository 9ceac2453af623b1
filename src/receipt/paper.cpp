#include "receipt/paper.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pellory::receipt {

Paper::Paper(int widthDots, int64_t maxRows, AtBound atBound)
    : width_(std::max(8, widthDots)), stride_(static_cast<size_t>((width_ + 7) / 8)),
      maxRows_(std::max<int64_t>(1, maxRows)), atBound_(atBound) {}

size_t Paper::slot(int64_t y) const {
    const size_t offset = static_cast<size_t>(y - first_);
    const size_t capacity = static_cast<size_t>(maxRows_);
    size_t s = start_ + offset;
    if (s >= capacity) s -= capacity;
    return s;
}

void Paper::extendTo(int64_t end) {
    const size_t capacity = static_cast<size_t>(maxRows_);
    while (endRow() < end) {
        const int64_t want = end - endRow();
        if (rows_ < capacity) {
            // Grow the ring (it is not wrapped until it is full, so slots are in order).
            const size_t add = static_cast<size_t>(std::min<int64_t>(want, maxRows_ - static_cast<int64_t>(rows_)));
            const size_t needed = (rows_ + add) * stride_;
            if (bits_.size() < needed) {
                // Within room made before (reserveRows) the rows are added as they come: no white
                // rows are written ahead of the paper.
                size_t room = bits_.capacity() >= needed ? needed : std::max(bits_.size() * 2, needed);
                room = std::min(room, capacity * stride_);
                bits_.resize(room, 0);
                densities_.resize(room / stride_, kDefaultDensity);
            }
            rows_ += add;
            continue;
        }
        if (atBound_ == AtBound::Stop) {
            overflowed_ = true;
            return;
        }
        // Full: the oldest rows scroll off, their slots become the new rows.
        const int64_t skip = std::min<int64_t>(want, maxRows_);
        for (int64_t i = 0; i < skip; ++i) {
            std::fill_n(bits_.begin() + static_cast<std::ptrdiff_t>(start_ * stride_), stride_, uint8_t{0});
            densities_[start_] = kDefaultDensity;
            start_ = (start_ + 1) % capacity;
            ++first_;
        }
        // Far beyond the roll: the rows in between would scroll off at once.
        if (want > maxRows_) first_ += want - maxRows_;
        while (!cuts_.empty() && cuts_.front() < first_) cuts_.pop_front();
    }
}

void Paper::reserveRows(int64_t rows) {
    const size_t n = static_cast<size_t>(std::clamp<int64_t>(rows, 0, maxRows_));
    bits_.reserve(n * stride_);
    densities_.reserve(n);
}

void Paper::tearOff(int64_t row) {
    row = std::min(row, endRow());
    if (row <= first_) return;
    // The ring in order first (slot 0 the oldest row kept): only a full ring is wrapped.
    if (start_ != 0) {
        std::rotate(bits_.begin(), bits_.begin() + static_cast<std::ptrdiff_t>(start_ * stride_), bits_.end());
        std::rotate(densities_.begin(), densities_.begin() + static_cast<std::ptrdiff_t>(start_), densities_.end());
        start_ = 0;
    }
    // The rows kept move to the front; the slots they leave are white again.
    const size_t drop = static_cast<size_t>(row - first_);
    const size_t keep = rows_ - drop;
    const auto bitsAt = [this](size_t r) { return bits_.begin() + static_cast<std::ptrdiff_t>(r * stride_); };
    const auto densityAt = [this](size_t r) { return densities_.begin() + static_cast<std::ptrdiff_t>(r); };
    std::copy(bitsAt(drop), bitsAt(rows_), bitsAt(0));
    std::fill(bitsAt(keep), bitsAt(rows_), uint8_t{0});
    std::copy(densityAt(drop), densityAt(rows_), densityAt(0));
    std::fill(densityAt(keep), densityAt(rows_), kDefaultDensity);
    rows_ = keep;
    first_ = row;
    while (!cuts_.empty() && cuts_.front() < first_) cuts_.pop_front();
}

const uint8_t* Paper::row(int64_t y) const {
    if (y < first_ || y >= endRow()) return nullptr;
    return bits_.data() + slot(y) * stride_;
}

uint8_t* Paper::mutableRow(int64_t y) {
    if (y < first_ || y >= endRow()) return nullptr;
    return bits_.data() + slot(y) * stride_;
}

bool Paper::dot(int x, int64_t y) const {
    const uint8_t* r = row(y);
    if (!r || x < 0 || x >= width_) return false;
    return (r[x >> 3] >> (7 - (x & 7))) & 1;
}

uint8_t Paper::density(int64_t y) const {
    if (y < first_ || y >= endRow()) return kDefaultDensity;
    return static_cast<uint8_t>(densities_[slot(y)] & ~kRedInk);
}

bool Paper::red(int64_t y) const {
    if (y < first_ || y >= endRow()) return false;
    return (densities_[slot(y)] & kRedInk) != 0;
}

bool Paper::anyRed(int64_t fromRow, int64_t toRow) const {
    for (int64_t y = std::max(fromRow, first_); y < std::min(toRow, endRow()); ++y) {
        if (densities_[slot(y)] & kRedInk) return true;
    }
    return false;
}

void Paper::blit(int64_t y, int x, const uint8_t* src, int widthBits, uint8_t density) {
    uint8_t* r = mutableRow(y);
    if (!r || widthBits <= 0) return;
    int from = 0;  // first source bit to draw
    if (x < 0) {
        from = -x;
        x = 0;
    }
    int count = std::min(widthBits - from, width_ - x);
    if (count <= 0) return;
    bool any = false;
    if ((from & 7) == 0 && (x & 7) == 0) {
        const uint8_t* s = src + (from >> 3);
        uint8_t* d = r + (x >> 3);
        int whole = count >> 3;
        int i0 = 0;
        for (; i0 + 8 <= whole; i0 += 8) {
            uint64_t a, b;
            std::memcpy(&a, s + i0, 8);
            if (!a) continue;
            std::memcpy(&b, d + i0, 8);
            b |= a;
            std::memcpy(d + i0, &b, 8);
            any = true;
        }
        for (int i = i0; i < whole; ++i) {
            any |= s[i] != 0;
            d[i] |= s[i];
        }
        const int rest = count & 7;
        if (rest) {
            const uint8_t v = static_cast<uint8_t>(s[whole] & (0xFF00 >> rest));
            any |= v != 0;
            d[whole] |= v;
        }
    } else {
        const int shift = x & 7;
        for (int i = 0; i < count; i += 8) {
            // Eight source bits starting at bit from + i.
            const int b = from + i;
            unsigned v = static_cast<unsigned>(src[b >> 3]) << (b & 7);
            if ((b & 7) && ((b >> 3) + 1) * 8 < from + count) v |= static_cast<unsigned>(src[(b >> 3) + 1]) >> (8 - (b & 7));
            v &= 0xFF;
            const int n = std::min(8, count - i);
            v &= (0xFF00u >> n) & 0xFF;
            if (!v) continue;
            any = true;
            const int dx = x + i;
            r[dx >> 3] |= static_cast<uint8_t>(v >> shift);
            if (shift && (dx >> 3) + 1 < static_cast<int>(stride_)) r[(dx >> 3) + 1] |= static_cast<uint8_t>(v << (8 - shift));
        }
    }
    if (any) {
        densities_[slot(y)] = density;
        inkEnd_ = std::max(inkEnd_, y + 1);
    }
}

void Paper::fill(int64_t y, int x0, int x1, uint8_t density) {
    uint8_t* r = mutableRow(y);
    x0 = std::max(0, x0);
    x1 = std::min(width_, x1);
    if (!r || x0 >= x1) return;
    for (int x = x0; x < x1; ++x) r[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    densities_[slot(y)] = density;
    inkEnd_ = std::max(inkEnd_, y + 1);
}

Paper Paper::piece(int64_t fromRow, int64_t toRow) const {
    fromRow = std::max(fromRow, first_);
    toRow = std::min(toRow, endRow());
    const int64_t rows = std::max<int64_t>(toRow - fromRow, 0);
    Paper out(width_, std::max<int64_t>(rows, 1), AtBound::Stop);
    out.extendTo(rows);
    for (int64_t y = fromRow; y < toRow; ++y) {
        const size_t from = slot(y);
        const size_t to = static_cast<size_t>(y - fromRow);
        std::copy_n(bits_.begin() + static_cast<std::ptrdiff_t>(from * stride_), stride_,
                    out.bits_.begin() + static_cast<std::ptrdiff_t>(to * stride_));
        out.densities_[to] = densities_[from];
    }
    for (const int64_t c : cuts_) {
        if (c >= fromRow && c < toRow) out.cuts_.push_back(c - fromRow);
    }
    out.inkEnd_ = std::clamp<int64_t>(inkEnd_ - fromRow, 0, rows);
    return out;
}

void Paper::addCut(int64_t y) {
    if (y < first_) return;
    if (cuts_.empty() || cuts_.back() != y) cuts_.push_back(y);
    inkEnd_ = std::max(inkEnd_, y + 1);
}

void Paper::dropFrom(int64_t row) {
    row = std::max(row, first_);
    while (endRow() > row) {
        const size_t s = slot(endRow() - 1);
        std::fill_n(bits_.begin() + static_cast<std::ptrdiff_t>(s * stride_), stride_, uint8_t{0});
        densities_[s] = kDefaultDensity;
        --rows_;
    }
    while (!cuts_.empty() && cuts_.back() >= row) cuts_.pop_back();
}

void Paper::clear() {
    bits_.clear();
    densities_.clear();
    start_ = 0;
    rows_ = 0;
    first_ = 0;
    overflowed_ = false;
    inkEnd_ = 0;
    cuts_.clear();
}

size_t Paper::inkDots() const {
    size_t n = 0;
    for (int64_t y = first_; y < endRow(); ++y) {
        const uint8_t* r = row(y);
        for (size_t i = 0; i < stride_; ++i) n += static_cast<size_t>(std::popcount(r[i]));
    }
    return n;
}

}  // namespace pellory::receipt
