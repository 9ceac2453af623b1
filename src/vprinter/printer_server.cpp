// The printer server: its addresses and lines, opened at start() and closed at stop(). The loop
// that serves them is in server_loop.cpp.
#include "vprinter/printer_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/decimal_text.h"
#include "vprinter/pty_line.h"
#include "vprinter/server_impl.h"

namespace pellory::vprinter {

namespace {

constexpr int kListenBacklog = 128;

std::string ErrnoText(const std::string& what, int err) { return what + ": " + std::strerror(err); }

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// The line settings of an endpoint, in the platform's record.
platform::LineSettings SettingsOf(const LineEndpoint& e, platform::LineSettings s) {
    s.baudRate = e.baud;
    s.byteSize = e.dataBits;
    s.parity = e.parity == 'E' ? platform::kParityEven : e.parity == 'O' ? platform::kParityOdd : platform::kParityNone;
    s.stopBits = e.stopBits == 2 ? platform::kTwoStopBits : platform::kOneStopBit;
    s.flags = (s.flags & ~platform::kFlowControlBits) | platform::kFlagBinary;
    if (e.handshake == 'H') {
        s.flags |= platform::kFlagOutxCtsFlow | (2u << platform::kRtsControlShift);
    } else if (e.handshake == 'X') {
        s.flags |= platform::kFlagOutX | platform::kFlagInX;
        s.xonChar = 0x11;
        s.xoffChar = 0x13;
    }
    return s;
}

}  // namespace

std::string_view JobEndName(JobEnd e) {
    switch (e) {
    case JobEnd::Closed: return "closed";
    case JobEnd::Idle: return "idle";
    case JobEnd::OverLimit: return "over-limit";
    case JobEnd::Incomplete: return "incomplete";
    case JobEnd::Failed: return "failed";
    case JobEnd::Recovered: return "recovered";
    }
    return "failed";
}

std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<ListenAddress> {
        if (error) *error = std::string(text) + ": " + why;
        return std::nullopt;
    };
    ListenAddress a;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return fail("expected [IPv6-ADDRESS]:PORT");
        }
        a.host = std::string(text.substr(1, close - 1));
        if (a.host.empty()) return fail("no address between the brackets");
        port = text.substr(close + 2);
    } else {
        const size_t colon = text.rfind(':');
        if (colon == std::string_view::npos) return fail("expected HOST:PORT");
        a.host = std::string(text.substr(0, colon));
        if (a.host.find(':') != std::string::npos) return fail("an IPv6 address goes in brackets: [::1]:9100");
        port = text.substr(colon + 1);
    }
    if (a.host.find_first_of(" \t[]") != std::string::npos) return fail("not a host name or address");
    const auto value = platform::ReadDigits(port, 5);
    if (!value || *value > 65535) return fail("the port is a number from 0 to 65535");
    a.port = static_cast<uint16_t>(*value);
    return a;
}

std::string ListenAddressText(const ListenAddress& a) {
    const std::string port = std::to_string(a.port);
    if (a.host.find(':') != std::string::npos) return "[" + a.host + "]:" + port;
    return a.host + ":" + port;
}

bool IsLoopback(const ListenAddress& a) {
    if (a.host == "localhost") return true;
    in_addr v4{};
    if (::inet_pton(AF_INET, a.host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (::inet_pton(AF_INET6, a.host.c_str(), &v6) == 1) {
        if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
        return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
    }
    return false;
}

std::string NotLoopbackWarning(const ListenAddress& a) {
    if (IsLoopback(a)) return {};
    return "warning: " + ListenAddressText(a) +
           " is not a loopback address: anyone who can reach it can print and read the printer's status";
}

// --- opening and closing ---

bool ServerCore::openListeners(std::string* error) {
    for (size_t i = 0; i < options.listen.size(); ++i) {
        const ListenAddress& address = options.listen[i];
        const std::string text = ListenAddressText(address);
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
        addrinfo* found = nullptr;
        const int rc = ::getaddrinfo(address.host.empty() ? nullptr : address.host.c_str(),
                                     std::to_string(address.port).c_str(), &hints, &found);
        if (rc != 0) {
            if (error) *error = text + ": " + ::gai_strerror(rc);
            return false;
        }
        uint16_t port = address.port;
        size_t opened = 0;
        int lastError = 0;
        for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
            if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
            int fd = ::socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0) {
                lastError = errno;
                continue;  // no IPv6 on this machine, say
            }
            const int on = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            sockaddr_storage sa{};
            std::memcpy(&sa, ai->ai_addr, ai->ai_addrlen);
            if (ai->ai_family == AF_INET6) {
                // Each family on its own socket: "every address" binds both.
                ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
                reinterpret_cast<sockaddr_in6*>(&sa)->sin6_port = htons(port);
            } else {
                reinterpret_cast<sockaddr_in*>(&sa)->sin_port = htons(port);
            }
            if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), ai->ai_addrlen) != 0 || ::listen(fd, kListenBacklog) != 0) {
                lastError = errno;
                ::close(fd);
                // An address of the name this machine does not have (::1 without IPv6) is passed by;
                // one in use is not.
                if (lastError == EADDRNOTAVAIL || lastError == EAFNOSUPPORT) continue;
                ::freeaddrinfo(found);
                if (error) *error = ErrnoText(text, lastError);
                return false;
            }
            if (port == 0) {
                socklen_t len = sizeof sa;
                if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
                    port = ntohs(sa.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&sa)->sin6_port
                                                          : reinterpret_cast<sockaddr_in*>(&sa)->sin_port);
                }
            }
            listeners.push_back(Listener{fd, i});
            ++opened;
        }
        ::freeaddrinfo(found);
        if (opened == 0) {
            if (error) *error = ErrnoText(text, lastError ? lastError : EADDRNOTAVAIL);
            return false;
        }
        bound.push_back(ListenAddress{address.host, port});
    }
    return true;
}

bool ServerCore::openLines(std::string* error) {
    for (const LineEndpoint& e : options.lines) {
        lines.emplace_back();
        Line& line = lines.back();
        line.endpoint = e;
        if (e.kind == LineEndpoint::Kind::Serial) {
            line.device = std::make_unique<platform::SerialDevice>();
            const platform::SerialResult r = line.device->open(e.path, false);
            if (r != platform::SerialResult::Ok) {
                const std::string& why = line.device->openFailureReason();
                if (error) *error = e.path + ": " + (why.empty() ? platform::DescribeResult(r) : why);
                return false;
            }
            platform::LineSettings s;
            line.device->getLineSettings(s);
            const platform::SerialResult set = line.device->setLineSettings(SettingsOf(e, s));
            if (set != platform::SerialResult::Ok) {
                if (error) *error = e.path + ": line settings refused: " + platform::DescribeResult(set);
                return false;
            }
            line.fd = line.device->nativeHandle();
            continue;
        }
        line.fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (line.fd < 0 || ::grantpt(line.fd) != 0 || ::unlockpt(line.fd) != 0 || ::ptsname_r(line.fd, name, sizeof name) != 0) {
            if (error) *error = ErrnoText("pseudo-terminal", errno);
            return false;
        }
        line.slavePath = name;
        line.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (line.slave < 0 || !MakeRawLine(line.slave, e.baud)) {
            if (error) *error = ErrnoText(line.slavePath, errno);
            return false;
        }
        const int flags = ::fcntl(line.fd, F_GETFL);
        if (flags < 0 || ::fcntl(line.fd, F_SETFL, flags | O_NONBLOCK) != 0) {
            if (error) *error = ErrnoText(line.slavePath, errno);
            return false;
        }
        line.notify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (line.notify >= 0 &&
            ::inotify_add_watch(line.notify, line.slavePath.c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
            CloseFd(line.notify);
        }
        if (e.path.empty()) continue;
        // A link left by an earlier run is replaced; anything else at the path is not touched.
        struct stat st{};
        if (::lstat(e.path.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                if (error) *error = e.path + ": exists and is not a symbolic link";
                return false;
            }
            ::unlink(e.path.c_str());
        }
        if (::symlink(line.slavePath.c_str(), e.path.c_str()) != 0) {
            if (error) *error = ErrnoText(e.path, errno);
            return false;
        }
        line.linked = true;
    }
    return true;
}

void ServerCore::closeAll() {
    for (Connection& c : connections) {
        if (c.kind == Connection::Kind::Tcp) CloseFd(c.fd);
    }
    connections.clear();
    openCount = 0;
    for (Listener& l : listeners) CloseFd(l.fd);
    listeners.clear();
    platform::MutexLock linesLock(linesMutex);
    for (Line& line : lines) {
        if (line.device) {
            line.device->close();
            line.fd = -1;
        }
        CloseFd(line.fd);
        CloseFd(line.slave);
        CloseFd(line.notify);
        if (line.linked) {
            // Removed only while it still leads to this run's terminal.
            char target[256];
            const ssize_t n = ::readlink(line.endpoint.path.c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, static_cast<size_t>(n)) == line.slavePath) ::unlink(line.endpoint.path.c_str());
        }
    }
    lines.clear();
    platform::MutexLock wakeLock(wakeMutex);
    CloseFd(wakeRead);
    CloseFd(wakeWrite);
}

void ServerCore::wake() {
    platform::MutexLock lock(wakeMutex);
    if (wakeWrite < 0) return;
    const uint8_t b = 1;
    [[maybe_unused]] const ssize_t w = ::write(wakeWrite, &b, 1);
}

void ServerCore::hand(FinishedJob&& job) {
    platform::MutexLock lock(sinkMutex);
    if (sink) sink(job, HandOver::Always);
    ++finished;
}

void ServerCore::dropUnsent() {
    {
        platform::MutexLock lock(sendMutex);
        for (const auto& u : toSend) u->done = true;
        toSend.clear();
    }
    sent.notify_all();
}

// --- the interface ---

struct PrinterServer::Impl : ServerCore {
    using ServerCore::ServerCore;
};

PrinterServer::PrinterServer(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

PrinterServer::~PrinterServer() { stop(); }

void PrinterServer::setJobSink(JobSink sink) {
    platform::MutexLock lock(impl_->sinkMutex);
    impl_->sink = std::move(sink);
}

void PrinterServer::jobRoom() { impl_->wake(); }

void PrinterServer::setPrintObserver(PrintObserver o) { impl_->observer = std::move(o); }

void PrinterServer::setMessageSink(MessageSink sink) { impl_->messages = std::move(sink); }

bool PrinterServer::start(std::string* error) {
    Impl& d = *impl_;
    if (d.running) {
        if (error) *error = "the printer server runs already";
        return false;
    }
    d.stopFlag = false;
    d.bound.clear();
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (error) *error = ErrnoText("pipe", errno);
        return false;
    }
    {
        platform::MutexLock lock(d.wakeMutex);
        d.wakeRead = pipeFds[0];
        d.wakeWrite = pipeFds[1];
    }
    if (!d.openListeners(error) || !d.openLines(error)) {
        d.closeAll();
        d.bound.clear();
        return false;
    }
    d.clockWatch = d.options.clock->watch([&d] { d.wake(); });
    try {
        d.loopThread = std::thread([&d] { d.run(); });
    } catch (const std::system_error& e) {
        if (error) *error = std::string("thread: ") + e.what();
        d.clockWatch.reset();
        d.closeAll();
        d.bound.clear();
        return false;
    }
    d.running = true;
    return true;
}

void PrinterServer::stop() {
    Impl& d = *impl_;
    if (!d.running) return;
    d.stopFlag = true;
    d.wake();
    if (d.loopThread.joinable()) d.loopThread.join();
    d.clockWatch.reset();
    d.dropUnsent();
    // The jobs that wait for the sink first, as they ended; then those still in progress end
    // here: incomplete while their connection was open.
    for (FinishedJob& job : d.waitingJobs) d.hand(std::move(job));
    d.waitingJobs.clear();
    d.waitingBytes = 0;
    for (Connection& c : d.connections) {
        if (!c.intake.hasJob() || !d.options.keepJobs) continue;
        d.hand(EndJob(c, c.fd >= 0 ? JobEnd::Incomplete : JobEnd::Closed, {}));
    }
    d.closeAll();
    d.running = false;
}

bool PrinterServer::stopping() const { return impl_->stopFlag.load(); }

std::vector<ListenAddress> PrinterServer::boundAddresses() const { return impl_->bound; }

std::vector<std::string> PrinterServer::ptyPaths() const {
    std::vector<std::string> paths;
    for (const Line& line : impl_->lines) {
        if (line.endpoint.kind == LineEndpoint::Kind::Pty) paths.push_back(line.slavePath);
    }
    return paths;
}

std::optional<uint32_t> PrinterServer::ptyHostRate(size_t i) const {
    platform::MutexLock lock(impl_->linesMutex);
    for (const Line& line : impl_->lines) {
        if (line.endpoint.kind != LineEndpoint::Kind::Pty) continue;
        if (i-- > 0) continue;
        if (line.slave < 0) return std::nullopt;
        return ReadLineRate(line.slave);
    }
    return std::nullopt;
}

void PrinterServer::setModel(Model m) { impl_->model = m; }

bool PrinterServer::sendUnsolicited(const uint8_t* bytes, size_t n) {
    Impl& d = *impl_;
    if (!d.running) return false;
    auto u = std::make_shared<Unsolicited>();
    u->bytes.assign(bytes, bytes + n);
    platform::MutexLock lock(d.sendMutex);
    // Checked under the lock that stop() takes to drop what is left once the loop ended: a request
    // queued before that is seen there.
    if (d.stopFlag.load()) return false;
    d.toSend.push_back(u);
    lock.unlock();
    d.wake();
    lock.lock();
    if (!d.sent.wait_for(lock.native(), std::chrono::seconds(1), [&u] { return u->done; })) {
        const auto it = std::find(d.toSend.begin(), d.toSend.end(), u);
        if (it != d.toSend.end()) d.toSend.erase(it);
        return false;
    }
    return u->sent;
}

States PrinterServer::states() const {
    platform::MutexLock lock(impl_->stateMutex);
    return impl_->states;
}

void PrinterServer::setStates(States s) {
    {
        platform::MutexLock lock(impl_->stateMutex);
        if (impl_->states == s) return;
        impl_->states = s;
        ++impl_->stateVersion;
    }
    impl_->wake();
}

size_t PrinterServer::openConnections() const { return impl_->openCount.load(); }

uint64_t PrinterServer::jobsFinished() const { return impl_->finished.load(); }

uint64_t PrinterServer::loopRounds() const { return impl_->rounds.load(); }

}  // namespace pellory::vprinter
