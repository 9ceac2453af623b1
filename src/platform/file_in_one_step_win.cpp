#include <windows.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/file_in_one_step.h"
#include "platform/files.h"
#include "platform/wide_text_win.h"

namespace pellory::platform {

namespace fs = std::filesystem;

namespace {

// A temporary file may take this many names before the writing gives up.
constexpr int kMaxTemporaryNames = 100;

// A move refused because the old file is open elsewhere is tried this often again, this far apart
// (at most a quarter of a second in all).
constexpr int kMoveTries = 10;
constexpr std::chrono::milliseconds kMoveRetryStep(25);

// The most bytes one WriteFile takes.
constexpr size_t kMostPerCall = 1u << 30;

bool WriteAll(HANDLE file, const uint8_t* data, size_t n, int& error) {
    while (n > 0) {
        DWORD w = 0;
        const DWORD part = static_cast<DWORD>(n < kMostPerCall ? n : kMostPerCall);
        if (!::WriteFile(file, data, part, &w, nullptr) || w == 0) {
            const DWORD e = ::GetLastError();
            error = e != NO_ERROR ? static_cast<int>(e) : IoErrorCode();
            return false;
        }
        data += w;
        n -= w;
    }
    return true;
}

}  // namespace

bool WriteFileInOneStep(const std::string& path, const std::function<bool(const FileSink&)>& fill,
                        const OneStepFile& how, std::string* why) {
    const fs::path target = PathOf(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(L".");
    const std::wstring stem = L"." + target.filename().wstring() + L".part-" + std::to_wstring(CurrentProcessId());
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD opening = NO_ERROR;
    for (int attempt = 0; file == INVALID_HANDLE_VALUE && attempt < kMaxTemporaryNames; ++attempt) {
        temporary = (folder / (attempt == 0 ? stem : stem + L"-" + std::to_wstring(attempt))).wstring();
        file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        opening = file == INVALID_HANDLE_VALUE ? ::GetLastError() : NO_ERROR;
        if (opening != ERROR_FILE_EXISTS && opening != ERROR_ALREADY_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        if (why) *why = ErrorText(static_cast<int>(opening));
        return false;
    }
    int error = 0;
    bool ok = fill([&](const uint8_t* data, size_t n) { return error == 0 && WriteAll(file, data, n, error); });
    if (ok && error != 0) ok = false;
    if (ok && how.durability == Durability::Synced && !::FlushFileBuffers(file)) {
        ok = false;
        error = static_cast<int>(::GetLastError());
    }
    if (!::CloseHandle(file) && ok) {
        ok = false;
        error = static_cast<int>(::GetLastError());
    }
    // A reader that opened the old file without sharing its deletion (the C runtime's streams do)
    // keeps it in place until it closes it: the move is tried again for a short while.
    for (int tries = 0; ok; ++tries) {
        if (::MoveFileExW(temporary.c_str(), target.wstring().c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            break;
        const DWORD e = ::GetLastError();
        const DWORD kind = ::GetFileAttributesW(target.wstring().c_str());
        const bool aFolder = kind != INVALID_FILE_ATTRIBUTES && (kind & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if ((e != ERROR_ACCESS_DENIED && e != ERROR_SHARING_VIOLATION) || aFolder || tries == kMoveTries) {
            ok = false;
            error = static_cast<int>(e);
            break;
        }
        std::this_thread::sleep_for(kMoveRetryStep);
    }
    if (!ok) {
        ::DeleteFileW(temporary.c_str());
        if (why) *why = error != 0 ? ErrorText(error) : "the writing was given up";
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
