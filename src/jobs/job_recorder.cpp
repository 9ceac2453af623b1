#include "jobs/job_recorder.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "jobs/folder_spool.h"
#include "jobs/job_folder.h"
#include "jobs/job_folder_lock.h"
#include "platform/threads.h"

namespace pellory::jobs {

namespace fs = std::filesystem;
using vprinter::FinishedJob;
using vprinter::HandOver;

namespace {

// What a queued job holds in memory: its bytes (none when spooled) and its answers.
size_t JobMemory(const FinishedJob& job) {
    size_t n = job.bytes.size();
    for (const vprinter::SentAnswer& a : job.answers) n += sizeof a + a.request.size() + a.bytes.size();
    return n;
}

}  // namespace

JobRecorder::JobRecorder(Options options, Report report, ErrorLine error)
    : options_(std::move(options)), report_(std::move(report)), error_(std::move(error)) {
    writerCount_ = options_.writers > 0 ? options_.writers : DefaultWriters();
    if (!options_.clock) options_.clock = platform::RealClock();
}

JobRecorder::~JobRecorder() { finish(); }

unsigned JobRecorder::DefaultWriters() { return std::clamp(std::thread::hardware_concurrency(), 2u, 4u); }

bool JobRecorder::open(std::string* why) {
    if (!options_.folder.empty()) {
        if (!PrepareJobsFolder(options_.folder, why)) return false;
        lock_ = std::make_unique<JobsFolderLock>();
        platform::ProcessId holder = 0;
        const JobsFolderLock::Result locked = lock_->take(options_.folder, &holder, why);
        if (locked == JobsFolderLock::Result::InUse) {
            inUse_ = true;
            holder_ = holder;
            if (why) *why = holder != 0 ? "in use by process " + std::to_string(holder) : "in use by another process";
        }
        if (locked != JobsFolderLock::Result::Taken) return false;
        numbers_ = std::make_shared<JobNumbers>(options_.folder, HighestJobNumber(options_.folder));
        first_ = numbers_->next();
        spool_ = std::make_shared<FolderSpool>(numbers_);
        queueLeftovers();
    }
    writing_ = std::make_unique<JobWriting>();
    writing_->folder = options_.folder;
    writing_->widthDots = options_.widthDots;
    writing_->count = options_.countUnsaved;
    writing_->bounds = options_.bounds;
    writing_->bounds.clock = options_.clock.get();
    writing_->numbers = numbers_.get();
    writing_->errorLine = [this](const std::string& line) { errorLine(line); };
    writing_->stopped = [this] { return stopped(); };
    if (options_.pictures != Options::Pictures::WithRecord) {
        writing_->holdPictures = [this](size_t memory) {
            if (options_.pictures == Options::Pictures::AfterRecordWhileJobsWait) {
                platform::MutexLock lock(mutex_);
                if (queue_.empty()) return false;  // none waits: the pictures cost no one anything
            }
            size_t now = waitingMemory_.load(std::memory_order_relaxed);
            do {
                if (now + memory > options_.maxWaitingPictures) return false;
            } while (!waitingMemory_.compare_exchange_weak(now, now + memory, std::memory_order_relaxed));
            return true;
        };
        writing_->releasePictures = [this](size_t memory) {
            waitingMemory_.fetch_sub(memory, std::memory_order_relaxed);
        };
    }
    for (unsigned i = 0; i < writerCount_; ++i) writerThreads_.emplace_back([this] { run(); });
    return true;
}

void JobRecorder::queueLeftovers() {
    std::vector<uint64_t> leftovers, pictures;
    std::error_code ec;
    for (fs::directory_iterator it(platform::PathOf(options_.folder), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = platform::TextOf(it->path().filename());
        if (const std::optional<uint64_t> n = WorkFolderNumber(name)) leftovers.push_back(*n);
        if (const std::optional<uint64_t> n = LaterPicturesNumber(name)) pictures.push_back(*n);
    }
    std::sort(leftovers.begin(), leftovers.end());
    std::sort(pictures.begin(), pictures.end());
    platform::MutexLock lock(mutex_);
    for (const uint64_t n : pictures) {
        std::string why;
        if (std::optional<LaterPictures> p = LeftoverPictures(options_.folder, n, &why)) {
            later_.push_back(std::move(*p));
        } else {
            errorLine("job " + JobFolderName(n) + ": its pictures were left to write by an earlier run, and " + why +
                      "; they are not written");
            RemoveFile(options_.folder + "/" + LaterPicturesMarker(n));
        }
    }
    for (const uint64_t n : leftovers) {
        std::string why;
        if (std::optional<QueuedJob> q = LeftoverJob(options_.folder, n, &why)) {
            queue_.push_back(std::move(*q));
        } else {
            errorLine("job " + JobFolderName(n) + ": " + JobWorkName(n) + " was left by an earlier run, and " + why +
                      "; it is left as it is");
        }
    }
}

std::shared_ptr<vprinter::JobSpool> JobRecorder::spool() const { return spool_; }

bool JobRecorder::full(const FinishedJob& job) const {
    return !queue_.empty() &&
           (queue_.size() >= options_.maxQueuedJobs || queuedBytes_ + JobMemory(job) > options_.maxQueuedBytes);
}

void JobRecorder::push(FinishedJob&& job) {
    QueuedJob q;
    if (const FolderSpooledJob* spooled = dynamic_cast<const FolderSpooledJob*>(job.spool.get())) {
        q.number = spooled->number();
    } else if (numbers_) {
        if (const std::optional<uint64_t> n = numbers_->take(&q.numberFailure)) q.number = *n;
    } else {
        q.number = job.number;
    }
    queuedBytes_ += JobMemory(job);
    q.job = std::move(job);
    queue_.push_back(std::move(q));
    changed_.notify_all();
}

bool JobRecorder::offer(FinishedJob& job, HandOver how) {
    platform::MutexLock lock(mutex_);
    if (writerThreads_.empty() || ending_) {
        lock.unlock();
        FolderSpooledJob* spooled = dynamic_cast<FolderSpooledJob*>(job.spool.get());
        if (spooled && spooled->number() != 0) {
            spooled->close();
            errorLine("job " + JobFolderName(spooled->number()) + " came after the end; its bytes stay in " +
                      JobWorkName(spooled->number()) + " for the next start");
        } else {
            errorLine("a job from " + job.source + " came after the end; it was not written");
        }
        return true;
    }
    if (how == HandOver::IfRoom && full(job)) {
        refused_ = true;
        return false;
    }
    push(std::move(job));
    return true;
}

void JobRecorder::take(FinishedJob&& job) {
    {
        platform::MutexLock lock(mutex_);
        while (!writerThreads_.empty() && !ending_ && full(job))
            changed_.wait_for(lock.native(), std::chrono::milliseconds(kFullWaitStepMs));
    }
    offer(job, HandOver::Always);
}

void JobRecorder::setRoom(std::function<void()> room) {
    platform::MutexLock lock(roomMutex_);
    room_ = std::move(room);
}

void JobRecorder::finish() {
    {
        platform::MutexLock lock(mutex_);
        if (!ending_ && writing_) {
            deadline_ = options_.clock->now() + options_.stopTime;
            stopping_.store(true, std::memory_order_release);
            // The records of the jobs still waiting, before any writer draws another picture.
            for (QueuedJob& q : queue_) WriteEarlyRecord(q, *writing_);
        }
        ending_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : writerThreads_) {
        if (t.joinable()) t.join();
    }
}

bool JobRecorder::stopped() const {
    return stopping_.load(std::memory_order_acquire) && options_.clock->now() >= deadline_;
}

uint64_t JobRecorder::written() const {
    platform::MutexLock lock(mutex_);
    return written_;
}

void JobRecorder::errorLine(const std::string& line) {
    if (!error_) return;
    platform::MutexLock lock(errorMutex_);
    error_(line);
}

void JobRecorder::run() {
    // Drawing gives way to the printer server's loop, which answers status requests at once.
    platform::LowerCurrentThreadPriority();
    platform::MutexLock lock(mutex_);
    for (;;) {
        // The next job, once fewer than writerCount_ are taken and not yet reported; the pictures
        // of a job on disk only while no job is to be taken.
        const auto ready = [&]() REQUIRES(mutex_) { return !queue_.empty() && taken_ - written_ < writerCount_; };
        while (!ready() && later_.empty() && !(ending_ && queue_.empty()))
            changed_.wait_for(lock.native(), std::chrono::milliseconds(kFullWaitStepMs));
        if (!ready() && !later_.empty()) {
            LaterPictures p = std::move(later_.front());
            later_.pop_front();
            lock.unlock();
            writeLater(p);
            lock.lock();
            continue;
        }
        if (!ready()) return;  // ending, nothing left to take
        std::optional<QueuedJob> q;
        q.emplace(std::move(queue_.front()));
        queue_.pop_front();
        queuedBytes_ -= JobMemory(q->job);
        const uint64_t order = taken_++;
        const bool room = std::exchange(refused_, false);
        changed_.notify_all();
        lock.unlock();
        if (room) {
            platform::MutexLock roomLock(roomMutex_);
            if (room_) room_();
        }
        std::optional<LaterPictures> later;
        RecordedJob r = WriteJob(*q, *writing_, options_.pictures != Options::Pictures::WithRecord ? &later : nullptr);
        q.reset();  // its bytes, and its spool's file, let go of before the report
        lock.lock();
        done_.emplace(order, DoneJob{std::move(r), std::move(later)});
        reportInOrder();
    }
}

void JobRecorder::writeLater(LaterPictures& p) {
    bool rewritten = false;
    const RecordedJob r = WriteLaterPictures(p, *writing_, &rewritten);
    waitingMemory_.fetch_sub(p.memory, std::memory_order_relaxed);
    p = LaterPictures();  // its pictures let go of before the report
    if (!rewritten) return;
    std::lock_guard<std::mutex> lock(picturesWrittenMutex_);
    if (picturesWritten_) picturesWritten_(r);
}

void JobRecorder::setPicturesWritten(Report written) {
    std::lock_guard<std::mutex> lock(picturesWrittenMutex_);
    picturesWritten_ = std::move(written);
}

void JobRecorder::reportInOrder() {
    // Only the job next in order is reported, and the next after it only once its report is done:
    // a writer that finds its job not next leaves it to the writer of the one before.
    for (auto next = done_.find(written_); next != done_.end(); next = done_.find(written_)) {
        const RecordedJob r = std::move(next->second.record);
        std::optional<LaterPictures> later = std::move(next->second.later);
        done_.erase(next);
        mutex_.unlock();
        if (report_) report_(r);
        mutex_.lock();
        ++written_;
        // Its pictures only once it is reported: their record comes after the one that says they
        // are pending.
        if (later) later_.push_back(std::move(*later));
        changed_.notify_all();
    }
}

}  // namespace pellory::jobs
