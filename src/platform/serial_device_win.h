// The Windows serial device's shared parts (platform-internal): its state and the helpers its
// files share. The device is spread over two files:
//  - serial_device_win.cpp: opening and closing (COM ports through CreateFileW, network printers
//    through device_open_win.cpp), the line settings (the DCB), time-outs, modem lines, error
//    and queue counts, purging;
//  - serial_io_win.cpp: the bounded reads, writes and waits, the overlapped-style calls, the
//    line events and interruption.
// A COM port is always opened for overlapped I/O: every wait watches the operation's event and
// the device's interrupt event together, so interrupt() ends it at once (the operation is then
// cancelled with CancelIoEx). Its reads, writes and line events are the driver's own
// (SetCommTimeouts, WaitCommEvent). A network printer's socket is non-blocking and emulates the
// Windows-shaped records as the POSIX device does: its waits are WSAPoll() slices that look at
// the interrupt between them.
#pragma once

// winsock2.h goes before windows.h.
#include <winsock2.h>
//
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_device.h"

namespace pellory::platform::detail {

constexpr DWORD kSliceMs = 20;  // longest single wait of a polled step (a socket, a queue drain)

// An error of a device that went away (unplugged, its driver gone) or takes no more (full), as
// opposed to a failed call.
inline bool DeviceGone(DWORD e) {
    return e == ERROR_BAD_COMMAND || e == ERROR_GEN_FAILURE || e == ERROR_DEVICE_REMOVED ||
           e == ERROR_DEVICE_NOT_CONNECTED || e == ERROR_INVALID_HANDLE || e == ERROR_FILE_NOT_FOUND ||
           e == ERROR_ACCESS_DENIED || e == ERROR_NOT_READY || e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL;
}

// An error of a request the port does not implement (the modem lines of a virtual port).
inline bool NotImplemented(DWORD e) {
    return e == ERROR_NOT_SUPPORTED || e == ERROR_INVALID_FUNCTION || e == ERROR_CALL_NOT_IMPLEMENTED;
}

// A socket error that means the connection is gone.
inline bool ConnectionGone(int e) {
    return e == WSAECONNRESET || e == WSAECONNABORTED || e == WSAENETRESET || e == WSAESHUTDOWN || e == WSAENOTCONN ||
           e == WSAENETDOWN || e == WSAETIMEDOUT;
}

// An event object that closes itself.
class Event {
public:
    explicit Event(bool manualReset) : h_(::CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}
    ~Event() {
        if (h_) ::CloseHandle(h_);
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

// A transfer that its time-outs ended: Windows completes it with the bytes it moved, Wine
// reports ERROR_TIMEOUT beside them. Either way the bytes moved are the result.
inline bool EndedByTimeouts(DWORD e) { return e == ERROR_TIMEOUT || e == WAIT_TIMEOUT; }

// How an overlapped operation ended.
enum class IoEnd { Done, TimedOut, Interrupted, Other, Failed };

// Waits at most ms (INFINITE: no limit) for the operation of ov on h, and for the interrupt
// event and other (when set); when one of those or the time ends the wait first, the operation
// is cancelled. moved gets what it moved all the same, error the failure's code.
IoEnd FinishIo(HANDLE h, OVERLAPPED& ov, DWORD ms, HANDLE interrupt, HANDLE other, DWORD& moved, DWORD& error);

// The line errors of ClearCommError's error word, as kErr* bits.
constexpr uint32_t kLineErrorBits = kErrRxOver | kErrOverrun | kErrParity | kErrFrame | kErrBreak;

// The modem lines of a device without them (a socket, a virtual COM port): CTS and DSR on, or
// what an emulator set for its path (SetEmulatedModemLines).
uint32_t LinesWithoutModem(const std::string& path);

}  // namespace pellory::platform::detail

namespace pellory::platform {

struct SerialDevice::Impl {
    HANDLE port = INVALID_HANDLE_VALUE;  // a COM port
    SOCKET socket = INVALID_SOCKET;      // a network printer
    std::atomic<bool> opened{false};
    std::atomic<bool> overlapped{false};
    std::string path;
    DeviceKind kind = DeviceKind::Terminal;
    std::string openReason;

    detail::Event interruptEvent{true};  // set by interrupt(), reset by clearInterrupt()
    detail::Event maskEvent{false};      // set by setEventMask(), ends a wait of waitEvent()
    std::atomic<bool> interrupted{false};
    std::atomic<uint32_t> eventMask{0};
    std::atomic<uint32_t> maskGeneration{0};
    std::atomic<uint32_t> rxAbort{0};
    std::atomic<uint32_t> txAbort{0};
    std::atomic<bool> txHeld{false};  // a socket's written output, kEvTxEmpty still owed
    std::atomic<bool> gone{false};
    std::atomic<int> lossError{0};

    bool isPort() const { return kind == DeviceKind::Terminal; }

    // The open-port check every operation starts with (see the POSIX device).
    SerialResult openPort(bool requestValid = true) const {
        if (!opened.load() || !requestValid) return SerialResult::InvalidArgument;
        return gone.load() ? SerialResult::Removed : SerialResult::Ok;
    }

    // error: an errno that tells why (ENOSPC: the device is full, EIO), as the POSIX device keeps
    // it for lossError(); 0 when the device hung up.
    SerialResult lost(int error = 0) {
        if (error != 0) {
            int none = 0;
            lossError.compare_exchange_strong(none, error);
        }
        gone.store(true);
        return SerialResult::Removed;
    }

    // What a failed call on the COM port reports: Removed when the port went away.
    SerialResult failed(DWORD error) {
        if (!detail::DeviceGone(error)) return SerialResult::IoError;
        return lost(error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? ENOSPC : EIO);
    }

    // The COM port as open() found it, put back by close().
    DCB foundState{};
    COMMTIMEOUTS foundTimeouts{};
    bool haveFound = false;

    mutable std::mutex stateMutex;
    bool haveShadow = false;
    LineSettings shadow;
    Timeouts timeouts;
    uint32_t socketModemBase = 0;  // a socket's (emulated) modem lines at the last event sample
    uint32_t rxReported = 0;       // a socket's input count last reported as kEvRxChar
    // Line errors that a look at a COM port's queue counts took from the driver (ClearCommError
    // reads both at once), kept for the next clearError or takeLineErrors.
    std::atomic<uint32_t> heldErrors{0};

    // Output queued by writeAsync.
    mutable std::mutex txMutex;
    std::vector<uint8_t> pending;
    size_t pendingOff = 0;
    size_t pendingLocked() const { return pending.size() - pendingOff; }
    void dropPending() {
        std::lock_guard<std::mutex> lock(txMutex);
        pending.clear();
        pending.shrink_to_fit();
        pendingOff = 0;
    }

    // One write of what the device takes at once: a socket's non-blocking send, a COM port's
    // overlapped write that is cancelled when it does not end at once. false when the device
    // failed (the result is then in failure).
    bool writeSome(const uint8_t* data, size_t n, size_t& moved, SerialResult& failure);
    // Writes queued output while the device takes it at once. false when the device failed.
    bool pumpLocked(SerialResult& failure);
    // One overlapped transfer on a COM port, waiting at most ms (INFINITE: until the driver's
    // time-outs end it). moved gets what it moved; the result is Ok, Interrupted (nothing moved
    // and interrupt() ended it) or the failure.
    SerialResult transfer(bool reading, void* buf, size_t n, DWORD ms, size_t& moved);
    // Bytes waiting to be read. false when the device failed.
    bool inputQueued(uint32_t& count, SerialResult& failure);

    Timeouts currentTimeouts() const {
        std::lock_guard<std::mutex> lock(stateMutex);
        return timeouts;
    }

    void resetState();
};

}  // namespace pellory::platform
