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

// What the recorder's writers share.
struct JobWriting {
    std::string folder;  // empty: nothing is saved, the jobs are only counted
    int widthDots = protocol::ProfileOf(protocol::Model::Orva80).paperDots;
    JobBounds bounds;
    JobNumbers* numbers = nullptr;  // with a folder
    std::function<void(const std::string&)> errorLine;
    // True once the server has stopped and the time for pictures has run out.
    std::function<bool()> stopped;
};

// Writes the job (or, without a folder, counts its commands) and returns its report. Once stopped()
// is true, no picture or decoding is begun (cut short, kStoppedBeforeOutput).
RecordedJob WriteJob(QueuedJob& q, const JobWriting& w);

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
