#include "jobs/job_recorder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

#include "jobs/job_folder.h"
#include "jobs/job_render.h"
#include "jobs/json_text.h"
#include "protocol/hex.h"

namespace pellory::jobs {

namespace fs = std::filesystem;
using vprinter::FinishedJob;
using vprinter::JobEnd;

namespace {

int64_t Milliseconds(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

}  // namespace

std::string JobJson(const FinishedJob& job, const RecordedJob& r) {
    std::string answers = "[";
    for (const vprinter::SentAnswer& a : job.answers) {
        if (answers.size() > 1) answers += ',';
        answers += JsonObject()
                       .add("offset", a.offset)
                       .add("request", a.request)
                       .add("bytes", protocol::hex::Spaced(a.bytes.data(), a.bytes.size()))
                       .text();
    }
    answers += ']';
    JsonObject o;
    o.add("number", r.number);
    if (r.folder.empty()) {
        o.addRaw("folder", "null");
    } else {
        o.add("folder", JobFolderName(r.number));
    }
    return o.add("start", IsoTime(Milliseconds(job.started)))
        .add("end", IsoTime(Milliseconds(job.ended)))
        .add("source", r.source)
        .add("bytes", r.bytes)
        .add("received", r.received)
        .add("receipts", static_cast<uint64_t>(r.receipts))
        .add("commands", static_cast<uint64_t>(r.commands))
        .add("unknown_commands", static_cast<uint64_t>(r.unknownCommands))
        .addRaw("answers", answers)
        .add("ended", vprinter::JobEndName(r.end))
        .add("reason", r.reason)
        .add("cut_short", r.cutShort)
        .text();
}

std::string JobLine(const RecordedJob& r) {
    std::string line = "job " + JobFolderName(r.number) + "  " + r.source + "  " + std::to_string(r.bytes) +
                       (r.bytes == 1 ? " byte" : " bytes");
    if (!r.folder.empty()) line += "  " + std::to_string(r.receipts) + (r.receipts == 1 ? " receipt" : " receipts");
    line += "  " + std::to_string(r.commands) + (r.commands == 1 ? " command" : " commands");
    line += "  " + std::string(vprinter::JobEndName(r.end));
    if (!r.reason.empty()) line += " (" + r.reason + ")";
    if (!r.folder.empty()) line += "  " + r.folder;
    return line;
}

JobRecorder::JobRecorder(Options options, Report report, ErrorLine error)
    : options_(std::move(options)), report_(std::move(report)), error_(std::move(error)) {
    writerCount_ = options_.writers > 0 ? options_.writers : DefaultWriters();
}

JobRecorder::~JobRecorder() { finish(); }

unsigned JobRecorder::DefaultWriters() { return std::clamp(std::thread::hardware_concurrency(), 2u, 4u); }

bool JobRecorder::open(std::string* why) {
    if (!options_.folder.empty()) {
        if (!PrepareJobsFolder(options_.folder, why)) return false;
        base_ = HighestJobNumber(options_.folder);
    }
    for (unsigned i = 0; i < writerCount_; ++i) writerThreads_.emplace_back([this] { run(); });
    return true;
}

void JobRecorder::take(FinishedJob&& job) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (writerThreads_.empty() || ending_) {
        lock.unlock();
        errorLine("job " + JobFolderName(base_ + job.number) + " came after the end; it was not written");
        return;
    }
    const auto full = [&] {
        return !queue_.empty() &&
               (queue_.size() >= options_.maxQueuedJobs || queuedBytes_ + job.bytes.size() > options_.maxQueuedBytes);
    };
    while (full()) changed_.wait_for(lock, std::chrono::milliseconds(kFullWaitStepMs));
    queuedBytes_ += job.bytes.size();
    queue_.push_back(std::move(job));
    changed_.notify_all();
}

void JobRecorder::finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : writerThreads_) {
        if (t.joinable()) t.join();
    }
}

uint64_t JobRecorder::written() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

void JobRecorder::errorLine(const std::string& line) {
    if (!error_) return;
    std::lock_guard<std::mutex> lock(errorMutex_);
    error_(line);
}

void JobRecorder::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // The next job, once fewer than writerCount_ are taken and not yet reported.
        const auto ready = [&] { return !queue_.empty() && taken_ - written_ < writerCount_; };
        while (!ready() && !(ending_ && queue_.empty()))
            changed_.wait_for(lock, std::chrono::milliseconds(kFullWaitStepMs));
        if (!ready()) return;  // ending, nothing left to take
        std::optional<FinishedJob> job;
        job.emplace(std::move(queue_.front()));
        queue_.pop_front();
        queuedBytes_ -= job->bytes.size();
        const uint64_t order = taken_++;
        changed_.notify_all();
        lock.unlock();
        RecordedJob r = write(*job);
        job.reset();
        lock.lock();
        done_.emplace(order, std::move(r));
        reportInOrder(lock);
    }
}

void JobRecorder::reportInOrder(std::unique_lock<std::mutex>& lock) {
    // Only the job next in order is reported, and the next after it only once its report is done:
    // a writer that finds its job not next leaves it to the writer of the one before.
    for (auto next = done_.find(written_); next != done_.end(); next = done_.find(written_)) {
        const RecordedJob r = std::move(next->second);
        done_.erase(next);
        lock.unlock();
        if (report_) report_(r);
        lock.lock();
        ++written_;
        changed_.notify_all();
    }
}

RecordedJob JobRecorder::write(const FinishedJob& job) {
    RecordedJob r;
    r.number = base_ + job.number;
    r.source = job.source;
    r.bytes = job.bytes.size();
    r.received = std::max<uint64_t>(job.receivedBytes, job.bytes.size());
    r.end = job.end;
    r.reason = job.reason;
    if (options_.folder.empty()) {
        const JobOutput out = WriteJobOutput(job.bytes, options_.widthDots, {}, options_.bounds, {}, {});
        r.commands = out.decoding.commands;
        r.unknownCommands = out.decoding.unknown;
        r.cutShort = out.cutShort;
        r.json = JobJson(job, r);
        return r;
    }

    const std::string name = JobFolderName(r.number);
    const fs::path work = fs::path(options_.folder) / JobWorkName(r.number);
    const fs::path final = fs::path(options_.folder) / name;
    std::string failure;  // the first thing that could not be written, and why
    const auto failed = [&](const std::string& what, const std::string& why) {
        const std::string text = "cannot write " + what + ": " + why;
        errorLine("job " + name + ": " + text + "; the job is marked failed");
        if (failure.empty()) failure = text;
    };

    std::error_code ec;
    fs::remove_all(work, ec);  // a folder left by a run that was cut short
    const bool made = fs::create_directory(work, ec);
    JobOutput out;
    if (!made) {
        failed(work.string(), ec ? ec.message() : "it exists");
        out.decoding.run(job.bytes, {});
    } else {
        std::string why;
        if (!WriteFileInOneStep((work / "bytes.bin").string(),
                                [&](const FileSink& sink) { return sink(job.bytes.data(), job.bytes.size()); }, &why)) {
            failed("bytes.bin", why);
        }
        out = WriteJobOutput(job.bytes, options_.widthDots, work, options_.bounds, {}, failed);
    }
    r.receipts = out.receipts;
    r.commands = out.decoding.commands;
    r.unknownCommands = out.decoding.unknown;
    r.cutShort = out.cutShort;
    if (!failure.empty()) {
        r.end = JobEnd::Failed;
        r.reason = failure;
    }
    r.folder = final.string();
    r.json = JobJson(job, r);
    if (made) {
        std::string why;
        if (!WriteFileInOneStep((work / "job.json").string(), r.json + "\n", &why)) {
            failed("job.json", why);
            r.end = JobEnd::Failed;
            r.reason = failure;
            r.json = JobJson(job, r);
        }
        if (::rename(work.c_str(), final.c_str()) != 0) {
            failed(final.string(), std::strerror(errno));
            r.end = JobEnd::Failed;
            r.reason = failure;
            r.json = JobJson(job, r);
            r.folder.clear();
        }
    } else {
        r.folder.clear();
        r.json = JobJson(job, r);
    }
    return r;
}

}  // namespace pellory::jobs
