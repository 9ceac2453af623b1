// What the program's own printer (VirtualPrinter) adds to the printer server's connections
// (ServerOptions::hooks): its answers to a few requests, the commands it counts and records, the
// bytes it records and counts once printed, and the state it keeps itself. Every call comes from
// the server's thread, for whichever connection is served; the defaults change nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/command_splitter.h"
#include "vprinter/printer_answers.h"
#include "vprinter/printer_state.h"

namespace pellory::vprinter {

class ConnectionHooks {
public:
    virtual ~ConnectionHooks() = default;

    // A host is served from now on: a line when the server starts, a TCP connection when it is
    // accepted or, one at a time, when its turn comes.
    virtual void served() {}
    // Bytes read from the host, before its intake takes them; the value returned goes to taken()
    // once the intake has answered and printed them (the print observer has had them).
    virtual uint64_t arriving(const uint8_t* /*bytes*/, size_t /*n*/) { return 0; }
    virtual void taken(size_t /*n*/, uint64_t /*token*/) {}
    // As PrinterIntake::Host::command and ::review.
    virtual void command(const protocol::PieceSplitter::Piece& /*piece*/) {}
    virtual void review(const uint8_t* /*bytes*/, size_t /*n*/, States /*s*/, Reaction& /*r*/) {}
    // A command changed the shared state (a drawer pulse, a recovery). True: the hooks keep the
    // state and give the server the result themselves (PrinterServer::setStates); false: the
    // server changes its own.
    virtual bool changeStates(States /*set*/, States /*clear*/) { return false; }
};

}  // namespace pellory::vprinter
