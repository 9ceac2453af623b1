// The states a virtual printer can be put in (paper end, cover open, ...), by the names the
// command line and the window use, and what each means for printing and for the status byte that
// Pellory's own probe and status query (DLE EOT 5) read.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/model_profile.h"

namespace pellory::vprinter {

// One bit per state; a printer's state is the set of them (States). None set: ready.
enum StateBit : uint16_t {
    kPaperNearEnd = 1u << 0,
    kPaperEnd = 1u << 1,
    kCoverOpen = 1u << 2,
    kOffline = 1u << 3,
    kDrawerOpen = 1u << 4,
    kCutterError = 1u << 5,
    kOverheat = 1u << 6,
    kError = 1u << 7,  // a general (unrecoverable) error; the window's "Over Voltage"
    kSilent = 1u << 8, // answers nothing at all
};
using States = uint16_t;

struct StateName {
    StateBit bit;
    std::string_view name;
};
// In the order the command line lists them.
inline constexpr std::array<StateName, 9> kStateNames{{{kPaperNearEnd, "paper-near-end"},
                                                       {kPaperEnd, "paper-end"},
                                                       {kCoverOpen, "cover-open"},
                                                       {kOffline, "offline"},
                                                       {kDrawerOpen, "drawer-open"},
                                                       {kCutterError, "cutter-error"},
                                                       {kOverheat, "overheat"},
                                                       {kError, "error"},
                                                       {kSilent, "silent"}}};

// The printer models it can be; each one's paper, name and answers are in its profile
// (protocol::ProfileOf).
using protocol::Model;
using protocol::ModelByName;

// The bit of one name ("paper-end"), or nothing.
std::optional<StateBit> StateByName(std::string_view name);
// A comma-separated list of names ("paper-end,cover-open"). Nothing, with the unknown name in
// *error, when one is not a state.
std::optional<States> ParseStates(std::string_view list, std::string* error = nullptr);
// The names of the set bits, in the order of kStateNames, each after the first preceded by
// separator; "ready" for none.
std::string StatesText(States s, std::string_view separator = ",");

// The states in which nothing is printed: the bytes wait until they clear.
inline constexpr States kStopsPrinting = kPaperEnd | kCoverOpen | kOffline | kCutterError | kOverheat | kError;
constexpr bool StopsPrinting(States s) { return (s & kStopsPrinting) != 0; }

// The status byte of Pellory's own status request (DLE EOT 5): over voltage 01 (error), platen
// open 02 (cover-open), paper error 04 (paper-end), over heat 08 (overheat), cutter error 20
// (cutter-error), not online 40 (offline). Near end and the drawer have no bit.
inline constexpr uint8_t kPelloryNotOnline = 0x40;
uint8_t PelloryStatusByte(States s);
// The other way: the states a window's status byte stands for (for the window's check boxes).
States StatesOfPelloryStatusByte(uint8_t byte);

}  // namespace pellory::vprinter
