#include "pages/core/quick_test_actions.h"

#include "link/open_and_probe.h"
#include "link/port_settings.h"
#include "platform/stop_request.h"
#include "platform/threads.h"

namespace pellory::pages {

LampStates LampsForStatus(uint8_t status) {
    LampStates lit{};
    for (size_t i = 0; i < kLampCount; ++i) {
        const uint8_t mask = kLamps[i].mask;
        lit[i] = mask == 0 ? status == 0x00 : (status & mask) != 0;
    }
    return lit;
}

QuickTestActions::QuickTestActions() : PageLink({link::kOpenErrorTextTestPage, false}) {}

QuickTestActions::~QuickTestActions() = default;

bool QuickTestActions::RunSample(size_t index) {
    const std::vector<samples::Sample>& all = samples::Samples();
    if (index >= all.size()) return false;
    OpenAndProbe();
    if (!IsOpen()) return false;
    const samples::Sample& sample = all[index];
    for (const samples::Row& row : sample.rows) {
        samples::SendRow(*this, row);
        HandOver();
    }
    if (sample.waitAfterMs) platform::SleepMs(sample.waitAfterMs);
    return true;
}

StatusResult QuickTestActions::QueryStatus() {
    StatusResult result;
    OpenAndProbe();
    if (!IsOpen()) return result;
    result.linkOpen = true;
    if (!link::PortSettings.answersStatus) {
        result.noStatus = true;
        ShowMessage(kNoStatusText);
        return result;
    }

    // Nothing in the reader's buffer gives 0x10.
    const link::StatusReply reply = AskOnce(kStatusRequest);
    if (link::ReportRemoval(*this, Prompt())) {  // the device went away during the query
        result.linkOpen = false;
        return result;
    }
    if (reply.kind == link::StatusReply::Kind::NotAPrinter) {
        link::ReportNotAPrinter(*this, Prompt(), reply.bytes);
        result.linkOpen = false;
        return result;
    }
    result.status = reply.status;
    result.lamps = LampsForStatus(result.status);
    SendBuffer().ClearLocked();
    return result;
}

std::vector<uint8_t> QuickTestActions::QueryRealTimeStatus() {
    std::vector<uint8_t> answers;
    for (uint8_t n = kFirstRealTimeStatus; n <= kLastRealTimeStatus; ++n) {
        if (!IsOpen() || platform::StopRequested()) break;
        const link::StatusReply reply = AskOnce({protocol::kDle, protocol::kEot, n});
        if (link::ReportRemoval(*this, Prompt())) break;
        if (reply.kind != link::StatusReply::Kind::Status || !protocol::IsRealTimeStatusAnswer(reply.status)) break;
        answers.push_back(reply.status);
    }
    SendBuffer().ClearLocked();
    return answers;
}

link::StatusReply QuickTestActions::AskOnce(const uint8_t (&request)[3]) {
    // The writer must not wait for CTS while the request goes out. Whatever arrived before
    // the request (a late reply, a byte sent unasked) is dropped: only the reply counts.
    const platform::LineSettings saved = link::RestartThreadsForProbe(*this, KeepEarlierBytes());
    const uint8_t work[3] = {request[0], request[1], request[2]};
    Send(work, sizeof work);
    link::WaitForReply(*this, kStatusWaitMs);
    HandOver();
    // No wait: whatever the reader has buffered by now.
    link::StatusReply reply = link::TakeStatusReply(*this);
    SetStoredLineSettings(saved);
    return reply;
}

}  // namespace pellory::pages
