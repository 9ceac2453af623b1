#include "receipt/page_mode.h"

#include <algorithm>

namespace pellory::receipt {

std::optional<PrintDirection> DirectionOf(uint8_t n) {
    const int d = n >= 48 ? n - 48 : n;
    if (d < 0 || d > 3) return std::nullopt;
    return static_cast<PrintDirection>(d);
}

Page::Page(int width) : width_(std::max(8, width)), stride_(static_cast<size_t>((width_ + 7) / 8)) {
    select(DefaultArea(width_), PrintDirection::LeftToRight);
}

std::optional<PageArea> Page::Fit(int64_t x, int64_t y, int64_t dx, int64_t dy, int width) {
    if (x < 0 || y < 0 || x >= width || y >= kMaxRows || dx <= 0 || dy <= 0) return std::nullopt;
    PageArea a;
    a.x = static_cast<int>(x);
    a.y = static_cast<int>(y);
    a.width = static_cast<int>(std::min<int64_t>(dx, width - x));
    a.height = static_cast<int>(std::min<int64_t>(dy, kMaxRows - y));
    return a;
}

void Page::select(const PageArea& area, PrintDirection direction) {
    area_ = area;
    direction_ = direction;
}

int Page::across() const {
    const bool sideways = direction_ == PrintDirection::BottomToTop || direction_ == PrintDirection::TopToBottom;
    return sideways ? area_.height : area_.width;
}

int Page::down() const {
    const bool sideways = direction_ == PrintDirection::BottomToTop || direction_ == PrintDirection::TopToBottom;
    return sideways ? area_.width : area_.height;
}

void Page::set(int x, int y) {
    if (x < 0 || y < 0 || x >= across() || y >= down()) return;
    if (area_.y + area_.height > drawnRows_) {
        drawnRows_ = area_.y + area_.height;  // at most kMaxRows (see Fit)
        bits_.resize(static_cast<size_t>(drawnRows_) * stride_, 0);
    }
    int px = 0, py = 0;
    switch (direction_) {
        case PrintDirection::LeftToRight:
            px = area_.x + x;
            py = area_.y + y;
            break;
        case PrintDirection::BottomToTop:
            px = area_.x + y;
            py = area_.y + area_.height - 1 - x;
            break;
        case PrintDirection::RightToLeft:
            px = area_.x + area_.width - 1 - x;
            py = area_.y + area_.height - 1 - y;
            break;
        case PrintDirection::TopToBottom:
            px = area_.x + area_.width - 1 - y;
            py = area_.y + x;
            break;
    }
    bits_[static_cast<size_t>(py) * stride_ + static_cast<size_t>(px >> 3)] |= static_cast<uint8_t>(0x80 >> (px & 7));
}

void Page::draw(const Bitmap& b, int x, int y) {
    // Only the rows and columns that can fall inside the area are visited.
    const int r0 = std::max(0, -y), r1 = std::min(b.height, down() - y);
    const int c0 = std::max(0, -x), c1 = std::min(b.width, across() - x);
    for (int r = r0; r < r1; ++r) {
        const uint8_t* src = b.row(r);
        for (int c = c0; c < c1; ++c) {
            if (!src[c >> 3]) {
                c |= 7;  // a white byte: on to the next
                continue;
            }
            if ((src[c >> 3] >> (7 - (c & 7))) & 1) set(x + c, y + r);
        }
    }
}

void Page::drawRow(const uint8_t* bits, int widthBits, int x, int y) {
    if (y < 0 || y >= down()) return;
    const int c0 = std::max(0, -x), c1 = std::min(widthBits, across() - x);
    for (int c = c0; c < c1; ++c) {
        if (!bits[c >> 3]) {
            c |= 7;
            continue;
        }
        if ((bits[c >> 3] >> (7 - (c & 7))) & 1) set(x + c, y);
    }
}

void Page::cancelArea() {
    for (int py = area_.y; py < std::min(area_.y + area_.height, drawnRows_); ++py) {
        uint8_t* r = bits_.data() + static_cast<size_t>(py) * stride_;
        for (int px = area_.x; px < area_.x + area_.width; ++px)
            r[px >> 3] &= static_cast<uint8_t>(~(0x80 >> (px & 7)));
    }
}

}  // namespace pellory::receipt
