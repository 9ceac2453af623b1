// Memory of the program's own virtual printers over long streams: line feeds, raster images
// (GS v 0, 3 MiB each) and random bytes (tests/support/printer_streams.h).
//
// BM_CliReceipt/<kind>/<MiB>: pellory-cli --virtual-printer --receipt out.png send-file FILE, in a
// child process of its own; "peak_MB" is how much its peak resident size (VmHWM) grew over the
// run (1 MB = 1,000,000 bytes).
// BM_WindowPrinter/<kind>/<MiB> and BM_Printer/<kind>/<MiB>: the window program's printer, with
// its "Virtual Printer" window (offscreen) or alone, in a child process; this process writes the
// stream to it. "rss_MB" is the growth of the child's resident size (VmRSS) once every byte was
// taken (by the window: on its paper), "peak_MB" the growth of its peak.
// Each benchmark runs once.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QByteArray>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/virtual_printer_window.h"
#include "cli/cli.h"
#include "support/printer_streams.h"
#include "vprinter/virtual_printer.h"

namespace {

using namespace pellory;
using test::StreamKind;

constexpr size_t kMiB = 1u << 20;

long StatusBytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size()) * 1024;
    }
    return -1;
}

std::string TempPath(const std::string& name) { return "/tmp/pellory_bench_vprinter_" + std::to_string(::getpid()) + "_" + name; }

// Writes mib MiB of the stream to path.
bool WriteStreamFile(const std::string& path, StreamKind kind, size_t mib) {
    std::ofstream file(path, std::ios::binary);
    test::PrinterStream stream(kind);
    std::vector<uint8_t> chunk(kMiB);
    for (size_t i = 0; i < mib && file; ++i) {
        stream.next(chunk.data(), chunk.size());
        file.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
    }
    return static_cast<bool>(file);
}

// Runs child in a process of its own; what it wrote to its result pipe (two longs), or -1s.
struct ChildResult {
    long a = -1, b = -1;
};
template <typename Child, typename Parent>
ChildResult RunChild(const Child& child, const Parent& parent) {
    int toParent[2], toChild[2];
    if (::pipe(toParent) != 0 || ::pipe(toChild) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(toParent[0]);
        ::close(toChild[1]);
        const ChildResult r = child(toParent[1], toChild[0]);
        const long out[2] = {r.a, r.b};
        if (::write(toParent[1], out, sizeof out) != sizeof out) ::_exit(2);
        ::_exit(0);
    }
    ::close(toParent[1]);
    ::close(toChild[0]);
    ChildResult r;
    if (pid > 0) {
        parent(toParent[0], toChild[1]);
        long in[2];
        if (::read(toParent[0], in, sizeof in) == sizeof in) r = {in[0], in[1]};
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    ::close(toParent[0]);
    ::close(toChild[1]);
    return r;
}

void BM_CliReceipt(benchmark::State& state) {
    const auto kind = static_cast<StreamKind>(state.range(0));
    const auto mib = static_cast<size_t>(state.range(1));
    const std::string input = TempPath("stream.bin");
    const std::string png = TempPath("receipt.png");
    if (!WriteStreamFile(input, kind, mib)) {
        state.SkipWithError("cannot write the stream file");
        return;
    }
    ChildResult r;
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        r = RunChild(
            [&](int, int) {
                const long before = StatusBytes("VmHWM");
                std::ostringstream out, err;
                const int code = app::RunCli({"--virtual-printer", "--port", "COM97", "--receipt", png, "send-file", input}, out, err);
                if (code != 0) std::fprintf(stderr, "pellory-cli: %d %s\n", code, err.str().c_str());
                return ChildResult{code == 0 ? StatusBytes("VmHWM") - before : -1, 0};
            },
            [](int, int) {});
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    std::remove(input.c_str());
    std::remove(png.c_str());
    if (r.a < 0) {
        state.SkipWithError("the send failed");
        return;
    }
    state.SetLabel(test::StreamKindName(kind));
    state.counters["peak_MB"] = static_cast<double>(r.a) / 1e6;
    state.counters["stream_MB"] = static_cast<double>(mib * kMiB) / 1e6;
    state.counters["seconds"] = seconds;
}

// The window program's printer (with its window, or alone) in a child; this process writes.
void MeasurePrinter(benchmark::State& state, bool window) {
    const auto kind = static_cast<StreamKind>(state.range(0));
    const auto mib = static_cast<size_t>(state.range(1));
    const size_t total = mib * kMiB;
    ChildResult r;
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        r = RunChild(
            [&](int toParent, int) -> ChildResult {
                std::unique_ptr<QApplication> app;
                if (window) {
                    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
                    static int argc = 1;
                    static char name[] = "bench_vprinter_memory";
                    static char* argv[] = {name, nullptr};
                    app = std::make_unique<QApplication>(argc, argv);
                }
                const long rssBefore = StatusBytes("VmRSS");
                const long peakBefore = StatusBytes("VmHWM");
                vprinter::VirtualPrinter printer;
                if (!printer.start()) return {};
                std::unique_ptr<app::VirtualPrinterWindow> paper;
                if (window) paper = std::make_unique<app::VirtualPrinterWindow>(printer);
                char path[256] = {};
                std::snprintf(path, sizeof path, "%s", printer.slavePath().c_str());
                if (::write(toParent, path, sizeof path) != sizeof path) return {};
                const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(20);
                if (window) {
                    // Counted bytes were handed to the window; the last of them are taken here.
                    while (printer.receivedCount() < total && std::chrono::steady_clock::now() < until) {
                        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
                    }
                    if (printer.receivedCount() < total) return {};
                    paper->takeArrived();
                } else if (!printer.waitForBytes(total, 20 * 60 * 1000)) {
                    return {};
                }
                return {StatusBytes("VmRSS") - rssBefore, StatusBytes("VmHWM") - peakBefore};
            },
            [&](int fromChild, int) {
                char path[256] = {};
                if (::read(fromChild, path, sizeof path) != sizeof path) return;
                const int fd = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
                if (fd < 0) return;
                termios t{};
                if (::tcgetattr(fd, &t) == 0) {
                    ::cfmakeraw(&t);
                    ::tcsetattr(fd, TCSANOW, &t);
                }
                test::PrinterStream stream(kind);
                std::vector<uint8_t> chunk(kMiB);
                bool ok = true;
                for (size_t sent = 0; ok && sent < total; sent += chunk.size()) {
                    stream.next(chunk.data(), chunk.size());
                    for (size_t at = 0; ok && at < chunk.size();) {
                        const ssize_t w = ::write(fd, chunk.data() + at, chunk.size() - at);
                        ok = w > 0;
                        if (ok) at += static_cast<size_t>(w);
                    }
                }
                // Kept open until the child has reported, so that the printer sees no hang-up.
                pollfd p{fromChild, POLLIN, 0};
                ::poll(&p, 1, 20 * 60 * 1000);
                ::close(fd);
            });
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    if (r.a < 0 && r.b < 0) {
        state.SkipWithError("the printer did not take the stream");
        return;
    }
    state.SetLabel(test::StreamKindName(kind));
    state.counters["rss_MB"] = static_cast<double>(r.a) / 1e6;
    state.counters["peak_MB"] = static_cast<double>(r.b) / 1e6;
    state.counters["stream_MB"] = static_cast<double>(total) / 1e6;
    state.counters["seconds"] = seconds;
}

void BM_WindowPrinter(benchmark::State& state) { MeasurePrinter(state, true); }
void BM_Printer(benchmark::State& state) { MeasurePrinter(state, false); }

constexpr long kLineFeeds = static_cast<long>(StreamKind::LineFeeds);
constexpr long kRaster = static_cast<long>(StreamKind::Raster);
constexpr long kRandom = static_cast<long>(StreamKind::Random);

BENCHMARK(BM_CliReceipt)
    ->Args({kRaster, 200})
    ->Args({kLineFeeds, 20})
    ->Args({kRandom, 200})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK(BM_Printer)
    ->Args({kRaster, 1200})
    ->Args({kLineFeeds, 200})
    ->Args({kRandom, 1200})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK(BM_WindowPrinter)
    ->Args({kRaster, 200})
    ->Args({kLineFeeds, 20})
    ->Args({kRandom, 200})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
