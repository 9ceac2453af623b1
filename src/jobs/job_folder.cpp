#include "jobs/job_folder.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace pellory::jobs {

namespace fs = std::filesystem;

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

bool PrepareJobsFolder(const std::string& dir, std::string* why) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    std::error_code unused;
    if (!fs::is_directory(dir, unused)) {
        if (why) *why = ec ? ec.message() : "it is not a folder";
        return false;
    }
    std::string probe = (fs::path(dir) / ".pellory-write-check-XXXXXX").string();
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) {
        if (why) *why = std::strerror(errno);
        return false;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

}  // namespace pellory::jobs
