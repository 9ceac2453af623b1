// The POSIX serial device: the terminal settings of its line (see serial_device_posix.h).
#include "platform/serial_device_posix.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/line_rate.h"
#include "platform/serial_settings.h"

namespace pellory::platform {

namespace detail {

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

}  // namespace detail

using namespace detail;  // the helpers of serial_device_posix.h

namespace {

#if defined(CMSPAR)
constexpr tcflag_t kMarkSpace = CMSPAR;  // "parity bit fixed": mark with PARODD, space without
#else
constexpr tcflag_t kMarkSpace = 0;  // not offered: mark and space parity are Unsupported
#endif

// --- baud rates ---

// The line's rate, 0 when it tells none.
uint32_t ReadRate(int fd, const termios& t) { return LineRate(fd, t).value_or(0); }

// Whether the rate the driver reports is close enough to the one asked for (drivers round to
// what their clock divides to; a UART tolerates about 2 %).
bool RateAccepted(uint32_t asked, uint32_t actual) {
    const uint64_t diff = asked > actual ? asked - actual : actual - asked;
    return diff * 50 <= asked;
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

// --- settings ---

SerialResult SerialDevice::getLineSettings(LineSettings& out) {
    Impl& d = *impl_;
    int fd = -1;
    if (const SerialResult r = d.openPort(fd); r != SerialResult::Ok) return r;
    if (!d.hasTermios()) {
        // No line to describe: the record last set, or 9600 8N1 with DTR and RTS on.
        std::lock_guard<std::mutex> lock(d.stateMutex);
        if (d.haveShadow) {
            out = d.shadow;
        } else {
            out = LinelessSettings();
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
    int fd = -1;
    if (const SerialResult r = d.openPort(fd); r != SerialResult::Ok) return r;
    const uint32_t dtr = (in.flags & kFlagDtrControlMask) >> kDtrControlShift;
    const uint32_t rts = (in.flags & kFlagRtsControlMask) >> kRtsControlShift;
    if (!LineSettingsValid(in)) return SerialResult::InvalidArgument;
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

}  // namespace pellory::platform
