// Serial devices on Windows (see serial_device_win.h): opening and closing, the line settings,
// time-outs, modem lines, error and queue counts, purging.
//
// Names: "COMn" and "\\.\COMn" open COM port n (a name of any other form is not a COM port);
// "tcp://HOST[:PORT]" connects to a network printer. Windows has no printer device files: a
// USB printer there is reached through the COM port its adapter offers or its network address,
// a parallel port (LPTn) not at all; such names report Unsupported with the reason.
#include "platform/serial_device_win.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/decimal_text.h"
#include "platform/device_open_win.h"
#include "platform/serial_settings.h"
#include "platform/win_text.h"

namespace pellory::platform {

using namespace detail;

namespace {

// Modem lines that an emulator at the far end of a line without modem lines stands for.
std::mutex gEmulatedMutex;
std::map<std::string, uint32_t>& EmulatedLines() {
    static std::map<std::string, uint32_t> lines;
    return lines;
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The number of "COMn" or "\\.\COMn"; nothing for another name.
std::optional<int32_t> ComPortNumber(std::string_view path) {
    constexpr std::string_view kDevicePrefix = "\\\\.\\";
    if (path.substr(0, kDevicePrefix.size()) == kDevicePrefix) path.remove_prefix(kDevicePrefix.size());
    if (path.size() <= 3 || !SameLetters(path.substr(0, 3), "com")) return std::nullopt;
    const std::optional<int32_t> n = ReadDigits(path.substr(3), 4);
    if (!n || *n < 1) return std::nullopt;
    return n;
}

// What a name that is no COM port and no network address stands for, and why it cannot open.
std::string NoDeviceFileReason(std::string_view path) {
    if (path.size() > 3 && SameLetters(path.substr(0, 3), "lpt")) {
        return "Windows offers no parallel port to open: use the printer's COM port or its network address "
               "(tcp://HOST[:PORT])";
    }
    return "not a COM port (COMn, \\\\.\\COMn) or a network printer (tcp://HOST[:PORT]): Windows has no device "
           "files (no pseudo-terminals, no USB printer class files), a USB printer is reached through its COM port "
           "or its network address";
}

SerialResult MapOpenError(DWORD e) {
    switch (e) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_UNIT:
            return SerialResult::NotFound;
        case ERROR_ACCESS_DENIED:  // a COM port is exclusive: another program holds it
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return SerialResult::Busy;
        default:
            return SerialResult::IoError;
    }
}

// The line-settings record of a DCB, and back (the record mirrors the DCB).
LineSettings FromDcb(const DCB& dcb) {
    LineSettings s;
    s.baudRate = dcb.BaudRate;
    s.byteSize = dcb.ByteSize;
    s.parity = dcb.Parity;
    s.stopBits = dcb.StopBits;
    s.xonChar = dcb.XonChar;
    s.xoffChar = dcb.XoffChar;
    uint32_t f = 0;
    if (dcb.fBinary) f |= kFlagBinary;
    if (dcb.fParity) f |= kFlagParity;
    if (dcb.fOutxCtsFlow) f |= kFlagOutxCtsFlow;
    if (dcb.fOutxDsrFlow) f |= kFlagOutxDsrFlow;
    f |= (static_cast<uint32_t>(dcb.fDtrControl) << kDtrControlShift) & kFlagDtrControlMask;
    if (dcb.fDsrSensitivity) f |= kFlagDsrSensitivity;
    if (dcb.fTXContinueOnXoff) f |= kFlagTxContinueOnXoff;
    if (dcb.fOutX) f |= kFlagOutX;
    if (dcb.fInX) f |= kFlagInX;
    if (dcb.fErrorChar) f |= kFlagErrorChar;
    if (dcb.fNull) f |= kFlagNull;
    f |= (static_cast<uint32_t>(dcb.fRtsControl) << kRtsControlShift) & kFlagRtsControlMask;
    if (dcb.fAbortOnError) f |= kFlagAbortOnError;
    s.flags = f;
    return s;
}

void ToDcb(const LineSettings& s, DCB& dcb) {
    dcb.BaudRate = s.baudRate;
    dcb.ByteSize = s.byteSize;
    dcb.Parity = s.parity;
    dcb.StopBits = s.stopBits;
    dcb.XonChar = s.xonChar;
    dcb.XoffChar = s.xoffChar;
    const uint32_t f = s.flags;
    dcb.fBinary = TRUE;  // Windows supports binary mode only
    dcb.fParity = (f & kFlagParity) ? 1 : 0;
    dcb.fOutxCtsFlow = (f & kFlagOutxCtsFlow) ? 1 : 0;
    dcb.fOutxDsrFlow = (f & kFlagOutxDsrFlow) ? 1 : 0;
    dcb.fDtrControl = (f & kFlagDtrControlMask) >> kDtrControlShift;
    dcb.fDsrSensitivity = (f & kFlagDsrSensitivity) ? 1 : 0;
    dcb.fTXContinueOnXoff = (f & kFlagTxContinueOnXoff) ? 1 : 0;
    dcb.fOutX = (f & kFlagOutX) ? 1 : 0;
    dcb.fInX = (f & kFlagInX) ? 1 : 0;
    dcb.fErrorChar = (f & kFlagErrorChar) ? 1 : 0;
    dcb.fNull = (f & kFlagNull) ? 1 : 0;
    dcb.fRtsControl = (f & kFlagRtsControlMask) >> kRtsControlShift;
    dcb.fAbortOnError = (f & kFlagAbortOnError) ? 1 : 0;
}

COMMTIMEOUTS ToCommTimeouts(const Timeouts& t) {
    COMMTIMEOUTS c{};
    c.ReadIntervalTimeout = t.readInterval;
    c.ReadTotalTimeoutMultiplier = t.readMultiplier;
    c.ReadTotalTimeoutConstant = t.readConstant;
    c.WriteTotalTimeoutMultiplier = t.writeMultiplier;
    c.WriteTotalTimeoutConstant = t.writeConstant;
    return c;
}

// The driver's queues when a COM port opens, in bytes.
constexpr DWORD kQueueBytes = 4096;

}  // namespace

// --- the device ---

void SerialDevice::Impl::resetState() {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        haveShadow = false;
        shadow = LineSettings{};
        timeouts = Timeouts{};
        socketModemBase = 0;
        rxReported = 0;
    }
    heldErrors.store(0);
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
    if (IsNetworkEntry(path)) {
        const OpenedSocket opened = ConnectNetwork(path, kConnectTimeoutMs);
        if (opened.result != SerialResult::Ok) {
            d.openReason = opened.reason;
            return opened.result;
        }
        d.resetState();
        d.socket = opened.socket;
        d.kind = DeviceKind::Network;
        d.socketModemBase = LinesWithoutModem(path);
    } else {
        const std::optional<int32_t> number = ComPortNumber(path);
        if (!number) {
            d.openReason = NoDeviceFileReason(path);
            return SerialResult::Unsupported;
        }
        const std::wstring device = L"\\\\.\\COM" + std::to_wstring(*number);
        HANDLE h = ::CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) return MapOpenError(::GetLastError());
        d.resetState();
        d.foundState.DCBlength = sizeof(DCB);
        d.haveFound = ::GetCommState(h, &d.foundState) && ::GetCommTimeouts(h, &d.foundTimeouts);
        ::SetupComm(h, kQueueBytes, kQueueBytes);
        // No time-outs at first (reads and writes wait until done), no events, no stale errors.
        COMMTIMEOUTS none{};
        ::SetCommTimeouts(h, &none);
        ::SetCommMask(h, 0);
        DWORD errors = 0;
        ::ClearCommError(h, &errors, nullptr);
        d.port = h;
        d.kind = DeviceKind::Terminal;
    }
    d.path = path;
    d.overlapped.store(overlapped);
    d.opened.store(true);
    return SerialResult::Ok;
}

void SerialDevice::close() {
    Impl& d = *impl_;
    if (!d.opened.exchange(false)) return;
    if (d.port != INVALID_HANDLE_VALUE) {
        // Output the driver still holds is dropped, so that closing never waits on a stalled
        // line. Only then: a port whose bytes are already with the far end (Wine's port on a
        // pseudo-terminal reports none queued) would otherwise lose what the far end has not
        // read yet. The line settings go back to what open() found.
        DWORD errors = 0;
        COMSTAT stat{};
        if (::ClearCommError(d.port, &errors, &stat) && stat.cbOutQue > 0) {
            ::PurgeComm(d.port, PURGE_TXABORT | PURGE_TXCLEAR);
        }
        if (d.haveFound) {
            ::SetCommState(d.port, &d.foundState);
            ::SetCommTimeouts(d.port, &d.foundTimeouts);
        }
        ::CloseHandle(d.port);
        d.port = INVALID_HANDLE_VALUE;
    }
    d.haveFound = false;
    if (d.socket != INVALID_SOCKET) {
        // Output still held must not reach the printer after this: the connection is reset.
        size_t held = 0;
        {
            std::lock_guard<std::mutex> lock(d.txMutex);
            held = d.pendingLocked();
        }
        if (held > 0) {
            const linger abort{1, 0};
            ::setsockopt(d.socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
        }
        ::closesocket(d.socket);
        d.socket = INVALID_SOCKET;
    }
    d.resetState();
}

bool SerialDevice::isOpen() const { return impl_->opened.load(); }
bool SerialDevice::isOverlapped() const { return impl_->overlapped.load(); }
const std::string& SerialDevice::path() const { return impl_->path; }
DeviceKind SerialDevice::kind() const { return impl_->kind; }
const std::string& SerialDevice::openFailureReason() const { return impl_->openReason; }
int SerialDevice::lossError() const { return impl_->lossError.load(); }

int SerialDevice::nativeHandle() const {
    const Impl& d = *impl_;
    if (!d.opened.load()) return -1;
    if (d.port != INVALID_HANDLE_VALUE) return static_cast<int>(reinterpret_cast<intptr_t>(d.port));
    return static_cast<int>(d.socket);
}

// --- settings ---

SerialResult SerialDevice::getLineSettings(LineSettings& out) {
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(); r != SerialResult::Ok) return r;
    if (!d.isPort()) {
        std::lock_guard<std::mutex> lock(d.stateMutex);
        out = d.haveShadow ? d.shadow : LinelessSettings();
        return SerialResult::Ok;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(d.port, &dcb)) return d.failed(::GetLastError());
    out = FromDcb(dcb);
    return SerialResult::Ok;
}

SerialResult SerialDevice::setLineSettings(const LineSettings& in) {
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(); r != SerialResult::Ok) return r;
    if (!LineSettingsValid(in)) return SerialResult::InvalidArgument;
    if (d.isPort()) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(d.port, &dcb)) return d.failed(::GetLastError());
        const DCB before = dcb;
        ToDcb(in, dcb);
        if (!::SetCommState(d.port, &dcb)) {
            const DWORD e = ::GetLastError();
            if (e != ERROR_INVALID_PARAMETER && e != ERROR_NOT_SUPPORTED) return d.failed(e);
            DCB keep = before;
            ::SetCommState(d.port, &keep);  // the line keeps its previous settings
            return SerialResult::Unsupported;
        }
    }
    std::lock_guard<std::mutex> lock(d.stateMutex);
    d.shadow = in;
    d.haveShadow = true;
    return SerialResult::Ok;
}

SerialResult SerialDevice::setQueueSizes(uint32_t in, uint32_t out) {
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(); r != SerialResult::Ok) return r;
    if (d.isPort()) ::SetupComm(d.port, in, out);  // a hint the driver may round or ignore
    return SerialResult::Ok;
}

SerialResult SerialDevice::getTimeouts(Timeouts& out) {
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(); r != SerialResult::Ok) return r;
    out = d.currentTimeouts();
    return SerialResult::Ok;
}

SerialResult SerialDevice::setTimeouts(const Timeouts& in) {
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(); r != SerialResult::Ok) return r;
    if (d.isPort()) {
        COMMTIMEOUTS c = ToCommTimeouts(in);
        if (!::SetCommTimeouts(d.port, &c)) return d.failed(::GetLastError());
    }
    std::lock_guard<std::mutex> lock(d.stateMutex);
    d.timeouts = in;
    return SerialResult::Ok;
}

// --- queues, errors and modem lines ---

SerialResult SerialDevice::purge(uint32_t flags) {
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(flags <= 0xF); r != SerialResult::Ok) return r;
    if (flags & kPurgeRxAbort) d.rxAbort.fetch_add(1);
    if (flags & kPurgeTxAbort) {
        d.txAbort.fetch_add(1);
        d.dropPending();
    }
    if (d.isPort()) {
        if (!::PurgeComm(d.port, flags)) return d.failed(::GetLastError());
        return SerialResult::Ok;
    }
    if (flags & kPurgeTxClear) d.dropPending();
    if (flags & kPurgeRxClear) {
        // A socket's received bytes are dropped by reading them.
        char sink[512];
        while (::recv(d.socket, sink, sizeof sink, 0) > 0) {
        }
    }
    return SerialResult::Ok;
}

SerialResult SerialDevice::flush(uint32_t maxWaitMs) {
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(); r != SerialResult::Ok) return r;
    // One time limit for both: the bytes still queued here, then the driver's output queue.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxWaitMs);
    if (const SerialResult r = pumpPendingWrites(maxWaitMs); r != SerialResult::Ok) return r;
    if (!d.isPort()) return SerialResult::Ok;
    // The driver's output queue drains by itself; nothing tells when, so it is looked at.
    for (;;) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(d.port, &errors, &stat)) return d.failed(::GetLastError());
        d.heldErrors.fetch_or(errors & kLineErrorBits);
        if (stat.cbOutQue == 0) return SerialResult::Ok;
        if (maxWaitMs != kMaxDword && std::chrono::steady_clock::now() >= deadline) return SerialResult::Timeout;
        if (::WaitForSingleObject(d.interruptEvent.get(), kSliceMs) == WAIT_OBJECT_0) return SerialResult::Interrupted;
    }
}

SerialResult SerialDevice::clearError(CommStatus* status) {
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(); r != SerialResult::Ok) return r;
    CommStatus s;
    if (d.isPort()) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(d.port, &errors, &stat)) return d.failed(::GetLastError());
        s.errors = (errors & kLineErrorBits) | d.heldErrors.exchange(0);
        s.inQueue = stat.cbInQue;
        s.outQueue = stat.cbOutQue;
    } else {
        SerialResult failure = SerialResult::Ok;
        {
            std::lock_guard<std::mutex> lock(d.txMutex);
            if (!d.pumpLocked(failure)) return failure;
            s.outQueue = static_cast<uint32_t>(d.pendingLocked());
        }
        if (!d.inputQueued(s.inQueue, failure)) return failure;
    }
    if (status) *status = s;
    return SerialResult::Ok;
}

SerialResult SerialDevice::takeLineErrors(uint32_t& errors) {
    errors = 0;
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(); r != SerialResult::Ok) return r;
    if (!d.isPort()) return SerialResult::Ok;
    DWORD e = 0;
    if (!::ClearCommError(d.port, &e, nullptr)) return d.failed(::GetLastError());
    errors = (e & kLineErrorBits) | d.heldErrors.exchange(0);
    return SerialResult::Ok;
}

SerialResult SerialDevice::modemStatus(uint32_t& out) {
    out = 0;
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(); r != SerialResult::Ok) return r;
    if (d.isPort()) {
        DWORD bits = 0;
        if (::GetCommModemStatus(d.port, &bits)) {
            out = bits & (kModemCts | kModemDsr | kModemRing | kModemRlsd);
            return SerialResult::Ok;
        }
        const DWORD e = ::GetLastError();
        if (!NotImplemented(e)) return d.failed(e);
    }
    out = LinesWithoutModem(d.path);
    return SerialResult::Ok;
}

SerialResult SerialDevice::clearBreak() {
    Impl& d = *impl_;
    if (const SerialResult r = d.openPort(); r != SerialResult::Ok) return r;
    if (d.isPort() && !::ClearCommBreak(d.port)) {
        const DWORD e = ::GetLastError();
        if (!NotImplemented(e)) return d.failed(e);
    }
    return SerialResult::Ok;
}

namespace detail {

uint32_t LinesWithoutModem(const std::string& path) {
    std::lock_guard<std::mutex> lock(gEmulatedMutex);
    const auto it = EmulatedLines().find(path);
    return it != EmulatedLines().end() ? it->second : (kModemCts | kModemDsr);
}

}  // namespace detail

void SetEmulatedModemLines(const std::string& path, uint32_t bits) {
    std::lock_guard<std::mutex> lock(gEmulatedMutex);
    EmulatedLines()[path] = bits;
}

void ClearEmulatedModemLines(const std::string& path) {
    std::lock_guard<std::mutex> lock(gEmulatedMutex);
    EmulatedLines().erase(path);
}

}  // namespace pellory::platform
