// The jobs the web interface shows, by number: a small summary of each (what the pages show, and
// its record as lists give it: at most kListedAnswers of its answers) and where its files are.
// The whole record stays in job.json, read when asked for (job_files.h). Filled once from the jobs
// folder at start (the jobs of earlier runs) and then by the job recorder's report of each job
// written. Pages are copied out under a short lock: a reader never holds it while it reads a file
// or writes an answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "jobs/job_recorder.h"
#include "platform/thread_annotations.h"
#include "vprinter/printer_server.h"
#include "web/web_request.h"

namespace pellory::web {

// The answers a record lists in /api/jobs and the pages' lists; "answers_more" counts the rest.
inline constexpr size_t kListedAnswers = jobs::kListedAnswers;
// Jobs not saved (serve --no-save) have nothing on disk to read their record from: the index keeps
// the listed record of the newest this many of them, and lets the older ones go.
inline constexpr size_t kMaxUnsavedListed = 10000;
// Of the saved jobs, the newest this many keep their record as listed in memory (the lists pages
// and scripts ask for most); an older one's is read from its job.json when a list holds it.
inline constexpr size_t kRecentListed = 1000;

// One job as the web interface and the window's job list list it. Immutable once listed.
struct ListedJob {
    uint64_t number = 0;
    std::string folder;  // the job's folder; empty when not saved (nothing to read from it)
    // Its record as lists give it (ListedRecord), for a job not saved and the newest saved ones;
    // empty for older saved jobs, whose record is read from their job.json when a list holds them.
    std::string listed;
    // Read from the record, for the page.
    std::string source;
    std::string end;  // ISO 8601 UTC
    uint64_t bytes = 0;     // kept
    uint64_t received = 0;  // all it sent, over the limit too
    uint64_t receipts = 0;
    std::string ended;
    std::string reason;
    // Its pictures are drawn and still being written (its record says so until they are).
    bool picturesPending = false;
    // A connection that printed nothing (a status check, as drivers make them): no receipts and no
    // text in its decoding. A job not saved has no decoding to tell: only one of no bytes is.
    bool statusCheck = false;
    // When it started and ended, as times: set by ListedFromFinished (the window's list); the web
    // index has the end as text (end) only, and leaves these at the epoch.
    std::chrono::system_clock::time_point startedAt;
    std::chrono::system_clock::time_point endedAt;
    // Its bytes as received (at most the server's maxJobBytes), for drawing its paper: set by
    // ListedFromFinished; null in the web index, which never keeps a job's bytes.
    std::shared_ptr<const std::vector<uint8_t>> kept;
};

// A job the printer server finished, as a list that keeps jobs in memory holds it (the window's):
// number, source, start and end, the counts, how it ended and its bytes (moved from job), with no
// folder, record or decoding.
std::shared_ptr<const ListedJob> ListedFromFinished(vprinter::FinishedJob&& job);

// A ListedJob from a record (JSON text) and its folder (read for its decoding when it has no
// receipts); nothing when the record is not a job's.
std::shared_ptr<const ListedJob> ListedFromRecord(const std::string& record, const std::string& folder);
// The record of a listed job as lists give it: job.json's members in its order, "answers" the first
// kListedAnswers of them followed by "answers_more", the count of the rest, and last
// "status_check". One line. Read from job.json for a saved job the index keeps no listed record of
// (what the summary holds when it can no longer be read).
std::string ListedRecord(const ListedJob& job);
// The whole record of a listed job: its job.json, or the listed form when it has none (not saved)
// or it can no longer be read.
std::string WholeRecord(const ListedJob& job);

class JobIndex {
public:
    // Lists the job folders of dir (names of digits only, each with a job.json that reads as a
    // job's record); others are passed over. The number of jobs listed.
    size_t load(const std::string& dir);
    // A job the recorder has written (its report), as it reports it: its record is not read back
    // (but for a job whose pictures an earlier run left, reported with its record alone).
    void add(const jobs::RecordedJob& job);

    // The jobs of one page (see PageQuery), in its order.
    std::vector<std::shared_ptr<const ListedJob>> page(const PageQuery& q) const;
    std::shared_ptr<const ListedJob> find(uint64_t number) const;
    size_t size() const;
    uint64_t newest() const;  // the highest number listed; 0 for none

private:
    void put(std::shared_ptr<const ListedJob> job);
    mutable platform::Mutex mutex_;
    std::map<uint64_t, std::shared_ptr<const ListedJob>> jobs_ GUARDED_BY(mutex_);
    std::deque<uint64_t> unsaved_ GUARDED_BY(mutex_);  // the numbers of the unsaved jobs listed, oldest first
    std::set<uint64_t> recent_ GUARDED_BY(mutex_);     // the saved jobs that keep their listed record
};

}  // namespace pellory::web
