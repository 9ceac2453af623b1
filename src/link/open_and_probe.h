// The connection procedure every page runs on its link before it talks to the printer: open a
// closed link with the process-wide PortSettings, give it the pages' time-outs and flow control,
// and probe the printer with the real-time status request 10 04 05.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "link/orva_lib.h"
#include "link/ui_seam.h"

namespace pellory::link {

inline constexpr const char* kOpenErrorText = "COM Open Error!";
inline constexpr const char* kOpenErrorTextTestPage = "COM Open Error.";
inline constexpr const char* kNoAnswerText = "Communicate Error:Printer No Answer.";

// The probe request DLE EOT 5.
inline constexpr uint8_t kProbeRequest[3] = {0x10, 0x04, 0x05};
constexpr uint8_t kNoAnswerByte = 0x10;
constexpr uint32_t kProbeWaitMs = 100;

// Where the pages differ.
struct ProbeOptions {
    const char* openFailureText = kOpenErrorText;
    bool setEventMask5 = false;
};

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

// Shows the open-failure message with its reason.
void ShowOpenFailure(const CSerialEngine& link, UserPrompt* prompt, const char* text);

// Flags 0x3C (without monitor and overlapped I/O) and threshold 1, and the event mask 5 when
// asked; the mode every page opens its link in.
void SetPageLinkMode(CSerialEngine& link, bool setEventMask5);

// Time-outs 10/0/100/0/65535 and the flow control of PortSettings.handshake, applied to the port.
void ApplyPageTimeoutsAndHandshake(CSerialEngine& link);

// Stops the threads, empties the send buffer, purges the port's output, then clears the
// flow-control bits in the stored line settings only (so the writer does not wait for CTS during
// a probe) and restarts the threads. Returns the stored line settings as they were, to be put
// back with SetStoredLineSettings afterwards.
platform::LineSettings RestartThreadsForProbe(CSerialEngine& link);

// The fixed wait for the printer's reply to a request (the probe, a status query): afterwards the
// page takes whatever the reader has buffered by then. A hook, when one is set, runs after the
// wait on the waiting thread; tests set one that lasts until the reply of their virtual printer
// has reached the link, so that a loaded machine cannot turn a reply into "No Answer".
using ReplyWaitHook = std::function<void(CSerialEngine& link)>;
void SetReplyWaitHook(ReplyWaitHook hook);
void WaitForReply(CSerialEngine& link, uint32_t ms = kProbeWaitMs);

// The procedure itself. Afterwards the caller tests link.IsOpen().
void OpenAndProbe(CORVA_LIB& link, const ProbeOptions& options, const PageContext& context);

}  // namespace pellory::link
