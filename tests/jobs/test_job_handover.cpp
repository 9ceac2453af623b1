// The recorder never keeps the printer server waiting, and its stop is bounded: an offer the full
// queue has no room for is refused at once (the job untouched) and the room callback follows once a
// writer has taken a job; an offer that must be taken is, past the bounds. At the stop the records
// of the jobs still waiting are written before anything else, and once the time for pictures has
// run out the jobs left are written without them, their records saying so.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job_folder.h"
#include "jobs/job_recorder.h"
#include "jobs/job_spool.h"
#include "jobs/job_writer.h"
#include "support/job_folders.h"
#include "support/job_recording.h"

namespace pellory::jobs {
namespace {

namespace fs = std::filesystem;
using test::JobFolder;
using test::MadeUpJob;
using test::Number;
using test::RecordingRun;
using test::Text;
using vprinter::FinishedJob;
using vprinter::HandOver;

const std::string kCut("\x1d\x56\x42\x00", 4);

std::string Receipt(const std::string& name, int lines = 3) {
    std::string out;
    for (int i = 0; i < lines; ++i) out += name + " line " + std::to_string(i) + "\n";
    return out + kCut;
}

std::vector<uint64_t> NumbersOf(const std::vector<RecordedJob>& reports) {
    std::vector<uint64_t> numbers;
    for (const RecordedJob& r : reports) numbers.push_back(r.number);
    return numbers;
}

// With its writer held, the queue fills: an offer IfRoom is then refused at once and leaves the
// job as it was, an offer Always is taken past the bound, and the room callback comes once the
// writer takes the next job; the refused job, offered again, is written after the others.
TEST(RecorderHandOverTest, AFullQueueRefusesAnOfferIfRoomAtOnceAndCallsBackWithRoom) {
    struct Case {
        const char* name;
        size_t maxJobs;
        size_t maxBytes;
    };
    const Case cases[] = {
        {"as many jobs as it may hold", 1, 1u << 20},
        {"as many bytes as it may hold", 100, 1000},
    };
    for (const Case& c : cases) {
        const test::ScratchFolder dir("pellory_handover");
        JobRecorder::Options o;
        o.folder = dir.Folder();
        o.writers = 1;
        o.maxQueuedJobs = c.maxJobs;
        o.maxQueuedBytes = c.maxBytes;
        RecordingRun run(o);
        std::atomic<int> rooms{0};
        run->setRoom([&rooms] { ++rooms; });
        run.Hold();
        run.Open();
        const std::string big = Receipt("big", 60);  // about 800 bytes
        run->take(MadeUpJob(1, "one\n"));
        ASSERT_TRUE(run.WaitUntilHeld()) << c.name;
        FinishedJob second = MadeUpJob(2, big);
        ASSERT_TRUE(run->offer(second, HandOver::IfRoom)) << c.name;  // one job always fits
        FinishedJob third = MadeUpJob(3, big);
        std::future<bool> offered = std::async(std::launch::async, [&] { return run->offer(third, HandOver::IfRoom); });
        const bool returned = offered.wait_for(test::kRecorderWatchdog) == std::future_status::ready;
        if (!returned) run.Release();  // so that the offer can end, and the test with it
        ASSERT_TRUE(returned) << c.name << ": the offer waited for room";
        EXPECT_FALSE(offered.get()) << c.name;
        EXPECT_EQ(std::string(third.bytes.begin(), third.bytes.end()), big) << c.name;
        EXPECT_EQ(rooms.load(), 0) << c.name;
        FinishedJob fourth = MadeUpJob(4, big);
        EXPECT_TRUE(run->offer(fourth, HandOver::Always)) << c.name;
        EXPECT_TRUE(fourth.bytes.empty()) << c.name;  // moved into the queue
        run.Release();
        EXPECT_TRUE(test::WaitUntil([&] { return rooms.load() > 0; })) << c.name;
        EXPECT_TRUE(test::WaitUntil([&] { return run->offer(third, HandOver::IfRoom); })) << c.name;
        run->finish();
        EXPECT_EQ(NumbersOf(run.Reports()), (std::vector<uint64_t>{1, 2, 3, 4})) << c.name;
        EXPECT_EQ(dir.Read("000004/bytes.bin"), big) << c.name;  // the third job, taken last
        EXPECT_EQ(dir.Read("000003/bytes.bin"), big) << c.name;
    }
}

// finish() with jobs waiting behind a held writer: their bytes and records are in their work
// folders before the writer goes on; with no time for pictures left, each is written with its
// bytes and record only, cut short; the job drawn before the stop is whole.
TEST(RecorderStopTest, TheWaitingJobsRecordsComeFirstAndThoseLeftAtTheEndHaveNoPictures) {
    struct Case {
        const char* name;
        bool spooled;
    };
    const Case cases[] = {
        {"bytes in memory", false},
        {"bytes in the spool", true},
    };
    constexpr size_t kJobs = 8;
    for (const Case& c : cases) {
        const test::ScratchFolder dir("pellory_stop");
        JobRecorder::Options o;
        o.folder = dir.Path("jobs");
        o.writers = 1;
        o.stopTime = std::chrono::milliseconds(0);
        RecordingRun run(o);
        run.Hold();
        run.Open();
        std::vector<std::string> streams;
        for (size_t i = 1; i <= kJobs; ++i) {
            streams.push_back(Receipt("job " + std::to_string(i), 20));
            FinishedJob job = MadeUpJob(i, streams.back());
            if (c.spooled) {
                std::unique_ptr<vprinter::SpooledJob> spooled = run->spool()->begin(i, job.started, job.source);
                ASSERT_TRUE(spooled->append(job.bytes.data(), job.bytes.size()));
                job.spool = std::move(spooled);
                job.bytes.clear();
            }
            ASSERT_TRUE(run->offer(job, HandOver::Always));
        }
        // Job 1's writer waits in its report: the rest wait in the queue.
        ASSERT_TRUE(run.WaitUntilHeld()) << c.name;
        std::thread stopper([&] { run->finish(); });
        {
            const auto work = [&](size_t i) { return JobFolder{dir.path() / "jobs" / JobWorkName(i)}; };
            EXPECT_TRUE(test::WaitUntil([&] {
                for (size_t i = 2; i <= kJobs; ++i) {
                    if (!fs::exists(work(i).path / "job.json")) return false;
                }
                return true;
            })) << c.name;
            for (size_t i = 2; i <= kJobs; ++i) {
                EXPECT_EQ(work(i).Read("bytes.bin"), streams[i - 1]) << c.name << " " << i;
                EXPECT_EQ(Text(work(i).Record(), "cut_short"), kStoppedBeforeOutput) << c.name << " " << i;
            }
        }
        run.Release();
        stopper.join();
        const std::vector<RecordedJob> reports = run.Reports();
        ASSERT_EQ(reports.size(), kJobs) << c.name;
        for (size_t i = 1; i <= kJobs; ++i) {
            const RecordedJob& r = reports[i - 1];
            const bool drawn = i == 1;
            EXPECT_EQ(r.number, i) << c.name;
            EXPECT_EQ(r.cutShort, drawn ? "" : kStoppedBeforeOutput) << c.name << " " << i;
            EXPECT_EQ(r.commands > 0, drawn) << c.name << " " << i;
            EXPECT_EQ(r.end, vprinter::JobEnd::Closed) << c.name << " " << i << ": " << r.reason;
            const JobFolder folder{dir.path() / "jobs" / JobFolderName(i)};
            EXPECT_EQ(folder.Read("bytes.bin"), streams[i - 1]) << c.name << " " << i;
            EXPECT_EQ(folder.Read("job.json"), r.json + "\n") << c.name << " " << i;
            EXPECT_EQ(Number(folder.Record(), "receipts"), drawn ? 1 : 0) << c.name << " " << i;
            const std::vector<std::string> expected =
                drawn ? std::vector<std::string>{"bytes.bin", "decoding.txt", "job.json", "receipt-01.png"}
                      : std::vector<std::string>{"bytes.bin", "job.json"};
            EXPECT_EQ(folder.Names(), expected) << c.name << " " << i;
        }
        {
            std::vector<std::string> folders;
            for (size_t i = 1; i <= kJobs; ++i) folders.push_back(JobFolderName(i));
            EXPECT_EQ(test::FolderEntries(dir.path() / "jobs"), folders) << c.name;
        }
    }
}

}  // namespace
}  // namespace pellory::jobs
