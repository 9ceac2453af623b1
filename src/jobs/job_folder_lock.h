// One printer server per jobs folder: the lock file DIR/.pellory.lock, held (flock(2) on POSIX,
// LockFileEx on Windows, platform/files.h) for as long as the server writes jobs, with the holder's process id in it (a line of digits). The
// system lets go of the lock when the process ends however it ends, so a lock file left by a
// process that was killed holds nothing back.
#pragma once

#include <string>

#include "platform/files.h"

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
    Result take(const std::string& dir, platform::ProcessId* holder, std::string* why);
    void release();
    bool held() const { return file_.isOpen(); }

private:
    platform::File file_;
};

}  // namespace pellory::jobs
