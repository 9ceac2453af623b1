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
#include "platform/serial_device_posix.h"

#include "platform/device_open_posix.h"

#include <sys/file.h>
#include <sys/socket.h>

#include <memory>

namespace pellory::platform {

using namespace detail;  // the helpers of serial_device_posix.h

// --- the device ---

void SerialDevice::Impl::resetState() {
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

}  // namespace pellory::platform
