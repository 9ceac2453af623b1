// The "Virtual Printer" window's printer keeps no log, and what waits for the window thread is
// bounded: while that thread is busy the printer stops reading, as a printer with a full buffer,
// and nothing is lost once the window takes the bytes again. Closing the window or stopping the
// printer ends such a wait at once.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "app/virtual_printer_window.h"
#include "support/live_heap.h"
#include "support/raw_host.h"
#include "widgets/qt_test_app.h"

namespace pellory::app {
namespace {

using test::LiveHeapBytes;
using Clock = std::chrono::steady_clock;

constexpr size_t kLimit = VirtualPrinterWindow::kArrivedLimit;
constexpr size_t kStream = 4 * kLimit;
constexpr long long kSlack = 2 << 20;  // a piece of the printer's in flight, and more

// A host thread writing kStream bytes to the printer: GS 8 L commands of 1 MiB each, whose
// data pass through the printer and cost the window's paper nothing to take (even under a
// sanitizer).
class Writer {
public:
    explicit Writer(const std::string& path) : host_(path) {}
    ~Writer() {
        host_.cancel();
        if (thread_.joinable()) thread_.join();
    }
    void start() {
        thread_ = std::thread([this] {
            const size_t length = chunk.size() - 7;
            const uint8_t head[7] = {0x1D, 0x38, 0x4C, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                     static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
            std::copy(head, head + 7, chunk.begin());
            for (size_t i = 7; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i * 7);
            bool ok = host_.open();
            for (size_t sent = 0; ok && sent < kStream; sent += chunk.size()) ok = host_.write(chunk.data(), chunk.size());
            done_ = ok;
        });
    }
    bool done() const { return done_; }

private:
    std::vector<uint8_t> chunk{std::vector<uint8_t>(1 << 20)};
    test::RawHost host_;
    std::thread thread_;
    std::atomic<bool> done_{false};
};

// Waits, without running the window thread's events, until the printer took no byte for 500 ms
// (or took them all); a watchdog bounds it.
void WaitUntilThePrinterWaits(const vprinter::VirtualPrinter& printer) {
    const auto until = Clock::now() + std::chrono::seconds(60);
    size_t last = printer.receivedCount();
    auto since = Clock::now();
    while (Clock::now() < until && last < kStream) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const size_t now = printer.receivedCount();
        if (now != last) {
            last = now;
            since = Clock::now();
        } else if (now >= kLimit && Clock::now() - since >= std::chrono::milliseconds(500)) {
            return;
        }
    }
}

TEST(VirtualPrinterWindowMemory, WhatWaitsForTheWindowThreadIsBounded) {
    vprinter::VirtualPrinter printer;
    ASSERT_TRUE(printer.start());
    VirtualPrinterWindow window(printer);
    Writer writer(printer.slavePath());
    const long long base = LiveHeapBytes();
    writer.start();
    WaitUntilThePrinterWaits(printer);
    EXPECT_LE(LiveHeapBytes() - base, static_cast<long long>(kLimit) + kSlack)
        << "with the window thread busy, after " << (printer.receivedCount() >> 20) << " MiB";
    EXPECT_LT(printer.receivedCount(), kStream) << "the printer waits for the window";

    // The window takes what came; the printer goes on, and every byte reaches the paper.
    EXPECT_TRUE(widgets::testing::ProcessEventsUntil(
        [&] { return window.interpreter().bytesFed() == kStream && writer.done(); }, 120000))
        << window.interpreter().bytesFed() << " of " << kStream;
    EXPECT_EQ(printer.receivedCount(), kStream);
    EXPECT_TRUE(printer.received().empty()) << "the window's printer keeps no log";
}

TEST(VirtualPrinterWindowMemory, ClosingTheWindowOrStoppingThePrinterEndsTheWait) {
    for (const bool close : {true, false}) {
        SCOPED_TRACE(close ? "closing the window" : "stopping the printer");
        vprinter::VirtualPrinter printer;
        ASSERT_TRUE(printer.start());
        auto window = std::make_unique<VirtualPrinterWindow>(printer);
        Writer writer(printer.slavePath());
        writer.start();
        WaitUntilThePrinterWaits(printer);
        ASSERT_LT(printer.receivedCount(), kStream);
        const auto t0 = Clock::now();
        if (close) {
            window.reset();
        } else {
            printer.stop();
        }
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2)) << "no wait for a window thread that is not there";
        if (close) {
            // Without the window the printer reads on.
            EXPECT_TRUE(printer.waitForBytes(kStream, 60000)) << printer.receivedCount();
        }
        window.reset();
    }
}

}  // namespace
}  // namespace pellory::app
