// What the window shows can be read: every drop-down list opens wide enough for its longest
// entry, also after a list is filled anew, with the program's font and a larger one.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>

#include <memory>
#include <vector>

#include "app/main_window.h"
#include "link/port_settings.h"
#include "pages/core/page_link.h"
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

class WindowReadability : public ::testing::Test {
protected:
    void SetUp() override {
        link::ResetPortSettings();
        pages::ReadyFlag = false;
    }
    void TearDown() override { link::ResetPortSettings(); }
};

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
