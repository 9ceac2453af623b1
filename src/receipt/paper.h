// The paper of a receipt printer: a bitmap as wide as the print head, one bit per dot, growing
// downward as the printer feeds.
//
// Rows are numbered from the top of the roll (row 0 is the first the printer reached). The paper
// holds at most maxRows() rows (kMaxRows unless given). At that bound, a scrolling paper (the live
// view's roll) lets the oldest rows scroll off as a torn-off roll would, and firstRow() tells the
// number of the oldest row still kept; a stopping paper keeps its rows and goes no further
// (overflowed() tells it was asked to). Rows can also be torn off on purpose (tearOff). Drawing on
// a row that is not kept does nothing. Each row also keeps the print density that was in force
// when it was last inked, and whether that ink was the second colour (red, ESC r); the paper keeps
// the rows where it was cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "protocol/model_profile.h"

namespace pellory::receipt {

class Paper {
public:
    static constexpr int64_t kMaxRows = 16000;  // 2 m of paper at 8 dots per mm
    static constexpr uint8_t kDefaultDensity = 4;
    // Added to a density given to blit or fill: the ink is the second colour (red).
    static constexpr uint8_t kRedInk = 0x80;

    // What happens when the paper would keep more than maxRows rows.
    enum class AtBound { Scroll, Stop };

    explicit Paper(int widthDots = protocol::ProfileOf(protocol::kStartModel).paperDots, int64_t maxRows = kMaxRows,
                   AtBound atBound = AtBound::Scroll);

    int width() const { return width_; }
    size_t stride() const { return stride_; }     // bytes per row
    int64_t firstRow() const { return first_; }   // oldest row kept
    int64_t endRow() const { return first_ + static_cast<int64_t>(rows_); }  // one past the last row reached
    size_t keptRows() const { return rows_; }
    int64_t maxRows() const { return maxRows_; }
    AtBound atBound() const { return atBound_; }
    // A stopping paper was asked to reach past maxRows kept rows (the rows past it are not kept).
    bool overflowed() const { return overflowed_; }
    // One past the last row that took ink (blit, fill) or a cut; 0 while none has. The paper from
    // here to endRow() is blank.
    int64_t inkEnd() const { return inkEnd_; }

    // The paper reaches at least row `end` (exclusive): new rows are white.
    void extendTo(int64_t end);
    // Makes room for this many kept rows (at most the bound) at once: a paper known to grow this
    // far is then not moved as it grows. Nothing is drawn or reached.
    void reserveRows(int64_t rows);

    // One row's bytes (MSB = leftmost dot), or null when the row is not kept (scrolled off or not
    // reached yet).
    const uint8_t* row(int64_t y) const;
    uint8_t* mutableRow(int64_t y);
    bool dot(int x, int64_t y) const;
    uint8_t density(int64_t y) const;
    // Whether the row was last inked in the second colour (red).
    bool red(int64_t y) const;
    // Whether a row of [fromRow, toRow) is red.
    bool anyRed(int64_t fromRow, int64_t toRow) const;

    // ORs `widthBits` bits of src (MSB first, starting at bit 0 of src[0]) into row y at dot x.
    // Dots beyond the paper's edges are dropped. Marks the row with the given density.
    void blit(int64_t y, int x, const uint8_t* src, int widthBits, uint8_t density);
    // Sets dots [x0, x1) of row y.
    void fill(int64_t y, int x0, int x1, uint8_t density);

    // A cut at row y (the line between the paper above and below).
    void addCut(int64_t y);
    const std::deque<int64_t>& cuts() const { return cuts_; }

    // Lets go of the rows before `row` (at most up to endRow()): they are no longer kept, their
    // room serves the rows to come, and the cuts among them are forgotten.
    void tearOff(int64_t row);

    // Lets go of the rows from `row` on (at most down to firstRow()): the paper ends there, and
    // rows reached again are white. For blank paper that is not to be shown after all.
    void dropFrom(int64_t row);

    // A paper of its own holding rows [fromRow, toRow) of this one, as far as they are kept, counted
    // from 0: their dots, densities and colour, and the cuts among them (its bound: those rows).
    // A picture of it is the picture of those rows here (a picture written later, this paper gone on).
    Paper piece(int64_t fromRow, int64_t toRow) const;

    // Empties the paper (width and bound kept).
    void clear();
    // Counts the black dots of the kept rows (for tests and checks).
    size_t inkDots() const;

private:
    size_t slot(int64_t y) const;  // ring position of a kept row

    int width_;
    size_t stride_;
    int64_t maxRows_;
    AtBound atBound_;
    bool overflowed_ = false;
    int64_t inkEnd_ = 0;
    std::vector<uint8_t> bits_;      // ring of rows, maxRows_ at most
    std::vector<uint8_t> densities_; // one per ring slot
    size_t start_ = 0;               // ring slot of firstRow()
    size_t rows_ = 0;                // rows kept
    int64_t first_ = 0;
    std::deque<int64_t> cuts_;
};

}  // namespace pellory::receipt
