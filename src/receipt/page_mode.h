// The page of page mode (ESC L): a picture as wide as the paper, composed before it prints. Every
// item goes into the print area (ESC W) in the print direction (ESC T): the interpreter places
// items in the direction's own frame, where x runs along the characters and y down the lines, and
// the page turns them onto its dots. Dots that fall outside the area are dropped.
//
// The page is bounded: at most kMaxRows rows (the area's origin and size are clipped to them),
// however large an area the stream asks for.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "receipt/glyphs.h"

namespace pellory::receipt {

// ESC T n: where the text of the area starts and which way it runs.
enum class PrintDirection : uint8_t {
    LeftToRight = 0,  // from the upper left, lines going down (as in standard mode)
    BottomToTop = 1,  // from the lower left, characters going up, lines going right
    RightToLeft = 2,  // from the lower right, upside-down, lines going up
    TopToBottom = 3,  // from the upper right, characters going down, lines going left
};

// ESC T's n (0-3 or 48-51), or nothing for any other.
std::optional<PrintDirection> DirectionOf(uint8_t n);

// A rectangle of the page in dots, from its upper left corner.
struct PageArea {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PageArea&) const = default;
};

class Page {
public:
    // The tallest page: 1662 dots (about 208 mm at 8 dots per mm), the most a stored or buffered
    // picture may be tall on these printers.
    static constexpr int kMaxRows = 1662;

    explicit Page(int width);

    // The area of ESC W with its origin and size in dots (x, dx across, y, dy down the paper),
    // made to fit a page of `width` dots: a size past the page's right edge or last row is cut
    // there; an origin outside the page or a size of 0 is refused (nothing), as the printer ignores
    // such an ESC W.
    static std::optional<PageArea> Fit(int64_t x, int64_t y, int64_t dx, int64_t dy, int width);
    // The area a page starts with: the whole width, kMaxRows tall.
    static PageArea DefaultArea(int width) { return {0, 0, width, kMaxRows}; }

    // The area and direction that what is drawn next follows (the area as Fit makes it).
    void select(const PageArea& area, PrintDirection direction);
    const PageArea& area() const { return area_; }
    PrintDirection direction() const { return direction_; }
    // The area's size in the direction's frame: along the characters, and down the lines.
    int across() const;
    int down() const;

    // Draws `b` with its upper left corner (as the direction reads it) at (x, y) of the frame.
    void draw(const Bitmap& b, int x, int y);
    // Draws `widthBits` dots of one row (MSB first) from (x, y) of the frame along the characters.
    void drawRow(const uint8_t* bits, int widthBits, int x, int y);
    // CAN: the dots inside the current area are cleared; those of other areas outside it stay.
    void cancelArea();

    int width() const { return width_; }
    // How far down the page prints: to the foot of the current area, or of a lower one that was
    // drawn in.
    int rows() const { return std::max(drawnRows_, area_.y + area_.height); }
    // The rows that hold dots (memory is taken as the first dot is drawn in an area): the rest
    // of rows() is white.
    int heldRows() const { return static_cast<int>(bits_.size() / stride_); }
    const uint8_t* row(int y) const { return bits_.data() + static_cast<size_t>(y) * stride_; }

private:
    void set(int x, int y);  // the dot of frame point (x, y), when it lies inside the area

    int width_;
    size_t stride_;
    int drawnRows_ = 0;          // the foot of the lowest area drawn in
    std::vector<uint8_t> bits_;  // drawnRows_ rows
    PageArea area_;
    PrintDirection direction_ = PrintDirection::LeftToRight;
};

}  // namespace pellory::receipt
