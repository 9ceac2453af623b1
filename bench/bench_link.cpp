// Throughput of the link's send path: Send (through the send buffer and the writer thread) to a
// virtual printer's reader, next to a plain write() loop to the same kind of pseudo-terminal;
// and the same over the loopback network, next to a plain send() loop to the same kind of peer.
// Target: the link moves 8 MiB to a loopback peer at no less than 0.8 times the plain loop.
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
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

void BM_LinkSendTcp(benchmark::State& state) {
    const size_t chunk = static_cast<size_t>(state.range(0));
    const auto data = Payload(chunk);
    vprinter::VirtualPrinter printer;
    if (!printer.start(vprinter::VirtualPrinter::Transport::Tcp)) {
        state.SkipWithError("no loopback socket");
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

void BM_PlainSendTcp(benchmark::State& state) {
    const size_t chunk = static_cast<size_t>(state.range(0));
    const auto data = Payload(chunk);
    vprinter::VirtualPrinter printer;
    if (!printer.start(vprinter::VirtualPrinter::Transport::Tcp)) {
        state.SkipWithError("no loopback socket");
        return;
    }
    const std::string entry = printer.slavePath();  // tcp://127.0.0.1:PORT
    const int port = std::stoi(entry.substr(entry.rfind(':') + 1));
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        state.SkipWithError("connect failed");
        ::close(fd);
        return;
    }
    for (auto _ : state) {
        printer.clearReceived();
        for (size_t sent = 0; sent < kStream; sent += chunk) {
            size_t done = 0;
            while (done < chunk) {
                const ssize_t w = ::send(fd, data.data() + done, chunk - done, MSG_NOSIGNAL);
                if (w > 0) done += static_cast<size_t>(w);
            }
        }
        if (!printer.waitForBytes(kStream, 60000)) state.SkipWithError("stream incomplete");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStream));
    ::close(fd);
}

}  // namespace

BENCHMARK(BM_LinkSendTcp)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainSendTcp)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LinkSend)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainWrite)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
