// The printer server's inside (vprinter-internal): its endpoints, its connections and the loop
// that serves them. printer_server.cpp opens and closes, server_loop.cpp serves.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_device.h"
#include "platform/sockets.h"
#include "platform/thread_annotations.h"
#include "vprinter/connection_hooks.h"
#include "vprinter/job_spool.h"
#include "vprinter/printer_intake.h"
#include "vprinter/printer_server.h"

namespace pellory::vprinter {

using SteadyClock = std::chrono::steady_clock;

// A listening socket: one address of a ListenAddress (a host name or an empty host has several).
struct Listener {
    platform::SocketHandle fd = platform::kNoSocket;
    size_t address = 0;  // index in ServerOptions::listen
};

// A serial line or a pseudo-terminal the server is the printer on. What is read and written, and
// how, is the OS's (server_lines_posix.cpp, server_lines_win.cpp).
struct Line {
    LineEndpoint endpoint;
    // What the loop waits on: the master side or the serial device on POSIX systems; on Windows
    // the loop's end of the socket pair the line's reader thread hands its bytes over.
    platform::SocketHandle fd = platform::kNoSocket;
    int slave = -1;  // a pseudo-terminal's slave, held open so that a host closing it is no hang-up
    std::string slavePath;
    bool linked = false;  // the symbolic link at endpoint.path is ours
    // A pseudo-terminal: a watch on the slave path (opens and closes) and the hosts it holds open.
    // A host that opened it exclusively (TIOCEXCL) leaves the mark behind when it closes, because
    // the server's own slave descriptor keeps the terminal from its last close, where the kernel
    // would clear it; when the last host closes the server clears it (TIOCNXCL), so that the
    // host can open the port again. Without the watch (-1) only that mark stays.
    int notify = -1;
    int openers = 0;
    std::unique_ptr<platform::SerialDevice> device;
    // Windows: the thread that moves the bytes between the device and the socket pair (its end
    // of the pair is its own); it ends once the loop's end is closed.
    std::thread pump;
};

// One host's connection (or a line), served by the loop.
struct Connection {
    enum class Kind : uint8_t { Tcp, Line };
    Kind kind = Kind::Tcp;
    // kNoSocket: closed (a TCP connection whose held bytes still wait to be printed).
    platform::SocketHandle fd = platform::kNoSocket;
    size_t line = 0;
    std::string source;
    PrinterIntake intake;
    std::vector<uint8_t> out;  // answers not yet written
    // Its last byte; once the printer let it send again after keeping it from sending (heldBack:
    // printing was stopped when last looked at), the moment it could send again.
    SteadyClock::time_point lastByte;
    bool heldBack = false;
    uint64_t jobNumber = 0;
    std::chrono::system_clock::time_point started;
    // With ServerOptions::spool: the job's spool, from its first byte on (moved into its
    // FinishedJob); spoolFailed once an append failed, after which nothing more is appended.
    std::shared_ptr<SpooledJob> spool;
    bool spoolFailed = false;
    bool discarding = false;  // a line past its job's limit: bytes are dropped until a silence
    // One at a time (ServerOptions::oneAtATime): its turn came (it is read); `ended`: it closed
    // while it waited, after sending bytes, which are read when its turn comes.
    bool turn = false;
    bool ended = false;

    Connection(Model m, PrinterIntake::Limits limits) : intake(m, limits) {}
};

// Bytes another thread asked to send unasked (PrinterServer::sendUnsolicited), until the loop has
// handed them to the host served.
struct Unsolicited {
    std::vector<uint8_t> bytes;
    bool done = false;  // guarded by ServerCore::sendMutex
    bool sent = false;
};

struct ServerCore {
    explicit ServerCore(ServerOptions o) : options(std::move(o)), states(options.states), model(options.model) {
        if (!options.clock) options.clock = platform::RealClock();
    }

    ServerOptions options;
    PrinterServer::JobSink sink GUARDED_BY(sinkMutex);  // set before start()
    PrinterServer::PrintObserver observer;
    PrinterServer::MessageSink messages;  // called by the loop thread only

    std::vector<Listener> listeners;
    std::vector<ListenAddress> bound;
    std::vector<Line> lines;
    std::list<Connection> connections;                  // loop thread only (and stop() once the loop ended)
    platform::SocketWaker waker GUARDED_BY(wakeMutex);  // its handle is read by the loop alone
    platform::SocketHandle wakeHandle = platform::kNoSocket;
    std::thread loopThread;
    // Wakes the loop when a test's clock is advanced: from start() until the loop has ended.
    std::unique_ptr<platform::Clock::Watch> clockWatch;
    std::atomic<bool> stopFlag{false};
    std::atomic<bool> running{false};
    std::atomic<size_t> openCount{0};
    std::atomic<uint64_t> finished{0};
    uint64_t nextJob = 0;       // loop thread
    platform::Mutex sinkMutex;  // the sink is called from the loop, and from stop() once it ended
    // The jobs that ended while the sink had no room (it refused the first), oldest first, and
    // the bytes they hold: the loop's, then stop()'s once the loop ended.
    std::deque<FinishedJob> waitingJobs;
    size_t waitingBytes = 0;
    std::atomic<uint64_t> rounds{0};  // the loop's rounds (PrinterServer::loopRounds)

    mutable platform::Mutex stateMutex;
    States states GUARDED_BY(stateMutex) = 0;
    uint64_t stateVersion GUARDED_BY(stateMutex) = 0;

    std::atomic<Model> model;            // of the connections served from now on
    platform::Mutex wakeMutex;           // wake() against the closing of the waker
    mutable platform::Mutex linesMutex;  // the lines' slave descriptors against their closing
    platform::Mutex sendMutex;           // toSend, and each Unsolicited's flags
    std::condition_variable sent;
    std::deque<std::shared_ptr<Unsolicited>> toSend GUARDED_BY(sendMutex);

    // printer_server.cpp
    bool openListeners(std::string* error);
    void closeAll();
    void wake() EXCLUDES(wakeMutex);
    // Hands a job to the sink, which must take it (stop()).
    void hand(FinishedJob&& job);
    // Marks every request still in toSend as done, unsent (the loop ended).
    void dropUnsent();
    SteadyClock::time_point now() const { return options.clock->now(); }
    bool spooling() const { return options.spool && options.keepJobs; }
    PrinterIntake::Limits limits() const {
        return {options.maxJobBytes,      options.holdBytes, options.keepJobs,
                options.holdWhileStopped, !spooling(),       options.symbolMeasure};
    }

    // server_loop.cpp
    void run();

    // server_lines_<os>.cpp: the lines, opened at start() and closed at stop().
    bool openLines(std::string* error);
    void closeLines() REQUIRES(linesMutex);
    // Reads or writes a line as the sockets contract's reads and writes do: a count, 0 at the end
    // of the line (reads), kSocketWouldBlock or kSocketFailed (with the OS's code).
    long long readLine(Line& line, uint8_t* buffer, size_t n, int* code);
    long long writeLine(Line& line, const uint8_t* bytes, size_t n, int* code);
    // The line's watch (Line::notify) is readable: its hosts' opens and closes.
    void watchOpens(Line& line);
    std::optional<uint32_t> hostRate(const Line& line) const REQUIRES(linesMutex);
};

// Opens the serial device of a serial endpoint into line.device and sets the endpoint's line
// settings; false with the reason ("PATH: ...") when either fails. Both systems' lines use it.
bool OpenSerialLine(const LineEndpoint& e, Line& line, std::string* error);

// The job of a connection as it ends now (server_loop.cpp): Failed, with the spool's reason, when
// its spool failed.
FinishedJob EndJob(Connection& c, JobEnd end, std::string reason);

}  // namespace pellory::vprinter
