#include "receipt/offline_roll.h"

#include <utility>

namespace pellory::receipt {

OfflineRoll::OfflineRoll(int widthDots, Pieces pieces, Take take, int64_t maxRows, int64_t continueAfter)
    : interpreter_(widthDots, maxRows, Paper::AtBound::Stop),
      pieces_(pieces),
      take_(std::move(take)),
      maxRows_(maxRows),
      continueAfter_(pieces == Pieces::EachReceipt && continueAfter > 0 ? continueAfter : 0) {
    if (pieces_ == Pieces::EachReceipt) interpreter_.setCutSink([this](int64_t row) { cutAt(row); });
    // The whole roll: room for its most rows at once (address space only; the memory is taken as
    // the paper reaches it), so the paper is never moved as it grows.
    if (pieces_ == Pieces::WholeRoll) interpreter_.reservePaper(maxRows_);
    // A receipt that continues is looked at before each command and after each line: the rows
    // above the next line's start are final. Only a single command that feeds past the bound of the
    // kept rows (an image taller than maxRows less continueAfter) makes the picture too tall.
    if (continueAfter_ > 0) {
        // It keeps about that many rows: room for them at once, and the paper is not moved as it
        // grows (a stream of receipts is drawn some three times as fast).
        interpreter_.reservePaper(continueAfter_ + kContinueSlack);
    }
    interpreter_.setProgressSink([this] { progress(); });
}

void OfflineRoll::progress() {
    if (stopped_) return;
    if (watch_ && ++sinceWatch_ >= kWatchEvery) {
        sinceWatch_ = 0;
        if (!keepGoing()) return;
    }
    continueTo(interpreter_.position());
}

bool OfflineRoll::keepGoing() {
    if (!stopped_ && watch_ && !watch_()) {
        watched_ = true;
        stop(true);
    }
    return !stopped_;
}

// Nothing more is drawn: the interpreter passes the rest of the stream by, or only decodes it.
void OfflineRoll::stop(bool decodingToo) {
    stopped_ = true;
    if (decodingToo || !decodes_) interpreter_.halt();
}

bool OfflineRoll::feed(const uint8_t* data, size_t n) {
    if (!stopped_) keepGoing();
    if (interpreter_.halted()) return false;
    interpreter_.feed(data, n);
    return !stopped_ && !overflowed() && continueTo(interpreter_.position());
}

bool OfflineRoll::continueTo(int64_t row) {
    while (continueAfter_ > 0 && !stopped_ && !overflowed() && row - start_ > continueAfter_) {
        if (!hand(start_, start_ + continueAfter_)) return false;
        start_ += continueAfter_;
        interpreter_.tearOff(start_);
    }
    return !stopped_;
}

bool OfflineRoll::finish() {
    if (!stopped_) keepGoing();
    if (interpreter_.halted()) return false;
    interpreter_.finish();
    if (overflowed() || stopped_) return false;
    const Paper& paper = interpreter_.paper();
    if (pieces_ == Pieces::WholeRoll) return hand(paper.firstRow(), paper.endRow());
    if (!continueTo(paper.endRow())) return false;
    if (paper.endRow() > start_ && hasInk(start_, paper.endRow())) return hand(start_, paper.endRow());
    return true;
}

// The paper is bounded at maxRows kept rows: asked for more, the picture is too tall.
bool OfflineRoll::overflowed() {
    if (!tooTall_ && interpreter_.paper().overflowed()) {
        tooTall_ = true;
        stop();
    }
    return tooTall_;
}

void OfflineRoll::cutAt(int64_t row) {
    if (stopped_ || overflowed() || !continueTo(row)) return;
    if (row > start_ && !hand(start_, row)) return;
    interpreter_.tearOff(row + 1);
    start_ = row + 1;
}

bool OfflineRoll::hand(int64_t fromRow, int64_t toRow) {
    if (!keepGoing()) return false;
    interpreter_.endBlankRun();  // its mark may be on this picture
    ++pictures_;
    if (!take_(interpreter_.paper(), fromRow, toRow)) stop();
    return !stopped_;
}

bool OfflineRoll::hasInk(int64_t fromRow, int64_t toRow) const {
    const Paper& paper = interpreter_.paper();
    for (int64_t y = fromRow; y < toRow; ++y) {
        const uint8_t* bits = paper.row(y);
        if (!bits) continue;
        for (size_t i = 0; i < paper.stride(); ++i) {
            if (bits[i]) return true;
        }
    }
    return false;
}

}  // namespace pellory::receipt
