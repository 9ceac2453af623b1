// Bounded reads of a file or standard input on POSIX systems: poll, then read.
#include "cli/bounded_input.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace pellory::app::cli {

BoundedInput::~BoundedInput() {
    if (fd_ >= 0 && !standardInput_) ::close(fd_);
}

bool BoundedInput::open(const std::string& path) {
    standardInput_ = path == "-";
    fd_ = standardInput_ ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    return fd_ >= 0;
}

long long BoundedInput::read(void* buffer, size_t n, int waitMs) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready < 0 && errno != EINTR) return kFailed;
    if (ready <= 0) return kNothingYet;
    const ssize_t got = ::read(fd_, buffer, n);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return kNothingYet;
    return got < 0 ? kFailed : got;
}

}  // namespace pellory::app::cli
