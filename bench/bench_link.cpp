// Throughput of the link's send path: Send (through the send buffer and the writer thread) to a
// virtual printer's reader, next to a plain write() loop to the same kind of pseudo-terminal;
// and over the loopback network to a peer that only reads, next to a plain send() loop to the
// same kind of peer. Target: the link moves 8 MiB to a loopback peer at no less than 0.8 times
// the plain loop's rate in the same run (BM_TcpSendRatio reports the ratio).
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/port_settings.h"
#include "link/serial_engine.h"
#include "platform/port_map.h"
#include "vprinter/virtual_printer.h"

using namespace pellory;

namespace {

constexpr size_t kStream = 8u << 20;
constexpr int kCom = 77;

std::vector<uint8_t> Payload(size_t n) {
    // Printable bytes only, so the printer never sees a status request in the stream.
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(0x20 + i % 0x5F);
    return v;
}

void BM_LinkSend(benchmark::State& state) {
    const size_t chunk = static_cast<size_t>(state.range(0));
    const auto data = Payload(chunk);
    vprinter::VirtualPrinter printer;
    if (!printer.start()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    platform::PortMap::instance().setOverride(kCom, printer.slavePath());
    link::ResetPortSettings();
    link::CSerialEngine engine;
    engine.SetFlags(link::kPageLinkFlags);
    if (!engine.Open(kCom, 8, 0, 0)) {
        state.SkipWithError("open failed");
        return;
    }
    for (auto _ : state) {
        printer.clearReceived();
        for (size_t sent = 0; sent < kStream; sent += chunk) engine.Send(data.data(), chunk);
        if (!printer.waitForBytes(kStream, 60000)) state.SkipWithError("stream incomplete");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStream));
    engine.Close(500);
    platform::PortMap::instance().clearOverride(kCom);
}

void BM_PlainWrite(benchmark::State& state) {
    const size_t chunk = static_cast<size_t>(state.range(0));
    const auto data = Payload(chunk);
    vprinter::VirtualPrinter printer;
    if (!printer.start()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const int fd = ::open(printer.slavePath().c_str(), O_RDWR | O_NOCTTY);
    for (auto _ : state) {
        printer.clearReceived();
        for (size_t sent = 0; sent < kStream; sent += chunk) {
            size_t done = 0;
            while (done < chunk) {
                const ssize_t w = ::write(fd, data.data() + done, chunk - done);
                if (w > 0) done += static_cast<size_t>(w);
            }
        }
        if (!printer.waitForBytes(kStream, 60000)) state.SkipWithError("stream incomplete");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStream));
    ::close(fd);
}

// --- over the loopback network, to a peer that only reads ---

// A loopback peer that takes every byte sent to it and counts it, nothing more: both sides of
// the comparison below send to one of these, so the peer costs both the same.
class SinkPeer {
public:
    SinkPeer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ok_ = listener_ >= 0 && ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) == 0 && ::listen(listener_, 1) == 0;
        port_ = ntohs(a.sin_port);
        if (ok_) reader_ = std::thread([this] { Run(); });
    }
    ~SinkPeer() {
        stop_ = true;
        if (reader_.joinable()) reader_.join();
        if (listener_ >= 0) ::close(listener_);
    }
    bool ok() const { return ok_; }
    uint16_t port() const { return port_; }
    std::string entry() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
    uint64_t received() {
        std::lock_guard<std::mutex> lock(m_);
        return received_;
    }
    // Waits until the peer has taken total bytes in all (false after ms).
    bool waitFor(uint64_t total, int ms) {
        std::unique_lock<std::mutex> lock(m_);
        target_ = total;
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return received_ >= total; });
    }

private:
    // One connection at a time, read until it closes; polls so that the stop flag is seen.
    void Run() {
        std::vector<char> buf(1 << 16);
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int conn = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (conn < 0) continue;
            while (!stop_) {
                pollfd q{conn, POLLIN, 0};
                if (::poll(&q, 1, 50) <= 0) continue;
                const ssize_t r = ::read(conn, buf.data(), buf.size());
                if (r <= 0) break;
                std::lock_guard<std::mutex> lock(m_);
                received_ += static_cast<uint64_t>(r);
                if (received_ >= target_) cv_.notify_all();
            }
            ::close(conn);
        }
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::mutex m_;
    std::condition_variable cv_;
    uint64_t received_ = 0;
    uint64_t target_ = ~uint64_t{0};
    std::thread reader_;
};

// The link on a network printer entry: Send, the send buffer and the writer thread.
class LinkSender {
public:
    explicit LinkSender(const SinkPeer& peer) {
        platform::PortMap::instance().setOverride(kCom, peer.entry());
        link::ResetPortSettings();
        engine_.SetFlags(link::kPageLinkFlags);
        ok_ = engine_.Open(kCom, 8, 0, 0);
    }
    ~LinkSender() {
        engine_.Close(500);
        platform::PortMap::instance().clearOverride(kCom);
    }
    bool ok() const { return ok_; }
    void send(const std::vector<uint8_t>& data, size_t total) {
        for (size_t sent = 0; sent < total; sent += data.size()) engine_.Send(data.data(), data.size());
    }

private:
    link::CSerialEngine engine_;
    bool ok_ = false;
};

// A plain blocking socket set up as the link's own (TCP_NODELAY, a 64 KiB send buffer that takes
// a write while less than 16 KiB of it is unsent), written in a send() loop.
class PlainSender {
public:
    explicit PlainSender(const SinkPeer& peer) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(peer.port());
        const int on = 1;
        const int sendBuffer = 64 * 1024;
        const int unsentLowMark = 16 * 1024;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &unsentLowMark, sizeof unsentLowMark);
        ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~PlainSender() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return ok_; }
    void send(const std::vector<uint8_t>& data, size_t total) {
        for (size_t sent = 0; sent < total; sent += data.size()) {
            size_t done = 0;
            while (done < data.size()) {
                const ssize_t w = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
                if (w > 0) done += static_cast<size_t>(w);
            }
        }
    }

private:
    int fd_ = -1;
    bool ok_ = false;
};

// Sends kStream bytes and waits until the peer has taken them all; the seconds it took.
template <typename Sender>
double TimedStream(Sender& sender, SinkPeer& peer, const std::vector<uint8_t>& data, bool& complete) {
    const uint64_t before = peer.received();
    const auto start = std::chrono::steady_clock::now();
    sender.send(data, kStream);
    complete = peer.waitFor(before + kStream, 60000);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <typename Sender>
void SendToLoopbackPeer(benchmark::State& state) {
    const auto data = Payload(static_cast<size_t>(state.range(0)));
    SinkPeer peer;
    Sender sender(peer);
    if (!peer.ok() || !sender.ok()) {
        state.SkipWithError("no loopback connection");
        return;
    }
    for (auto _ : state) {
        bool complete = false;
        state.SetIterationTime(TimedStream(sender, peer, data, complete));
        if (!complete) state.SkipWithError("stream incomplete");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStream));
}

void BM_LinkSendTcp(benchmark::State& state) { SendToLoopbackPeer<LinkSender>(state); }
void BM_PlainSendTcp(benchmark::State& state) { SendToLoopbackPeer<PlainSender>(state); }

// Both in turn in every iteration, each to a peer of its own, so that both meet the same load of
// the machine. "ratio" is the link's throughput over the plain loop's, from the sums of all
// iterations; the target is at least 0.8.
void BM_TcpSendRatio(benchmark::State& state) {
    const auto data = Payload(static_cast<size_t>(state.range(0)));
    SinkPeer linkPeer, plainPeer;
    LinkSender link(linkPeer);
    PlainSender plain(plainPeer);
    if (!linkPeer.ok() || !plainPeer.ok() || !link.ok() || !plain.ok()) {
        state.SkipWithError("no loopback connection");
        return;
    }
    double linkSeconds = 0, plainSeconds = 0;
    for (auto _ : state) {
        bool linkComplete = false, plainComplete = false;
        linkSeconds += TimedStream(link, linkPeer, data, linkComplete);
        plainSeconds += TimedStream(plain, plainPeer, data, plainComplete);
        if (!linkComplete || !plainComplete) state.SkipWithError("stream incomplete");
    }
    const double mib = static_cast<double>(state.iterations()) * static_cast<double>(kStream) / (1 << 20);
    state.counters["link_MiBps"] = mib / linkSeconds;
    state.counters["plain_MiBps"] = mib / plainSeconds;
    state.counters["ratio"] = plainSeconds / linkSeconds;
}

}  // namespace

BENCHMARK(BM_LinkSendTcp)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_PlainSendTcp)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_TcpSendRatio)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_LinkSend)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainWrite)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
