// The jobs folder as several writers and several runs share it: the spool writes each piece of a
// job through to its work folder, a write that fails fails the job (still in its folder), and the
// recorder writes spooled jobs from their bytes under the numbers they took; work folders an ended
// server left are finished at the next start; no two takers share a number, an entry of a job's
// name is passed over and kept; a second recorder on a folder in use is refused.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job_folder.h"
#include "jobs/job_numbers.h"
#include "jobs/folder_spool.h"
#include "jobs/json_text.h"
#include "support/job_folders.h"
#include "support/job_recording.h"

namespace pellory::jobs {
namespace {

namespace fs = std::filesystem;
using test::FolderEntries;
using test::JobFolder;
using test::RecordingRun;
using test::Text;
using vprinter::FinishedJob;
using vprinter::HandOver;
using vprinter::JobEnd;

std::string Receipt(const std::string& name, int lines = 3) {
    std::string out;
    for (int i = 0; i < lines; ++i) out += name + " line " + std::to_string(i) + "\n";
    return out + std::string("\x1d\x56\x42\x00", 4);
}

bool Append(vprinter::SpooledJob& job, const std::string& bytes) {
    return job.append(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// A job as the server hands a spooled one over: its bytes in the spool, none in memory.
FinishedJob Handed(std::unique_ptr<vprinter::SpooledJob> spooled, uint64_t received) {
    FinishedJob job;
    job.started = job.ended = std::chrono::system_clock::now();
    job.source = "pty:/tmp/p";
    job.receivedBytes = received;
    job.spool = std::move(spooled);
    return job;
}

JobRecorder::Options Into(const std::string& folder) {
    JobRecorder::Options o;
    o.folder = folder;
    return o;
}

// Each piece is in bytes.bin once append() returns; a write past the file size limit fails the
// spool with the system's reason and takes nothing more. Handed over in the other order, each job
// is written from its bytes.bin under the number it took: the whole one with its pictures and
// decoding, the failed one with the bytes written and its one reason, both in their final folders.
TEST(FolderSpoolTest, PiecesAreOnDiskOnceAppendedAndAFailedWriteFailsOnlyItsJob) {
    const test::ScratchFolder dir("pellory_spool");
    RecordingRun run(Into(dir.Folder()));
    run.Open();
    const std::string whole = Receipt("whole", 40), big = Receipt("big", 45);
    auto first = run->spool()->begin(7, std::chrono::system_clock::now(), "pty:/tmp/p");
    auto second = run->spool()->begin(8, std::chrono::system_clock::now(), "pty:/tmp/p");
    for (size_t at = 0; at < whole.size(); at += 100) {
        ASSERT_TRUE(Append(*first, whole.substr(at, 100)));
        ASSERT_EQ(dir.Read("000001.tmp/bytes.bin"), whole.substr(0, at + 100));
    }
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1000, before.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const std::vector<bool> taken = {Append(*second, big), Append(*second, big), Append(*second, "x")};
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(taken, (std::vector<bool>{true, false, false}));
    EXPECT_EQ(second->failure(), "File too large");
    for (auto* spooled : {&second, &first}) {
        FinishedJob job = Handed(std::move(*spooled), 2 * big.size() + 1);
        ASSERT_TRUE(run->offer(job, HandOver::IfRoom));
    }
    run->finish();
    ASSERT_EQ(run.reports.size(), 2u);
    EXPECT_EQ(run.reports[0].number, 2u);
    EXPECT_EQ(run.reports[0].reason, "cannot write bytes.bin: File too large");
    EXPECT_EQ(run.errors,
              std::vector<std::string>{"job 000002: cannot write bytes.bin: File too large; the job is marked failed"});
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"000001", "000002"}));
    const JobFolder ok{dir.path() / "000001"}, failed{dir.path() / "000002"};
    EXPECT_EQ(ok.Names(), (std::vector<std::string>{"bytes.bin", "decoding.txt", "job.json", "receipt-01.png"}));
    EXPECT_EQ(ok.Read("bytes.bin"), whole);
    EXPECT_EQ(test::Number(ok.Record(), "commands"), 41);  // the line feeds and the cut
    EXPECT_EQ(failed.Read("bytes.bin"), (big + big).substr(0, 1000));
    EXPECT_EQ(Text(failed.Record(), "ended"), "failed");
    EXPECT_EQ(Text(failed.Record(), "reason"), run.reports[0].reason);
}

// A server that ended while jobs were in work folders: the next start finishes each from its bytes
// (ended "recovered", start and source from its start record when there) and keeps its number,
// reports a work folder without bytes and leaves it, and numbers new jobs past every name.
TEST(RecorderRestartTest, WorkFoldersLeftByAnEndedServerAreFinishedAtTheNextStart) {
    const test::ScratchFolder dir("pellory_restart");
    const auto started = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796677049123));
    const std::string lost1 = Receipt("lost one", 20), lost10 = Receipt("lost ten");
    {
        RecordingRun ended(Into(dir.Folder()));  // spools job 1 and never hands it over
        ended.Open();
        ASSERT_TRUE(Append(*ended->spool()->begin(1, started, std::string("pty:\n\xff", 6)), lost1));
    }
    fs::create_directory(dir.Path("000010.tmp"));  // bytes without a start record, half a picture
    dir.Write("000010.tmp/bytes.bin", lost10);
    dir.Write("000010.tmp/.receipt-01.png.part-77", "half");
    fs::create_directory(dir.Path("000012.tmp"));  // no bytes
    dir.Write("000013-copy", "kept");
    RecordingRun next(Into(dir.Folder()));
    next.Open();
    EXPECT_EQ(next->firstNumber(), 14u);
    EXPECT_EQ(next.errors, std::vector<std::string>{"job 000012: 000012.tmp was left by an earlier run, and it "
                                                    "holds no bytes.bin; it is left as it is"});
    next->take(test::MadeUpJob(1, Receipt("new")));
    next->finish();
    ASSERT_EQ(next.reports.size(), 3u);
    EXPECT_EQ(next.reports[2].number, 14u);
    for (const auto& [report, bytes, source] : {std::tuple{next.reports[0], lost1, std::string("pty:\n\xff", 6)},
                                                std::tuple{next.reports[1], lost10, std::string("unknown")}}) {
        const JobFolder folder{dir.path() / JobFolderName(report.number)};
        EXPECT_EQ(folder.Read("bytes.bin"), bytes) << report.number;
        EXPECT_EQ(folder.Names(),
                  (std::vector<std::string>{"bytes.bin", "decoding.txt", "job.json", "receipt-01.png"}));
        EXPECT_EQ(report.end, JobEnd::Recovered) << report.number;
        EXPECT_EQ(report.reason, kRecoveredReason) << report.number;
        EXPECT_EQ(report.source, source) << report.number;
    }
    EXPECT_EQ(Text(JobFolder{dir.path() / "000001"}.Record(), "start"), IsoTime(1796677049123));
    EXPECT_EQ(FolderEntries(dir.path()),
              (std::vector<std::string>{"000001", "000010", "000012.tmp", "000013-copy", "000014"}));
}

// Two takers of numbers on one folder (as two processes would be) never take the same number.
TEST(JobNumbersTest, TwoTakersOnOneFolderNeverShareANumber) {
    const test::ScratchFolder dir("pellory_numbers");
    JobNumbers a(dir.Folder(), 0), b(dir.Folder(), 0);
    std::vector<uint64_t> takenA, takenB;
    const auto takeAll = [](JobNumbers& numbers, std::vector<uint64_t>& taken) {
        for (int i = 0; i < 300; ++i) taken.push_back(numbers.take(nullptr).value_or(0));
    };
    std::thread other([&] { takeAll(b, takenB); });
    takeAll(a, takenA);
    other.join();
    std::set<uint64_t> all(takenA.begin(), takenA.end());
    all.insert(takenB.begin(), takenB.end());
    EXPECT_EQ(all.size(), 600u);
    EXPECT_EQ(all.count(0), 0u);
}

// Anything with the name of job 2 (a file, a link or a folder, final or work name), there before
// the start, made while the server runs, or made after the job took its number, makes the job
// take a number past it; the entry stays as it was.
TEST(JobNumbersTest, AnEntryWithAJobsNameIsPassedOverAndKept) {
    enum Kind { File, Link, Folder };
    enum When { BeforeOpen, WhileRunning, AfterTheNumberWasTaken };
    struct Case {
        const char* entry;
        Kind kind;
        When when;
    };
    const Case cases[] = {{"000002", File, BeforeOpen},
                          {"000002", Link, WhileRunning},
                          {"000002", Folder, WhileRunning},
                          {"000002.tmp", File, BeforeOpen},
                          {"000002.tmp", Link, WhileRunning},
                          {"000002", File, AfterTheNumberWasTaken},
                          {"000002", Link, AfterTheNumberWasTaken}};
    for (const Case& c : cases) {
        const std::string what = std::string(c.entry) + " " + std::to_string(c.kind) + " " + std::to_string(c.when);
        const test::ScratchFolder dir("pellory_taken");
        const auto make = [&] {
            if (c.kind == File) dir.Write(c.entry, "someone's");
            if (c.kind == Link) fs::create_symlink("/nowhere", dir.Path(c.entry));
            if (c.kind == Folder) fs::create_directory(dir.Path(c.entry));
        };
        JobRecorder::Options o = Into(dir.Folder());
        o.writers = 1;
        RecordingRun run(o);
        run.Hold();
        if (c.when == BeforeOpen) make();
        run.Open();
        run->take(test::MadeUpJob(1, "one\n"));
        ASSERT_TRUE(run.WaitUntilHeld());  // job 1 is written; job 2 will wait for the writer
        if (c.when == WhileRunning) make();
        run->take(test::MadeUpJob(2, "two\n"));
        if (c.when == AfterTheNumberWasTaken) make();
        run.Release();
        run->finish();
        const uint64_t expected = c.when == BeforeOpen ? 4 : 3;  // numbers go on past the entry when it is seen
        ASSERT_EQ(run.reports.size(), 2u) << what;
        EXPECT_EQ(run.reports[1].number, expected) << what;
        EXPECT_EQ(run.reports[1].end, JobEnd::Closed) << what << ": " << run.reports[1].reason;
        const JobFolder folder{dir.path() / JobFolderName(expected)};
        EXPECT_EQ(folder.Read("bytes.bin"), "two\n") << what;
        EXPECT_EQ(test::Number(folder.Record(), "number"), static_cast<int64_t>(expected)) << what;
        struct stat st {};
        ASSERT_EQ(::lstat(dir.Path(c.entry).c_str(), &st), 0) << what;
        EXPECT_EQ(c.kind == File ? dir.Read(c.entry) : "", c.kind == File ? "someone's" : "") << what;
        EXPECT_EQ(S_ISLNK(st.st_mode), c.kind == Link) << what;
        EXPECT_EQ(FolderEntries(dir.path()).size(), 3u) << what;
    }
}

// A second recorder on a folder in use is refused, names the holder's process and touches none of
// its jobs; once the first has ended the folder can be opened again.
TEST(JobsFolderLockTest, ASecondRecorderOnAFolderInUseIsRefusedAndTouchesNothing) {
    const test::ScratchFolder dir("pellory_lock");
    auto first = std::make_unique<RecordingRun>(Into(dir.Folder()));
    first->Open();
    std::unique_ptr<vprinter::SpooledJob> job = (*first)->spool()->begin(1, std::chrono::system_clock::now(), "");
    JobRecorder second(Into(dir.Folder()), {}, {});
    std::string why;
    EXPECT_FALSE(second.open(&why));
    EXPECT_TRUE(second.folderInUse());
    EXPECT_EQ(why, "in use by process " + std::to_string(::getpid()));
    ASSERT_TRUE(Append(*job, "kept\n"));
    FinishedJob handed = Handed(std::move(job), 5);
    ASSERT_TRUE((*first)->offer(handed, HandOver::Always));
    first.reset();
    EXPECT_EQ(dir.Read("000001/bytes.bin"), "kept\n");
    JobRecorder third(Into(dir.Folder()), {}, {});
    EXPECT_TRUE(third.open(&why)) << why;
}

}  // namespace
}  // namespace pellory::jobs
