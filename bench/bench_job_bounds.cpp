// What hostile jobs cost the printer server's writer, against a normal receipt: each job's pictures
// and decoding written by WriteJobOutput (the recorder's step for one job) into a folder under
// /tmp, removed afterwards, with the bounds "pellory-cli serve" has by default. Counters: "out_MB"
// (the files' bytes), "files", "writer_ms" (wall time of the step) and "receipts"; "cut" is 1 when
// the job was cut short by a bound.
//
//   BM_HostileJob/0  150 kB of ESC d 255 (50,000 feeds of 255 lines)
//   BM_HostileJob/1  100,000 cuts, each after a feed of 8 dots (400 kB)
//   BM_HostileJob/2  4 MiB of NUL
//   BM_HostileJob/3  4 kB of text eight times the size, no line feed
//   BM_HostileJob/4  a normal receipt of some 10 KB
//
// BM_BoundOverrun: how far past a bound the writer goes. "time_overrun_ms": the 100,000 cuts with no
// bound of pictures and a bound of 500 ms of writing, the step's time less 500 ms; "stop_overrun_ms":
// the same job without bounds, the server's stop asked 200 ms into it, the step's time less 200 ms.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "jobs/job_render.h"

namespace {

using namespace pellory;
using Clock = std::chrono::steady_clock;

std::string Repeat(const std::string& s, size_t times) {
    std::string out;
    out.reserve(s.size() * times);
    for (size_t i = 0; i < times; ++i) out += s;
    return out;
}

std::string NormalReceipt() {
    std::string r = "\x1b@\x1b\x61\x01STORE 1\n\x1b\x61";
    r += '\0';
    for (int i = 0; r.size() < 9900; ++i)
        r += "Item " + std::to_string(i) + "   qty 1   " + std::to_string(100 + i) + ".00\n";
    return r + std::string("\x1d\x56\x42\x00", 4);
}

std::string Job(int64_t which) {
    switch (which) {
        case 0:
            return Repeat("\x1b\x64\xff", 50000);
        case 1:
            return Repeat(std::string("\x1d\x56\x42\x08", 4), 100000);
        case 2:
            return std::string(4u << 20, '\0');
        case 3:
            return "\x1d\x21\x77" + std::string(4000, 'W');
        default:
            return NormalReceipt();
    }
}

struct Made {
    double ms = 0;
    uint64_t bytes = 0;
    size_t files = 0;
    jobs::JobOutput out;
};

// stopAfter: the server's stop is asked for that long after the step began (0: never).
Made WriteOnce(const std::string& stream, const jobs::JobBounds& bounds,
               std::chrono::milliseconds stopAfter = std::chrono::milliseconds(0)) {
    const std::string folder = "/tmp/pellory_bench_bounds_" + std::to_string(::getpid());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::vector<uint8_t> bytes(stream.begin(), stream.end());
    Made m;
    const auto start = Clock::now();
    std::function<bool()> stop;
    if (stopAfter.count() > 0) stop = [&] { return Clock::now() - start > stopAfter; };
    m.out = jobs::WriteJobOutput(bytes, 576, folder, bounds, stop, [](const std::string&, const std::string&) {});
    m.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++m.files;
        m.bytes += entry.file_size();
    }
    std::filesystem::remove_all(folder);
    return m;
}

void BM_HostileJob(benchmark::State& state) {
    const std::string stream = Job(state.range(0));
    Made m;
    for (auto _ : state) m = WriteOnce(stream, jobs::kDefaultJobBounds);
    state.counters["in_kB"] = static_cast<double>(stream.size()) / 1000;
    state.counters["out_MB"] = static_cast<double>(m.bytes) / 1e6;
    state.counters["files"] = static_cast<double>(m.files);
    state.counters["writer_ms"] = m.ms;
    state.counters["receipts"] = static_cast<double>(m.out.receipts);
    state.counters["cut"] = m.out.cutShort.empty() ? 0 : 1;
}
BENCHMARK(BM_HostileJob)->DenseRange(0, 4)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_BoundOverrun(benchmark::State& state) {
    const std::string cuts = Job(1);
    double time = 0, stop = 0;
    for (auto _ : state) {
        time = WriteOnce(cuts, {0, 0, std::chrono::milliseconds(500)}).ms - 500;
        stop = WriteOnce(cuts, {}, std::chrono::milliseconds(200)).ms - 200;
    }
    state.counters["time_overrun_ms"] = time;
    state.counters["stop_overrun_ms"] = stop;
}
BENCHMARK(BM_BoundOverrun)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
