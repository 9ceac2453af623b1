// The main window: start-up state, Expand/Shrink, tabs and controls, the history panel's buttons,
// the message seam reaching the pages, tab changes closing the pages' links, the keys that end
// the window and the ones that do not, the About box, and what destruction leaves behind.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "app/about_dialog.h"
#include "app/main_window.h"
#include "link/port_settings.h"
#include "pages/core/page_link.h"
#include "pages/page_test_support.h"
#include "support/support.h"
#include "widgets/dialog_layout.h"
#include "widgets/qt_test_app.h"

namespace pellory::app {
namespace {

using test::ProcessFor;
using test::WhenShown;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The window's own control with an id: like a dialog's item lookup, only its direct children
// count (the pages reuse ids of the window's controls for their own).
QWidget* WindowControl(QWidget* window, int id) {
    QWidget* found = nullptr;
    for (QWidget* w : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (widgets::ControlId(w) == id) {
            EXPECT_EQ(found, nullptr) << "two controls with id " << id;
            found = w;
        }
    }
    return found;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { window = std::make_unique<CPelloryDlg>(); }
    void TearDown() override { window.reset(); }
    widgets::DialogUnits Du() const { return widgets::DialogUnits(window->font()); }
    void PressKey(QWidget* to, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(to, &press);
    }

    std::unique_ptr<CPelloryDlg> window;
};

TEST_F(MainWindowTest, StartsShrunkOnComSetupAndExpandShrinkToggles) {
    CPelloryDlg& w = *window;
    w.show();
    ProcessFor(20);
    const widgets::DialogUnits du = Du();
    const QPoint position = w.pos();

    EXPECT_TRUE(pages::ReadyFlag);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Pellory"));
    EXPECT_FALSE(w.windowIcon().isNull());
    // Shrunk: the right edge lies at the history panel's left edge.
    EXPECT_EQ(w.width(), w.HistoryGroup().x());
    EXPECT_EQ(w.height(), du.y(215));
    EXPECT_EQ(w.FullWidth(), du.x(462));
    EXPECT_EQ(w.ExpandButton().text(), QStringLiteral(">> Expand"));
    EXPECT_EQ(w.ExpandCounter(), 1);
    EXPECT_EQ(w.TabControl().currentIndex(), kPageComSetup);
    EXPECT_TRUE(w.PageWidget(kPageComSetup).isVisible());
    for (int i = 1; i < kPageCount; ++i) EXPECT_FALSE(w.PageWidget(i).isVisible()) << "page " << i;
    EXPECT_EQ(w.History().RowCount(), 0);
    for (int i = 0; i < kPageCount; ++i) EXPECT_FALSE(w.Page(i).IsOpen()) << "page " << i;

    w.ExpandButton().click();
    EXPECT_EQ(w.width(), du.x(462));
    EXPECT_EQ(w.height(), du.y(215));
    EXPECT_EQ(w.ExpandButton().text(), QStringLiteral("<< Shrink"));
    EXPECT_TRUE(w.HistoryList().isVisible());

    w.ExpandButton().click();
    EXPECT_EQ(w.width(), w.HistoryGroup().x());
    EXPECT_EQ(w.ExpandButton().text(), QStringLiteral(">> Expand"));
    EXPECT_EQ(w.ExpandCounter(), 3);
    EXPECT_EQ(w.FullWidth(), du.x(462)) << "a shrink remembers the width the window had";

    w.ExpandButton().click();
    EXPECT_EQ(w.width(), du.x(462));
    ProcessFor(20);
    EXPECT_EQ(w.pos(), position) << "the window keeps its left and top";
}

TEST_F(MainWindowTest, TabsAndControlsHaveTheirTitlesIdsAndPlaces) {
    CPelloryDlg& w = *window;
    const widgets::DialogUnits du = Du();
    ASSERT_EQ(w.TabControl().count(), kPageCount);
    const char* titles[] = {"COM Setup", "Printer Test", "Print Setup", "Text Print", "Image Print", "Barcode Print"};
    const pages::PageLink* links[] = {&w.SetupPage(),  &w.QuickTestPage(),  &w.PrintSetupPage(),
                                      &w.TextPrintPage(), &w.ImagePrintPage(), &w.BarcodePage()};
    const QWidget* widgets[] = {&w.SetupPage(),  &w.QuickTestPage(),  &w.PrintSetupPage(),
                                &w.TextPrintPage(), &w.ImagePrintPage(), &w.BarcodePage()};
    for (int i = 0; i < kPageCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(w.TabControl().tabText(i), QString::fromLatin1(titles[i]));
        EXPECT_EQ(w.TabControl().widget(i), widgets[i]);
        EXPECT_EQ(&w.PageWidget(i), widgets[i]);
        EXPECT_EQ(&w.Page(i), links[i]);
    }

    // All six titles in one row, without scroll buttons.
    w.show();
    ProcessFor(20);
    const QTabBar* bar = w.TabControl().tabBar();
    EXPECT_LE(bar->mapTo(&w.TabControl(), bar->tabRect(kPageCount - 1).topRight()).x(), w.TabControl().width());

    struct Expected {
        int id;
        QWidget* widget;
        QRect du;
        const char* text;
    } controls[] = {
        {1000, &w.TabControl(), {7, 7, 306, 184}, nullptr},
        {1048, &w.ExpandButton(), {262, 194, 50, 14}, nullptr},
        {1059, &w.HistoryGroup(), {322, 7, 133, 201}, nullptr},
        {1060, &w.HistoryList(), {327, 20, 119, 165}, nullptr},
        {1061, &w.ClearButton(), {397, 190, 50, 14}, "Clear"},
        {1062, &w.SaveButton(), {327, 190, 50, 14}, "Save..."},
    };
    for (const Expected& c : controls) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(WindowControl(&w, c.id), c.widget);
        EXPECT_EQ(c.widget->geometry(), du.rect(c.du.x(), c.du.y(), c.du.width(), c.du.height()));
        if (c.text) {
            EXPECT_EQ(static_cast<QAbstractButton*>(c.widget)->text(), QString::fromLatin1(c.text));
        }
    }
    EXPECT_EQ(w.HistoryGroup().title(), QStringLiteral("Command History"));
    // The history list's columns were set up from its width: the "Hex" column takes the rest.
    EXPECT_EQ(w.HistoryList().columnWidth(HistoryModel::kHexColumn),
              std::max(0, w.HistoryList().ClientWidth() - HistoryView::kClientWidthReserve));
}

TEST_F(MainWindowTest, PagesAreInitialisedAndWiredToTheWindow) {
    CPelloryDlg& w = *window;
    for (int i = 0; i < kPageCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(w.Page(i).MainWindow(), static_cast<link::HistorySink*>(&w));
        auto* prompt = dynamic_cast<QtPrompt*>(w.Page(i).Prompt());
        ASSERT_NE(prompt, nullptr);
        EXPECT_EQ(prompt->Parent(), &w.PageWidget(i)) << "a page's message boxes are its own";
    }
    EXPECT_TRUE(w.TextPrintPage().echoSwitch);
    // The window's own link: owner and notification window, both this window; never opened.
    ASSERT_TRUE(w.NotifyWindow());
    EXPECT_TRUE(w.NotifyWindow()->IsLive());
    EXPECT_EQ(w.NotifyWindow()->Receiver(), static_cast<QObject*>(&w));
    EXPECT_EQ(w.OwnerWindow(), w.NotifyWindow());
    EXPECT_EQ(w.GetNotifyTarget(), w.NotifyWindow());
    EXPECT_FALSE(w.IsOpen());

    // A page's echo reaches the history through the main-window pointer.
    w.TextPrintPage().SendBytes({0x1B, 0x40});
    w.TextPrintPage().HandOver();
    ASSERT_EQ(w.History().RowCount(), 1);
    EXPECT_EQ(w.History().Echo(0), "1B 40 ");
}

TEST_F(MainWindowTest, HistoryRowsAndClear) {
    CPelloryDlg& w = *window;
    w.AddHistoryRow("");
    EXPECT_EQ(w.History().RowCount(), 0);
    w.AddHistoryRow("1B 61 01 ");
    w.AddHistoryRow("0A ");
    ASSERT_EQ(w.History().RowCount(), 2);
    EXPECT_EQ(w.History().Echo(1), "0A ");
    EXPECT_TRUE(w.History().IsTicked(1));
    w.ClearButton().click();
    EXPECT_EQ(w.History().RowCount(), 0);
}

TEST_F(MainWindowTest, SaveGoesThroughThePromptAndWritesTheTickedRows) {
    CPelloryDlg& w = *window;
    test::ScriptedPrompt prompt;
    w.SetPrompt(&prompt);
    EXPECT_EQ(w.Prompt(), &prompt);

    // Nothing to save: "No Data" and no file dialog.
    w.SaveButton().click();
    EXPECT_EQ(prompt.Texts(), std::vector<std::string>({"No Data"}));
    EXPECT_TRUE(prompt.filters.empty());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string chosen = QDir(dir.path()).filePath(QStringLiteral("history")).toStdString();
    w.AddHistoryRow("1B 40 ");
    w.AddHistoryRow("10 04 05 ");
    w.AddHistoryRow("0A ");
    w.History().SetTicked(1, false);
    prompt.QueueFile(chosen);
    w.SaveButton().click();
    EXPECT_EQ(prompt.filters, std::vector<std::string>({"TXT files(*.txt)|*.txt||"}));
    EXPECT_EQ(ReadFile(chosen + ".txt"), "1B 40 \r\n0A \r\n");
    EXPECT_EQ(prompt.messages.size(), 1u) << "success shows nothing";

    // A file that cannot be created.
    prompt.QueueFile(QDir(dir.path()).filePath(QStringLiteral("missing/history.txt")).toStdString());
    w.SaveButton().click();
    EXPECT_EQ(prompt.Texts(), std::vector<std::string>({"No Data", "Operation Failed"}));
    EXPECT_EQ(w.History().RowCount(), 3);

    // Cancelled: nothing shown, nothing written.
    w.SaveButton().click();
    EXPECT_EQ(prompt.messages.size(), 2u);
}

TEST_F(MainWindowTest, SetPromptReachesEveryPageAndNullRestoresTheQtDialogs) {
    CPelloryDlg& w = *window;
    test::ScriptedPrompt prompt;
    w.SetPrompt(&prompt);
    for (int i = 0; i < kPageCount; ++i) EXPECT_EQ(w.Page(i).Prompt(), &prompt) << "page " << i;
    w.Page(kPageImagePrint).ShowMessage("Load file failed!", "Note");
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].caption, "Note");

    w.SetPrompt(nullptr);
    EXPECT_NE(dynamic_cast<QtPrompt*>(w.Prompt()), nullptr);
    for (int i = 0; i < kPageCount; ++i) {
        auto* own = dynamic_cast<QtPrompt*>(w.Page(i).Prompt());
        ASSERT_NE(own, nullptr) << "page " << i;
        EXPECT_EQ(own->Parent(), &w.PageWidget(i));
    }
}

TEST_F(MainWindowTest, TabChangeClosesTheLinksOfEveryPageButComSetup) {
    CPelloryDlg& w = *window;
    test::ScriptedPrompt prompt;
    w.SetPrompt(&prompt);
    std::vector<std::unique_ptr<test::MappedPrinter>> printers;
    auto open = [&](int page) {
        link::PortSettings.portNumber = 61 + page;
        w.Page(page).OpenAndProbe();
        return w.Page(page).IsOpen();
    };
    for (int i = 0; i < kPageCount; ++i) printers.push_back(std::make_unique<test::MappedPrinter>(61 + i));
    for (int i = 0; i < kPageCount; ++i) ASSERT_TRUE(open(i)) << "page " << i;
    EXPECT_TRUE(prompt.messages.empty());
    // The Text Print page's probe went into the history.
    EXPECT_GE(w.History().RowCount(), 1);
    EXPECT_EQ(w.History().Echo(w.History().RowCount() - 1).substr(0, 9), "10 04 05 ");

    w.TabControl().setCurrentIndex(kPageTextPrint);
    EXPECT_TRUE(w.PageWidget(kPageTextPrint).isVisibleTo(&w));
    EXPECT_FALSE(w.PageWidget(kPageComSetup).isVisibleTo(&w));
    EXPECT_TRUE(w.Page(kPageComSetup).IsOpen()) << "a tab change never closes COM Setup's link";
    for (int i = 1; i < kPageCount; ++i) EXPECT_FALSE(w.Page(i).IsOpen()) << "page " << i;

    // Choosing the tab already selected changes nothing.
    ASSERT_TRUE(open(kPageTextPrint));
    w.TabControl().setCurrentIndex(kPageTextPrint);
    EXPECT_TRUE(w.Page(kPageTextPrint).IsOpen());

    // Back to COM Setup: the page just left lets go of its port, COM Setup keeps its own.
    w.TabControl().setCurrentIndex(kPageComSetup);
    EXPECT_FALSE(w.Page(kPageTextPrint).IsOpen());
    EXPECT_TRUE(w.Page(kPageComSetup).IsOpen());

    // The released port can be opened by someone else.
    link::CSerialEngine other;
    EXPECT_TRUE(other.Open(61 + kPageTextPrint, 8, 0, 0));
    other.Close(link::kLinkStopTimeoutMs);
}

TEST_F(MainWindowTest, DestructionClosesThePagesLinksAndKillsTheNotificationWindow) {
    test::MappedPrinter printer(71);
    link::PortSettings.portNumber = 71;
    window->Page(kPageBarcodePrint).OpenAndProbe();
    ASSERT_TRUE(window->Page(kPageBarcodePrint).IsOpen());
    const std::shared_ptr<QtNotifyTarget> notify = window->NotifyWindow();
    window.reset();
    EXPECT_FALSE(notify->IsLive());
    link::CSerialEngine other;
    EXPECT_TRUE(other.Open(71, 8, 0, 0)) << "the page's port was released";
    other.Close(link::kLinkStopTimeoutMs);
}

// Enter never ends the window; it presses the focused push button. Escape ends it, but not
// while a text field has the focus. Keys go to the focused control as typed ones would.
TEST_F(MainWindowTest, EnterNeverEndsTheWindowAndEscapeOnlyOutsideTextFields) {
    CPelloryDlg& w = *window;
    w.show();
    w.setResult(-1);
    w.AddHistoryRow("1B 40 ");
    auto stillOpen = [&](const char* what) {
        EXPECT_TRUE(w.isVisible()) << what;
        EXPECT_EQ(w.result(), -1) << what;
        EXPECT_EQ(w.History().RowCount(), 1) << what << ": the history is kept";
    };
    auto typeIn = [&](int page, QWidget* control, Qt::Key key) {
        ASSERT_NE(control, nullptr);
        w.TabControl().setCurrentIndex(page);
        control->setFocus();
        ASSERT_EQ(w.focusWidget(), control);
        QTest::keyClick(control, key);
    };

    // Enter and keypad Enter on the tab bar, and in the one-line fields after typing a value.
    QTest::keyClick(w.TabControl().tabBar(), Qt::Key_Return);
    QTest::keyClick(w.TabControl().tabBar(), Qt::Key_Enter, Qt::KeypadModifier);
    stillOpen("Enter on the tab bar");
    typeIn(kPagePrintSetup, widgets::FindControl(&w.PrintSetupPage(), pages::CDialogPSetup::kIdLineSpace), Qt::Key_Return);
    stillOpen("Enter in Line Space");
    typeIn(kPageImagePrint, widgets::FindControl(&w.ImagePrintPage(), pages::CDialogPPrint::kIdThreshold), Qt::Key_Enter);
    stillOpen("Enter in Threshold");
    typeIn(kPageBarcodePrint, widgets::FindControl(&w.BarcodePage(), pages::CDiglogBarcode::kIdData), Qt::Key_Return);
    stillOpen("Enter in Barcode Data");

    // Escape in a one-line field and in the multi-line transmit field.
    typeIn(kPageBarcodePrint, widgets::FindControl(&w.BarcodePage(), pages::CDiglogBarcode::kIdData), Qt::Key_Escape);
    stillOpen("Escape in Barcode Data");
    typeIn(kPageTextPrint, widgets::FindControl(&w.TextPrintPage(), pages::kIdTransmitField), Qt::Key_Escape);
    stillOpen("Escape in the transmit field");

    // Enter on a focused button presses it, once, and ends nothing: the window's own
    // Expand/Shrink button, and a page's button that does not press itself on Enter.
    w.ExpandButton().setFocus();
    QTest::keyClick(&w.ExpandButton(), Qt::Key_Return);
    EXPECT_EQ(w.ExpandCounter(), 2);
    EXPECT_EQ(w.ExpandButton().text(), QStringLiteral("<< Shrink"));
    stillOpen("Enter on Expand");
    auto* transmitClear = widgets::FindControl<QPushButton>(&w.TextPrintPage(), pages::kIdTransmitClearButton);
    ASSERT_NE(transmitClear, nullptr);
    ASSERT_FALSE(w.TextPrintPage().TransmitText().empty());
    typeIn(kPageTextPrint, transmitClear, Qt::Key_Enter);
    EXPECT_TRUE(w.TextPrintPage().TransmitText().empty()) << "Enter pressed the focused Clear button";
    stillOpen("Enter on Clear");
    w.ClearButton().setFocus();
    QTest::keyClick(&w.ClearButton(), Qt::Key_Return);
    EXPECT_EQ(w.History().RowCount(), 0) << "Enter pressed the history's Clear button";
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.result(), -1);

    // Escape outside a text field ends the window, as the close box does.
    w.ExpandButton().setFocus();
    QTest::keyClick(&w.ExpandButton(), Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.result(), QDialog::Rejected);
}

// Ctrl+Q ends the window from wherever the focus is.
TEST_F(MainWindowTest, CtrlQEndsTheWindow) {
    CPelloryDlg& w = *window;
    EXPECT_EQ(w.QuitAction().shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 60000));
    QWidget* field = widgets::FindControl(&w.BarcodePage(), pages::CDiglogBarcode::kIdData);
    ASSERT_NE(field, nullptr);
    w.TabControl().setCurrentIndex(kPageBarcodePrint);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.result(), QDialog::Rejected);
}

TEST_F(MainWindowTest, AboutBoxFromF1AndFromTheWindowMenu) {
    CPelloryDlg& w = *window;
    w.show();
    QAction& about = w.AboutAction();
    EXPECT_EQ(about.text(), QStringLiteral("&About Pellory..."));
    EXPECT_EQ(about.shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_TRUE(w.actions().contains(&about));

    QString title, version;
    QSize size, expectedSize;
    bool hasIcon = false;
    {
        WhenShown handler(false, [&](QWidget* box) {
            auto* dialog = dynamic_cast<CAboutDlg*>(box);
            ASSERT_NE(dialog, nullptr);
            title = dialog->windowTitle();
            size = dialog->size();
            expectedSize = widgets::DialogUnits(dialog->font()).size(170, 62);
            hasIcon = !dialog->windowIcon().isNull();
            if (auto* label = qobject_cast<QLabel*>(widgets::FindControl(dialog, kIdAboutVersion))) version = label->text();
            dialog->OkButton()->click();
        });
        about.trigger();
        EXPECT_TRUE(handler.handled());
    }
    EXPECT_EQ(title, QStringLiteral("About Pellory"));
    EXPECT_EQ(version, QStringLiteral("Pellory, Version 1.0.0.2"));
    EXPECT_EQ(size, expectedSize);
    EXPECT_TRUE(hasIcon);

    bool menuHasAbout = false;
    {
        WhenShown handler(true, [&](QWidget* popup) {
            auto* menu = qobject_cast<QMenu*>(popup);
            ASSERT_NE(menu, nullptr);
            menuHasAbout = menu->actions().contains(&about);
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), w.mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(&w, &event);
        EXPECT_TRUE(handler.handled());
    }
    EXPECT_TRUE(menuHasAbout);
}

}  // namespace
}  // namespace pellory::app
