// The printer server under load, in this process (the server's own threads, clients on threads of
// their own), measured on the loopback network.
//
// BM_ServerBurst: 64 connections at once, each sending a 10 KB receipt and closing. Counters:
// "lost" jobs (sent but not handed to the sink), "median_ms" and "p99_ms" from a client's close to
// its job reaching the sink (the job recorder's work, writing files, comes on top).
// BM_ServerOpenConnections: 64 connections open, each having sent 10 KB, not closed. "rss_MB" is
// the growth of this process's resident size while they are open (1 MB = 1,000,000 bytes).
// BM_ServerIdle: a started server with nothing to do for 2 s. "cpu_percent" is the process's CPU
// time (user and system) over the wall time, as a percentage of one core.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/server_clients.h"
#include "vprinter/printer_server.h"

namespace {

using namespace pellory;
using Clock = std::chrono::steady_clock;

constexpr size_t kConnections = 64;

test::Bytes Receipt() {
    test::Bytes r = test::HexBytes("1B 40 1B 61 01 1D 21 11");
    const std::string line = "Item                          1.00\n";
    while (r.size() < 10000) r.insert(r.end(), line.begin(), line.end());
    const test::Bytes cut = test::HexBytes("1D 56 42 00");
    r.insert(r.end(), cut.begin(), cut.end());
    return r;
}

long ResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6) * 1024;
    }
    return -1;
}

uint16_t LocalPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

void BM_ServerBurst(benchmark::State& state) {
    const test::Bytes receipt = Receipt();
    std::vector<double> latencies;
    size_t lost = 0;
    for (auto _ : state) {
        vprinter::ServerOptions o;
        o.listen.push_back({"127.0.0.1", 0});
        o.maxConnections = kConnections;
        vprinter::PrinterServer server(o);
        std::mutex m;
        std::map<std::string, Clock::time_point> arrived;
        server.setJobSink([&](vprinter::FinishedJob& job, vprinter::HandOver) {
            const auto now = Clock::now();
            std::lock_guard<std::mutex> lock(m);
            arrived[job.source] = now;
            return true;
        });
        std::string error;
        if (!server.start(&error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        const uint16_t port = server.boundAddresses().at(0).port;
        std::vector<std::pair<std::string, Clock::time_point>> closed(kConnections);
        std::vector<std::thread> clients;
        for (size_t i = 0; i < kConnections; ++i) {
            clients.emplace_back([&, i] {
                test::PeerSocket s("127.0.0.1", port);
                if (!s.ok() || !s.send(receipt)) return;
                closed[i].first = "tcp:127.0.0.1:" + std::to_string(LocalPort(s.fd()));
                s.close();
                closed[i].second = Clock::now();
            });
        }
        for (std::thread& t : clients) t.join();
        test::WaitUntil([&] { return server.jobsFinished() >= kConnections; }, 20000);
        server.stop();
        std::lock_guard<std::mutex> lock(m);
        for (const auto& [source, at] : closed) {
            const auto it = arrived.find(source);
            if (source.empty() || it == arrived.end()) {
                ++lost;
                continue;
            }
            latencies.push_back(std::max(0.0, std::chrono::duration<double, std::milli>(it->second - at).count()));
        }
    }
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) { return latencies.empty() ? -1.0 : latencies[static_cast<size_t>(q * double(latencies.size() - 1))]; };
    state.counters["lost"] = static_cast<double>(lost);
    state.counters["median_ms"] = at(0.5);
    state.counters["p99_ms"] = at(0.99);
}
BENCHMARK(BM_ServerBurst)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ServerOpenConnections(benchmark::State& state) {
    const test::Bytes receipt = Receipt();
    for (auto _ : state) {
        vprinter::ServerOptions o;
        o.listen.push_back({"127.0.0.1", 0});
        o.maxConnections = kConnections;
        vprinter::PrinterServer server(o);
        std::string error;
        if (!server.start(&error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        const long before = ResidentBytes();
        std::vector<std::unique_ptr<test::PeerSocket>> open;
        for (size_t i = 0; i < kConnections; ++i) {
            open.push_back(std::make_unique<test::PeerSocket>("127.0.0.1", server.boundAddresses().at(0).port));
            open.back()->send(receipt);
        }
        test::WaitUntil([&] { return server.openConnections() == kConnections; }, 20000);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        state.counters["rss_MB"] = static_cast<double>(ResidentBytes() - before) / 1e6;
        open.clear();
        server.stop();
    }
}
BENCHMARK(BM_ServerOpenConnections)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void BM_ServerIdle(benchmark::State& state) {
    for (auto _ : state) {
        vprinter::ServerOptions o;
        o.listen.push_back({"127.0.0.1", 0});
        o.listen.push_back({"", 0});
        vprinter::PrinterServer server(o);
        std::string error;
        if (!server.start(&error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        const double cpu = CpuSeconds();
        const auto wall = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double used = CpuSeconds() - cpu;
        const double seconds = std::chrono::duration<double>(Clock::now() - wall).count();
        state.counters["cpu_percent"] = 100.0 * used / seconds;
        server.stop();
    }
}
BENCHMARK(BM_ServerIdle)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
