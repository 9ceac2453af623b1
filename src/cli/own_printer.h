// The program's own virtual printer (--virtual-printer), started the same way by the window and
// by the command line: the printer starts, a COM number of the port map is given to it, a probe or
// status query on that number waits for its reply (OwnPrinterReplyWait), and a line on the error
// stream says where it is. When the object goes, the number is given back before the printer
// stops, so the printer outlives every link that the number led to it.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/own_printer_wait.h"
#include "platform/port_map.h"
#include "vprinter/virtual_printer.h"

namespace pellory::app {

// Maps one COM number to a path for the length of a run and puts back what was there before.
class PortBinding {
public:
    PortBinding() = default;
    PortBinding(const PortBinding&) = delete;
    PortBinding& operator=(const PortBinding&) = delete;
    ~PortBinding();

    // byPath: the user gave the path itself, so messages name the port by it, not by n.
    void Bind(int n, const std::string& path, const std::string& description, bool byPath);

    // The highest COM number that nothing maps now (0 when every one is taken).
    static int FreeNumber();

private:
    int number_ = 0;
    bool byPath_ = false;
    std::optional<platform::PortEntry> previous_;
};

class OwnVirtualPrinter {
public:
    struct Request {
        vprinter::VirtualPrinter::Transport transport = vprinter::VirtualPrinter::Transport::PseudoTerminal;
        // 0: the lowest COM number still free, kept while the printer lives, and the line
        // "Pellory: virtual printer on COM1 (/dev/pts/4)" (the window). n: COM n, whatever mapped
        // it before coming back afterwards, and a line only for a network printer, whose address
        // is news: "pellory-cli: virtual printer on tcp://127.0.0.1:40123 (COM1)" (the command line).
        int portNumber = 0;
        // The program's name, before the messages ("pellory", "pellory-cli").
        std::string_view program;
    };

    OwnVirtualPrinter() = default;
    ~OwnVirtualPrinter();
    OwnVirtualPrinter(const OwnVirtualPrinter&) = delete;
    OwnVirtualPrinter& operator=(const OwnVirtualPrinter&) = delete;

    // Once per object. False, with "<program>: the virtual printer cannot start: <why>" or
    // "<program>: no free COM number for the virtual printer" on err, when it cannot be had.
    bool Start(const Request& request, std::ostream& err);

    vprinter::VirtualPrinter& Printer() { return printer_; }
    int PortNumber() const { return number_; }

private:
    vprinter::VirtualPrinter printer_;  // first in, last out
    PortBinding binding_;               // a given number
    std::string registered_;            // the lowest free number: the path registered for it
    int number_ = 0;
    std::optional<OwnPrinterReplyWait> wait_;
};

}  // namespace pellory::app
