// The web interface of "serve --http" over 1,000 jobs on disk (a folder as earlier runs leave it,
// listed at start as serve lists it): each iteration one request over a fresh loopback connection,
// the answer read in full, so the time is the server's time and the loopback's (an upper bound of
// the server's). BM_ApiJobsPage: GET /api/jobs?limit=50 (target under 20 ms); BM_JobsPage: GET /,
// the newest 50 jobs first (target under 200 ms); BM_JobPage: GET /jobs/N, one job with its
// decoding. Counter "load_ms": listing the 1,000 jobs at start; "bytes": the answer's size. The
// answers are checked: the page must begin with job 1000 and hold 50 jobs.
//
// Over other folders: BM_BigJobPage, GET /jobs/1 of one job of 16 MiB (5.6 million commands, its
// decoding.txt some 250 MB): the page reads the first 5,000 lines of the stored decoding, so its
// time does not grow with the job (target under 50 ms; decoding the bytes in the request took
// 2.3 s). BM_ManyAnswersList, GET /api/jobs?limit=1000 over 200 jobs of 10,000 answers each: the
// records as listed hold 20 answers each (target: the answer under 1 MB; whole records made it
// 124 MB), counter "index_kib_per_job": the heap the index keeps per job (target under 4 KiB; the
// whole records took some 500 KiB each: job.json with 10,000 answers).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "jobs/job_recorder.h"
#include "support/live_heap.h"
#include "support/server_clients.h"
#include "vprinter/printer_server.h"
#include "web/job_index.h"
#include "web/web_server.h"

namespace {

using namespace pellory;
constexpr int kJobs = 1000;

// A job of the folder: its number, bytes and answers.
using MakeJob = std::function<vprinter::FinishedJob(int number)>;

vprinter::FinishedJob Receipt(int i) {
    vprinter::FinishedJob job;
    job.number = static_cast<uint64_t>(i);
    job.started = job.ended = std::chrono::system_clock::now();
    job.source = "tcp:127.0.0.1:" + std::to_string(40000 + i);
    std::string bytes = "\x1b@\x1b\x61\x01STORE " + std::to_string(i) + "\n\x1b\x61\x00";
    for (int line = 0; line < 20; ++line) bytes += "Item " + std::to_string(line) + "   qty 1   1.00\n";
    bytes += std::string("\x1d\x56\x42\x00", 4);
    job.bytes.assign(bytes.begin(), bytes.end());
    job.receivedBytes = job.bytes.size();
    return job;
}

// 16 MiB of ESC ! 00 and ESC ! 01 by turns (no run of one command to write as one line): nothing
// printed, 5.6 million commands, decoded up to the bound on a job's output.
vprinter::FinishedJob BigJob(int i) {
    vprinter::FinishedJob job = Receipt(i);
    job.bytes.clear();
    for (size_t n = 0; n + 3 <= (16u << 20); n += 3) {
        job.bytes.insert(job.bytes.end(), {0x1b, '!', static_cast<uint8_t>(n / 3 % 2)});
    }
    job.receivedBytes = job.bytes.size();
    return job;
}

// Status requests answered 10,000 times.
vprinter::FinishedJob ManyAnswers(int i) {
    vprinter::FinishedJob job = Receipt(i);
    job.bytes.clear();
    for (uint64_t k = 0; k < vprinter::kMaxAnswersKept; ++k) {
        job.bytes.insert(job.bytes.end(), {0x10, 0x04, 0x01});
        job.answers.push_back({.offset = 3 * k, .request = "DLE EOT 1", .bytes = {0x16}});
    }
    job.receivedBytes = job.bytes.size();
    return job;
}

struct Served {
    std::string folder;
    web::JobIndex index;
    std::unique_ptr<vprinter::PrinterServer> printer;
    std::unique_ptr<web::WebServer> site;
    double loadMs = 0;
    long long indexBytes = 0;  // the heap the index keeps

    explicit Served(const std::string& name = "jobs", int jobs = kJobs, const MakeJob& make = Receipt)
        : folder("/tmp/pellory_bench_web_" + std::to_string(::getpid()) + "_" + name) {
        {
            jobs::JobRecorder::Options o;
            o.folder = folder;
            jobs::JobRecorder recorder(o, {}, {});
            std::string why;
            if (!recorder.open(&why)) throw std::runtime_error(why);
            for (int i = 1; i <= jobs; ++i) recorder.take(make(i));
            recorder.finish();
        }
        const long long heapBefore = test::LiveHeapBytes();
        const auto start = std::chrono::steady_clock::now();
        index.load(folder);
        loadMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        indexBytes = test::LiveHeapBytes() - heapBefore;
        vprinter::ServerOptions options;
        options.listen.push_back({"127.0.0.1", 0});
        printer = std::make_unique<vprinter::PrinterServer>(options);
        std::string why;
        if (!printer->start(&why)) throw std::runtime_error(why);
        web::WebOptions w;
        w.address = {"127.0.0.1", 0};
        site = std::make_unique<web::WebServer>(w, *printer, index);
        if (!site->start(&why)) throw std::runtime_error(why);
    }
    ~Served() {
        site->stop();
        printer->stop();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    std::string get(const std::string& path) const {
        test::PeerSocket peer("127.0.0.1", site->boundAddress().port);
        const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        peer.send(test::Bytes(request.begin(), request.end()));
        const test::Bytes answer = peer.readQuiet(5000);
        return std::string(answer.begin(), answer.end());
    }
};

Served& Shared() {
    static Served served;
    return served;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

void Run(benchmark::State& state, const std::string& path, const std::string& first, const std::string& each) {
    Served& served = Shared();
    std::string answer;
    for (auto _ : state) {
        answer = served.get(path);
        benchmark::DoNotOptimize(answer.data());
    }
    const size_t at = answer.find(each);
    if (answer.rfind("HTTP/1.1 200", 0) != 0 || at == std::string::npos ||
        answer.compare(at, first.size(), first) != 0 || Count(answer, each) != 50) {
        state.SkipWithError(("unexpected answer to " + path + ": " + answer.substr(0, 300)).c_str());
    }
    state.counters["bytes"] = static_cast<double>(answer.size());
    state.counters["load_ms"] = served.loadMs;
}

void BM_ApiJobsPage(benchmark::State& state) { Run(state, "/api/jobs?limit=50", "{\"number\":1000,", "{\"number\":"); }
void BM_JobsPage(benchmark::State& state) {
    Run(state, "/", "<article class=\"job\" id=\"job-1000\">", "<article class=\"job\"");
}
void BM_JobPage(benchmark::State& state) {
    Served& served = Shared();
    std::string answer;
    for (auto _ : state) answer = served.get("/jobs/500");
    if (answer.find("STORE 500") == std::string::npos) state.SkipWithError("job 500's page lacks its text");
    state.counters["bytes"] = static_cast<double>(answer.size());
}

void BM_BigJobPage(benchmark::State& state) {
    static Served served("big", 1, BigJob);
    std::string answer;
    for (auto _ : state) answer = served.get("/jobs/1");
    if (answer.find("The first 5000 lines") == std::string::npos) state.SkipWithError("the big job's page is not cut");
    std::error_code error;
    const auto decoding =
        std::filesystem::file_size(std::filesystem::path(served.folder) / "000001" / "decoding.txt", error);
    state.counters["bytes"] = static_cast<double>(answer.size());
    state.counters["decoding_mb"] = static_cast<double>(decoding) / (1 << 20);
}

void BM_ManyAnswersList(benchmark::State& state) {
    static Served served("answers", 200, ManyAnswers);
    std::string answer;
    for (auto _ : state) answer = served.get("/api/jobs?limit=1000");
    if (Count(answer, "{\"number\":") != 200) state.SkipWithError("the list does not hold the 200 jobs");
    state.counters["bytes"] = static_cast<double>(answer.size());
    state.counters["index_kib_per_job"] = static_cast<double>(served.indexBytes) / 1024.0 / 200.0;
    state.counters["load_ms"] = served.loadMs;
}

BENCHMARK(BM_ApiJobsPage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BigJobPage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ManyAnswersList)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JobsPage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JobPage)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
