// Long blank paper drawn short (see Interpreter::shortenBlankRuns). A run starts at the paper's
// last ink (or cut); once the position would move more than the bound past it, the paper keeps
// blankDrawnAs_ rows of the run (from its start, or from the oldest row kept when a picture took
// the paper above), the position stays past them, and every further feed only adds to the run's
// length, which its mark gives whole. The run ends when anything is printed below it, at a
// cut, at finish() or when asked (endBlankRun): its mark is then drawn in the middle of the rows
// kept, which are still blank.
#include <algorithm>

#include "receipt/blank_run_mark.h"
#include "receipt/interpreter.h"

namespace pellory::receipt {

void Interpreter::shortenBlankRuns(int64_t longerThan, int64_t drawnAs) {
    blankLongerThan_ = std::max<int64_t>(longerThan, 0);
    blankDrawnAs_ = std::clamp<int64_t>(drawnAs, 0, blankLongerThan_);
}

void Interpreter::feedTo(int64_t to) {
    settleBlankRun();
    if (blankLongerThan_ > 0 && !page_ && to > y_) {
        if (blankRun_.open) {
            blankRun_.rows += to - y_;
            return;
        }
        if (to - paper_.inkEnd() > blankLongerThan_) {
            openBlankRun(to - paper_.inkEnd());
            return;
        }
    }
    y_ = to;
    paper_.extendTo(y_);
}

void Interpreter::shortenDrawnBlank() {
    settleBlankRun();
    if (blankLongerThan_ == 0 || page_ || long_ || blankRun_.open) return;
    if (y_ - paper_.inkEnd() > blankLongerThan_) openBlankRun(y_ - paper_.inkEnd());
}

void Interpreter::openBlankRun(int64_t rows) {
    // The rows drawn begin at the last ink, or below it where a picture took the paper above.
    const int64_t from = std::max(paper_.inkEnd(), paper_.firstRow());
    blankRun_ = {from, rows, true};
    const int64_t end = from + blankDrawnAs_;
    // The rows past the part kept are blank (the run starts after the last ink): let go of them.
    if (paper_.endRow() > end) paper_.dropFrom(end);
    y_ = end;
    paper_.extendTo(y_);
}

void Interpreter::endBlankRun() {
    if (!blankRun_.open) return;
    blankRun_.open = false;
    const Bitmap mark = BlankRunMark(paper_.width(), blankRun_.rows);
    const int64_t end = blankRun_.from + blankDrawnAs_;
    const int64_t top = blankRun_.from + std::max<int64_t>(0, (blankDrawnAs_ - mark.height) / 2);
    for (int r = 0; r < mark.height && top + r < end; ++r) {
        paper_.blit(top + r, 0, mark.row(r), mark.width, Paper::kDefaultDensity);
    }
}

}  // namespace pellory::receipt
