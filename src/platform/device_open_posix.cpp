// Opening terminals, printer device files and network printers.
#include "platform/device_open_posix.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace pellory::platform {

namespace {

std::mutex& LookupHookMutex() {
    static std::mutex m;
    return m;
}

NameLookupHook& LookupHook() {
    static NameLookupHook hook;
    return hook;
}

}  // namespace

void SetNameLookupHook(NameLookupHook hook) {
    std::lock_guard<std::mutex> lock(LookupHookMutex());
    LookupHook() = std::move(hook);
}

}  // namespace pellory::platform

namespace pellory::platform::detail {

namespace {

using Clock = std::chrono::steady_clock;

SerialResult MapOpenErrno(int e) {
    switch (e) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ENOTDIR: return SerialResult::NotFound;
        case EACCES:
        case EPERM:
        case EROFS: return SerialResult::AccessDenied;
        case EBUSY: return SerialResult::Busy;
        default: return SerialResult::IoError;
    }
}

bool NotATerminal(int e) { return e == ENOTTY || e == EINVAL || e == EOPNOTSUPP; }

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

// --- name resolution on a helper thread ---

// What a lookup hands back; shared by the asking thread and the helper, freed by the last.
struct Lookup {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    int status = 0;
    addrinfo* result = nullptr;
    ~Lookup() {
        if (result) ::freeaddrinfo(result);
    }
};

// Resolves host and port within timeoutMs. The helper thread ends by itself when the name
// service answers (its own time-outs bound that); a caller that stopped waiting has left it the
// result to free.
int Resolve(const NetworkAddress& a, int timeoutMs, addrinfo*& out, bool& timedOut) {
    out = nullptr;
    timedOut = false;
    auto lookup = std::make_shared<Lookup>();
    const std::string host = a.host;
    const std::string service = std::to_string(a.port);
    NameLookupHook hook;
    {
        std::lock_guard<std::mutex> lock(LookupHookMutex());
        hook = LookupHook();
    }
    try {
        std::thread([lookup, host, service, hook = std::move(hook)] {
            if (hook) hook(host);
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
            addrinfo* found = nullptr;
            const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
            std::lock_guard<std::mutex> lock(lookup->m);
            lookup->status = status;
            lookup->result = found;
            lookup->done = true;
            lookup->cv.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return EAI_AGAIN;
    }
    std::unique_lock<std::mutex> lock(lookup->m);
    if (!lookup->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return lookup->done; })) {
        timedOut = true;
        return EAI_AGAIN;
    }
    out = lookup->result;
    lookup->result = nullptr;
    return lookup->status;
}

std::string NumericAddress(const sockaddr* sa, socklen_t len) {
    char host[NI_MAXHOST] = {};
    char port[NI_MAXSERV] = {};
    if (::getnameinfo(sa, len, host, sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0) return "?";
    NetworkAddress a;
    a.host = host;
    a.port = static_cast<uint16_t>(std::atoi(port));
    return AddressText(a);
}

}  // namespace

OpenedDevice OpenDevicePath(const std::string& path, const std::function<void(int fd)>& foundTerminal) {
    OpenedDevice out;
    struct stat st {};
    const bool fifo = ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    const int access = fifo ? O_WRONLY : O_RDWR;
    const int fd = ::open(path.c_str(), access | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        out.result = MapOpenErrno(errno);
        return out;
    }
    out.writeOnly = fifo;
    // TIOCEXCL does not stop a privileged process; the advisory lock stops every program that
    // asks for it, this one included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        out.result = SerialResult::Busy;
        return out;
    }
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        const int e = errno;
        if (!NotATerminal(e)) {
            ::close(fd);
            out.result = SerialResult::IoError;
            return out;
        }
        // A printer device file is a character device (or a FIFO standing in for one); a
        // plain file or a folder is no port.
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !(S_ISCHR(opened.st_mode) || S_ISFIFO(opened.st_mode))) {
            ::close(fd);
            out.result = SerialResult::Unsupported;
            return out;
        }
        out.fd = fd;
        out.kind = DeviceKind::PrinterFile;
        return out;
    }
    if (foundTerminal) foundTerminal(fd);
    ::ioctl(fd, TIOCEXCL);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        out.result = SerialResult::IoError;
        return out;
    }
    out.fd = fd;
    out.kind = DeviceKind::Terminal;
    return out;
}

OpenedDevice ConnectNetwork(const std::string& entry, uint32_t timeoutMs) {
    OpenedDevice out;
    out.kind = DeviceKind::Network;
    std::string parseError;
    const std::optional<NetworkAddress> address = ParseNetworkEntry(entry, &parseError);
    if (!address) {
        out.result = SerialResult::InvalidArgument;
        out.reason = parseError;
        return out;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::string seconds = std::to_string((timeoutMs + 999) / 1000) + " s";
    addrinfo* list = nullptr;
    bool resolveTimedOut = false;
    const int status = Resolve(*address, static_cast<int>(timeoutMs), list, resolveTimedOut);
    if (status != 0 || list == nullptr) {
        if (list) ::freeaddrinfo(list);
        out.result = resolveTimedOut ? SerialResult::Timeout : SerialResult::NotFound;
        if (resolveTimedOut) {
            out.reason = "no answer from the name service for " + address->host + " in " + seconds;
        } else if (status == EAI_NONAME || status == EAI_FAIL || status == EAI_NODATA) {
            out.reason = "unknown host " + address->host;
        } else {
            out.reason = "cannot look up " + address->host + ": " + ::gai_strerror(status);
        }
        return out;
    }
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> owned(list, ::freeaddrinfo);

    // Each address in turn, within what is left of the time.
    std::string lastReason;
    SerialResult lastResult = SerialResult::NotFound;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        const std::string where = NumericAddress(ai->ai_addr, ai->ai_addrlen);
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            lastReason = "cannot make a socket for " + where;
            lastResult = SerialResult::IoError;
            continue;
        }
        int error = 0;
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS || error == EINTR) {
                error = ETIMEDOUT;
                for (;;) {
                    pollfd p{fd, POLLOUT, 0};
                    const int left = MsLeft(deadline);
                    const int r = left > 0 ? ::poll(&p, 1, left) : 0;
                    if (r < 0 && errno == EINTR) continue;
                    if (r > 0) {
                        socklen_t len = sizeof error;
                        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
                    }
                    break;
                }
            }
        }
        if (error == 0) {
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
            out.fd = fd;
            return out;
        }
        ::close(fd);
        switch (error) {
            case ECONNREFUSED:
                lastReason = "connection refused by " + where;
                lastResult = SerialResult::NotFound;
                break;
            case ETIMEDOUT:
                lastReason = "no answer from " + where + " in " + seconds;
                lastResult = SerialResult::Timeout;
                break;
            case ENETUNREACH:
            case EHOSTUNREACH:
                lastReason = where + " is unreachable";
                lastResult = SerialResult::NotFound;
                break;
            default:
                lastReason = "cannot connect to " + where + ": " + std::strerror(error);
                lastResult = SerialResult::IoError;
                break;
        }
        if (MsLeft(deadline) == 0) break;
    }
    out.result = lastResult;
    out.reason = lastReason;
    return out;
}

ssize_t WriteNoSignal(int fd, const void* buf, size_t n, DeviceKind kind) {
    if (kind == DeviceKind::Network) return ::send(fd, buf, n, MSG_NOSIGNAL);
    if (kind == DeviceKind::Terminal) return ::write(fd, buf, n);
    // A pipe whose reader went away raises SIGPIPE: hold it for this thread, and take it back
    // if this write raised it.
    sigset_t pipe, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    ::sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    ::pthread_sigmask(SIG_BLOCK, &pipe, &old);
    const ssize_t r = ::write(fd, buf, n);
    const int e = errno;
    if (r < 0 && e == EPIPE && !wasPending) {
        const timespec zero{0, 0};
        while (::sigtimedwait(&pipe, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = e;
    return r;
}

}  // namespace pellory::platform::detail
