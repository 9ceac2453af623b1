// The program's own virtual printer is waited for: a probe on its port succeeds however late the
// emulator's thread gets to answer (within a bound), other ports keep the wait they had, and the
// wait ends with the printer's run.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "cli/own_printer_wait.h"
#include "link/open_and_probe.h"
#include "link/orva_lib.h"
#include "link/port_settings.h"
#include "platform/port_map.h"
#include "support/support.h"
#include "vprinter/virtual_printer.h"

namespace pellory::app {
namespace {

constexpr int kOwnCom = 83;
constexpr int kOtherCom = 84;
// Longer than the fixed wait for a reply: without waiting for the printer itself, its reply
// always comes too late.
constexpr int kAnswerDelayMs = 400;

// Holds every status request on the printer's reader thread before the reply goes out, as a
// busy machine may.
void AnswerLate(vprinter::VirtualPrinter& printer) {
    printer.setObserver([](const uint8_t* bytes, size_t n) {
        for (size_t i = 0; i + 1 < n; ++i) {
            if (bytes[i] == 0x10 && bytes[i + 1] == 0x04) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kAnswerDelayMs));
                return;
            }
        }
    });
}

// A printer started the way the program starts its own; its number is not one the tests'
// own reply wait knows.
class OwnPrinter {
public:
    OwnPrinter() {
        std::string error;
        if (!printer.start(&error)) throw std::runtime_error(error);
        platform::PortMap::instance().setOverride(kOwnCom, printer.slavePath(), "own printer (test)");
        AnswerLate(printer);
    }
    ~OwnPrinter() {
        printer.setObserver({});
        platform::PortMap::instance().clearOverride(kOwnCom);
    }
    vprinter::VirtualPrinter printer;
};

class OwnPrinterWaitTest : public ::testing::Test {
protected:
    // The connection probe every page makes, on port n. Returns the messages it showed.
    std::vector<std::string> Probe(int n) {
        link::PortSettings.portNumber = n;
        test::ScriptedPrompt prompt;
        link::CORVA_LIB link;
        link::OpenAndProbe(link, {}, {&prompt, nullptr}, {});
        opened = link.IsOpen();
        link.Close(link::kLinkStopTimeoutMs);
        return prompt.Texts();
    }
    bool opened = false;
};

TEST_F(OwnPrinterWaitTest, ALateReplyOfTheOwnPrinterCountsWhileTheWaitLasts) {
    OwnPrinter own;
    {
        OwnPrinterReplyWait wait(own.printer, kOwnCom);
        EXPECT_EQ(Probe(kOwnCom), std::vector<std::string>{});
        EXPECT_TRUE(opened);
        EXPECT_EQ(own.printer.answeredRequests(), 1u);

        // Silent, the printer is not waited for: the probe reports it, as for any printer.
        own.printer.setAnswerMode(vprinter::VirtualPrinter::AnswerMode::Silent);
        EXPECT_EQ(Probe(kOwnCom), std::vector<std::string>{link::kNoAnswerText});
        EXPECT_FALSE(opened);
        own.printer.setAnswerMode(vprinter::VirtualPrinter::AnswerMode::Status);
    }
    // Once the wait is gone, the fixed wait alone is too short for this printer.
    EXPECT_EQ(Probe(kOwnCom), std::vector<std::string>{link::kNoAnswerText});
    EXPECT_FALSE(opened);
}

TEST_F(OwnPrinterWaitTest, OtherPortsKeepTheWaitTheyHad) {
    OwnPrinter own;
    // The tests' own wait knows this printer and waits for its late reply too.
    test::MappedPrinter other(kOtherCom);
    AnswerLate(*other.operator->());
    OwnPrinterReplyWait wait(own.printer, kOwnCom);
    EXPECT_EQ(Probe(kOtherCom), std::vector<std::string>{});
    EXPECT_TRUE(opened);
    other->setObserver({});
}

}  // namespace
}  // namespace pellory::app
