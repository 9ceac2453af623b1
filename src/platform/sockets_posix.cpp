// The sockets contract on POSIX systems (sockets.h).
#include "platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace pellory::platform {

namespace {

void NoDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

std::optional<SocketEnd> EndOf(int fd, bool peer) {
    sockaddr_storage a{};
    socklen_t length = sizeof a;
    sockaddr* sa = reinterpret_cast<sockaddr*>(&a);
    if ((peer ? ::getpeername(fd, sa, &length) : ::getsockname(fd, sa, &length)) != 0) return std::nullopt;
    if (a.ss_family != AF_INET && a.ss_family != AF_INET6) return std::nullopt;
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (::getnameinfo(sa, length, host, sizeof host, service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return std::nullopt;
    }
    return SocketEnd{host, static_cast<uint16_t>(std::atoi(service)), a.ss_family == AF_INET6};
}

short PollEvents(uint8_t events) {
    short e = 0;
    if (events & kWaitRead) e |= POLLIN;
    if (events & kWaitWrite) e |= POLLOUT;
    if (events & kWaitHangUp) e |= POLLRDHUP;
    return e;
}

uint8_t ReadyBits(short revents) {
    uint8_t r = 0;
    if (revents & POLLIN) r |= kReadyRead;
    if (revents & POLLOUT) r |= kReadyWrite;
    if (revents & (POLLRDHUP | POLLHUP)) r |= kReadyHangUp;
    if (revents & (POLLERR | POLLNVAL)) r |= kReadyError;
    return r;
}

}  // namespace

bool StartSockets(std::string*) { return true; }

std::string SocketErrorText(int code) { return std::strerror(code); }

int LastSocketError() { return errno; }

void ClearSocketError() { errno = 0; }

bool SocketOutOfResources(int code) { return code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM; }

bool ListenOn(const std::string& host, uint16_t port, int backlog, std::vector<ListeningSocket>* out,
              uint16_t* boundPort, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) {
        if (error) *error = ::gai_strerror(rc);
        return false;
    }
    std::vector<ListeningSocket> opened;
    const auto fail = [&](int code) {
        ::freeaddrinfo(found);
        for (ListeningSocket& s : opened) CloseSocket(s.handle);
        if (error) *error = SocketErrorText(code);
        return false;
    };
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
        const bool v6 = ai->ai_family == AF_INET6;
        if (v6) {
            // Each family on its own socket: "every address" binds both.
            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
            reinterpret_cast<sockaddr_in6*>(&sa)->sin6_port = htons(port);
        } else {
            reinterpret_cast<sockaddr_in*>(&sa)->sin_port = htons(port);
        }
        if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), ai->ai_addrlen) != 0 || ::listen(fd, backlog) != 0) {
            lastError = errno;
            ::close(fd);
            if (lastError == EADDRNOTAVAIL || lastError == EAFNOSUPPORT) continue;
            return fail(lastError);
        }
        if (port == 0) {
            socklen_t len = sizeof sa;
            if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
                port = ntohs(sa.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&sa)->sin6_port
                                                      : reinterpret_cast<sockaddr_in*>(&sa)->sin_port);
            }
        }
        opened.push_back(ListeningSocket{fd, v6});
    }
    if (opened.empty()) return fail(lastError ? lastError : EADDRNOTAVAIL);
    ::freeaddrinfo(found);
    out->insert(out->end(), opened.begin(), opened.end());
    if (boundPort) *boundPort = port;
    return true;
}

AcceptResult AcceptConnection(SocketHandle listener, SocketHandle* out, int* code) {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (code) *code = err;
        if (err == ECONNABORTED || err == EINTR) return AcceptResult::Retry;
        if (err == EAGAIN || err == EWOULDBLOCK) return AcceptResult::None;
        return SocketOutOfResources(err) ? AcceptResult::OutOfRoom : AcceptResult::Failed;
    }
    NoDelay(fd);
    *out = fd;
    return AcceptResult::Accepted;
}

SocketHandle ConnectTo(const std::string& host, uint16_t port, int timeoutMs, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) {
        if (error) *error = ::gai_strerror(rc);
        return kNoSocket;
    }
    int lastError = ECONNREFUSED;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
        int fd = ::socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0 && errno != EINPROGRESS) {
            lastError = errno;
            ::close(fd);
            continue;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        int soError = 0;
        socklen_t length = sizeof soError;
        if (!WaitSocket(fd, kWaitWrite, static_cast<int>(std::max<long long>(left.count(), 0)))) {
            soError = ETIMEDOUT;
        } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0) {
            soError = errno;
        }
        if (soError != 0) {
            lastError = soError;
            ::close(fd);
            continue;
        }
        ::freeaddrinfo(found);
        NoDelay(fd);
        return fd;
    }
    ::freeaddrinfo(found);
    if (error) *error = SocketErrorText(lastError);
    return kNoSocket;
}

bool SocketPair(SocketHandle ends[2], std::string* error) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
        if (error) *error = SocketErrorText(errno);
        return false;
    }
    ends[0] = fds[0];
    ends[1] = fds[1];
    return true;
}

void CloseSocket(SocketHandle& s) {
    if (s >= 0) ::close(s);
    s = kNoSocket;
}

void ShutdownSending(SocketHandle s) { ::shutdown(s, SHUT_WR); }

void KeepAddressOwn(SocketHandle s) {
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

bool MakeNonBlocking(SocketHandle s) {
    const int flags = ::fcntl(s, F_GETFL);
    return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}

long long ReceiveSome(SocketHandle s, void* buffer, size_t n, int* code) {
    for (;;) {
        const ssize_t r = ::recv(s, buffer, n, MSG_DONTWAIT);
        if (r >= 0) return r;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return kSocketWouldBlock;
        if (code) *code = errno;
        return kSocketFailed;
    }
}

long long SendSome(SocketHandle s, const void* bytes, size_t n, int* code) {
    for (;;) {
        const ssize_t w = ::send(s, bytes, n, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (w >= 0) return w;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return kSocketWouldBlock;
        if (code) *code = errno;
        return kSocketFailed;
    }
}

size_t BytesWaiting(SocketHandle s) {
    int unread = 0;
    return ::ioctl(s, FIONREAD, &unread) == 0 && unread > 0 ? static_cast<size_t>(unread) : 0;
}

std::optional<SocketEnd> PeerEnd(SocketHandle s) { return EndOf(s, true); }
std::optional<SocketEnd> LocalEnd(SocketHandle s) { return EndOf(s, false); }

std::string NumericAddress(const std::string& text) {
    in_addr v4{};
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) return std::string(reinterpret_cast<const char*>(&v4), 4);
    in6_addr v6{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6) == 1) return std::string(reinterpret_cast<const char*>(&v6), 16);
    return {};
}

std::vector<std::string> InterfaceAddresses() {
    std::vector<std::string> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return addresses;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr) continue;
        if (i->ifa_addr->sa_family == AF_INET) {
            const in_addr& a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr;
            addresses.emplace_back(reinterpret_cast<const char*>(&a), 4);
        } else if (i->ifa_addr->sa_family == AF_INET6) {
            const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr;
            addresses.emplace_back(reinterpret_cast<const char*>(&a), 16);
        }
    }
    ::freeifaddrs(list);
    return addresses;
}

std::string MachineName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

int WaitSockets(std::vector<SocketWait>& waits, int timeoutMs, int* code) {
    std::vector<pollfd> fds;
    fds.reserve(waits.size());
    for (SocketWait& w : waits) {
        w.ready = 0;
        // An entry with no events is passed by (poll() skips a negative descriptor).
        fds.push_back({w.events ? w.handle : -1, PollEvents(w.events), 0});
    }
    const int r = ::poll(fds.data(), fds.size(), std::max(timeoutMs, 0));
    if (r < 0) {
        if (errno == EINTR) return 0;
        if (code) *code = errno;
        return -1;
    }
    for (size_t i = 0; i < waits.size(); ++i) waits[i].ready = ReadyBits(fds[i].revents);
    return r;
}

bool WaitSocket(SocketHandle s, uint8_t events, int timeoutMs) {
    pollfd p{s, PollEvents(events), 0};
    return ::poll(&p, 1, std::max(timeoutMs, 0)) > 0;
}

bool SocketWaker::open(std::string* error) {
    close();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (error) *error = SocketErrorText(errno);
        return false;
    }
    read_ = fds[0];
    write_ = fds[1];
    return true;
}

void SocketWaker::wake() const {
    if (write_ < 0) return;
    const int saved = errno;  // a signal handler may call it
    const uint8_t b = 1;
    [[maybe_unused]] const ssize_t w = ::write(write_, &b, 1);
    errno = saved;
}

void SocketWaker::drain() const {
    uint8_t drained[64];
    while (read_ >= 0 && ::read(read_, drained, sizeof drained) > 0) {
    }
}

void SocketWaker::close() {
    CloseSocket(read_);
    CloseSocket(write_);
}

}  // namespace pellory::platform
