#include "imaging/picture_file.h"

#include <algorithm>

#include "platform/files.h"

namespace pellory::imaging {

namespace {

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

std::string TooLarge(const std::string& path, size_t maxBytes) {
    return "file too large: " + path + " (the limit for a picture file is " + std::to_string(maxBytes >> 20) + " MiB)";
}

// The first piece is small so that a file that is no picture at all is refused at once.
constexpr size_t kFirstPiece = 64 * 1024;
constexpr size_t kPiece = 1024 * 1024;

}  // namespace

void FileBytes::Release() {
    platform::File::Unmap(mapped_, size_);
    mapped_ = nullptr;
    read_ = std::vector<uint8_t>();
    size_ = 0;
}

bool FileBytes::Open(const std::string& path, size_t maxBytes, bool (*looksRight)(const uint8_t*, size_t),
                     std::string* error) {
    Release();
    platform::File file;
    int code = 0;
    if (!file.open(path, platform::File::Access::Read, &code)) {
        SetError(error, "cannot open " + path + ": " + platform::ErrorText(code));
        return false;
    }
    platform::File::Kind kind = platform::File::Kind::Other;
    uint64_t fileSize = 0;
    if (!file.describe(&kind, &fileSize, &code)) {
        SetError(error, "cannot read " + path + ": " + platform::ErrorText(code));
        return false;
    }
    if (kind == platform::File::Kind::Folder) {
        SetError(error, "cannot read " + path + ": it is a folder");
        return false;
    }
    if (kind == platform::File::Kind::Regular && fileSize > 0) {
        if (fileSize > maxBytes) {
            SetError(error, TooLarge(path, maxBytes));
            return false;
        }
        if (const uint8_t* p = file.map(static_cast<size_t>(fileSize), nullptr)) {
            mapped_ = p;
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
        const int64_t n = file.read(read_.data() + size_, want, &code);
        if (n < 0) {
            const std::string reason = platform::ErrorText(code);
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
