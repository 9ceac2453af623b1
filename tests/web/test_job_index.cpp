// The job index takes the recorder's report as it is, without reading its record back: what it
// lists of each job is what the record itself gives (ListedFromRecord, as for the jobs found in the
// folder at start), whatever the job's answers, source bytes, end or folder.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "jobs/job_recorder.h"
#include "support/job_folders.h"
#include "support/scratch_folder.h"
#include "web/job_index.h"

namespace pellory::web {
namespace {

// The jobs of cases recorded for real (saved into folder, or only counted when it is empty), as
// reported.
std::vector<jobs::RecordedJob> Recorded(const std::string& folder, std::vector<vprinter::FinishedJob> jobsToTake) {
    std::mutex mutex;
    std::vector<jobs::RecordedJob> reports;
    jobs::JobRecorder::Options o;
    o.folder = folder;
    o.stopTime = std::chrono::minutes(10);
    jobs::JobRecorder recorder(o,
                               [&](const jobs::RecordedJob& r) {
                                   std::lock_guard<std::mutex> lock(mutex);
                                   reports.push_back(r);
                               },
                               {});
    std::string why;
    EXPECT_TRUE(recorder.open(&why)) << why;
    for (vprinter::FinishedJob& job : jobsToTake) recorder.take(std::move(job));
    recorder.finish();
    return reports;
}

TEST(JobIndexDirect, AReportedJobIsListedAsItsRecordGivesIt) {
    const test::ScratchFolder dir("pellory_job_index");
    std::vector<vprinter::FinishedJob> made;
    made.push_back(test::MadeUpJob(1, "a receipt\n\x1d\x56\x42\x00"));
    made.push_back(test::MadeUpJob(2, "\x10\x04\x01", "pty:\xff\xc3(\x01\x7f"));  // bytes that are no UTF-8
    for (size_t i = 0; i < 25; ++i) {
        made[1].answers.push_back({.offset = i, .request = "DLE EOT 1\xfe", .bytes = {0x12}});
    }
    made.push_back(test::MadeUpJob(3, ""));
    made.back().end = vprinter::JobEnd::Idle;
    made.back().reason = "idle for 5 s \xe2\x82\xac";
    std::vector<vprinter::FinishedJob> unsaved = {test::MadeUpJob(4, ""), test::MadeUpJob(5, "text\n")};

    std::vector<jobs::RecordedJob> reports = Recorded(dir.Path("jobs"), made);
    for (const jobs::RecordedJob& r : Recorded("", unsaved)) reports.push_back(r);
    ASSERT_EQ(reports.size(), 5u);
    for (const jobs::RecordedJob& r : reports) {
        ASSERT_FALSE(r.listed.empty()) << r.number;
        JobIndex index;
        index.add(r);
        const std::shared_ptr<const ListedJob> direct = index.find(r.number);
        const std::shared_ptr<const ListedJob> read = ListedFromRecord(r.json, r.folder);
        ASSERT_TRUE(direct && read) << r.number;
        EXPECT_EQ(direct->number, read->number);
        EXPECT_EQ(direct->folder, read->folder) << r.number;
        EXPECT_EQ(direct->listed, read->listed) << r.number;
        EXPECT_EQ(direct->source, read->source) << r.number;
        EXPECT_EQ(direct->end, read->end) << r.number;
        EXPECT_EQ(direct->bytes, read->bytes) << r.number;
        EXPECT_EQ(direct->receipts, read->receipts) << r.number;
        EXPECT_EQ(direct->ended, read->ended) << r.number;
        EXPECT_EQ(direct->reason, read->reason) << r.number;
        EXPECT_EQ(direct->picturesPending, read->picturesPending) << r.number;
        EXPECT_EQ(direct->statusCheck, read->statusCheck) << r.number;
    }
    // A status check, saved and not, and what printed.
    EXPECT_FALSE(reports[0].statusCheck);
    EXPECT_TRUE(reports[1].statusCheck);
    EXPECT_TRUE(reports[3].statusCheck);
    EXPECT_FALSE(reports[4].statusCheck);
}

// A job the window lists straight from the server (ListedFromFinished) reads as the recorder's
// report of the same job lists it, and holds its bytes as kept; the index keeps no bytes.
TEST(JobIndexDirect, AFinishedJobIsListedAsItsReportListsItWithItsBytes) {
    std::vector<vprinter::FinishedJob> made;
    made.push_back(test::MadeUpJob(1, "a receipt\n\x1d\x56\x42\x00"));
    made.push_back(test::MadeUpJob(2, "over the limit", "serial:/dev/ttyS0"));
    made.back().receivedBytes = 100000;
    made.back().end = vprinter::JobEnd::OverLimit;
    made.push_back(test::MadeUpJob(3, ""));
    made.back().end = vprinter::JobEnd::Idle;
    const std::vector<vprinter::FinishedJob> copies = made;
    const std::vector<jobs::RecordedJob> reports = Recorded("", made);
    ASSERT_EQ(reports.size(), copies.size());
    for (size_t i = 0; i < copies.size(); ++i) {
        SCOPED_TRACE(copies[i].number);
        JobIndex index;
        index.add(reports[i]);
        const std::shared_ptr<const ListedJob> reported = index.find(copies[i].number);
        vprinter::FinishedJob job = copies[i];
        const std::shared_ptr<const ListedJob> finished = ListedFromFinished(std::move(job));
        ASSERT_TRUE(reported && finished);
        EXPECT_EQ(finished->number, reported->number);
        EXPECT_EQ(finished->source, reported->source);
        EXPECT_EQ(finished->end, reported->end);
        EXPECT_EQ(finished->bytes, reported->bytes);
        EXPECT_EQ(finished->received, reported->received);
        EXPECT_EQ(finished->received, copies[i].receivedBytes);
        EXPECT_EQ(finished->ended, reported->ended);
        EXPECT_EQ(finished->startedAt, copies[i].started);
        EXPECT_EQ(finished->endedAt, copies[i].ended);
        ASSERT_TRUE(finished->kept);
        EXPECT_EQ(*finished->kept, copies[i].bytes);
        EXPECT_EQ(reported->kept, nullptr);
    }
}

}  // namespace
}  // namespace pellory::web
