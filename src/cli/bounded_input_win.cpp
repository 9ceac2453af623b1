// Bounded reads of a file or standard input on Windows. A disk file (and the null device) is read
// at once; a pipe is looked into (PeekNamedPipe) in short steps and read only for what waits in
// it; a console is read once a whole line waits in its input (a line-mode read would otherwise
// wait for the Enter key without a bound).
#include "cli/bounded_input.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace pellory::app::cli {

namespace {

using Clock = std::chrono::steady_clock;

// How often a pipe or a console is looked into while nothing waits.
constexpr DWORD kStepMs = 10;

// Whether the console's input holds the end of a line (a key pressed with Enter).
bool ConsoleLineWaits(HANDLE h) {
    DWORD count = 0;
    if (!::GetNumberOfConsoleInputEvents(h, &count) || count == 0) return false;
    std::vector<INPUT_RECORD> records(count);
    DWORD got = 0;
    if (!::PeekConsoleInputW(h, records.data(), count, &got)) return false;
    return std::any_of(records.begin(), records.begin() + got, [](const INPUT_RECORD& r) {
        return r.EventType == KEY_EVENT && r.Event.KeyEvent.bKeyDown && r.Event.KeyEvent.uChar.UnicodeChar == L'\r';
    });
}

}  // namespace

BoundedInput::~BoundedInput() {
    if (handle_ && !standardInput_) ::CloseHandle(static_cast<HANDLE>(handle_));
}

bool BoundedInput::open(const std::string& path) {
    standardInput_ = path == "-";
    HANDLE h = INVALID_HANDLE_VALUE;
    if (standardInput_) {
        h = ::GetStdHandle(STD_INPUT_HANDLE);
    } else {
        const int size = ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
        std::wstring wide(static_cast<size_t>(std::max(size, 1)), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), size);
        h = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return false;
    handle_ = h;
    type_ = static_cast<int>(::GetFileType(h));
    return true;
}

long long BoundedInput::read(void* buffer, size_t n, int waitMs) {
    HANDLE h = static_cast<HANDLE>(handle_);
    const DWORD want = static_cast<DWORD>(std::min<size_t>(n, 1u << 20));
    const auto until = Clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
    DWORD got = 0;
    if (type_ == FILE_TYPE_PIPE) {
        for (;;) {
            DWORD waiting = 0;
            if (!::PeekNamedPipe(h, nullptr, 0, nullptr, &waiting, nullptr)) {
                // The writer closed its end: the end of the input.
                return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : kFailed;
            }
            if (waiting > 0) {
                if (!::ReadFile(h, buffer, std::min(want, waiting), &got, nullptr)) {
                    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : kFailed;
                }
                return got;
            }
            if (Clock::now() >= until) return kNothingYet;
            ::Sleep(kStepMs);
        }
    }
    if (type_ == FILE_TYPE_CHAR && standardInput_) {
        DWORD mode = 0;
        if (::GetConsoleMode(h, &mode)) {
            while (!ConsoleLineWaits(h)) {
                if (Clock::now() >= until) return kNothingYet;
                ::WaitForSingleObject(h, kStepMs);
                // Events other than a line's end (a key without Enter, the mouse, focus) keep the
                // console signalled: the step is slept out.
                ::Sleep(kStepMs);
            }
        }
    }
    if (!::ReadFile(h, buffer, want, &got, nullptr)) {
        return ::GetLastError() == ERROR_BROKEN_PIPE || ::GetLastError() == ERROR_HANDLE_EOF ? 0 : kFailed;
    }
    return got;
}

}  // namespace pellory::app::cli
