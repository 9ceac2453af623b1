// What a job's bytes make besides themselves: the pictures of its receipts and its decoding, with
// the counts its record gives, within the bounds of what one job may make. The job recorder's
// writers call them for each job.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jobs/job_folder.h"
#include "platform/clock.h"
#include "receipt/paper.h"

namespace pellory::jobs {

// zlib's level for a job's pictures: its fastest, so that a job is on disk soon after its
// connection closed (render and --receipt write theirs at zlib's default, smaller).
inline constexpr int kJobPngCompression = 1;

// The counts of a job's decoding.
struct JobDecoding {
    size_t commands = 0;  // text runs not counted
    size_t unknown = 0;   // commands the printer does not know
    size_t texts = 0;     // text runs
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

class JobBudget;  // what a job has used of its bounds (job_render.cpp)

// The pictures of one job drawn in its pass and not yet written, and what the job has left of its
// bounds for them. Moved, never copied; empty once written.
class DrawnPictures {
public:
    DrawnPictures();
    ~DrawnPictures();
    DrawnPictures(DrawnPictures&&) noexcept;
    DrawnPictures& operator=(DrawnPictures&&) noexcept;

    size_t count() const { return papers_.size(); }
    // The memory the drawn pictures hold, in bytes (one bit a dot and a byte a row).
    size_t memory() const { return memory_; }

private:
    friend JobOutput DrawAndDecode(const std::vector<uint8_t>&, int, const std::filesystem::path&, const JobBounds&,
                                   const std::function<bool()>&, const Failed&, DrawnPictures*, size_t);
    friend void WritePictures(DrawnPictures&, const std::filesystem::path&, const Failed&, JobOutput&);

    std::vector<receipt::Paper> papers_;  // receipt-(first_) on, in order
    size_t first_ = 1;
    size_t memory_ = 0;
    std::string boundCut_;  // why the pictures after these are not drawn (a bound on the count)
    std::unique_ptr<JobBudget> budget_;
};

// The pictures a job may hold drawn and not yet written, in bytes of memory: past this, its
// pictures are written as they are drawn.
inline constexpr size_t kMaxDrawnPictureMemory = size_t{32} << 20;

// One pass over a job's bytes, which both draws its receipts and decodes it: the decoding into
// folder's decoding.txt as it goes, the pictures kept in *drawn (receipt::Paper::piece) while they
// hold at most maxDrawn bytes, and written into folder (receipt-NN.png) as they are drawn past
// that. Without a folder (empty) the commands are counted and the receipts drawn and counted,
// nothing written nor kept. The pictures kept are written by WritePictures, which completes the
// output's receipts and cutShort; drawn may be null only without a folder.
//
// The bounds are those of WriteJobOutput: the decoding is charged as it goes, the pictures as they
// are written, the writer's time counted in both (not while the pictures wait).
JobOutput DrawAndDecode(const std::vector<uint8_t>& bytes, int widthDots, const std::filesystem::path& folder,
                        const JobBounds& bounds, const std::function<bool()>& stop, const Failed& failed,
                        DrawnPictures* drawn, size_t maxDrawn = kMaxDrawnPictureMemory);

// Writes the pictures drawn into folder, one after the other, within what the job has left of its
// bounds; out (DrawAndDecode's) then counts the pictures written and says why they stop short, as
// WriteJobOutput does (a bound on the count, a picture too tall: DrawAndDecode says so already).
// drawn is empty afterwards.
void WritePictures(DrawnPictures& drawn, const std::filesystem::path& folder, const Failed& failed, JobOutput& out);

// The decoding and the pictures of a job's bytes into folder (decoding.txt, then receipt-NN.png),
// within bounds: DrawAndDecode and WritePictures at once. Without a folder (empty) the commands are
// counted and the receipts drawn and counted, nothing written. stop (may be empty) and the clock are
// looked at every few commands and lines, before each picture and as each file is written; stop
// returning true ends the work at once (the server stops).
//
// The decoding is made whole first (its runs of one command collapsed, see DecodingRuns); the
// pictures get what it left of the bytes and the time. Long blank paper is drawn short, marked with
// its length (receipt::OfflineRoll::shortenBlankRuns). Once a bound is reached, or stop says so,
// nothing more is made: a picture being written is not kept, a decoding being written ends with a
// line that says why ("... the rest is not decoded: the server stopped"), and cutShort says so. A
// file that cannot be written goes to failed (may be empty) with its reason: a decoding that cannot
// be written leaves the pictures to be tried, a picture that cannot be written ends the pictures
// (nothing after it is written, so nothing else is reported of it).
JobOutput WriteJobOutput(const std::vector<uint8_t>& bytes, int widthDots, const std::filesystem::path& folder,
                         const JobBounds& bounds, const std::function<bool()>& stop, const Failed& failed);

}  // namespace pellory::jobs
