// The spool of the jobs folder: each job's bytes written into its work folder as the printer server
// reads them, so that a job the server has read survives the server's end, a kill included.
//
//   DIR/000042.tmp/start.txt   the start record: number, start time and source of the job
//   DIR/000042.tmp/bytes.bin   the job's bytes so far, appended as they arrive
//
// begin() takes the job's number (job_numbers.h) and makes both files; append() writes through
// with plain write calls (platform/files.h) into the system's cache (no flush to the disk per piece), a few
// calls at most. The job recorder later reads bytes.bin back, writes the rest of the job folder
// into the same work folder and renames it; a work folder a killed server left behind is finished
// at the next start from these two files (JobRecorder::open).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "jobs/job_numbers.h"
#include "platform/files.h"
#include "vprinter/job_spool.h"

namespace pellory::jobs {

// The start record's name in a work folder.
inline constexpr const char* kStartRecordName = "start.txt";

// What a job's work folder says of it besides its bytes. The text is three lines, the source last
// and taken to the end of the file as it is (it may hold any byte):
//
//   number 42
//   start 1796677049123          (milliseconds since 1970, UTC)
//   source tcp:127.0.0.1:50122
struct StartRecord {
    uint64_t number = 0;
    std::chrono::system_clock::time_point started;
    std::string source;
};
std::string StartRecordText(const StartRecord& r);
// Nothing when text is not a whole start record (a kill while it was written).
std::optional<StartRecord> ReadStartRecord(const std::string& text);

// One job's bytes in its work folder. Used by the server's thread while the job runs, then by the
// recorder's writer that takes the job (never by both at once).
class FolderSpooledJob final : public vprinter::SpooledJob {
public:
    FolderSpooledJob(std::string dir, uint64_t number) : dir_(std::move(dir)), number_(number) {}
    ~FolderSpooledJob() override;
    FolderSpooledJob(const FolderSpooledJob&) = delete;
    FolderSpooledJob& operator=(const FolderSpooledJob&) = delete;

    bool append(const uint8_t* bytes, size_t n) override;
    std::string failure() const override { return failure_; }

    // Makes start.txt and opens bytes.bin in the work folder (made by JobNumbers::take). False once
    // failed.
    bool open(const StartRecord& start);
    // Marks the spool failed: what could not be written (a file's name, or the work folder) and
    // why (strerror's text). The first failure stays.
    void fail(const std::string& what, const std::string& why);
    // Closes bytes.bin: nothing more is appended.
    void close();

    uint64_t number() const { return number_; }  // 0: no number could be taken
    uint64_t size() const { return size_; }      // the bytes in bytes.bin
    const std::string& failedFile() const { return failedFile_; }

private:
    std::string dir_;
    uint64_t number_;
    platform::File file_;  // bytes.bin, open from open() to close()
    uint64_t size_ = 0;
    std::string failedFile_;
    std::string failure_;
};

class FolderSpool final : public vprinter::JobSpool {
public:
    explicit FolderSpool(std::shared_ptr<JobNumbers> numbers) : numbers_(std::move(numbers)) {}

    std::unique_ptr<vprinter::SpooledJob> begin(uint64_t job, std::chrono::system_clock::time_point started,
                                                const std::string& source) override;

private:
    std::shared_ptr<JobNumbers> numbers_;
};

}  // namespace pellory::jobs
