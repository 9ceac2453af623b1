#include "jobs/job_writer.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <vector>

#include "jobs/folder_spool.h"
#include "jobs/job_folder.h"
#include "jobs/json_text.h"
#include "platform/files.h"

namespace pellory::jobs {

namespace fs = std::filesystem;
using vprinter::FinishedJob;
using vprinter::JobEnd;

namespace {

// How often a job whose final name was taken after its number tries the next free one.
constexpr int kMaxRenumbers = 3;

// A start record is a few hundred bytes; more is not one.
constexpr size_t kMaxStartRecord = 64u << 10;

FolderSpooledJob* SpooledOf(const FinishedJob& job) { return dynamic_cast<FolderSpooledJob*>(job.spool.get()); }

std::string WorkPath(const JobWriting& w, uint64_t number) { return w.folder + "/" + JobWorkName(number); }
std::string FinalPath(const JobWriting& w, uint64_t number) { return w.folder + "/" + JobFolderName(number); }

// Reads at most most bytes of the file at path. False with the reason.
bool ReadBack(const std::string& path, uint64_t most, std::vector<uint8_t>& out, std::string* why) {
    platform::File file;
    int error = 0;
    if (!file.open(path, platform::File::Access::Read, &error)) {
        *why = platform::ErrorText(error);
        return false;
    }
    uint64_t size = 0;
    bool ok = file.describe(nullptr, &size, &error);
    if (ok) out.resize(static_cast<size_t>(std::min<uint64_t>(most, size)));
    for (size_t done = 0; ok && done < out.size();) {
        const int64_t n = file.readAt(done, out.data() + done, out.size() - done, &error);
        if (n <= 0) {
            if (n == 0) error = platform::IoErrorCode();  // the file is shorter than it was
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (!ok) {
        *why = platform::ErrorText(error);
        out.clear();
    }
    return ok;
}

// Notes a failure of the job: its error line once, the first failure its reason.
void Fail(QueuedJob& q, const JobWriting& w, const std::string& text) {
    if (std::find(q.failures.begin(), q.failures.end(), text) != q.failures.end()) return;
    q.failures.push_back(text);
    const std::string job = q.number != 0 ? "job " + JobFolderName(q.number) : "a job from " + q.job.source;
    if (w.errorLine) w.errorLine(job + ": " + text + "; the job is marked failed");
}

// The record's fields known before anything is written.
RecordedJob BaseRecord(const QueuedJob& q) {
    RecordedJob r;
    r.number = q.number;
    r.source = q.job.source;
    r.bytes = q.job.bytes.size();
    r.received = std::max<uint64_t>(q.job.receivedBytes, q.job.bytes.size());
    r.end = q.job.end;
    r.reason = q.job.reason;
    return r;
}

// The record's JSON, and what lists show of it.
void Listed(const QueuedJob& q, RecordedJob& r) {
    r.statusCheck = r.receipts == 0 && (r.folder.empty() ? r.bytes == 0 : r.texts == 0);
    r.json = JobJson(q.job, r);
    r.listed = ListedJobJson(q.job, r, kListedAnswers);
    r.endTime = IsoTime(std::chrono::duration_cast<std::chrono::milliseconds>(q.job.ended.time_since_epoch()).count());
}

// Marks the record failed when anything failed, and makes its JSON.
void Seal(const QueuedJob& q, RecordedJob& r) {
    if (!q.failures.empty()) {
        r.end = JobEnd::Failed;
        r.reason = q.failures.front();
    }
    Listed(q, r);
}

void WriteRecord(QueuedJob& q, const JobWriting& w, RecordedJob& r) {
    Seal(q, r);
    std::string why;
    if (!WriteFileInOneStep(WorkPath(w, q.number) + "/job.json", r.json + "\n", &why)) {
        Fail(q, w, "cannot write job.json: " + why);
        Seal(q, r);
    }
}

// The spool's failure, if any, as the job's.
void TakeSpoolFailure(QueuedJob& q, const JobWriting& w) {
    FolderSpooledJob* spooled = SpooledOf(q.job);
    if (!spooled) return;
    spooled->close();
    if (!spooled->failure().empty()) Fail(q, w, "cannot write " + spooled->failedFile() + ": " + spooled->failure());
}

// Gives the work folder its final name; when that name was taken after the job's number, the job
// takes the next free number (its record rewritten). A folder that cannot be renamed stays a work
// folder (finished at the next start), and the job is failed without a folder.
void FinishFolder(QueuedJob& q, const JobWriting& w, RecordedJob& r) {
    RemoveFile(WorkPath(w, q.number) + "/" + kStartRecordName);  // the record says it all now
    for (int renumbered = 0;; ++renumbered) {
        bool taken = false;
        std::string why;
        if (w.numbers->finish(q.number, &taken, &why)) return;
        std::optional<uint64_t> fresh;
        if (taken && renumbered < kMaxRenumbers) fresh = w.numbers->moveToNew(q.number, &why);
        if (!fresh) {
            Fail(q, w, "cannot rename " + JobWorkName(q.number) + " to " + JobFolderName(q.number) + ": " + why);
            r.folder.clear();
            WriteRecord(q, w, r);
            return;
        }
        q.number = r.number = *fresh;
        r.folder = FinalPath(w, q.number);
        WriteRecord(q, w, r);
    }
}

// Without a folder: the job's receipts and commands counted, unless the server has stopped.
RecordedJob CountJob(QueuedJob& q, const JobWriting& w) {
    RecordedJob r = BaseRecord(q);
    if (w.stopped && w.stopped()) {
        r.cutShort = kStoppedBeforeOutput;
    } else if (w.count) {
        const JobOutput out = WriteJobOutput(q.job.bytes, w.widthDots, {}, w.bounds, w.stopped, {});
        r.receipts = out.receipts;
        r.commands = out.decoding.commands;
        r.unknownCommands = out.decoding.unknown;
        r.texts = out.decoding.texts;
        r.cutShort = out.cutShort;
    }
    Listed(q, r);
    return r;
}

}  // namespace

std::string LaterPicturesMarker(uint64_t number) { return ".pictures-" + JobFolderName(number); }

std::optional<uint64_t> LaterPicturesNumber(const std::string& name) {
    const std::string prefix = ".pictures-";
    if (name.rfind(prefix, 0) != 0) return std::nullopt;
    const std::optional<uint64_t> n = JobNumberOfName(name.substr(prefix.size()));
    if (!n || name != LaterPicturesMarker(*n)) return std::nullopt;
    return n;
}

RecordedJob WriteJob(QueuedJob& q, const JobWriting& w) { return WriteJob(q, w, nullptr); }

RecordedJob WriteJob(QueuedJob& q, const JobWriting& w, std::optional<LaterPictures>* later) {
    if (w.folder.empty()) return CountJob(q, w);
    const bool stopped = w.stopped && w.stopped();
    if (q.early && stopped) {
        RecordedJob r = *q.early;
        TakeSpoolFailure(q, w);
        FinishFolder(q, w, r);
        return r;
    }
    RecordedJob r = BaseRecord(q);
    if (q.number == 0) {
        std::string why = q.numberFailure;
        if (const std::optional<uint64_t> n = w.numbers->take(&why)) {
            q.number = r.number = *n;
        } else {
            TakeSpoolFailure(q, w);
            Fail(q, w, "cannot make the job's folder: " + why);
            Seal(q, r);
            return r;
        }
    }
    const std::string work = WorkPath(w, q.number);
    const std::vector<uint8_t>* bytes = &q.job.bytes;
    std::vector<uint8_t> readBack;
    std::string why;
    if (const FolderSpooledJob* spooled = SpooledOf(q.job)) {
        TakeSpoolFailure(q, w);
        if (!ReadBack(work + "/bytes.bin", spooled->size(), readBack, &why))
            Fail(q, w, "cannot read bytes.bin: " + why);
        bytes = &readBack;
    } else if (q.recovered) {
        if (!ReadBack(work + "/bytes.bin", std::numeric_limits<uint64_t>::max(), readBack, &why))
            Fail(q, w, "cannot read bytes.bin: " + why);
        bytes = &readBack;
    } else if (!q.early && !WriteFileInOneStep(
                               work + "/bytes.bin",
                               [&](const FileSink& sink) { return sink(bytes->data(), bytes->size()); }, &why)) {
        Fail(q, w, "cannot write bytes.bin: " + why);
    }
    r.bytes = bytes->size();
    r.received = std::max<uint64_t>(r.received, r.bytes);
    JobOutput out;
    DrawnPictures drawn;
    size_t held = 0;  // the memory of the pictures that wait
    if (stopped) {
        r.cutShort = kStoppedBeforeOutput;
    } else {
        const Failed fail = [&](const std::string& what, const std::string& reason) {
            Fail(q, w, "cannot write " + what + ": " + reason);
        };
        out = DrawAndDecode(*bytes, w.widthDots, platform::PathOf(work), w.bounds, w.stopped, fail, &drawn);
        if (later && drawn.count() > 0 && w.holdPictures && w.holdPictures(drawn.memory())) {
            held = drawn.memory();
        } else {
            WritePictures(drawn, platform::PathOf(work), fail, out);
        }
        r.receipts = out.receipts + drawn.count();
        r.commands = out.decoding.commands;
        r.unknownCommands = out.decoding.unknown;
        r.texts = out.decoding.texts;
        r.cutShort = out.cutShort;
        r.picturesPending = held > 0;
    }
    r.folder = FinalPath(w, q.number);
    const uint64_t marked = q.number;
    std::string why2;
    if (held > 0 && !WriteFileInOneStep(w.folder + "/" + LaterPicturesMarker(marked), std::string(), &why2)) {
        // Without its marker a later start would not finish them: the pictures are written now.
        WritePictures(
            drawn, platform::PathOf(work),
            [&](const std::string& what, const std::string& reason) {
                Fail(q, w, "cannot write " + what + ": " + reason);
            },
            out);
        if (w.releasePictures) w.releasePictures(held);
        r.receipts = out.receipts;
        r.cutShort = out.cutShort;
        r.picturesPending = false;
        held = 0;
    }
    WriteRecord(q, w, r);
    FinishFolder(q, w, r);
    if (held == 0) return r;
    if (q.number != marked || r.folder.empty()) {
        RemoveFile(w.folder + "/" + LaterPicturesMarker(marked));
        if (!r.folder.empty()) WriteFileInOneStep(w.folder + "/" + LaterPicturesMarker(q.number), std::string(), &why2);
    }
    if (r.folder.empty()) {
        // Its folder stays a work folder, finished from its bytes at the next start.
        if (w.releasePictures) w.releasePictures(held);
        later->reset();
        return r;
    }
    q.job.bytes = {};
    later->emplace();
    LaterPictures& p = **later;
    p.record = r;
    p.out = std::move(out);
    p.drawn = std::move(drawn);
    p.memory = held;
    p.q = std::move(q);
    return r;
}

RecordedJob WriteLaterPictures(LaterPictures& p, const JobWriting& w, bool* rewritten) {
    *rewritten = false;
    RecordedJob& r = p.record;
    if (w.stopped && w.stopped()) return r;
    const Failed fail = [&](const std::string& what, const std::string& reason) {
        Fail(p.q, w, "cannot write " + what + ": " + reason);
    };
    if (p.leftover) {
        std::vector<uint8_t> bytes;
        std::string why;
        if (!ReadBack(r.folder + "/bytes.bin", std::numeric_limits<uint64_t>::max(), bytes, &why)) {
            if (w.errorLine) {
                w.errorLine("job " + JobFolderName(r.number) + ": cannot read bytes.bin: " + why +
                            "; its pictures are not written");
            }
            return r;
        }
        // The drawing again, as the recovery of a run that ended before it wrote them.
        p.out = DrawAndDecode(bytes, w.widthDots, platform::PathOf(r.folder), w.bounds, w.stopped, fail, &p.drawn);
    }
    WritePictures(p.drawn, platform::PathOf(r.folder), fail, p.out);
    if (w.stopped && w.stopped()) return r;  // pending still: the next start writes them
    r.receipts = p.out.receipts;
    r.cutShort = p.out.cutShort;
    r.picturesPending = false;
    std::string why;
    if (p.leftover) {
        const std::string json = RecordWithPictures(r.json, r.receipts, r.cutShort);
        if (!json.empty()) r.json = json;
        if (json.empty() || !WriteFileInOneStep(r.folder + "/job.json", r.json + "\n", &why)) {
            if (w.errorLine) w.errorLine("job " + JobFolderName(r.number) + ": cannot write job.json: " + why);
            return r;
        }
    } else {
        Seal(p.q, r);
        if (!WriteFileInOneStep(r.folder + "/job.json", r.json + "\n", &why)) {
            Fail(p.q, w, "cannot write job.json: " + why);
            return r;
        }
    }
    RemoveFile(w.folder + "/" + LaterPicturesMarker(r.number));
    *rewritten = true;
    return r;
}

std::optional<LaterPictures> LeftoverPictures(const std::string& folder, uint64_t number, std::string* why) {
    LaterPictures p;
    p.leftover = true;
    p.record.number = number;
    p.record.folder = folder + "/" + JobFolderName(number);
    std::vector<uint8_t> text;
    if (!ReadBack(p.record.folder + "/job.json", std::numeric_limits<uint64_t>::max(), text, why)) return std::nullopt;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    p.record.json.assign(text.begin(), text.end());
    if (RecordWithPictures(p.record.json, 0, {}).empty()) {
        *why = "its record says no pictures are pending";
        return std::nullopt;
    }
    p.record.picturesPending = true;
    p.q.number = number;
    return p;
}

void WriteEarlyRecord(QueuedJob& q, const JobWriting& w) {
    if (w.folder.empty() || q.number == 0 || q.early) return;
    const std::string work = WorkPath(w, q.number);
    RecordedJob r = BaseRecord(q);
    std::string why;
    if (const FolderSpooledJob* spooled = SpooledOf(q.job)) {
        TakeSpoolFailure(q, w);
        r.bytes = spooled->size();
    } else if (q.recovered) {
        std::error_code ec;
        const uintmax_t size = fs::file_size(platform::PathOf(work + "/bytes.bin"), ec);
        if (!ec) r.bytes = static_cast<uint64_t>(size);
    } else if (!WriteFileInOneStep(
                   work + "/bytes.bin",
                   [&](const FileSink& sink) { return sink(q.job.bytes.data(), q.job.bytes.size()); }, &why)) {
        Fail(q, w, "cannot write bytes.bin: " + why);
    }
    r.received = std::max<uint64_t>(r.received, r.bytes);
    r.cutShort = kStoppedBeforeOutput;
    r.folder = FinalPath(w, q.number);
    WriteRecord(q, w, r);
    q.early = r;
}

std::optional<QueuedJob> LeftoverJob(const std::string& folder, uint64_t number, std::string* why) {
    const std::string work = folder + "/" + JobWorkName(number);
    std::error_code ec;
    if (fs::symlink_status(platform::PathOf(work), ec).type() != fs::file_type::directory) {
        *why = "it is not a folder";
        return std::nullopt;
    }
    const fs::path bytes = platform::PathOf(work + "/bytes.bin");
    const bool regular = fs::symlink_status(bytes, ec).type() == fs::file_type::regular;
    const uintmax_t size = regular ? fs::file_size(bytes, ec) : 0;
    const fs::file_time_type modified = regular && !ec ? fs::last_write_time(bytes, ec) : fs::file_time_type();
    if (!regular || ec) {
        *why = "it holds no bytes.bin";
        return std::nullopt;
    }
    QueuedJob q;
    q.number = number;
    q.recovered = true;
    FinishedJob& job = q.job;
    job.number = number;
    job.ended =
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(std::chrono::file_clock::to_sys(modified));
    job.receivedBytes = static_cast<uint64_t>(size);
    job.end = JobEnd::Recovered;
    job.reason = kRecoveredReason;
    std::vector<uint8_t> text;
    std::string unreadable;
    std::optional<StartRecord> start;
    if (ReadBack(work + "/" + kStartRecordName, kMaxStartRecord, text, &unreadable))
        start = ReadStartRecord(std::string(text.begin(), text.end()));
    job.started = start ? start->started : job.ended;
    job.source = start ? start->source : "unknown";
    // The temporary files of the run that ended (".receipt-01.png.part-1234") are its own, and half.
    for (fs::directory_iterator it(platform::PathOf(work), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = platform::TextOf(it->path().filename());
        std::error_code unused;
        if (name.size() > 1 && name[0] == '.' && name.find(".part-") != std::string::npos)
            fs::remove(it->path(), unused);
    }
    return q;
}

}  // namespace pellory::jobs
