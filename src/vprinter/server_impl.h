// The printer server's inside (vprinter-internal): its endpoints, its connections and the loop
// that serves them. printer_server.cpp opens and closes, server_loop.cpp serves.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_device.h"
#include "vprinter/printer_intake.h"
#include "vprinter/printer_server.h"

namespace pellory::vprinter {

using SteadyClock = std::chrono::steady_clock;

// A listening socket: one address of a ListenAddress (a host name or an empty host has several).
struct Listener {
    int fd = -1;
    size_t address = 0;  // index in ServerOptions::listen
};

// A serial line or a pseudo-terminal the server is the printer on.
struct Line {
    LineEndpoint endpoint;
    int fd = -1;         // what is read and written: the master side, or the serial device
    int slave = -1;      // a pseudo-terminal's slave, held open so that a host closing it is no hang-up
    std::string slavePath;
    bool linked = false; // the symbolic link at endpoint.path is ours
    std::unique_ptr<platform::SerialDevice> device;
};

// One host's connection (or a line), served by the loop.
struct Connection {
    enum class Kind : uint8_t { Tcp, Line };
    Kind kind = Kind::Tcp;
    int fd = -1;  // -1: closed (a TCP connection whose held bytes still wait to be printed)
    size_t line = 0;
    std::string source;
    PrinterIntake intake;
    std::vector<uint8_t> out;  // answers not yet written
    SteadyClock::time_point lastByte;
    uint64_t jobNumber = 0;
    std::chrono::system_clock::time_point started;
    bool discarding = false;  // a line past its job's limit: bytes are dropped until a silence

    Connection(Model m, PrinterIntake::Limits limits) : intake(m, limits) {}
};

struct ServerCore {
    explicit ServerCore(ServerOptions o) : options(std::move(o)) {}

    ServerOptions options;
    PrinterServer::JobSink sink;
    PrinterServer::PrintObserver observer;

    std::vector<Listener> listeners;
    std::vector<ListenAddress> bound;
    std::vector<Line> lines;
    std::list<Connection> connections;  // loop thread only (and stop() once the loop ended)
    int wakeRead = -1;
    int wakeWrite = -1;
    std::thread loopThread;
    std::atomic<bool> stopFlag{false};
    std::atomic<bool> running{false};
    std::atomic<size_t> openCount{0};
    std::atomic<uint64_t> finished{0};
    uint64_t nextJob = 0;  // loop thread
    std::mutex sinkMutex;  // the sink is called from the loop, and from stop() once it ended

    mutable std::mutex stateMutex;
    States states = 0;
    uint64_t stateVersion = 0;

    // printer_server.cpp
    bool openListeners(std::string* error);
    bool openLines(std::string* error);
    void closeAll();
    void wake();
    void hand(FinishedJob&& job);

    // server_loop.cpp
    void run();
};

// The job of a connection as it ends now (server_loop.cpp).
FinishedJob EndJob(Connection& c, JobEnd end, std::string reason);

}  // namespace pellory::vprinter
