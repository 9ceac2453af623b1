// The printer server: one virtual printer that other software prints to, on any number of TCP
// addresses, serial lines and pseudo-terminals at once. It answers the status requests drivers
// make (at once, whatever it is printing), holds printing while a state stops it, and hands each
// finished job (one connection's bytes, or a line's bytes up to a silence) to a sink. The program's
// own virtual printer (VirtualPrinter) is a front over it: one pseudo-terminal, or one loopback
// address served one connection at a time, no jobs, and its own extras (ConnectionHooks).
//
// Threads: the server's own (standard library), every blocking step bounded and watching the stop
// flag; the loop never waits for the sink (a job it has no room for waits in the server). Memory is
// bounded by the limits below: a job keeps at most maxJobBytes, the bytes waiting while printing
// is stopped at most holdBytes per connection (then the server stops reading that connection, so
// the sender's writes wait, as on a real printer), the jobs waiting for the sink maxWaitingJobs
// and maxWaitingBytes (then no new connection is accepted).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "vprinter/printer_state.h"
#include "vprinter/symbol_storage.h"

namespace pellory::vprinter {

class ConnectionHooks;  // vprinter/connection_hooks.h
class JobSpool;         // vprinter/job_spool.h
class SpooledJob;

// Model, ModelByName: vprinter/printer_state.h; each model's facts: protocol/model_profile.h.

// A TCP address to listen on: "127.0.0.1:9100", "[::1]:9100", "0.0.0.0:9100", ":9100" (host empty:
// every address).
struct ListenAddress {
    std::string host;
    uint16_t port = 0;  // 0: the system picks one (tests, the window's own printer)
};
// Nothing, with a reason in *error, for text that is not HOST:PORT.
std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string* error = nullptr);
// "127.0.0.1:9100", "[::1]:9100", ":9100".
std::string ListenAddressText(const ListenAddress& a);
// Whether only this machine can reach it (127.0.0.0/8, ::1, "localhost").
bool IsLoopback(const ListenAddress& a);
// The warning for a bound address others can reach, as every server of the program writes it
// after its program name: "warning: 0.0.0.0:9100 is not a loopback address: anyone who can reach
// it can print and read the printer's status". Empty for a loopback address.
std::string NotLoopbackWarning(const ListenAddress& a);

// A serial line or pseudo-terminal the server is the printer on.
struct LineEndpoint {
    enum class Kind : uint8_t { Serial, Pty } kind = Kind::Serial;
    std::string path;  // Serial: the device. Pty: the symbolic link to make (may be empty: none)
    uint32_t baud = 9600;
    uint8_t dataBits = 8;
    char parity = 'N';      // 'N', 'E', 'O'
    uint8_t stopBits = 1;   // 1 or 2
    char handshake = 'N';   // 'N' none, 'H' RTS/CTS, 'X' XON/XOFF
};

// Recovered: finished at a later start from the bytes a server that was killed had spooled.
enum class JobEnd : uint8_t { Closed, Idle, OverLimit, Incomplete, Failed, Recovered };
// "closed", "idle", "over-limit", "incomplete", "failed", "recovered".
std::string_view JobEndName(JobEnd e);

// One answer the printer sent during a job.
struct SentAnswer {
    uint64_t offset = 0;      // the number of job bytes received when it was sent
    std::string request;      // the request as the decoding names it: "DLE 04 01", "GS I 43"
    std::vector<uint8_t> bytes;
};

// A job lists at most this many answers (a stream of nothing but status requests would otherwise
// make the list many times larger than the job's bytes).
inline constexpr size_t kMaxAnswersKept = 10000;

struct FinishedJob {
    uint64_t number = 0;  // 1, 2, ... in the order jobs started, over the server's life
    std::chrono::system_clock::time_point started;
    std::chrono::system_clock::time_point ended;
    // Where it came from: "tcp:192.0.2.7:50122", "tcp:[::1]:50122", "serial:/dev/ttyS0",
    // "pty:/tmp/printer".
    std::string source;
    std::vector<uint8_t> bytes;   // exactly as received, at most maxJobBytes; empty when spooled
    // With ServerOptions::spool: where the bytes are (kept there, not in bytes). Its failure, if
    // any, made the job Failed.
    std::shared_ptr<SpooledJob> spool;
    uint64_t receivedBytes = 0;   // all it received (more than bytes.size() when over the limit)
    std::vector<SentAnswer> answers;
    // Answers sent past the first kMaxAnswersKept are counted here, not listed.
    uint64_t answersLeftOut = 0;
    JobEnd end = JobEnd::Closed;
    std::string reason;  // with Failed (and over-limit: the limit)
};

struct ServerOptions {
    Model model = Model::Orva80;
    std::vector<ListenAddress> listen;
    std::vector<LineEndpoint> lines;
    States states = 0;
    size_t maxConnections = 16;  // more wait in the listen queue until one ends
    size_t maxJobBytes = 16u << 20;
    size_t holdBytes = 1u << 20;  // per connection, while printing is stopped
    std::chrono::milliseconds idleEnd{2000};      // lines: this much silence ends a job
    std::chrono::milliseconds idleTimeout{60000}; // TCP: a connection silent this long is closed (0: never)
    // The time the idle rules and the accept back-off go by (a test's ManualClock: the loop is
    // woken when it is advanced). None: the real clock.
    std::shared_ptr<platform::Clock> clock = platform::RealClock();

    // --- for the program's own printer (VirtualPrinter) ---
    // TCP connections are served one at a time, in the order they came, as a printer's raw port
    // serves: the others (up to maxConnections in all) are accepted but not read until the one
    // served closes; one that closes while it waits without having sent a byte (a port scanner's
    // connect) is dropped at once, one that sent bytes keeps its place for them. A waiting
    // connection is never timed out. Lines are served as always.
    bool oneAtATime = false;
    // False: no job is kept (neither bytes nor answers, no maxJobBytes) and nothing is handed to
    // the sink; a connection's memory stays the same however long its stream.
    bool keepJobs = true;
    // False: no state holds printing back (the states only say what the status answers report).
    bool holdWhileStopped = true;
    // What the program's own printer adds to every connection's intake (answers of its own, the
    // commands it counts, the bytes it records), called on the server's thread. None: nothing.
    std::shared_ptr<ConnectionHooks> hooks;
    // Where each job's bytes are written as they arrive (keepJobs only). None: they are kept in
    // memory, in FinishedJob::bytes.
    std::shared_ptr<JobSpool> spool;
    // The jobs the sink refused wait in the server, in order, while every open connection is held
    // as when a state stops printing; once this many wait, or their bytes (FinishedJob::bytes:
    // none with a spool) come to this many, no new connection is accepted until the sink takes
    // some.
    size_t maxWaitingJobs = 64;
    size_t maxWaitingBytes = 64u << 20;
    // The size of a symbol stored with GS ( k, for the answer to GS ( k fn 82: encoding it is the
    // receipt renderer's, which the server may not use, so the program that starts the server
    // hands it in (app::MeasureStoredSymbol). Called on the server's thread. None: every symbol
    // is answered as one that cannot be encoded (0 x 0, not printable).
    SymbolMeasure symbolMeasure{};
};

// How a finished job is handed to the sink.
enum class HandOver : uint8_t {
    IfRoom,  // the serving loop: the sink may refuse it (it must not wait)
    Always,  // stop(): the sink must take it
};

class PrinterServer {
public:
    // Called on a server thread for each job as it ends (never for a connection that sent
    // nothing), until it takes the job, and by stop() on its caller's thread for the jobs that
    // still wait and those it ends; never two calls at once; the jobs in the order they ended,
    // each taken once. True: it took the job (moved from it). With
    // HandOver::IfRoom it may refuse it (false, the job untouched) and must never wait: the
    // server then keeps the job, and the ones that end after it, and offers it again once
    // jobRoom() is called (or within about 50 ms). With HandOver::Always it must take it.
    using JobSink = std::function<bool(FinishedJob& job, HandOver how)>;
    // Called on the server's thread with a message for whoever runs the server, once when a
    // trouble it works around begins ("cannot accept connections: Too many open files;
    // retrying") and once when it ends ("accepting connections again").
    using MessageSink = std::function<void(const std::string& message)>;
    // Called on the connection's thread with the bytes it prints, in order, as printing goes on
    // (after the hold, if any): the window's paper. May wait in bounded steps that watch
    // stopping(); the server reads nothing meanwhile (one thread serves every connection).
    using PrintObserver = std::function<void(uint64_t job, const uint8_t* bytes, size_t n)>;

    explicit PrinterServer(ServerOptions options);
    ~PrinterServer();  // stop()
    PrinterServer(const PrinterServer&) = delete;
    PrinterServer& operator=(const PrinterServer&) = delete;

    void setJobSink(JobSink sink);          // before start()
    // The sink has room again for a job it refused: the server offers the jobs it keeps. Any thread.
    void jobRoom();
    void setPrintObserver(PrintObserver o); // before start()
    void setMessageSink(MessageSink sink);  // before start()

    // Opens every address and line. False with the reason ("127.0.0.1:9100: Address already in
    // use") when one cannot be opened; nothing is left open then.
    bool start(std::string* error = nullptr);
    // Stops accepting and reading; hands the sink (HandOver::Always) every job that waits for it,
    // then every job in progress, ended now (Incomplete, or Closed when its connection had
    // already closed), in that order; then returns. Bounded.
    void stop();
    bool stopping() const;

    // The addresses as bound (the system's port where 0 was asked for), in the order given.
    std::vector<ListenAddress> boundAddresses() const;
    // The pseudo-terminals' slave paths, in the order of the Pty lines.
    std::vector<std::string> ptyPaths() const;
    // The rate the host's line settings use now on the i-th pseudo-terminal (read from the slave
    // the server holds open; custom rates included). Nothing when it is not open.
    std::optional<uint32_t> ptyHostRate(size_t i = 0) const;

    // The model the connections report that are served from now on (a line keeps the one it
    // started with).
    void setModel(Model m);

    // Sends bytes to the host served, unasked: the first line, or else, with oneAtATime, the TCP
    // connection whose turn it is. The server's thread writes them (the call wakes it), behind the
    // answers already waiting; it returns once they went out or wait to (the host reads slowly).
    // False when there is no such host, the server is not running or stops, or its thread did not
    // take them within a second (a print observer keeps it waiting). Not from the server's thread.
    bool sendUnsolicited(const uint8_t* bytes, size_t n);

    // --- the printer's state, shared by every connection ---
    States states() const;
    void setStates(States s);  // connections that asked (GS a) get the automatic status back
    void set(StateBit b) { setStates(states() | b); }
    void clear(StateBit b) { setStates(states() & static_cast<States>(~b)); }

    // Counts for tests and benchmarks.
    size_t openConnections() const;
    uint64_t jobsFinished() const;  // taken by the sink
    // The serving loop's rounds so far (each one wait for its descriptors, then what they had).
    uint64_t loopRounds() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pellory::vprinter
