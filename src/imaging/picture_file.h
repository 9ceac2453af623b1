// Reading a picture file's bytes: by the file name's bytes as given on POSIX (no re-encoding of
// names that are not valid text; on Windows the name is UTF-8, platform/files.h), mapped when the file is a regular file, otherwise read in pieces, and never
// past a size limit, so that a pipe or an endless device cannot take the memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pellory::imaging {

// The largest picture file that is read. Beyond it a file is refused without reading it all.
inline constexpr size_t kMaxPictureFileBytes = size_t{160} << 20;  // 160 MiB

// The bytes of one file, mapped or read into memory; released when the object goes.
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes() { Release(); }

    const uint8_t* data() const { return mapped_ != nullptr ? mapped_ : read_.data(); }
    size_t size() const { return size_; }
    void Release();

    // Opens `path` and takes its bytes. A regular file is mapped when it can be; anything else
    // (a pipe, a device, a file that cannot be mapped) is read in pieces. Reading stops with a
    // refusal as soon as more than `maxBytes` arrive, and after the first piece when `looksRight`
    // (given the first bytes) says they cannot start a picture. On failure *error says why.
    bool Open(const std::string& path, size_t maxBytes, bool (*looksRight)(const uint8_t*, size_t), std::string* error);

private:
    const uint8_t* mapped_ = nullptr;
    std::vector<uint8_t> read_;
    size_t size_ = 0;
};

}  // namespace pellory::imaging
