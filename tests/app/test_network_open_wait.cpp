// Opening a network printer from a page while the name service is slow: the window thread goes on
// handling its events (a timer here) until the lookup is over, nothing the page offers can start
// a second action meanwhile, and the result comes as it would without the wait.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/qt_prompt.h"
#include "link/port_settings.h"
#include "pages/page_test_support.h"
#include "pages/setup_page.h"
#include "platform/port_map.h"
#include "support/empty_ports.h"
#include "support/support.h"
#include "widgets/qt_test_app.h"

using namespace pellory;

namespace {

using Rows = std::vector<std::string>;

// The window's own way of running a long step (the page prompt the main window gives each page,
// owned by the page), with the messages recorded instead of shown.
class WindowPrompt : public test::ScriptedPrompt {
public:
    void OwnedBy(QWidget* page) { window_.emplace(page); }
    void RunLongStep(const std::function<void()>& step) override {
        ++longSteps;
        window_->RunLongStep(step);
    }
    int longSteps = 0;

private:
    std::optional<app::QtPrompt> window_;
};

class NetworkOpenWaitTest : public test::ComSetupPageTest<WindowPrompt> {
protected:
    void InitPage(pages::CDialogSetup& p) override {
        prompt.OwnedBy(&p);
        ComSetupPageTest::InitPage(p);
    }
    // "Network", then the address typed into "Host" and "Port".
    void TypeAddress(const std::string& host, const std::string& port) {
        Control<QRadioButton>(pages::kIdRadioNetwork)->click();
        Control<QLineEdit>(pages::kIdHostField)->setText(QString::fromStdString(host));
        auto* portField = Control<QLineEdit>(pages::kIdNetworkPortField);
        portField->setText(QString::fromStdString(port));
        emit portField->editingFinished();
    }

    // Ticks on the window thread every few milliseconds. The first tick that finds a lookup
    // waiting notes it, presses "Comm. Test" again (which must not start a second action while
    // the first waits) and lets the lookup go on.
    void WatchTheLookup(test::SlowNameService& names) {
        QObject::connect(&ticker_, &QTimer::timeout, [this, &names] {
            if (names.Waiting() == 0 || tickedWhileWaiting) return;
            tickedWhileWaiting = true;
            tickOnWindowThread = QThread::currentThread() == page->thread();
            Control<QPushButton>(pages::kIdCommTest)->click();
            names.Release();
        });
        ticker_.start(5);
    }

    bool tickedWhileWaiting = false;
    bool tickOnWindowThread = false;

private:
    QTimer ticker_;
};

}  // namespace

TEST_F(NetworkOpenWaitTest, AnUnknownHostLeavesTheWindowRunningThenSaysSo) {
    TypeAddress("no-such-host.invalid", "9100");
    const int com = link::PortSettings.portNumber;
    ASSERT_GT(com, 0);
    test::SlowNameService names;
    WatchTheLookup(names);

    Control<QPushButton>(pages::kIdCommTest)->click();

    EXPECT_TRUE(tickedWhileWaiting) << "the window thread stood still while the name was looked up";
    EXPECT_TRUE(tickOnWindowThread);
    EXPECT_EQ(names.Lookups(), 1) << "the second press started a second opening";
    EXPECT_EQ(prompt.longSteps, 1);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, "COM Open Error!");
    EXPECT_EQ(prompt.messages[0].informative,
              "COM" + std::to_string(com) + " (tcp://no-such-host.invalid:9100): unknown host no-such-host.invalid.");
    EXPECT_TRUE(history.rows.empty());
    EXPECT_FALSE(page->IsOpen());
    platform::PortMap::instance().clearOverride(com);
}

TEST_F(NetworkOpenWaitTest, ANameThatResolvesLateStillReachesThePrinter) {
    // The printer listens on 127.0.0.1; its COM number names it by the host name instead.
    test::MappedPrinter printer(5, vprinter::VirtualPrinter::Transport::Tcp);
    const std::string port = printer.path().substr(printer.path().rfind(':') + 1);
    platform::PortMap::instance().setOverride(5, "tcp://localhost:" + port, "virtual printer (test)");
    TypeAddress("localhost", port);
    ASSERT_EQ(link::PortSettings.portNumber, 5);
    test::SlowNameService names;
    WatchTheLookup(names);

    Control<QPushButton>(pages::kIdCommTest)->click();

    EXPECT_TRUE(tickedWhileWaiting) << "the window thread stood still while the name was looked up";
    EXPECT_EQ(names.Hosts(), (Rows{"localhost"}));
    EXPECT_EQ(prompt.Texts(), (Rows{"Communicate Success."}));
    EXPECT_EQ(history.rows, (Rows{"10 04 05 "}));
    EXPECT_EQ(printer->received(), test::Hex("10 04 05"));
    EXPECT_FALSE(page->IsOpen());
}

// Ports that open at once (a terminal) open in place: no thread, no nested event loop.
TEST_F(NetworkOpenWaitTest, OtherKindsOfPortOpenInPlace) {
    test::MappedPrinter printer(3);
    link::PortSettings.portNumber = 3;
    Control<QPushButton>(pages::kIdCommTest)->click();
    EXPECT_EQ(prompt.Texts(), (Rows{"Communicate Success."}));
    EXPECT_EQ(prompt.longSteps, 0);
}

// The window's runner on its own: the step runs off the window thread, the window's timers run
// meanwhile, and the call returns only once the step has.
TEST(RunKeepingWindowAlive, RunsTheStepOnAnotherThreadWhileTimersFire) {
    std::atomic<bool> tick{false};
    std::atomic<bool> stepDone{false};
    std::thread::id stepThread;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { tick = true; });
    timer.start(1);
    app::RunKeepingWindowAlive([&] {
        stepThread = std::this_thread::get_id();
        const auto start = std::chrono::steady_clock::now();
        // Waits for the window thread's timer (a watchdog ends the wait after 20 s).
        while (!tick && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        stepDone = true;
    });
    EXPECT_TRUE(stepDone);
    EXPECT_TRUE(tick);
    EXPECT_NE(stepThread, std::this_thread::get_id());

    // Off the window thread it runs in place.
    std::thread other([] {
        std::thread::id inner;
        app::RunKeepingWindowAlive([&] { inner = std::this_thread::get_id(); });
        EXPECT_EQ(inner, std::this_thread::get_id());
    });
    other.join();
}
