// Peak memory of the offline commands on 200 MB captures: `pellory-cli decode` and
// `pellory-cli render`, each run as a program of its own (the pellory-cli of this build, or
// PELLORY_CLI_BINARY when set), its peak resident size taken from the kernel when it ends.
//
// Three captures of about 200 MB: "receipts", 52,000 receipts of text lines, a raster logo and a
// barcode, each ended by a cut; "raster", one valid GS v 0 picture of 65535 x 3000 bytes (wider
// than any paper) and a line of text after it; and "tickets", 1,000 receipts of a 48 x 4000 byte
// raster picture and text lines (one picture each with --receipts, or a PDF page each). Counters: "peak_MB" (the program's peak
// resident size in MB, 1,000,000 bytes), "input_MB", "peak_per_input" (their ratio) and "exit"
// (the program's exit status). Each benchmark runs once.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr size_t kCaptureSize = 200u * 1000 * 1000;

std::string g_dir;

std::string CliBinary() {
    if (const char* p = std::getenv("PELLORY_CLI_BINARY")) return p;
    return PELLORY_CLI_PATH;
}

std::string ReceiptsFile() { return g_dir + "/receipts.bin"; }
std::string RasterFile() { return g_dir + "/raster.bin"; }
std::string TicketsFile() { return g_dir + "/tickets.bin"; }

void Add(std::string& out, std::initializer_list<int> bytes) {
    for (int b : bytes) out.push_back(static_cast<char>(b));
}

// One receipt of about 10 KB: a title, a 48 x 64 raster logo, twenty item lines, a barcode, a cut.
std::string Receipt(unsigned number) {
    std::string r;
    Add(r, {0x1B, 0x40, 0x1B, 0x61, 0x01, 0x1B, 0x21, 0x30});
    r += "PELLORY STORE\n";
    Add(r, {0x1B, 0x21, 0x00, 0x1D, 0x76, 0x30, 0x00, 48, 0, 64, 0});
    uint32_t x = 0x9E3779B9u ^ number;
    for (int i = 0; i < 48 * 64; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        r.push_back(static_cast<char>(x >> 24));
    }
    Add(r, {0x1B, 0x61, 0x00});
    for (int i = 0; i < 20; ++i) r += "Item " + std::to_string(i) + "   receipt " + std::to_string(number) + "      12.50\n";
    Add(r, {0x1D, 0x6B, 0x43, 12});
    r += "012345678905";
    Add(r, {0x0A, 0x1D, 0x56, 0x42, 0x10});
    return r;
}

// One receipt of about 200 KB: a 48 x 4000 byte raster picture, ten lines of text, a cut.
std::string Ticket(unsigned number) {
    std::string r;
    Add(r, {0x1B, 0x40, 0x1D, 0x76, 0x30, 0x00, 48, 0, 4000 & 0xFF, 4000 >> 8});
    uint32_t x = 0x2545F491u ^ number;
    for (int i = 0; i < 48 * 4000; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        r.push_back(static_cast<char>(x >> 24));
    }
    for (int i = 0; i < 10; ++i) r += "Ticket " + std::to_string(number) + " line " + std::to_string(i) + "\n";
    Add(r, {0x1D, 0x56, 0x42, 0x10});
    return r;
}

void WriteFiles() {
    char pattern[] = "/tmp/pellory_bench_offline_XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir) std::abort();
    g_dir = dir;
    {
        std::ofstream out(ReceiptsFile(), std::ios::binary);
        size_t written = 0;
        for (unsigned n = 1; written < kCaptureSize; ++n) {
            const std::string r = Receipt(n);
            out.write(r.data(), static_cast<std::streamsize>(r.size()));
            written += r.size();
        }
    }
    {
        std::ofstream out(TicketsFile(), std::ios::binary);
        size_t written = 0;
        for (unsigned n = 1; written < kCaptureSize; ++n) {
            const std::string r = Ticket(n);
            out.write(r.data(), static_cast<std::streamsize>(r.size()));
            written += r.size();
        }
    }
    {
        std::ofstream out(RasterFile(), std::ios::binary);
        const size_t xBytes = 65535, rows = 3000;
        std::string header;
        Add(header, {0x1D, 0x76, 0x30, 0x00, static_cast<int>(xBytes & 0xFF), static_cast<int>(xBytes >> 8),
                     static_cast<int>(rows & 0xFF), static_cast<int>(rows >> 8)});
        out.write(header.data(), static_cast<std::streamsize>(header.size()));
        const std::string row(xBytes, '\x5A');
        for (size_t r = 0; r < rows; ++r) out.write(row.data(), static_cast<std::streamsize>(row.size()));
        out << "end\n";
    }
}

struct Run {
    int exit = -1;
    long peakKiB = -1;
};

// Runs pellory-cli with args, standard input from input (or /dev/null), standard output to
// /dev/null; its exit status and peak resident size.
Run RunCli(const std::vector<std::string>& args, const std::string& input = "/dev/null") {
    std::vector<std::string> all = {CliBinary()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string errFile = g_dir + "/err.txt";
    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open(input.c_str(), O_RDONLY);
        const int out = ::open("/dev/null", O_WRONLY);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Run run;
    int status = 0;
    rusage usage{};
    if (child > 0 && ::wait4(child, &status, 0, &usage) == child) {
        run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        run.peakKiB = usage.ru_maxrss;
    }
    return run;
}

void Measure(benchmark::State& state, const std::string& input, const std::vector<std::string>& args,
             bool fromStandardInput = false) {
    Run run;
    for (auto _ : state) run = fromStandardInput ? RunCli(args, input) : RunCli(args);
    const double inputMB = static_cast<double>(fs::file_size(input)) / 1e6;
    const double peakMB = static_cast<double>(run.peakKiB) * 1024 / 1e6;
    state.counters["peak_MB"] = peakMB;
    state.counters["input_MB"] = inputMB;
    state.counters["peak_per_input"] = peakMB / inputMB;
    state.counters["exit"] = run.exit;
}

void BM_DecodeReceipts(benchmark::State& state) { Measure(state, ReceiptsFile(), {"decode", ReceiptsFile()}); }
void BM_DecodeReceiptsFromStandardInput(benchmark::State& state) {
    Measure(state, ReceiptsFile(), {"decode", "-"}, true);
}
void BM_DecodeHugeRaster(benchmark::State& state) { Measure(state, RasterFile(), {"decode", RasterFile()}); }
void BM_RenderHugeRaster(benchmark::State& state) {
    Measure(state, RasterFile(), {"render", RasterFile(), "-o", g_dir + "/raster.png"});
}
// The whole capture on one picture: far taller than the picture may be.
void BM_RenderReceiptsOnePicture(benchmark::State& state) {
    Measure(state, ReceiptsFile(), {"render", ReceiptsFile(), "-o", g_dir + "/receipts.png"});
}
void BM_RenderHugeRasterFromStandardInput(benchmark::State& state) {
    Measure(state, RasterFile(), {"render", "-", "-o", g_dir + "/raster.png"}, true);
}
// One picture per receipt, and a PDF page per receipt.
void BM_RenderTicketsEach(benchmark::State& state) {
    Measure(state, TicketsFile(), {"render", TicketsFile(), "--receipts", g_dir + "/each"});
}
void BM_RenderTicketsPdf(benchmark::State& state) {
    Measure(state, TicketsFile(), {"render", TicketsFile(), "-o", g_dir + "/tickets.pdf"});
}

BENCHMARK(BM_DecodeReceipts)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_DecodeReceiptsFromStandardInput)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_DecodeHugeRaster)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_RenderHugeRaster)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_RenderHugeRasterFromStandardInput)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_RenderReceiptsOnePicture)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_RenderTicketsEach)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_RenderTicketsPdf)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    WriteFiles();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(g_dir, ec);
    return 0;
}
