#include "app/paper_view.h"

#include <QPaintEvent>
#include <QPainter>
#include <cmath>

#include "protocol/model_profile.h"
#include "receipt/paper_image.h"

namespace pellory::widgets {

PaperView::PaperView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    updateSize();
}

void PaperView::setPaper(const receipt::Paper* paper) {
    paper_ = paper;
    paperChanged();
}

void PaperView::paperChanged() {
    updateSize();
    update();
}

void PaperView::setFitted(bool fitted, int fitWidth) {
    fitted_ = fitted;
    fitWidth_ = fitWidth;
    paperChanged();
}

double PaperView::scale() const {
    if (!fitted_ || !paper_ || fitWidth_ <= 0) return 1.0;
    return static_cast<double>(fitWidth_) / paper_->width();
}

void PaperView::updateSize() {
    if (!paper_) {
        setFixedSize(protocol::ProfileOf(protocol::kStartModel).paperDots, 1);
        return;
    }
    const double s = scale();
    const int rows = static_cast<int>(paper_->endRow() - paper_->firstRow());
    setFixedSize(static_cast<int>(std::lround(paper_->width() * s)), std::max(1, static_cast<int>(std::lround(rows * s))));
}

void PaperView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::white);
    if (!paper_ || paper_->keptRows() == 0) return;
    const double s = scale();
    // Only the rows in view are turned into a picture.
    const int64_t first = paper_->firstRow() + static_cast<int64_t>(std::floor(event->rect().top() / s));
    const int64_t last = paper_->firstRow() + static_cast<int64_t>(std::ceil((event->rect().bottom() + 1) / s));
    const QImage rows = receipt::PaperImage(*paper_, true, first, std::min(last, paper_->endRow()));
    if (rows.isNull()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, s < 1.0);
    const QRectF target(0, static_cast<double>(first - paper_->firstRow()) * s, rows.width() * s, rows.height() * s);
    painter.drawImage(target, rows);
}

}  // namespace pellory::widgets
