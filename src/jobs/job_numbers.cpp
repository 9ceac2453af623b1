#include "jobs/job_numbers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "jobs/job_folder.h"

namespace pellory::jobs {

namespace fs = std::filesystem;

namespace {

// How many numbers one take() tries before it gives up: entries made with job names while the
// server runs are passed over one by one, and this bounds the work of a folder full of them.
constexpr int kMaxTries = 10000;

constexpr size_t kLeastDigits = 6;
constexpr size_t kMostDigits = 18;

std::string Why(int error) { return std::strerror(error); }

}  // namespace

std::optional<uint64_t> JobNumberOfName(std::string_view name) {
    const size_t digits = std::min(name.find_first_not_of("0123456789"), name.size());
    if (digits < kLeastDigits || digits > kMostDigits) return std::nullopt;
    uint64_t n = 0;
    for (size_t i = 0; i < digits; ++i) n = n * 10 + static_cast<uint64_t>(name[i] - '0');
    return n;
}

std::optional<uint64_t> WorkFolderNumber(std::string_view name) {
    const std::optional<uint64_t> n = JobNumberOfName(name);
    if (!n || name != JobWorkName(*n)) return std::nullopt;
    return n;
}

uint64_t HighestJobNumber(const std::string& dir) {
    uint64_t highest = 0;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (const std::optional<uint64_t> n = JobNumberOfName(it->path().filename().string())) {
            highest = std::max(highest, *n);
        }
    }
    return highest;
}

uint64_t JobNumbers::next() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return next_;
}

std::optional<uint64_t> JobNumbers::take(std::string* why) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int tries = 0; tries < kMaxTries; ++tries) {
        const uint64_t n = next_;
        const std::string work = dir_ + "/" + JobWorkName(n);
        if (::mkdir(work.c_str(), 0755) != 0) {
            if (errno == EEXIST) {
                ++next_;
                continue;
            }
            if (why) *why = Why(errno);
            return std::nullopt;  // the same number is tried again next time
        }
        ++next_;
        struct stat st {};
        const std::string final = dir_ + "/" + JobFolderName(n);
        if (::lstat(final.c_str(), &st) == 0 || errno != ENOENT) {
            ::rmdir(work.c_str());  // made just now, by this call, and empty
            continue;
        }
        return n;
    }
    if (why) *why = "no free job number after " + std::to_string(kMaxTries) + " tries";
    return std::nullopt;
}

bool JobNumbers::finish(uint64_t number, bool* taken, std::string* why) const {
    const std::string work = dir_ + "/" + JobWorkName(number);
    const std::string final = dir_ + "/" + JobFolderName(number);
    if (taken) *taken = false;
    if (::renameat2(AT_FDCWD, work.c_str(), AT_FDCWD, final.c_str(), RENAME_NOREPLACE) == 0) return true;
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {
        // A file system without the flag: an empty folder of the final name is made first (which
        // fails when anything has the name), and then replaced.
        if (::mkdir(final.c_str(), 0755) != 0) {
            error = errno;
        } else if (::rename(work.c_str(), final.c_str()) == 0) {
            return true;
        } else {
            error = errno;
            ::rmdir(final.c_str());
        }
    }
    if (error == EEXIST || error == ENOTEMPTY) {
        if (taken) *taken = true;
        if (why) *why = JobFolderName(number) + " exists already";
    } else if (why) {
        *why = Why(error);
    }
    return false;
}

std::optional<uint64_t> JobNumbers::moveToNew(uint64_t number, std::string* why) {
    const std::optional<uint64_t> fresh = take(why);
    if (!fresh) return std::nullopt;
    const std::string from = dir_ + "/" + JobWorkName(number);
    const std::string to = dir_ + "/" + JobWorkName(*fresh);
    // The new work folder is empty, so the rename replaces it.
    if (::rename(from.c_str(), to.c_str()) != 0) {
        if (why) *why = Why(errno);
        ::rmdir(to.c_str());
        return std::nullopt;
    }
    return fresh;
}

}  // namespace pellory::jobs
