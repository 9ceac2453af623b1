#include "platform/file_in_one_step.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace pellory::platform {

namespace fs = std::filesystem;

namespace {

// A temporary file may take this many names before the writing gives up.
constexpr int kMaxTemporaryNames = 100;

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

bool WriteFileInOneStep(const std::string& path, const std::function<bool(const FileSink&)>& fill,
                        const OneStepFile& how, std::string* why) {
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const std::string stem = "." + target.filename().string() + ".part-" + std::to_string(::getpid());
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < kMaxTemporaryNames; ++attempt) {
        temporary = (folder / (attempt == 0 ? stem : stem + "-" + std::to_string(attempt))).string();
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(how.mode));
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        if (why) *why = std::strerror(errno);
        return false;
    }
    int error = 0;
    bool ok = fill([&](const uint8_t* data, size_t n) { return error == 0 && WriteAll(fd, data, n, error); });
    if (ok && error != 0) ok = false;
    struct stat st {};
    if (ok && how.keepMode && ::stat(path.c_str(), &st) == 0 && ::fchmod(fd, st.st_mode & 07777) != 0) {
        ok = false;
        error = errno;
    }
    if (ok && how.durability == Durability::Synced && ::fsync(fd) != 0) {
        ok = false;
        error = errno;
    }
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

bool WriteFileInOneStep(const std::string& path, const std::function<bool(const FileSink&)>& fill, std::string* why) {
    return WriteFileInOneStep(path, fill, OneStepFile{}, why);
}

bool WriteFileInOneStep(const std::string& path, const std::string& content, std::string* why) {
    return WriteFileInOneStep(
        path,
        [&content](const FileSink& sink) {
            return sink(reinterpret_cast<const uint8_t*>(content.data()), content.size());
        },
        why);
}

}  // namespace pellory::platform
