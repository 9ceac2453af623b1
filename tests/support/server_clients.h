// Test support for the printer server: hex bytes, a plain socket client of the kind point-of-sale
// software is, a collector of the server's finished jobs (which can be made to have no room), a
// spool that keeps jobs in memory, and a server started for one test.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "vprinter/job_spool.h"
#include "vprinter/printer_server.h"

namespace pellory::test {

using Bytes = std::vector<uint8_t>;

// "1B 40 0A" -> bytes; "" -> none.
Bytes HexBytes(const std::string& hex);
// bytes -> "1B 40 0A".
std::string HexText(const uint8_t* bytes, size_t n);
inline std::string HexText(const Bytes& b) { return HexText(b.data(), b.size()); }

// A TCP client: connects, writes, reads with bounded waits, closes.
class PeerSocket {
public:
    // Connects to host:port ("127.0.0.1", "::1") within a few seconds; ok() tells.
    PeerSocket(const std::string& host, uint16_t port, int receiveBuffer = 0);
    ~PeerSocket();
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Writes everything within timeoutMs; false when it could not (the server does not read).
    bool send(const Bytes& bytes, int timeoutMs = 20000);
    // Exactly n bytes within timeoutMs (fewer when the time ran out or the server closed).
    Bytes read(size_t n, int timeoutMs = 10000);
    // Whatever arrives until quietMs pass without a byte.
    Bytes readQuiet(int quietMs);
    // Whether the server closed the connection (end of file or reset) within timeoutMs; bytes
    // still coming are read and dropped.
    bool closedByServer(int timeoutMs);
    void shutdownWrite();
    void close();

private:
    int fd_ = -1;
};

// The server's sink: keeps every finished job, and waits for them. It has room unless told
// otherwise: without room it refuses every job offered with HandOver::IfRoom and takes one handed
// with HandOver::Always, at once or, told to wait, as a job recorder whose queue is full: once it
// has room again (within 20 s).
class JobCollector {
public:
    vprinter::PrinterServer::JobSink sink();
    // Waits until at least n jobs came (true) or timeoutMs passed.
    bool waitFor(size_t n, int timeoutMs = 20000);
    std::vector<vprinter::FinishedJob> jobs() const;
    size_t count() const;

    void setRoom(bool room, bool alwaysWaits = false);
    // How each job taken was handed, in order.
    std::vector<vprinter::HandOver> handedHow() const;
    // The offers it refused so far.
    size_t refused() const;

private:
    struct Shared {
        mutable std::mutex m;
        std::condition_variable cv;
        std::vector<vprinter::FinishedJob> jobs;
        std::vector<vprinter::HandOver> how;
        bool room = true;
        bool alwaysWaits = false;
        size_t refused = 0;
    };
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

// A spool (ServerOptions::spool) that keeps each job's bytes in memory. It can be made to fail a
// job past a number of its bytes ("No space left on device"; the bytes up to there are kept), and
// to take its time over each append, as a slow disk.
class MemorySpool : public vprinter::JobSpool {
public:
    std::unique_ptr<vprinter::SpooledJob> begin(uint64_t job, std::chrono::system_clock::time_point started,
                                                const std::string& source) override;
    void failPast(size_t bytes);
    void slowAppends(std::chrono::milliseconds wait);
    // The jobs begun, by number: their bytes so far, and what begin() was told.
    struct Job {
        Bytes bytes;
        std::chrono::system_clock::time_point started;
        std::string source;
    };
    std::map<uint64_t, Job> jobs() const;
    Bytes bytesOf(uint64_t job) const;

private:
    class Spooled;
    struct Shared {
        mutable std::mutex m;
        std::map<uint64_t, Job> jobs;
        size_t failPast = SIZE_MAX;
        std::chrono::milliseconds wait{0};
    };
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

// A printer server on 127.0.0.1 (a port the system picks) unless the options say otherwise,
// started, with its jobs collected.
// Not started yet with startNow false (to set a print observer or a message sink first): start().
struct ServedPrinter {
    explicit ServedPrinter(vprinter::ServerOptions options = {}, bool listenOnLoopback = true, bool startNow = true);
    ~ServedPrinter();
    bool start();
    uint16_t port(size_t i = 0) const;
    std::unique_ptr<PeerSocket> connect(int receiveBuffer = 0) const;

    vprinter::PrinterServer server;
    JobCollector collector;
    bool started = false;
    std::string error;
};

// The options of a server on 127.0.0.1 with a port the system picks.
vprinter::ServerOptions LoopbackOptions();

// Waits (bounded) until pred() holds; true when it did.
template <typename Pred>
bool WaitUntil(Pred pred, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The idle rules on a test's clock (ServerOptions::clock): the loop is given a moment of real time
// to take what its hosts sent so far, then the clock moves on by span, at once.
inline void SettleAndAdvance(platform::ManualClock& clock, std::chrono::milliseconds span) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    clock.advance(span);
}

// Moves the clock on by step, giving the loop a moment after each, until pred() holds (true) or
// steps steps were made.
template <typename Pred>
bool AdvanceUntil(platform::ManualClock& clock, std::chrono::milliseconds step, Pred pred, int steps = 100) {
    for (int i = 0; i < steps; ++i) {
        if (pred()) return true;
        clock.advance(step);
        WaitUntil(pred, 100);
    }
    return pred();
}

}  // namespace pellory::test
