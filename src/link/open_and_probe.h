// The connection procedure every page runs on its link before it talks to the printer: open a
// closed link with the process-wide PortSettings, give it the pages' time-outs and flow control,
// and probe the printer with the real-time status request 10 04 05.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/orva_lib.h"
#include "link/ui_seam.h"
#include "protocol/control_bytes.h"

namespace pellory::link {

inline constexpr const char* kOpenErrorText = "COM Open Error!";
inline constexpr const char* kOpenErrorTextTestPage = "COM Open Error.";
inline constexpr const char* kNoAnswerText = "Communicate Error:Printer No Answer.";
// The device of an open link went away (unplugged, hung up, the network peer closed).
inline constexpr const char* kRemovedText = "The device was removed";
// The device of an open link has no room for more data (ENOSPC, as /dev/full gives).
inline constexpr const char* kDeviceFullText = "The device is full";

// Something answered the probe or a status query, but not as a printer does.
inline constexpr const char* kNotAPrinterText = "Communicate Error:The device is not a printer.";

// The probe request DLE EOT 5.
inline constexpr uint8_t kProbeRequest[3] = {protocol::kDle, protocol::kEot, 5};
constexpr uint8_t kNoAnswerByte = 0x10;
constexpr uint32_t kProbeWaitMs = 100;
// A port without a line (a network printer, a printer device file) is given up to this long for
// its reply to the probe or a status query, taken the moment it comes: the network's and the
// printer's own delays add up to far more than a serial line's.
constexpr uint32_t kLinelessReplyWaitMs = 1000;
// Once a reply began on such a port, further bytes of it may follow this long.
constexpr uint32_t kReplyRestWaitMs = 20;

// Where the pages differ.
struct ProbeOptions {
    const char* openFailureText = kOpenErrorText;
    bool setEventMask5 = false;
};

// Takes the bytes a link had received before a probe or status query, in order, instead of
// letting them be dropped (a page that shows what arrives shows them first).
using EarlierBytesKeeper = std::function<void(const std::vector<uint8_t>&)>;

// What a page passes along: the message seam and the command history (either may be null:
// messages are then not shown, echo text is dropped).
struct PageContext {
    UserPrompt* prompt = nullptr;
    HistorySink* history = nullptr;
};

// Takes the link's echo text and hands it to the history (dropped while history is null).
void HandOverEcho(CORVA_LIB& link, HistorySink* history);

// The system's reason why the link's last Open failed, for the message box's second text.
std::string OpenFailureReason(const CSerialEngine& link);

// Whether the link's last Open ended because a stop of the program was requested while it
// waited (platform/stop_request.h): not a failure of the port, and not reported as one.
bool OpenWasStopped(const CSerialEngine& link);

// Shows the open-failure message with its reason (nothing when the opening was stopped).
void ShowOpenFailure(const CSerialEngine& link, UserPrompt* prompt, const char* text);

// Whether the link's device counts as gone because it is full rather than because it went away.
bool DeviceIsFull(const CSerialEngine& link);

// The second text of the removal message: which port went away (or is full) and what to do.
std::string RemovalReason(const CSerialEngine& link);

// When the link's device went away and nobody has told the user yet: closes the link, shows
// kRemovedText (kDeviceFullText for a full device) with its reason, and returns true. Shown once
// per removal, however many parts of a page notice it.
bool ReportRemoval(CSerialEngine& link, UserPrompt* prompt);

// Opens COM<n> with the codes of PortSettings (dataBits, stopBits, parity; the rate is
// PortSettings.baudRate). A network printer's opening may wait for seconds (the name service,
// then the connection, bounded by the connect time-out in all): it runs through
// prompt->RunLongStep, so that a window stays alive meanwhile. Every other kind opens in place.
bool OpenWithPortSettings(CSerialEngine& link, int32_t n, UserPrompt* prompt);

// Flags 0x3C (without monitor and overlapped I/O) and threshold 1, and the event mask 5 when
// asked; the mode every page opens its link in.
void SetPageLinkMode(CSerialEngine& link, bool setEventMask5);

// Time-outs 10/0/100/0/65535 and the flow control of PortSettings.handshake, applied to the port.
void ApplyPageTimeoutsAndHandshake(CSerialEngine& link);

// Takes every byte received on the link so far, the ones its reader has buffered and the ones
// still waiting in the port, so that only a reply to the request that follows counts as one.
// keep gets them, in order, when set (and there are any); otherwise they are dropped. Expects
// the link's threads to be stopped.
void DropEarlierInput(CSerialEngine& link, const EarlierBytesKeeper& keep = {});

// The fixed wait for the printer's reply to a request (the probe, a status query): afterwards the
// page takes whatever the reader has buffered by then. A hook, when one is set, runs after the
// wait on the waiting thread; tests set one that lasts until the reply of their virtual printer
// has reached the link, so that a loaded machine cannot turn a reply into "No Answer".
// A serial line waits the fixed ms; a port without a line up to kLinelessReplyWaitMs for the
// reply's first byte, then kReplyRestWaitMs for the rest of it.
using ReplyWaitHook = std::function<void(CSerialEngine& link)>;
void SetReplyWaitHook(ReplyWaitHook hook);
ReplyWaitHook CurrentReplyWaitHook();
void WaitForReply(CSerialEngine& link, uint32_t ms = kProbeWaitMs);

// What came back to a probe or a status query: nothing (or a first byte 0x10, which a printer
// never sends as its status: no answer either), a status byte, or text that cannot be a printer's
// answer (three or more printable ASCII bytes where the status byte stands: a web server's "HTTP"
// on the address, say).
struct StatusReply {
    enum class Kind { None, Status, NotAPrinter };
    Kind kind = Kind::None;
    uint8_t status = kNoAnswerByte;  // the status byte; 0x10 unless kind is Status
    std::vector<uint8_t> bytes;      // what was taken: the whole text for NotAPrinter (for its
                                     // message), else the first byte at most
};
// Judges what the reader has buffered. Text is taken whole. Otherwise only the first byte is taken,
// as the answer: what came with it (an automatic status back, a byte the printer sent unasked)
// stays in the receive buffer, in order, for whoever shows what the printer sends.
StatusReply TakeStatusReply(CSerialEngine& link);
// The second text of kNotAPrinterText: the port, and the start of what it answered.
std::string NotAPrinterReason(const CSerialEngine& link, const std::vector<uint8_t>& reply);
// Closes the link and shows kNotAPrinterText with its reason.
void ReportNotAPrinter(CSerialEngine& link, UserPrompt* prompt, const std::vector<uint8_t>& reply);

// Stops the threads, empties the send buffer, purges the port's output, takes the bytes received
// so far (DropEarlierInput, with keep), then clears the flow-control bits in the stored line
// settings only (so the writer does not wait for CTS during a probe) and restarts the threads.
// Returns the stored line settings as they were, to be put back with SetStoredLineSettings
// afterwards.
platform::LineSettings RestartThreadsForProbe(CSerialEngine& link, const EarlierBytesKeeper& keep = {});

// The procedure itself (without the probe while PortSettings.answersStatus is off). Afterwards
// the caller tests link.IsOpen(). Bytes received before the request are dropped (given to keep
// when it is set), so that only an answer to this request keeps the link open. A link whose
// device went away since the last action reports the removal and stays closed (the next action
// opens it again).
void OpenAndProbe(CORVA_LIB& link, const ProbeOptions& options, const PageContext& context,
                  const EarlierBytesKeeper& keep = {});

}  // namespace pellory::link
