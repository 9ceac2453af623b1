#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace pellory::platform {

namespace {

int Fd(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

ProcessId CurrentProcessId() { return static_cast<ProcessId>(::getpid()); }

std::filesystem::path PathOf(const std::string& path) { return std::filesystem::path(path); }

std::string TextOf(const std::filesystem::path& path) { return path.string(); }

std::string ErrorText(int error) { return std::strerror(error); }

int IoErrorCode() { return EIO; }

int ErrnoOf(int error) { return error; }

NameResult MakeFolder(const std::string& path, int* error) {
    if (::mkdir(path.c_str(), 0755) == 0) return NameResult::Done;
    if (error) *error = errno;
    return errno == EEXIST ? NameResult::Taken : NameResult::Failed;
}

NameResult RenameNoReplace(const std::string& from, const std::string& to, int* error) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return NameResult::Done;
    int e = errno;
    if (e == EINVAL || e == ENOSYS) {
        // A file system without the flag: an empty folder of the final name is made first (which
        // fails when anything has the name), and then replaced.
        if (::mkdir(to.c_str(), 0755) != 0) {
            e = errno;
        } else if (::rename(from.c_str(), to.c_str()) == 0) {
            return NameResult::Done;
        } else {
            e = errno;
            ::rmdir(to.c_str());
        }
    }
    if (error) *error = e;
    return e == EEXIST || e == ENOTEMPTY ? NameResult::Taken : NameResult::Failed;
}

bool MoveOntoEmptyFolder(const std::string& from, const std::string& to, int* error) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    if (error) *error = errno;
    return false;
}

bool File::open(const std::string& path, Access access, int* error) {
    close();
    int flags = O_CLOEXEC;
    switch (access) {
        case Access::Read:
            flags |= O_RDONLY | O_NOCTTY;
            break;
        case Access::ReadNoWait:
            flags |= O_RDONLY | O_NONBLOCK | O_NOCTTY;
            break;
        case Access::LockFile:
            flags |= O_RDWR | O_CREAT | O_NOFOLLOW;
            break;
        case Access::NewForAppend:
            flags |= O_WRONLY | O_CREAT | O_EXCL | O_APPEND;
            break;
        case Access::WriteExisting:
            flags |= O_WRONLY;
            break;
    }
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (error) *error = errno;
        return false;
    }
    handle_ = fd;
    return true;
}

bool File::isOpen() const { return handle_ >= 0; }

int File::close() {
    if (handle_ < 0) return 0;
    const int result = ::close(Fd(handle_));
    handle_ = -1;
    return result == 0 ? 0 : errno;
}

bool File::describe(Kind* kind, uint64_t* size, int* error) const {
    struct stat st {};
    if (::fstat(Fd(handle_), &st) != 0) {
        if (error) *error = errno;
        return false;
    }
    const bool regular = S_ISREG(st.st_mode);
    if (kind) *kind = regular ? Kind::Regular : S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Other;
    if (size) *size = regular ? static_cast<uint64_t>(st.st_size) : 0;
    return true;
}

int64_t File::read(void* buffer, size_t n, int* error) {
    for (;;) {
        const ssize_t got = ::read(Fd(handle_), buffer, n);
        if (got >= 0) return got;
        if (errno == EINTR) continue;
        if (error) *error = errno;
        return -1;
    }
}

int64_t File::readAt(uint64_t offset, void* buffer, size_t n, int* error) {
    for (;;) {
        const ssize_t got = ::pread(Fd(handle_), buffer, n, static_cast<off_t>(offset));
        if (got >= 0) return got;
        if (errno == EINTR) continue;
        if (error) *error = errno;
        return -1;
    }
}

int File::waitReadable(int ms, int* error) {
    pollfd p{Fd(handle_), POLLIN, 0};
    const int ready = ::poll(&p, 1, ms);
    if (ready < 0 && errno != EINTR) {
        if (error) *error = errno;
        return -1;
    }
    return ready > 0 ? 1 : 0;
}

bool File::write(const void* data, size_t n, int calls, uint64_t* written, int* error) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (int made = 0; n > 0; ++made) {
        if (made == calls) {
            if (error) *error = EIO;
            return false;
        }
        const ssize_t w = ::write(Fd(handle_), bytes, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (error) *error = w < 0 ? errno : EIO;
            return false;
        }
        bytes += w;
        n -= static_cast<size_t>(w);
        if (written) *written += static_cast<uint64_t>(w);
    }
    return true;
}

bool File::replaceContent(const std::string& text, int* error) {
    if (::ftruncate(Fd(handle_), 0) != 0 ||
        ::pwrite(Fd(handle_), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
        if (error) *error = errno;
        return false;
    }
    return true;
}

bool File::sync(int* error) {
    if (::fsync(Fd(handle_)) == 0) return true;
    if (error) *error = errno;
    return false;
}

File::LockResult File::tryLock(int* error) {
    if (::flock(Fd(handle_), LOCK_EX | LOCK_NB) == 0) return LockResult::Taken;
    if (errno == EWOULDBLOCK) return LockResult::Busy;
    if (error) *error = errno;
    return LockResult::Failed;
}

const uint8_t* File::map(size_t size, int* error) const {
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, Fd(handle_), 0);
    if (p != MAP_FAILED) return static_cast<const uint8_t*>(p);
    if (error) *error = errno;
    return nullptr;
}

void File::Unmap(const uint8_t* data, size_t size) {
    if (data != nullptr) ::munmap(const_cast<uint8_t*>(data), size);
}

}  // namespace pellory::platform
