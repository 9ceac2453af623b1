#include "jobs/job_folder_lock.h"

#include <chrono>
#include <string>
#include <thread>

namespace pellory::jobs {

using platform::File;
using platform::ProcessId;

namespace {

// A holder that has just taken the lock writes its id at once; its reader waits this long at most
// for it.
constexpr int kHolderReadTries = 10;
constexpr std::chrono::milliseconds kHolderReadStep(20);

ProcessId ReadHolder(File& file) {
    char text[32] = {};
    const int64_t n = file.readAt(0, text, sizeof text - 1, nullptr);
    if (n <= 0) return 0;
    ProcessId pid = 0;
    for (int64_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i) pid = pid * 10 + (text[i] - '0');
    return pid;
}

}  // namespace

JobsFolderLock::Result JobsFolderLock::take(const std::string& dir, ProcessId* holder, std::string* why) {
    release();
    // The lock is taken on file_, which keeps it only when everything below succeeded.
    File& file = file_;
    int error = 0;
    if (!file.open(dir + "/" + kLockFileName, File::Access::LockFile, &error)) {
        if (why) *why = platform::ErrorText(error);
        return Result::CannotLock;
    }
    const File::LockResult locked = file.tryLock(&error);
    if (locked == File::LockResult::Failed) {
        file.close();
        if (why) *why = platform::ErrorText(error);
        return Result::CannotLock;
    }
    if (locked == File::LockResult::Busy) {
        ProcessId pid = ReadHolder(file);
        for (int i = 0; pid == 0 && i < kHolderReadTries; ++i) {
            std::this_thread::sleep_for(kHolderReadStep);
            pid = ReadHolder(file);
        }
        file.close();
        if (holder) *holder = pid;
        return Result::InUse;
    }
    if (!file.replaceContent(std::to_string(platform::CurrentProcessId()) + "\n", &error)) {
        file.close();
        if (why) *why = platform::ErrorText(error);
        return Result::CannotLock;
    }
    return Result::Taken;
}

void JobsFolderLock::release() {
    file_.close();  // lets go of the lock; the file stays, with an id nobody holds
}

}  // namespace pellory::jobs
