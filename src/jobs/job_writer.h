// Writing one job into its folder, as the job recorder's writers do (job_recorder.h): its bytes
// (from memory, or read back from the spool's bytes.bin), the pictures and the decoding, and the
// record last, all into the work folder NNNNNN.tmp, which then takes its final name NNNNNN. Whatever
// cannot be written, the job ends in its folder with what could be, marked failed with one reason;
// when its final name was taken meanwhile, it gets the next free number instead.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jobs/job_numbers.h"
#include "jobs/job_record.h"
#include "jobs/job_render.h"
#include "protocol/model_profile.h"
#include "vprinter/printer_server.h"

namespace pellory::jobs {

// The cut_short of a job whose pictures and decoding were not made because the server stopped.
inline constexpr const char* kStoppedBeforeOutput = "the server stopped before its pictures and decoding were made";
// The reason of a job finished at a later start from what a server that ended spooled.
inline constexpr const char* kRecoveredReason =
    "finished at a restart: the server that received it ended before writing it";

// One job waiting for a writer.
struct QueuedJob {
    vprinter::FinishedJob job;
    // Its folder's number (the server's number without a folder); 0 when none could be taken, the
    // reason in numberFailure.
    uint64_t number = 0;
    std::string numberFailure;
    // Left by an earlier run in its work folder (job.bytes empty, bytes.bin there); job.end is
    // Recovered.
    bool recovered = false;
    // Its record as written at the stop, before any picture (WriteEarlyRecord).
    std::optional<RecordedJob> early;
    // What failed so far ("cannot write bytes.bin: File too large"), each once; the first is the
    // job's reason.
    std::vector<std::string> failures;
};

// A job on disk whose pictures are still to be written (JobRecorder::Options::pictures).
struct LaterPictures {
    QueuedJob q;            // its bytes let go of
    RecordedJob record;     // as reported: picturesPending
    JobOutput out;          // its pass's output
    DrawnPictures drawn;    // the pictures drawn; none for one left by an earlier run
    size_t memory = 0;      // what drawn held when the recorder took it on
    bool leftover = false;  // left by an earlier run: drawn again from bytes.bin, its record from job.json
};

// The file in the jobs folder that marks a job whose pictures are still to be written, for the
// next start should this run end first: ".pictures-000042".
std::string LaterPicturesMarker(uint64_t number);

// What the recorder's writers share.
struct JobWriting {
    std::string folder;  // empty: nothing is saved, the jobs are only counted
    bool count = true;   // without a folder: false, not even counted
    int widthDots = protocol::ProfileOf(protocol::Model::Orva80).paperDots;
    JobBounds bounds;
    JobNumbers* numbers = nullptr;  // with a folder
    std::function<void(const std::string&)> errorLine;
    // True once the server has stopped and the time for pictures has run out.
    std::function<bool()> stopped;
    // With pictures after the record: asked with the memory a job's drawn pictures hold, true when
    // they may wait (the recorder counts them); empty or false: they are written before the record.
    std::function<bool(size_t memory)> holdPictures;
    // Gives back memory holdPictures took, once the pictures are written (or dropped).
    std::function<void(size_t memory)> releasePictures;
};

// Writes the job (or, without a folder, counts its commands) and returns its report. Once stopped()
// is true, no picture or decoding is begun (cut short, kStoppedBeforeOutput).
RecordedJob WriteJob(QueuedJob& q, const JobWriting& w);
// As above; when holdPictures let the job's drawn pictures wait, the job is reported with its
// pictures pending and *later receives what WriteLaterPictures needs (q moved from).
RecordedJob WriteJob(QueuedJob& q, const JobWriting& w, std::optional<LaterPictures>* later);

// Writes the pictures of a job on disk into its folder, then its record again (pictures_pending
// false, receipts the pictures written) and removes its marker. Once stopped() is true nothing is
// written, and a job stopped midway stays pending too: its marker is left for the next start. The
// job's record as it is now, and whether it was rewritten.
RecordedJob WriteLaterPictures(LaterPictures& p, const JobWriting& w, bool* rewritten);

// The job of a marker an earlier run left (LaterPicturesMarker): its folder's record and bytes.
// Nothing, with the reason, when its folder holds no record with pictures pending, or no bytes.
std::optional<LaterPictures> LeftoverPictures(const std::string& folder, uint64_t number, std::string* why);
// The number of a marker's name; nothing for another name.
std::optional<uint64_t> LaterPicturesNumber(const std::string& name);

// At the stop, for a job still waiting: its bytes (when they are in memory) and a record that says
// its pictures were not made, written into its work folder before the pictures of any job, so that
// they are there whatever becomes of the rest. WriteJob later draws the job if time allows, or else
// only renames its folder.
void WriteEarlyRecord(QueuedJob& q, const JobWriting& w);

// The queue entry of a work folder left by an earlier run: its start and source from its start
// record when there (else its bytes' time, and source "unknown"), its end the time its bytes were
// last written. Nothing, with the reason, when the folder holds no bytes.bin.
std::optional<QueuedJob> LeftoverJob(const std::string& folder, uint64_t number, std::string* why);

}  // namespace pellory::jobs
