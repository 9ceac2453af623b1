#include "support/server_clients.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace pellory::test {

using Clock = std::chrono::steady_clock;

Bytes HexBytes(const std::string& hex) {
    Bytes out;
    unsigned value = 0;
    int digits = 0;
    for (char ch : hex) {
        int v = -1;
        if (ch >= '0' && ch <= '9') v = ch - '0';
        if (ch >= 'A' && ch <= 'F') v = ch - 'A' + 10;
        if (ch >= 'a' && ch <= 'f') v = ch - 'a' + 10;
        if (v < 0) continue;
        value = value * 16 + static_cast<unsigned>(v);
        if (++digits == 2) {
            out.push_back(static_cast<uint8_t>(value));
            value = 0;
            digits = 0;
        }
    }
    return out;
}

std::string HexText(const uint8_t* bytes, size_t n) {
    std::string s;
    char two[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        if (i) s += ' ';
        s += two;
    }
    return s;
}

PeerSocket::PeerSocket(const std::string& host, uint16_t port, int receiveBuffer) {
    sockaddr_storage sa{};
    socklen_t len = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&sa);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&sa);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        len = sizeof *v4;
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        len = sizeof *v6;
    } else {
        return;
    }
    fd_ = ::socket(sa.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&sa), len) != 0) {
        pollfd p{fd_, POLLOUT, 0};
        int error = 0;
        socklen_t elen = sizeof error;
        if (errno != EINPROGRESS || ::poll(&p, 1, 10000) != 1 || ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &elen) != 0 ||
            error != 0) {
            close();
        }
    }
}

PeerSocket::~PeerSocket() { close(); }

void PeerSocket::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void PeerSocket::shutdownWrite() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

bool PeerSocket::send(const Bytes& bytes, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        if (Clock::now() >= deadline) return false;
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
    return true;
}

Bytes PeerSocket::read(size_t n, int timeoutMs) {
    Bytes out;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t buf[4096];
    while (out.size() < n && fd_ >= 0) {
        const ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
        if (r > 0) {
            out.insert(out.end(), buf, buf + r);
            continue;
        }
        if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) break;
        if (Clock::now() >= deadline) break;
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, 50);
    }
    return out;
}

Bytes PeerSocket::readQuiet(int quietMs) {
    Bytes out;
    uint8_t buf[4096];
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, quietMs) != 1) return out;
        const ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
        if (r <= 0) return out;
        out.insert(out.end(), buf, buf + r);
    }
}

bool PeerSocket::closedByServer(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t buf[4096];
    while (Clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) != 1) continue;
        const ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
        if (r == 0) return true;
        if (r < 0 && errno != EAGAIN && errno != EINTR) return true;
    }
    return false;
}

vprinter::PrinterServer::JobSink JobCollector::sink() {
    auto shared = shared_;
    return [shared](vprinter::FinishedJob& job, vprinter::HandOver how) {
        {
            std::unique_lock<std::mutex> lock(shared->m);
            if (!shared->room && how == vprinter::HandOver::IfRoom) {
                ++shared->refused;
                return false;
            }
            if (!shared->room && shared->alwaysWaits) {
                shared->cv.wait_for(lock, std::chrono::seconds(20), [&] { return shared->room; });
            }
            shared->jobs.push_back(std::move(job));
            shared->how.push_back(how);
        }
        shared->cv.notify_all();
        return true;
    };
}

void JobCollector::setRoom(bool room, bool alwaysWaits) {
    {
        std::lock_guard<std::mutex> lock(shared_->m);
        shared_->room = room;
        shared_->alwaysWaits = alwaysWaits;
    }
    shared_->cv.notify_all();
}

std::vector<vprinter::HandOver> JobCollector::handedHow() const {
    std::lock_guard<std::mutex> lock(shared_->m);
    return shared_->how;
}

size_t JobCollector::refused() const {
    std::lock_guard<std::mutex> lock(shared_->m);
    return shared_->refused;
}

class MemorySpool::Spooled final : public vprinter::SpooledJob {
public:
    Spooled(std::shared_ptr<Shared> shared, uint64_t job) : shared_(std::move(shared)), job_(job) {}
    bool append(const uint8_t* bytes, size_t n) override {
        std::unique_lock<std::mutex> lock(shared_->m);
        const auto wait = shared_->wait;
        if (wait.count() > 0) {
            lock.unlock();
            std::this_thread::sleep_for(wait);
            lock.lock();
        }
        Job& job = shared_->jobs[job_];
        if (!failure_.empty()) return false;
        const size_t room = shared_->failPast - std::min(shared_->failPast, job.bytes.size());
        job.bytes.insert(job.bytes.end(), bytes, bytes + std::min(n, room));
        if (n <= room) return true;
        failure_ = "No space left on device";
        return false;
    }
    std::string failure() const override {
        std::lock_guard<std::mutex> lock(shared_->m);
        return failure_;
    }

private:
    std::shared_ptr<Shared> shared_;
    uint64_t job_;
    std::string failure_;  // guarded by shared_->m
};

std::unique_ptr<vprinter::SpooledJob> MemorySpool::begin(uint64_t job, std::chrono::system_clock::time_point started,
                                                         const std::string& source) {
    std::lock_guard<std::mutex> lock(shared_->m);
    Job& j = shared_->jobs[job];
    j.started = started;
    j.source = source;
    return std::make_unique<Spooled>(shared_, job);
}

void MemorySpool::failPast(size_t bytes) {
    std::lock_guard<std::mutex> lock(shared_->m);
    shared_->failPast = bytes;
}

void MemorySpool::slowAppends(std::chrono::milliseconds wait) {
    std::lock_guard<std::mutex> lock(shared_->m);
    shared_->wait = wait;
}

std::map<uint64_t, MemorySpool::Job> MemorySpool::jobs() const {
    std::lock_guard<std::mutex> lock(shared_->m);
    return shared_->jobs;
}

Bytes MemorySpool::bytesOf(uint64_t job) const {
    std::lock_guard<std::mutex> lock(shared_->m);
    const auto it = shared_->jobs.find(job);
    return it == shared_->jobs.end() ? Bytes() : it->second.bytes;
}

bool JobCollector::waitFor(size_t n, int timeoutMs) {
    std::unique_lock<std::mutex> lock(shared_->m);
    return shared_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return shared_->jobs.size() >= n; });
}

std::vector<vprinter::FinishedJob> JobCollector::jobs() const {
    std::lock_guard<std::mutex> lock(shared_->m);
    return shared_->jobs;
}

size_t JobCollector::count() const {
    std::lock_guard<std::mutex> lock(shared_->m);
    return shared_->jobs.size();
}

vprinter::ServerOptions LoopbackOptions() {
    vprinter::ServerOptions o;
    o.listen.push_back({"127.0.0.1", 0});
    return o;
}

ServedPrinter::ServedPrinter(vprinter::ServerOptions options, bool listenOnLoopback, bool startNow)
    : server([&] {
          if (listenOnLoopback && options.listen.empty()) options.listen.push_back({"127.0.0.1", 0});
          return options;
      }()) {
    server.setJobSink(collector.sink());
    if (startNow) start();
}

bool ServedPrinter::start() {
    started = server.start(&error);
    return started;
}

ServedPrinter::~ServedPrinter() { server.stop(); }

uint16_t ServedPrinter::port(size_t i) const { return server.boundAddresses().at(i).port; }

std::unique_ptr<PeerSocket> ServedPrinter::connect(int receiveBuffer) const {
    return std::make_unique<PeerSocket>("127.0.0.1", port(), receiveBuffer);
}

}  // namespace pellory::test
