// What the printer answers, as pure functions of its state and model: the bytes of each status
// and information reply, and for a whole command which reply it gets and what it changes. No I/O:
// the server (printer_server.h) and the intake (printer_intake.h) send and record them.
//
// The layouts follow the public ESC/POS command reference (the real-time status DLE EOT n, the
// transmit-status GS r n, the printer ID GS I n, automatic status back GS a n, the process ID
// response GS ( H, the buffer clear DLE DC4 8). Fixed bits are as the reference gives them: in
// every DLE EOT reply bits 1 and 4 are on and bit 7 off; GS r, GS I 1-3 and the bytes of automatic
// status back have bit 4 off (byte 1 of automatic status back: on), which is how a host tells
// them apart from a DLE EOT reply.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "vprinter/printer_state.h"

namespace pellory::vprinter {

using AnswerBytes = std::vector<uint8_t>;

// DLE EOT n: n 1 printer status, 2 offline cause, 3 error cause, 4 paper roll sensor; n 5 is
// Pellory's own request (PelloryStatusByte). Nothing for any other n.
std::optional<uint8_t> RealTimeStatus(uint8_t n, States s);
// The other way, for a host that reads a printer: the states the answers to DLE EOT 1, 2, 3 and 4
// stand for (answers[0] the one to DLE EOT 1, and so on), from as many as there are up to the
// first that is not of their fixed-bit form (protocol::IsRealTimeStatusAnswer). Either bit of the
// paper sensor's pairs counts; an error the states have no name for (a mechanical error, or one
// whose cause was not read) reads as error; offline only when nothing read explains it (a cover
// open, the paper out or an error take the printer offline too). The answers of any one state
// but silent read back as that state.
States StatesOfRealTimeStatus(std::span<const uint8_t> answers);
// GS r n: n 1 or 49 paper sensor, 2 or 50 drawer. Nothing for any other n.
std::optional<uint8_t> TransmitStatus(uint8_t n, States s);
// GS I n: 1-3 and 49-51 one byte (model, type, firmware version ID); 65-69 the header "_", a text
// (firmware version, maker, model name, serial number, fonts) and NUL, each the model's profile's.
// Nothing for any other n.
std::optional<AnswerBytes> PrinterIdAnswer(uint8_t n, Model m);
// The four bytes of automatic status back (GS a n), sent while one of the items of n (bits 0-3:
// drawer, online, error, paper sensor) is on.
inline constexpr uint8_t kAutomaticStatusItems = 0x0F;
std::array<uint8_t, 4> AutomaticStatus(States s);
// The reply to GS ( H fn 48 with the four bytes d1..d4: 37 22 d1 d2 d3 d4 00.
AnswerBytes ProcessIdAnswer(const uint8_t d[4]);
// The reply to DLE DC4 8 (clear the buffers): 37 25 00.
AnswerBytes BufferClearAnswer();

// What one whole command (as the command splitter hands it out) asks of the printer.
struct Reaction {
    // InOrder: answered where printing reaches it, in the state as it is then: at once while
    // nothing waits to be printed, else once the bytes before it have printed.
    enum class When : uint8_t {
        None,        // not a request: nothing to answer, nothing changes
        AtOnce,      // answered (or acted on) at once, whatever is printing or held
        InOrder,     // answered where printing reaches it (GS r)
        AfterPrint,  // answered once everything before it has been printed (GS ( H)
    };
    When when = When::None;
    std::string request;  // as the decoding names the command (protocol::WriteMnemonic): "DLE 04 01", "GS I 43"
    AnswerBytes answer;   // empty: nothing is sent
    States set = 0;       // states it sets in the shared state (a drawer pulse: drawer-open)
    States clear = 0;     // states it clears (DLE ENQ: the recoverable cutter error)
    bool clearBuffers = false;    // DLE DC4 8, DLE ENQ 2: the bytes waiting to be printed go
    std::optional<uint8_t> automaticStatus;  // GS a n: n (0 turns it off)
};
// The reaction to the command bytes[0, n), which must be one complete command. In the silent
// state nothing is answered (the states still change).
Reaction ReactTo(const uint8_t* bytes, size_t n, States s, Model m);

}  // namespace pellory::vprinter
