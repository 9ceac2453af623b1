// The printer server's lines on POSIX systems: a serial device or a pseudo-terminal's master side
// is waited on and read by the loop itself.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vprinter/pty_line.h"
#include "vprinter/server_impl.h"

namespace pellory::vprinter {

namespace {

std::string ErrnoText(const std::string& what, int err) { return what + ": " + std::strerror(err); }

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

bool ServerCore::openLines(std::string* error) {
    for (const LineEndpoint& e : options.lines) {
        lines.emplace_back();
        Line& line = lines.back();
        line.endpoint = e;
        if (e.kind == LineEndpoint::Kind::Serial) {
            if (!OpenSerialLine(e, line, error)) return false;
            line.fd = line.device->nativeHandle();
            continue;
        }
        line.fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (line.fd < 0 || ::grantpt(line.fd) != 0 || ::unlockpt(line.fd) != 0 ||
            ::ptsname_r(line.fd, name, sizeof name) != 0) {
            if (error) *error = ErrnoText("pseudo-terminal", errno);
            return false;
        }
        line.slavePath = name;
        line.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (line.slave < 0 || !MakeRawLine(line.slave, e.baud)) {
            if (error) *error = ErrnoText(line.slavePath, errno);
            return false;
        }
        const int flags = ::fcntl(line.fd, F_GETFL);
        if (flags < 0 || ::fcntl(line.fd, F_SETFL, flags | O_NONBLOCK) != 0) {
            if (error) *error = ErrnoText(line.slavePath, errno);
            return false;
        }
        line.notify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (line.notify >= 0 &&
            ::inotify_add_watch(line.notify, line.slavePath.c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
            CloseFd(line.notify);
        }
        if (e.path.empty()) continue;
        // A link left by an earlier run is replaced; anything else at the path is not touched.
        struct stat st {};
        if (::lstat(e.path.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                if (error) *error = e.path + ": exists and is not a symbolic link";
                return false;
            }
            ::unlink(e.path.c_str());
        }
        if (::symlink(line.slavePath.c_str(), e.path.c_str()) != 0) {
            if (error) *error = ErrnoText(e.path, errno);
            return false;
        }
        line.linked = true;
    }
    return true;
}

void ServerCore::closeLines() {
    for (Line& line : lines) {
        if (line.device) {
            line.device->close();
            line.fd = -1;
        }
        CloseFd(line.fd);
        CloseFd(line.slave);
        CloseFd(line.notify);
        if (line.linked) {
            // Removed only while it still leads to this run's terminal.
            char target[256];
            const ssize_t n = ::readlink(line.endpoint.path.c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, static_cast<size_t>(n)) == line.slavePath)
                ::unlink(line.endpoint.path.c_str());
        }
    }
    lines.clear();
}

long long ServerCore::readLine(Line& line, uint8_t* buffer, size_t n, int* code) {
    const ssize_t r = ::read(line.fd, buffer, n);
    if (r >= 0) return r;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return platform::kSocketWouldBlock;
    if (code) *code = errno;
    return platform::kSocketFailed;
}

long long ServerCore::writeLine(Line& line, const uint8_t* bytes, size_t n, int* code) {
    for (;;) {
        const ssize_t w = ::write(line.fd, bytes, n);
        if (w >= 0) return w;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return platform::kSocketWouldBlock;
        if (code) *code = errno;
        return platform::kSocketFailed;
    }
}

void ServerCore::watchOpens(Line& line) {
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t n = ::read(line.notify, events, sizeof events);
        if (n <= 0) return;
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(events + off);
            if (ev->mask & IN_OPEN) ++line.openers;
            if (ev->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                if (line.openers > 0) --line.openers;
#ifdef TIOCNXCL
                if (line.openers == 0) ::ioctl(line.slave, TIOCNXCL);
#endif
            }
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
}

std::optional<uint32_t> ServerCore::hostRate(const Line& line) const {
    if (line.slave < 0) return std::nullopt;
    return ReadLineRate(line.slave);
}

}  // namespace pellory::vprinter
