// The report and record of one job as the job recorder writes it: what became of the job
// (RecordedJob), its record as JSON (job.json, and a line of "serve --json") and its readable line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vprinter/printer_server.h"

namespace pellory::jobs {

// What became of one job, as reported once it is written.
struct RecordedJob {
    uint64_t number = 0;  // its folder's number
    std::string folder;   // the job's folder (DIR/000001); empty when not saved
    std::string source;
    uint64_t bytes = 0;     // kept (bytes.bin)
    uint64_t received = 0;  // received, over the limit too
    size_t receipts = 0;    // pictures written
    size_t commands = 0;    // the decoding's commands (text runs not counted)
    size_t unknownCommands = 0;
    size_t texts = 0;  // the decoding's text runs
    vprinter::JobEnd end = vprinter::JobEnd::Closed;
    std::string reason;
    std::string cutShort;  // why its pictures or decoding stop before its end; empty when whole
    // Its pictures are drawn and still to be written (receipts counts them): the job is on disk
    // with its bytes, decoding and record, its pictures follow (JobRecorder::Options::pictures).
    bool picturesPending = false;
    // What lists show of it (the web index), made with its record: its end (ISO 8601 UTC), its
    // record as lists give it (ListedJobJson), and whether it printed nothing (no receipt, no text:
    // a status check; not saved, no byte).
    std::string endTime;
    std::string listed;
    bool statusCheck = false;
    std::string json;  // the record, one line: job.json's content without its line end
};

// The record of a job as JSON (job.json, and a line of "serve --json"): number, folder (the
// folder's name, or null when not saved), start, end (ISO 8601 UTC, milliseconds), source, bytes,
// received, receipts, commands, unknown_commands, answers (offset, request, bytes as hex text),
// ended ("closed", "idle", "over-limit", "incomplete", "failed", "recovered"), reason, cut_short and
// pictures_pending (true while its receipts' pictures are still to be written).
//
// RecordWithPictures: the record text of a job whose pending pictures are now written, from the
// text written before them: receipts, cut_short and pictures_pending made what is given, the rest as
// it was. Empty when the text is no record of ours with pictures pending.
std::string JobJson(const vprinter::FinishedJob& job, const RecordedJob& r);
// The record as lists give it: JobJson's members as a reader of it gets them back (AsUtf8), its
// "answers" the first maxAnswers of them followed by "answers_more" (the count of the rest), and
// "status_check" last. One line.
std::string ListedJobJson(const vprinter::FinishedJob& job, const RecordedJob& r, size_t maxAnswers);
// The answers a listed record holds.
inline constexpr size_t kListedAnswers = 20;
std::string RecordWithPictures(const std::string& json, size_t receipts, const std::string& cutShort);
// The readable line of a job: "job 000001  tcp:127.0.0.1:50122  1,234 bytes  2 receipts  closed  DIR/000001".
std::string JobLine(const RecordedJob& r);

}  // namespace pellory::jobs
