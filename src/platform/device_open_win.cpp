// Connecting to network printers through Winsock (see device_open_win.h).
#include "platform/device_open_win.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/decimal_text.h"
#include "platform/device_kind.h"
#include "platform/name_lookup_hook.h"
#include "platform/stop_request.h"

namespace pellory::platform::detail {

namespace {

using Clock = std::chrono::steady_clock;

// How long one address of a host name has to connect before the next one is tried beside it.
constexpr int kNextAddressAfterMs = 250;
// The longest a name lookup or a connect waits before it looks at the program's stop request.
constexpr int kStopCheckMs = 10;
constexpr const char* kStoppedReason = "stopped";
// A network printer's socket keeps at most this much unsent data (see the POSIX opener).
constexpr int kSendBufferBytes = 64 * 1024;

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

// One address to try.
struct Candidate {
    int family = AF_UNSPEC;
    int socktype = SOCK_STREAM;
    int protocol = 0;
    sockaddr_storage address{};
    int length = 0;
};

void AppendCandidates(const addrinfo* list, std::vector<Candidate>& out) {
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
        Candidate c;
        c.family = ai->ai_family;
        c.socktype = ai->ai_socktype;
        c.protocol = ai->ai_protocol;
        std::memcpy(&c.address, ai->ai_addr, ai->ai_addrlen);
        c.length = static_cast<int>(ai->ai_addrlen);
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

// Resolves within timeoutMs on a helper thread that ends by itself when the name service
// answers; a caller that stopped waiting leaves it the shared record.
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

std::string NumericAddress(const Candidate& c) {
    char host[NI_MAXHOST] = {};
    char port[NI_MAXSERV] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&c.address), c.length, host, sizeof host, port, sizeof port,
                      NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    NetworkAddress a;
    a.host = host;
    a.port = static_cast<uint16_t>(ReadDigits(port, 5).value_or(0));
    return AddressText(a);
}

struct Attempt {
    SOCKET socket = INVALID_SOCKET;
    std::string where;
};

void ConnectFailure(int error, const std::string& where, const std::string& seconds, OpenedSocket& out) {
    switch (error) {
        case WSAECONNREFUSED:
            out.reason = "connection refused by " + where;
            out.result = SerialResult::NotFound;
            break;
        case WSAETIMEDOUT:
            out.reason = "no answer from " + where + " in " + seconds;
            out.result = SerialResult::Timeout;
            break;
        case WSAENETUNREACH:
        case WSAEHOSTUNREACH:
            out.reason = where + " is unreachable";
            out.result = SerialResult::NotFound;
            break;
        default:
            out.reason = "cannot connect to " + where + ": Winsock error " + std::to_string(error);
            out.result = SerialResult::IoError;
            break;
    }
}

// Starts connecting to c on a non-blocking socket; INVALID_SOCKET with error set when it failed
// at once, error 0 when it connected at once.
SOCKET StartAttempt(const Candidate& c, int& error) {
    error = 0;
    const SOCKET s = ::socket(c.family, c.socktype, c.protocol);
    if (s == INVALID_SOCKET) {
        error = ::WSAGetLastError();
        return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&c.address), c.length) == 0) return s;
    error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS) return s;
    ::closesocket(s);
    return INVALID_SOCKET;
}

}  // namespace

bool StartWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

OpenedSocket ConnectNetwork(const std::string& entry, uint32_t timeoutMs) {
    OpenedSocket out;
    std::string parseError;
    const std::optional<NetworkAddress> address = ParseNetworkAddress(entry, &parseError);
    if (!address) {
        out.result = SerialResult::InvalidArgument;
        out.reason = parseError;
        return out;
    }
    if (!StartWinsock()) {
        out.result = SerialResult::Unsupported;
        out.reason = "the network (Winsock) cannot be started";
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
        } else if (status == 0 || status == EAI_NONAME || status == EAI_FAIL || status == WSANO_DATA) {
            out.reason = "unknown host " + host;
        } else {
            out.reason = "cannot look up " + host + ": Winsock error " + std::to_string(status);
        }
        return out;
    }

    // The addresses in the name service's order, each given a head start before the next one
    // joins in; the first connection made wins. All within the one time limit.
    std::vector<Attempt> attempts;
    size_t next = 0;
    auto nextStart = Clock::now();
    OpenedSocket failure = out;
    failure.result = SerialResult::NotFound;
    auto dropAll = [&attempts] {
        for (const Attempt& a : attempts) ::closesocket(a.socket);
        attempts.clear();
    };
    auto connected = [&](SOCKET s) {
        const BOOL on = TRUE;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
        const int buffer = kSendBufferBytes;
        ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
        out.socket = s;
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
            const std::string where = NumericAddress(c);
            int error = 0;
            const SOCKET s = StartAttempt(c, error);
            if (s != INVALID_SOCKET && error == 0) {
                dropAll();
                return connected(s);
            }
            if (s != INVALID_SOCKET) {
                attempts.push_back({s, where});
                nextStart = Clock::now() + std::chrono::milliseconds(kNextAddressAfterMs);
            } else {
                ConnectFailure(error, where, seconds, failure);
            }
            continue;
        }
        if (attempts.empty()) break;  // every address failed
        int wait = MsLeft(deadline);
        if (wait == 0) {
            ConnectFailure(WSAETIMEDOUT, attempts.front().where, seconds, failure);
            dropAll();
            break;
        }
        if (next < candidates.size()) wait = std::min(wait, MsLeft(nextStart) + 1);
        wait = std::min(wait, kStopCheckMs);
        std::vector<WSAPOLLFD> polled;
        for (const Attempt& a : attempts) polled.push_back({a.socket, POLLOUT, 0});
        const int r = ::WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), wait);
        if (r <= 0) continue;
        for (size_t i = polled.size(); i-- > 0;) {
            if (polled[i].revents == 0) continue;
            int error = 0;
            int len = sizeof error;
            if (::getsockopt(polled[i].fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0) {
                error = ::WSAGetLastError();
            }
            if (error == 0 && (polled[i].revents & POLLOUT)) {
                const SOCKET s = attempts[i].socket;
                attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(i));
                dropAll();
                return connected(s);
            }
            ConnectFailure(error == 0 ? WSAECONNREFUSED : error, attempts[i].where, seconds, failure);
            ::closesocket(attempts[i].socket);
            attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(i));
            if (attempts.empty()) nextStart = Clock::now();
        }
    }
    return failure;
}

}  // namespace pellory::platform::detail
