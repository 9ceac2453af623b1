#include "imaging/picture_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace pellory::imaging {

namespace {

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

std::string TooLarge(const std::string& path, size_t maxBytes) {
    return "file too large: " + path + " (the limit for a picture file is " + std::to_string(maxBytes >> 20) +
           " MiB)";
}

// Closes the descriptor on every way out.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// The first piece is small so that a file that is no picture at all is refused at once.
constexpr size_t kFirstPiece = 64 * 1024;
constexpr size_t kPiece = 1024 * 1024;

}  // namespace

void FileBytes::Release() {
    if (mapped_ != nullptr) ::munmap(mapped_, size_);
    mapped_ = nullptr;
    read_ = std::vector<uint8_t>();
    size_ = 0;
}

bool FileBytes::Open(const std::string& path, size_t maxBytes, bool (*looksRight)(const uint8_t*, size_t),
                     std::string* error) {
    Release();
    Descriptor file;
    do {
        file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (file.fd < 0 && errno == EINTR);
    if (file.fd < 0) {
        SetError(error, "cannot open " + path + ": " + std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) {
        SetError(error, "cannot read " + path + ": " + std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        SetError(error, "cannot read " + path + ": it is a folder");
        return false;
    }
    if (S_ISREG(st.st_mode) && st.st_size > 0) {
        const auto fileSize = static_cast<uint64_t>(st.st_size);
        if (fileSize > maxBytes) {
            SetError(error, TooLarge(path, maxBytes));
            return false;
        }
        void* p = ::mmap(nullptr, static_cast<size_t>(fileSize), PROT_READ, MAP_PRIVATE, file.fd, 0);
        if (p != MAP_FAILED) {
            mapped_ = static_cast<uint8_t*>(p);
            size_ = static_cast<size_t>(fileSize);
            if (looksRight != nullptr && !looksRight(mapped_, size_)) {
                Release();
                SetError(error, "not a picture format that can be read: " + path);
                return false;
            }
            return true;
        }
        // Not mappable after all: read it like a stream.
    }
    // In pieces, growing as the data comes. The buffer never holds more than maxBytes + 1 bytes.
    bool checked = looksRight == nullptr;
    while (true) {
        const size_t want = std::min(size_ < kFirstPiece ? kFirstPiece - size_ : kPiece, maxBytes + 1 - size_);
        if (read_.size() < size_ + want) read_.resize(size_ + want);
        const ssize_t n = ::read(file.fd, read_.data() + size_, want);
        if (n < 0) {
            if (errno == EINTR) continue;
            const std::string reason = std::strerror(errno);
            Release();
            SetError(error, "cannot read " + path + ": " + reason);
            return false;
        }
        size_ += static_cast<size_t>(n);
        if (size_ > maxBytes) {
            Release();
            SetError(error, TooLarge(path, maxBytes));
            return false;
        }
        const bool atEnd = n == 0;
        if (!checked && (atEnd || size_ >= kFirstPiece)) {
            if (size_ > 0 && !looksRight(read_.data(), size_)) {
                Release();
                SetError(error, "not a picture format that can be read: " + path);
                return false;
            }
            checked = true;
        }
        if (atEnd) break;
    }
    read_.resize(size_);
    read_.shrink_to_fit();
    return true;
}

}  // namespace pellory::imaging
