// The host end of a virtual printer's pseudo-terminal, raw, for tests that stream bytes to it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace pellory::test {

// The host end of the printer's pseudo-terminal, raw.
class RawHost {
public:
    explicit RawHost(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios t{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~RawHost() {
        if (fd_ >= 0) ::close(fd_);
    }
    RawHost(const RawHost&) = delete;
    RawHost& operator=(const RawHost&) = delete;
    bool open() const { return fd_ >= 0; }
    // Sets the line's rate, as a program that opens a serial port at that rate.
    bool setSpeed(speed_t speed) {
        termios t{};
        if (::tcgetattr(fd_, &t) != 0) return false;
        ::cfsetispeed(&t, speed);
        ::cfsetospeed(&t, speed);
        return ::tcsetattr(fd_, TCSANOW, &t) == 0;
    }

    // Writes everything, waiting for room; false on an error, after cancel() or the watchdog.
    bool write(const uint8_t* data, size_t n) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (n > 0) {
            const ssize_t w = ::write(fd_, data, n);
            if (w > 0) {
                data += w;
                n -= static_cast<size_t>(w);
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (cancelled_ || std::chrono::steady_clock::now() >= deadline) return false;
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
        return true;
    }
    bool write(const std::vector<uint8_t>& b) { return write(b.data(), b.size()); }

    // What came back within waitMs.
    std::vector<uint8_t> read(int waitMs) {
        std::vector<uint8_t> out;
        pollfd p{fd_, POLLIN, 0};
        while (::poll(&p, 1, waitMs) > 0) {
            uint8_t buf[64];
            const ssize_t r = ::read(fd_, buf, sizeof buf);
            if (r <= 0) break;
            out.insert(out.end(), buf, buf + r);
            waitMs = 20;
        }
        return out;
    }

    // Ends a write in progress (from another thread).
    void cancel() { cancelled_ = true; }

private:
    int fd_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace pellory::test
