// Opening terminals, printer device files and network printers.
#include "platform/device_open_posix.h"

#include "platform/decimal_text.h"
#include "platform/name_lookup_hook.h"
#include "platform/stop_request.h"

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
#include <vector>
#include <algorithm>

namespace pellory::platform::detail {

namespace {

using Clock = std::chrono::steady_clock;

// How long one address of a host name has to connect before the next one is tried beside it.
constexpr int kNextAddressAfterMs = 250;
// The longest a name lookup or a connect waits before it looks at the program's stop request.
constexpr int kStopCheckMs = 10;
constexpr const char* kStoppedReason = "stopped";
// A network printer's socket: its send buffer, and how much unsent data it may hold before a
// write has to wait (see KeepUnsentDataSmall).
constexpr int kSendBufferBytes = 64 * 1024;
constexpr int kUnsentLowMark = 16 * 1024;

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

// One address to try: what connect() needs.
struct Candidate {
    int family = AF_UNSPEC;
    int socktype = SOCK_STREAM;
    int protocol = 0;
    sockaddr_storage address{};
    socklen_t length = 0;
};

void AppendCandidates(const addrinfo* list, std::vector<Candidate>& out) {
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
        Candidate c;
        c.family = ai->ai_family;
        c.socktype = ai->ai_socktype;
        c.protocol = ai->ai_protocol;
        std::memcpy(&c.address, ai->ai_addr, ai->ai_addrlen);
        c.length = ai->ai_addrlen;
        out.push_back(c);
    }
}

// What a lookup hands back; shared by the asking thread and the helper, freed by the last.
struct Lookup {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    int status = 0;
    std::vector<Candidate> found;
};

// The addresses of host and port, in the name service's order (a hook's answer instead, when it
// gives one).
int LookUp(const std::string& host, const std::string& service, const NameLookupHook& hook,
           std::vector<Candidate>& found) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    const std::vector<std::string> answer = hook ? hook(host) : std::vector<std::string>{};
    if (answer.empty()) {
        addrinfo* list = nullptr;
        const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
        if (status == 0) AppendCandidates(list, found);
        if (list) ::freeaddrinfo(list);
        return status;
    }
    hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
    for (const std::string& address : answer) {
        addrinfo* list = nullptr;
        if (::getaddrinfo(address.c_str(), service.c_str(), &hints, &list) == 0) AppendCandidates(list, found);
        if (list) ::freeaddrinfo(list);
    }
    return found.empty() ? EAI_NONAME : 0;
}

// Resolves host and port within timeoutMs. The helper thread ends by itself when the name
// service answers (its own time-outs bound that); a caller that stopped waiting leaves it the
// shared record. A stop of the program ends the wait at once (stopped set).
int Resolve(const NetworkAddress& a, int timeoutMs, std::vector<Candidate>& out, bool& timedOut, bool& stopped) {
    out.clear();
    timedOut = false;
    stopped = false;
    auto lookup = std::make_shared<Lookup>();
    const std::string host = a.host;
    const std::string service = std::to_string(a.port);
    NameLookupHook hook = CurrentNameLookupHook();
    try {
        std::thread([lookup, host, service, hook = std::move(hook)] {
            std::vector<Candidate> found;
            const int status = LookUp(host, service, hook, found);
            std::lock_guard<std::mutex> lock(lookup->m);
            lookup->status = status;
            lookup->found = std::move(found);
            lookup->done = true;
            lookup->cv.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return EAI_AGAIN;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(lookup->m);
    while (!lookup->done) {
        if (StopRequested()) {
            stopped = true;
            return EAI_AGAIN;
        }
        const int left = MsLeft(deadline);
        if (left == 0) {
            timedOut = true;
            return EAI_AGAIN;
        }
        lookup->cv.wait_for(lock, std::chrono::milliseconds(std::min(left, kStopCheckMs)));
    }
    out = std::move(lookup->found);
    return lookup->status;
}

std::string NumericAddress(const sockaddr* sa, socklen_t len) {
    char host[NI_MAXHOST] = {};
    char port[NI_MAXSERV] = {};
    if (::getnameinfo(sa, len, host, sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0) return "?";
    NetworkAddress a;
    a.host = host;
    a.port = static_cast<uint16_t>(ReadDigits(port, 5).value_or(0));
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
        const int e = errno;
        out.result = MapOpenErrno(e);
        if (e == EISDIR) {
            out.result = SerialResult::Unsupported;
            out.reason = "a folder, not a device";
        }
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
            if (S_ISREG(opened.st_mode)) {
                out.reason = "a regular file, not a device";
            } else if (S_ISBLK(opened.st_mode)) {
                out.reason = "a block device (a disk), not a printer's device";
            } else if (S_ISDIR(opened.st_mode)) {
                out.reason = "a folder, not a device";
            }
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

namespace {

// A connection on its way to one address.
struct Attempt {
    int fd = -1;
    std::string where;  // the address, for messages
};

// Why connecting to where failed with error, and the result that stands for it.
void ConnectFailure(int error, const std::string& where, const std::string& seconds, OpenedDevice& out) {
    switch (error) {
        case ECONNREFUSED:
            out.reason = "connection refused by " + where;
            out.result = SerialResult::NotFound;
            break;
        case ETIMEDOUT:
            out.reason = "no answer from " + where + " in " + seconds;
            out.result = SerialResult::Timeout;
            break;
        case ENETUNREACH:
        case EHOSTUNREACH:
            out.reason = where + " is unreachable";
            out.result = SerialResult::NotFound;
            break;
        default:
            out.reason = "cannot connect to " + where + ": " + std::strerror(error);
            out.result = SerialResult::IoError;
            break;
    }
}

// What the system holds for a printer beyond what it has taken: a printer reads far slower than
// a network carries, so a large send buffer only holds bytes that would still reach the printer
// after the program stopped. The socket keeps at most kSendBufferBytes (the system counts about
// twice that with its overhead), and takes a write only while less than kUnsentLowMark of what
// it holds is still unsent, so that a writer hands over only what can go out soon.
void KeepUnsentDataSmall(int fd) {
    const int buffer = kSendBufferBytes;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
#ifdef TCP_NOTSENT_LOWAT
    const int lowMark = kUnsentLowMark;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &lowMark, sizeof lowMark);
#endif
}

// Starts connecting to c. The attempt's descriptor, or -1 with error set (0 when it connected
// at once: then the descriptor is the connection's).
int StartAttempt(const Candidate& c, int& error) {
    error = 0;
    const int fd = ::socket(c.family, c.socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, c.protocol);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&c.address), c.length) == 0) return fd;
    error = errno;
    if (error == EINPROGRESS || error == EINTR) return fd;
    ::close(fd);
    return -1;
}

}  // namespace

OpenedDevice ConnectNetwork(const std::string& entry, uint32_t timeoutMs) {
    OpenedDevice out;
    out.kind = DeviceKind::Network;
    // The reason goes behind the entry in messages: it only says what is wrong.
    std::string parseError;
    const std::optional<NetworkAddress> address = ParseNetworkAddress(entry, &parseError);
    if (!address) {
        out.result = SerialResult::InvalidArgument;
        out.reason = parseError;
        return out;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::string seconds = std::to_string((timeoutMs + 999) / 1000) + " s";
    std::vector<Candidate> candidates;
    bool resolveTimedOut = false;
    bool stopped = false;
    const int status = Resolve(*address, static_cast<int>(timeoutMs), candidates, resolveTimedOut, stopped);
    if (stopped) {
        out.result = SerialResult::Interrupted;
        out.reason = kStoppedReason;
        return out;
    }
    if (status != 0 || candidates.empty()) {
        out.result = resolveTimedOut ? SerialResult::Timeout : SerialResult::NotFound;
        const std::string host = PrintableText(address->host);
        if (resolveTimedOut) {
            out.reason = "no answer from the name service for " + host + " in " + seconds;
        } else if (status == 0 || status == EAI_NONAME || status == EAI_FAIL || status == EAI_NODATA) {
            out.reason = "unknown host " + host;
        } else {
            out.reason = "cannot look up " + host + ": " + ::gai_strerror(status);
        }
        return out;
    }

    // The addresses in the name service's order, each given a head start before the next one
    // joins in; the first connection made wins, the attempts still on their way are dropped.
    // An address that fails at once (unreachable, refused) hands over to the next at once. All
    // within the one time limit.
    std::vector<Attempt> attempts;
    size_t next = 0;
    auto nextStart = Clock::now();
    OpenedDevice failure = out;
    failure.result = SerialResult::NotFound;
    auto dropAll = [&attempts] {
        for (const Attempt& a : attempts) ::close(a.fd);
        attempts.clear();
    };
    auto connected = [&](int fd) {
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        KeepUnsentDataSmall(fd);
        out.fd = fd;
        return out;
    };
    for (;;) {
        if (StopRequested()) {
            dropAll();
            out.result = SerialResult::Interrupted;
            out.reason = kStoppedReason;
            return out;
        }
        if (next < candidates.size() && (attempts.empty() || Clock::now() >= nextStart)) {
            const Candidate& c = candidates[next++];
            const std::string where = NumericAddress(reinterpret_cast<const sockaddr*>(&c.address), c.length);
            int error = 0;
            const int fd = StartAttempt(c, error);
            if (fd >= 0 && error == 0) {
                dropAll();
                return connected(fd);
            }
            if (fd >= 0) {
                attempts.push_back({fd, where});
                nextStart = Clock::now() + std::chrono::milliseconds(kNextAddressAfterMs);
            } else {
                ConnectFailure(error, where, seconds, failure);
            }
            continue;
        }
        if (attempts.empty()) break;  // every address failed
        int wait = MsLeft(deadline);
        if (wait == 0) {
            ConnectFailure(ETIMEDOUT, attempts.front().where, seconds, failure);
            dropAll();
            break;
        }
        if (next < candidates.size()) wait = std::min(wait, MsLeft(nextStart) + 1);
        wait = std::min(wait, kStopCheckMs);
        std::vector<pollfd> polled;
        for (const Attempt& a : attempts) polled.push_back({a.fd, POLLOUT, 0});
        const int r = ::poll(polled.data(), polled.size(), wait);
        if (r <= 0) continue;  // time passed (or a signal): look again
        for (size_t i = polled.size(); i-- > 0;) {
            if (polled[i].revents == 0) continue;
            int error = 0;
            socklen_t len = sizeof error;
            if (::getsockopt(polled[i].fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
            if (error == 0) {
                const int fd = attempts[i].fd;
                attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(i));
                dropAll();
                return connected(fd);
            }
            ConnectFailure(error, attempts[i].where, seconds, failure);
            ::close(attempts[i].fd);
            attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(i));
            // The next address need not wait for the head start of one that failed.
            if (attempts.empty()) nextStart = Clock::now();
        }
    }
    return failure;
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
