// The "Virtual Printer" window: the paper follows what the virtual printer receives; the check
// boxes set its status byte and its silence.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>

#include "app/virtual_printer_window.h"
#include "link/port_settings.h"
#include "widgets/qt_test_app.h"

namespace pellory::app {
namespace {

// Runs the window's events until the paper has ink, or the watchdog ends the wait.
bool WaitForInk(const VirtualPrinterWindow& window) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (window.interpreter().paper().inkDots() > 0) return true;
    }
    return false;
}

TEST(VirtualPrinterWindow, PaperShowsWhatThePrinterReceives) {
    vprinter::VirtualPrinter printer;
    ASSERT_TRUE(printer.start());
    VirtualPrinterWindow window(printer);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Virtual Printer"));
    const int fd = ::open(printer.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const char text[] = "Live\n";
    ASSERT_EQ(::write(fd, text, 5), 5);
    EXPECT_TRUE(WaitForInk(window));
    EXPECT_EQ(window.interpreter().position(), 33);
    window.clearPaper();
    EXPECT_EQ(window.interpreter().paper().inkDots(), 0u);
    ::close(fd);
}

TEST(VirtualPrinterWindow, StatusBoxesSetTheStatusByteAndSilentStopsAnswers) {
    vprinter::VirtualPrinter printer;
    ASSERT_TRUE(printer.start());
    VirtualPrinterWindow window(printer);
    EXPECT_EQ(printer.statusByte(), 0x00);
    window.statusBox("Over Heat")->setChecked(true);
    EXPECT_EQ(printer.statusByte(), 0x08);
    window.statusBox("Cutter Error")->setChecked(true);
    EXPECT_EQ(printer.statusByte(), 0x28);
    window.statusBox("Over Heat")->setChecked(false);
    window.statusBox("Cutter Error")->setChecked(false);
    window.statusBox("Online")->setChecked(false);
    EXPECT_NE(printer.statusByte(), 0x00);  // "Online" dark
    EXPECT_EQ(printer.statusByte() & 0x2F, 0x00);  // and no fault lamp lit
    window.silentBox()->setChecked(true);
    EXPECT_EQ(printer.answerMode(), vprinter::VirtualPrinter::AnswerMode::Silent);
    window.silentBox()->setChecked(false);
    EXPECT_EQ(printer.answerMode(), vprinter::VirtualPrinter::AnswerMode::Status);
}

TEST(VirtualPrinterWindow, PaperWidthFollowsTheDevice) {
    vprinter::VirtualPrinter printer;
    ASSERT_TRUE(printer.start());
    const int32_t saved = link::PrintableWidth;
    link::PrintableWidth = 572;
    VirtualPrinterWindow window(printer);
    EXPECT_EQ(window.interpreter().paper().width(), 576);
    link::PrintableWidth = 384;
    window.takeArrived();
    EXPECT_EQ(window.interpreter().paper().width(), 384);
    link::PrintableWidth = saved;
}

}  // namespace
}  // namespace pellory::app
