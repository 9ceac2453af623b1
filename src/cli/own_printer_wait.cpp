#include "cli/own_printer_wait.h"

#include "link/serial_engine.h"
#include "platform/threads.h"
#include "vprinter/virtual_printer.h"

namespace pellory::app {

OwnPrinterReplyWait::OwnPrinterReplyWait(const vprinter::VirtualPrinter& printer, int portNumber)
    : previous_(link::CurrentReplyWaitHook()) {
    link::SetReplyWaitHook([&printer, portNumber, previous = previous_](link::CSerialEngine& link) {
        if (link.LastOpenPort() != portNumber) {
            if (previous) previous(link);
            return;
        }
        const uint32_t start = platform::TickCount();
        while (link.IsOpen() && link.ReceiveBuffer().Count() == 0 && printer.answersNow() &&
               platform::TickCount() - start < kOwnPrinterReplyBoundMs) {
            platform::SleepMs(2);
        }
    });
}

OwnPrinterReplyWait::~OwnPrinterReplyWait() { link::SetReplyWaitHook(previous_); }

}  // namespace pellory::app
