#include "pages/core/file_pieces.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace pellory::pages {

PieceReader::~PieceReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool PieceReader::Open(const std::string& path, int& error) {
    // Non-blocking: a FIFO without a writer opens at once (and then waits in poll() below, which
    // sees its data, or its end once a writer came and went).
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) {
        error = errno;
        return false;
    }
    return true;
}

PieceReader::Status PieceReader::Read(uint8_t* buf, size_t n, size_t& got, const std::function<bool()>& keepGoing,
                                      int& error) {
    got = 0;
    while (got < n) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, kPiecePollMs);
        if (ready < 0 && errno != EINTR) {
            error = errno;
            return Status::Failed;
        }
        if (ready <= 0) {
            if (keepGoing && !keepGoing()) return Status::Stopped;
            continue;
        }
        const ssize_t r = ::read(fd_, buf + got, n - got);
        if (r > 0) {
            got += static_cast<size_t>(r);
            continue;
        }
        if (r == 0) return Status::End;
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        error = errno;
        return Status::Failed;
    }
    return Status::Piece;
}

}  // namespace pellory::pages
