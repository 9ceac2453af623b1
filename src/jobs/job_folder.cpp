#include "jobs/job_folder.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/files.h"

namespace pellory::jobs {

namespace fs = std::filesystem;

namespace {

// How many names the check that files can be made tries, when earlier ones are taken.
constexpr int kMaxProbeNames = 100;

}  // namespace

std::string JobFolderName(uint64_t number) {
    char name[32];
    std::snprintf(name, sizeof name, "%06llu", static_cast<unsigned long long>(number));
    return name;
}

std::string JobWorkName(uint64_t number) { return JobFolderName(number) + ".tmp"; }

std::string ReceiptFileName(uint64_t number) {
    char name[40];
    std::snprintf(name, sizeof name, "receipt-%02llu.png", static_cast<unsigned long long>(number));
    return name;
}

void RemoveFile(const std::string& path) {
    std::error_code ec;
    const fs::path p = platform::PathOf(path);
    if (fs::symlink_status(p, ec).type() != fs::file_type::directory && !ec) fs::remove(p, ec);
}

bool PrepareJobsFolder(const std::string& dir, std::string* why) {
    std::error_code ec;
    fs::create_directories(platform::PathOf(dir), ec);
    std::error_code unused;
    if (!fs::is_directory(platform::PathOf(dir), unused)) {
        if (why) *why = ec ? ec.message() : "it is not a folder";
        return false;
    }
    // A file of a name nobody else takes (this process's id, and a count) is made and removed.
    const std::string probe = dir + "/.pellory-write-check-" + std::to_string(platform::CurrentProcessId()) + "-";
    for (int attempt = 0;; ++attempt) {
        platform::File file;
        int error = 0;
        const std::string path = probe + std::to_string(attempt);
        if (file.open(path, platform::File::Access::NewForAppend, &error)) {
            file.close();
            RemoveFile(path);
            return true;
        }
        if (attempt == kMaxProbeNames || platform::ErrnoOf(error) != EEXIST) {
            if (why) *why = platform::ErrorText(error);
            return false;
        }
    }
}

}  // namespace pellory::jobs
