// The main window's tab style: titles are never cut, whatever room the underlying style keeps
// inside a tab for itself and whatever the font.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTabBar>

#include <memory>

#include "widgets/compact_tab_style.h"
#include "widgets/qt_test_app.h"

namespace pellory::widgets {
namespace {

const char* const kTitles[] = {"COM Setup", "Printer Test", "Print Setup", "Text Print", "Image Print", "Barcode Print"};

// A style that draws a tab's title inside wide margins of its own, wider than the room beside
// the title that it asks for (as several desktop styles do).
class WideLabelMargins : public QProxyStyle {
public:
    static constexpr int kMargin = 12;
    using QProxyStyle::QProxyStyle;
    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override {
        QRect r = QProxyStyle::subElementRect(element, option, widget);
        if (element == SE_TabBarTabText) r = option->rect.adjusted(kMargin, 0, -kMargin, 0);
        return r;
    }
};

void ExpectEveryTitleWhole(QTabBar& bar, const char* what) {
    for (int i = 0; i < bar.count(); ++i) {
        EXPECT_GE(TabTitleRoom(&bar, i), TabTitleNeed(&bar, i)) << what << ": " << bar.tabText(i).toStdString();
    }
}

TEST(CompactTabStyle, TitlesFitTheLabelAreaOfAStyleWithWideMarginsAtEveryFont) {
    for (const double points : {9.0, 11.0, 14.0, 18.0}) {
        SCOPED_TRACE(points);
        CompactTabStyle style(new WideLabelMargins(QStyleFactory::create(QStringLiteral("Fusion"))));
        QTabBar bar;
        bar.setStyle(&style);
        QFont font = bar.font();
        font.setPointSizeF(points);
        bar.setFont(font);
        for (const char* t : kTitles) bar.addTab(QString::fromLatin1(t));
        bar.resize(bar.sizeHint());
        ExpectEveryTitleWhole(bar, "wide margins");
        // The room beside a title stays small where the style needs no more.
        EXPECT_LE(style.pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, &bar), CompactTabStyle::kMaxTabHSpace);
    }
}

TEST(CompactTabStyle, ATabBarTooNarrowForItsTitlesScrollsRatherThanCutting) {
    CompactTabStyle style;
    QTabBar bar;
    bar.setStyle(&style);
    // As some styles start a tab bar: eliding titles, squeezing tabs.
    bar.setElideMode(Qt::ElideRight);
    bar.setUsesScrollButtons(false);
    KeepTabTitlesWhole(&bar);
    for (const char* t : kTitles) bar.addTab(QString::fromLatin1(t));
    bar.resize(bar.sizeHint().width() / 2, bar.sizeHint().height());
    bar.show();
    QApplication::processEvents();
    EXPECT_EQ(bar.elideMode(), Qt::ElideNone);
    EXPECT_TRUE(bar.usesScrollButtons());
    ExpectEveryTitleWhole(bar, "half as wide as needed");
}

}  // namespace
}  // namespace pellory::widgets
