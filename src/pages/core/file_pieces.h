// Reading a file piece by piece without a read that nothing can end.
//
// "Open..." sends whatever file it is given, a FIFO or a character device among them. Opened and
// read the usual way, a FIFO without a writer blocks in open(), and one whose writer never writes
// blocks in read(), where no stop request and no window event reaches the program. Here the file
// is opened non-blocking and every wait for its bytes is a poll of at most kPiecePollMs, after
// which the caller says whether to go on (on Windows a pipe is looked at with PeekNamedPipe in
// the same time, platform/files.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/files.h"

namespace pellory::pages {

inline constexpr int kPiecePollMs = 50;

class PieceReader {
public:
    enum class Status { Piece, End, Stopped, Failed };

    PieceReader() = default;
    ~PieceReader();
    PieceReader(const PieceReader&) = delete;
    PieceReader& operator=(const PieceReader&) = delete;

    // Opens path for reading; false with the errno value in error when it cannot.
    bool Open(const std::string& path, int& error);

    // Reads up to n bytes into buf, as many as the file gives until n or its end (got tells how
    // many): Piece when got is n, End when the file ended (got may be less, even 0). While the file
    // has nothing yet, keepGoing is asked every kPiecePollMs: Stopped (got as far as it came) when
    // it says no. Failed with the errno in error.
    Status Read(uint8_t* buf, size_t n, size_t& got, const std::function<bool()>& keepGoing, int& error);

private:
    platform::File file_;
};

}  // namespace pellory::pages
