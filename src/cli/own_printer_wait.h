// Waiting for the program's own virtual printer.
#pragma once

#include "link/open_and_probe.h"

namespace pellory::vprinter {
class VirtualPrinter;
}

namespace pellory::app {

// While it lives, a probe or status query on the port of the program's own virtual printer waits
// for that printer's reply itself, at most kOwnPrinterReplyBoundMs after the usual fixed wait. The
// emulator answers at once, but on a busy machine its thread may not run within the time a real
// printer gets, and a printer that is there would be reported as not answering. Other ports keep
// the wait they had. The printer must outlive the guard; the guard puts back the wait it found.
class OwnPrinterReplyWait {
public:
    OwnPrinterReplyWait(const vprinter::VirtualPrinter& printer, int portNumber);
    ~OwnPrinterReplyWait();
    OwnPrinterReplyWait(const OwnPrinterReplyWait&) = delete;
    OwnPrinterReplyWait& operator=(const OwnPrinterReplyWait&) = delete;

private:
    link::ReplyWaitHook previous_;
};

inline constexpr uint32_t kOwnPrinterReplyBoundMs = 2000;

}  // namespace pellory::app
