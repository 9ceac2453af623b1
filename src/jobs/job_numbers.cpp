#include "jobs/job_numbers.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "jobs/job_folder.h"
#include "platform/files.h"

namespace pellory::jobs {

namespace fs = std::filesystem;

namespace {

// How many numbers one take() tries before it gives up: entries made with job names while the
// server runs are passed over one by one, and this bounds the work of a folder full of them.
constexpr int kMaxTries = 10000;

constexpr size_t kLeastDigits = 6;
constexpr size_t kMostDigits = 18;

std::string Why(int error) { return platform::ErrorText(error); }

// Whether nothing has the name path: an entry of any kind, or one that cannot be looked at, takes it.
bool Free(const std::string& path) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(platform::PathOf(path), ec);
    return st.type() == fs::file_type::not_found && ec == std::errc::no_such_file_or_directory;
}

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
    for (fs::directory_iterator it(platform::PathOf(dir), ec), end; !ec && it != end; it.increment(ec)) {
        if (const std::optional<uint64_t> n = JobNumberOfName(platform::TextOf(it->path().filename()))) {
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
        int error = 0;
        const platform::NameResult made = platform::MakeFolder(work, &error);
        if (made == platform::NameResult::Taken) {
            ++next_;
            continue;
        }
        if (made == platform::NameResult::Failed) {
            if (why) *why = Why(error);
            return std::nullopt;  // the same number is tried again next time
        }
        ++next_;
        if (!Free(dir_ + "/" + JobFolderName(n))) {
            std::error_code ec;
            fs::remove(platform::PathOf(work), ec);  // made just now, by this call, and empty
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
    int error = 0;
    switch (platform::RenameNoReplace(work, final, &error)) {
        case platform::NameResult::Done:
            return true;
        case platform::NameResult::Taken:
            if (taken) *taken = true;
            if (why) *why = JobFolderName(number) + " exists already";
            return false;
        case platform::NameResult::Failed:
            break;
    }
    if (why) *why = Why(error);
    return false;
}

std::optional<uint64_t> JobNumbers::moveToNew(uint64_t number, std::string* why) {
    const std::optional<uint64_t> fresh = take(why);
    if (!fresh) return std::nullopt;
    const std::string from = dir_ + "/" + JobWorkName(number);
    const std::string to = dir_ + "/" + JobWorkName(*fresh);
    // The new work folder is empty, so the move replaces it.
    int error = 0;
    if (!platform::MoveOntoEmptyFolder(from, to, &error)) {
        if (why) *why = Why(error);
        std::error_code ec;
        fs::remove(platform::PathOf(to), ec);
        return std::nullopt;
    }
    return fresh;
}

}  // namespace pellory::jobs
