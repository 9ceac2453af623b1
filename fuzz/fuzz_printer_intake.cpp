// libFuzzer target for the printer server's intake (vprinter/printer_intake.h), the code every
// connection's bytes go through, without sockets. The input chooses the limits, then a run of
// steps: feed a piece of bytes (never more than the intake has room for), change the state, pause
// printing or let it go on (as the server does while jobs wait for its sink), or end the job. After every step the intake stays within its limits: the job's bytes, the bytes
// waiting while printing is stopped, the splitter's head, the answers listed and those waiting.
// What it keeps is the input's own bytes, and what it prints comes from them in order.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "protocol/command_splitter.h"
#include "vprinter/printer_intake.h"

namespace vp = pellory::vprinter;
using pellory::fuzz::Check;

namespace {

struct Host : vp::PrinterIntake::Host {
    vp::States states = 0;
    size_t sent = 0;
    struct {
        size_t bytes = 0;
        size_t size() const { return bytes; }
    } printed;
    void send(const uint8_t*, size_t n) override { sent += n; }
    void print(const uint8_t*, size_t n) override { printed.bytes += n; }
    void changeStates(vp::States set, vp::States clear) override {
        states = static_cast<vp::States>((states | set) & ~clear);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    vp::PrinterIntake::Limits limits{in.ConsumeIntegralInRange<size_t>(1, 1 << 16),
                                     in.ConsumeIntegralInRange<size_t>(1, 1 << 12)};
    // The program's own printer keeps no job and holds nothing back.
    limits.keepJob = in.ConsumeBool();
    limits.holdWhileStopped = in.ConsumeBool();
    // A spooled job's bytes are counted, not kept.
    limits.keepBytes = in.ConsumeBool();
    const auto model = in.ConsumeBool() ? vp::Model::Orva58 : vp::Model::Orva80;
    vp::PrinterIntake intake(model, limits);
    Host host;
    std::vector<uint8_t> fed;  // of the job in progress
    size_t kept = 0;           // bytes kept over all jobs (the rest went over a limit)
    while (in.remaining_bytes() > 0) {
        const int step = in.ConsumeIntegralInRange<int>(0, 9);
        if (step == 0) {
            const vp::States was = host.states;
            host.states = in.ConsumeIntegral<vp::States>() & 0x1FF;
            intake.stateChanged(was, host.states, host);
        } else if (step == 1) {
            const vp::FinishedJob job = intake.takeJob();
            Check(job.bytes.size() <= (limits.keepJob && limits.keepBytes ? limits.maxJobBytes : 0));
            Check(limits.keepJob || job.answers.empty());
            Check(job.receivedBytes == fed.size());
            Check(std::equal(job.bytes.begin(), job.bytes.end(), fed.begin()));
            fed.clear();
        } else if (step == 2) {
            intake.pause(in.ConsumeBool(), host.states, host);
        } else {
            const size_t room = intake.room(host.states);
            const size_t n = std::min(room, in.ConsumeIntegralInRange<size_t>(1, 512));
            const std::vector<uint8_t> piece = in.ConsumeBytes<uint8_t>(n);
            if (piece.empty()) continue;
            const vp::States was = host.states;
            const auto result = intake.feed(piece.data(), piece.size(), host.states, host);
            kept += limits.keepJob ? std::min(piece.size(), limits.maxJobBytes - std::min(limits.maxJobBytes, fed.size()))
                                   : piece.size();
            fed.insert(fed.end(), piece.begin(), piece.end());
            Check((result == vp::PrinterIntake::Fed::OverLimit) == (limits.keepJob && fed.size() > limits.maxJobBytes));
            // A command changed the state (a drawer pulse, a recovery): the server tells the intake.
            if (host.states != was) intake.stateChanged(was, host.states, host);
        }
        Check(intake.held() <= limits.holdBytes);
        Check(intake.jobBytes() <= limits.maxJobBytes);
        Check(intake.splitterHeld() <= pellory::protocol::PieceSplitter::kMaxHeld);
        Check(intake.answersListed() <= vp::kMaxAnswersKept);
        // A waiting answer (GS r, GS ( H) is a command of 3 bytes or more among the held bytes.
        Check(intake.waitingAnswers() <= intake.held() / 3 + 1);
        Check(intake.received() == fed.size());
        if ((!vp::StopsPrinting(host.states) || !limits.holdWhileStopped) && !intake.paused()) {
            Check(intake.held() == 0);
        }
        if (!limits.keepJob) Check(intake.jobBytes() == 0 && intake.answersListed() == 0);
        if (!limits.keepBytes) Check(intake.jobBytes() == 0);
        // Nothing is printed twice or made up: what printed and what waits came from what was kept.
        Check(host.printed.size() + intake.held() <= kept);
    }
    return 0;
}
