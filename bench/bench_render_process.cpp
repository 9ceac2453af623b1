// `pellory-cli render` against `pellory-cli decode` of the same 1 MB capture, each a program of its
// own (the pellory-cli of this build, or PELLORY_CLI_BINARY when set), process start to end.
// Target: render takes at most 1.5 times as long as decode.
//
// The capture is a receipt of the shared corpus (escpos-netprinter-xtd/receipt-with-qrcode.bin:
// text in several modes, an ESC * logo and a QR code) repeated to 1 MB. render writes one PNG
// (-o), decode its lines to /dev/null. Both run in turn in every round, the one first that came
// second the round before, so that both meet the same load of the machine; "ratio" is the median
// render time over the median decode time, and a ratio over 1.5 fails the benchmark (its message
// names the ratio). Counters: "render_ms", "decode_ms" (medians), "ratio", "rounds".
#include <benchmark/benchmark.h>

#include <fcntl.h>
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

// Runs pellory-cli with args (standard output and error to /dev/null): seconds from start to
// end, negative when it did not end with status 0.
double TimedRun(const std::vector<std::string>& args) {
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
    if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void BM_RenderAgainstDecode(benchmark::State& state) {
    const std::vector<std::string> render = {"render", CaptureFile(), "-o", g_dir + "/capture.png"};
    const std::vector<std::string> decode = {"decode", CaptureFile()};
    std::vector<double> renderTimes, decodeTimes;
    bool renderFirst = false;
    for (auto _ : state) {
        const double a = TimedRun(renderFirst ? render : decode);
        const double b = TimedRun(renderFirst ? decode : render);
        const double r = renderFirst ? a : b, d = renderFirst ? b : a;
        if (r < 0 || d < 0) {
            state.SkipWithError(r < 0 ? "render failed" : "decode failed");
            return;
        }
        renderTimes.push_back(r);
        decodeTimes.push_back(d);
        renderFirst = !renderFirst;
    }
    const double ratio = Median(renderTimes) / Median(decodeTimes);
    state.counters["render_ms"] = Median(renderTimes) * 1000;
    state.counters["decode_ms"] = Median(decodeTimes) * 1000;
    state.counters["ratio"] = ratio;
    state.counters["rounds"] = static_cast<double>(renderTimes.size());
    if (ratio > kTargetRatio) {
        char message[160];
        std::snprintf(message, sizeof message,
                      "render takes %.2f times as long as decode (%.1f ms against %.1f ms; target: at most %.1f)", ratio,
                      Median(renderTimes) * 1000, Median(decodeTimes) * 1000, kTargetRatio);
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
