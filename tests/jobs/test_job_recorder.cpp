// The job recorder against the files it writes: each job's bytes exactly as received, its receipts
// as "pellory-cli render --receipts" draws them (a receipt past the 2 m roll continuing in further
// pictures), its decoding as "pellory-cli decode" prints it, and its record as JSON that Qt's reader
// takes; a job folder appears whole or not at all; a file that cannot be written marks its job
// failed and the next job is written as ever; numbers continue after the folders already there.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <QImage>
#include <QString>

#include "jobs/job_folder.h"
#include "jobs/job_folder_lock.h"
#include "jobs/job_recorder.h"
#include "jobs/json_text.h"
#include "support/child_process.h"
#include "support/job_folders.h"

namespace pellory::jobs {
namespace {

namespace fs = std::filesystem;
using test::JobFolder;
using test::MadeUpJob;
using test::Number;
using test::Text;
using vprinter::FinishedJob;
using vprinter::JobEnd;

const std::string kCut("\x1d\x56\x42\x00", 4);

std::string Lines(const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += text + " " + std::to_string(i) + "\n";
    return out;
}

// A recorder writing into the test's folder, its reports and error lines kept.
class RecorderTest : public test::ScratchFolderTest {
protected:
    RecorderTest() : ScratchFolderTest("pellory_jobs") {}

    std::string Jobs() const { return Path("jobs"); }

    // The tests here look at every job whole: finish() draws them all, however slow the machine.
    static JobRecorder::Options DrawingEverything() {
        JobRecorder::Options o;
        o.stopTime = std::chrono::minutes(10);
        return o;
    }

    JobRecorder& Start(JobRecorder::Options o = DrawingEverything()) {
        if (o.folder.empty()) o.folder = Jobs();
        recorder_.emplace(
            o,
            [this](const RecordedJob& r) {
                std::lock_guard<std::mutex> lock(mutex_);
                reports_.push_back(r);
            },
            [this](const std::string& line) {
                std::lock_guard<std::mutex> lock(mutex_);
                errors_.push_back(line);
            });
        std::string why;
        EXPECT_TRUE(recorder_->open(&why)) << why;
        return *recorder_;
    }
    // Every job taken so far written, the writer ended.
    void Finish() { recorder_->finish(); }
    JobFolder Folder(uint64_t number) const { return {fs::path(Jobs()) / JobFolderName(number)}; }

    std::vector<RecordedJob> Reports() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    std::vector<std::string> Errors() {
        std::lock_guard<std::mutex> lock(mutex_);
        return errors_;
    }

    // What the built pellory-cli makes of the same bytes: its stdout for args.
    std::string CliOutput(const std::vector<std::string>& args) {
        const std::string runFolder = Path("cli-run");
        fs::create_directories(runFolder);
        test::CliChild child(args, runFolder);
        EXPECT_EQ(child.Code(), 0) << child.Err();
        return child.Out();
    }

private:
    std::optional<JobRecorder> recorder_;
    std::mutex mutex_;
    std::vector<RecordedJob> reports_;
    std::vector<std::string> errors_;
};

TEST_F(RecorderTest, CorpusStreamsAreWrittenAsReceivedDrawnAndDecodedAsTheCommandLineDoes) {
    const std::vector<fs::path> streams = test::CorpusStreams();
    ASSERT_GE(streams.size(), 10u) << PELLORY_ESCPOS_CORPUS << " (the shared streams) is missing";
    JobRecorder& recorder = Start();
    for (size_t i = 0; i < streams.size(); ++i) {
        FinishedJob job = MadeUpJob(i + 1, test::ReadWholeFile(streams[i].string()), "pty:/tmp/printer");
        job.answers.push_back({5, "DLE EOT 1", {0x16}});
        recorder.take(std::move(job));
    }
    Finish();
    ASSERT_EQ(Reports().size(), streams.size());
    for (size_t i = 0; i < streams.size(); ++i) {
        const std::string name = streams[i].string();
        const std::string bytes = test::ReadWholeFile(name);
        const JobFolder folder = Folder(i + 1);
        EXPECT_EQ(folder.Read("bytes.bin"), bytes) << name;
        // The receipts, picture for picture, as render --receipts draws them on the same paper.
        const std::string drawn = Path("drawn-" + std::to_string(i));
        CliOutput({"render", name, "--receipts", drawn, "--model", "ORVA80"});
        const JobFolder reference{drawn};
        const std::vector<std::string> receipts = folder.Receipts();
        ASSERT_EQ(receipts.size(), reference.Names().size()) << name;
        for (size_t r = 0; r < receipts.size(); ++r) {
            char expected[48];
            std::snprintf(expected, sizeof expected, "receipt-%02zu.png", r + 1);
            EXPECT_EQ(receipts[r], expected) << name;
            // The same picture, dot for dot (written faster, so not byte for byte).
            const QImage mine(QString::fromStdString((folder.path / receipts[r]).string()));
            const QImage theirs(QString::fromStdString((reference.path / reference.Names()[r]).string()));
            ASSERT_FALSE(mine.isNull()) << name << " " << receipts[r];
            EXPECT_EQ(mine.convertToFormat(QImage::Format_RGB32), theirs.convertToFormat(QImage::Format_RGB32))
                << name << " " << receipts[r];
        }
        const std::string decoding = CliOutput({"decode", name});
        EXPECT_EQ(folder.Read("decoding.txt"), decoding) << name;

        const QJsonObject record = folder.Record();
        EXPECT_EQ(Number(record, "number"), static_cast<int64_t>(i + 1)) << name;
        EXPECT_EQ(Text(record, "folder"), JobFolderName(i + 1)) << name;
        EXPECT_EQ(Number(record, "bytes"), static_cast<int64_t>(bytes.size())) << name;
        EXPECT_EQ(Number(record, "received"), static_cast<int64_t>(bytes.size())) << name;
        EXPECT_EQ(Number(record, "receipts"), static_cast<int64_t>(receipts.size())) << name;
        EXPECT_EQ(Text(record, "source"), "pty:/tmp/printer") << name;
        EXPECT_EQ(Text(record, "ended"), "closed") << name;
        EXPECT_TRUE(test::IsIsoMillisecondsUtc(Text(record, "start"))) << Text(record, "start");
        EXPECT_TRUE(test::IsIsoMillisecondsUtc(Text(record, "end"))) << Text(record, "end");
        // The decoding's lines are the commands and the text runs; unknown ones say so.
        size_t lines = 0, unknown = 0;
        for (size_t at = 0; (at = decoding.find('\n', at)) != std::string::npos; ++at) ++lines;
        for (size_t at = 0; (at = decoding.find("unknown", at)) != std::string::npos; ++at) ++unknown;
        EXPECT_GT(Number(record, "commands"), 0) << name;
        EXPECT_LE(Number(record, "commands"), static_cast<int64_t>(lines)) << name;
        EXPECT_LE(Number(record, "unknown_commands"), static_cast<int64_t>(unknown)) << name;
        const QJsonArray answers = record.value("answers").toArray();
        ASSERT_EQ(answers.size(), 1) << name;
        EXPECT_EQ(Number(answers[0].toObject(), "offset"), 5);
        EXPECT_EQ(Text(answers[0].toObject(), "request"), "DLE EOT 1");
        EXPECT_EQ(Text(answers[0].toObject(), "bytes"), "16");
        EXPECT_EQ(folder.Names().size(), receipts.size() + 3) << name;  // nothing else, no temporary file
    }
    EXPECT_TRUE(Errors().empty());
}

TEST_F(RecorderTest, AReceiptLongerThanTheRollContinuesInFurtherPictures) {
    // 1,200 lines of 33 dots: 39,600 rows, the 2 m roll (16,000 rows) twice and the rest; then a
    // short receipt after the cut.
    JobRecorder& recorder = Start();
    recorder.take(MadeUpJob(1, Lines("long", 1200) + kCut + Lines("short", 2)));
    Finish();
    const JobFolder folder = Folder(1);
    std::vector<int64_t> heights;
    for (const std::string& r : folder.Receipts()) heights.push_back(test::PngHeight(folder.Read(r)));
    EXPECT_EQ(heights, (std::vector<int64_t>{16000, 16000, 7600, 66}));
    EXPECT_EQ(Number(folder.Record(), "receipts"), 4);
}

TEST_F(RecorderTest, StringsOfTheRecordAreEscapedSoThatAJsonReaderGetsThemBack) {
    struct Case {
        const char* name;
        std::string source;
        std::string expected;  // what a reader gets (bytes that are no UTF-8: their Latin-1 character)
    };
    const std::vector<Case> cases = {
        {"quotes and backslashes", "pty:/tmp/a \"b\" \\c", "pty:/tmp/a \"b\" \\c"},
        {"control bytes", std::string("serial:/dev/x\x01\n\t\x1f\x7f", 18),
         std::string("serial:/dev/x\x01\n\t\x1f\x7f", 18)},
        {"a NUL", std::string("pty:a\0b", 7), std::string("pty:a\0b", 7)},
        {"UTF-8", "pty:/tmp/drucker-\xc3\xa4\xe2\x82\xac\xf0\x9f\x96\xa8",
         "pty:/tmp/drucker-\xc3\xa4\xe2\x82\xac\xf0\x9f\x96\xa8"},
        {"bytes that are no UTF-8", "pty:\xff\xc3(\xe2\x82", "pty:\xc3\xbf\xc3\x83(\xc3\xa2\xc2\x82"},
        {"an encoded surrogate", "pty:\xed\xa0\x80", "pty:\xc3\xad\xc2\xa0\xc2\x80"},
    };
    JobRecorder& recorder = Start();
    for (size_t i = 0; i < cases.size(); ++i) recorder.take(MadeUpJob(i + 1, "x\n", cases[i].source));
    Finish();
    const std::vector<RecordedJob> reports = Reports();
    ASSERT_EQ(reports.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string json = Folder(i + 1).Read("job.json");
        const QJsonObject record = Folder(i + 1).Record();
        const QByteArray got = record.value("source").toString().toUtf8();
        EXPECT_EQ(std::string(got.constData(), static_cast<size_t>(got.size())), cases[i].expected) << cases[i].name;
        // Every control byte escaped as \u00XX, none raw: the record is one line.
        EXPECT_EQ(json.find('\n'), json.size() - 1) << cases[i].name;
        for (const char c : json.substr(0, json.size() - 1)) EXPECT_GE(static_cast<uint8_t>(c), 0x20) << cases[i].name;
        EXPECT_EQ(reports[i].json + "\n", json) << cases[i].name;
    }
}

// A watcher that lists the jobs folder as fast as it can while jobs are written sees a job folder
// only once every file of it is complete, and never a temporary file in one.
TEST_F(RecorderTest, AJobFolderAppearsOnlyWhole) {
    constexpr int kJobs = 40;
    const std::string stream = Lines("item", 400) + kCut + Lines("total", 20) + kCut;
    JobRecorder& recorder = Start();
    std::atomic<bool> done{false};
    std::atomic<int> looks{0};
    std::vector<std::string> seen;
    std::thread watcher([&] {
        std::set<std::string> checked;
        while (!done.load()) {
            std::error_code ec;
            for (fs::directory_iterator it(Jobs(), ec), end; !ec && it != end; it.increment(ec)) {
                const std::string name = it->path().filename().string();
                if (name.find(".tmp") != std::string::npos || name == kLockFileName || checked.count(name)) continue;
                const JobFolder folder{it->path()};
                const std::vector<std::string> names = folder.Names();
                const bool whole = names == std::vector<std::string>{"bytes.bin", "decoding.txt", "job.json",
                                                                     "receipt-01.png", "receipt-02.png"} &&
                                   folder.Read("bytes.bin") == stream && !folder.Read("decoding.txt").empty() &&
                                   folder.Read("job.json").back() == '\n';
                if (!whole) {
                    std::string listing;
                    for (const std::string& n : names) listing += n + " ";
                    seen.push_back(name + ": " + listing);
                }
                checked.insert(name);
                ++looks;
            }
        }
    });
    for (int i = 1; i <= kJobs; ++i) recorder.take(MadeUpJob(static_cast<uint64_t>(i), stream));
    Finish();
    done = true;
    watcher.join();
    EXPECT_TRUE(seen.empty()) << seen.front();
    EXPECT_EQ(Reports().size(), static_cast<size_t>(kJobs));
    EXPECT_GT(looks.load(), 0);
}

// Several writers at once: whichever finishes first, the reports come one at a time in the order
// the jobs were taken, each job once, and every job taken is written and reported by finish().
TEST(RecorderWriters, ReportsComeInTheOrderTakenEachJobOnce) {
    struct Case {
        const char* name;
        unsigned writers;          // 0: the default
        std::vector<int> lines;    // each job's lines, in the order taken
    };
    const std::vector<Case> cases = {
        {"a long job first, short ones after it", 2, {1200, 1, 1, 1, 1, 1, 1, 1}},
        {"four writers, long and short mixed", 4, {700, 2, 900, 1, 1, 300, 1, 1, 1, 1, 1, 1}},
        {"the default writers, many short jobs", 0, std::vector<int>(40, 2)},
    };
    for (const Case& c : cases) {
        const test::ScratchFolder dir("pellory_jobs_writers");
        std::mutex mutex;
        std::vector<RecordedJob> reports;
        std::atomic<int> inReport{0};
        std::atomic<int> mostAtOnce{0};
        JobRecorder::Options o;
        o.folder = dir.Folder();
        o.writers = c.writers;
        // Every job is drawn, however slow the machine: the stop time never passes on a clock
        // that stands still.
        o.clock = std::make_shared<platform::ManualClock>();
        JobRecorder recorder(o,
                             [&](const RecordedJob& r) {
                                 const int now = ++inReport;
                                 if (now > mostAtOnce.load()) mostAtOnce = now;
                                 std::this_thread::sleep_for(std::chrono::milliseconds(1));  // room for another
                                 {
                                     std::lock_guard<std::mutex> lock(mutex);
                                     reports.push_back(r);
                                 }
                                 --inReport;
                             },
                             {});
        std::string why;
        ASSERT_TRUE(recorder.open(&why)) << why;
        EXPECT_EQ(recorder.writers(), c.writers > 0 ? c.writers : JobRecorder::DefaultWriters()) << c.name;
        std::vector<std::string> streams;
        for (size_t i = 0; i < c.lines.size(); ++i) {
            streams.push_back(Lines("job " + std::to_string(i + 1), c.lines[i]) + kCut);
            recorder.take(MadeUpJob(i + 1, streams.back()));
        }
        recorder.finish();
        EXPECT_EQ(recorder.written(), c.lines.size()) << c.name;
        EXPECT_EQ(mostAtOnce.load(), 1) << c.name;
        std::vector<uint64_t> numbers;
        for (const RecordedJob& r : reports) numbers.push_back(r.number);
        std::vector<uint64_t> expected(c.lines.size());
        for (size_t i = 0; i < expected.size(); ++i) expected[i] = i + 1;
        EXPECT_EQ(numbers, expected) << c.name;
        // Each job's folder holds its own bytes, and nothing else is in the jobs folder but its lock.
        std::vector<std::string> folders;
        for (const auto& entry : fs::directory_iterator(dir.Folder())) {
            if (entry.path().filename() != kLockFileName) folders.push_back(entry.path().filename().string());
        }
        std::sort(folders.begin(), folders.end());
        std::vector<std::string> expectedFolders;
        for (size_t i = 0; i < c.lines.size(); ++i) expectedFolders.push_back(JobFolderName(i + 1));
        EXPECT_EQ(folders, expectedFolders) << c.name;
        for (size_t i = 0; i < c.lines.size() && i < reports.size(); ++i) {
            const JobFolder folder{fs::path(dir.Folder()) / JobFolderName(i + 1)};
            EXPECT_EQ(folder.Read("bytes.bin"), streams[i]) << c.name << ", job " << i + 1;
            EXPECT_EQ(reports[i].folder, folder.path.string()) << c.name;
            EXPECT_EQ(reports[i].json + "\n", folder.Read("job.json")) << c.name << ", job " << i + 1;
            EXPECT_EQ(folder.Receipts().size(), reports[i].receipts) << c.name << ", job " << i + 1;
            EXPECT_GE(reports[i].receipts, 1u) << c.name << ", job " << i + 1;
        }
    }
}

// A file that cannot be written (here: larger than the process may write) marks its job failed
// with the reason and an error line; what can be written of it is, its record among it; the next
// job is written as ever.
TEST_F(RecorderTest, AFileThatCannotBeWrittenMarksTheJobFailedAndTheNextIsWritten) {
    // A line, then a blank raster image of 302,400 bytes: bytes.bin is past the limit below, while
    // the picture (mostly white) and the decoding (a line for the image) stay small.
    std::string big = "ok\n" + std::string("\x1d\x76\x30\x00\x48\x00\x68\x10", 8) + std::string(72 * 4200, '\0');
    JobRecorder& recorder = Start();
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
    const rlimit limit{200000, before.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    recorder.take(MadeUpJob(1, big + kCut));
    recorder.take(MadeUpJob(2, Lines("after", 3) + kCut));
    Finish();
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, oldHandler);

    const std::vector<RecordedJob> reports = Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].end, JobEnd::Failed);
    EXPECT_NE(reports[0].reason.find("bytes.bin"), std::string::npos) << reports[0].reason;
    const QJsonObject failed = Folder(1).Record();
    EXPECT_EQ(Text(failed, "ended"), "failed");
    EXPECT_EQ(Text(failed, "reason"), reports[0].reason);
    EXPECT_EQ(Folder(1).Names(), (std::vector<std::string>{"decoding.txt", "job.json", "receipt-01.png"}));
    const std::vector<std::string> errors = Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("job 000001: cannot write bytes.bin"), std::string::npos) << errors[0];

    EXPECT_EQ(reports[1].end, JobEnd::Closed);
    EXPECT_EQ(Folder(2).Read("bytes.bin"), Lines("after", 3) + kCut);
    EXPECT_EQ(Text(Folder(2).Record(), "ended"), "closed");
}

TEST_F(RecorderTest, NumbersContinueAfterTheHighestJobFolderAlreadyThere) {
    struct Case {
        const char* name;
        std::vector<std::string> folders;  // there before
        std::vector<std::string> files;
        uint64_t first;
    };
    const std::vector<Case> cases = {
        {"an empty folder", {}, {}, 1},
        {"folders with gaps", {"000002", "000007", "000003"}, {}, 8},
        {"more than six digits", {"000009", "1000000"}, {}, 1000001},
        {"other names, files and folders being filled", {"000004", "000050.tmp", "notes"}, {"000099"}, 100},
        {"any name that starts with a job's digits", {"000004", "000120-old"}, {"000130.tmp", "0001"}, 131},
    };
    for (const Case& c : cases) {
        const test::ScratchFolder dir("pellory_jobs_numbers");
        for (const std::string& f : c.folders) fs::create_directories(dir.Path(f));
        for (const std::string& f : c.files) dir.Write(f, "x");
        JobRecorder recorder({dir.Folder()}, {}, {});
        std::string why;
        ASSERT_TRUE(recorder.open(&why)) << why;
        EXPECT_EQ(recorder.firstNumber(), c.first) << c.name;
        recorder.take(MadeUpJob(1, "x\n"));
        recorder.take(MadeUpJob(2, "y\n"));
        recorder.finish();
        EXPECT_EQ(test::ReadWholeFile(dir.Path(JobFolderName(c.first) + "/bytes.bin")), "x\n") << c.name;
        EXPECT_EQ(test::ReadWholeFile(dir.Path(JobFolderName(c.first + 1) + "/bytes.bin")), "y\n") << c.name;
        EXPECT_FALSE(fs::exists(dir.Path(JobWorkName(c.first)))) << c.name;
    }
}

TEST_F(RecorderTest, AJobsFolderThatCannotBeWrittenIsRefusedAtOpen) {
    const std::string file = scratch.Write("a-file", "x");
    struct Case {
        const char* name;
        std::string folder;
        std::string why;
    };
    for (const Case& c :
         {Case{"below a file", file + "/jobs", "Not a directory"}, Case{"a file itself", file, "Not a directory"},
          Case{"on a read-only file system", "/proc/pellory-jobs", ""}}) {
        JobRecorder recorder({c.folder}, {}, {});
        std::string why;
        EXPECT_FALSE(recorder.open(&why)) << c.name;
        if (!c.why.empty()) {
            EXPECT_EQ(why, c.why) << c.name;
        }
        EXPECT_FALSE(why.empty()) << c.name;
    }
}

// While the queue is full, the sink's hand-over waits (the server's next job waits with it) until
// a writer has taken a job. A writer takes none while as many jobs as there are writers are
// written and wait for their report: here the first job's report holds them all.
TEST_F(RecorderTest, AFullQueueMakesTheHandOverWait) {
    std::mutex gate;
    std::unique_lock<std::mutex> held(gate);
    std::atomic<int> reported{0};
    JobRecorder recorder({Jobs(), 576, 1, 1u << 20},
                         [&](const RecordedJob&) {
                             std::lock_guard<std::mutex> wait(gate);  // the writer stops here until the test lets it go
                             ++reported;
                         },
                         {});
    std::string why;
    ASSERT_TRUE(recorder.open(&why)) << why;
    const int writers = static_cast<int>(recorder.writers());
    ASSERT_GE(writers, 2);
    // Job 1: its writer stops in the report; jobs 2 .. writers: written, waiting for their report;
    // the next one fills the queue.
    for (int i = 1; i <= writers + 1; ++i) recorder.take(MadeUpJob(static_cast<uint64_t>(i), "job\n"));
    std::atomic<bool> handedOver{false};
    std::thread sink([&] {
        recorder.take(MadeUpJob(static_cast<uint64_t>(writers + 2), "last\n"));
        handedOver = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(handedOver.load());
    held.unlock();
    sink.join();
    EXPECT_TRUE(handedOver.load());
    recorder.finish();
    EXPECT_EQ(reported.load(), writers + 2);
}

TEST(JsonText, TimesAreUtcWithMilliseconds) {
    struct Case {
        int64_t ms;
        const char* text;
    };
    for (const Case c : {Case{0, "1970-01-01T00:00:00.000Z"}, Case{1796677049123, "2026-12-07T20:57:29.123Z"},
                         Case{951782400999, "2000-02-29T00:00:00.999Z"}, Case{-1, "1969-12-31T23:59:59.999Z"}}) {
        EXPECT_EQ(IsoTime(c.ms), c.text) << c.ms;
    }
}

}  // namespace
}  // namespace pellory::jobs
