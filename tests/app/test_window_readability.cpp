// What the window shows can be read: every drop-down list opens wide enough for its longest
// entry, also after a list is filled anew, with the program's font and a larger one.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QTabBar>

#include <memory>
#include <vector>

#include "app/main_window.h"
#include "pages/page_settings_guard.h"
#include "widgets/compact_tab_style.h"
#include "widgets/dialog_layout.h"
#include "widgets/qt_test_app.h"

namespace pellory::app {
namespace {

int LongestEntryWidth(QComboBox* combo) {
    const QFontMetrics metrics(combo->view()->font());
    int widest = 0;
    for (int i = 0; i < combo->count(); ++i) widest = std::max(widest, metrics.horizontalAdvance(combo->itemText(i)));
    return widest;
}

void ExpectEveryListOpensWideEnough(QWidget* window) {
    const QList<QComboBox*> combos = window->findChildren<QComboBox*>();
    ASSERT_FALSE(combos.isEmpty());
    for (QComboBox* combo : combos) {
        EXPECT_GT(combo->view()->minimumWidth(), LongestEntryWidth(combo)) << combo->objectName().toStdString();
    }
}

// The settings and the ready flag start as at a program's start (page_settings_guard.h).
using WindowReadability = ::testing::Test;

TEST_F(WindowReadability, EveryDropDownListOpensAsWideAsItsLongestEntry) {
    auto window = std::make_unique<CPelloryDlg>();
    ExpectEveryListOpensWideEnough(window.get());
    // "Slovenia / Croatia" among the character sets is one of the long entries.
    bool slovenia = false;
    for (QComboBox* combo : window->findChildren<QComboBox*>()) {
        if (combo->findText(QStringLiteral("Slovenia / Croatia")) >= 0) {
            slovenia = true;
            EXPECT_GT(combo->view()->minimumWidth(),
                      QFontMetrics(combo->view()->font()).horizontalAdvance(QStringLiteral("Slovenia / Croatia")));
        }
    }
    EXPECT_TRUE(slovenia);
}

TEST_F(WindowReadability, WithALargerSystemFontTheListsStillOpenWideEnough) {
    const QFont before = QApplication::font();
    QFont larger = before;
    larger.setPointSizeF(before.pointSizeF() > 0 ? before.pointSizeF() * 1.4 : 13.0);
    QApplication::setFont(larger);
    {
        auto window = std::make_unique<CPelloryDlg>();
        ExpectEveryListOpensWideEnough(window.get());
    }
    QApplication::setFont(before);
}

// Every tab title shows whole in the tab bar's font: its tab leaves the style's label area at
// least as wide as the title (the test holds the tab's geometry against the font's metrics:
// whether pixels are cut depends on the style, and the offscreen platform's cuts nothing). The six tabs fit in one row at these
// fonts, since the window's layout grows with its font.
TEST_F(WindowReadability, TabTitlesShowWholeAtLargerFonts) {
    const QFont before = QApplication::font();
    const double base = before.pointSizeF() > 0 ? before.pointSizeF() : 9.0;
    for (const double points : {base, 11.0, 14.0, 2 * base}) {
        SCOPED_TRACE(points);
        QFont font = before;
        font.setPointSizeF(points);
        QApplication::setFont(font);
        {
            CPelloryDlg window;
            window.show();
            QApplication::processEvents();
            const QTabBar* bar = window.TabControl().tabBar();
            EXPECT_EQ(bar->font().pointSizeF(), points);
            EXPECT_EQ(bar->elideMode(), Qt::ElideNone);
            for (int i = 0; i < bar->count(); ++i) {
                EXPECT_GE(widgets::TabTitleRoom(bar, i), widgets::TabTitleNeed(bar, i)) << bar->tabText(i).toStdString();
                EXPECT_GT(widgets::TabTitleNeed(bar, i), 0);
            }
            EXPECT_LE(bar->tabRect(bar->count() - 1).right(), bar->width()) << "all six in one row";
        }
    }
    QApplication::setFont(before);
}

// A desktop may give tab bars a larger font than dialogs: the tabs no longer fit the tab
// control, and then the bar scrolls, each title still whole.
TEST_F(WindowReadability, WithALargerTabFontTheTabsScrollAndStayWhole) {
    const QFont before = QApplication::font("QTabBar");
    QFont larger = QApplication::font();
    larger.setPointSizeF((larger.pointSizeF() > 0 ? larger.pointSizeF() : 9.0) * 1.6);
    QApplication::setFont(larger, "QTabBar");
    {
        CPelloryDlg window;
        window.show();
        QApplication::processEvents();
        const QTabBar* bar = window.TabControl().tabBar();
        ASSERT_EQ(bar->font().pointSizeF(), larger.pointSizeF());
        EXPECT_TRUE(bar->usesScrollButtons());
        EXPECT_EQ(bar->elideMode(), Qt::ElideNone);
        int total = 0;
        for (int i = 0; i < bar->count(); ++i) {
            EXPECT_GE(widgets::TabTitleRoom(bar, i), widgets::TabTitleNeed(bar, i)) << bar->tabText(i).toStdString();
            total += bar->tabRect(i).width();
        }
        EXPECT_GT(total, window.TabControl().width()) << "the case this test is about: the tabs do not fit";
    }
    QApplication::setFont(before, "QTabBar");
}

// The tab control shows less of a page than the page's own size (as a native tab control
// does): every control of every page lies inside the part shown, at the program's font and at
// larger ones.
TEST_F(WindowReadability, EveryControlOfEveryPageLiesInsideThePartShown) {
    const QFont before = QApplication::font();
    const double base = before.pointSizeF() > 0 ? before.pointSizeF() : 9.0;
    for (const double points : {base, 11.0, 14.0}) {
        SCOPED_TRACE(points);
        QFont font = before;
        font.setPointSizeF(points);
        QApplication::setFont(font);
        {
            CPelloryDlg window;
            window.show();
            QApplication::processEvents();
            for (int i = 0; i < kPageCount; ++i) {
                QWidget& page = window.PageWidget(i);
                const QRect shown = page.parentWidget()->rect();
                for (QWidget* control : page.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                    if (!control->isVisibleTo(&page)) continue;
                    const QRect r = control->geometry().translated(page.pos());
                    EXPECT_TRUE(shown.contains(r))
                        << window.TabControl().tabText(i).toStdString() << ": " << control->objectName().toStdString()
                        << " at " << r.x() << "," << r.y() << " " << r.width() << "x" << r.height() << " outside "
                        << shown.width() << "x" << shown.height();
                }
            }
        }
    }
    QApplication::setFont(before);
}

TEST_F(WindowReadability, TabNeverStopsOnTheHiddenHistoryPanel) {
    auto window = std::make_unique<CPelloryDlg>();
    const auto panel = [&] {
        std::vector<QWidget*> out;
        for (const char* name : {"historyList", "clearButton", "saveButton"}) {
            QWidget* w = window->findChild<QWidget*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
            EXPECT_NE(w, nullptr) << name;
            if (w) out.push_back(w);
        }
        return out;
    };
    // At start the window is shrunk: no panel control takes the focus from the keyboard.
    for (QWidget* w : panel()) EXPECT_FALSE(w->focusPolicy() & Qt::TabFocus) << w->objectName().toStdString();
    window->OnExpandShrink();  // expanded: they do again
    for (QWidget* w : panel()) EXPECT_TRUE(w->focusPolicy() & Qt::TabFocus) << w->objectName().toStdString();
    window->OnExpandShrink();  // shrunk again
    for (QWidget* w : panel()) EXPECT_FALSE(w->focusPolicy() & Qt::TabFocus) << w->objectName().toStdString();
}

TEST(WidenDropDownLists, FollowsEntriesAddedLater) {
    QWidget root;
    auto* combo = new QComboBox(&root);
    combo->setFixedWidth(40);
    combo->addItem(QStringLiteral("A"));
    widgets::WidenDropDownLists(&root);
    const int before = combo->view()->minimumWidth();
    const QString longer = QStringLiteral("24-dot double-density, a much longer entry");
    combo->addItem(longer);
    EXPECT_GT(combo->view()->minimumWidth(), before);
    EXPECT_GT(combo->view()->minimumWidth(), QFontMetrics(combo->view()->font()).horizontalAdvance(longer));
    combo->clear();
    combo->addItem(QStringLiteral("B"));
    EXPECT_LT(combo->view()->minimumWidth(), QFontMetrics(combo->view()->font()).horizontalAdvance(longer));
}

}  // namespace
}  // namespace pellory::app
