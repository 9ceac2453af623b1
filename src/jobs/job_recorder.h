// The job recorder: takes each job the printer server finishes (on the server's thread, through its
// job sink) into a bounded queue and writes it on one of a few writer threads of its own (several
// jobs at once, each in a folder of its own), to a folder of the jobs folder named by its number
// (see job_folder.h):
//
//   DIR/000001/bytes.bin        the job's bytes exactly as received (at most the server's limit)
//   DIR/000001/receipt-01.png   the paper from cut to cut, the printed rest after the last cut
//   DIR/000001/receipt-02.png   last; a receipt longer than the 2 m roll continues in the next
//   DIR/000001/decoding.txt     each command, one line each, as "pellory-cli decode" prints it
//   DIR/000001/job.json         the record (JobJson)
//
// The pictures are WritePaperPng's at zlib's fastest level: a receipt has no cut in it, so one bit
// a pixel, white and black.
//
// Numbers continue after the highest job folder already in DIR: job n of the server is folder
// (highest + n). A file that cannot be written (a full disk, a file size limit) marks the job
// failed with the reason (what can be written of it still is, job.json last), reports an error
// line, and the next job is written as ever. Without a folder (no saving), nothing is written and
// each job is only counted and reported.
//
// Jobs are reported in the order they were taken, whichever writer finishes first: a job written
// before the one taken ahead of it waits for that one's report. A writer takes the next job only
// while fewer jobs than there are writers are taken and not yet reported, so a slow job holds back
// at most that many written ones.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job_render.h"
#include "vprinter/printer_server.h"

namespace pellory::jobs {

// What became of one job, as reported once it is written.
struct RecordedJob {
    uint64_t number = 0;  // its folder's number
    std::string folder;   // the job's folder (DIR/000001); empty when not saved
    std::string source;
    uint64_t bytes = 0;     // kept (bytes.bin)
    uint64_t received = 0;  // received, over the limit too
    size_t receipts = 0;    // pictures written
    size_t commands = 0;    // the decoding's commands (text runs not counted)
    size_t unknownCommands = 0;
    vprinter::JobEnd end = vprinter::JobEnd::Closed;
    std::string reason;
    std::string cutShort;  // why its pictures or decoding stop before its end; empty when whole
    std::string json;  // the record, one line: job.json's content without its line end
};

// The record of a job as JSON (job.json, and a line of "serve --json"): number, folder (the
// folder's name, or null when not saved), start, end (ISO 8601 UTC, milliseconds), source, bytes,
// received, receipts, commands, unknown_commands, answers (offset, request, bytes as hex text),
// ended ("closed", "idle", "over-limit", "incomplete", "failed", "recovered"), reason and cut_short.
std::string JobJson(const vprinter::FinishedJob& job, const RecordedJob& r);
// The readable line of a job: "job 000001  tcp:127.0.0.1:50122  1,234 bytes  2 receipts  closed  DIR/000001".
std::string JobLine(const RecordedJob& r);

class JobRecorder {
public:
    struct Options {
        std::string folder;   // empty: nothing is saved
        int widthDots = 576;  // the paper's width for the pictures
        // The queue holds at most this many jobs, or this many bytes of them (one job always fits);
        // the sink then waits, in steps of kFullWaitStep, until the writer has taken one.
        size_t maxQueuedJobs = 256;
        size_t maxQueuedBytes = 64u << 20;
        // Writer threads; 0: DefaultWriters().
        unsigned writers = 0;
        // What one job may make at most.
        JobBounds bounds = {};
    };
    // Called on a writer thread once a job is written (or has failed), one job at a time, in the
    // order the jobs were taken.
    using Report = std::function<void(const RecordedJob&)>;
    // Called on a writer thread with an error line (without its line end), one line at a time.
    using ErrorLine = std::function<void(const std::string&)>;

    // The hardware's threads, at least 2 and at most 4.
    static unsigned DefaultWriters();

    static constexpr int kFullWaitStepMs = 50;

    JobRecorder(Options options, Report report, ErrorLine error);
    ~JobRecorder();  // finish()
    JobRecorder(const JobRecorder&) = delete;
    JobRecorder& operator=(const JobRecorder&) = delete;

    // Makes the folder when missing, checks it can be written, finds the highest job number in it
    // and starts the writer. False with the reason when the folder cannot be written.
    bool open(std::string* why);
    // Queues a job (the server's job sink); waits in bounded steps while the queue is full.
    void take(vprinter::FinishedJob&& job);
    // Writes and reports every job queued, then ends the writers. Later jobs are not taken.
    void finish();

    uint64_t firstNumber() const { return base_ + 1; }  // the folder number of the server's job 1
    uint64_t written() const;                           // jobs written (or failed) and reported so far
    unsigned writers() const { return writerCount_; }

private:
    void run();
    // Reports the written jobs that are next in order, one after the other.
    void reportInOrder(std::unique_lock<std::mutex>& lock);
    RecordedJob write(const vprinter::FinishedJob& job);
    void errorLine(const std::string& line);

    Options options_;
    Report report_;
    ErrorLine error_;
    uint64_t base_ = 0;
    unsigned writerCount_ = 1;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<vprinter::FinishedJob> queue_;  // guarded by mutex_
    size_t queuedBytes_ = 0;                   // guarded by mutex_
    bool ending_ = false;                      // guarded by mutex_
    uint64_t taken_ = 0;                       // jobs taken by writers; guarded by mutex_
    uint64_t written_ = 0;                     // jobs reported; guarded by mutex_
    std::map<uint64_t, RecordedJob> done_;     // written, not yet reported, by the order taken; guarded by mutex_
    std::mutex errorMutex_;                    // one error line at a time
    std::vector<std::thread> writerThreads_;
};

}  // namespace pellory::jobs
