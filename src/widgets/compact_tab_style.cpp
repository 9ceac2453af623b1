#include "widgets/compact_tab_style.h"

#include <QFontMetrics>
#include <QStyleOptionTab>
#include <QTabBar>

#include <algorithm>

namespace pellory::widgets {
namespace {

bool IsHorizontal(QTabBar::Shape shape) {
    return shape == QTabBar::RoundedNorth || shape == QTabBar::RoundedSouth || shape == QTabBar::TriangularNorth ||
           shape == QTabBar::TriangularSouth;
}

// The title's width in the tab's font, as the style draws it (mnemonic marks take no room).
int TitleWidth(const QStyleOptionTab& tab, const QWidget* widget) {
    const QFontMetrics metrics = widget ? widget->fontMetrics() : tab.fontMetrics;
    QString text = tab.text;
    text.remove(QLatin1Char('&'));  // "&&" would show one '&': a pixel or two of margin at most
    return metrics.horizontalAdvance(text);
}

}  // namespace

CompactTabStyle::CompactTabStyle(QStyle* base) : QProxyStyle(base) {}

int CompactTabStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
    const int value = QProxyStyle::pixelMetric(metric, option, widget);
    return metric == PM_TabBarTabHSpace ? std::min(value, kMaxTabHSpace) : value;
}

QSize CompactTabStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contentsSize,
                                        const QWidget* widget) const {
    QSize size = QProxyStyle::sizeFromContents(type, option, contentsSize, widget);
    const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option);
    if (type != CT_TabBarTab || tab == nullptr || !IsHorizontal(tab->shape) || tab->text.isEmpty()) return size;
    // Styles keep their own margins inside a tab, often wider than the room they ask for:
    // widen the tab until the title fits the label area the style will draw it in.
    QStyleOptionTab probe(*tab);
    probe.rect = QRect(QPoint(0, 0), size);
    const int room = subElementRect(SE_TabBarTabText, &probe, widget).width();
    const int need = TitleWidth(*tab, widget);
    if (room < need) size.rwidth() += need - room;
    return size;
}

void KeepTabTitlesWhole(QTabBar* bar) {
    bar->setElideMode(Qt::ElideNone);
    bar->setUsesScrollButtons(true);
    bar->setExpanding(false);
}

int TabTitleRoom(const QTabBar* bar, int index) {
    QStyleOptionTab tab;
    tab.initFrom(bar);
    tab.shape = bar->shape();
    tab.text = bar->tabText(index);
    tab.rect = bar->tabRect(index);
    tab.documentMode = bar->documentMode();
    return bar->style()->subElementRect(QStyle::SE_TabBarTabText, &tab, bar).width();
}

int TabTitleNeed(const QTabBar* bar, int index) {
    QString text = bar->tabText(index);
    text.remove(QLatin1Char('&'));
    return bar->fontMetrics().horizontalAdvance(text);
}

}  // namespace pellory::widgets
