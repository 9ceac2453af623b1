// The POSIX serial device's shared parts (platform-internal): its state, the open-port check
// and the helpers that its files share. The device is spread over four files along its seams:
//  - serial_device_posix.cpp: opening and closing each kind of device (device_open_posix.cpp
//    makes the descriptor);
//  - serial_waits_posix.cpp: the bounded reads, writes and waits, the overlapped-style calls,
//    the line events and interruption;
//  - serial_line_posix.cpp: the terminal settings (termios and the baud rate) and time-outs;
//  - serial_modem_posix.cpp: the modem lines (real and emulated), the driver's error counters,
//    queue counts and purging.
#pragma once

#include "platform/serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/eventfd.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "platform/termios2_posix.h"

namespace pellory::platform::detail {

constexpr int kSliceMs = 50;        // longest single poll()
constexpr int kTxSliceMs = 20;      // poll() while output drains (nothing wakes us when it ends)
constexpr int kEnoIoctlCmd = 515;   // the kernel's "no such ioctl" when it leaks to user space
constexpr uint64_t kLongestWaitMs = uint64_t{1} << 40;  // caps computed totals (~35 years)
constexpr short kGone = POLLHUP | POLLERR | POLLNVAL;

// An errno that means the device itself is gone or broken (as opposed to "this device has no
// such feature").
inline bool DeviceFailed(int e) { return e == EIO || e == ENXIO || e == ENODEV || e == EBADF || e == EPIPE; }

// An errno of a request the device does not implement (a pseudo-terminal's modem lines).
inline bool NotImplemented(int e) { return e == ENOTTY || e == EINVAL || e == kEnoIoctlCmd || e == EOPNOTSUPP; }

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

PollOutcome WaitOn(int fd, short events, std::initializer_list<int> bells, int ms);

// The device's poll state without waiting.
short Peek(int fd);

// Queue counts. false when the device failed; a device without the request reports 0.
bool QueueCount(int fd, unsigned long request, uint32_t& out);

// Modem lines as kModem* bits. A device without modem lines reports CTS and DSR on (has=false),
// or what an emulator set for its path.
bool ReadModem(int fd, const std::string& path, uint32_t& bits, bool& has);

// Sets or clears one output line; a device without modem lines is not an error.
bool SetLine(int fd, int line, bool on);

// The driver's error counters (Linux serial drivers; pseudo-terminals have none).
struct ErrorCounts {
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};

bool ReadCounts(int fd, ErrorCounts& c);

uint32_t ErrorBits(const ErrorCounts& before, const ErrorCounts& now);

// The termios record of the line, with the rate, a way to put it back, and a setter.
struct LineState {
    termios t{};
#if PELLORY_HAVE_TERMIOS2
    KernelTermios2 k{};
    bool haveK = false;
#endif
};

bool ReadLineState(int fd, LineState& s);

void RestoreLineState(int fd, const LineState& s);

}  // namespace pellory::platform::detail

namespace pellory::platform {

struct SerialDevice::Impl {
    std::atomic<int> fd{-1};
    std::atomic<bool> overlapped{false};
    std::string path;

    detail::Doorbell interruptBell;  // rung by interrupt(), drained by clearInterrupt()
    detail::Doorbell maskBell;       // rung by setEventMask(), drained by waitEvent()
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

    // The open-port check every operation on the device starts with: Ok with the descriptor in
    // d, or what the operation reports at once: InvalidArgument when the device is not open or
    // the request is not valid, Removed when the device went away.
    SerialResult openPort(int& d, bool requestValid = true) const {
        d = fd.load();
        if (d < 0 || !requestValid) return SerialResult::InvalidArgument;
        return gone.load() ? SerialResult::Removed : SerialResult::Ok;
    }

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
    detail::LineState found;
    bool haveFound = false;

    // Settings and event bookkeeping.
    mutable std::mutex stateMutex;
    bool haveShadow = false;
    LineSettings shadow;    // the record last set
    LineSettings snapshot;  // what termios showed right after it was set
    Timeouts timeouts;
    bool haveCounts = false;
    detail::ErrorCounts errorBase;  // clearError's reference
    detail::ErrorCounts eventBase;  // waitEvent's reference
    uint32_t modemBase = 0;
    uint32_t rxReported = 0;  // input count last reported as kEvRxChar (0: nothing owed)

    // Output queued by writeAsync, and the write side of the descriptor.
    mutable std::mutex txMutex;
    std::vector<uint8_t> pending;
    size_t pendingOff = 0;

    size_t pendingLocked() const { return pending.size() - pendingOff; }

    // Writes queued output while the kernel takes it. false when the device failed.
    bool pumpLocked(int d);

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

    // Waits for what look tells at each look, within timeoutMs (serial_waits_posix.cpp).
    template <typename Look>
    SerialResult waitUntil(int d, uint32_t timeoutMs, Look look);

    // The line errors (kErr* bits) since the last time they were taken, from the driver's
    // counters as they are now; the first counts taken are the start for the line events too.
    uint32_t takeErrors(const detail::ErrorCounts& now);

    // Samples the line and returns the events of mask that happened since the last sample.
    // false when the device failed. rxQueued tells whether input waits to be read.
    bool sampleEvents(int d, uint32_t mask, uint32_t& events, bool& rxQueued);

    void resetState();
};

}  // namespace pellory::platform
