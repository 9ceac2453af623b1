// What the "Printer Test" page does without its widgets: the twelve printer samples and the
// status query with its six lamps. The command line uses the same class.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pages/core/page_link.h"
#include "pages/core/samples.h"
#include "protocol/control_bytes.h"
#include "protocol/replies.h"

namespace pellory::pages {

// The six status lamps, in the order the page sets them up.
enum class Lamp : size_t { OverHeat, PaperError, PlatenOpen, OverVoltage, CutterError, Online };
constexpr size_t kLampCount = 6;

struct LampInfo {
    const char* name;  // the lamp's caption
    int controlId;
    uint8_t mask;      // the status bit that lights it; 0 for "Online" (lit when the byte is 00)
};
inline constexpr std::array<LampInfo, kLampCount> kLamps = {{
    {"Over Heat", 1014, protocol::kStatusOverHeat},
    {"Paper Error", 1017, protocol::kStatusPaperError},
    {"Platen Open", 1018, protocol::kStatusPlatenOpen},
    {"Over Voltage", 1015, protocol::kStatusOverVoltage},
    {"Cutter Error", 1019, protocol::kStatusCutterError},
    {"Online", 1016, 0x00},
}};

using LampStates = std::array<bool, kLampCount>;  // indexed like kLamps

// Which lamps a status byte lights: "Online" when it is 00, each other lamp when its bit is
// set. Bits 0x10, 0x40 and 0x80 light nothing.
LampStates LampsForStatus(uint8_t status);

// The status request DLE EOT 5.
inline constexpr uint8_t kStatusRequest[3] = {protocol::kDle, protocol::kEot, 5};
// The standard real-time status requests, DLE EOT 1 to 4, in the order they are asked.
constexpr uint8_t kFirstRealTimeStatus = 1;
constexpr uint8_t kLastRealTimeStatus = 4;
constexpr uint32_t kStatusWaitMs = 100;

// Shown by a status query on a port whose printer does not answer status requests.
inline constexpr const char* kNoStatusText = "This port gives no status: its printer does not answer status requests.";

struct StatusResult {
    bool linkOpen = false;             // false: the port did not open, the printer did not answer the
                                       // probe, or what answered is no printer (the link is closed)
    bool noStatus = false;             // "Printer answers status" is off: nothing was asked
    uint8_t status = link::kNoAnswerByte;  // the byte read; 0x10 when nothing arrived
    LampStates lamps{};                // all dark unless the query read a status byte
};

class QuickTestActions : public PageLink {
public:
    QuickTestActions();
    ~QuickTestActions() override;

    // Switches the link's echo on.
    void StartEcho() { echoSwitch = true; }

    // One sample (index into samples::Samples()): opens and probes the link when it is closed,
    // then sends the rows, one history row each, and waits as long as the sample asks. False
    // (nothing sent) when the link is still closed afterwards or the index names no sample.
    bool RunSample(size_t index);

    // The "Printer States" query. Leaves the link open when it was open or opened. Bytes that
    // arrived before the request are dropped first, so the lamps show the reply to this query
    // and a printer that does not answer gives status 0x10.
    StatusResult QueryStatus();

    // After a status query that read a byte, the standard real-time requests DLE EOT 1 to 4
    // (printer, offline cause, error cause, paper roll sensor) in turn, each sent, waited for and
    // handed to the history as the query is. Their answers in order, up to the first request
    // whose answer is not a byte of their fixed-bit form (protocol::IsRealTimeStatusAnswer) or
    // cut short by a stop of the program: empty when the printer answers none of them. The
    // link stays open unless its device went away (reported). The window does not use it.
    std::vector<uint8_t> QueryRealTimeStatus();

private:
    // One status request: bytes that arrived before it dropped (or given to the page's keeper),
    // sent without waiting for CTS, the reply waited for kStatusWaitMs, the echo handed over.
    // What the reader has buffered by then.
    link::StatusReply AskOnce(const uint8_t (&request)[3]);
};

}  // namespace pellory::pages
