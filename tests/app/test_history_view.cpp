// The command-history list view (its model: tests/history/test_history_model.cpp).
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>

#include <string>

#include "app/history_view.h"
#include "history/history_model.h"

namespace pellory::app {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "test_history_view";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);  // left alive until the process ends
    return *app;
}

// A raster-image row of 200,000 bytes: 600,000 characters of echo text.
std::string HugeEcho() {
    std::string echo = "1D 76 30 00 30 00 20 00 ";
    while (echo.size() < 600000) echo += "AA ";
    return echo;
}

class HistoryViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        view.resize(240, 200);
        view.SetUpColumns();
        view.show();
        QApplication::processEvents();
    }
    QApplication& app = App();  // before any widget
    HistoryView view;

    void Click(QPoint at, QEvent::Type type) {
        QMouseEvent event(type, QPointF(at), view.viewport()->mapToGlobal(QPointF(at)), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &event);
    }
};

TEST_F(HistoryViewTest, ColumnsFollowTheClientWidth) {
    EXPECT_EQ(view.ClientWidth(), 240 - 2 * view.frameWidth());
    EXPECT_EQ(view.columnWidth(0), 22);
    EXPECT_EQ(view.columnWidth(1), view.ClientWidth() - 117);
    EXPECT_EQ(view.columnWidth(2), 90);
    view.SetUpColumns(100);  // narrower than the fixed columns
    EXPECT_EQ(view.columnWidth(1), 0);
}

TEST_F(HistoryViewTest, RowsHaveOneFixedHeight) {
    view.Model().AddRow("0A ");
    view.Model().AddRow(HugeEcho());
    view.Model().AddRow("48 69 0A ");
    EXPECT_EQ(view.verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    for (int row = 0; row < 3; ++row) EXPECT_EQ(view.rowHeight(row), view.RowHeight());
    EXPECT_GE(view.RowHeight(), view.fontMetrics().height());
    // The delegate never sizes a row by its text.
    QStyleOptionViewItem option;
    option.fontMetrics = view.fontMetrics();
    const QSize shortCell = view.itemDelegate()->sizeHint(option, view.Model().index(0, 1));
    EXPECT_EQ(view.itemDelegate()->sizeHint(option, view.Model().index(1, 1)), shortCell);
}

TEST_F(HistoryViewTest, KeepsTheNewestRowInSight) {
    const auto fullyShown = [&](int row) {
        const QRect cell = view.visualRect(view.Model().index(row, 1));
        return cell.top() >= 0 && cell.bottom() < view.viewport()->height();
    };
    // One row at a time with the events handled in between, as the window adds them: also the
    // row that brings in the scroll bars (which shrink the visible part) stays in sight.
    for (int row = 0; row < 30; ++row) {
        view.Model().AddRow("0A ");
        QApplication::processEvents();
        ASSERT_TRUE(fullyShown(row)) << row;
    }
    for (int row = 30; row < 100; ++row) view.Model().AddRow(row % 10 == 9 ? HugeEcho() : "0A ");
    QApplication::processEvents();
    EXPECT_TRUE(fullyShown(99));
    EXPECT_FALSE(fullyShown(0));
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());

    view.scrollToTop();
    ASSERT_FALSE(fullyShown(99));
    view.Model().AddRow("1B 40 ");
    QApplication::processEvents();
    EXPECT_TRUE(fullyShown(100));

    // Painting the last page, huge rows included, works from the bounded texts.
    const QImage image = view.viewport()->grab().toImage();
    EXPECT_FALSE(image.isNull());
}

TEST_F(HistoryViewTest, CheckBoxTogglesByClickAndSpace) {
    view.Model().AddRow("0A ");
    view.Model().AddRow("1B 40 ");
    QApplication::processEvents();
    const QRect cell = view.visualRect(view.Model().index(1, 0));
    const QPoint centre = cell.center();
    Click(centre, QEvent::MouseButtonPress);
    Click(centre, QEvent::MouseButtonRelease);
    EXPECT_FALSE(view.Model().IsTicked(1));
    EXPECT_TRUE(view.Model().IsTicked(0));

    // A click on the text of the row selects it but leaves the tick alone.
    const QPoint text = view.visualRect(view.Model().index(1, 1)).center();
    Click(text, QEvent::MouseButtonPress);
    Click(text, QEvent::MouseButtonRelease);
    EXPECT_FALSE(view.Model().IsTicked(1));
    EXPECT_TRUE(view.selectionModel()->isRowSelected(1, QModelIndex()));

    // Space ticks the current row whatever its current column.
    view.setCurrentIndex(view.Model().index(1, 2));
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
    QApplication::sendEvent(&view, &space);
    EXPECT_TRUE(view.Model().IsTicked(1));
}

}  // namespace
}  // namespace pellory::app
