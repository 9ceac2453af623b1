// `pellory-cli render` against `pellory-cli decode` of the same 1 MB capture, each a program of its
// own (the pellory-cli of this build, or PELLORY_CLI_BINARY when set), process start to end.
// Target: render takes at most 1.5 times as long as decode.
//
// The capture is a receipt of the shared corpus (escpos-netprinter-xtd/receipt-with-qrcode.bin:
// text in several modes, an ESC * logo and a QR code) repeated to 1 MB. render writes one PNG
// (-o), decode its lines to /dev/null. Both run in turn in every round, the one first that came
// second the round before, so that both meet the same load of the machine; "ratio" is the median
// render time over the median decode time, and a ratio over 1.5 fails the benchmark (its message
// names the ratio). Counters: "render_ms", "decode_ms" (medians), "ratio", "cpu_ratio" (the same of
// the processes' own processor time, which the load of the machine changes less), "rounds".
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr size_t kCaptureSize = 1u << 20;
constexpr double kTargetRatio = 1.5;
const char* const kReceipt = "escpos-netprinter-xtd/receipt-with-qrcode.bin";

std::string g_dir;

std::string CliBinary() {
    if (const char* p = std::getenv("PELLORY_CLI_BINARY")) return p;
    return PELLORY_CLI_PATH;
}

std::string CaptureFile() { return g_dir + "/capture.bin"; }

bool WriteCapture() {
    std::ifstream in(fs::path(PELLORY_ESCPOS_CORPUS) / kReceipt, std::ios::binary);
    const std::string receipt{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (receipt.empty()) return false;
    std::ofstream out(CaptureFile(), std::ios::binary);
    for (size_t written = 0; written < kCaptureSize; written += receipt.size()) {
        out.write(receipt.data(), static_cast<std::streamsize>(receipt.size()));
    }
    return static_cast<bool>(out);
}

struct Timing {
    double seconds = -1;     // start to end; negative when it did not end with status 0
    double cpuSeconds = -1;  // user and system time of the process
};

// Runs pellory-cli with args (standard output and error to /dev/null).
Timing TimedRun(const std::vector<std::string>& args) {
    std::vector<std::string> all = {CliBinary()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open("/dev/null", O_WRONLY);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child) return {};
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    const auto toSeconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return {seconds, toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime)};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void BM_RenderAgainstDecode(benchmark::State& state) {
    const std::vector<std::string> render = {"render", CaptureFile(), "-o", g_dir + "/capture.png"};
    const std::vector<std::string> decode = {"decode", CaptureFile()};
    std::vector<double> renderTimes, decodeTimes, renderCpu, decodeCpu;
    bool renderFirst = false;
    for (auto _ : state) {
        const Timing a = TimedRun(renderFirst ? render : decode);
        const Timing b = TimedRun(renderFirst ? decode : render);
        const Timing& r = renderFirst ? a : b;
        const Timing& d = renderFirst ? b : a;
        if (r.seconds < 0 || d.seconds < 0) {
            state.SkipWithError(r.seconds < 0 ? "render failed" : "decode failed");
            return;
        }
        renderTimes.push_back(r.seconds);
        decodeTimes.push_back(d.seconds);
        renderCpu.push_back(r.cpuSeconds);
        decodeCpu.push_back(d.cpuSeconds);
        renderFirst = !renderFirst;
    }
    const double ratio = Median(renderTimes) / Median(decodeTimes);
    const double cpuRatio = Median(renderCpu) / Median(decodeCpu);
    state.counters["render_ms"] = Median(renderTimes) * 1000;
    state.counters["decode_ms"] = Median(decodeTimes) * 1000;
    state.counters["ratio"] = ratio;
    state.counters["cpu_ratio"] = cpuRatio;
    state.counters["rounds"] = static_cast<double>(renderTimes.size());
    if (ratio > kTargetRatio) {
        char message[200];
        std::snprintf(message, sizeof message,
                      "render takes %.2f times as long as decode (%.1f ms against %.1f ms; processor time %.2f times); "
                      "target: at most %.1f",
                      ratio, Median(renderTimes) * 1000, Median(decodeTimes) * 1000, cpuRatio, kTargetRatio);
        state.SkipWithError(message);
    }
}
BENCHMARK(BM_RenderAgainstDecode)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(21);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    char pattern[] = "/tmp/pellory_bench_render_XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir) return 1;
    g_dir = dir;
    if (!WriteCapture()) {
        std::fprintf(stderr, "cannot make the capture from %s/%s\n", PELLORY_ESCPOS_CORPUS, kReceipt);
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(g_dir, ec);
    return 0;
}
