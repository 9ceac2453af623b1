#include "pages/core/file_pieces.h"

#include <cerrno>

namespace pellory::pages {

PieceReader::~PieceReader() = default;

bool PieceReader::Open(const std::string& path, int& error) {
    // Non-blocking: a FIFO without a writer opens at once (and then waits in waitReadable() below,
    // which sees its data, or its end once a writer came and went).
    int code = 0;
    if (!file_.open(path, platform::File::Access::ReadNoWait, &code)) {
        error = platform::ErrnoOf(code);
        return false;
    }
    return true;
}

PieceReader::Status PieceReader::Read(uint8_t* buf, size_t n, size_t& got, const std::function<bool()>& keepGoing,
                                      int& error) {
    got = 0;
    while (got < n) {
        int code = 0;
        const int ready = file_.waitReadable(kPiecePollMs, &code);
        if (ready < 0) {
            error = platform::ErrnoOf(code);
            return Status::Failed;
        }
        if (ready == 0) {
            if (keepGoing && !keepGoing()) return Status::Stopped;
            continue;
        }
        const int64_t r = file_.read(buf + got, n - got, &code);
        if (r > 0) {
            got += static_cast<size_t>(r);
            continue;
        }
        if (r == 0) return Status::End;
        const int e = platform::ErrnoOf(code);
        if (e == EAGAIN || e == EWOULDBLOCK) continue;
        error = e;
        return Status::Failed;
    }
    return Status::Piece;
}

}  // namespace pellory::pages
