// The jobs folder as several writers and several runs share it: the spool writes each piece of a
// job through to its work folder with a start record, a write that fails fails the spool and the
// job still ends in its folder; the recorder writes spooled jobs from their bytes under the numbers
// they took at their start; work folders a killed server left are finished at the next start (or
// reported and left); numbers go on past every name in the folder, no two takers share one, an
// entry of a job's name is passed over and never replaced; a second recorder on a folder in use is
// refused and touches nothing.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job_folder.h"
#include "jobs/job_numbers.h"
#include "jobs/job_recorder.h"
#include "jobs/job_render.h"
#include "jobs/job_spool.h"
#include "jobs/job_writer.h"
#include "jobs/json_text.h"
#include "support/job_folders.h"
#include "support/job_recording.h"

namespace pellory::jobs {
namespace {

namespace fs = std::filesystem;
using test::FolderEntries;
using test::JobFolder;
using test::Number;
using test::RecordingRun;
using test::Text;
using vprinter::FinishedJob;
using vprinter::HandOver;
using vprinter::JobEnd;

const std::string kCut("\x1d\x56\x42\x00", 4);

// A receipt of a few lines, told apart by its name.
std::string Receipt(const std::string& name, int lines = 3) {
    std::string out;
    for (int i = 0; i < lines; ++i) out += name + " line " + std::to_string(i) + "\n";
    return out + kCut;
}

std::chrono::system_clock::time_point NowInMilliseconds() {
    return std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
}

bool Append(vprinter::SpooledJob& job, const std::string& bytes) {
    return job.append(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// A job as the server hands a spooled one over: its bytes in the spool, none in memory.
FinishedJob HandedOver(std::unique_ptr<vprinter::SpooledJob> spooled, uint64_t received,
                       const std::string& source = "tcp:127.0.0.1:50000") {
    FinishedJob job;
    job.started = std::chrono::system_clock::now();
    job.ended = job.started + std::chrono::milliseconds(10);
    job.source = source;
    job.receivedBytes = received;
    job.spool = std::move(spooled);
    return job;
}

// The decoding the recorder writes for bytes.
std::string DecodingOf(const std::string& bytes) {
    std::string text;
    JobDecoding decoding;
    WriteDecoding(std::vector<uint8_t>(bytes.begin(), bytes.end()), decoding, [&](const uint8_t* d, size_t n) {
        text.append(reinterpret_cast<const char*>(d), n);
        return true;
    });
    return text;
}

JobRecorder::Options Into(const std::string& folder) {
    JobRecorder::Options o;
    o.folder = folder;
    return o;
}

// Each piece is in bytes.bin once append() returns, without the file being closed; the start
// record gives the number, start and source back exactly, whatever bytes the source holds.
TEST(FolderSpoolTest, EachPieceIsInTheWorkFolderOnceAppended) {
    struct Case {
        const char* name;
        std::vector<std::string> pieces;
        std::string source;
    };
    std::string everyByte;
    for (int b = 0; b < 256; ++b) everyByte += static_cast<char>(b);
    const std::vector<Case> cases = {
        {"one piece", {"hello\n"}, "tcp:127.0.0.1:50122"},
        {"many small pieces", std::vector<std::string>(200, "ab"), "tcp:[::1]:50122"},
        {"every byte, and a source of odd bytes", {everyByte, everyByte}, std::string("pty:/tmp/a\nb\0\xff", 14)},
        {"a large piece", {std::string(3u << 20, 'x'), "end"}, "serial:/dev/ttyS0"},
    };
    const test::ScratchFolder dir("pellory_spool");
    FolderSpool spool(std::make_shared<JobNumbers>(dir.Folder(), 0));
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const auto started = NowInMilliseconds();
        const std::unique_ptr<vprinter::SpooledJob> job = spool.begin(i + 7, started, c.source);
        const fs::path work = dir.path() / JobWorkName(i + 1);
        ASSERT_TRUE(fs::is_directory(work)) << c.name;
        const std::optional<StartRecord> start =
            ReadStartRecord(test::ReadWholeFile((work / kStartRecordName).string()));
        ASSERT_TRUE(start.has_value()) << c.name;
        EXPECT_EQ(start->number, i + 1) << c.name;
        EXPECT_EQ(start->started, started) << c.name;
        EXPECT_EQ(start->source, c.source) << c.name;
        std::string sent;
        for (const std::string& piece : c.pieces) {
            ASSERT_TRUE(Append(*job, piece)) << c.name << ": " << job->failure();
            sent += piece;
            ASSERT_EQ(test::ReadWholeFile((work / "bytes.bin").string()), sent) << c.name;
        }
        EXPECT_EQ(job->failure(), "") << c.name;
        EXPECT_EQ(dynamic_cast<FolderSpooledJob&>(*job).size(), sent.size()) << c.name;
    }
}

// A spool whose write fails (here: past the file size the process may write) says why and takes
// nothing more; its job still ends in its folder, failed with that one reason, with the bytes that
// could be written.
TEST(FolderSpoolTest, AFailedWriteFailsTheSpoolAndTheJobStillEndsInItsFolder) {
    const test::ScratchFolder dir("pellory_spool_fail");
    RecordingRun run(Into(dir.Folder()));
    run.Open();
    std::unique_ptr<vprinter::SpooledJob> job = run->spool()->begin(1, NowInMilliseconds(), "tcp:127.0.0.1:1");
    const std::string first = Receipt("first", 45);
    ASSERT_TRUE(first.size() > 500 && first.size() < 1000) << first.size();
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1000, before.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool firstTaken = Append(*job, first);
    const bool secondTaken = Append(*job, first);
    const bool laterTaken = Append(*job, "x");
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(firstTaken);
    EXPECT_FALSE(secondTaken);
    EXPECT_FALSE(laterTaken);
    EXPECT_EQ(job->failure(), "File too large");

    FinishedJob handed = HandedOver(std::move(job), 2 * first.size() + 1);
    ASSERT_TRUE(run->offer(handed, HandOver::Always));
    run->finish();
    const std::vector<RecordedJob> reports = run.Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].end, JobEnd::Failed);
    EXPECT_EQ(reports[0].reason, "cannot write bytes.bin: File too large");
    EXPECT_EQ(run.Errors(),
              std::vector<std::string>{"job 000001: cannot write bytes.bin: File too large; the job is marked failed"});
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"000001"});
    const JobFolder folder{dir.path() / "000001"};
    EXPECT_EQ(folder.Read("bytes.bin"), (first + first).substr(0, 1000));
    const QJsonObject record = folder.Record();
    EXPECT_EQ(Text(record, "ended"), "failed");
    EXPECT_EQ(Text(record, "reason"), reports[0].reason);
    EXPECT_EQ(Number(record, "bytes"), 1000);
    EXPECT_EQ(Number(record, "received"), static_cast<int64_t>(2 * first.size() + 1));
}

// Spooled jobs take their numbers when they start and are written from their bytes.bin, whatever
// order they end in: each folder holds its own bytes, pictures and decoding, and its record names
// the folder; nothing of the spool is left beside them.
TEST(RecorderSpoolTest, SpooledJobsAreWrittenFromTheirBytesUnderTheNumbersTheyTook) {
    const test::ScratchFolder dir("pellory_spool_jobs");
    RecordingRun run(Into(dir.Folder()));
    run.Open();
    const std::vector<std::string> streams = {Receipt("alpha", 40), Receipt("beta", 2) + Receipt("beta-2", 5),
                                              Receipt("gamma", 400)};
    std::vector<std::unique_ptr<vprinter::SpooledJob>> spooled;
    for (size_t i = 0; i < streams.size(); ++i)
        spooled.push_back(run->spool()->begin(i + 1, NowInMilliseconds(), "pty:/tmp/p" + std::to_string(i)));
    // Their bytes arrive interleaved, in pieces of 7.
    for (size_t at = 0; at < 12000; at += 7) {
        for (size_t i = 0; i < streams.size(); ++i) {
            if (at < streams[i].size()) {
                ASSERT_TRUE(Append(*spooled[i], streams[i].substr(at, 7)));
            }
        }
    }
    for (const size_t i : {2u, 0u, 1u}) {
        FinishedJob job = HandedOver(std::move(spooled[i]), streams[i].size(), "pty:/tmp/p" + std::to_string(i));
        ASSERT_TRUE(run->offer(job, HandOver::IfRoom));
    }
    run->finish();
    const std::vector<RecordedJob> reports = run.Reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].number, 3u);
    EXPECT_EQ(reports[1].number, 1u);
    EXPECT_EQ(reports[2].number, 2u);
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"000001", "000002", "000003"}));
    for (size_t i = 0; i < streams.size(); ++i) {
        const JobFolder folder{dir.path() / JobFolderName(i + 1)};
        EXPECT_EQ(folder.Read("bytes.bin"), streams[i]) << i;
        EXPECT_EQ(folder.Read("decoding.txt"), DecodingOf(streams[i])) << i;
        const QJsonObject record = folder.Record();
        EXPECT_EQ(Number(record, "number"), static_cast<int64_t>(i + 1));
        EXPECT_EQ(Text(record, "folder"), JobFolderName(i + 1));
        EXPECT_EQ(Text(record, "ended"), "closed");
        EXPECT_EQ(Text(record, "source"), "pty:/tmp/p" + std::to_string(i));
        EXPECT_EQ(Number(record, "bytes"), static_cast<int64_t>(streams[i].size()));
        EXPECT_EQ(Number(record, "receipts"), i == 1 ? 2 : 1);
        EXPECT_EQ(folder.Names().size(), folder.Receipts().size() + 3) << "only bytes, pictures, decoding, record";
    }
    EXPECT_TRUE(run.Errors().empty());
}

// A server killed while it had jobs in work folders: the next start finishes each from its bytes
// (ended "recovered", its start and source from its start record when there), reports a work
// folder without bytes and leaves it, removes nothing else, and numbers new jobs past every name.
TEST(RecorderRestartTest, WorkFoldersLeftByAnEndedServerAreFinishedAtTheNextStart) {
    const test::ScratchFolder dir("pellory_restart");
    const auto started = NowInMilliseconds();
    const std::string lost1 = Receipt("lost one", 20), written = Receipt("written"), lost3 = Receipt("lost three");
    std::string writtenRecord;
    {
        // The run that "is killed": jobs 1 and 3 are spooled and never handed over.
        RecordingRun first(Into(dir.Folder()));
        first.Open();
        auto job1 = first->spool()->begin(1, started, "pty:/tmp/printer");
        auto job2 = first->spool()->begin(2, started, "tcp:127.0.0.1:2");
        auto job3 = first->spool()->begin(3, started, std::string("serial:/dev/\n\xff", 14));
        ASSERT_TRUE(Append(*job1, lost1.substr(0, 100)) && Append(*job1, lost1.substr(100)));
        ASSERT_TRUE(Append(*job2, written));
        ASSERT_TRUE(Append(*job3, lost3));
        FinishedJob handed = HandedOver(std::move(job2), written.size());
        ASSERT_TRUE(first->offer(handed, HandOver::Always));
        ASSERT_TRUE(first.WaitForReports(1));
        writtenRecord = test::ReadWholeFile(dir.Path("000002/job.json"));
    }
    // Left by older runs: bytes without a start record (and a half picture), a folder without
    // bytes, a file whose name starts with a job's digits.
    fs::create_directory(dir.Path("000010.tmp"));
    const std::string lost10 = Receipt("lost ten");
    dir.Write("000010.tmp/bytes.bin", lost10);
    dir.Write("000010.tmp/.receipt-01.png.part-77", "half a picture");
    fs::create_directory(dir.Path("000012.tmp"));
    dir.Write("000012.tmp/notes.txt", "kept");
    dir.Write("000013-copy", "kept too");

    RecordingRun second(Into(dir.Folder()));
    second.Open();
    EXPECT_EQ(second->firstNumber(), 14u);
    EXPECT_EQ(second.Errors(), std::vector<std::string>{"job 000012: 000012.tmp was left by an earlier run, and it "
                                                        "holds no bytes.bin; it is left as it is"});
    second->take(test::MadeUpJob(1, Receipt("new")));
    second->finish();
    const std::vector<RecordedJob> reports = second.Reports();
    std::vector<uint64_t> numbers;
    for (const RecordedJob& r : reports) numbers.push_back(r.number);
    EXPECT_EQ(numbers, (std::vector<uint64_t>{1, 3, 10, 14}));

    struct Recovered {
        uint64_t number;
        std::string bytes;
        std::string source;
        bool startKnown;
    };
    for (const Recovered& c :
         {Recovered{1, lost1, "pty:/tmp/printer", true},
          Recovered{3, lost3, std::string("serial:/dev/\n\xff", 14), true}, Recovered{10, lost10, "unknown", false}}) {
        const JobFolder folder{dir.path() / JobFolderName(c.number)};
        EXPECT_EQ(folder.Read("bytes.bin"), c.bytes) << c.number;
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"bytes.bin", "decoding.txt", "job.json", "receipt-01.png"}))
            << c.number;
        const QJsonObject record = folder.Record();
        EXPECT_EQ(Text(record, "ended"), "recovered") << c.number;
        EXPECT_EQ(Text(record, "reason"), kRecoveredReason) << c.number;
        EXPECT_EQ(Number(record, "bytes"), static_cast<int64_t>(c.bytes.size())) << c.number;
        EXPECT_EQ(Number(record, "receipts"), 1) << c.number;
        const auto n =
            std::find_if(reports.begin(), reports.end(), [&](const RecordedJob& r) { return r.number == c.number; });
        ASSERT_NE(n, reports.end());
        EXPECT_EQ(n->source, c.source) << c.number;
        const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(started.time_since_epoch()).count();
        if (c.startKnown) {
            EXPECT_EQ(Text(record, "start"), IsoTime(ms)) << c.number;
        }
    }
    EXPECT_EQ(Text(JobFolder{dir.path() / "000014"}.Record(), "ended"), "closed");
    EXPECT_EQ(test::ReadWholeFile(dir.Path("000002/job.json")), writtenRecord);
    EXPECT_EQ(dir.Read("000012.tmp/notes.txt"), "kept");
    EXPECT_EQ(dir.Read("000013-copy"), "kept too");
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"000001", "000002", "000003", "000010", "000012.tmp",
                                                                   "000013-copy", "000014"}));
}

// Two takers of numbers on one folder (as two processes would be) never take the same number.
TEST(JobNumbersTest, TwoTakersOnOneFolderNeverShareANumber) {
    constexpr int kEach = 300;
    const test::ScratchFolder dir("pellory_numbers");
    JobNumbers a(dir.Folder(), 0), b(dir.Folder(), 0);
    std::vector<uint64_t> takenA, takenB;
    const auto takeAll = [](JobNumbers& numbers, std::vector<uint64_t>& taken) {
        for (int i = 0; i < kEach; ++i) {
            std::string why;
            const std::optional<uint64_t> n = numbers.take(&why);
            ASSERT_TRUE(n.has_value()) << why;
            taken.push_back(*n);
        }
    };
    std::thread other([&] { takeAll(b, takenB); });
    takeAll(a, takenA);
    other.join();
    std::set<uint64_t> all(takenA.begin(), takenA.end());
    all.insert(takenB.begin(), takenB.end());
    EXPECT_EQ(all.size(), 2u * kEach);
    EXPECT_EQ(FolderEntries(dir.path()).size(), 2u * kEach);
}

// Anything with a job's name, made before the recorder opened or while it runs, makes that number
// taken: the job gets the next free one and the entry stays as it was.
TEST(JobNumbersTest, AnEntryWithAJobsNameIsPassedOverAndKept) {
    struct Case {
        const char* name;
        const char* entry;
        enum { File, Link, Folder } kind;
    };
    const Case cases[] = {
        {"a file of the job's name", "000001", Case::File},
        {"a link of the job's name", "000001", Case::Link},
        {"a folder of the job's name", "000001", Case::Folder},
        {"a file of the work folder's name", "000001.tmp", Case::File},
        {"a link of the work folder's name", "000001.tmp", Case::Link},
    };
    for (const Case& c : cases) {
        for (const bool whileRunning : {false, true}) {
            const std::string what = std::string(c.name) + (whileRunning ? ", made while it runs" : ", made before");
            const test::ScratchFolder dir("pellory_taken");
            const auto make = [&] {
                const std::string path = dir.Path(c.entry);
                if (c.kind == Case::File) dir.Write(c.entry, "someone's");
                if (c.kind == Case::Link) fs::create_symlink("/nowhere/at/all", path);
                if (c.kind == Case::Folder) fs::create_directory(path);
            };
            RecordingRun run(Into(dir.Folder()));
            if (!whileRunning) make();
            run.Open();
            if (whileRunning) make();
            run->take(test::MadeUpJob(1, "x\n"));
            run->finish();
            const std::vector<RecordedJob> reports = run.Reports();
            ASSERT_EQ(reports.size(), 1u) << what;
            EXPECT_EQ(reports[0].number, 2u) << what;
            EXPECT_EQ(reports[0].end, JobEnd::Closed) << what << ": " << reports[0].reason;
            EXPECT_EQ(dir.Read("000002/bytes.bin"), "x\n") << what;
            struct stat st {};
            ASSERT_EQ(::lstat(dir.Path(c.entry).c_str(), &st), 0) << what;
            if (c.kind == Case::File) {
                EXPECT_EQ(dir.Read(c.entry), "someone's") << what;
            }
            if (c.kind == Case::Link) {
                EXPECT_TRUE(S_ISLNK(st.st_mode)) << what;
            }
            if (c.kind == Case::Folder) {
                EXPECT_TRUE(fs::is_empty(dir.Path(c.entry))) << what;
            }
        }
    }
}

// A job whose final name is taken after it took its number (while it waited for a writer) is
// written under the next free number, its record saying so; the entry is not replaced.
TEST(JobNumbersTest, AFinalNameTakenWhileTheJobWaitsGivesItTheNextNumber) {
    const test::ScratchFolder dir("pellory_taken_late");
    JobRecorder::Options o = Into(dir.Folder());
    o.writers = 1;
    RecordingRun run(o);
    run.Hold();
    run.Open();
    run->take(test::MadeUpJob(1, "one\n"));
    ASSERT_TRUE(run.WaitUntilHeld());  // job 1 is written; job 2 waits for the writer
    run->take(test::MadeUpJob(2, "two\n"));
    ASSERT_TRUE(fs::is_directory(dir.Path("000002.tmp")));
    dir.Write("000002", "someone's");
    run.Release();
    run->finish();
    const std::vector<RecordedJob> reports = run.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].number, 3u);
    EXPECT_EQ(reports[1].end, JobEnd::Closed) << reports[1].reason;
    EXPECT_EQ(reports[1].folder, dir.Path("000003"));
    EXPECT_EQ(dir.Read("000003/bytes.bin"), "two\n");
    EXPECT_EQ(Number(JobFolder{dir.path() / "000003"}.Record(), "number"), 3);
    EXPECT_EQ(Text(JobFolder{dir.path() / "000003"}.Record(), "folder"), "000003");
    EXPECT_EQ(dir.Read("000002"), "someone's");
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"000001", "000002", "000003"}));
}

// A second recorder on a folder in use is refused, names the holder's process and touches none of
// its jobs; once the first has ended the folder can be opened again.
TEST(JobsFolderLockTest, ASecondRecorderOnAFolderInUseIsRefusedAndTouchesNothing) {
    const test::ScratchFolder dir("pellory_lock");
    std::optional<RecordingRun> first;
    first.emplace(Into(dir.Folder()));
    first->Open();
    std::unique_ptr<vprinter::SpooledJob> job = first->recorder().spool()->begin(1, NowInMilliseconds(), "pty:p");
    ASSERT_TRUE(Append(*job, "before\n"));
    {
        JobRecorder second(Into(dir.Folder()), {}, {});
        std::string why;
        EXPECT_FALSE(second.open(&why));
        EXPECT_TRUE(second.folderInUse());
        EXPECT_EQ(second.folderHolder(), ::getpid());
        EXPECT_EQ(why, "in use by process " + std::to_string(::getpid()));
    }
    ASSERT_TRUE(Append(*job, "after\n"));
    EXPECT_EQ(dir.Read("000001.tmp/bytes.bin"), "before\nafter\n");
    FinishedJob handed = HandedOver(std::move(job), 13);
    ASSERT_TRUE(first->recorder().offer(handed, HandOver::Always));
    first.reset();
    EXPECT_EQ(dir.Read("000001/bytes.bin"), "before\nafter\n");
    JobRecorder third(Into(dir.Folder()), {}, {});
    std::string why;
    EXPECT_TRUE(third.open(&why)) << why;
    EXPECT_EQ(third.firstNumber(), 2u);
}

}  // namespace
}  // namespace pellory::jobs
