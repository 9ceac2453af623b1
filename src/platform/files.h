// Files the same way on every system: an open file (read, appended to, locked, mapped), the
// process's id, renames that never replace, and paths between the program's text and
// std::filesystem. One implementation per system (files_posix.cpp, files_win.cpp).
//
// Paths are the program's text: UTF-8 (on POSIX any bytes, passed on as they are). Errors are the
// system's codes (errno on POSIX, GetLastError() on Windows), which ErrorText words; the common
// ones read the same on both systems ("No such file or directory", "Permission denied", "No space
// left on device").
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace pellory::platform {

// A process's id as the system numbers it.
using ProcessId = int64_t;
ProcessId CurrentProcessId();

// The program's path text as a std::filesystem path, and a path back as the program's text (on
// Windows both convert between UTF-8 and the system's UTF-16; on POSIX the bytes stay as they are).
std::filesystem::path PathOf(const std::string& path);
std::string TextOf(const std::filesystem::path& path);

// The words for a system error code, as strerror gives them on POSIX.
std::string ErrorText(int error);
// The code of an input/output error (EIO): a file that ended before its size, a write that made
// no progress.
int IoErrorCode();
// The errno value (ENOENT, EACCES, ...) closest to a system error code, for callers that report
// errno values; on POSIX the code itself.
int ErrnoOf(int error);

enum class NameResult { Done, Taken, Failed };
// Makes the folder path (rwxr-xr-x less the umask on POSIX): Done only for the call that made it,
// Taken when anything has the name, Failed with the code in *error for any other reason.
NameResult MakeFolder(const std::string& path, int* error);
// Renames the entry from to the name to, never over anything: Taken when something has that name
// (from keeps its name then), Failed with the code in *error for any other reason.
NameResult RenameNoReplace(const std::string& from, const std::string& to, int* error);
// Moves the folder from onto to, an empty folder that it replaces. False with the code in *error;
// to is then gone or still empty, and from keeps its name.
bool MoveOntoEmptyFolder(const std::string& from, const std::string& to, int* error);

// One open file, closed when the object goes. Not for use by two threads at once.
class File {
public:
    enum class Access {
        Read,           // an existing file, for reading
        ReadNoWait,     // the same, and neither the opening nor a read waits (a FIFO, a pipe)
        LockFile,       // read and write, made when missing, never through a link
        NewForAppend,   // made now (refused when the name is taken), written at its end
        WriteExisting,  // an existing file (a device, a pipe), written as it is
    };
    enum class Kind { Regular, Folder, Other };
    enum class LockResult { Taken, Busy, Failed };

    File() = default;
    ~File() { close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens path; false with the code in *error.
    bool open(const std::string& path, Access access, int* error);
    bool isOpen() const;
    // Closes the file; the code of a failed close (data not written), or 0.
    int close();

    // What the open file is, and its size in bytes (0 unless Regular). False with the code.
    bool describe(Kind* kind, uint64_t* size, int* error) const;

    // Reads at most n bytes from the current position: the count, 0 at the end, -1 with the code.
    int64_t read(void* buffer, size_t n, int* error);
    // Reads at most n bytes at offset without moving the position: the count, 0 past the end, -1.
    int64_t readAt(uint64_t offset, void* buffer, size_t n, int* error);
    // Waits at most ms milliseconds until a read would not wait: 1 ready, 0 not yet, -1 with the
    // code. A regular file is always ready.
    int waitReadable(int ms, int* error);

    // Writes all n bytes in at most calls system calls (a regular file takes them in one unless a
    // limit is reached); *written grows by what was written. False with the code.
    bool write(const void* data, size_t n, int calls, uint64_t* written, int* error);
    // Replaces the whole content with text (a lock file's). False with the code.
    bool replaceContent(const std::string& text, int* error);
    // Puts the content on disk (fsync, FlushFileBuffers). False with the code.
    bool sync(int* error);

    // Takes the exclusive lock of the file without waiting: Busy when another open file holds it
    // (in this or another process). The lock goes with close() or the process's end, however it
    // ends. On Windows it covers a byte far past the content, so that others may read the file.
    LockResult tryLock(int* error);

    // Maps size bytes of the file (a regular file, from its start) for reading: null with the code
    // when it cannot be mapped. The mapping outlives the file; Unmap releases it.
    const uint8_t* map(size_t size, int* error) const;
    static void Unmap(const uint8_t* data, size_t size);

private:
    intptr_t handle_ = -1;  // a descriptor on POSIX, a HANDLE on Windows; -1 when closed
};

}  // namespace pellory::platform
