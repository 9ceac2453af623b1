// What a job's bytes make besides themselves: the pictures of its receipts and its decoding, with
// the counts its record gives. The job recorder's writers call them for each job.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "jobs/job_folder.h"

namespace pellory::jobs {

// zlib's level for a job's pictures: its fastest, so that a job is on disk soon after its
// connection closed (render and --receipt write theirs at zlib's default, smaller).
inline constexpr int kJobPngCompression = 1;

// The decoding of a job's bytes as "pellory-cli decode" prints it (the printer's start-up state),
// handed out line by line, with the commands counted.
struct JobDecoding {
    size_t commands = 0;  // text runs not counted
    size_t unknown = 0;   // commands the printer does not know

    // lines may be empty: only the counting is wanted.
    void run(const std::vector<uint8_t>& bytes, const std::function<void(const std::string&)>& lines);
};

// What could not be written, and why.
using Failed = std::function<void(const std::string& what, const std::string& why)>;

// The receipts of a job's bytes, a PNG each into folder (receipt-01.png, ...), in one step each.
// The pictures written; a picture that cannot be written ends the drawing.
size_t WriteReceipts(const std::vector<uint8_t>& bytes, int widthDots, const std::filesystem::path& folder,
                     const Failed& failed);

// The decoding of a job's bytes to sink, in pieces of about 64 KiB. False when the sink refused.
bool WriteDecoding(const std::vector<uint8_t>& bytes, JobDecoding& decoding, const FileSink& sink);

// What one job may make at most. 0: no bound.
struct JobBounds {
    size_t maxPictures = 0;                      // receipt pictures
    uint64_t maxOutputBytes = 0;                 // pictures and decoding together
    std::chrono::milliseconds maxWriterTime{0};  // a writer's time on the job
};

// What was made of one job.
struct JobOutput {
    size_t receipts = 0;   // pictures written (counted, without a folder)
    JobDecoding decoding;  // its counts
    // Why the output stops before the job's end (a bound, the server stopping); empty when whole.
    std::string cutShort;
};

// The pictures and the decoding of a job's bytes into folder (receipt-NN.png, decoding.txt), within
// bounds; without a folder (empty) they are only counted. stop (may be empty) is asked now and
// then; true ends the work at once (the server stops), cut short. What cannot be written goes to
// failed.
JobOutput WriteJobOutput(const std::vector<uint8_t>& bytes, int widthDots, const std::filesystem::path& folder,
                         const JobBounds& bounds, const std::function<bool()>& stop, const Failed& failed);

}  // namespace pellory::jobs
