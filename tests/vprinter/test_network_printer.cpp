// The virtual printer on the loopback network serves one connection at a time, as a printer's
// raw port does: a new connection waits its turn and never disturbs the one being served, and a
// port scan (connect and close, over and over) costs the served connection nothing.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "vprinter/virtual_printer.h"

namespace pellory::vprinter {
namespace {

using Clock = std::chrono::steady_clock;

const Bytes kProbe = {0x10, 0x04, 0x05};

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

uint16_t PortOf(const VirtualPrinter& printer) {
    const std::string& path = printer.slavePath();
    return static_cast<uint16_t>(std::stoi(path.substr(path.rfind(':') + 1)));
}

// A connection to 127.0.0.1:port, made within watchdogMs (-1 when it failed).
int Connect(uint16_t port, int watchdogMs = 10000) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t len = sizeof error;
        if (errno != EINPROGRESS || ::poll(&p, 1, watchdogMs) != 1 ||
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

// A host connection, as the program's network port makes one.
class Client {
public:
    explicit Client(uint16_t port) : fd_(Connect(port)) {}
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    bool connected() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    bool write(const Bytes& b) {
        size_t at = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (at < b.size()) {
            const ssize_t w = ::send(fd_, b.data() + at, b.size() - at, MSG_NOSIGNAL);
            if (w > 0) {
                at += static_cast<size_t>(w);
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (Clock::now() >= deadline) return false;
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
        return true;
    }
    // Up to n bytes that came within waitMs; closed() tells whether the printer hung up.
    Bytes read(size_t n, int waitMs) {
        Bytes out;
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        while (out.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            uint8_t buf[64];
            const ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (r > 0) {
                out.insert(out.end(), buf, buf + r);
            } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                closed_ = true;
                break;
            }
        }
        return out;
    }
    std::optional<uint8_t> probe(int waitMs = 5000) {
        if (!write(kProbe)) return std::nullopt;
        const Bytes a = read(1, waitMs);
        if (a.size() != 1) return std::nullopt;
        return a[0];
    }
    bool closed() const { return closed_; }

private:
    int fd_;
    bool closed_ = false;
};

class NetworkPrinter : public ::testing::Test {
protected:
    void SetUp() override {
        printer_.setRecording(true);
        std::string error;
        ASSERT_TRUE(printer_.start(VirtualPrinter::Transport::Tcp, &error)) << error;
        port_ = PortOf(printer_);
    }
    VirtualPrinter printer_;
    uint16_t port_ = 0;
};

TEST_F(NetworkPrinter, ASecondConnectionWaitsUntilTheFirstCloses) {
    Client first(port_);
    ASSERT_TRUE(first.connected());
    EXPECT_EQ(first.probe(), std::optional<uint8_t>(0x00));
    ASSERT_TRUE(first.write(Text("first ")));

    Client second(port_);
    ASSERT_TRUE(second.connected()) << "it is let in, to wait";
    ASSERT_TRUE(second.write(Cat({Text("second "), kProbe})));

    // The first goes on printing and being answered as if nothing happened.
    ASSERT_TRUE(first.write(Text("page")));
    EXPECT_EQ(first.probe(), std::optional<uint8_t>(0x00));
    EXPECT_FALSE(first.closed());
    EXPECT_TRUE(second.read(1, 300).empty()) << "the second is not served yet";
    EXPECT_FALSE(second.closed());
    const Bytes firstBytes = Cat({kProbe, Text("first "), Text("page"), kProbe});
    ASSERT_TRUE(printer_.waitForBytes(firstBytes.size(), 5000));
    EXPECT_EQ(printer_.received(), firstBytes) << "nothing of the second yet";

    // Once the first closes, the second is served: its waiting bytes first, in order.
    first.close();
    EXPECT_EQ(second.read(1, 5000), Bytes{0x00});
    EXPECT_EQ(second.probe(), std::optional<uint8_t>(0x00));
    const Bytes all = Cat({firstBytes, Text("second "), kProbe, kProbe});
    ASSERT_TRUE(printer_.waitForBytes(all.size(), 5000)) << printer_.receivedCount();
    EXPECT_EQ(printer_.received(), all);
    EXPECT_EQ(printer_.answeredRequests(), 4u);
}

// A scanner connects and closes 2,000 times (half of them with a reset) while the host probes.
TEST_F(NetworkPrinter, APortScanDuringProbesCostsTheServedConnectionNothing) {
    constexpr int kScans = 2000;
    Client host(port_);
    ASSERT_TRUE(host.connected());
    ASSERT_EQ(host.probe(), std::optional<uint8_t>(0x00));

    std::atomic<bool> scanning{true};
    std::atomic<int> refused{0}, scanned{0};
    const auto t0 = Clock::now();
    const auto giveUp = t0 + std::chrono::seconds(30);
    std::thread scanner([&] {
        for (int i = 0; i < kScans && Clock::now() < giveUp; ++i, ++scanned) {
            const int fd = Connect(port_);
            if (fd < 0) {
                ++refused;
                continue;
            }
            if (i % 2) {
                const linger reset{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            }
            ::close(fd);
        }
        scanning = false;
    });
    int probes = 1, unanswered = 0;
    while (scanning && !host.closed()) {
        if (host.probe() != std::optional<uint8_t>(0x00)) ++unanswered;
        ++probes;
    }
    scanner.join();
    const auto took = Clock::now() - t0;
    EXPECT_EQ(unanswered, 0) << "of " << probes << " probes";
    EXPECT_FALSE(host.closed());
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(scanned, kScans);
    EXPECT_LT(took, std::chrono::seconds(30)) << "the scan is never held up";

    // The host is still served; after it, a new connection is served at once, no scan in its way.
    EXPECT_EQ(host.probe(), std::optional<uint8_t>(0x00));
    host.close();
    Client next(port_);
    ASSERT_TRUE(next.connected());
    EXPECT_EQ(next.probe(), std::optional<uint8_t>(0x00));
    Bytes expected;
    for (int i = 0; i < probes + 2; ++i) expected.insert(expected.end(), kProbe.begin(), kProbe.end());
    ASSERT_TRUE(printer_.waitForBytes(expected.size(), 5000));
    EXPECT_EQ(printer_.received(), expected) << "only the hosts' bytes";
}

}  // namespace
}  // namespace pellory::vprinter
