// Network printer stand-ins on the loopback interface: a listening socket, an address that never
// answers a connect, and a printer that answers the status request late, with other bytes, or
// reads slowly.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace pellory::test {

// A listening TCP socket on a loopback IPv4 address (a free port unless one is given).
// receiveBuffer, when set, is the SO_RCVBUF every accepted connection inherits.
class LoopbackListener {
public:
    explicit LoopbackListener(const std::string& address = "127.0.0.1", uint16_t port = 0, int backlog = 8,
                              int receiveBuffer = 0);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;
    bool ok() const { return fd_ >= 0; }
    uint16_t port() const { return port_; }
    int fd() const { return fd_; }
    // "tcp://ADDRESS:PORT".
    std::string entry() const;
    // The next connection within ms, or -1.
    int accept(int ms);

private:
    std::string address_;
    uint16_t port_ = 0;
    int fd_ = -1;
};

// An address where a connect gets no answer at all: a listening socket whose queue one connection
// that nobody accepts has filled, so that the system drops every further connection request, as
// with an address whose packets go nowhere.
class Blackhole {
public:
    explicit Blackhole(const std::string& address = "127.0.0.1", uint16_t port = 0);
    ~Blackhole();
    Blackhole(const Blackhole&) = delete;
    Blackhole& operator=(const Blackhole&) = delete;
    bool ok() const { return listener_.ok() && filler_ >= 0; }
    uint16_t port() const { return listener_.port(); }
    std::string entry() const { return listener_.entry(); }

private:
    LoopbackListener listener_;
    int filler_ = -1;
};

// Whether a socket of this machine waits for the answer to its connection request to port
// (/proc/net/tcp: SYN sent).
bool ConnectingTo(uint16_t port);

// A network printer stand-in. It takes the first connection, answers every status request
// 10 04 05 with `reply` after replyDelayMs (nothing when reply is empty), and reads at most
// readPerTick bytes every 10 ms (0: as fast as they come) until ReadFreely().
class NetworkPrinterPeer {
public:
    struct Options {
        std::vector<uint8_t> reply = {0x00};
        uint32_t replyDelayMs = 0;
        size_t readPerTick = 0;
        int receiveBuffer = 0;  // SO_RCVBUF of the connection (0: the system's)
        bool closeAtOnce = false;  // accept, then close at once without reading
    };
    explicit NetworkPrinterPeer(Options options);
    NetworkPrinterPeer() : NetworkPrinterPeer(Options{}) {}
    ~NetworkPrinterPeer();
    NetworkPrinterPeer(const NetworkPrinterPeer&) = delete;
    NetworkPrinterPeer& operator=(const NetworkPrinterPeer&) = delete;

    std::string entry() const { return listener_.entry(); }
    uint16_t port() const { return listener_.port(); }
    size_t received() const { return received_.load(); }
    size_t requests() const { return requests_.load(); }
    // Stops reading at all (a printer that stalls), or reads again as fast as bytes come.
    void Pause() { paused_ = true; }
    void ReadFreely() {
        paused_ = false;
        free_ = true;
    }
    // Waits until n bytes arrived in all; false when watchdogMs ran out first.
    bool WaitForBytes(size_t n, uint32_t watchdogMs = 30000) const;
    // Waits until the connection ended; false when watchdogMs ran out first.
    bool WaitForEnd(uint32_t watchdogMs = 30000) const;
    // How it ended: by a reset (the program aborted the connection) rather than an orderly close.
    bool EndedByReset() const { return reset_.load(); }

private:
    void Run();

    Options options_;
    LoopbackListener listener_;
    std::atomic<bool> run_{true};
    std::atomic<bool> paused_{false};
    std::atomic<bool> free_{false};
    std::atomic<bool> ended_{false};
    std::atomic<bool> reset_{false};
    std::atomic<size_t> received_{0};
    std::atomic<size_t> requests_{0};
    std::thread thread_;
};

}  // namespace pellory::test
