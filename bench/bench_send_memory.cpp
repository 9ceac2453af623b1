// Peak memory of sending a large file, in the window's page path ("Text Print" Open... into the
// command history) and in the command line (send-file), against a virtual printer.
//
// Every run happens in a child process of its own, so that its peak resident size (VmHWM) is its
// own: the child reads VmHWM just before the send and again after it, and reports the growth.
// The virtual printer runs in the parent, so that only the sender's memory counts. Each
// benchmark runs once; its counters are the sizes in MB (1,000,000 bytes): "added_MB" for the
// 50 MiB file, "empty_MB" for an empty file, and
// "target_MB", the growth a 50 MiB send may add at most. The "ok" counter is 1 when the target holds.
// BM_CliSendFileEndless sends from a pipe that never ends: "growth_MB" is how much the resident size
// of pellory-cli grew between 16 MiB and 96 MiB sent (its memory stays flat: the send is bounded
// by the printer and the user, not by memory).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "history/history_model.h"
#include "link/port_settings.h"
#include "link/ui_seam.h"
#include "pages/core/page_link.h"
#include "pages/core/text_print_actions.h"
#include "platform/port_map.h"
#include "vprinter/virtual_printer.h"

namespace {

using namespace pellory;

constexpr std::size_t kFileSize = 50u * 1024 * 1024;
constexpr double kTargetMB = 60.0;
constexpr int kCom = 7;

std::string g_dir;

std::string BigFile() { return g_dir + "/big.bin"; }
std::string EmptyFile() { return g_dir + "/empty.bin"; }

void WriteFiles() {
    char pattern[] = "/tmp/pellory_bench_mem_XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir) std::abort();
    g_dir = dir;
    std::vector<char> chunk(1 << 20);
    uint32_t x = 0x9E3779B9u;
    std::ofstream big(BigFile(), std::ios::binary);
    for (std::size_t written = 0; written < kFileSize; written += chunk.size()) {
        for (char& c : chunk) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = static_cast<char>(x >> 24);
        }
        big.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
    std::ofstream(EmptyFile(), std::ios::binary);
}

void RemoveFiles() {
    std::remove(BigFile().c_str());
    std::remove(EmptyFile().c_str());
    ::rmdir(g_dir.c_str());
}

// The process's peak resident size so far, in bytes.
long PeakBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) * 1024;
    }
    return -1;
}

// Answers every file dialog with one path; messages go nowhere.
class FilePrompt : public link::UserPrompt {
public:
    explicit FilePrompt(std::string path) : path_(std::move(path)) {}
    void ShowMessage(const std::string& text, const std::string&, const std::string&) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    std::optional<std::string> AskOpenFile(const std::string&) override { return path_; }
    std::optional<std::string> AskSaveFile(const std::string&) override { return std::nullopt; }

private:
    std::string path_;
};

// What the window does for "Open...": the page sends the file into the history list.
bool PageSend(const std::string& printerPath, const std::string& file) {
    platform::PortMap::instance().setOverride(kCom, printerPath, "virtual printer (bench)");
    link::ResetPortSettings();
    link::PortSettings.portNumber = kCom;
    app::HistoryModel history;
    FilePrompt prompt(file);
    pages::TextPrintActions page;
    page.echoSwitch = true;
    page.SetPrompt(&prompt);
    page.SetMainWindow(&history);
    pages::ReadyFlag = true;
    const bool sent = page.SendFile({}, {}) == pages::TextPrintActions::SendFileResult::Sent;
    page.WaitUntilSent(pages::PageLink::kCloseStallMs);
    page.CloseLink();
    return sent && history.RowCount() > 0;
}

// The command line's send-file, with the port given as a path.
bool CliSend(const std::string& printerPath, const std::string& file) {
    std::ostringstream out, err;
    const int code = app::RunCli({"--port", printerPath, "send-file", file}, out, err);
    if (code != 0) std::fprintf(stderr, "pellory-cli: %d %s\n", code, err.str().c_str());
    return code == 0;
}

using Send = std::function<bool(const std::string& printerPath, const std::string& file)>;

// Runs send in a child process against a virtual printer of this process; the growth of the
// child's peak resident size over the send, in bytes (negative when the send failed).
long PeakGrowth(const Send& send, const std::string& file) {
    int pathPipe[2], resultPipe[2];
    if (::pipe(pathPipe) != 0 || ::pipe(resultPipe) != 0) return -1;
    // The child is forked before the printer starts any thread.
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pathPipe[1]);
        ::close(resultPipe[0]);
        char path[256] = {};
        const ssize_t got = ::read(pathPipe[0], path, sizeof path - 1);
        long growth = -1;
        if (got > 0) {
            const long before = PeakBytes();
            if (send(path, file)) growth = PeakBytes() - before;
        }
        if (::write(resultPipe[1], &growth, sizeof growth) != sizeof growth) ::_exit(2);
        ::_exit(0);
    }
    ::close(pathPipe[0]);
    ::close(resultPipe[1]);
    long growth = -1;
    {
        vprinter::VirtualPrinter printer;
        if (printer.start()) {
            const std::string& path = printer.slavePath();
            if (::write(pathPipe[1], path.c_str(), path.size()) == static_cast<ssize_t>(path.size())) {
                if (::read(resultPipe[0], &growth, sizeof growth) != sizeof growth) growth = -1;
            }
        }
        ::close(pathPipe[1]);
        int status = 0;
        ::waitpid(child, &status, 0);
    }
    ::close(resultPipe[0]);
    return growth;
}

void Measure(benchmark::State& state, const Send& send) {
    long big = -1, empty = -1;
    for (auto _ : state) {
        empty = PeakGrowth(send, EmptyFile());
        big = PeakGrowth(send, BigFile());
    }
    if (big < 0 || empty < 0) {
        state.SkipWithError("the send failed");
        return;
    }
    state.counters["added_MB"] = static_cast<double>(big) / 1e6;
    state.counters["empty_MB"] = static_cast<double>(empty) / 1e6;
    state.counters["target_MB"] = kTargetMB;
    state.counters["ok"] = static_cast<double>(big) / 1e6 <= kTargetMB ? 1 : 0;
}

// The resident size of a process now, in bytes.
long ResidentBytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6) * 1024;
    }
    return -1;
}

// Runs send in a child process on a pipe that a thread of this process fills without end; the
// growth of the child's resident size between 16 MiB and 96 MiB received by the printer.
long EndlessGrowth(const Send& send) {
    const std::string fifo = g_dir + "/endless.fifo";
    ::unlink(fifo.c_str());
    if (::mkfifo(fifo.c_str(), 0600) != 0) return -1;
    std::signal(SIGPIPE, SIG_IGN);
    int pathPipe[2];
    if (::pipe(pathPipe) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pathPipe[1]);
        char path[256] = {};
        if (::read(pathPipe[0], path, sizeof path - 1) > 0) send(path, fifo);
        ::_exit(0);
    }
    ::close(pathPipe[0]);
    long growth = -1;
    {
        vprinter::VirtualPrinter printer;
        std::atomic<bool> stop{false};
        std::thread writer;
        if (printer.start()) {
            const std::string& path = printer.slavePath();
            if (::write(pathPipe[1], path.c_str(), path.size()) == static_cast<ssize_t>(path.size())) {
                writer = std::thread([&] {
                    int fd = -1;
                    while (fd < 0 && !stop) {
                        fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                        if (fd < 0) ::usleep(10000);
                    }
                    if (fd < 0) return;
                    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
                    const std::string block(64 * 1024, 'A');
                    while (!stop && ::write(fd, block.data(), block.size()) > 0) {
                    }
                    ::close(fd);
                });
                const auto waitFor = [&](std::size_t bytes) { return printer.waitForBytes(bytes, 120000); };
                if (waitFor(16u << 20)) {
                    const long first = ResidentBytes(child);
                    if (waitFor(96u << 20)) growth = ResidentBytes(child) - first;
                }
            }
        }
        ::close(pathPipe[1]);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        stop = true;
        if (writer.joinable()) writer.join();
    }
    ::unlink(fifo.c_str());
    return growth;
}

void BM_CliSendFileEndless(benchmark::State& state) {
    long growth = -1;
    for (auto _ : state) growth = EndlessGrowth(CliSend);
    if (growth < 0) {
        state.SkipWithError("the send failed");
        return;
    }
    state.counters["growth_MB"] = static_cast<double>(growth) / 1e6;
}

void BM_PageSendFile50MiB(benchmark::State& state) { Measure(state, PageSend); }
BENCHMARK(BM_PageSendFile50MiB)->Unit(benchmark::kSecond)->Iterations(1);

void BM_CliSendFile50MiB(benchmark::State& state) { Measure(state, CliSend); }
BENCHMARK(BM_CliSendFile50MiB)->Unit(benchmark::kSecond)->Iterations(1);

BENCHMARK(BM_CliSendFileEndless)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    WriteFiles();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    RemoveFiles();
    return 0;
}
