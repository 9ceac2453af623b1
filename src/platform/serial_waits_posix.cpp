// The POSIX serial device: its bounded reads, writes and waits (see serial_device_posix.h).
#include "platform/serial_device_posix.h"

#include "platform/device_open_posix.h"

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <optional>

namespace pellory::platform {

namespace detail {

PollOutcome WaitOn(int fd, short events, std::initializer_list<int> bells, int ms) {
    pollfd p[4];
    nfds_t n = 0;
    p[n++] = pollfd{fd, events, 0};
    for (int b : bells) {
        if (n < 4) p[n++] = pollfd{b, POLLIN, 0};
    }
    PollOutcome out;
    if (::poll(p, n, ms) <= 0) return out;  // time-out or EINTR: the caller loops
    out.device = p[0].revents;
    for (nfds_t i = 1; i < n; ++i) out.bell = out.bell || (p[i].revents != 0);
    return out;
}

// The device's poll state without waiting.
short Peek(int fd) {
    pollfd p{fd, 0, 0};
    return ::poll(&p, 1, 0) > 0 ? p.revents : 0;
}

}  // namespace detail

using namespace detail;  // the helpers of serial_device_posix.h

namespace {

using Clock = std::chrono::steady_clock;

class Deadline {
public:
    static Deadline none() { return Deadline{}; }
    static Deadline after(uint64_t ms) {
        Deadline d;
        d.limited_ = true;
        d.at_ = Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(std::min(ms, kLongestWaitMs)));
        return d;
    }
    static Deadline forWait(uint32_t timeoutMs) { return timeoutMs == kMaxDword ? none() : after(timeoutMs); }
    bool passed() const { return limited_ && Clock::now() >= at_; }
    // Milliseconds to poll: what is left (rounded up, so a wait never ends early), at most cap.
    int slice(int cap) const {
        if (!limited_) return cap;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(at_ - Clock::now()).count();
        if (left <= 0) return 0;
        return static_cast<int>(std::min<int64_t>((left + 999) / 1000, cap));
    }

private:
    bool limited_ = false;
    Clock::time_point at_{};
};

// One non-blocking read or write. bytes = 0 when nothing could move now.
struct IoStep {
    size_t bytes = 0;
    bool failed = false;
    bool endOfFile = false;  // read() gave 0: no input on a terminal, the far end closed on a socket
    int error = 0;           // errno of a failure
};

IoStep ReadSome(int fd, void* buf, size_t n) {
    for (;;) {
        const ssize_t r = ::read(fd, buf, n);
        if (r > 0) return {static_cast<size_t>(r), false};
        if (r == 0) return {0, false, true};  // no input (VMIN = VTIME = 0) or hung up: poll() tells which
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return {};
        return {0, true, false, errno};
    }
}

IoStep WriteSome(int fd, const void* buf, size_t n, DeviceKind kind) {
    for (;;) {
        const ssize_t r = detail::WriteNoSignal(fd, buf, n, kind);
        if (r >= 0) return {static_cast<size_t>(r), false};
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return {};
        return {0, true, false, errno};
    }
}

// What one look at the device tells a wait: that it is over, with its result, or which poll
// events to wait for next, and for how long at the most.
struct WaitStep {
    std::optional<SerialResult> done;
    short events = 0;
    int cap = kSliceMs;

    static WaitStep Done(SerialResult r) { return {r}; }
    static WaitStep Poll(short events, int cap = kSliceMs) { return {std::nullopt, events, cap}; }
};

}  // namespace

// --- waiting ---

// Looks at the device (look) until it tells that the wait is over; after every other look
// interrupt() ends the wait with Interrupted and the deadline with Timeout, else one poll() of
// the device for what the look asked and of the interrupt doorbell follows, and a device that
// hangs up meanwhile is lost. look gets the device's events of the last poll() (0 before the
// first, and after one that timed out).
template <typename Look>
SerialResult SerialDevice::Impl::waitUntil(int d, uint32_t timeoutMs, Look look) {
    const Deadline deadline = Deadline::forWait(timeoutMs);
    short seen = 0;
    for (;;) {
        const WaitStep step = look(seen);
        if (step.done) return *step.done;
        if (interrupted.load()) return SerialResult::Interrupted;
        if (deadline.passed()) return SerialResult::Timeout;
        const PollOutcome p = WaitOn(d, step.events, {interruptBell.fd()}, deadline.slice(step.cap));
        if (p.device & kGone) return lost();
        seen = p.device;
    }
}

// --- queued output ---

// Writes queued output while the kernel takes it. false when the device failed.
bool SerialDevice::Impl::pumpLocked(int d) {
    while (pendingOff < pending.size()) {
        const IoStep w = WriteSome(d, pending.data() + pendingOff, pending.size() - pendingOff, kind);
        if (w.failed) {
            lost(w.error);
            return false;
        }
        if (w.bytes == 0) break;
        pendingOff += w.bytes;
    }
    if (pendingOff == pending.size()) {
        pending.clear();
        pendingOff = 0;
    } else if (pendingOff >= (size_t{1} << 16) && pendingOff * 2 >= pending.size()) {
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(pendingOff));
        pendingOff = 0;
    }
    return true;
}

SerialResult SerialDevice::flush(uint32_t maxWaitMs) {
    Impl& d = *impl_;
    int fd = -1;
    if (const SerialResult r = d.openPort(fd); r != SerialResult::Ok) return r;
    return d.waitUntil(fd, maxWaitMs, [&](short) {
        size_t left = 0;
        if (!d.pump(fd, left)) return WaitStep::Done(d.lost());
        uint32_t outq = 0;
        if (!QueueCount(fd, TIOCOUTQ, outq)) return WaitStep::Done(d.lost());
        if (left == 0 && outq == 0) {
            // The kernel queue is empty; where the driver tells, wait for the shift register too.
            bool shifted = true;
#ifdef TIOCSERGETLSR
            unsigned int lsr = 0;
            if (::ioctl(fd, TIOCSERGETLSR, &lsr) == 0) shifted = (lsr & TIOCSER_TEMT) != 0;
#endif
            if (shifted) return WaitStep::Done(SerialResult::Ok);
        }
        // Nothing wakes poll() when the output has drained: look again after a short slice.
        return left ? WaitStep::Poll(POLLOUT) : WaitStep::Poll(0, kTxSliceMs);
    });
}

// --- plain reads and writes ---

SerialResult SerialDevice::read(void* buf, size_t n, size_t& transferred) {
    transferred = 0;
    Impl& d = *impl_;
    int fd = -1;
    if (const SerialResult r = d.openPort(fd, buf != nullptr || n == 0); r != SerialResult::Ok) return r;
    if (n == 0) return SerialResult::Ok;
    auto* out = static_cast<uint8_t*>(buf);
    // A write-only device file has nothing to read, ever: a read finds nothing at once.
    if (d.writeOnly) return SerialResult::Ok;
    const Timeouts to = d.currentTimeouts();

    // The special forms of the record: "what is queued, at once" and "at once, or the first
    // byte to arrive within the constant".
    const bool atOnce = to.readInterval == kMaxDword && to.readMultiplier == 0 && to.readConstant == 0;
    const bool firstByte = to.readInterval == kMaxDword && to.readMultiplier == kMaxDword && to.readConstant != 0 &&
                           to.readConstant != kMaxDword;
    uint64_t totalMs = 0;
    if (firstByte) {
        totalMs = to.readConstant;
    } else if (!atOnce) {
        const uint64_t perByte = to.readMultiplier ? std::min<uint64_t>(n, kLongestWaitMs) * to.readMultiplier : 0;
        totalMs = perByte + to.readConstant;
    }
    const Deadline total = totalMs ? Deadline::after(totalMs) : Deadline::none();
    const uint32_t interval = (to.readInterval == kMaxDword) ? 0 : to.readInterval;
    const uint32_t abortMark = d.rxAbort.load();

    SerialResult result = SerialResult::Ok;
    Clock::time_point lastByte{};
    bool quiet = false;  // POLLIN promised bytes that read() did not find: skip it one slice
    for (;;) {
        const IoStep r = ReadSome(fd, out + transferred, n - transferred);
        if (r.failed || (r.endOfFile && d.kind == DeviceKind::Network)) {
            result = d.lost(r.error);
            break;
        }
        if (r.bytes) {
            transferred += r.bytes;
            lastByte = Clock::now();
            quiet = false;
            if (transferred == n || firstByte) break;
            continue;
        }
        if (atOnce) {
            if (Peek(fd) & kGone) result = d.lost();
            break;
        }
        if (d.interrupted.load()) {
            if (transferred == 0) result = SerialResult::Interrupted;
            break;
        }
        if (d.rxAbort.load() != abortMark || total.passed()) break;
        int wait = total.slice(kSliceMs);
        if (interval && transferred) {
            const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - lastByte).count();
            const int64_t leftUs = int64_t{interval} * 1000 - gap;
            if (leftUs <= 0) break;
            wait = std::min<int>(wait, static_cast<int>(std::min<int64_t>((leftUs + 999) / 1000, kSliceMs)));
        }
        const PollOutcome p = WaitOn(fd, quiet ? 0 : POLLIN, {d.interruptBell.fd()}, wait);
        if (p.device & kGone) {
            // Take what the line still holds; then report the loss.
            const IoStep last = ReadSome(fd, out + transferred, n - transferred);
            transferred += last.bytes;
            if (last.bytes && transferred < n) continue;
            if (transferred < n || last.failed) result = d.lost();
            break;
        }
        quiet = (p.device & POLLIN) != 0;
    }
    if (transferred) d.inputConsumed();
    return result;
}

SerialResult SerialDevice::write(const void* buf, size_t n, size_t& transferred) {
    transferred = 0;
    Impl& d = *impl_;
    int fd = -1;
    if (const SerialResult r = d.openPort(fd, buf != nullptr || n == 0); r != SerialResult::Ok) return r;
    if (n == 0) return SerialResult::Ok;
    const auto* in = static_cast<const uint8_t*>(buf);
    const Timeouts to = d.currentTimeouts();
    const uint64_t perByte = to.writeMultiplier ? std::min<uint64_t>(n, kLongestWaitMs) * to.writeMultiplier : 0;
    const uint64_t totalMs = perByte + to.writeConstant;
    const Deadline total = totalMs ? Deadline::after(totalMs) : Deadline::none();
    const uint32_t abortMark = d.txAbort.load();

    for (;;) {
        size_t moved = 0;
        const SerialResult r = writeNow(in + transferred, n - transferred, moved);
        transferred += moved;
        if (r != SerialResult::Ok) return r;
        if (transferred == n) return SerialResult::Ok;
        if (d.interrupted.load()) return transferred ? SerialResult::Ok : SerialResult::Interrupted;
        if (d.txAbort.load() != abortMark || total.passed()) return SerialResult::Ok;
        const PollOutcome p = WaitOn(fd, POLLOUT, {d.interruptBell.fd()}, total.slice(kSliceMs));
        if (p.device & kGone) return d.lost();
    }
}

SerialResult SerialDevice::writeNow(const void* buf, size_t n, size_t& transferred) {
    transferred = 0;
    Impl& d = *impl_;
    int fd = -1;
    if (const SerialResult r = d.openPort(fd, buf != nullptr || n == 0); r != SerialResult::Ok) return r;
    if (n == 0) return SerialResult::Ok;
    std::lock_guard<std::mutex> lock(d.txMutex);
    // Bytes queued by writeAsync go first.
    if (!d.pumpLocked(fd)) return d.lost();
    if (d.pendingLocked() != 0) return SerialResult::Ok;
    const IoStep w = WriteSome(fd, buf, n, d.kind);
    if (w.failed) return d.lost(w.error);
    if (w.bytes) {
        transferred = w.bytes;
        d.txHeld.store(true);
    }
    return SerialResult::Ok;
}

// --- overlapped style ---

SerialResult SerialDevice::readAsync(void* buf, size_t n, size_t& transferred) {
    transferred = 0;
    Impl& d = *impl_;
    int fd = -1;
    const bool valid = d.overlapped.load() && (buf != nullptr || n == 0);
    if (const SerialResult r = d.openPort(fd, valid); r != SerialResult::Ok) return r;
    if (n == 0) return SerialResult::Ok;
    if (d.writeOnly) return SerialResult::Pending;
    const IoStep r = ReadSome(fd, buf, n);
    if (r.failed || (r.endOfFile && d.kind == DeviceKind::Network)) return d.lost(r.error);
    if (r.bytes) {
        transferred = r.bytes;
        d.inputConsumed();
        return SerialResult::Ok;
    }
    return (Peek(fd) & kGone) ? d.lost() : SerialResult::Pending;
}

SerialResult SerialDevice::waitReadable(uint32_t timeoutMs) {
    Impl& d = *impl_;
    int fd = -1;
    if (const SerialResult r = d.openPort(fd); r != SerialResult::Ok) return r;
    return d.waitUntil(fd, timeoutMs, [&](short seen) {
        uint32_t inq = 0;
        if (!QueueCount(fd, FIONREAD, inq)) return WaitStep::Done(d.lost());
        if (d.writeOnly) inq = 0;
        if (inq > 0) return WaitStep::Done(SerialResult::Ok);
        if (d.peerClosed(fd)) return WaitStep::Done(d.lost());
        // POLLIN seen with nothing queued: leave it out one slice, so that poll() waits.
        return WaitStep::Poll((seen & POLLIN) ? 0 : POLLIN);
    });
}

SerialResult SerialDevice::writeAsync(const void* buf, size_t n, size_t& transferred) {
    transferred = 0;
    Impl& d = *impl_;
    int fd = -1;
    const bool valid = d.overlapped.load() && (buf != nullptr || n == 0);
    if (const SerialResult r = d.openPort(fd, valid); r != SerialResult::Ok) return r;
    if (n == 0) return SerialResult::Ok;
    const auto* in = static_cast<const uint8_t*>(buf);
    std::lock_guard<std::mutex> lock(d.txMutex);
    if (!d.pumpLocked(fd)) return d.lost();
    if (d.pendingLocked() == 0) {
        while (transferred < n) {
            const IoStep w = WriteSome(fd, in + transferred, n - transferred, d.kind);
            if (w.failed) return d.lost(w.error);
            if (w.bytes == 0) break;
            transferred += w.bytes;
        }
    }
    d.txHeld.store(true);
    if (transferred == n) return SerialResult::Ok;
    d.pending.insert(d.pending.end(), in + transferred, in + n);
    return SerialResult::Pending;
}

SerialResult SerialDevice::pumpPendingWrites(uint32_t timeoutMs) {
    Impl& d = *impl_;
    int fd = -1;
    if (const SerialResult r = d.openPort(fd); r != SerialResult::Ok) return r;
    return d.waitUntil(fd, timeoutMs, [&](short) {
        size_t left = 0;
        if (!d.pump(fd, left)) return WaitStep::Done(d.lost());
        return left == 0 ? WaitStep::Done(SerialResult::Ok) : WaitStep::Poll(POLLOUT);
    });
}

size_t SerialDevice::pendingWriteBytes() const {
    std::lock_guard<std::mutex> lock(impl_->txMutex);
    return impl_->pendingLocked();
}

// --- events ---

// Samples the line and returns the events of mask that happened since the last sample.
// false when the device failed. rxQueued tells whether input waits to be read.
bool SerialDevice::Impl::sampleEvents(int d, uint32_t mask, uint32_t& events, bool& rxQueued) {
    events = 0;
    const bool held = txHeld.load();
    uint32_t inq = 0, outq = 0;
    if (!QueueCount(d, FIONREAD, inq) || !QueueCount(d, TIOCOUTQ, outq)) return false;
    if (writeOnly) inq = 0;
    if (inq == 0 && peerClosed(d)) return false;
    size_t left = 0;
    {
        std::lock_guard<std::mutex> lock(txMutex);
        left = pendingLocked();
    }
    uint32_t modem = 0;
    bool hasModem = false;
    if (!ReadModem(d, path, modem, hasModem)) return false;
    ErrorCounts counts;
    const bool countsOk = ReadCounts(d, counts);

    std::lock_guard<std::mutex> lock(stateMutex);
    uint32_t ev = 0;
    rxQueued = inq > 0;
    if (inq == 0) {
        rxReported = 0;
    } else if ((mask & kEvRxChar) && inq != rxReported) {
        ev |= kEvRxChar;
        rxReported = inq;
    }
    if (held && outq == 0 && left == 0) {
        bool expected = true;
        if (txHeld.compare_exchange_strong(expected, false)) ev |= kEvTxEmpty;
    }
    if (hasModem) {
        const uint32_t changed = modem ^ modemBase;
        modemBase = modem;
        if (changed & kModemCts) ev |= kEvCts;
        if (changed & kModemDsr) ev |= kEvDsr;
        if (changed & kModemRlsd) ev |= kEvRlsd;
        if (changed & kModemRing) ev |= kEvRing;
    }
    if (countsOk) {
        if (haveCounts) {
            const uint32_t bits = ErrorBits(eventBase, counts);
            if (bits & kErrBreak) ev |= kEvBreak;
            if (bits & ~kErrBreak) ev |= kEvErr;
        } else {
            errorBase = counts;
            haveCounts = true;
        }
        eventBase = counts;
    }
    events = ev & mask;
    return true;
}

SerialResult SerialDevice::setEventMask(uint32_t mask) {
    Impl& d = *impl_;
    if (d.fd.load() < 0) return SerialResult::InvalidArgument;
    d.eventMask.store(mask);
    d.maskGeneration.fetch_add(1);
    d.maskBell.ring();
    return SerialResult::Ok;
}

SerialResult SerialDevice::getEventMask(uint32_t& out) {
    out = impl_->eventMask.load();
    return isOpen() ? SerialResult::Ok : SerialResult::InvalidArgument;
}

SerialResult SerialDevice::waitEvent(uint32_t& events, uint32_t timeoutMs) {
    events = 0;
    Impl& d = *impl_;
    int fd = -1;
    if (const SerialResult r = d.openPort(fd); r != SerialResult::Ok) return r;
    // A mask set before this wait began does not end it: only a later one does.
    const uint32_t generation = d.maskGeneration.load();
    d.maskBell.drain();
    const uint32_t mask = d.eventMask.load();
    if (mask == 0) return SerialResult::InvalidArgument;
    const Deadline deadline = Deadline::forWait(timeoutMs);
    for (;;) {
        if (d.maskGeneration.load() != generation) return SerialResult::Ok;
        if (d.interrupted.load()) return SerialResult::Interrupted;
        size_t left = 0;
        if (!d.pump(fd, left)) return d.lost();
        uint32_t ev = 0;
        bool rxQueued = false;
        if (!d.sampleEvents(fd, mask, ev, rxQueued)) return d.lost();
        if (ev) {
            events = ev;
            return SerialResult::Ok;
        }
        if (deadline.passed()) return SerialResult::Timeout;
        // Input already reported and still unread would keep POLLIN up: leave it out then.
        short want = 0;
        if (!rxQueued) want |= POLLIN;
        if (left) want |= POLLOUT;
        const int cap = d.txHeld.load() ? kTxSliceMs : kSliceMs;
        const PollOutcome p = WaitOn(fd, want, {d.interruptBell.fd(), d.maskBell.fd()}, deadline.slice(cap));
        if (p.device & kGone) return d.lost();
    }
}

// --- interruption ---

void SerialDevice::interrupt() {
    impl_->interrupted.store(true);
    impl_->interruptBell.ring();
}

void SerialDevice::clearInterrupt() {
    impl_->interrupted.store(false);
    impl_->interruptBell.drain();
}

}  // namespace pellory::platform
