// What a job's bytes make besides themselves: the pictures of its receipts and its decoding, with
// the counts its record gives, within the bounds of what one job may make. The job recorder's
// writers call them for each job.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "jobs/job_folder.h"
#include "platform/clock.h"

namespace pellory::receipt {
struct DecodedCommand;
}

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
    // Each command to take (may be empty), goOn asked every few commands (may be empty): false
    // ends the decoding there, and run returns false.
    bool run(const std::vector<uint8_t>& bytes, const std::function<void(const receipt::DecodedCommand&)>& take,
             const std::function<bool()>& goOn);
};

// What could not be written, and why.
using Failed = std::function<void(const std::string& what, const std::string& why)>;

// What one job may make at most. 0: no bound.
struct JobBounds {
    size_t maxPictures = 0;                      // receipt pictures
    uint64_t maxOutputBytes = 0;                 // pictures and decoding together
    std::chrono::milliseconds maxWriterTime{0};  // a writer's time on the job
    // The time maxWriterTime goes by (not owned; the recorder sets its own). None: the real clock.
    const platform::Clock* clock = nullptr;
};

// The bounds of "pellory-cli serve" unless its options say otherwise: far above what any real
// receipt makes (some 16 pictures of the 2 m roll for the longest, a few MB).
inline constexpr JobBounds kDefaultJobBounds{500, uint64_t{64} << 20, std::chrono::seconds(30)};

// What was made of one job.
struct JobOutput {
    size_t receipts = 0;   // pictures written (counted, without a folder)
    JobDecoding decoding;  // its counts (of the commands decoded, when the decoding was cut short)
    // Why the output stops before the job's end (a bound, the server stopping); empty when whole.
    // "more than 500 pictures; the rest is not drawn", "the server stopped; the rest is not drawn".
    std::string cutShort;
};

// The decoding and the pictures of a job's bytes into folder (decoding.txt, then receipt-NN.png),
// within bounds; without a folder (empty) the commands are counted and the receipts drawn and
// counted, nothing written. stop (may be empty) and the clock are looked at every few commands and
// lines, before each picture and as each file is written; stop returning true ends the work at
// once (the server stops).
//
// The decoding goes first (its runs of one command collapsed, see DecodingRuns); the pictures get
// what it left of the bytes and the time. Long blank paper is drawn short, marked with its length
// (receipt::OfflineRoll::shortenBlankRuns). Once a bound is reached, or stop says so, nothing more
// is made: a picture being written is not kept, a decoding being written ends with a line that says
// why ("... the rest is not decoded: the server stopped"), and cutShort says so. A file that cannot
// be written goes to failed (may be empty) with its reason: a decoding that cannot be written
// leaves the pictures to be tried, a picture that cannot be written ends the drawing (nothing after
// it is drawn, so nothing else is reported of it).
JobOutput WriteJobOutput(const std::vector<uint8_t>& bytes, int widthDots, const std::filesystem::path& folder,
                         const JobBounds& bounds, const std::function<bool()>& stop, const Failed& failed);

}  // namespace pellory::jobs
