// One printer server per jobs folder: the lock file DIR/.pellory.lock, held with flock(2) for as
// long as the server writes jobs, with the holder's process id in it (a line of digits). The
// system lets go of the lock when the process ends however it ends, so a lock file left by a
// process that was killed holds nothing back.
#pragma once

#include <sys/types.h>

#include <string>

namespace pellory::jobs {

// The lock file's name in the jobs folder.
inline constexpr const char* kLockFileName = ".pellory.lock";

class JobsFolderLock {
public:
    JobsFolderLock() = default;
    ~JobsFolderLock() { release(); }
    JobsFolderLock(const JobsFolderLock&) = delete;
    JobsFolderLock& operator=(const JobsFolderLock&) = delete;

    enum class Result { Taken, InUse, CannotLock };
    // Takes the lock of dir (an existing folder), without waiting. InUse: another holds it, its
    // process id in *holder (0 when it has not written it yet). CannotLock: the lock file cannot be
    // made or locked, the reason in *why.
    Result take(const std::string& dir, pid_t* holder, std::string* why);
    void release();
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace pellory::jobs
