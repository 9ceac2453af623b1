// The main window's size: it can be made larger than at start, never smaller; the tab control,
// the pages and the Expand/Shrink button keep their places, the history panel and its "Hex" and
// "Tips" columns take the room; Expand/Shrink still hides and shows the panel; nothing of the
// size outlives the window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>

#include <functional>
#include <memory>
#include <vector>

#include "app/main_window.h"
#include "link/port_settings.h"
#include "pages/core/page_link.h"
#include "pages/page_test_support.h"
#include "widgets/dialog_layout.h"
#include "widgets/qt_test_app.h"

#include <ostream>

// Readable sizes and rectangles in failure messages.
inline void PrintTo(const QSize& s, std::ostream* os) { *os << s.width() << "x" << s.height(); }
inline void PrintTo(const QRect& r, std::ostream* os) {
    *os << r.width() << "x" << r.height() << "+" << r.x() << "+" << r.y();
}

namespace pellory::app {
namespace {

// Resizes the window and waits until the resize has arrived.
bool ResizeTo(QWidget& w, QSize size) {
    w.resize(size);
    return widgets::testing::ProcessEventsUntil([&] { return w.size() == size.expandedTo(w.minimumSize()).boundedTo(w.maximumSize()); });
}

// Where everything that must not move sits.
struct FixedPart {
    QRect tab, expand;
    std::vector<QRect> pages;
    bool operator==(const FixedPart&) const = default;
};

FixedPart FixedPartOf(CPelloryDlg& w) {
    FixedPart f{w.TabControl().geometry(), w.ExpandButton().geometry(), {}};
    for (int i = 0; i < kPageCount; ++i) f.pages.push_back(w.PageWidget(i).geometry());
    return f;
}

struct Panel {
    QRect group, list, clear, save;
    int hex = 0, tips = 0, check = 0;
};

Panel PanelOf(CPelloryDlg& w) {
    HistoryView& list = w.HistoryList();
    return {w.HistoryGroup().geometry(),
            list.geometry(),
            w.ClearButton().geometry(),
            w.SaveButton().geometry(),
            list.columnWidth(HistoryModel::kHexColumn),
            list.columnWidth(HistoryModel::kTipsColumn),
            list.columnWidth(HistoryModel::kCheckColumn)};
}

class WindowSize : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<CPelloryDlg>();
        window->show();
        ASSERT_TRUE(widgets::testing::ProcessEventsUntil([&] { return window->isVisible(); }));
    }
    void TearDown() override { window.reset(); }
    std::unique_ptr<CPelloryDlg> window;
};

TEST_F(WindowSize, ALargerWindowGivesTheRoomToTheHistoryPanelAndItsColumns) {
    CPelloryDlg& w = *window;
    const widgets::DialogUnits du(w.font());
    const QSize start = du.size(462, 215);
    w.OnExpandShrink();  // expanded
    ASSERT_EQ(w.size(), start);
    EXPECT_EQ(w.minimumSize(), start);
    // The page's content shows in the tab control's page area whichever page is chosen.
    w.TabControl().setCurrentIndex(kPageTextPrint);
    const FixedPart fixed = FixedPartOf(w);
    const Panel before = PanelOf(w);
    EXPECT_GT(before.hex, 0);

    const int dx = 241, dy = 130;  // an odd width: the odd pixel goes to "Tips"
    ASSERT_TRUE(ResizeTo(w, start + QSize(dx, dy))) << "the window can be made larger";
    EXPECT_EQ(w.size(), start + QSize(dx, dy));
    const Panel after = PanelOf(w);
    EXPECT_EQ(after.group, before.group.adjusted(0, 0, dx, dy));
    EXPECT_EQ(after.list, before.list.adjusted(0, 0, dx, dy));
    EXPECT_EQ(after.clear, before.clear.translated(dx, dy)) << "Clear stays at the panel's lower right";
    EXPECT_EQ(after.save, before.save.translated(0, dy)) << "Save... stays at the panel's lower left";
    EXPECT_EQ(after.hex, before.hex + dx / 2);
    EXPECT_EQ(after.tips, before.tips + dx - dx / 2);
    EXPECT_EQ(after.check, before.check);
    EXPECT_TRUE(FixedPartOf(w) == fixed) << "the tab control, its pages and Expand/Shrink keep their places";
    for (const QRect& r : {after.list, after.clear, after.save}) EXPECT_TRUE(after.group.contains(r));
    EXPECT_TRUE(QRect(QPoint(0, 0), w.size()).contains(after.group));

    // Smaller than at start it cannot be made: it stops at the start size, with the panel and
    // its columns as they were.
    EXPECT_TRUE(ResizeTo(w, start - QSize(120, 60)));
    EXPECT_EQ(w.size(), start);
    const Panel back = PanelOf(w);
    EXPECT_EQ(back.list, before.list);
    EXPECT_EQ(back.clear, before.clear);
    EXPECT_EQ(back.hex, before.hex);
    EXPECT_EQ(back.tips, before.tips);
    EXPECT_TRUE(FixedPartOf(w) == fixed);
}

TEST_F(WindowSize, ExpandAndShrinkStillWorkOnALargerWindow) {
    CPelloryDlg& w = *window;
    const widgets::DialogUnits du(w.font());
    const QSize start = du.size(462, 215);
    const FixedPart fixed = FixedPartOf(w);
    const int panelLeft = w.HistoryGroup().x();
    ASSERT_EQ(w.width(), panelLeft);

    // Shrunk, the window's width stays at the panel's left edge; it may grow taller.
    ASSERT_TRUE(ResizeTo(w, QSize(panelLeft + 300, start.height() + 40)));
    EXPECT_EQ(w.size(), QSize(panelLeft, start.height() + 40));

    w.ExpandButton().click();
    ASSERT_TRUE(widgets::testing::ProcessEventsUntil([&] { return w.width() == start.width(); }));
    EXPECT_EQ(w.ExpandButton().text(), QStringLiteral("<< Shrink"));
    EXPECT_EQ(w.HistoryGroup().height(), du.y(201) + 40) << "the panel took the height";
    const QSize larger = start + QSize(180, 90);
    ASSERT_TRUE(ResizeTo(w, larger));
    const Panel wide = PanelOf(w);

    w.ExpandButton().click();  // shrink: the right edge at the panel's left edge, the height kept
    ASSERT_TRUE(widgets::testing::ProcessEventsUntil([&] { return w.width() == panelLeft; }));
    EXPECT_EQ(w.height(), larger.height());
    EXPECT_EQ(w.ExpandButton().text(), QStringLiteral(">> Expand"));
    EXPECT_EQ(w.HistoryGroup().x(), panelLeft);
    EXPECT_EQ(PanelOf(w).hex, wide.hex) << "the hidden panel keeps its columns";

    w.ExpandButton().click();  // expand: back to the width the user gave it
    ASSERT_TRUE(widgets::testing::ProcessEventsUntil([&] { return w.size() == larger; }));
    EXPECT_EQ(w.FullWidth(), larger.width());
    const Panel again = PanelOf(w);
    EXPECT_EQ(again.list, wide.list);
    EXPECT_EQ(again.hex, wide.hex);
    EXPECT_EQ(again.tips, wide.tips);
    EXPECT_TRUE(FixedPartOf(w) == fixed);
}

TEST_F(WindowSize, AColumnTheUserWidenedKeepsItsWidthAndItsShare) {
    CPelloryDlg& w = *window;
    w.OnExpandShrink();
    HistoryView& list = w.HistoryList();
    const int tips = list.columnWidth(HistoryModel::kTipsColumn);
    list.horizontalHeader()->resizeSection(HistoryModel::kTipsColumn, tips + 30);  // as a drag does
    const int hex = list.columnWidth(HistoryModel::kHexColumn);
    ASSERT_TRUE(ResizeTo(w, w.size() + QSize(100, 0)));
    EXPECT_EQ(list.columnWidth(HistoryModel::kTipsColumn), tips + 30 + 50);
    EXPECT_EQ(list.columnWidth(HistoryModel::kHexColumn), hex + 50);
}

TEST_F(WindowSize, TheSizeIsNotKeptForTheNextWindow) {
    const widgets::DialogUnits du(window->font());
    window->OnExpandShrink();
    ASSERT_TRUE(ResizeTo(*window, window->size() + QSize(200, 100)));
    window.reset();

    CPelloryDlg next;
    next.show();
    ASSERT_TRUE(widgets::testing::ProcessEventsUntil([&] { return next.isVisible(); }));
    EXPECT_EQ(next.size(), QSize(next.HistoryGroup().x(), du.y(215)));
    next.OnExpandShrink();
    EXPECT_EQ(next.size(), du.size(462, 215));
    // Nothing went to a settings file either (the test's own configuration folder stays empty).
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!config.isEmpty()) {
        const QStringList written = QDir(config).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        EXPECT_TRUE(written.isEmpty()) << written.join(QLatin1Char(' ')).toStdString();
    }
}

}  // namespace
}  // namespace pellory::app
