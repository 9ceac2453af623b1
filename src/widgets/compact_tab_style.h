// The tab bar's style of the main window: less room beside each title than most styles give,
// so that the six titles fit the tab control's width in one row, as in a native tab control,
// yet never so little that a title is cut: a tab is always as wide as its title needs inside
// the label area that the underlying style draws it in.
#pragma once

#include <QProxyStyle>

class QTabBar;

namespace pellory::widgets {

class CompactTabStyle : public QProxyStyle {
public:
    // The room beside a title at most, in pixels (the underlying style may ask for less).
    static constexpr int kMaxTabHSpace = 10;

    // base: the style underneath (owned by this style); null for the desktop's style.
    explicit CompactTabStyle(QStyle* base = nullptr);

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contentsSize,
                           const QWidget* widget) const override;
};

// Makes a tab bar show every title whole: no eliding, and scroll buttons when the tabs are
// wider than the bar (rather than squeezing them).
void KeepTabTitlesWhole(QTabBar* bar);

// The width of the area that the bar's style draws tab i's title in, and the width the title
// needs in the bar's font.
int TabTitleRoom(const QTabBar* bar, int index);
int TabTitleNeed(const QTabBar* bar, int index);

}  // namespace pellory::widgets
