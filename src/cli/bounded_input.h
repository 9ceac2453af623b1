// A file or standard input, read in waits of a bounded length, so that a command that reads it
// still sees a stop request while no byte comes (a pipe whose writer is quiet, a terminal). One
// implementation per OS: bounded_input_posix.cpp (poll), bounded_input_win.cpp (a disk file is
// read at once, a pipe is looked into, a console waited on for a whole line).
#pragma once

#include <cstddef>
#include <string>

namespace pellory::app::cli {

class BoundedInput {
public:
    // What read() returns besides a count (> 0) or 0 at the end of the input.
    static constexpr long long kNothingYet = -1;  // no byte came within the wait
    static constexpr long long kFailed = -2;      // the input cannot be read

    BoundedInput() = default;
    ~BoundedInput();  // closes what open() opened (never standard input)
    BoundedInput(const BoundedInput&) = delete;
    BoundedInput& operator=(const BoundedInput&) = delete;

    // Standard input for "-", else the file at path (a FIFO with no writer yet is waited for, as
    // a pipe is). False when it cannot be opened.
    bool open(const std::string& path);
    // Reads at most n bytes, waiting at most waitMs for the first.
    long long read(void* buffer, size_t n, int waitMs);

private:
    bool standardInput_ = false;
#ifdef _WIN32
    void* handle_ = nullptr;  // a HANDLE
    int type_ = 0;            // its GetFileType()
#else
    int fd_ = -1;
#endif
};

}  // namespace pellory::app::cli
