// The POSIX serial device: modem lines, real and emulated, the driver's error counters and the
// queues (see serial_device_posix.h).
#include "platform/serial_device_posix.h"

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include <map>

namespace pellory::platform {

namespace {

// Modem lines that an emulator at the far end of a line without modem lines stands for.
std::mutex gEmulatedMutex;
std::map<std::string, uint32_t>& EmulatedLines() {
    static std::map<std::string, uint32_t> lines;
    return lines;
}

}  // namespace

namespace detail {

// Queue counts. false when the device failed; a device without the request reports 0.
bool QueueCount(int fd, unsigned long request, uint32_t& out) {
    int n = 0;
    if (::ioctl(fd, request, &n) != 0) {
        if (DeviceFailed(errno)) return false;
        n = 0;
    }
    out = n > 0 ? static_cast<uint32_t>(n) : 0;
    return true;
}

// Modem lines as kModem* bits. A device without modem lines reports CTS and DSR on (has=false),
// or what an emulator set for its path.
bool ReadModem(int fd, const std::string& path, uint32_t& bits, bool& has) {
    int st = 0;
    if (::ioctl(fd, TIOCMGET, &st) != 0) {
        if (!NotImplemented(errno)) return false;
        bits = kModemCts | kModemDsr;
        {
            std::lock_guard<std::mutex> lock(gEmulatedMutex);
            const auto it = EmulatedLines().find(path);
            if (it != EmulatedLines().end()) bits = it->second;
        }
        has = false;
        return true;
    }
    bits = 0;
    if (st & TIOCM_CTS) bits |= kModemCts;
    if (st & TIOCM_DSR) bits |= kModemDsr;
    if (st & TIOCM_RNG) bits |= kModemRing;
    if (st & TIOCM_CAR) bits |= kModemRlsd;
    has = true;
    return true;
}

// Sets or clears one output line; a device without modem lines is not an error.
bool SetLine(int fd, int line, bool on) {
    int bit = line;
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0) return true;
    return !DeviceFailed(errno);
}

bool ReadCounts(int fd, ErrorCounts& c) {
#if defined(__linux__) && defined(TIOCGICOUNT)
    serial_icounter_struct ic{};
    if (::ioctl(fd, TIOCGICOUNT, &ic) != 0) return false;
    c.frame = ic.frame;
    c.overrun = ic.overrun;
    c.parity = ic.parity;
    c.brk = ic.brk;
    c.bufOverrun = ic.buf_overrun;
    return true;
#else
    (void)fd;
    (void)c;
    return false;
#endif
}

uint32_t ErrorBits(const ErrorCounts& before, const ErrorCounts& now) {
    uint32_t bits = 0;
    if (now.bufOverrun != before.bufOverrun) bits |= kErrRxOver;
    if (now.overrun != before.overrun) bits |= kErrOverrun;
    if (now.parity != before.parity) bits |= kErrParity;
    if (now.frame != before.frame) bits |= kErrFrame;
    if (now.brk != before.brk) bits |= kErrBreak;
    return bits;
}

}  // namespace detail

using namespace detail;  // the helpers of serial_device_posix.h

// --- queues, errors, lines ---

uint32_t SerialDevice::Impl::takeErrors(const ErrorCounts& now) {
    std::lock_guard<std::mutex> lock(stateMutex);
    uint32_t errors = 0;
    if (haveCounts) {
        errors = ErrorBits(errorBase, now);
    } else {
        eventBase = now;
        haveCounts = true;
    }
    errorBase = now;
    return errors;
}

SerialResult SerialDevice::purge(uint32_t flags) {
    Impl& d = *impl_;
    int fd = -1;
    if (const SerialResult r = d.openPort(fd, (flags & ~0xFu) == 0); r != SerialResult::Ok) return r;
    if (flags & kPurgeTxAbort) d.txAbort.fetch_add(1);
    if (flags & kPurgeRxAbort) d.rxAbort.fetch_add(1);
    // Aborting ends the operations in progress (and drops what writeAsync still holds);
    // clearing empties the driver's queue. A line without a transmitter (a pseudo-terminal,
    // which has no modem lines either) has delivered every written byte to its far end
    // already: clearing its output would take those back, so only our own queue is dropped.
    if (flags & (kPurgeTxAbort | kPurgeTxClear)) d.dropPending();
    if ((flags & kPurgeTxClear) && d.hasModemLines.load()) {
        if (::tcflush(fd, TCOFLUSH) != 0 && DeviceFailed(errno)) return d.lost();
    }
    if (flags & kPurgeRxClear) {
        if (::tcflush(fd, TCIFLUSH) != 0 && DeviceFailed(errno)) return d.lost();
        d.inputConsumed();
    }
    return SerialResult::Ok;
}

SerialResult SerialDevice::clearError(CommStatus* status) {
    Impl& d = *impl_;
    int fd = -1;
    if (const SerialResult r = d.openPort(fd); r != SerialResult::Ok) return r;
    size_t left = 0;
    if (!d.pump(fd, left)) return d.lost();
    if (Peek(fd) & kGone) return d.lost();
    uint32_t inq = 0, outq = 0;
    if (!QueueCount(fd, FIONREAD, inq) || !QueueCount(fd, TIOCOUTQ, outq)) return d.lost();
    if (d.writeOnly) inq = 0;  // a FIFO counts what it holds for its reader
    if (inq == 0 && d.peerClosed(fd)) return d.lost();
    uint32_t errors = 0;
    ErrorCounts now;
    if (ReadCounts(fd, now)) errors = d.takeErrors(now);
    if (status) {
        status->errors = errors;
        status->inQueue = inq;
        const uint64_t out = uint64_t{outq} + left;
        status->outQueue = out > 0xFFFFFFFEu ? 0xFFFFFFFEu : static_cast<uint32_t>(out);
    }
    return SerialResult::Ok;
}

SerialResult SerialDevice::takeLineErrors(uint32_t& errors) {
    errors = 0;
    Impl& d = *impl_;
    int fd = -1;
    if (const SerialResult r = d.openPort(fd); r != SerialResult::Ok) return r;
    // A driver without error counters has no line errors to report: nothing to ask it.
    if (d.noCounters.load()) return SerialResult::Ok;
    ErrorCounts now;
    if (!ReadCounts(fd, now)) {
        if (DeviceFailed(errno)) return d.lost();
        return SerialResult::Ok;
    }
    errors = d.takeErrors(now);
    return SerialResult::Ok;
}

SerialResult SerialDevice::modemStatus(uint32_t& out) {
    out = 0;
    Impl& d = *impl_;
    int fd = -1;
    if (const SerialResult r = d.openPort(fd); r != SerialResult::Ok) return r;
    if (Peek(fd) & kGone) return d.lost();
    bool has = false;
    return ReadModem(fd, d.path, out, has) ? SerialResult::Ok : d.lost();
}

SerialResult SerialDevice::clearBreak() {
    Impl& d = *impl_;
    int fd = -1;
    if (const SerialResult r = d.openPort(fd); r != SerialResult::Ok) return r;
    if (::ioctl(fd, TIOCCBRK) != 0 && DeviceFailed(errno)) return d.lost();
    return SerialResult::Ok;
}

void SetEmulatedModemLines(const std::string& path, uint32_t bits) {
    std::lock_guard<std::mutex> lock(gEmulatedMutex);
    EmulatedLines()[path] = bits;
}

void ClearEmulatedModemLines(const std::string& path) {
    std::lock_guard<std::mutex> lock(gEmulatedMutex);
    EmulatedLines().erase(path);
}

}  // namespace pellory::platform
