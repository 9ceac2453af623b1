// Serial devices on POSIX termios.
//
// The descriptor is opened non-blocking and stays so: every wait is a poll() of at most one
// slice (50 ms), so each blocking call notices interrupt(), a purge that aborts it, a new
// event mask or a vanished device within one slice, and usually at once through a doorbell
// descriptor that poll() watches beside the device.
//
// The Windows-shaped records are emulated:
//  - time-outs: the read and write loops keep the total and interval deadlines themselves;
//  - overlapped writes: bytes the kernel cannot take at once are copied to a pending queue
//    inside the device and written by later calls, before anything written after them;
//  - line events: waitEvent samples the input and output queues, the modem lines and the
//    driver's error counters each slice and reports what changed since the last look.
#include "platform/serial_device.h"

#include "platform/device_open_posix.h"
#include "platform/line_rate.h"
#include "platform/termios2_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/serial.h>
#include <sys/eventfd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace pellory::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSliceMs = 50;        // longest single poll()
constexpr int kTxSliceMs = 20;      // poll() while output drains (nothing wakes us when it ends)
constexpr int kEnoIoctlCmd = 515;   // the kernel's "no such ioctl" when it leaks to user space
constexpr uint64_t kLongestWaitMs = uint64_t{1} << 40;  // caps computed totals (~35 years)
constexpr short kGone = POLLHUP | POLLERR | POLLNVAL;
#if defined(CMSPAR)
constexpr tcflag_t kMarkSpace = CMSPAR;  // "parity bit fixed": mark with PARODD, space without
#else
constexpr tcflag_t kMarkSpace = 0;  // not offered: mark and space parity are Unsupported
#endif

// An errno that means the device itself is gone or broken (as opposed to "this device has no
// such feature").
bool DeviceFailed(int e) { return e == EIO || e == ENXIO || e == ENODEV || e == EBADF || e == EPIPE; }

// An errno of a request the device does not implement (a pseudo-terminal's modem lines).
bool NotImplemented(int e) { return e == ENOTTY || e == EINVAL || e == kEnoIoctlCmd || e == EOPNOTSUPP; }

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

// A descriptor that poll() sees readable once rung, until drained.
class Doorbell {
public:
    Doorbell() {
#if defined(__linux__)
        rd_ = wr_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
#else
        int p[2];
        if (::pipe(p) == 0) {
            for (int fd : p) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
            rd_ = p[0];
            wr_ = p[1];
        }
#endif
    }
    ~Doorbell() {
        if (rd_ >= 0) ::close(rd_);
        if (wr_ >= 0 && wr_ != rd_) ::close(wr_);
    }
    Doorbell(const Doorbell&) = delete;
    Doorbell& operator=(const Doorbell&) = delete;

    void ring() {
        if (wr_ < 0) return;
#if defined(__linux__)
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t r = ::write(wr_, &one, sizeof one);
#else
        const char one = 1;
        [[maybe_unused]] ssize_t r = ::write(wr_, &one, 1);
#endif
    }
    void drain() {
        if (rd_ < 0) return;
        char sink[64];
        while (::read(rd_, sink, sizeof sink) > 0) {
        }
    }
    int fd() const { return rd_; }

private:
    int rd_ = -1;
    int wr_ = -1;
};

// One poll() on the device (events may be 0: hang-up and errors are reported anyway) and the
// given doorbells. Returns the device's revents; bell tells whether a doorbell rang.
struct PollOutcome {
    short device = 0;
    bool bell = false;
};

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

// Modem lines that an emulator at the far end of a line without modem lines stands for.
std::mutex gEmulatedMutex;
std::map<std::string, uint32_t>& EmulatedLines() {
    static std::map<std::string, uint32_t> lines;
    return lines;
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

// The driver's error counters (Linux serial drivers; pseudo-terminals have none).
struct ErrorCounts {
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};

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

// --- baud rates ---

#if PELLORY_HAVE_TERMIOS2
using detail::KernelTermios2;
using detail::kBother;
using detail::kTcGets2;
using detail::kTcSets2;
#endif

// The line's rate, 0 when it tells none.
uint32_t ReadRate(int fd, const termios& t) { return LineRate(fd, t).value_or(0); }

// Whether the rate the driver reports is close enough to the one asked for (drivers round to
// what their clock divides to; a UART tolerates about 2 %).
bool RateAccepted(uint32_t asked, uint32_t actual) {
    const uint64_t diff = asked > actual ? asked - actual : actual - asked;
    return diff * 50 <= asked;
}

// The termios record of the line, with the rate, a way to put it back, and a setter.
struct LineState {
    termios t{};
#if PELLORY_HAVE_TERMIOS2
    KernelTermios2 k{};
    bool haveK = false;
#endif
};

bool ReadLineState(int fd, LineState& s) {
    if (::tcgetattr(fd, &s.t) != 0) return false;
#if PELLORY_HAVE_TERMIOS2
    s.haveK = ::ioctl(fd, kTcGets2, &s.k) == 0;
#endif
    return true;
}

void RestoreLineState(int fd, const LineState& s) {
#if PELLORY_HAVE_TERMIOS2
    if (s.haveK && ::ioctl(fd, kTcSets2, &s.k) == 0) return;
#endif
    ::tcsetattr(fd, TCSANOW, &s.t);
}

// Applies t with the given rate: a standard speed code where one exists, otherwise (Linux) the
// rate as a number.
SerialResult ApplyTermios(int fd, const termios& t, uint32_t rate) {
    const std::optional<speed_t> standardCode = SpeedCodeOfRate(rate);
    const bool standard = standardCode.has_value();
    const speed_t code = standardCode.value_or(0);
#if PELLORY_HAVE_TERMIOS2
    KernelTermios2 k{};
    if (::ioctl(fd, kTcGets2, &k) == 0) {
        k.c_iflag = t.c_iflag;
        k.c_oflag = t.c_oflag;
        k.c_lflag = t.c_lflag;
        k.c_line = t.c_line;
        std::memcpy(k.c_cc, t.c_cc, std::min(sizeof k.c_cc, sizeof t.c_cc));
        k.c_cflag = (t.c_cflag & ~(CBAUD | CIBAUD)) | (standard ? code : kBother);
        k.c_ispeed = rate;
        k.c_ospeed = rate;
        if (::ioctl(fd, kTcSets2, &k) == 0) return SerialResult::Ok;
        if (DeviceFailed(errno)) return SerialResult::IoError;
        if (!standard) return SerialResult::Unsupported;
    }
#endif
    if (!standard) return SerialResult::Unsupported;
    termios u = t;
    if (::cfsetispeed(&u, code) != 0 || ::cfsetospeed(&u, code) != 0) return SerialResult::Unsupported;
    if (::tcsetattr(fd, TCSANOW, &u) == 0) return SerialResult::Ok;
    return DeviceFailed(errno) ? SerialResult::IoError : SerialResult::Unsupported;
}

// The line-settings record that termios (and the modem lines) describe.
LineSettings Decode(const termios& t, uint32_t rate, int modemLines /* TIOCM bits, -1: none */) {
    LineSettings s;
    s.baudRate = rate;
    switch (t.c_cflag & CSIZE) {
        case CS5: s.byteSize = 5; break;
        case CS6: s.byteSize = 6; break;
        case CS7: s.byteSize = 7; break;
        default: s.byteSize = 8; break;
    }
    if (!(t.c_cflag & PARENB)) {
        s.parity = kParityNone;
    } else if (kMarkSpace && (t.c_cflag & kMarkSpace)) {
        s.parity = (t.c_cflag & PARODD) ? kParityMark : kParitySpace;
    } else {
        s.parity = (t.c_cflag & PARODD) ? kParityOdd : kParityEven;
    }
    s.stopBits = (t.c_cflag & CSTOPB) ? kTwoStopBits : kOneStopBit;
    uint32_t f = kFlagBinary;
    if (t.c_iflag & INPCK) f |= kFlagParity;
    if (t.c_cflag & CRTSCTS) f |= kFlagOutxCtsFlow;
    if (t.c_iflag & IXON) f |= kFlagOutX;
    if (t.c_iflag & IXOFF) f |= kFlagInX;
    const uint32_t dtr = modemLines < 0 ? 1u : ((modemLines & TIOCM_DTR) ? 1u : 0u);
    uint32_t rts = 2u;
    if (!(t.c_cflag & CRTSCTS)) rts = modemLines < 0 ? 1u : ((modemLines & TIOCM_RTS) ? 1u : 0u);
    f |= dtr << kDtrControlShift;
    f |= rts << kRtsControlShift;
    s.flags = f;
    s.xonChar = static_cast<char>(t.c_cc[VSTART]);
    s.xoffChar = static_cast<char>(t.c_cc[VSTOP]);
    return s;
}

// Flag groups that termios can show, each compared as a whole.
constexpr uint32_t kTermiosFlagGroups[] = {kFlagParity, kFlagOutxCtsFlow, kFlagOutX, kFlagInX,
                                           kFlagDtrControlMask, kFlagRtsControlMask};


}  // namespace

// --- the device ---

struct SerialDevice::Impl {
    std::atomic<int> fd{-1};
    std::atomic<bool> overlapped{false};
    std::string path;

    Doorbell interruptBell;  // rung by interrupt(), drained by clearInterrupt()
    Doorbell maskBell;       // rung by setEventMask(), drained by waitEvent()
    std::atomic<bool> interrupted{false};
    std::atomic<uint32_t> eventMask{0};
    std::atomic<uint32_t> maskGeneration{0};
    std::atomic<uint32_t> rxAbort{0};  // bumped by purge(kPurgeRxAbort)
    std::atomic<uint32_t> txAbort{0};  // bumped by purge(kPurgeTxAbort)
    std::atomic<bool> txHeld{false};   // output was written and kEvTxEmpty is still owed
    std::atomic<bool> noCounters{false};  // the driver keeps no line error counters
    std::atomic<bool> hasModemLines{true};  // false for a pseudo-terminal
    std::atomic<bool> gone{false};          // the device went away; sticky until close()
    DeviceKind kind = DeviceKind::Terminal;  // set by open() before the descriptor is published
    bool writeOnly = false;                  // nothing to read (a FIFO stand-in of a printer file)
    std::string openReason;                  // why the last open() failed, where the result does not say

    bool hasTermios() const { return kind == DeviceKind::Terminal; }

    // A socket whose far end closed reads as readable with nothing to read.
    bool peerClosed(int d) const {
        if (kind != DeviceKind::Network) return false;
        pollfd p{d, POLLRDHUP, 0};
        if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLRDHUP | POLLHUP))) return false;
        int n = 0;
        return ::ioctl(d, FIONREAD, &n) != 0 || n == 0;
    }

    // Marks the device as gone and gives the result every call reports from now on. error: the
    // errno of the failed read or write that tells why, when there was one (the first is kept).
    SerialResult lost(int error = 0) {
        if (error != 0) {
            int none = 0;
            lossError.compare_exchange_strong(none, error);
        }
        gone.store(true);
        return SerialResult::Removed;
    }
    std::atomic<int> lossError{0};

    // The line as open() found it, put back by close() (only those two touch it).
    LineState found;
    bool haveFound = false;

    // Settings and event bookkeeping.
    mutable std::mutex stateMutex;
    bool haveShadow = false;
    LineSettings shadow;    // the record last set
    LineSettings snapshot;  // what termios showed right after it was set
    Timeouts timeouts;
    bool haveCounts = false;
    ErrorCounts errorBase;  // clearError's reference
    ErrorCounts eventBase;  // waitEvent's reference
    uint32_t modemBase = 0;
    uint32_t rxReported = 0;  // input count last reported as kEvRxChar (0: nothing owed)

    // Output queued by writeAsync, and the write side of the descriptor.
    mutable std::mutex txMutex;
    std::vector<uint8_t> pending;
    size_t pendingOff = 0;

    size_t pendingLocked() const { return pending.size() - pendingOff; }

    // Writes queued output while the kernel takes it. false when the device failed.
    bool pumpLocked(int d) {
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

    // Pumps and reports what stays queued. false when the device failed.
    bool pump(int d, size_t& left) {
        std::lock_guard<std::mutex> lock(txMutex);
        const bool ok = pumpLocked(d);
        left = pendingLocked();
        return ok;
    }

    void dropPending() {
        std::lock_guard<std::mutex> lock(txMutex);
        pending.clear();
        pending.shrink_to_fit();
        pendingOff = 0;
    }

    Timeouts currentTimeouts() const {
        std::lock_guard<std::mutex> lock(stateMutex);
        return timeouts;
    }

    void inputConsumed() {
        std::lock_guard<std::mutex> lock(stateMutex);
        rxReported = 0;
    }

    // Samples the line and returns the events of mask that happened since the last sample.
    // false when the device failed. rxQueued tells whether input waits to be read.
    bool sampleEvents(int d, uint32_t mask, uint32_t& events, bool& rxQueued) {
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

    void resetState() {
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            haveShadow = false;
            shadow = LineSettings{};
            snapshot = LineSettings{};
            timeouts = Timeouts{};
            haveCounts = false;
            errorBase = eventBase = ErrorCounts{};
            modemBase = 0;
            rxReported = 0;
        }
        dropPending();
        eventMask.store(0);
        txHeld.store(false);
        gone.store(false);
        lossError.store(0);
    }
};

SerialDevice::SerialDevice() : impl_(std::make_unique<Impl>()) {}

SerialDevice::~SerialDevice() { close(); }

SerialResult SerialDevice::open(const std::string& path, bool overlapped) {
    close();
    Impl& d = *impl_;
    d.openReason.clear();
    if (path.empty()) return SerialResult::InvalidArgument;
    LineState found;
    bool haveFound = false;
    const detail::OpenedDevice opened =
        IsNetworkEntry(path) ? detail::ConnectNetwork(path, kConnectTimeoutMs)
                             : detail::OpenDevicePath(path, [&](int fd) { haveFound = ReadLineState(fd, found); });
    if (opened.result != SerialResult::Ok) {
        d.openReason = opened.reason;
        return opened.result;
    }
    const int fd = opened.fd;
    d.resetState();
    d.found = found;
    d.haveFound = haveFound;
    {
        std::lock_guard<std::mutex> lock(d.stateMutex);
        ErrorCounts c;
        const bool counted = ReadCounts(fd, c);
        d.noCounters.store(!counted && NotImplemented(errno));
        if (counted) {
            d.errorBase = d.eventBase = c;
            d.haveCounts = true;
        }
        uint32_t modem = 0;
        bool has = false;
        if (ReadModem(fd, path, modem, has)) d.modemBase = modem;
        d.hasModemLines.store(has);
    }
    d.kind = opened.kind;
    d.writeOnly = opened.writeOnly;
    d.path = path;
    d.overlapped.store(overlapped);
    d.fd.store(fd);
    return SerialResult::Ok;
}

void SerialDevice::close() {
    Impl& d = *impl_;
    const int fd = d.fd.exchange(-1);
    if (fd < 0) return;
    // A line held by flow control would otherwise delay close(). A pseudo-terminal has no
    // transmitter to hold anything: its written bytes are already the far end's to read.
    if (d.hasTermios()) {
        if (d.hasModemLines.load()) ::tcflush(fd, TCOFLUSH);
        // The line settings as they were found, for whoever uses the device next.
        if (d.haveFound) RestoreLineState(fd, d.found);
        ::ioctl(fd, TIOCNXCL);
    }
    d.haveFound = false;
    if (d.kind == DeviceKind::Network) {
        // Bytes the printer has not taken yet must not reach it after this: a connection
        // closed with output still queued is reset, which drops that output at once, instead
        // of the orderly close that would go on delivering it.
        size_t held = 0;
        {
            std::lock_guard<std::mutex> lock(d.txMutex);
            held = d.pendingLocked();
        }
        uint32_t unsent = 0;
        if (held > 0 || !QueueCount(fd, TIOCOUTQ, unsent) || unsent > 0) {
            const linger abort{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
    } else {
        ::flock(fd, LOCK_UN);
    }
    ::close(fd);
    d.resetState();
}

bool SerialDevice::isOpen() const { return impl_->fd.load() >= 0; }
bool SerialDevice::isOverlapped() const { return impl_->overlapped.load(); }
const std::string& SerialDevice::path() const { return impl_->path; }
DeviceKind SerialDevice::kind() const { return impl_->kind; }
const std::string& SerialDevice::openFailureReason() const { return impl_->openReason; }
int SerialDevice::nativeHandle() const { return impl_->fd.load(); }
int SerialDevice::lossError() const { return impl_->lossError.load(); }

// --- settings ---

SerialResult SerialDevice::getLineSettings(LineSettings& out) {
    Impl& d = *impl_;
    const int fd = d.fd.load();
    if (fd < 0) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
    if (!d.hasTermios()) {
        // No line to describe: the record last set, or 9600 8N1 with DTR and RTS on.
        std::lock_guard<std::mutex> lock(d.stateMutex);
        if (d.haveShadow) {
            out = d.shadow;
        } else {
            out = LineSettings{};
            out.baudRate = 9600;
            out.byteSize = 8;
            out.flags = kFlagBinary | (1u << kDtrControlShift) | (1u << kRtsControlShift);
            out.xonChar = 0x11;
            out.xoffChar = 0x13;
        }
        return SerialResult::Ok;
    }
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return SerialResult::IoError;
    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) != 0) {
        if (!NotImplemented(errno)) return SerialResult::IoError;
        lines = -1;
    }
    const LineSettings now = Decode(t, ReadRate(fd, t), lines);

    std::lock_guard<std::mutex> lock(d.stateMutex);
    if (!d.haveShadow) {
        out = now;
        return SerialResult::Ok;
    }
    // The record as set, except where the terminal changed since (another program, stty).
    const LineSettings& was = d.snapshot;
    LineSettings s = d.shadow;
    if (now.baudRate != was.baudRate) s.baudRate = now.baudRate;
    if (now.byteSize != was.byteSize) s.byteSize = now.byteSize;
    if (now.parity != was.parity) s.parity = now.parity;
    if (now.stopBits != was.stopBits) s.stopBits = now.stopBits;
    if (now.xonChar != was.xonChar) s.xonChar = now.xonChar;
    if (now.xoffChar != was.xoffChar) s.xoffChar = now.xoffChar;
    for (uint32_t group : kTermiosFlagGroups) {
        if ((now.flags & group) != (was.flags & group)) s.flags = (s.flags & ~group) | (now.flags & group);
    }
    out = s;
    return SerialResult::Ok;
}

SerialResult SerialDevice::setLineSettings(const LineSettings& in) {
    Impl& d = *impl_;
    const int fd = d.fd.load();
    if (fd < 0) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
    const uint32_t dtr = (in.flags & kFlagDtrControlMask) >> kDtrControlShift;
    const uint32_t rts = (in.flags & kFlagRtsControlMask) >> kRtsControlShift;
    const bool xonXoff = (in.flags & (kFlagOutX | kFlagInX)) != 0;
    if (in.byteSize < 5 || in.byteSize > 8 || in.parity > kParitySpace || in.stopBits > kTwoStopBits ||
        in.baudRate == 0 || dtr > 2 || (xonXoff && in.xonChar == in.xoffChar)) {
        return SerialResult::InvalidArgument;
    }
    if (!d.hasTermios()) {
        // Accepted and kept (getLineSettings gives it back), but nothing on the device changes.
        std::lock_guard<std::mutex> lock(d.stateMutex);
        d.shadow = in;
        d.haveShadow = true;
        return SerialResult::Ok;
    }
    if (!kMarkSpace && (in.parity == kParityMark || in.parity == kParitySpace)) return SerialResult::Unsupported;

    LineState before;
    if (!ReadLineState(fd, before)) return SerialResult::IoError;
    termios t = before.t;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | kMarkSpace | CSTOPB | CRTSCTS);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[in.byteSize - 5];
    switch (in.parity) {
        case kParityOdd: t.c_cflag |= PARENB | PARODD; break;
        case kParityEven: t.c_cflag |= PARENB; break;
        case kParityMark: t.c_cflag |= PARENB | kMarkSpace | PARODD; break;
        case kParitySpace: t.c_cflag |= PARENB | kMarkSpace; break;
        default: break;
    }
    // 1.5 stop bits exist only for 5-bit UART words; termios offers one or two, so 1.5 runs
    // as two (the record keeps 1.5).
    if (in.stopBits != kOneStopBit) t.c_cflag |= CSTOPB;
    if (in.flags & kFlagOutxCtsFlow) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(INPCK | IGNPAR | PARMRK | IXON | IXOFF | IXANY);
    if (in.flags & kFlagParity) t.c_iflag |= INPCK;
    if (in.flags & kFlagOutX) t.c_iflag |= IXON;
    if (in.flags & kFlagInX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(in.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(in.xoffChar);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    if (const SerialResult r = ApplyTermios(fd, t, in.baudRate); r != SerialResult::Ok) {
        if (r == SerialResult::Unsupported) RestoreLineState(fd, before);
        return r;
    }
    termios now{};
    if (::tcgetattr(fd, &now) != 0) return SerialResult::IoError;
    if (!RateAccepted(in.baudRate, ReadRate(fd, now))) {
        RestoreLineState(fd, before);
        return SerialResult::Unsupported;
    }
    // DTR: off, on, or handshake (held on while open). RTS: off, on, handshake or toggle (on);
    // with CRTSCTS the driver drives RTS itself.
    if (!SetLine(fd, TIOCM_DTR, dtr != 0)) return SerialResult::IoError;
    if (!(in.flags & kFlagOutxCtsFlow) && !SetLine(fd, TIOCM_RTS, rts != 0)) return SerialResult::IoError;

    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) != 0) lines = -1;
    const LineSettings seen = Decode(now, ReadRate(fd, now), lines);
    std::lock_guard<std::mutex> lock(d.stateMutex);
    d.shadow = in;
    d.snapshot = seen;
    d.haveShadow = true;
    return SerialResult::Ok;
}

SerialResult SerialDevice::setQueueSizes(uint32_t, uint32_t) {
    return isOpen() ? SerialResult::Ok : SerialResult::InvalidArgument;
}

SerialResult SerialDevice::getTimeouts(Timeouts& out) {
    if (!isOpen()) return SerialResult::InvalidArgument;
    out = impl_->currentTimeouts();
    return SerialResult::Ok;
}

SerialResult SerialDevice::setTimeouts(const Timeouts& in) {
    if (!isOpen()) return SerialResult::InvalidArgument;
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    impl_->timeouts = in;
    return SerialResult::Ok;
}

// --- queues, errors, lines ---

SerialResult SerialDevice::purge(uint32_t flags) {
    Impl& d = *impl_;
    const int fd = d.fd.load();
    if (fd < 0 || (flags & ~0xFu) != 0) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
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

SerialResult SerialDevice::flush(uint32_t maxWaitMs) {
    Impl& d = *impl_;
    const int fd = d.fd.load();
    if (fd < 0) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
    const Deadline deadline = Deadline::forWait(maxWaitMs);
    for (;;) {
        size_t left = 0;
        if (!d.pump(fd, left)) return d.lost();
        uint32_t outq = 0;
        if (!QueueCount(fd, TIOCOUTQ, outq)) return d.lost();
        if (left == 0 && outq == 0) {
            // The kernel queue is empty; where the driver tells, wait for the shift register too.
            bool shifted = true;
#ifdef TIOCSERGETLSR
            unsigned int lsr = 0;
            if (::ioctl(fd, TIOCSERGETLSR, &lsr) == 0) shifted = (lsr & TIOCSER_TEMT) != 0;
#endif
            if (shifted) return SerialResult::Ok;
        }
        if (d.interrupted.load()) return SerialResult::Interrupted;
        if (deadline.passed()) return SerialResult::Timeout;
        const PollOutcome p =
            WaitOn(fd, left ? POLLOUT : 0, {d.interruptBell.fd()}, deadline.slice(left ? kSliceMs : kTxSliceMs));
        if (p.device & kGone) return d.lost();
    }
}

SerialResult SerialDevice::clearError(CommStatus* status) {
    Impl& d = *impl_;
    const int fd = d.fd.load();
    if (fd < 0) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
    size_t left = 0;
    if (!d.pump(fd, left)) return d.lost();
    if (Peek(fd) & kGone) return d.lost();
    uint32_t inq = 0, outq = 0;
    if (!QueueCount(fd, FIONREAD, inq) || !QueueCount(fd, TIOCOUTQ, outq)) return d.lost();
    if (d.writeOnly) inq = 0;  // a FIFO counts what it holds for its reader
    if (inq == 0 && d.peerClosed(fd)) return d.lost();
    uint32_t errors = 0;
    ErrorCounts now;
    if (ReadCounts(fd, now)) {
        std::lock_guard<std::mutex> lock(d.stateMutex);
        if (d.haveCounts) {
            errors = ErrorBits(d.errorBase, now);
        } else {
            d.eventBase = now;
            d.haveCounts = true;
        }
        d.errorBase = now;
    }
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
    const int fd = d.fd.load();
    if (fd < 0) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
    // A driver without error counters has no line errors to report: nothing to ask it.
    if (d.noCounters.load()) return SerialResult::Ok;
    ErrorCounts now;
    if (!ReadCounts(fd, now)) {
        if (DeviceFailed(errno)) return d.lost();
        return SerialResult::Ok;
    }
    std::lock_guard<std::mutex> lock(d.stateMutex);
    if (d.haveCounts) {
        errors = ErrorBits(d.errorBase, now);
    } else {
        d.eventBase = now;
        d.haveCounts = true;
    }
    d.errorBase = now;
    return SerialResult::Ok;
}

SerialResult SerialDevice::modemStatus(uint32_t& out) {
    out = 0;
    Impl& d = *impl_;
    const int fd = d.fd.load();
    if (fd < 0) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
    if (Peek(fd) & kGone) return d.lost();
    bool has = false;
    return ReadModem(fd, d.path, out, has) ? SerialResult::Ok : d.lost();
}

SerialResult SerialDevice::clearBreak() {
    Impl& d = *impl_;
    const int fd = d.fd.load();
    if (fd < 0) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
    if (::ioctl(fd, TIOCCBRK) != 0 && DeviceFailed(errno)) return d.lost();
    return SerialResult::Ok;
}

// --- plain reads and writes ---

SerialResult SerialDevice::read(void* buf, size_t n, size_t& transferred) {
    transferred = 0;
    Impl& d = *impl_;
    const int fd = d.fd.load();
    if (fd < 0 || (buf == nullptr && n != 0)) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
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
    const int fd = d.fd.load();
    if (fd < 0 || (buf == nullptr && n != 0)) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
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
    const int fd = d.fd.load();
    if (fd < 0 || (buf == nullptr && n != 0)) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
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
    const int fd = d.fd.load();
    if (fd < 0 || !d.overlapped.load() || (buf == nullptr && n != 0)) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
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
    const int fd = d.fd.load();
    if (fd < 0) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
    const Deadline deadline = Deadline::forWait(timeoutMs);
    bool quiet = false;
    for (;;) {
        uint32_t inq = 0;
        if (!QueueCount(fd, FIONREAD, inq)) return d.lost();
        if (d.writeOnly) inq = 0;
        if (inq > 0) return SerialResult::Ok;
        if (d.peerClosed(fd)) return d.lost();
        if (d.interrupted.load()) return SerialResult::Interrupted;
        if (deadline.passed()) return SerialResult::Timeout;
        const PollOutcome p = WaitOn(fd, quiet ? 0 : POLLIN, {d.interruptBell.fd()}, deadline.slice(kSliceMs));
        if (p.device & kGone) return d.lost();
        quiet = (p.device & POLLIN) != 0;
    }
}

SerialResult SerialDevice::writeAsync(const void* buf, size_t n, size_t& transferred) {
    transferred = 0;
    Impl& d = *impl_;
    const int fd = d.fd.load();
    if (fd < 0 || !d.overlapped.load() || (buf == nullptr && n != 0)) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
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
    const int fd = d.fd.load();
    if (fd < 0) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
    const Deadline deadline = Deadline::forWait(timeoutMs);
    for (;;) {
        size_t left = 0;
        if (!d.pump(fd, left)) return d.lost();
        if (left == 0) return SerialResult::Ok;
        if (d.interrupted.load()) return SerialResult::Interrupted;
        if (deadline.passed()) return SerialResult::Timeout;
        const PollOutcome p = WaitOn(fd, POLLOUT, {d.interruptBell.fd()}, deadline.slice(kSliceMs));
        if (p.device & kGone) return d.lost();
    }
}

size_t SerialDevice::pendingWriteBytes() const {
    std::lock_guard<std::mutex> lock(impl_->txMutex);
    return impl_->pendingLocked();
}

// --- events ---

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
    const int fd = d.fd.load();
    if (fd < 0) return SerialResult::InvalidArgument;
    if (d.gone.load()) return SerialResult::Removed;
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

// --- free functions ---

const char* DescribeResult(SerialResult r) {
    switch (r) {
        case SerialResult::Ok: return "success";
        case SerialResult::InvalidArgument: return "invalid request or port not open";
        case SerialResult::NotFound: return "no such device";
        case SerialResult::AccessDenied: return "permission denied";
        case SerialResult::Busy: return "device busy: another program holds it";
        case SerialResult::IoError: return "input/output error: the device failed";
        case SerialResult::Removed: return "the device was removed";
        case SerialResult::Timeout: return "timed out";
        case SerialResult::Unsupported: return "not supported by the device";
        case SerialResult::Pending: return "operation still in progress";
        case SerialResult::Interrupted: return "interrupted";
    }
    return "unknown error";
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
