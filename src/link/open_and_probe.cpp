#include "link/open_and_probe.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>

#include "link/port_messages.h"
#include "link/port_settings.h"
#include "platform/device_kind.h"
#include "platform/port_map.h"
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

ReplyWaitHook CurrentReplyWaitHook() { return ReplyHook(); }

void WaitForReply(CSerialEngine& link, uint32_t ms) {
    if (link.Device().kind() != platform::DeviceKind::Terminal) {
        const size_t first = link.WaitForReceived(1, kLinelessReplyWaitMs);  // at once when closed
        if (first > 0) link.WaitForReceived(first + 1, kReplyRestWaitMs);
    } else {
        platform::SleepMs(ms);
    }
    if (ReplyHook()) ReplyHook()(link);
}

namespace {
// A reply that begins with this many printable ASCII bytes (0x20 to 0x7E) is text: a web
// server's "HTTP", a secure shell's "SSH-", a mail or file server's "220 ". A printer's status
// byte with what it sent besides (an automatic status back, a byte sent unasked) does not begin so.
constexpr size_t kTextReplyLength = 3;
}  // namespace

StatusReply TakeStatusReply(CSerialEngine& link) {
    StatusReply reply;
    CSerialEngine::BlockBuffer& buffer = link.ReceiveBuffer();
    {
        // Judged and taken under one lock: nothing the reader adds meanwhile can come between the
        // status byte and what stays behind it.
        std::lock_guard<std::mutex> lock(buffer.Mutex());
        uint8_t start[kTextReplyLength];
        const size_t seen = buffer.Peek(start, sizeof start);
        const bool text = seen == kTextReplyLength &&
                          std::all_of(start, start + seen, [](uint8_t b) { return b >= 0x20 && b < 0x7F; });
        reply.bytes.resize(text ? buffer.UnlockedCount() : std::min<size_t>(seen, 1));
        reply.bytes.resize(buffer.Take(reply.bytes.data(), reply.bytes.size()));
        if (text) {
            reply.kind = StatusReply::Kind::NotAPrinter;
            return reply;
        }
    }
    if (reply.bytes.size() == 1 && reply.bytes[0] != kNoAnswerByte) {
        reply.kind = StatusReply::Kind::Status;
        reply.status = reply.bytes[0];
    }
    return reply;
}

std::string NotAPrinterReason(const CSerialEngine& link, const std::vector<uint8_t>& reply) {
    constexpr size_t kShown = 40;
    std::string shown(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(std::min(reply.size(), kShown)));
    if (reply.size() > kShown) shown += "...";
    return PortCaption(link.LastOpenPort(), link.LastDevicePath()) + " answered the status request with " +
           std::to_string(reply.size()) + " bytes of text (\"" + platform::PrintableText(shown) +
           "\"), where a printer answers with a status byte: is this the printer's port?";
}

void ReportNotAPrinter(CSerialEngine& link, UserPrompt* prompt, const std::vector<uint8_t>& reply) {
    link.Close(kLinkStopTimeoutMs);
    link.SendBuffer().ClearLocked();
    if (prompt) prompt->ShowMessage(kNotAPrinterText, {}, NotAPrinterReason(link, reply));
}

void HandOverEcho(CORVA_LIB& link, HistorySink* history) {
    const EchoRecord echo = link.TakeEcho();
    if (history) history->AddHistoryRow(echo);
}

std::string OpenFailureReason(const CSerialEngine& link) {
    const int n = link.LastOpenPort();
    const std::string& path = link.LastDevicePath();
    const std::string caption = PortCaption(n, path);
    if (link.LastOpenError() != SerialResult::Ok && !path.empty() && !link.LastOpenReason().empty()) {
        return caption + ": " + link.LastOpenReason() + ".";
    }
    switch (link.LastOpenError()) {
        case SerialResult::Ok:
            return {};
        case SerialResult::NotFound:
            if (path.empty()) {
                if (n < 1) return "No port is chosen.";
                return "Nothing is attached as " + caption + ".";
            }
            return caption + " is not present.";
        case SerialResult::AccessDenied:
            return PermissionDeniedReason(path, platform::ReadDeviceAccess(path));
        case SerialResult::Busy:
            return caption + " is in use by another program.";
        default:
            return caption + ": " + platform::DescribeResult(link.LastOpenError()) + ".";
    }
}

bool DeviceIsFull(const CSerialEngine& link) {
    const int e = link.RemovalError();
#ifdef EDQUOT
    if (e == EDQUOT) return true;  // over the user's disk quota (no quotas where it is not defined)
#endif
    return e == ENOSPC || e == EFBIG;
}

std::string RemovalReason(const CSerialEngine& link) {
    const std::string caption = PortCaption(link.PortNumber(), link.LastDevicePath());
    if (DeviceIsFull(link)) {
        return caption + " has no room for more data (no space left on the device); nothing more was sent to it.";
    }
    return caption + " went away while in use. Connect it again, then repeat the action.";
}

bool ReportRemoval(CSerialEngine& link, UserPrompt* prompt) {
    if (!link.TakeRemovalReport()) return false;
    link.Close(kLinkStopTimeoutMs);
    if (prompt) prompt->ShowMessage(DeviceIsFull(link) ? kDeviceFullText : kRemovedText, {}, RemovalReason(link));
    return true;
}

bool OpenWasStopped(const CSerialEngine& link) { return link.LastOpenError() == SerialResult::Interrupted; }

void ShowOpenFailure(const CSerialEngine& link, UserPrompt* prompt, const char* text) {
    // A stop of the program ended the opening: that is no fault of the port.
    if (prompt && !OpenWasStopped(link)) prompt->ShowMessage(text, {}, OpenFailureReason(link));
}

bool OpenWithPortSettings(CSerialEngine& link, int32_t n, UserPrompt* prompt) {
    const int32_t dataBits = PortSettings.dataBits;
    const int32_t stopBits = PortSettings.stopBits;
    const int32_t parity = PortSettings.parity;
    bool opened = false;
    const auto open = [&] { opened = link.Open(n, dataBits, stopBits, parity); };
    const std::optional<platform::PortEntry> entry = platform::PortMap::instance().resolve(n);
    if (prompt != nullptr && entry && platform::IsNetworkEntry(entry->path)) {
        prompt->RunLongStep(open);
    } else {
        open();
    }
    return opened;
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

void DropEarlierInput(CSerialEngine& link, const EarlierBytesKeeper& keep) {
    // The bytes the port holds go behind the ones the reader took before, then all of them
    // leave the receive buffer together.
    if (link.IsOpen() && (link.Flags() & LINK_RX_BUFFER)) {
        platform::CommStatus st;
        if (link.Device().clearError(&st) == platform::SerialResult::Ok && st.inQueue != 0 &&
            st.inQueue != 0xFFFFFFFFu) {
            link.FillReceiveBuffer(st.inQueue);
        }
    }
    CSerialEngine::BlockBuffer& buffer = link.ReceiveBuffer();
    std::vector<uint8_t> earlier;
    {
        std::lock_guard<std::mutex> lock(buffer.Mutex());
        if (keep) {
            earlier.resize(buffer.UnlockedCount());
            earlier.resize(buffer.Take(earlier.data(), earlier.size()));
        }
        buffer.Clear();
    }
    link.Purge(platform::kPurgeRxAbort | platform::kPurgeRxClear);
    if (keep && !earlier.empty()) keep(earlier);
}

platform::LineSettings RestartThreadsForProbe(CSerialEngine& link, const EarlierBytesKeeper& keep) {
    link.StopThreads(kLinkStopTimeoutMs);
    link.SendBuffer().ClearLocked();
    link.Purge(platform::kPurgeTxAbort | platform::kPurgeTxClear);
    DropEarlierInput(link, keep);
    const platform::LineSettings saved = link.StoredLineSettings();
    platform::LineSettings probing = saved;
    probing.flags &= ~platform::kFlowControlBits;
    link.SetStoredLineSettings(probing);
    link.StartThreads();
    return saved;
}

void OpenAndProbe(CORVA_LIB& link, const ProbeOptions& options, const PageContext& context,
                  const EarlierBytesKeeper& keep) {
    if (link.IsOpen()) return;
    if (ReportRemoval(link, context.prompt)) return;
    SetPageLinkMode(link, options.setEventMask5);
    // Bytes queued while the link was closed (a set-up command, a print on a closed link) are
    // stale by now: drop them before the writer of this opening could send them.
    link.SendBuffer().ClearLocked();
    if (!OpenWithPortSettings(link, PortSettings.portNumber, context.prompt)) {
        ShowOpenFailure(link, context.prompt, options.openFailureText);
        return;
    }
    ApplyPageTimeoutsAndHandshake(link);
    // A printer that cannot answer counts as connected once its port opens.
    if (!PortSettings.answersStatus) return;
    const platform::LineSettings saved = RestartThreadsForProbe(link, keep);

    uint8_t work[3] = {kProbeRequest[0], kProbeRequest[1], kProbeRequest[2]};
    link.Send(work, sizeof work);
    WaitForReply(link, kProbeWaitMs);
    HandOverEcho(link, context.history);

    link.SetStoredLineSettings(saved);
    // A device that went away during the probe (a peer that closed at once, a full device) is
    // that one fault, told once: not also "No Answer".
    if (ReportRemoval(link, context.prompt)) return;
    const StatusReply reply = TakeStatusReply(link);
    if (reply.kind == StatusReply::Kind::NotAPrinter) {
        ReportNotAPrinter(link, context.prompt, reply.bytes);
    } else if (reply.kind == StatusReply::Kind::None) {
        link.Close(kLinkStopTimeoutMs);
        link.SendBuffer().ClearLocked();
        // A removal noticed only now belongs to the same fault.
        link.TakeRemovalReport();
        if (context.prompt) context.prompt->ShowMessage(kNoAnswerText);
    }
}

}  // namespace pellory::link
