// The printer server with the job recorder, as "pellory-cli serve" runs them: 64 connections at
// once, each sending a 10 KB receipt and closing. Counters: "lost" (jobs not reported written),
// "median_ms" and "p99_ms", the time from a client's close to its job being on disk and reported
// (its folder renamed with bytes.bin, decoding.txt and job.json; its pictures follow, as serve
// writes them), "pictures_median_ms" the time from the close to its pictures written,
// "handover_median_ms" the time from the close to the server handing the job to the recorder, and
// "jobs". Runs once; the jobs go to a folder under /tmp that is removed afterwards.
//
// BM_OneJobSteps: where one such job's time goes, each step timed alone on this thread over 20
// jobs, in CPU time (user and system) of the thread: "draw_ms" (the receipts drawn, no picture made), "png_ms" (the pictures encoded, on top of
// the drawing), "decoding_ms" (the decoding's text), "pass_ms" (the recorder's one pass: drawn and
// decoded at once, decoding.txt written, the pictures kept to be written), "json_ms" (the record), "files_ms" (the job
// folder made, its files written in one step each, renamed) and "png_KB" (one job's pictures).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job_folder.h"
#include "jobs/job_recorder.h"
#include "receipt/command_decoder.h"
#include "receipt/decoding.h"
#include "receipt/interpreter.h"
#include "receipt/offline_roll.h"
#include "receipt/paper_png.h"
#include "vprinter/printer_server.h"

namespace {

using namespace pellory;
using Clock = std::chrono::steady_clock;

// A receipt of about 10 KB: text lines, a rule of dots, a cut.
std::string TenKilobyteReceipt(int n) {
    std::string r = "\x1b@\x1b\x61\x01STORE " + std::to_string(n) + "\n\x1b\x61\x00";
    for (int i = 0; r.size() < 9900; ++i)
        r += "Item " + std::to_string(i) + "   qty 1   " + std::to_string(100 + i) + ".00\n";
    r += std::string("\x1d\x56\x42\x00", 4);
    return r;
}

void BM_SixtyFourConnections(benchmark::State& state) {
    constexpr int kClients = 64;
    const std::string folder = "/tmp/pellory_bench_jobs_" + std::to_string(::getpid());
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable changed;
        std::map<std::string, Clock::time_point> written;  // by source
        std::map<uint64_t, std::string> sourceOf;          // by number
        std::map<std::string, Clock::time_point> drawn;    // by source: its pictures written
        jobs::JobRecorder::Options o;
        o.folder = folder;
        o.pictures = jobs::JobRecorder::Options::Pictures::AfterRecordWhileJobsWait;  // as serve records
        jobs::JobRecorder recorder(o,
                                   [&](const jobs::RecordedJob& r) {
                                       std::lock_guard<std::mutex> lock(mutex);
                                       written[r.source] = Clock::now();
                                       sourceOf[r.number] = r.source;
                                       if (!r.picturesPending) drawn[r.source] = written[r.source];
                                       changed.notify_all();
                                   },
                                   {});
        recorder.setPicturesWritten([&](const jobs::RecordedJob& r) {
            std::lock_guard<std::mutex> lock(mutex);
            drawn[sourceOf[r.number]] = Clock::now();
            changed.notify_all();
        });
        std::string why;
        if (!recorder.open(&why)) {
            state.SkipWithError(why.c_str());
            return;
        }
        vprinter::ServerOptions so;
        so.listen.push_back({"127.0.0.1", 0});
        so.maxConnections = kClients;
        vprinter::PrinterServer server(so);
        std::map<std::string, Clock::time_point> handed;  // by source, when the server handed it over
        server.setJobSink([&](vprinter::FinishedJob& job, vprinter::HandOver) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                handed[job.source] = Clock::now();
            }
            recorder.take(std::move(job));
            return true;
        });
        if (!server.start(&why)) {
            state.SkipWithError(why.c_str());
            return;
        }
        const uint16_t port = server.boundAddresses().at(0).port;
        std::vector<int> fds;
        std::vector<std::string> sources;
        for (int i = 0; i < kClients; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) continue;
            sockaddr_in local{};
            socklen_t length = sizeof local;
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
            fds.push_back(fd);
            sources.push_back("tcp:127.0.0.1:" + std::to_string(ntohs(local.sin_port)));
        }
        // Everyone sends at once, then each closes; the close is the moment measured from.
        std::vector<Clock::time_point> closed(fds.size());
        std::vector<std::thread> senders;
        for (size_t i = 0; i < fds.size(); ++i) {
            senders.emplace_back([&, i] {
                const std::string receipt = TenKilobyteReceipt(static_cast<int>(i));
                for (size_t done = 0; done < receipt.size();) {
                    const ssize_t n = ::send(fds[i], receipt.data() + done, receipt.size() - done, MSG_NOSIGNAL);
                    if (n <= 0) break;
                    done += static_cast<size_t>(n);
                }
                closed[i] = Clock::now();
                ::close(fds[i]);
            });
        }
        for (std::thread& t : senders) t.join();
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait_for(lock, std::chrono::seconds(30), [&] { return drawn.size() >= fds.size(); });
        }
        server.stop();
        recorder.finish();
        std::vector<double> ms, handover, pictures;
        for (size_t i = 0; i < fds.size(); ++i) {
            const auto it = written.find(sources[i]);
            if (it != written.end())
                ms.push_back(std::chrono::duration<double, std::milli>(it->second - closed[i]).count());
            const auto d = drawn.find(sources[i]);
            if (d != drawn.end())
                pictures.push_back(std::chrono::duration<double, std::milli>(d->second - closed[i]).count());
            const auto h = handed.find(sources[i]);
            if (h != handed.end())
                handover.push_back(std::chrono::duration<double, std::milli>(h->second - closed[i]).count());
        }
        std::sort(ms.begin(), ms.end());
        std::sort(handover.begin(), handover.end());
        std::sort(pictures.begin(), pictures.end());
        state.counters["pictures_median_ms"] = pictures.empty() ? -1 : pictures[pictures.size() / 2];
        state.counters["handover_median_ms"] = handover.empty() ? -1 : handover[handover.size() / 2];
        state.counters["jobs"] = static_cast<double>(ms.size());
        state.counters["lost"] = static_cast<double>(kClients - static_cast<int>(ms.size()));
        state.counters["median_ms"] = ms.empty() ? -1 : ms[ms.size() / 2];
        state.counters["p99_ms"] = ms.empty() ? -1 : ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}
BENCHMARK(BM_SixtyFourConnections)->Iterations(1)->Unit(benchmark::kMillisecond);

// This thread's CPU time (user and system), in ms: on a shared machine the steps' own cost, not
// the time others took meanwhile.
double CpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}
double MsSince(double cpuMs) { return CpuMs() - cpuMs; }

void BM_OneJobSteps(benchmark::State& state) {
    constexpr int kJobs = 20;
    const std::string folder = "/tmp/pellory_bench_steps_" + std::to_string(::getpid());
    std::filesystem::create_directories(folder);
    const std::string text = TenKilobyteReceipt(1);
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    double draw = 0, png = 0, decoding = 0, pass = 0, json = 0, files = 0;
    size_t pngBytes = 0;
    for (auto _ : state) {
        const auto drawOnly = [&](const receipt::OfflineRoll::Take& take) {
            receipt::OfflineRoll roll(receipt::kOrva80Dots, receipt::OfflineRoll::Pieces::EachReceipt, take,
                                      receipt::OfflineRoll::kMaxPictureRows, receipt::Paper::kMaxRows);
            if (roll.feed(bytes.data(), bytes.size())) roll.finish();
        };
        double t = CpuMs();
        for (int i = 0; i < kJobs; ++i) drawOnly([](const receipt::Paper&, int64_t, int64_t) { return true; });
        draw = MsSince(t) / kJobs;
        std::vector<uint8_t> picture;
        t = CpuMs();
        for (int i = 0; i < kJobs; ++i) {
            picture.clear();
            drawOnly([&](const receipt::Paper& paper, int64_t from, int64_t to) {
                return receipt::WritePaperPng(paper, from, to, [&](const uint8_t* d, size_t n) {
                    picture.insert(picture.end(), d, d + n);
                    return true;
                }, jobs::kJobPngCompression);
            });
        }
        png = MsSince(t) / kJobs - draw;
        pngBytes = picture.size();
        std::string lines;
        t = CpuMs();
        for (int i = 0; i < kJobs; ++i) {
            lines.clear();
            receipt::CommandDecoder printer;
            printer.setDecodeSink([&](const receipt::DecodedCommand& c) { lines += receipt::FormatDecoded(c) + '\n'; });
            printer.feed(bytes.data(), bytes.size());
            printer.finish();
        }
        decoding = MsSince(t) / kJobs;
        t = CpuMs();
        for (int i = 0; i < kJobs; ++i) {
            const std::string work = folder + "/pass-" + std::to_string(i);
            std::filesystem::create_directory(work);
            jobs::DrawnPictures drawn;
            jobs::DrawAndDecode(bytes, receipt::kOrva80Dots, work, jobs::kDefaultJobBounds, {}, {}, &drawn);
        }
        pass = MsSince(t) / kJobs;
        vprinter::FinishedJob job;
        job.number = 1;
        job.source = "tcp:127.0.0.1:50000";
        job.bytes = bytes;
        jobs::RecordedJob r;
        r.number = 1;
        r.folder = folder + "/000001";
        std::string record;
        t = CpuMs();
        for (int i = 0; i < kJobs; ++i) record = jobs::JobJson(job, r);
        json = MsSince(t) / kJobs;
        t = CpuMs();
        for (int i = 0; i < kJobs; ++i) {
            const std::string work = folder + "/" + jobs::JobWorkName(static_cast<uint64_t>(i + 1));
            std::filesystem::create_directory(work);
            std::string why;
            jobs::WriteFileInOneStep(work + "/bytes.bin", text, &why);
            jobs::WriteFileInOneStep(work + "/receipt-01.png", std::string(picture.begin(), picture.end()), &why);
            jobs::WriteFileInOneStep(work + "/decoding.txt", lines, &why);
            jobs::WriteFileInOneStep(work + "/job.json", record + "\n", &why);
            std::filesystem::rename(work, folder + "/" + jobs::JobFolderName(static_cast<uint64_t>(i + 1)));
        }
        files = MsSince(t) / kJobs;
        std::error_code ignored;
        for (int i = 0; i < kJobs; ++i) {
            std::filesystem::remove_all(folder + "/" + jobs::JobFolderName(static_cast<uint64_t>(i + 1)), ignored);
            std::filesystem::remove_all(folder + "/pass-" + std::to_string(i), ignored);
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    state.counters["draw_ms"] = draw;
    state.counters["png_ms"] = png;
    state.counters["decoding_ms"] = decoding;
    state.counters["pass_ms"] = pass;
    state.counters["json_ms"] = json;
    state.counters["files_ms"] = files;
    state.counters["png_KB"] = static_cast<double>(pngBytes) / 1000;
}
BENCHMARK(BM_OneJobSteps)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
