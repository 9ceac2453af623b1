// The paper of a receipt printer: a bitmap as wide as the print head, one bit per dot, growing
// downward as the printer feeds.
//
// Rows are numbered from the top of the roll (row 0 is the first the printer reached). The paper
// holds at most kMaxRows rows: past that, the oldest rows scroll off as a torn-off roll would, and
// firstRow() tells the number of the oldest row still kept. Drawing on a row that has scrolled off
// does nothing. Each row also keeps the print density that was in force when it was last inked,
// and the paper keeps the rows where it was cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace pellory::receipt {

class Paper {
public:
    static constexpr int64_t kMaxRows = 16000;  // 2 m of paper at 8 dots per mm
    static constexpr uint8_t kDefaultDensity = 4;

    explicit Paper(int widthDots = 384);

    int width() const { return width_; }
    size_t stride() const { return stride_; }     // bytes per row
    int64_t firstRow() const { return first_; }   // oldest row kept
    int64_t endRow() const { return first_ + static_cast<int64_t>(rows_); }  // one past the last row reached
    size_t keptRows() const { return rows_; }

    // The paper reaches at least row `end` (exclusive): new rows are white.
    void extendTo(int64_t end);

    // One row's bytes (MSB = leftmost dot), or null when the row is not kept (scrolled off or not
    // reached yet).
    const uint8_t* row(int64_t y) const;
    uint8_t* mutableRow(int64_t y);
    bool dot(int x, int64_t y) const;
    uint8_t density(int64_t y) const;

    // ORs `widthBits` bits of src (MSB first, starting at bit 0 of src[0]) into row y at dot x.
    // Dots beyond the paper's edges are dropped. Marks the row with the given density.
    void blit(int64_t y, int x, const uint8_t* src, int widthBits, uint8_t density);
    // Sets dots [x0, x1) of row y.
    void fill(int64_t y, int x0, int x1, uint8_t density);

    // A cut at row y (the line between the paper above and below).
    void addCut(int64_t y);
    const std::deque<int64_t>& cuts() const { return cuts_; }

    // Empties the paper (width kept).
    void clear();
    // Counts the black dots of the kept rows (for tests and checks).
    size_t inkDots() const;

private:
    size_t slot(int64_t y) const;  // ring position of a kept row

    int width_;
    size_t stride_;
    std::vector<uint8_t> bits_;      // ring of rows, kMaxRows at most
    std::vector<uint8_t> densities_; // one per ring slot
    size_t start_ = 0;               // ring slot of firstRow()
    size_t rows_ = 0;                // rows kept
    int64_t first_ = 0;
    std::deque<int64_t> cuts_;
};

}  // namespace pellory::receipt
