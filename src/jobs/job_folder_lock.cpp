#include "jobs/job_folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace pellory::jobs {

namespace {

// A holder that has just taken the lock writes its id at once; its reader waits this long at most
// for it.
constexpr int kHolderReadTries = 10;
constexpr std::chrono::milliseconds kHolderReadStep(20);

pid_t ReadHolder(int fd) {
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    pid_t pid = 0;
    for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i) pid = pid * 10 + (text[i] - '0');
    return pid;
}

}  // namespace

JobsFolderLock::Result JobsFolderLock::take(const std::string& dir, pid_t* holder, std::string* why) {
    release();
    const std::string path = dir + "/" + kLockFileName;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        if (why) *why = std::strerror(errno);
        return Result::CannotLock;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error != EWOULDBLOCK) {
            ::close(fd);
            if (why) *why = std::strerror(error);
            return Result::CannotLock;
        }
        pid_t pid = ReadHolder(fd);
        for (int i = 0; pid == 0 && i < kHolderReadTries; ++i) {
            std::this_thread::sleep_for(kHolderReadStep);
            pid = ReadHolder(fd);
        }
        ::close(fd);
        if (holder) *holder = pid;
        return Result::InUse;
    }
    const std::string id = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, id.data(), id.size(), 0) != static_cast<ssize_t>(id.size())) {
        const int error = errno;
        ::close(fd);
        if (why) *why = std::strerror(error);
        return Result::CannotLock;
    }
    fd_ = fd;
    return Result::Taken;
}

void JobsFolderLock::release() {
    if (fd_ < 0) return;
    ::close(fd_);  // lets go of the lock; the file stays, with an id nobody holds
    fd_ = -1;
}

}  // namespace pellory::jobs
