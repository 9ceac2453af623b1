// The sockets contract on Windows (sockets.h), over Winsock 2.
#include "platform/sockets.h"

// winsock2.h before windows.h, which would otherwise bring the old Winsock in.
#include <winsock2.h>

#include <iphlpapi.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace pellory::platform {

namespace {

// WSAStartup's outcome, made once for the process (WSACleanup is left to the process's end).
int StartupCode() {
    static const int code = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return code;
}

SOCKET Native(SocketHandle s) { return static_cast<SOCKET>(s); }
SocketHandle Handle(SOCKET s) { return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s); }

void NoDelay(SOCKET s) {
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

bool NonBlocking(SOCKET s) {
    u_long on = 1;
    return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

// A socket that a child process does not inherit.
SOCKET OpenSocket(int family) {
    return ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}

std::optional<SocketEnd> EndOf(SocketHandle s, bool peer) {
    if (StartupCode() != 0) return std::nullopt;
    sockaddr_storage a{};
    int length = sizeof a;
    sockaddr* sa = reinterpret_cast<sockaddr*>(&a);
    if ((peer ? ::getpeername(Native(s), sa, &length) : ::getsockname(Native(s), sa, &length)) != 0) {
        return std::nullopt;
    }
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
    // WSAPoll has no event for the peer's end alone: a hang-up is seen as readable, and told
    // from bytes by a look at what waits (WaitSockets).
    if (events & (kWaitRead | kWaitHangUp)) e |= POLLRDNORM;
    if (events & kWaitWrite) e |= POLLWRNORM;
    return e;
}

// Whether the peer ended its stream: a look at the next byte reads the end (or fails).
bool PeerEnded(SOCKET s) {
    char b = 0;
    const int r = ::recv(s, &b, 1, MSG_PEEK);
    return r == 0 || (r < 0 && ::WSAGetLastError() != WSAEWOULDBLOCK);
}

uint8_t ReadyBits(const WSAPOLLFD& p, uint8_t events) {
    uint8_t r = 0;
    if (p.revents & POLLRDNORM) {
        if (events & kWaitRead) r |= kReadyRead;
        if ((events & kWaitHangUp) && PeerEnded(p.fd)) r |= kReadyHangUp;
    }
    if (p.revents & POLLWRNORM) r |= kReadyWrite;
    if (p.revents & POLLHUP) r |= kReadyHangUp;
    if (p.revents & (POLLERR | POLLNVAL)) r |= kReadyError;
    return r;
}

}  // namespace

bool StartSockets(std::string* error) {
    const int code = StartupCode();
    if (code != 0 && error) *error = "Winsock: " + SocketErrorText(code);
    return code == 0;
}

std::string SocketErrorText(int code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0,
                                     nullptr);
    std::string utf8;
    if (n > 0 && text) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
        utf8.resize(static_cast<size_t>(std::max(size, 0)));
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), utf8.data(), size, nullptr, nullptr);
    }
    if (text) ::LocalFree(text);
    while (!utf8.empty() && (utf8.back() == ' ' || utf8.back() == '.' || utf8.back() == '\r' || utf8.back() == '\n')) {
        utf8.pop_back();
    }
    return utf8.empty() ? "error " + std::to_string(code) : utf8;
}

int LastSocketError() { return ::WSAGetLastError(); }

void ClearSocketError() { ::WSASetLastError(0); }

bool SocketOutOfResources(int code) { return code == WSAEMFILE || code == WSAENOBUFS; }

bool ListenOn(const std::string& host, uint16_t port, int backlog, std::vector<ListeningSocket>* out,
              uint16_t* boundPort, std::string* error) {
    if (!StartSockets(error)) return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) {
        if (error) *error = SocketErrorText(rc);
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
        SOCKET s = OpenSocket(ai->ai_family);
        if (s == INVALID_SOCKET) {
            lastError = ::WSAGetLastError();
            continue;  // no IPv6 on this machine, say
        }
        // Windows lets a second program bind a port in use with SO_REUSEADDR: the port is ours alone.
        const BOOL on = TRUE;
        ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
        sockaddr_storage sa{};
        std::memcpy(&sa, ai->ai_addr, ai->ai_addrlen);
        const bool v6 = ai->ai_family == AF_INET6;
        if (v6) {
            ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&on), sizeof on);
            reinterpret_cast<sockaddr_in6*>(&sa)->sin6_port = htons(port);
        } else {
            reinterpret_cast<sockaddr_in*>(&sa)->sin_port = htons(port);
        }
        if (!NonBlocking(s) || ::bind(s, reinterpret_cast<sockaddr*>(&sa), static_cast<int>(ai->ai_addrlen)) != 0 ||
            ::listen(s, backlog) != 0) {
            lastError = ::WSAGetLastError();
            ::closesocket(s);
            if (lastError == WSAEADDRNOTAVAIL || lastError == WSAEAFNOSUPPORT) continue;
            return fail(lastError);
        }
        if (port == 0) {
            int len = sizeof sa;
            if (::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
                port = ntohs(sa.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&sa)->sin6_port
                                                      : reinterpret_cast<sockaddr_in*>(&sa)->sin_port);
            }
        }
        opened.push_back(ListeningSocket{Handle(s), v6});
    }
    if (opened.empty()) return fail(lastError ? lastError : WSAEADDRNOTAVAIL);
    ::freeaddrinfo(found);
    out->insert(out->end(), opened.begin(), opened.end());
    if (boundPort) *boundPort = port;
    return true;
}

AcceptResult AcceptConnection(SocketHandle listener, SocketHandle* out, int* code) {
    const SOCKET s = ::accept(Native(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        const int err = ::WSAGetLastError();
        if (code) *code = err;
        if (err == WSAECONNRESET || err == WSAEINTR) return AcceptResult::Retry;
        if (err == WSAEWOULDBLOCK) return AcceptResult::None;
        return SocketOutOfResources(err) ? AcceptResult::OutOfRoom : AcceptResult::Failed;
    }
    // An accepted socket takes its listener's non-blocking mode; set it all the same.
    NonBlocking(s);
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    NoDelay(s);
    *out = Handle(s);
    return AcceptResult::Accepted;
}

SocketHandle ConnectTo(const std::string& host, uint16_t port, int timeoutMs, std::string* error) {
    if (!StartSockets(error)) return kNoSocket;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) {
        if (error) *error = SocketErrorText(rc);
        return kNoSocket;
    }
    int lastError = WSAECONNREFUSED;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
        SOCKET s = OpenSocket(ai->ai_family);
        if (s == INVALID_SOCKET || !NonBlocking(s)) {
            lastError = ::WSAGetLastError();
            if (s != INVALID_SOCKET) ::closesocket(s);
            continue;
        }
        if (::connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) != 0 && ::WSAGetLastError() != WSAEWOULDBLOCK) {
            lastError = ::WSAGetLastError();
            ::closesocket(s);
            continue;
        }
        // A refused connect is reported as an error event, not as room to write.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        WSAPOLLFD p{s, POLLWRNORM, 0};
        int soError = 0;
        int length = sizeof soError;
        if (::WSAPoll(&p, 1, static_cast<INT>(std::max<long long>(left.count(), 0))) <= 0) {
            soError = WSAETIMEDOUT;
        } else if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) != 0) {
            soError = ::WSAGetLastError();
        } else if (soError == 0 && !(p.revents & POLLWRNORM)) {
            soError = WSAECONNREFUSED;
        }
        if (soError != 0) {
            lastError = soError;
            ::closesocket(s);
            continue;
        }
        ::freeaddrinfo(found);
        NoDelay(s);
        return Handle(s);
    }
    ::freeaddrinfo(found);
    if (error) *error = SocketErrorText(lastError);
    return kNoSocket;
}

bool SocketPair(SocketHandle ends[2], std::string* error) {
    std::vector<ListeningSocket> listening;
    uint16_t port = 0;
    if (!ListenOn("127.0.0.1", 0, 1, &listening, &port, error)) return false;
    SocketHandle listener = listening.front().handle;
    SocketHandle caller = ConnectTo("127.0.0.1", port, 5000, error);
    SocketHandle taken = kNoSocket;
    if (caller != kNoSocket && WaitSocket(listener, kWaitRead, 5000)) {
        int code = 0;
        if (AcceptConnection(listener, &taken, &code) != AcceptResult::Accepted && error)
            *error = SocketErrorText(code);
    }
    // The accepted end must be the connect's own: another program may have connected meanwhile.
    const auto callerEnd = LocalEnd(caller);
    const auto takenPeer = PeerEnd(taken);
    CloseSocket(listener);
    if (caller == kNoSocket || taken == kNoSocket || !callerEnd || !takenPeer || callerEnd->port != takenPeer->port) {
        if (error && error->empty()) *error = "the loopback pair did not connect";
        CloseSocket(caller);
        CloseSocket(taken);
        return false;
    }
    ends[0] = caller;
    ends[1] = taken;
    return true;
}

void CloseSocket(SocketHandle& s) {
    if (s != kNoSocket) ::closesocket(Native(s));
    s = kNoSocket;
}

void ShutdownSending(SocketHandle s) { ::shutdown(Native(s), SD_SEND); }

void KeepAddressOwn(SocketHandle s) {
    const BOOL on = TRUE;
    ::setsockopt(Native(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
}

bool MakeNonBlocking(SocketHandle s) { return NonBlocking(Native(s)); }

long long ReceiveSome(SocketHandle s, void* buffer, size_t n, int* code) {
    const int r = ::recv(Native(s), static_cast<char*>(buffer), static_cast<int>(std::min<size_t>(n, INT_MAX)), 0);
    if (r >= 0) return r;
    const int err = ::WSAGetLastError();
    if (err == WSAEWOULDBLOCK) return kSocketWouldBlock;
    if (code) *code = err;
    return kSocketFailed;
}

long long SendSome(SocketHandle s, const void* bytes, size_t n, int* code) {
    const int w = ::send(Native(s), static_cast<const char*>(bytes), static_cast<int>(std::min<size_t>(n, INT_MAX)), 0);
    if (w >= 0) return w;
    const int err = ::WSAGetLastError();
    if (err == WSAEWOULDBLOCK) return kSocketWouldBlock;
    if (code) *code = err;
    return kSocketFailed;
}

size_t BytesWaiting(SocketHandle s) {
    u_long unread = 0;
    return ::ioctlsocket(Native(s), FIONREAD, &unread) == 0 ? static_cast<size_t>(unread) : 0;
}

std::optional<SocketEnd> PeerEnd(SocketHandle s) { return EndOf(s, true); }
std::optional<SocketEnd> LocalEnd(SocketHandle s) { return EndOf(s, false); }

std::string NumericAddress(const std::string& text) {
    if (StartupCode() != 0) return {};
    in_addr v4{};
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) return std::string(reinterpret_cast<const char*>(&v4), 4);
    in6_addr v6{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6) == 1) return std::string(reinterpret_cast<const char*>(&v6), 16);
    return {};
}

std::vector<std::string> InterfaceAddresses() {
    std::vector<std::string> addresses;
    std::vector<unsigned char> buffer(16 * 1024);
    ULONG size = static_cast<ULONG>(buffer.size());
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    ULONG rc = ::GetAdaptersAddresses(AF_UNSPEC, flags, nullptr, list, &size);
    if (rc == ERROR_BUFFER_OVERFLOW) {
        buffer.resize(size);
        list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
        rc = ::GetAdaptersAddresses(AF_UNSPEC, flags, nullptr, list, &size);
    }
    if (rc != NO_ERROR) return addresses;
    for (const IP_ADAPTER_ADDRESSES* a = list; a; a = a->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u; u = u->Next) {
            const sockaddr* sa = u->Address.lpSockaddr;
            if (!sa) continue;
            if (sa->sa_family == AF_INET) {
                const in_addr& v4 = reinterpret_cast<const sockaddr_in*>(sa)->sin_addr;
                addresses.emplace_back(reinterpret_cast<const char*>(&v4), 4);
            } else if (sa->sa_family == AF_INET6) {
                const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr;
                addresses.emplace_back(reinterpret_cast<const char*>(&v6), 16);
            }
        }
    }
    return addresses;
}

std::string MachineName() {
    if (StartupCode() != 0) return {};
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

int WaitSockets(std::vector<SocketWait>& waits, int timeoutMs, int* code) {
    std::vector<WSAPOLLFD> fds;
    std::vector<size_t> index;
    fds.reserve(waits.size());
    for (size_t i = 0; i < waits.size(); ++i) {
        waits[i].ready = 0;
        if (waits[i].events == 0) continue;  // WSAPoll refuses an entry without events
        // Waiting for a hang-up alone while bytes wait unread: WSAPoll would report it readable
        // at once, every time, and the end of the stream cannot be seen behind the bytes.
        if (waits[i].events == kWaitHangUp && BytesWaiting(waits[i].handle) > 0) continue;
        fds.push_back({Native(waits[i].handle), PollEvents(waits[i].events), 0});
        index.push_back(i);
    }
    const int wait = std::max(timeoutMs, 0);
    if (fds.empty()) {
        ::Sleep(static_cast<DWORD>(wait));
        return 0;
    }
    const int r = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), wait);
    if (r == SOCKET_ERROR) {
        if (code) *code = ::WSAGetLastError();
        return -1;
    }
    int ready = 0;
    for (size_t k = 0; k < fds.size(); ++k) {
        SocketWait& w = waits[index[k]];
        w.ready = ReadyBits(fds[k], w.events);
        if (w.ready) ++ready;
    }
    return ready;
}

bool WaitSocket(SocketHandle s, uint8_t events, int timeoutMs) {
    std::vector<SocketWait> one{SocketWait{s, events, 0}};
    return WaitSockets(one, timeoutMs) > 0;
}

bool SocketWaker::open(std::string* error) {
    close();
    SocketHandle ends[2];
    if (!SocketPair(ends, error)) return false;
    read_ = ends[0];
    write_ = ends[1];
    return true;
}

void SocketWaker::wake() const {
    if (write_ == kNoSocket) return;
    const char b = 1;
    ::send(Native(write_), &b, 1, 0);  // a full pair is awake already
}

void SocketWaker::drain() const {
    char drained[64];
    while (read_ != kNoSocket && ::recv(Native(read_), drained, sizeof drained, 0) > 0) {
    }
}

void SocketWaker::close() {
    CloseSocket(read_);
    CloseSocket(write_);
}

}  // namespace pellory::platform
