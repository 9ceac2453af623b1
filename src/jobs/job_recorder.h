// The job recorder: takes each job the printer server finishes (on the server's thread, through its
// job sink) into a bounded queue and writes it on one of a few writer threads of its own (several
// jobs at once, each in a folder of its own), to a folder of the jobs folder named by its number:
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
// One recorder per jobs folder: open() takes the folder's lock (job_folder_lock.h) and refuses a
// folder another process holds. Numbers go on past every name in the folder (job_numbers.h); with
// the spool (spool(), folder_spool.h) a job takes its number when it starts, its bytes are on disk as
// they arrive and the writer reads them back; a job handed over with its bytes in memory takes its
// number when it is queued. open() finishes the work folders an earlier run left (a kill) from
// their bytes, as jobs ended "recovered", before any new job; a work folder without bytes is
// reported as an error line and left. Nothing in the folder is ever removed.
//
// A file that cannot be written (a full disk, a file size limit) marks the job failed with the
// reason (what can be written of it still is, job.json last), reports an error line, and the next
// job is written as ever. Without a folder (no saving), nothing is written and each job is only
// counted and reported.
//
// The server's sink (offer) never waits: with HandOver::IfRoom a full queue refuses the job, and
// the recorder calls the room callback once a writer has taken a job off the queue. finish() ends
// within a bound, whatever is queued: the records of the jobs still waiting are written first (their
// bytes are on disk already), then the writers draw what they can until Options::stopTime has
// passed; the jobs left then are only renamed, their records saying why they have no pictures
// (cut_short).
//
// Jobs are reported in the order they were taken, whichever writer finishes first: a job written
// before the one taken ahead of it waits for that one's report. A writer takes the next job only
// while fewer jobs than there are writers are taken and not yet reported, so a slow job holds back
// at most that many written ones.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job_numbers.h"
#include "jobs/job_record.h"
#include "jobs/job_render.h"
#include "jobs/job_writer.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/thread_annotations.h"
#include "protocol/model_profile.h"
#include "vprinter/job_spool.h"
#include "vprinter/printer_server.h"

namespace pellory::jobs {

class JobsFolderLock;  // jobs/job_folder_lock.h
class FolderSpool;     // jobs/folder_spool.h

class JobRecorder {
public:
    struct Options {
        std::string folder;  // empty: nothing is saved
        // The paper's print width, for the pictures and the decoding.
        int widthDots = protocol::ProfileOf(protocol::Model::Orva80).paperDots;
        // The queue holds at most this many jobs, or this many bytes of them (their bytes in memory
        // and their answers; one job always fits). With the spool a job's bytes are not in memory,
        // so the count may be generous.
        size_t maxQueuedJobs = 256;
        size_t maxQueuedBytes = 64u << 20;
        // Writer threads; 0: DefaultWriters().
        unsigned writers = 0;
        // Without a folder: whether each job is drawn and decoded to count its receipts and commands
        // (serve reports them); false: a job is reported with its bytes unread, nothing counted (a
        // list that shows only what the server saw of each connection).
        bool countUnsaved = true;
        // What one job may make at most.
        JobBounds bounds = kDefaultJobBounds;
        // After finish() is called, pictures and decodings are made for this long at most; the
        // jobs left then are written without them.
        std::chrono::milliseconds stopTime{4000};
        // When a job's pictures are written. After the record: a job is on disk, and reported,
        // once its folder holds bytes.bin, decoding.txt and job.json (pictures_pending true,
        // receipts the pictures drawn); its pictures are written after, while no job waits to be
        // written, and then its record again (pictures_pending false), reported to
        // setPicturesWritten's callback. The pictures drawn and waiting hold at most
        // maxWaitingPictures bytes of memory: past it a job's pictures are written before its
        // record.
        enum class Pictures {
            WithRecord,               // before the record: a job's folder appears with its pictures
            AfterRecord,              // after the record, always
            AfterRecordWhileJobsWait  // after the record while other jobs wait to be written
        };
        Pictures pictures = Pictures::WithRecord;
        size_t maxWaitingPictures = size_t{64} << 20;
        // The time stopTime and bounds.maxWriterTime go by. None: the real clock.
        std::shared_ptr<platform::Clock> clock = platform::RealClock();
    };
    // Called on a writer thread once a job is written (or has failed), one job at a time, in the
    // order the jobs were taken.
    using Report = std::function<void(const RecordedJob&)>;
    // Called on a writer thread (or open()'s) with an error line (without its line end), one line at
    // a time.
    using ErrorLine = std::function<void(const std::string&)>;

    // The hardware's threads, at least 2 and at most 4.
    static unsigned DefaultWriters();

    static constexpr int kFullWaitStepMs = 50;

    JobRecorder(Options options, Report report, ErrorLine error);
    ~JobRecorder();  // finish()
    JobRecorder(const JobRecorder&) = delete;
    JobRecorder& operator=(const JobRecorder&) = delete;

    // Makes the folder when missing, checks it can be written, takes its lock, finds the next job
    // number, queues the work folders an earlier run left and starts the writers. False with the
    // reason when the folder cannot be written, or is in use (folderHolder() then says by whom).
    bool open(std::string* why);
    // Whether open() failed because another process holds the folder's lock, and its process id
    // (0 when it could not be read).
    bool folderInUse() const { return inUse_; }
    platform::ProcessId folderHolder() const { return holder_; }

    // The server's job sink: queues the job (taken: true, moved from). With HandOver::IfRoom a full
    // queue refuses it (false, the job untouched); with Always it is taken past the bounds. Never
    // waits.
    bool offer(vprinter::FinishedJob& job, vprinter::HandOver how);
    // Called on a writer thread when a job refused for want of room may be offered again. Not
    // called after setRoom({}) has returned.
    void setRoom(std::function<void()> room);
    // Called on a writer thread once the pictures of a job reported with them pending are written
    // and its record rewritten (Options::pictures), with the record as it is now. Not called
    // after setPicturesWritten({}) has returned.
    void setPicturesWritten(Report written);
    // Queues a job, waiting in steps of kFullWaitStepMs while the queue is full.
    void take(vprinter::FinishedJob&& job);
    // Writes and reports every job queued within the bound described above, then ends the writers.
    // Later jobs are not taken.
    void finish();

    // The spool over the jobs folder, once open() succeeded with a folder; null without one.
    std::shared_ptr<vprinter::JobSpool> spool() const;

    uint64_t firstNumber() const { return first_; }  // the number the first new job tries
    uint64_t written() const;                        // jobs written (or failed) and reported so far
    unsigned writers() const { return writerCount_; }

private:
    void run();
    // Reports the written jobs that are next in order, one after the other, letting mutex_ go
    // while each report runs.
    void reportInOrder() REQUIRES(mutex_);
    // Writes the pictures of a job on disk, and tells setPicturesWritten's callback.
    void writeLater(LaterPictures& p) EXCLUDES(mutex_);
    bool full(const vprinter::FinishedJob& job) const REQUIRES(mutex_);
    void push(vprinter::FinishedJob&& job) REQUIRES(mutex_);
    void queueLeftovers() EXCLUDES(mutex_);
    bool stopped() const;
    void errorLine(const std::string& line);

    Options options_;
    Report report_;
    ErrorLine error_;
    unsigned writerCount_ = 1;
    uint64_t first_ = 1;
    bool inUse_ = false;
    platform::ProcessId holder_ = 0;
    std::unique_ptr<JobsFolderLock> lock_;
    std::shared_ptr<JobNumbers> numbers_;
    std::shared_ptr<FolderSpool> spool_;
    std::unique_ptr<JobWriting> writing_;

    mutable platform::Mutex mutex_;
    std::condition_variable changed_;
    std::deque<QueuedJob> queue_ GUARDED_BY(mutex_);
    size_t queuedBytes_ GUARDED_BY(mutex_) = 0;
    bool ending_ GUARDED_BY(mutex_) = false;
    bool refused_ GUARDED_BY(mutex_) = false;  // a job was refused since a writer last took one
    uint64_t taken_ GUARDED_BY(mutex_) = 0;    // jobs taken by writers
    uint64_t written_ GUARDED_BY(mutex_) = 0;  // jobs reported
    struct DoneJob {
        RecordedJob record;
        std::optional<LaterPictures> later;  // its pictures, when they wait
    };
    std::map<uint64_t, DoneJob> done_ GUARDED_BY(mutex_);  // written, not yet reported, by the order taken
    std::deque<LaterPictures> later_ GUARDED_BY(mutex_);   // jobs on disk whose pictures wait
    std::atomic<size_t> waitingMemory_{0};                 // what the pictures drawn and waiting hold
    std::mutex picturesWrittenMutex_;                      // held while picturesWritten_ is called or changed
    Report picturesWritten_;
    // Set once by finish(): when the time for pictures ends (deadline_ written before stopping_).
    std::atomic<bool> stopping_{false};
    std::chrono::steady_clock::time_point deadline_;
    platform::Mutex roomMutex_;  // held while room_ is called or changed
    std::function<void()> room_ GUARDED_BY(roomMutex_);
    platform::Mutex errorMutex_;  // one error line at a time
    std::vector<std::thread> writerThreads_;
};

}  // namespace pellory::jobs
