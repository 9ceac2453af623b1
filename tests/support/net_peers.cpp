#include "support/net_peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <fstream>
#include <sstream>
#include <utility>

namespace pellory::test {

namespace {

using Clock = std::chrono::steady_clock;

bool WaitUntil(const std::atomic<bool>& flag, uint32_t watchdogMs) {
    const auto until = Clock::now() + std::chrono::milliseconds(watchdogMs);
    while (!flag.load()) {
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace

LoopbackListener::LoopbackListener(const std::string& address, uint16_t port, int backlog, int receiveBuffer)
    : address_(address) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    socklen_t len = sizeof a;
    if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 ||
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0 || ::listen(fd_, backlog) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    port_ = ntohs(a.sin_port);
}

LoopbackListener::~LoopbackListener() {
    if (fd_ >= 0) ::close(fd_);
}

std::string LoopbackListener::entry() const { return "tcp://" + address_ + ":" + std::to_string(port_); }

int LoopbackListener::accept(int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (fd_ < 0 || ::poll(&p, 1, ms) != 1) return -1;
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

Blackhole::Blackhole(const std::string& address, uint16_t port) : listener_(address, port, 0) {
    if (!listener_.ok()) return;
    // One connection fills a queue of length 0; the system completes it without an accept.
    filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(listener_.port());
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    if (filler_ < 0 || ::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (filler_ >= 0) ::close(filler_);
        filler_ = -1;
    }
}

Blackhole::~Blackhole() {
    if (filler_ >= 0) ::close(filler_);
}

bool ConnectingTo(uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        const size_t colon = remote.find(':');
        if (colon == std::string::npos) continue;
        const unsigned long remotePort = std::strtoul(remote.c_str() + colon + 1, nullptr, 16);
        if (remotePort == port && state == "02") return true;  // TCP_SYN_SENT
    }
    return false;
}

NetworkPrinterPeer::NetworkPrinterPeer(Options options)
    : options_(std::move(options)), listener_("127.0.0.1", 0, 8, options_.receiveBuffer) {
    thread_ = std::thread([this] { Run(); });
}

NetworkPrinterPeer::~NetworkPrinterPeer() {
    run_ = false;
    if (thread_.joinable()) thread_.join();
}

bool NetworkPrinterPeer::WaitForBytes(size_t n, uint32_t watchdogMs) const {
    const auto until = Clock::now() + std::chrono::milliseconds(watchdogMs);
    while (received_.load() < n) {
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool NetworkPrinterPeer::WaitForEnd(uint32_t watchdogMs) const { return WaitUntil(ended_, watchdogMs); }

void NetworkPrinterPeer::Run() {
    int conn = -1;
    while (run_ && conn < 0) conn = listener_.accept(20);
    if (conn < 0) return;
    if (options_.closeAtOnce) {
        ::close(conn);
        ended_ = true;
        return;
    }
    std::deque<Clock::time_point> replies;  // when each pending answer is due
    uint8_t last[3] = {};
    std::vector<uint8_t> buf(1 << 16);
    auto nextTick = Clock::now();
    while (run_) {
        const auto now = Clock::now();
        while (!replies.empty() && replies.front() <= now) {
            replies.pop_front();
            if (!options_.reply.empty() &&
                ::send(conn, options_.reply.data(), options_.reply.size(), MSG_NOSIGNAL) < 0) {
                break;
            }
        }
        if (ended_ || (paused_ && !free_)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        size_t want = buf.size();
        if (!free_ && options_.readPerTick > 0) {
            if (now < nextTick) {
                std::this_thread::sleep_for(std::min<Clock::duration>(nextTick - now, std::chrono::milliseconds(2)));
                continue;
            }
            want = std::min(want, options_.readPerTick);
            nextTick = now + std::chrono::milliseconds(10);
        }
        pollfd p{conn, POLLIN, 0};
        if (::poll(&p, 1, 2) <= 0) continue;
        const ssize_t n = ::recv(conn, buf.data(), want, 0);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            reset_ = n < 0 && errno == ECONNRESET;
            ended_ = true;
            continue;
        }
        received_ += static_cast<size_t>(n);
        for (ssize_t i = 0; i < n; ++i) {
            last[0] = last[1];
            last[1] = last[2];
            last[2] = buf[static_cast<size_t>(i)];
            if (last[0] == 0x10 && last[1] == 0x04 && last[2] == 0x05) {
                ++requests_;
                last[2] = 0;
                replies.push_back(Clock::now() + std::chrono::milliseconds(options_.replyDelayMs));
            }
        }
    }
    ::close(conn);
}

}  // namespace pellory::test
