// Where each job's bytes go as they arrive, so that a job the server has read survives the end of
// the server, a kill included. The printer server appends every byte it reads to its job's spool
// before it acts on them: an answer to a request is sent only once every byte before the request
// is in the spool. The jobs folder implements it (jobs/job_spool.h); without one the server keeps
// each job's bytes in memory (FinishedJob::bytes).
//
// Called on the server's thread only, never waiting for the job writers: each call is a few
// file-system calls at most.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pellory::vprinter {

// One job's bytes on their way to storage.
class SpooledJob {
public:
    virtual ~SpooledJob() = default;
    // Appends the next bytes of the job. False once the spool has failed (a full disk, a file size
    // limit): failure() says why, and nothing more of the job is kept.
    virtual bool append(const uint8_t* bytes, size_t n) = 0;
    // Empty while it works.
    virtual std::string failure() const = 0;
};

class JobSpool {
public:
    virtual ~JobSpool() = default;
    // A job starts: its first bytes are about to be appended. job: FinishedJob::number; started
    // and source as the finished job will have them. Never null: a spool that cannot be made is
    // handed out failed (append() false, failure() with the reason).
    virtual std::unique_ptr<SpooledJob> begin(uint64_t job, std::chrono::system_clock::time_point started,
                                              const std::string& source) = 0;
};

}  // namespace pellory::vprinter
