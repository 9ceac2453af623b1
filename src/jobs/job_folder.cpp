#include "jobs/job_folder.h"

#include <fcntl.h>
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

namespace {

bool WriteAll(int fd, const uint8_t* data, size_t n, int& error) {
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            error = w < 0 ? errno : EIO;
            return false;
        }
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

bool WriteFileInOneStep(const std::string& path, const std::function<bool(const FileSink&)>& fill, std::string* why) {
    const fs::path target(path);
    const std::string temporary =
        (target.parent_path() / ("." + target.filename().string() + ".part-" + std::to_string(::getpid()))).string();
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (why) *why = std::strerror(errno);
        return false;
    }
    int error = 0;
    bool ok = fill([&](const uint8_t* data, size_t n) { return error == 0 && WriteAll(fd, data, n, error); });
    if (ok && error != 0) ok = false;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        if (why) *why = error != 0 ? std::strerror(error) : "the writing was given up";
    }
    return ok;
}

bool WriteFileInOneStep(const std::string& path, const std::string& content, std::string* why) {
    return WriteFileInOneStep(
        path,
        [&content](const FileSink& sink) {
            return sink(reinterpret_cast<const uint8_t*>(content.data()), content.size());
        },
        why);
}

}  // namespace pellory::jobs
