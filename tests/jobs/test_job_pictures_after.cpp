// The recorder's one pass and its pictures after the record: a job's bytes are split into commands
// once, however it is recorded; with pictures after the record a job is reported while its folder
// holds its bytes, decoding and record (pictures pending), and its pictures and record follow; the
// pictures a run left unwritten are written by the next start, their record then as the run would
// have written it.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "jobs/job_folder.h"
#include "jobs/job_recorder.h"
#include "jobs/job_writer.h"
#include "protocol/command_splitter.h"
#include "support/job_folders.h"
#include "support/job_recording.h"

namespace pellory::jobs {
namespace {

namespace fs = std::filesystem;
using test::JobFolder;
using test::MadeUpJob;

const std::string kCut("\x1d\x56\x42\x00", 4);

std::string Receipt(const std::string& text, int lines) {
    std::string out;
    for (int i = 0; i < lines; ++i) out += text + " " + std::to_string(i) + "\n";
    return out + kCut;
}

// The whole record of a job folder, and its pictures by name.
struct Snapshot {
    std::vector<std::string> names;
    std::string record;
    std::map<std::string, std::string> pictures;
};
Snapshot Look(const fs::path& folder) {
    const JobFolder f{folder};
    Snapshot s{f.Names(), f.Read("job.json"), {}};
    for (const std::string& p : f.Receipts()) s.pictures[p] = f.Read(p);
    return s;
}
std::vector<std::string> WithPictures(std::vector<std::string> names, size_t pictures) {
    for (size_t i = 1; i <= pictures; ++i) names.push_back(ReceiptFileName(i));
    std::sort(names.begin(), names.end());
    return names;
}
const std::vector<std::string> kWithoutPictures = {"bytes.bin", "decoding.txt", "job.json"};

// A recorder over the test's jobs folder: what each report and each "pictures written" call saw.
class PicturesAfterTest : public test::ScratchFolderTest {
protected:
    PicturesAfterTest() : ScratchFolderTest("pellory_pictures_after") {}

    std::string Jobs() const { return Path("jobs"); }
    fs::path Marker(uint64_t n) const { return fs::path(Jobs()) / LaterPicturesMarker(n); }

    static JobRecorder::Options After() {
        JobRecorder::Options o;
        o.pictures = JobRecorder::Options::Pictures::AfterRecord;
        o.writers = 1;
        o.stopTime = std::chrono::minutes(10);  // finish() writes every picture, however slow the machine
        return o;
    }

    void Start(JobRecorder::Options o) {
        if (o.folder == "-") {
            o.folder.clear();
        } else if (o.folder.empty()) {
            o.folder = Jobs();
        }
        recorder_.emplace(
            o,
            [this](const RecordedJob& r) {
                if (beforeReport) beforeReport(r);
                std::lock_guard<std::mutex> lock(mutex_);
                reports.push_back(r);
                if (!r.folder.empty()) atReport.push_back(Look(r.folder));
                markedAtReport.push_back(fs::exists(Marker(r.number)));
            },
            [this](const std::string& line) {
                std::lock_guard<std::mutex> lock(mutex_);
                errors.push_back(line);
            });
        recorder_->setPicturesWritten([this](const RecordedJob& r) {
            std::lock_guard<std::mutex> lock(mutex_);
            drawn.push_back(r);
        });
        std::string why;
        ASSERT_TRUE(recorder_->open(&why)) << why;
    }
    JobRecorder& recorder() { return *recorder_; }
    void Finish() { recorder_->finish(); }

    // Called on the writer before a report is kept (set before Start).
    std::function<void(const RecordedJob&)> beforeReport;
    // Read once the recorder has finished.
    std::vector<RecordedJob> reports, drawn;
    std::vector<Snapshot> atReport;
    std::vector<bool> markedAtReport;
    std::vector<std::string> errors;

private:
    std::mutex mutex_;
    std::optional<JobRecorder> recorder_;
};

// However a job is recorded (saved with its pictures before or after its record, or only counted),
// its bytes are split into commands once: the one pass draws and decodes them. A recorder that is
// not to count what it does not save reads them not at all.
TEST_F(PicturesAfterTest, AJobsBytesAreSplitOnce) {
    struct Case {
        const char* name;
        const char* folder;  // "-": not saved
        JobRecorder::Options::Pictures pictures;
        bool count;
        size_t passes, receipts, commands;
    };
    const Case cases[] = {
        {"saved, pictures before the record", "", JobRecorder::Options::Pictures::WithRecord, true, 1, 2, 45},
        {"saved, pictures after the record", "", JobRecorder::Options::Pictures::AfterRecord, true, 1, 2, 45},
        {"not saved", "-", JobRecorder::Options::Pictures::WithRecord, true, 1, 2, 45},  // each LF and cut
        {"not saved, not counted", "-", JobRecorder::Options::Pictures::WithRecord, false, 0, 0, 0},
    };
    const std::string stream = Receipt("item", 40) + Receipt("total", 3);
    for (const Case& c : cases) {
        fs::remove_all(Jobs());
        JobRecorder::Options o = After();
        o.folder = c.folder;
        o.pictures = c.pictures;
        o.countUnsaved = c.count;
        Start(o);
        const uint64_t before = protocol::SplitBytes();
        recorder().take(MadeUpJob(1, stream));
        Finish();
        EXPECT_EQ(protocol::SplitBytes() - before, c.passes * stream.size()) << c.name;
        ASSERT_FALSE(reports.empty()) << c.name;
        EXPECT_EQ(reports.back().receipts, c.receipts) << c.name;
        EXPECT_EQ(reports.back().commands, c.commands) << c.name;
    }
}

// With pictures after the record, a job is reported while its folder holds bytes.bin, decoding.txt
// and job.json (pictures_pending, receipts the pictures drawn) and its marker is in the jobs
// folder; then its pictures are written, its record says so, the callback has it, and the marker
// is gone. Past the memory for waiting pictures, the pictures come before the record, as they do
// without pictures after.
TEST_F(PicturesAfterTest, PicturesPendingThenPresent) {
    struct Case {
        const char* name;
        std::string stream;
        size_t maxPictures;
        size_t maxWaiting;
        bool pending;  // at its report
        size_t receipts;
        std::string cutShort;
    };
    const std::string three = Receipt("one", 5) + Receipt("two", 9) + Receipt("three", 2);
    const Case cases[] = {
        {"three receipts", three, 0, JobRecorder::Options{}.maxWaitingPictures, true, 3, ""},
        {"a bound on their count", three, 2, JobRecorder::Options{}.maxWaitingPictures, true, 2,
         "more than 2 pictures; the rest is not drawn"},
        {"past the memory for waiting pictures", three, 0, 1, false, 3, ""},
    };
    for (const Case& c : cases) {
        fs::remove_all(Jobs());
        reports.clear(), drawn.clear(), atReport.clear(), markedAtReport.clear();
        JobRecorder::Options o = After();
        o.bounds.maxPictures = c.maxPictures;
        o.maxWaitingPictures = c.maxWaiting;
        Start(o);
        recorder().take(MadeUpJob(1, c.stream));
        Finish();
        ASSERT_EQ(reports.size(), 1u) << c.name;
        const RecordedJob& r = reports[0];
        EXPECT_EQ(r.picturesPending, c.pending) << c.name;
        EXPECT_EQ(r.receipts, c.receipts) << c.name;
        EXPECT_EQ(r.cutShort, c.cutShort) << c.name;
        EXPECT_EQ(atReport[0].names, WithPictures(kWithoutPictures, c.pending ? 0 : c.receipts)) << c.name;
        EXPECT_EQ(atReport[0].record, r.json + "\n") << c.name;
        EXPECT_EQ(test::Text(JobFolder{r.folder}.Record(), "cut_short"), c.cutShort) << c.name;
        EXPECT_EQ(markedAtReport[0], c.pending) << c.name;

        const Snapshot now = Look(r.folder);
        EXPECT_EQ(now.names, WithPictures(kWithoutPictures, c.receipts)) << c.name;
        const QJsonObject record = JobFolder{r.folder}.Record();
        EXPECT_FALSE(record.value(QStringLiteral("pictures_pending")).toBool(true)) << c.name;
        EXPECT_EQ(test::Number(record, "receipts"), static_cast<int64_t>(c.receipts)) << c.name;
        EXPECT_EQ(test::Text(record, "cut_short"), c.cutShort) << c.name;
        ASSERT_EQ(drawn.size(), c.pending ? 1u : 0u) << c.name;
        if (c.pending) {
            EXPECT_EQ(drawn[0].json + "\n", now.record) << c.name;
        }
        EXPECT_FALSE(fs::exists(Marker(1))) << c.name;
        EXPECT_TRUE(errors.empty()) << c.name << ": " << errors.front();
    }
}

// As serve records: a job's pictures wait only while other jobs wait to be written. A job alone is
// on disk with its pictures; of the jobs taken while the writer was busy, the one written while
// another waited is reported pending, the last one with its pictures.
TEST_F(PicturesAfterTest, PicturesWaitOnlyWhileJobsWait) {
    std::mutex gate;
    std::condition_variable changed;
    bool held = false, released = false;
    beforeReport = [&](const RecordedJob& r) {
        if (r.number != 1) return;
        std::unique_lock<std::mutex> lock(gate);
        held = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
    };
    JobRecorder::Options o = After();
    o.pictures = JobRecorder::Options::Pictures::AfterRecordWhileJobsWait;
    Start(o);
    recorder().take(MadeUpJob(1, Receipt("alone", 4)));
    {
        std::unique_lock<std::mutex> lock(gate);
        ASSERT_TRUE(changed.wait_for(lock, test::kRecorderWatchdog, [&] { return held; }));
    }
    recorder().take(MadeUpJob(2, Receipt("waited for", 4)));
    recorder().take(MadeUpJob(3, Receipt("last", 4)));
    {
        std::lock_guard<std::mutex> lock(gate);
        released = true;
        changed.notify_all();
    }
    Finish();
    ASSERT_EQ(reports.size(), 3u);
    const std::vector<bool> pending = {reports[0].picturesPending, reports[1].picturesPending,
                                       reports[2].picturesPending};
    EXPECT_EQ(pending, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(atReport[0].names, WithPictures(kWithoutPictures, 1));
    EXPECT_EQ(atReport[1].names, kWithoutPictures);
    EXPECT_EQ(atReport[2].names, WithPictures(kWithoutPictures, 1));
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0].number, 2u);
    EXPECT_EQ(Look(reports[1].folder).names, WithPictures(kWithoutPictures, 1));
}

// A run that ended before it wrote a job's pictures leaves its record pending and its marker: the
// next start draws the job again from bytes.bin and writes the very pictures and record the run
// would have written. A marker whose job has no pictures pending is an error line, and goes.
TEST_F(PicturesAfterTest, ALaterStartWritesThePicturesARunLeft) {
    const std::string stream = Receipt("first", 12) + Receipt("second", 30);
    Start(After());
    recorder().take(MadeUpJob(1, stream));
    recorder().take(MadeUpJob(2, Receipt("whole", 3)));
    Finish();
    ASSERT_EQ(reports.size(), 2u);
    ASSERT_TRUE(reports[0].picturesPending);
    const fs::path folder = reports[0].folder;
    const Snapshot whole = Look(folder);
    ASSERT_EQ(whole.pictures.size(), 2u);

    // As the run would have left it, killed before the pictures: its record pending, its marker.
    for (const auto& [name, png] : whole.pictures) fs::remove(folder / name);
    ASSERT_TRUE(WriteFileInOneStep((folder / "job.json").string(), reports[0].json + "\n", nullptr));
    ASSERT_TRUE(WriteFileInOneStep(Marker(1).string(), "", nullptr));
    // A marker of a job whose pictures were written.
    ASSERT_TRUE(WriteFileInOneStep(Marker(2).string(), "", nullptr));

    reports.clear(), drawn.clear();
    Start(After());
    Finish();
    EXPECT_TRUE(reports.empty());
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0].number, 1u);
    const Snapshot again = Look(folder);
    EXPECT_EQ(again.names, whole.names);
    EXPECT_EQ(again.pictures, whole.pictures);
    EXPECT_EQ(again.record, whole.record);
    EXPECT_EQ(drawn[0].json + "\n", whole.record);
    EXPECT_FALSE(fs::exists(Marker(1)));
    EXPECT_FALSE(fs::exists(Marker(2)));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("job 000002: its pictures were left to write by an earlier run, and its record says no "
                             "pictures are pending"),
              std::string::npos)
        << errors[0];
}

}  // namespace
}  // namespace pellory::jobs
