// Shared by the fuzz targets: a fuzzer input as a file (an anonymous in-memory file named by its
// /proc/self/fd path, for functions that read from a path; nothing is written to disk), and Check.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace pellory::fuzz {

class MemoryFile {
public:
    MemoryFile(const std::uint8_t* data, std::size_t size) : fd_(::memfd_create("pellory-fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0) std::abort();
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd_, data + done, size - done);
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    const std::string& path() const { return path_; }

private:
    int fd_;
    std::string path_;
};

// Aborts (a finding) when an expectation does not hold.
inline void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace pellory::fuzz
