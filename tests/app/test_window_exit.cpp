// Ending the program: the real window, driven through a print on its pages against a virtual
// printer, then destroyed or ended every way a user or the system can end it (Escape, the close
// box or Alt+F4, Ctrl+Q, SIGTERM, SIGTERM over an open message box). Whatever tab is current,
// destruction runs no page code on a destroyed page, every way returns status 0, and every
// page's port is released afterwards.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "app/pellory_app.h"
#include "imaging/picture.h"
#include "link/port_settings.h"
#include "pages/core/page_link.h"
#include "pages/page_test_support.h"
#include "platform/threads.h"
#include "support/scratch_folder.h"
#include "support/support.h"
#include "widgets/dialog_layout.h"
#include "widgets/qt_test_app.h"

namespace pellory::app {
namespace {

constexpr int kCom = 81;
constexpr uint32_t kByteWaitMs = 20000;
// Only a watchdog: a way of ending that works ends the window long before.
constexpr int kWatchdogMs = 120000;

// The user's print (or, on "COM Setup", the connection test) on one page of the window, with the
// page's tab selected first as a click on the tab would. The printer must get bytes for it.
void PrintOn(CPelloryDlg& w, int page, test::MappedPrinter& printer) {
    SCOPED_TRACE(page);
    w.TabControl().setCurrentIndex(page);
    ASSERT_EQ(w.TabControl().currentIndex(), page);
    const size_t before = printer->receivedCount();
    const int rows = w.History().RowCount();
    switch (page) {
        case kPageComSetup:
            w.SetupPage().OnCommTest();
            break;
        case kPagePrinterTest:
            ASSERT_NE(w.QuickTestPage().SampleButton(0), nullptr);
            w.QuickTestPage().SampleButton(0)->click();
            break;
        case kPagePrintSetup:
            if (auto* box = test::PageControl<QCheckBox>(&w.PrintSetupPage(), pages::CDialogPSetup::kIdDoubleHigh)) {
                box->click();
            }
            break;
        case kPageTextPrint:
            w.TextPrintPage().SetTransmitText(QStringLiteral("Pellory"));
            if (auto* b = test::PageControl<QPushButton>(&w.TextPrintPage(), pages::kIdPrintButton)) b->click();
            break;
        case kPageImagePrint:
            w.ImagePrintPage().SetWorkingBitmap(imaging::WorkingBitmap(8, 8));
            w.ImagePrintPage().ThresholdImage(128);
            w.ImagePrintPage().OnPrintPicture();
            break;
        case kPageBarcodePrint:
            w.BarcodePage().OnPrint();
            break;
        default:
            FAIL();
    }
    EXPECT_TRUE(printer->waitForBytes(before + 3, kByteWaitMs)) << "got " << printer->receivedCount() - before;
    if (page != kPageComSetup) {
        EXPECT_GT(w.History().RowCount(), rows);
        // Every byte of the print has reached the printer before the test goes on: a window that
        // ends now does not have to write out the rest within the close's stall limit, which a
        // busy machine could miss, leaving the printer in the middle of a command that would
        // swallow the next connection probe.
        size_t sent = 0;
        for (int row = rows; row < w.History().RowCount(); ++row) sent += w.History().Record(row).size();
        EXPECT_TRUE(printer->waitForBytes(before + sent, kByteWaitMs))
            << "got " << printer->receivedCount() - before << " of " << sent;
    }
}

// Whether another program could open the port now (every link on it has let go).
bool PortIsFree() {
    link::CSerialEngine other;
    const bool opened = other.Open(kCom, 8, 0, 0);
    if (opened) other.Close(link::kLinkStopTimeoutMs);
    return opened;
}

// The handler of each closing signal now.
std::vector<void (*)(int)> CloseSignalHandlers() {
    std::vector<void (*)(int)> out;
    for (int s : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction now {};
        EXPECT_EQ(sigaction(s, nullptr, &now), 0);
        out.push_back(now.sa_handler);
    }
    return out;
}

class WindowExitTest : public ::testing::Test {
protected:
    void SetUp() override { link::PortSettings.portNumber = kCom; }
    test::ScriptedPrompt prompt;
};

// Pages are destroyed one by one from the last tab; each one leaving makes the tab control pick
// another current tab, which used to run the tab-change handler on pages already gone.
TEST_F(WindowExitTest, DestroyedAfterAPrintOnEveryPageWhicheverTabIsCurrent) {
    test::MappedPrinter printer(kCom);
    {
        auto w = std::make_unique<CPelloryDlg>();
        link::PortSettings.portNumber = kCom;  // "COM Setup" chose its own port at start-up
        w->SetPrompt(&prompt);
        w->show();
        for (int page = 0; page < kPageCount; ++page) PrintOn(*w, page, printer);
        // Only the connection test's own message: no page failed to reach the printer.
        EXPECT_EQ(prompt.messages.size(), 1u);
        for (const std::string& text : prompt.Texts()) EXPECT_EQ(text.find("Error"), std::string::npos) << text;
        ASSERT_EQ(w->TabControl().currentIndex(), kPageBarcodePrint);
        ASSERT_TRUE(w->Page(kPageBarcodePrint).IsOpen());
        const std::shared_ptr<QtNotifyTarget> notify = w->NotifyWindow();
        w.reset();
        EXPECT_FALSE(notify->IsLive());
        EXPECT_TRUE(PortIsFree());
    }
    // The same with each other tab current when the window goes: its page printed last, its link
    // still open.
    for (int last = kPagePrinterTest; last < kPageBarcodePrint; ++last) {
        SCOPED_TRACE(last);
        auto w = std::make_unique<CPelloryDlg>();
        link::PortSettings.portNumber = kCom;  // "COM Setup" chose its own port at start-up
        w->SetPrompt(&prompt);
        w->show();
        PrintOn(*w, last, printer);
        ASSERT_TRUE(w->Page(last).IsOpen());
        w.reset();
        EXPECT_TRUE(PortIsFree());
    }
}

// A print still waiting for the printer (CTS held off) when the window goes is written out whole
// once the printer takes bytes again, before the link closes: the printer is not left in the
// middle of a command, which would swallow the next connection probe.
TEST_F(WindowExitTest, APrintStillOnItsWayWhenTheWindowGoesIsSentWhole) {
    test::MappedPrinter printer(kCom);
    auto w = std::make_unique<CPelloryDlg>();
    link::PortSettings.portNumber = kCom;
    w->SetPrompt(&prompt);
    w->show();
    PrintOn(*w, kPageTextPrint, printer);  // the page's link is open from here on
    ASSERT_TRUE(printer->waitForQuiet(200, kByteWaitMs));
    const size_t before = printer->receivedCount();
    const std::string text(3000, 'P');
    printer->setHoldCts(true);
    w->TextPrintPage().SetTransmitText(QString::fromStdString(text));
    auto* print = test::PageControl<QPushButton>(&w->TextPrintPage(), pages::kIdPrintButton);
    ASSERT_NE(print, nullptr);
    print->click();
    // The printer takes bytes again only after the window has begun to go.
    std::thread release([&] {
        platform::SleepMs(300);
        printer->setHoldCts(false);
    });
    w.reset();
    release.join();
    EXPECT_TRUE(printer->waitForBytes(before + text.size(), kByteWaitMs));
    const vprinter::Bytes got = printer->received();
    const std::string arrived(got.begin() + static_cast<std::ptrdiff_t>(before), got.end());
    EXPECT_NE(arrived.find(text), std::string::npos) << arrived.size() << " bytes arrived";
    EXPECT_TRUE(PortIsFree());
}

// Closing the window while "Open..." sends a large file ends the send there: nothing more is
// queued once the window has begun to go, what was queued goes out as the link closes, and no
// message box follows the window.
TEST_F(WindowExitTest, ClosingTheWindowDuringAFileSendStopsTheSend) {
    test::MappedPrinter printer(kCom);
    const test::ScratchFolder scratch("pellory_window_exit");
    const std::string file = scratch.Path("big.bin");
    constexpr size_t kFileSize = size_t{8} << 20;
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << std::string(kFileSize, 'F');
        ASSERT_TRUE(out.good());
    }
    size_t before = 0;
    const int code = RunMainWindow([&](CPelloryDlg& w) {
        link::PortSettings.portNumber = kCom;
        w.SetPrompt(&prompt);
        PrintOn(w, kPageTextPrint, printer);  // the page's link is open from here on
        ASSERT_TRUE(printer->waitForQuiet(200, kByteWaitMs));
        before = printer->receivedCount();
        // The printer holds the file back until the window has begun to go, then takes bytes
        // again as fast as they come.
        printer->setHoldCts(true);
        QTimer::singleShot(300, &w, [&] {
            w.close();
            printer->setHoldCts(false);
        });
        prompt.QueueFile(file);
        auto* open = test::PageControl<QPushButton>(&w.TextPrintPage(), pages::kIdOpenButton);
        ASSERT_NE(open, nullptr);
        open->click();
    });
    EXPECT_EQ(code, 0);
    ASSERT_TRUE(printer->waitForQuiet(500, kByteWaitMs));
    const size_t arrived = printer->receivedCount() - before;
    EXPECT_GT(arrived, 0u);
    EXPECT_LE(arrived, pages::kSendBacklogLimit + 2 * pages::kFilePieceSize) << "of " << kFileSize;
    for (const std::string& text : prompt.Texts()) EXPECT_EQ(text.find("Sending"), std::string::npos) << text;
    EXPECT_TRUE(PortIsFree());
}

// How a test ends the window once it is on screen, after a print on "Printer Test".
using Ending = std::function<void(CPelloryDlg&)>;

// Runs the program's window as the program does, prints on "Printer Test" and ends it with
// ending. Returns the status RunMainWindow gave; watchdogFired tells whether it had to be ended
// by force.
int RunPrintAndEnd(test::MappedPrinter& printer, test::ScriptedPrompt& prompt, const Ending& ending,
                   bool& watchdogFired) {
    watchdogFired = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    return RunMainWindow([&](CPelloryDlg& w) {
        QObject::connect(&watchdog, &QTimer::timeout, &w, [&] {
            watchdogFired = true;
            while (QWidget* m = QApplication::activeModalWidget()) {
                if (m == &w) break;
                m->close();
            }
            w.done(QDialog::Rejected);
        });
        watchdog.start(kWatchdogMs);
        link::PortSettings.portNumber = kCom;  // "COM Setup" chose its own port at start-up
        w.SetPrompt(&prompt);
        PrintOn(w, kPagePrinterTest, printer);
        EXPECT_TRUE(w.Page(kPagePrinterTest).IsOpen());
        ending(w);
    });
}

TEST_F(WindowExitTest, EveryWayOfEndingAfterAPrintReturnsZeroAndReleasesThePort) {
    const std::vector<void (*)(int)> before = CloseSignalHandlers();
    test::MappedPrinter printer(kCom);
    struct Way {
        const char* name;
        Ending end;
    };
    const Way ways[] = {
        {"Escape", [](CPelloryDlg& w) {
             w.TabControl().tabBar()->setFocus();
             QTest::keyClick(w.TabControl().tabBar(), Qt::Key_Escape);
         }},
        // The close box and Alt+F4 both reach the window as the window system's close request.
        {"close box / Alt+F4", [](CPelloryDlg& w) {
             ASSERT_NE(w.windowHandle(), nullptr);
             QCloseEvent close;
             QCoreApplication::sendEvent(w.windowHandle(), &close);
         }},
        {"Ctrl+Q", [](CPelloryDlg& w) {
             w.activateWindow();
             ASSERT_TRUE(QTest::qWaitForWindowActive(&w, kWatchdogMs));
             // From a text field too: the field does not take the key for itself.
             w.TabControl().setCurrentIndex(kPageTextPrint);
             QWidget* field = widgets::FindControl(&w.TextPrintPage(), pages::kIdTransmitField);
             ASSERT_NE(field, nullptr);
             field->setFocus();
             QTest::keyClick(field, Qt::Key_Q, Qt::ControlModifier);
         }},
        {"SIGTERM", [](CPelloryDlg&) { std::raise(SIGTERM); }},
        // A modal box open over the window: the signal cancels it, then the window ends.
        {"SIGTERM over the About box", [](CPelloryDlg& w) {
             QTimer::singleShot(0, [] { std::raise(SIGTERM); });
             w.AboutAction().trigger();
         }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        bool watchdogFired = false;
        EXPECT_EQ(RunPrintAndEnd(printer, prompt, way.end, watchdogFired), 0);
        EXPECT_FALSE(watchdogFired) << "the window did not end by " << way.name;
        EXPECT_TRUE(PortIsFree());
    }
    // Once the window is gone, the signals have their usual meaning again.
    EXPECT_EQ(CloseSignalHandlers(), before);
}

TEST(SignalCloser, OnlyOneAtATimeAndTheHandlersGoBackWhenItGoes) {
    const std::vector<void (*)(int)> before = CloseSignalHandlers();
    int calls = 0;
    {
        SignalCloser first([&] { ++calls; });
        ASSERT_TRUE(first.Active());
        SignalCloser second([] {});
        EXPECT_FALSE(second.Active());
        std::raise(SIGINT);
        std::raise(SIGHUP);
        ASSERT_TRUE(widgets::testing::ProcessEventsUntil([&] { return calls > 0; }, kWatchdogMs));
    }
    EXPECT_EQ(CloseSignalHandlers(), before);
    // A new one works after the first has gone.
    SignalCloser again([&] { calls = -1; });
    ASSERT_TRUE(again.Active());
    std::raise(SIGTERM);
    EXPECT_TRUE(widgets::testing::ProcessEventsUntil([&] { return calls == -1; }, kWatchdogMs));
}

}  // namespace
}  // namespace pellory::app
