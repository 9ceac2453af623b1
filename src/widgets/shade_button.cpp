#include "widgets/shade_button.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <algorithm>

#include "widgets/resources.h"

namespace pellory::widgets {

// ---------------------------------------------------------------------------------------------
// CIconButton

CIconButton::CIconButton(const QString& caption, QWidget* parent) : QAbstractButton(parent) {
    setText(caption);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

bool CIconButton::SetIconPath(const QString& path) {
    QPixmap pixmap;
    if (!path.isEmpty()) {
        if (path.startsWith(QLatin1Char(':'))) {
            InitPelloryResources();
        }
        pixmap.load(path);  // cached by QPixmapCache, so switching icons is cheap
    }
    SetIconPixmap(pixmap);
    return !pixmap.isNull();
}

void CIconButton::SetIconPixmap(const QPixmap& pixmap) {
    const bool sizeChanged = pixmap.size() != pixmap_.size();
    pixmap_ = pixmap;
    if (sizeChanged) {
        updateGeometry();
    }
    update();
}

QSize CIconButton::sizeHint() const {
    const QFontMetrics fm = fontMetrics();
    int width = 2 * kMargin + fm.horizontalAdvance(text());
    int height = fm.height();
    if (!pixmap_.isNull()) {
        const QSize icon = pixmap_.deviceIndependentSize().toSize();
        width += icon.width() + (text().isEmpty() ? 0 : kSpacing);
        height = std::max(height, icon.height());
    }
    return {width + 2, height + 2 * kMargin};
}

QSize CIconButton::minimumSizeHint() const {
    const QSize hint = sizeHint();
    const int iconWidth = pixmap_.isNull() ? 0 : pixmap_.deviceIndependentSize().toSize().width();
    return {2 * kMargin + iconWidth, hint.height()};
}

QRect CIconButton::IconRect() const {
    if (pixmap_.isNull()) {
        return {};
    }
    const QSize icon = pixmap_.deviceIndependentSize().toSize();
    const int y = (height() - icon.height()) / 2;
    return {kMargin, y, icon.width(), icon.height()};
}

void CIconButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QRect all = rect();
    PaintFace(painter, all);

    // A pressed button moves its content by one pixel, as push buttons do.
    const int shift = isDown() ? 1 : 0;
    int textLeft = kMargin;
    if (!pixmap_.isNull()) {
        const QRect iconRect = IconRect().translated(shift, shift);
        if (isEnabled()) {
            painter.drawPixmap(iconRect.topLeft(), pixmap_);
        } else {
            painter.setOpacity(0.45);
            painter.drawPixmap(iconRect.topLeft(), pixmap_);
            painter.setOpacity(1.0);
        }
        textLeft = iconRect.right() + 1 + kSpacing;
    }

    if (!text().isEmpty()) {
        const QRect textRect(textLeft + shift, shift, std::max(0, all.width() - textLeft - kMargin),
                             all.height());
        const QString shown =
            fontMetrics().elidedText(text(), Qt::ElideRight, textRect.width(), Qt::TextShowMnemonic);
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::ButtonText));
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, shown);
    }

    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = all.adjusted(2, 2, -2, -2);
        option.backgroundColor = palette().color(QPalette::Button);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void CIconButton::PaintFace(QPainter& painter, const QRect& rect) {
    painter.fillRect(rect, palette().color(isDown() ? QPalette::Mid : QPalette::Button));
    painter.setPen(palette().color(QPalette::Dark));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
}

// ---------------------------------------------------------------------------------------------
// CShadeButton

CShadeButton::CShadeButton(const QString& caption, QWidget* parent) : CIconButton(caption, parent) {
    SetLamp(false);
}

void CShadeButton::SetLamp(bool lit) {
    lit_ = lit;
    SetIconPath(QString::fromLatin1(lit ? kIconLampLit : kIconLampDark));
}

void CShadeButton::SetShade(const QColor& top, const QColor& bottom) {
    top_ = top;
    bottom_ = bottom;
    update();
}

QColor CShadeButton::ShadeTop() const {
    return top_.isValid() ? top_ : palette().color(QPalette::Button).lighter(135);
}

QColor CShadeButton::ShadeBottom() const {
    return bottom_.isValid() ? bottom_ : palette().color(QPalette::Button).darker(115);
}

void CShadeButton::PaintFace(QPainter& painter, const QRect& rect) {
    QColor top = ShadeTop();
    QColor bottom = ShadeBottom();
    if (isDown()) {
        std::swap(top, bottom);  // a pressed button looks sunk in
    }
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0.0, top);
    gradient.setColorAt(1.0, bottom);
    painter.fillRect(rect, gradient);

    // Frame: dark outline with a light inner edge at the top left.
    const QRect outer = rect.adjusted(0, 0, -1, -1);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(palette().color(QPalette::Shadow));
    painter.drawRect(outer);
    painter.setPen(isDown() ? palette().color(QPalette::Dark) : palette().color(QPalette::Light));
    painter.drawLine(outer.left() + 1, outer.top() + 1, outer.right() - 1, outer.top() + 1);
    painter.drawLine(outer.left() + 1, outer.top() + 1, outer.left() + 1, outer.bottom() - 1);
}

}  // namespace pellory::widgets
