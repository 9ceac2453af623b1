// The engine's waits for its caller: until what was sent has left, and until a reply is in.
#include <algorithm>

#include "link/serial_engine.h"
#include "platform/stop_request.h"

namespace pellory::link {

using platform::SerialResult;

namespace {
constexpr uint32_t kAllOnes = 0xFFFFFFFFu;
}  // namespace

bool CSerialEngine::WaitUntilSent(uint32_t stallMs) {
    auto pending = [this]() -> size_t {
        platform::CommStatus st;
        size_t queued = send_.Count();
        const SerialResult r = device_.clearError(&st);
        if (r == SerialResult::Ok && st.outQueue != kAllOnes) queued += st.outQueue;
        Gone(r);
        return queued;
    };
    if (!IsOpen()) return send_.Count() == 0;
    const bool writer = AnyThread() && (Flags() & LINK_TX_BUFFER);
    if (send_.Count() > 0 && !writer) return false;
    size_t last = pending();
    uint32_t since = platform::TickCount();
    while (last > 0) {
        platform::SleepMs(10);
        if (platform::StopRequested()) return false;  // the program is ending: stop waiting
        if (removed_) return false;
        const size_t now = pending();
        if (now < last) {
            since = platform::TickCount();
        } else if (platform::TickCount() - since >= stallMs) {
            return false;
        }
        last = now;
    }
    // The driver's queue is empty; where it can tell, also wait for the transmitter itself.
    return device_.flush(stallMs) == SerialResult::Ok;
}

size_t CSerialEngine::WaitForReceived(size_t count, uint32_t timeoutMs) {
    constexpr uint32_t kSliceMs = 5;
    const bool reader = (Flags() & LINK_RX_BUFFER) && threads_[1].running();
    const uint32_t start = platform::TickCount();
    for (;;) {
        const size_t held = receive_.Count();
        if (held >= count || !IsOpen()) return held;
        const uint32_t elapsed = platform::TickCount() - start;
        if (elapsed >= timeoutMs) return held;
        const uint32_t slice = std::min(kSliceMs, timeoutMs - elapsed);
        const SerialResult r = device_.waitReadable(slice);
        // A device that went away (noticed here first, or by a worker) and a stop of the
        // workers end the wait.
        if (Gone(r) || r == SerialResult::Interrupted) return held;
        if (r != SerialResult::Ok) continue;
        if (!reader) return held;
        wake_[1].set();
        platform::SleepMs(1);
    }
}

}  // namespace pellory::link
