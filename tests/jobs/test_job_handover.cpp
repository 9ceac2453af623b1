// The recorder never keeps the printer server waiting, and its stop is bounded: an offer the full
// queue has no room for is refused at once (the job untouched) and the room callback follows once a
// writer has taken a job; an offer that must be taken is, past the bounds. At the stop the records
// of the jobs still waiting are written first, and once the time for pictures has run out the jobs
// left are written without them, their records saying so.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job_folder.h"
#include "jobs/folder_spool.h"
#include "support/job_folders.h"
#include "support/job_recording.h"

namespace pellory::jobs {
namespace {

namespace fs = std::filesystem;
using test::JobFolder;
using test::MadeUpJob;
using test::RecordingRun;
using vprinter::FinishedJob;
using vprinter::HandOver;

std::string Receipt(const std::string& name, int lines) {
    std::string out;
    for (int i = 0; i < lines; ++i) out += name + " line " + std::to_string(i) + "\n";
    return out + std::string("\x1d\x56\x42\x00", 4);
}

// With its writer held, the queue fills (by its count of jobs, or of bytes): an offer IfRoom is
// refused at once, the job left as it was, an offer Always is taken, and the room callback comes
// once the writer takes the next job; the refused job, offered again, is written last.
TEST(RecorderHandOverTest, AFullQueueRefusesAnOfferIfRoomAtOnceAndCallsBackWithRoom) {
    for (const auto& [maxJobs, maxBytes] : {std::pair<size_t, size_t>{1, 1u << 20}, {100, 1000}}) {
        const test::ScratchFolder dir("pellory_handover");
        JobRecorder::Options o;
        o.folder = dir.Folder();
        o.writers = 1;
        o.maxQueuedJobs = maxJobs;
        o.maxQueuedBytes = maxBytes;
        RecordingRun run(o);
        std::atomic<int> rooms{0};
        run->setRoom([&rooms] { ++rooms; });
        run.Hold();
        run.Open();
        const std::string big = Receipt("big", 60);  // about 800 bytes
        run->take(MadeUpJob(1, "one\n"));
        ASSERT_TRUE(run.WaitUntilHeld());
        FinishedJob second = MadeUpJob(2, big), third = MadeUpJob(3, big), fourth = MadeUpJob(4, big);
        ASSERT_TRUE(run->offer(second, HandOver::IfRoom));  // one job always fits
        std::future<bool> offered = std::async(std::launch::async, [&] { return run->offer(third, HandOver::IfRoom); });
        const bool returned = offered.wait_for(test::kRecorderWatchdog) == std::future_status::ready;
        if (!returned) run.Release();  // so that the offer can end, and the test with it
        ASSERT_TRUE(returned) << maxJobs << ": the offer waited for room";
        EXPECT_FALSE(offered.get());
        EXPECT_EQ(std::string(third.bytes.begin(), third.bytes.end()), big);
        EXPECT_TRUE(run->offer(fourth, HandOver::Always));
        EXPECT_EQ(rooms.load(), 0);
        run.Release();
        EXPECT_TRUE(test::WaitUntil([&] { return rooms.load() > 0; }));
        EXPECT_TRUE(test::WaitUntil([&] { return run->offer(third, HandOver::IfRoom); }));
        run->finish();
        ASSERT_EQ(run.reports.size(), 4u);
        EXPECT_EQ(run.reports[3].number, 4u);
        EXPECT_EQ(dir.Read("000004/bytes.bin"), big);
    }
}

// finish() with jobs waiting behind a held writer and no time for pictures: their bytes and records
// are in their work folders before the writer goes on, and each is written with them only, cut
// short; the job drawn before the stop is whole.
TEST(RecorderStopTest, TheWaitingJobsRecordsComeFirstAndThoseLeftAtTheEndHaveNoPictures) {
    constexpr size_t kJobs = 6;
    for (const bool spooled : {false, true}) {
        const test::ScratchFolder dir("pellory_stop");
        JobRecorder::Options o;
        o.folder = dir.Folder();
        o.writers = 1;
        o.stopTime = std::chrono::milliseconds(0);
        RecordingRun run(o);
        run.Hold();
        run.Open();
        std::vector<std::string> streams;
        for (size_t i = 1; i <= kJobs; ++i) {
            streams.push_back(Receipt("job " + std::to_string(i), 20));
            FinishedJob job = MadeUpJob(i, streams.back());
            if (spooled) {
                job.spool = run->spool()->begin(i, job.started, job.source);
                ASSERT_TRUE(job.spool->append(job.bytes.data(), job.bytes.size()));
                job.bytes.clear();
            }
            ASSERT_TRUE(run->offer(job, HandOver::Always));
        }
        ASSERT_TRUE(run.WaitUntilHeld());  // job 1's writer waits in its report, the rest in the queue
        std::thread stopper([&] { run->finish(); });
        const auto work = [&](size_t i) { return JobFolder{dir.path() / JobWorkName(i)}; };
        EXPECT_TRUE(test::WaitUntil([&] { return fs::exists(work(kJobs).path / "job.json"); })) << spooled;
        for (size_t i = 2; i <= kJobs; ++i) {
            EXPECT_EQ(work(i).Read("bytes.bin"), streams[i - 1]) << spooled << " " << i;
            EXPECT_EQ(test::Text(work(i).Record(), "cut_short"), kStoppedBeforeOutput) << spooled << " " << i;
        }
        run.Release();
        stopper.join();
        ASSERT_EQ(run.reports.size(), kJobs);
        for (size_t i = 1; i <= kJobs; ++i) {
            const RecordedJob& r = run.reports[i - 1];
            const JobFolder folder{dir.path() / JobFolderName(i)};
            EXPECT_EQ(r.cutShort, i == 1 ? "" : kStoppedBeforeOutput) << spooled << " " << i;
            EXPECT_EQ(folder.Read("bytes.bin"), streams[i - 1]) << spooled << " " << i;
            EXPECT_EQ(folder.Read("job.json"), r.json + "\n") << spooled << " " << i;
            EXPECT_EQ(folder.Receipts().size(), i == 1 ? 1u : 0u) << spooled << " " << i;
        }
        EXPECT_EQ(test::FolderEntries(dir.path()).size(), kJobs);
    }
}

}  // namespace
}  // namespace pellory::jobs
