#include "link/open_and_probe.h"

#include "link/port_settings.h"
#include "platform/serial_device.h"
#include "platform/threads.h"

#include <utility>

namespace pellory::link {

using platform::SerialResult;

namespace {
ReplyWaitHook& ReplyHook() {
    static ReplyWaitHook hook;
    return hook;
}
}  // namespace

void SetReplyWaitHook(ReplyWaitHook hook) { ReplyHook() = std::move(hook); }

void WaitForReply(CSerialEngine& link, uint32_t ms) {
    platform::SleepMs(ms);
    if (ReplyHook()) ReplyHook()(link);
}

void HandOverEcho(CORVA_LIB& link, HistorySink* history) {
    std::string echo = link.TakeEcho();
    if (history) history->AddHistoryRow(echo);
}

std::string OpenFailureReason(const CSerialEngine& link) {
    const int n = link.LastOpenPort();
    const std::string& path = link.LastDevicePath();
    const std::string com = "COM" + std::to_string(n);
    switch (link.LastOpenError()) {
        case SerialResult::Ok:
            return {};
        case SerialResult::NotFound:
            if (path.empty()) {
                if (n < 1) return "No port is chosen.";
                return "Nothing is attached as " + com + ".";
            }
            return com + " (" + path + ") is not present.";
        case SerialResult::AccessDenied: {
            std::string hint = "Permission denied on " + path + ".";
            const std::string group = platform::DeviceGroup(path);
            if (!group.empty()) {
                hint += " Join the group '" + group + "' (sudo usermod -aG " + group +
                        " $USER) and log in again.";
            }
            return hint;
        }
        case SerialResult::Busy:
            return com + " (" + path + ") is in use by another program.";
        default:
            return com + " (" + path + "): " + platform::DescribeResult(link.LastOpenError()) + ".";
    }
}

void ShowOpenFailure(const CSerialEngine& link, UserPrompt* prompt, const char* text) {
    if (prompt) prompt->ShowMessage(text, {}, OpenFailureReason(link));
}

void SetPageLinkMode(CSerialEngine& link, bool setEventMask5) {
    link.SetFlags((link.Flags() & ~(LINK_MONITOR_THREAD | LINK_OVERLAPPED)) | kPageLinkFlags);
    link.SetReceiveThreshold(1);
    if (setEventMask5) link.SetEventMask(platform::kEvRxChar | platform::kEvTxEmpty);
}

void ApplyPageTimeoutsAndHandshake(CSerialEngine& link) {
    link.ApplyTimeouts(platform::Timeouts{10, 0, 100, 0, 65535});
    platform::LineSettings s = link.StoredLineSettings();
    switch (PortSettings.handshake) {
        case 0:
            s.flags &= ~platform::kFlowControlBits;
            break;
        case 1:
            s.flags = (s.flags & ~0x3338u) | platform::kFlagOutxCtsFlow;
            break;
        case 2:
            s.flags = (s.flags & ~0x3334u) | platform::kFlagOutxDsrFlow;
            break;
        case 3:
            s.flags = (s.flags & ~0x323Cu) | platform::kFlagOutX;
            s.xonChar = 0x11;
            s.xoffChar = 0x13;
            break;
        default:
            break;
    }
    link.SetStoredLineSettings(s);
    link.ApplyLineSettings();
}

platform::LineSettings RestartThreadsForProbe(CSerialEngine& link) {
    link.StopThreads(kLinkStopTimeoutMs);
    link.SendBuffer().ClearLocked();
    link.Purge(platform::kPurgeTxAbort | platform::kPurgeTxClear);
    const platform::LineSettings saved = link.StoredLineSettings();
    platform::LineSettings probing = saved;
    probing.flags &= ~platform::kFlowControlBits;
    link.SetStoredLineSettings(probing);
    link.StartThreads();
    return saved;
}

void OpenAndProbe(CORVA_LIB& link, const ProbeOptions& options, const PageContext& context) {
    if (link.IsOpen()) return;
    SetPageLinkMode(link, options.setEventMask5);
    // Bytes queued while the link was closed (a set-up command, a print on a closed link) are
    // stale by now: drop them before the writer of this opening could send them.
    link.SendBuffer().ClearLocked();
    if (!link.Open(PortSettings.portNumber, PortSettings.dataBits, PortSettings.stopBits, PortSettings.parity)) {
        ShowOpenFailure(link, context.prompt, options.openFailureText);
        return;
    }
    ApplyPageTimeoutsAndHandshake(link);
    const platform::LineSettings saved = RestartThreadsForProbe(link);

    uint8_t work[3] = {kProbeRequest[0], kProbeRequest[1], kProbeRequest[2]};
    link.Send(work, sizeof work);
    WaitForReply(link, kProbeWaitMs);
    HandOverEcho(link, context.history);

    link.ReadByte(&work[0]);
    if (work[0] == kNoAnswerByte) {
        link.Close(kLinkStopTimeoutMs);
        link.SendBuffer().ClearLocked();
        if (context.prompt) context.prompt->ShowMessage(kNoAnswerText);
    }
    link.SetStoredLineSettings(saved);
}

}  // namespace pellory::link
