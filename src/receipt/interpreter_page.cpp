// The interpreter's page mode (ESC L to FF or ESC S) and motion units (GS P); see interpreter.h and
// page_mode.h.
//
// In page mode nothing reaches the paper until FF or ESC FF: text, bit images, raster images,
// graphics, barcodes and 2-D codes go onto the page at the print position, in the print area of
// ESC W, turned with the direction of ESC T. The position is kept in the direction's frame: across
// (x_, along the characters) and down (pageY_, the top of the next line). A line of text is placed
// when it ends (LF, ESC J, ESC d, a full line, or a command that moves the position down), its
// characters aligned at their foot as in standard mode, and LF then moves down by the line
// spacing exactly. A picture, barcode or code has its upper left corner at the position; the
// position then moves below it, back to the start of the line.
#include <algorithm>
#include <string>
#include <utility>

#include "receipt/interpreter.h"

namespace pellory::receipt {

namespace {

using Id = protocol::CommandId;

size_t Word(const uint8_t* p) { return static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8; }

// A position past this many dots down the page is far past any area: it stays there.
constexpr int kFarDown = 1 << 20;

}  // namespace

bool Interpreter::pageCommand(protocol::CommandId id, const uint8_t* p, PageStep step) {
    // What ESC W, ESC T and GS P set the modes took, in either mode; the page takes it at once.
    switch (id) {
        case Id::MotionUnits:
            return true;
        case Id::PageArea:
        case Id::PageDirection:
            if (step != PageStep::Framed) return true;  // ignored
            break;
        case Id::PageMode:
            if (step == PageStep::Entered) openPage();
            return true;
        case Id::StandardMode:
            return true;  // the page was let go unprinted
        case Id::FormFeed:
            return step == PageStep::Left;  // the page was printed; in standard mode, as LF
        case Id::PageModePrint:
            if (page_) printPage();  // the page, the area and the position stay
            return true;
        case Id::Initialise:
            return false;  // the line is dropped as in standard mode
        default:
            break;
    }
    if (!page_)
        return id == Id::Cancel || id == Id::PageArea || id == Id::PageDirection || id == Id::PageVerticalPosition ||
               id == Id::PageRelativePosition;

    switch (id) {
        case Id::PageArea:
        case Id::PageDirection:
            // The line so far stays where it was; the position goes to the start of the new frame.
            if (lineStarted_) placePageLine(0);
            page_->select(modes_.pageArea.value_or(Page::DefaultArea(paper_.width())), modes_.direction);
            x_ = 0;
            xSet_ = false;
            pageY_ = 0;
            return true;
        case Id::Cancel:
            line_.clear();
            owned_.clear();
            lineStarted_ = false;
            page_->cancelArea();
            return true;
        case Id::PageVerticalPosition:
        case Id::PageRelativePosition: {
            const int64_t units = id == Id::PageVerticalPosition ? static_cast<int64_t>(Word(p + 2))
                                                                 : static_cast<int16_t>(Word(p + 2));
            const int y = (id == Id::PageVerticalPosition ? 0 : pageY_) + along(units);
            if (y < 0 || y >= page_->down()) return true;  // outside the area: ignored
            if (lineStarted_) placePageLine(0, true);
            pageY_ = y;
            return true;
        }
        case Id::AbsolutePosition:
        case Id::RelativePosition: {
            const int64_t units = id == Id::AbsolutePosition ? static_cast<int64_t>(Word(p + 2))
                                                             : static_cast<int16_t>(Word(p + 2));
            const int from = id == Id::AbsolutePosition ? 0 : (lineStarted_ || xSet_) ? x_ : 0;
            const int x = from + across(units);
            if (x < 0 || x >= page_->across()) return true;  // outside the area: ignored
            x_ = x;
            xSet_ = true;
            return true;
        }
        // No paper moves while the page is composed: reverse feeds and cuts are ignored.
        case Id::ReverseFeed:
        case Id::ReverseFeedLines:
        case Id::PartialCut:
        case Id::Cut:
            return true;
        default:
            // ESC a, ESC {, ESC V, GS L and GS W set their values for standard mode only: the page
            // reads none of them.
            return false;
    }
}

void Interpreter::openPage() {
    page_ = std::make_unique<Page>(paper_.width());
    page_->select(modes_.pageArea.value_or(Page::DefaultArea(paper_.width())), modes_.direction);
    line_.clear();
    owned_.clear();
    x_ = 0;
    xSet_ = false;
    pageY_ = 0;
}

void Interpreter::closePage() {
    page_.reset();
    startLine();
}

void Interpreter::printPage() {
    if (lineStarted_) placePageLine(0, true);
    const int rows = page_->rows();
    paper_.extendTo(y_ + rows);
    for (int r = 0; r < page_->heldRows(); ++r) paper_.blit(y_ + r, 0, page_->row(r), page_->width(), ink());
    y_ += rows;
    paper_.extendTo(y_);
}

void Interpreter::placePageLine(int feed, bool keepX) {
    int height = 0;
    for (const Element& e : line_) height = std::max(height, (e.y < 0 ? 0 : e.y) + e.bitmap->height);
    for (const Element& e : line_) page_->draw(*e.bitmap, e.x, pageY_ + (e.y < 0 ? height - e.bitmap->height : e.y));
    line_.clear();
    owned_.clear();
    lineStarted_ = false;
    xSet_ = keepX;
    if (!keepX) x_ = 0;
    movePageDown(feed);
}

void Interpreter::placePageBlock(const Bitmap& block) {
    if (lineStarted_) placePageLine(0, true);
    page_->draw(block, xSet_ ? x_ : 0, pageY_);
    x_ = 0;
    xSet_ = false;
    movePageDown(block.height);
}

void Interpreter::movePageDown(int dots) { pageY_ = std::clamp(pageY_ + std::max(dots, 0), 0, kFarDown); }

}  // namespace pellory::receipt
