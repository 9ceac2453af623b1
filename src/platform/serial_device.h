// Serial device contract of the platform layer.
//
// One SerialDevice is one open port of any kind (device_kind.h): a serial terminal (a UART, a
// USB adapter, a Bluetooth serial port or a pseudo-terminal), a printer device file, or a
// network printer. Every operation reports its outcome as a SerialResult; nothing throws across
// this boundary. The bounded reads, writes and waits, cancelling (interrupt, purge) and the
// event emulation are the same for every kind; the kinds differ in how they open
// (device_open_posix.cpp) and in what they have: line settings and modem lines belong to
// terminals only, and are accepted, kept and read back unchanged elsewhere, with the modem
// lines reading as on. The implementation for POSIX systems lives in serial_device_posix.cpp and
// the files beside it that serial_device_posix.h lists; another OS gets its own
// serial_device_<os>.cpp behind the same header.
//
// The records mirror what a Windows COM port offers (line settings with a flag word, a time-out
// record, error and queue counts, modem status bits, line events), so the link engine above is
// written once for every OS.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/device_kind.h"

namespace pellory::platform {

// Result codes. Ok is 0; every failure is negative.
enum class SerialResult : int {
    Ok = 0,
    InvalidArgument = -1,  // a null buffer, a bad setting, an operation on a closed device
    NotFound = -2,         // no such device (ENOENT, ENXIO, ENODEV)
    AccessDenied = -3,     // permission denied (EACCES, EPERM): not in the serial group
    Busy = -4,             // another program holds the device (TIOCEXCL, flock)
    IoError = -5,          // the device failed in another way
    Timeout = -6,          // a bounded wait ended without the awaited condition
    Unsupported = -7,      // the device or OS cannot do this (e.g. a baud rate it refuses)
    Pending = -8,          // overlapped-style: the operation continues in the background
    Interrupted = -9,      // interrupt() ended the wait
    Removed = -10,         // the open device went away: unplugged, hung up (EIO, ENXIO, POLLHUP)
};
// Once an open device reports Removed, every later call on it reports Removed at once, without
// touching the descriptor again; only close() (and a new open()) ends that state.

// Human-readable reason for a result, for messages ("busy", "permission denied", ...).
const char* DescribeResult(SerialResult r);

// Parity codes of the line-settings record.
enum : uint8_t { kParityNone = 0, kParityOdd = 1, kParityEven = 2, kParityMark = 3, kParitySpace = 4 };
// Stop-bit codes.
enum : uint8_t { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };

// Bits of LineSettings::flags (the bit layout of a Windows DCB flag word).
enum : uint32_t {
    kFlagBinary = 0x0001,
    kFlagParity = 0x0002,          // parity checking on input
    kFlagOutxCtsFlow = 0x0004,     // CTS output flow control
    kFlagOutxDsrFlow = 0x0008,     // DSR output flow control
    kFlagDtrControlMask = 0x0030,  // bits 4-5: 0 off, 1 on, 2 handshake
    kFlagDsrSensitivity = 0x0040,
    kFlagTxContinueOnXoff = 0x0080,
    kFlagOutX = 0x0100,            // XON/XOFF output flow control
    kFlagInX = 0x0200,             // XON/XOFF input flow control
    kFlagErrorChar = 0x0400,
    kFlagNull = 0x0800,
    kFlagRtsControlMask = 0x3000,  // bits 12-13: 0 off, 1 on, 2 handshake, 3 toggle
    kFlagAbortOnError = 0x4000,
};
constexpr uint32_t kDtrControlShift = 4;
constexpr uint32_t kRtsControlShift = 12;
// All flow-control bits together.
constexpr uint32_t kFlowControlBits = 0x333C;

struct LineSettings {
    uint32_t length = sizeof(LineSettings);  // record size, kept for parity with the Windows record
    uint32_t baudRate = 0;
    uint32_t flags = 0;
    uint8_t byteSize = 0;  // data bits, 5..8
    uint8_t parity = 0;    // kParity*
    uint8_t stopBits = 0;  // k*StopBit(s)
    char xonChar = 0;
    char xoffChar = 0;
    bool operator==(const LineSettings&) const = default;
};

// Windows time-out semantics, all in milliseconds:
//  read: a read of n bytes ends when n bytes arrived, when readInterval passes between two
//  bytes (0 = unused), or when readMultiplier * n + readConstant has passed since its start
//  (both 0 = no total limit). readInterval = MAXDWORD with both others 0 returns at once with
//  whatever is queued.
//  write: ends when written or after writeMultiplier * n + writeConstant (both 0 = no limit).
//  readInterval = readMultiplier = MAXDWORD with 0 < readConstant < MAXDWORD: returns at once
//  with what is queued; with nothing queued, returns as soon as one byte arrives or after
//  readConstant.
// A read or write that a time-out ends returns Ok with the bytes it moved (possibly none), like
// a Windows COM port; the caller compares transferred with n.
struct Timeouts {
    uint32_t readInterval = 0;
    uint32_t readMultiplier = 0;
    uint32_t readConstant = 0;
    uint32_t writeMultiplier = 0;
    uint32_t writeConstant = 0;
    bool operator==(const Timeouts&) const = default;
};
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

// Line error bits of CommStatus::errors.
enum : uint32_t { kErrRxOver = 0x0001, kErrOverrun = 0x0002, kErrParity = 0x0004, kErrFrame = 0x0008, kErrBreak = 0x0010 };

struct CommStatus {
    uint32_t errors = 0;    // kErr* bits found since the last query (then cleared)
    uint32_t inQueue = 0;   // bytes received and not yet read
    uint32_t outQueue = 0;  // bytes written and not yet transmitted
};

// Modem status bits.
enum : uint32_t { kModemCts = 0x10, kModemDsr = 0x20, kModemRing = 0x40, kModemRlsd = 0x80 };

// Purge bits.
enum : uint32_t { kPurgeTxAbort = 0x1, kPurgeRxAbort = 0x2, kPurgeTxClear = 0x4, kPurgeRxClear = 0x8 };

// Line events (event mask and waitEvent results).
enum : uint32_t {
    kEvRxChar = 0x001,
    kEvRxFlag = 0x002,
    kEvTxEmpty = 0x004,
    kEvCts = 0x008,
    kEvDsr = 0x010,
    kEvRlsd = 0x020,
    kEvBreak = 0x040,
    kEvErr = 0x080,
    kEvRing = 0x100,
};

class SerialDevice {
public:
    SerialDevice();
    ~SerialDevice();  // closes
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens path for exclusive read/write (O_NOCTTY, TIOCEXCL and an advisory flock) and puts
    // the line in raw mode. Busy when another program (or another SerialDevice) holds it;
    // Unsupported when path is not a terminal. overlapped selects the overlapped-style
    // operations below; the plain ones work in both modes. An open device is closed first.
    // A path that is not a terminal opens as a printer device file (Unsupported no longer);
    // "tcp://HOST[:PORT]" connects within kConnectTimeoutMs. When it fails,
    // openFailureReason() tells why where the result alone does not (connection refused by
    // ADDRESS, unknown host NAME, ...). A stop of the program requested while a network printer's
    // name is looked up or its connection is made (platform/stop_request.h) ends the opening
    // within a few milliseconds with Interrupted.
    SerialResult open(const std::string& path, bool overlapped);
    const std::string& openFailureReason() const;
    DeviceKind kind() const;  // of the open device (of the last one after close)
    // Closes the device. Output still queued (kernel queue and pending async bytes) is
    // discarded so that closing never waits on a stalled line: flush() first to keep it. A
    // network printer's connection is reset when output is still queued, so that none of it
    // reaches the printer afterwards (its socket holds little unsent data to begin with).
    // The line settings open() found are put back, the exclusive mode and the lock released.
    // No other thread may be inside a call on this device while it closes.
    void close();
    bool isOpen() const;
    bool isOverlapped() const;
    const std::string& path() const;

    // getLineSettings returns the record last set, with every value that was changed on the
    // terminal since (by another program) taken from the terminal; fields without a terminal
    // equivalent (DSR flow, TxContinueOnXoff, the error and null bits, 1.5 stop bits which the
    // line runs as 2) round-trip unchanged. Before any set it describes the terminal.
    SerialResult getLineSettings(LineSettings& out);
    // InvalidArgument for byteSize outside 5..8, parity > 4, stopBits > 2, baud 0, DTR control 3,
    // or equal XON/XOFF characters with XON/XOFF flow on. Unsupported for a rate the OS or
    // driver refuses, or mark/space parity where termios lacks it (the line then keeps its
    // previous settings).
    SerialResult setLineSettings(const LineSettings& in);
    SerialResult setQueueSizes(uint32_t in, uint32_t out);  // accepted; may be a no-op
    SerialResult getTimeouts(Timeouts& out);
    SerialResult setTimeouts(const Timeouts& in);
    // kPurge* bits. The aborts end reads and writes in progress (and drop the bytes writeAsync
    // still holds); the clears empty the driver's input or output queue. A pseudo-terminal has
    // no transmitter: its written bytes are already with the far end and are not taken back.
    SerialResult purge(uint32_t flags);
    SerialResult flush(uint32_t maxWaitMs = 5000);           // wait until the output queue is empty
    SerialResult clearError(CommStatus* status);             // reads and clears; status may be null
    // Reads and clears only the line error bits (what clearError reports as errors), without
    // the queue counts: the cheap check before each read and write.
    SerialResult takeLineErrors(uint32_t& errors);
    SerialResult modemStatus(uint32_t& out);                 // a device without modem lines: CTS|DSR
    SerialResult clearBreak();

    // Plain read/write with the time-out semantics above. Both are bounded by the time-outs and
    // end early (with what they have) on interrupt(). transferred is always set.
    SerialResult read(void* buf, size_t n, size_t& transferred);
    SerialResult write(const void* buf, size_t n, size_t& transferred);
    // One write attempt that never waits: what the device takes at once (possibly nothing),
    // after the bytes writeAsync queued. Ok with transferred set, or Removed / an error.
    SerialResult writeNow(const void* buf, size_t n, size_t& transferred);

    // Overlapped-style operations. readAsync and writeAsync need overlapped mode
    // (InvalidArgument otherwise); the other three work in both modes.
    // readAsync: reads what is there at once; Pending when nothing was there (then waitReadable
    // tells when a further readAsync finds bytes). writeAsync: writes what it can at once and
    // keeps a copy of the rest queued in the device (the caller's buffer is free on return), to
    // be written by later calls (writeAsync, write, waitEvent, clearError, pumpPendingWrites,
    // flush) in order, before any later write; Pending while bytes of it stay queued.
    // transferred counts what went out at once.
    // Wait times of kMaxDword mean no limit (interrupt() still ends the wait).
    SerialResult readAsync(void* buf, size_t n, size_t& transferred);
    SerialResult waitReadable(uint32_t timeoutMs);  // Ok when bytes can be read, Timeout, Interrupted
    SerialResult writeAsync(const void* buf, size_t n, size_t& transferred);
    SerialResult pumpPendingWrites(uint32_t timeoutMs);  // Ok when nothing stays queued
    size_t pendingWriteBytes() const;

    // Line events. setEventMask replaces the mask and ends a wait in progress (it then returns
    // Ok with events 0). waitEvent waits at most timeoutMs (kMaxDword: no limit) for an event of
    // the mask; InvalidArgument when the mask is 0. Events are remembered between waits: a
    // change that happened while no wait ran is reported by the next wait. kEvRxChar is
    // reported while input is queued, once per arrival (bytes already reported and still unread
    // are reported again only after a read); kEvTxEmpty once each time written output has gone;
    // kEvRxFlag is never reported (the record has no event character).
    SerialResult setEventMask(uint32_t mask);
    SerialResult getEventMask(uint32_t& out);
    SerialResult waitEvent(uint32_t& events, uint32_t timeoutMs);

    // Wakes every blocking call on this device now and until clearInterrupt(): they return at
    // once with what they have (Interrupted if nothing). Safe from any thread.
    void interrupt();
    void clearInterrupt();

    // Native descriptor, for tests and diagnostics (-1 when closed).
    int nativeHandle() const;
    // Why the open device reports Removed when a read or write failed with an error (ENOSPC: the
    // device is full, EIO, ...); 0 when it hung up, was never lost, or after close().
    int lossError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A line without modem lines (a pseudo-terminal) reads its lines as CTS and DSR on. An emulator
// at its far end (the virtual printer) may stand for other lines: modemStatus and the line
// events of every device opened at path then report these bits instead.
void SetEmulatedModemLines(const std::string& path, uint32_t bits);
void ClearEmulatedModemLines(const std::string& path);

// Whether the current process may open path (for hints: AccessDenied with a group to join).
// Returns the name of the group that owns the device, or an empty string.
std::string DeviceGroup(const std::string& path);

}  // namespace pellory::platform
