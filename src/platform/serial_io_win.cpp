// The Windows serial device: its bounded reads, writes and waits, the overlapped-style calls,
// the line events and interruption (see serial_device_win.h).
#include "platform/serial_device_win.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace pellory::platform {

namespace detail {

IoEnd FinishIo(HANDLE h, OVERLAPPED& ov, DWORD ms, HANDLE interrupt, HANDLE other, DWORD& moved, DWORD& error) {
    const HANDLE waits[3] = {ov.hEvent, interrupt, other};
    const DWORD count = other ? 3 : 2;
    const DWORD w = ::WaitForMultipleObjects(count, waits, FALSE, ms);
    IoEnd end = IoEnd::Done;
    if (w != WAIT_OBJECT_0) {
        if (w == WAIT_TIMEOUT) {
            end = IoEnd::TimedOut;
        } else if (w == WAIT_OBJECT_0 + 1) {
            end = IoEnd::Interrupted;
        } else if (w == WAIT_OBJECT_0 + 2) {
            end = IoEnd::Other;
        } else {
            end = IoEnd::Failed;
            error = ::GetLastError();
        }
        ::CancelIoEx(h, &ov);
    }
    // The operation owns ov until it has ended: wait for that, cancelled or not.
    moved = 0;
    if (!::GetOverlappedResult(h, &ov, &moved, TRUE)) {
        const DWORD e = ::GetLastError();
        // Aborted by the cancel above or by a purge, or ended by the time-outs: what it moved stands.
        if (e != ERROR_OPERATION_ABORTED && !EndedByTimeouts(e)) {
            error = e;
            return IoEnd::Failed;
        }
    }
    return end;
}

}  // namespace detail

using namespace detail;

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint64_t kLongestWaitMs = uint64_t{1} << 40;

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
    // Milliseconds to wait: what is left (rounded up, so a wait never ends early), at most cap.
    DWORD slice(DWORD cap) const {
        if (!limited_) return cap;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(at_ - Clock::now()).count();
        if (left <= 0) return 0;
        return static_cast<DWORD>(std::min<int64_t>((left + 999) / 1000, cap));
    }

private:
    bool limited_ = false;
    Clock::time_point at_{};
};

DWORD Chunk(size_t n) { return static_cast<DWORD>(std::min<size_t>(n, 1u << 30)); }

// One WSAPoll of a socket for events, at most ms; the revents (0 when the time passed).
short PollSocket(SOCKET s, short events, DWORD ms) {
    WSAPOLLFD p{s, events, 0};
    return ::WSAPoll(&p, 1, static_cast<INT>(ms)) > 0 ? p.revents : 0;
}

}  // namespace

SerialResult SerialDevice::Impl::transfer(bool reading, void* buf, size_t n, DWORD ms, size_t& moved) {
    moved = 0;
    Event done(true);
    OVERLAPPED ov{};
    ov.hEvent = done.get();
    DWORD count = 0;
    DWORD error = 0;
    const BOOL started = reading ? ::ReadFile(port, buf, Chunk(n), nullptr, &ov)
                                 : ::WriteFile(port, buf, Chunk(n), nullptr, &ov);
    IoEnd end = IoEnd::Done;
    if (started) {
        if (!::GetOverlappedResult(port, &ov, &count, TRUE) && !EndedByTimeouts(::GetLastError())) {
            return failed(::GetLastError());
        }
    } else {
        error = ::GetLastError();
        if (EndedByTimeouts(error)) return SerialResult::Ok;
        if (error != ERROR_IO_PENDING) return failed(error);
        end = FinishIo(port, ov, ms, interruptEvent.get(), nullptr, count, error);
    }
    moved = count;
    if (end == IoEnd::Failed) return failed(error);
    if (end == IoEnd::Interrupted && count == 0) return SerialResult::Interrupted;
    return SerialResult::Ok;
}

bool SerialDevice::Impl::writeSome(const uint8_t* data, size_t n, size_t& moved, SerialResult& failure) {
    moved = 0;
    if (isPort()) {
        // Waiting no time: what the driver does not finish at once is cancelled.
        failure = transfer(false, const_cast<uint8_t*>(data), n, 0, moved);
        return failure == SerialResult::Ok || failure == SerialResult::Interrupted;
    }
    const int r = ::send(socket, reinterpret_cast<const char*>(data), static_cast<int>(Chunk(n)), 0);
    if (r >= 0) {
        moved = static_cast<size_t>(r);
        return true;
    }
    const int e = ::WSAGetLastError();
    if (e == WSAEWOULDBLOCK || e == WSAEINTR) return true;
    failure = lost(EIO);
    return false;
}

bool SerialDevice::Impl::pumpLocked(SerialResult& failure) {
    while (pendingLocked() > 0) {
        size_t moved = 0;
        if (!writeSome(pending.data() + pendingOff, pendingLocked(), moved, failure)) return false;
        if (moved == 0) break;
        pendingOff += moved;
    }
    if (pendingLocked() == 0) {
        pending.clear();
        pendingOff = 0;
    }
    return true;
}

bool SerialDevice::Impl::inputQueued(uint32_t& count, SerialResult& failure) {
    count = 0;
    if (isPort()) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(port, &errors, &stat)) {
            failure = failed(::GetLastError());
            return false;
        }
        heldErrors.fetch_or(errors & kLineErrorBits);
        count = stat.cbInQue;
        return true;
    }
    u_long n = 0;
    if (::ioctlsocket(socket, FIONREAD, &n) != 0) {
        failure = lost(EIO);
        return false;
    }
    count = static_cast<uint32_t>(n);
    if (count == 0 && (PollSocket(socket, POLLIN, 0) & (POLLIN | POLLHUP | POLLERR))) {
        // Readable with nothing to read: the printer closed the connection.
        char probe = 0;
        const int r = ::recv(socket, &probe, 1, MSG_PEEK);
        if (r == 0 || (r < 0 && ConnectionGone(::WSAGetLastError()))) {
            failure = lost();
            return false;
        }
        if (r > 0) count = 1;
    }
    return true;
}

// --- reads and writes ---

SerialResult SerialDevice::read(void* buf, size_t n, size_t& transferred) {
    transferred = 0;
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(buf != nullptr || n == 0); r != SerialResult::Ok) return r;
    if (n == 0) return SerialResult::Ok;
    if (d.isPort()) return d.transfer(true, buf, n, INFINITE, transferred);

    // A socket: the time-out record is kept here, as the POSIX device keeps it.
    auto* out = static_cast<char*>(buf);
    const Timeouts to = d.currentTimeouts();
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
    for (;;) {
        const int r = ::recv(d.socket, out + transferred, static_cast<int>(Chunk(n - transferred)), 0);
        if (r > 0) {
            transferred += static_cast<size_t>(r);
            lastByte = Clock::now();
            if (transferred == n || firstByte) break;
            continue;
        }
        if (r == 0) {
            result = d.lost();
            break;
        }
        const int e = ::WSAGetLastError();
        if (e != WSAEWOULDBLOCK && e != WSAEINTR) {
            result = d.lost(EIO);
            break;
        }
        if (atOnce) break;
        if (d.interrupted.load()) {
            if (transferred == 0) result = SerialResult::Interrupted;
            break;
        }
        if (d.rxAbort.load() != abortMark || total.passed()) break;
        DWORD wait = total.slice(kSliceMs);
        if (interval && transferred) {
            const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - lastByte).count();
            const int64_t leftUs = int64_t{interval} * 1000 - gap;
            if (leftUs <= 0) break;
            wait = std::min<DWORD>(wait, static_cast<DWORD>(std::min<int64_t>((leftUs + 999) / 1000, kSliceMs)));
        }
        PollSocket(d.socket, POLLIN, wait);
    }
    if (transferred) {
        std::lock_guard<std::mutex> lock(d.stateMutex);
        d.rxReported = 0;
    }
    return result;
}

SerialResult SerialDevice::write(const void* buf, size_t n, size_t& transferred) {
    transferred = 0;
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(buf != nullptr || n == 0); r != SerialResult::Ok) return r;
    if (n == 0) return SerialResult::Ok;
    const auto* in = static_cast<const uint8_t*>(buf);
    const Timeouts to = d.currentTimeouts();
    const uint64_t perByte = to.writeMultiplier ? std::min<uint64_t>(n, kLongestWaitMs) * to.writeMultiplier : 0;
    const uint64_t totalMs = perByte + to.writeConstant;
    const Deadline total = totalMs ? Deadline::after(totalMs) : Deadline::none();
    if (d.isPort()) {
        // Bytes queued by writeAsync go first; then the driver's write time-outs bound the write.
        if (const SerialResult r = pumpPendingWrites(totalMs ? total.slice(kMaxDword) : kMaxDword);
            r != SerialResult::Ok) {
            return r == SerialResult::Timeout ? SerialResult::Ok : r;
        }
        d.txHeld.store(true);
        return d.transfer(false, const_cast<uint8_t*>(in), n, INFINITE, transferred);
    }
    const uint32_t abortMark = d.txAbort.load();
    for (;;) {
        size_t moved = 0;
        const SerialResult r = writeNow(in + transferred, n - transferred, moved);
        transferred += moved;
        if (r != SerialResult::Ok) return r;
        if (transferred == n) return SerialResult::Ok;
        if (d.interrupted.load()) return transferred ? SerialResult::Ok : SerialResult::Interrupted;
        if (d.txAbort.load() != abortMark || total.passed()) return SerialResult::Ok;
        PollSocket(d.socket, POLLOUT, total.slice(kSliceMs));
    }
}

SerialResult SerialDevice::writeNow(const void* buf, size_t n, size_t& transferred) {
    transferred = 0;
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(buf != nullptr || n == 0); r != SerialResult::Ok) return r;
    if (n == 0) return SerialResult::Ok;
    std::lock_guard<std::mutex> lock(d.txMutex);
    SerialResult failure = SerialResult::Ok;
    if (!d.pumpLocked(failure)) return failure;
    if (d.pendingLocked() != 0) return SerialResult::Ok;
    if (!d.writeSome(static_cast<const uint8_t*>(buf), n, transferred, failure)) return failure;
    if (transferred) d.txHeld.store(true);
    return SerialResult::Ok;
}

// --- overlapped style ---

SerialResult SerialDevice::readAsync(void* buf, size_t n, size_t& transferred) {
    transferred = 0;
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(d.overlapped.load() && (buf != nullptr || n == 0)); r != SerialResult::Ok) {
        return r;
    }
    if (n == 0) return SerialResult::Ok;
    uint32_t queued = 0;
    SerialResult failure = SerialResult::Ok;
    if (!d.inputQueued(queued, failure)) return failure;
    if (queued == 0) return SerialResult::Pending;
    // What is queued reads at once, whatever the time-outs say.
    const size_t take = std::min<size_t>(n, queued);
    if (d.isPort()) return d.transfer(true, buf, take, INFINITE, transferred);
    const int r = ::recv(d.socket, static_cast<char*>(buf), static_cast<int>(Chunk(take)), 0);
    if (r <= 0) {
        const int e = r == 0 ? 0 : ::WSAGetLastError();
        if (e == WSAEWOULDBLOCK) return SerialResult::Pending;
        return d.lost(e == 0 ? 0 : EIO);
    }
    transferred = static_cast<size_t>(r);
    std::lock_guard<std::mutex> lock(d.stateMutex);
    d.rxReported = 0;
    return SerialResult::Ok;
}

SerialResult SerialDevice::waitReadable(uint32_t timeoutMs) {
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(); r != SerialResult::Ok) return r;
    const Deadline deadline = Deadline::forWait(timeoutMs);
    for (;;) {
        uint32_t queued = 0;
        SerialResult failure = SerialResult::Ok;
        if (!d.inputQueued(queued, failure)) return failure;
        if (queued > 0) return SerialResult::Ok;
        if (d.interrupted.load()) return SerialResult::Interrupted;
        if (deadline.passed()) return SerialResult::Timeout;
        if (d.isPort()) {
            ::WaitForSingleObject(d.interruptEvent.get(), deadline.slice(kSliceMs));
        } else {
            PollSocket(d.socket, POLLIN, deadline.slice(kSliceMs));
        }
    }
}

SerialResult SerialDevice::writeAsync(const void* buf, size_t n, size_t& transferred) {
    transferred = 0;
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(d.overlapped.load() && (buf != nullptr || n == 0)); r != SerialResult::Ok) {
        return r;
    }
    if (n == 0) return SerialResult::Ok;
    const auto* in = static_cast<const uint8_t*>(buf);
    std::lock_guard<std::mutex> lock(d.txMutex);
    SerialResult failure = SerialResult::Ok;
    if (!d.pumpLocked(failure)) return failure;
    if (d.pendingLocked() == 0) {
        while (transferred < n) {
            size_t moved = 0;
            if (!d.writeSome(in + transferred, n - transferred, moved, failure)) return failure;
            if (moved == 0) break;
            transferred += moved;
        }
    }
    d.txHeld.store(true);
    if (transferred == n) return SerialResult::Ok;
    d.pending.insert(d.pending.end(), in + transferred, in + n);
    return SerialResult::Pending;
}

SerialResult SerialDevice::pumpPendingWrites(uint32_t timeoutMs) {
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(); r != SerialResult::Ok) return r;
    const Deadline deadline = Deadline::forWait(timeoutMs);
    for (;;) {
        std::unique_lock<std::mutex> lock(d.txMutex);
        SerialResult failure = SerialResult::Ok;
        if (!d.pumpLocked(failure)) return failure;
        if (d.pendingLocked() == 0) return SerialResult::Ok;
        if (d.interrupted.load()) return SerialResult::Interrupted;
        if (deadline.passed()) return SerialResult::Timeout;
        if (d.isPort()) {
            // The driver moves the bytes while this waits, up to the time left.
            size_t moved = 0;
            const DWORD ms = timeoutMs == kMaxDword ? INFINITE : deadline.slice(kMaxDword - 1);
            const SerialResult r = d.transfer(false, d.pending.data() + d.pendingOff, d.pendingLocked(), ms, moved);
            d.pendingOff += moved;
            if (r == SerialResult::Interrupted) return r;
            if (r != SerialResult::Ok) return r;
            continue;
        }
        lock.unlock();
        PollSocket(d.socket, POLLOUT, deadline.slice(kSliceMs));
    }
}

size_t SerialDevice::pendingWriteBytes() const {
    std::lock_guard<std::mutex> lock(impl_->txMutex);
    return impl_->pendingLocked();
}

// --- events ---

SerialResult SerialDevice::setEventMask(uint32_t mask) {
    Impl& d = *impl_;
    if (!d.opened.load()) return SerialResult::InvalidArgument;
    d.eventMask.store(mask);
    d.maskGeneration.fetch_add(1);
    // A COM port's wait in progress ends by itself when its mask changes.
    if (d.isPort() && !d.gone.load() && !::SetCommMask(d.port, mask)) return d.failed(::GetLastError());
    ::SetEvent(d.maskEvent.get());
    return SerialResult::Ok;
}

SerialResult SerialDevice::getEventMask(uint32_t& out) {
    out = impl_->eventMask.load();
    return isOpen() ? SerialResult::Ok : SerialResult::InvalidArgument;
}

SerialResult SerialDevice::waitEvent(uint32_t& events, uint32_t timeoutMs) {
    events = 0;
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(); r != SerialResult::Ok) return r;
    // A mask set before this wait began does not end it: only a later one does.
    ::ResetEvent(d.maskEvent.get());
    const uint32_t generation = d.maskGeneration.load();
    const uint32_t mask = d.eventMask.load();
    if (mask == 0) return SerialResult::InvalidArgument;
    const Deadline deadline = Deadline::forWait(timeoutMs);
    for (;;) {
        if (d.maskGeneration.load() != generation) return SerialResult::Ok;
        if (d.interrupted.load()) return SerialResult::Interrupted;
        size_t left = 0;
        {
            std::lock_guard<std::mutex> lock(d.txMutex);
            SerialResult failure = SerialResult::Ok;
            if (!d.pumpLocked(failure)) return failure;
            left = d.pendingLocked();
        }
        if (d.isPort()) {
            // The driver's own wait; while queued output remains it is renewed each slice, so
            // that the output moves on meanwhile.
            Event done(true);
            OVERLAPPED ov{};
            ov.hEvent = done.get();
            DWORD ev = 0;
            if (::WaitCommEvent(d.port, &ev, &ov)) {
                events = ev & mask;
                if (events == 0) continue;
                return SerialResult::Ok;
            }
            DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING) return d.failed(error);
            const DWORD ms = left ? deadline.slice(kSliceMs)
                                  : (timeoutMs == kMaxDword ? INFINITE : deadline.slice(kMaxDword - 1));
            DWORD unused = 0;
            switch (FinishIo(d.port, ov, ms, d.interruptEvent.get(), d.maskEvent.get(), unused, error)) {
                case IoEnd::Done:
                    // A wait that ends with none of the mask's events (Wine ends one so when another
                    // event comes) goes on, unless the mask changed meanwhile.
                    events = ev & mask;
                    if (events == 0 && d.maskGeneration.load() == generation) continue;
                    return SerialResult::Ok;
                case IoEnd::Interrupted:
                    return SerialResult::Interrupted;
                case IoEnd::Other:
                    // A mask set as this wait began rang too: only a later one ends it.
                    if (d.maskGeneration.load() != generation) return SerialResult::Ok;
                    ::ResetEvent(d.maskEvent.get());
                    continue;
                case IoEnd::Failed:
                    return d.failed(error);
                case IoEnd::TimedOut:
                    if (deadline.passed()) return SerialResult::Timeout;
                    continue;
            }
        }
        // A socket: its events are sampled each slice.
        uint32_t queued = 0;
        SerialResult failure = SerialResult::Ok;
        if (!d.inputQueued(queued, failure)) return failure;
        uint32_t ev = 0;
        {
            std::lock_guard<std::mutex> lock(d.stateMutex);
            if (queued == 0) {
                d.rxReported = 0;
            } else if ((mask & kEvRxChar) && queued != d.rxReported) {
                ev |= kEvRxChar;
                d.rxReported = queued;
            }
            const uint32_t modem = LinesWithoutModem(d.path);
            const uint32_t changed = modem ^ d.socketModemBase;
            d.socketModemBase = modem;
            if (changed & kModemCts) ev |= kEvCts;
            if (changed & kModemDsr) ev |= kEvDsr;
            if (changed & kModemRlsd) ev |= kEvRlsd;
            if (changed & kModemRing) ev |= kEvRing;
        }
        if (left == 0) {
            bool expected = true;
            if (d.txHeld.compare_exchange_strong(expected, false)) ev |= kEvTxEmpty;
        }
        if (ev & mask) {
            events = ev & mask;
            return SerialResult::Ok;
        }
        if (deadline.passed()) return SerialResult::Timeout;
        const HANDLE waits[2] = {d.interruptEvent.get(), d.maskEvent.get()};
        if (queued == 0) {
            PollSocket(d.socket, static_cast<short>(left ? (POLLIN | POLLOUT) : POLLIN), deadline.slice(kSliceMs));
        } else {
            ::WaitForMultipleObjects(2, waits, FALSE, deadline.slice(kSliceMs));
        }
    }
}

// --- interruption ---

void SerialDevice::interrupt() {
    impl_->interrupted.store(true);
    ::SetEvent(impl_->interruptEvent.get());
}

void SerialDevice::clearInterrupt() {
    impl_->interrupted.store(false);
    ::ResetEvent(impl_->interruptEvent.get());
}

}  // namespace pellory::platform
