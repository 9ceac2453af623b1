#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/files.h"
#include "platform/wide_text_win.h"

namespace pellory::platform {

namespace {

HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

int LastError() { return static_cast<int>(::GetLastError()); }

// The lock of a lock file covers this one byte, far past any content, so that the holder's id
// at the start can be read by those who are refused the lock.
constexpr DWORD kLockOffsetHigh = 1;  // 4 GiB

// A pipe without data is looked at again after this long.
constexpr int kPipeLookMs = 10;

// The most bytes one ReadFile or WriteFile takes.
constexpr size_t kMostPerCall = 1u << 30;

DWORD Part(size_t n) { return static_cast<DWORD>(std::min(n, kMostPerCall)); }

}  // namespace

std::wstring WideText(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8Text(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(std::max(n, 0)), '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n, nullptr, nullptr);
    }
    return text;
}

ProcessId CurrentProcessId() { return static_cast<ProcessId>(::GetCurrentProcessId()); }

std::filesystem::path PathOf(const std::string& path) { return std::filesystem::path(WideText(path)); }

std::string TextOf(const std::filesystem::path& path) { return Utf8Text(path.wstring()); }

std::string ErrorText(int error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "No such file or directory";
        case ERROR_ACCESS_DENIED:
            return "Permission denied";
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return "File exists";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "No space left on device";
        case ERROR_DIRECTORY:
            return "Not a directory";
        case ERROR_DIR_NOT_EMPTY:
            return "Directory not empty";
        case ERROR_IO_DEVICE:
            return "Input/output error";
        case ERROR_LOCK_VIOLATION:
        case ERROR_SHARING_VIOLATION:
            return "Device or resource busy";
        default:
            break;
    }
    wchar_t* text = nullptr;
    const DWORD n =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring words = n > 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
    if (text != nullptr) ::LocalFree(text);
    while (!words.empty() &&
           (words.back() == L'\n' || words.back() == L'\r' || words.back() == L'.' || words.back() == L' '))
        words.pop_back();
    return words.empty() ? "system error " + std::to_string(error) : Utf8Text(words);
}

int IoErrorCode() { return ERROR_IO_DEVICE; }

int ErrnoOf(int error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_LOCK_VIOLATION:
        case ERROR_SHARING_VIOLATION:
            return EBUSY;
        default:
            return EIO;
    }
}

NameResult MakeFolder(const std::string& path, int* error) {
    if (::CreateDirectoryW(WideText(path).c_str(), nullptr)) return NameResult::Done;
    const int e = LastError();
    if (error) *error = e;
    return e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS ? NameResult::Taken : NameResult::Failed;
}

NameResult RenameNoReplace(const std::string& from, const std::string& to, int* error) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when anything has the name.
    if (::MoveFileExW(WideText(from).c_str(), WideText(to).c_str(), MOVEFILE_WRITE_THROUGH)) return NameResult::Done;
    const int e = LastError();
    if (error) *error = e;
    return e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS ? NameResult::Taken : NameResult::Failed;
}

bool MoveOntoEmptyFolder(const std::string& from, const std::string& to, int* error) {
    // A folder is never moved over another: the empty one goes first. Something that takes the
    // name meanwhile makes the move fail, never replaced.
    const std::wstring target = WideText(to);
    if (!::RemoveDirectoryW(target.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        if (error) *error = LastError();
        return false;
    }
    if (::MoveFileExW(WideText(from).c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    if (error) *error = LastError();
    return false;
}

bool File::open(const std::string& path, Access access, int* error) {
    close();
    DWORD rights = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    switch (access) {
        case Access::Read:
        case Access::ReadNoWait:
            flags |= FILE_FLAG_BACKUP_SEMANTICS;
            break;  // a folder opens, to be told one
        case Access::LockFile:
            rights = GENERIC_READ | GENERIC_WRITE;
            disposition = OPEN_ALWAYS;
            flags |= FILE_FLAG_OPEN_REPARSE_POINT;
            break;
        case Access::NewForAppend:
            rights = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
            disposition = CREATE_NEW;
            break;
        case Access::WriteExisting:
            rights = GENERIC_WRITE;
            break;
    }
    const HANDLE h = ::CreateFileW(WideText(path).c_str(), rights,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition, flags,
                                   nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (error) *error = LastError();
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool File::isOpen() const { return handle_ != -1; }

int File::close() {
    if (handle_ == -1) return 0;
    const BOOL closed = ::CloseHandle(Handle(handle_));
    handle_ = -1;
    return closed ? 0 : LastError();
}

bool File::describe(Kind* kind, uint64_t* size, int* error) const {
    const DWORD type = ::GetFileType(Handle(handle_));
    if (type == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR) {
        if (error) *error = LastError();
        return false;
    }
    Kind k = Kind::Other;
    uint64_t bytes = 0;
    if (type == FILE_TYPE_DISK) {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(Handle(handle_), &info)) {
            if (error) *error = LastError();
            return false;
        }
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            k = Kind::Folder;
        } else {
            k = Kind::Regular;
            bytes = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        }
    }
    if (kind) *kind = k;
    if (size) *size = bytes;
    return true;
}

int64_t File::read(void* buffer, size_t n, int* error) {
    DWORD got = 0;
    if (::ReadFile(Handle(handle_), buffer, Part(n), &got, nullptr)) return got;
    const int e = LastError();
    if (e == ERROR_BROKEN_PIPE || e == ERROR_HANDLE_EOF) return 0;  // the writer is gone: the end
    if (error) *error = e;
    return -1;
}

int64_t File::readAt(uint64_t offset, void* buffer, size_t n, int* error) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (::ReadFile(Handle(handle_), buffer, Part(n), &got, &at)) return got;
    const int e = LastError();
    if (e == ERROR_HANDLE_EOF) return 0;
    if (error) *error = e;
    return -1;
}

int File::waitReadable(int ms, int* error) {
    if (::GetFileType(Handle(handle_)) != FILE_TYPE_PIPE) return 1;
    for (int waited = 0;; waited += kPipeLookMs) {
        DWORD queued = 0;
        if (!::PeekNamedPipe(Handle(handle_), nullptr, 0, nullptr, &queued, nullptr)) {
            const int e = LastError();
            if (e == ERROR_BROKEN_PIPE) return 1;  // a read tells the end
            if (error) *error = e;
            return -1;
        }
        if (queued > 0) return 1;
        if (waited >= ms) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kPipeLookMs, ms - waited)));
    }
}

bool File::write(const void* data, size_t n, int calls, uint64_t* written, int* error) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (int made = 0; n > 0; ++made) {
        if (made == calls) {
            if (error) *error = ERROR_IO_DEVICE;
            return false;
        }
        DWORD w = 0;
        if (!::WriteFile(Handle(handle_), bytes, Part(n), &w, nullptr) || w == 0) {
            const int e = LastError();
            if (error) *error = e != NO_ERROR ? e : ERROR_IO_DEVICE;
            return false;
        }
        bytes += w;
        n -= w;
        if (written) *written += w;
    }
    return true;
}

bool File::replaceContent(const std::string& text, int* error) {
    LARGE_INTEGER start{};
    OVERLAPPED at{};
    DWORD w = 0;
    if (!::SetFilePointerEx(Handle(handle_), start, nullptr, FILE_BEGIN) || !::SetEndOfFile(Handle(handle_)) ||
        !::WriteFile(Handle(handle_), text.data(), static_cast<DWORD>(text.size()), &w, &at) || w != text.size()) {
        if (error) *error = LastError();
        return false;
    }
    return true;
}

bool File::sync(int* error) {
    if (::FlushFileBuffers(Handle(handle_))) return true;
    if (error) *error = LastError();
    return false;
}

File::LockResult File::tryLock(int* error) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    if (::LockFileEx(Handle(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return LockResult::Taken;
    const int e = LastError();
    if (e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING) return LockResult::Busy;
    if (error) *error = e;
    return LockResult::Failed;
}

const uint8_t* File::map(size_t size, int* error) const {
    const HANDLE mapping = ::CreateFileMappingW(Handle(handle_), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) {
        if (error) *error = LastError();
        return nullptr;
    }
    void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
    const int e = LastError();
    ::CloseHandle(mapping);  // the view keeps the mapping
    if (view == nullptr && error) *error = e;
    return static_cast<const uint8_t*>(view);
}

void File::Unmap(const uint8_t* data, size_t) {
    if (data != nullptr) ::UnmapViewOfFile(data);
}

}  // namespace pellory::platform
