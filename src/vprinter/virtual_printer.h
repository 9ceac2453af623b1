// A receipt printer emulator on a pseudo-terminal.
//
// The printer runs on the printer server (printer_server.h): a server with one pseudo-terminal
// (no symbolic link, no job kept) whose slave path the program opens like any serial port (through
// the port map). The server's thread takes the bytes the host sends, in order, and splits the
// stream into the printer's commands by their real lengths, so that bytes inside image data or
// text are never taken for commands.
// It answers as the printer server does (the same loop, intake and answers), at once:
// DLE EOT 1-4, GS r, GS I, GS a, GS ( H, DLE DC4 8 in the formats of the public command reference,
// in the states its status byte stands for; and Pellory's own status request DLE EOT 5 with the
// status byte itself. Unlike the server it never holds printing back whatever its status, keeps
// no job, and on the network serves one host at a time.
// Its memory does not grow with what it receives: it keeps the head of the command in progress
// and counts, no more, unless a recording of the bytes and commands is turned on (for tests).
//
// It can stand for a network printer instead: it then listens on the loopback interface
// (127.0.0.1 only, a port the system picks) and serves one host connection at a time, as a
// printer's raw port does: a new connection never disturbs the one being served, it waits its
// turn (in order) until that one closes; one that closes while it waits (a port scanner's connect)
// is dropped at once. slavePath() is then the port map entry "tcp://127.0.0.1:PORT".
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include <atomic>

#include "protocol/command_splitter.h"
#include "vprinter/printer_state.h"
#include "vprinter/symbol_storage.h"

namespace pellory::vprinter {

using protocol::Bytes;
using protocol::Command;
using protocol::SplitCommands;
using protocol::SplitResult;

class VirtualPrinter {
public:
    enum class AnswerMode {
        Status,     // answer DLE EOT 5 with the status byte, the other requests as the server does
        Silent,     // never answer
        FixedByte,  // answer every DLE EOT n with the fixed byte, whatever n
    };

    VirtualPrinter();
    ~VirtualPrinter();  // stops and closes
    VirtualPrinter(const VirtualPrinter&) = delete;
    VirtualPrinter& operator=(const VirtualPrinter&) = delete;

    enum class Transport { PseudoTerminal, Tcp };

    // Starts its printer server on the pseudo-terminal pair (or the listening socket). False on
    // failure (error set).
    bool start(std::string* error = nullptr);
    bool start(Transport transport, std::string* error = nullptr);
    void stop();
    bool running() const;
    // What the host opens: the slave's path, or "tcp://127.0.0.1:PORT" on the network.
    const std::string& slavePath() const;

    // --- behaviour ---
    // The status byte of DLE EOT 5, default 00: online, no fault. Its bits stand for the states
    // the other requests report (StatesOfPelloryStatusByte), without stopping printing; a host
    // that asked for automatic status back (GS a) gets it when they change. A drawer pulse
    // (ESC p, DLE DC4 1) opens the drawer, which the status byte has no bit for; DLE ENQ 1 and 2
    // clear the cutter error bit.
    void setStatusByte(uint8_t s);
    uint8_t statusByte() const;
    void setAnswerMode(AnswerMode m, uint8_t byte = 0);
    AnswerMode answerMode() const;
    // The model it reports (GS I), ORVA58 unless set; taken at start() and by each new connection.
    void setModel(Model model);
    Model model() const;
    // The size of a stored symbol for GS ( k fn 82 (ServerOptions::symbolMeasure); taken at
    // start(), so set before it. None: every symbol is answered as one that cannot be encoded.
    void setSymbolMeasure(SymbolMeasure measure);
    // Whether a status request reaching it now would be answered: running, not silent, and at
    // the host's baud rate where it must match.
    bool answersNow() const;
    // Its own baud rate. With requireMatchingBaud it answers only while the host's line
    // settings (read from the slave's termios) use that rate.
    void setBaudRate(uint32_t baud);
    uint32_t baudRate() const;
    void setRequireMatchingBaud(bool on);
    bool requireMatchingBaud() const;
    // The rate the host's line settings use now (read from the slave's termios; custom rates
    // included). Nothing while the printer is not running.
    std::optional<uint32_t> hostBaudRate() const;
    // Flow control it asks for (as set by GS ( E function 11 a = 3): 0 none, 0x30 hardware,
    // 0x31 XON/XOFF.
    uint8_t flowControl() const;
    // Holds the host's CTS line off. A pseudo-terminal has no modem lines, so the platform
    // layer stands in for it: the host's device at slavePath() then reads CTS off, DSR on.
    void setHoldCts(bool hold);
    bool holdCts() const;
    // Sends bytes to the host unasked: handed to the printer's thread, which writes them behind
    // the answers already waiting (so not from the observer, which runs on that thread). False
    // when no host is served (not running, on the network no connection), or the printer's thread
    // did not take them within a second (an observer makes it wait).
    bool sendUnsolicited(const Bytes& bytes);
    // Closes the master side now, as an unplugged adapter would: the host's reads and writes on
    // the slave then fail (end of file, EIO or a hang-up). On the network it closes the host's
    // connection and stops listening. The printer is stopped afterwards.
    void vanish();

    // --- what it received ---
    // The recording: a copy of every byte and of every command, for tests that look at them.
    // Off by default, as the program's own printers run, for it grows with every byte. Turn it on
    // before start(); turned on while bytes arrive, it keeps them from then on (a command begun
    // before is not listed). Turning it off lets go of what it kept.
    void setRecording(bool on);
    bool recording() const;
    // Counts and the recording start empty at start() and at clearReceived(); all is since then.
    Bytes received() const;                 // recording: every byte, in order (else empty)
    size_t receivedCount() const;           // bytes received
    // Recording: the stream split into complete commands (else empty); consecutive text bytes
    // form one Text command. A command still incomplete is not listed until its last byte
    // arrives. commandCount() counts them the same way, recording or not.
    std::vector<Command> commands() const;
    size_t commandCount() const;
    // Empties the counts and the recording. A command that is half received stays pending and
    // is counted (and listed) in full once it completes.
    void clearReceived();
    // Waits until at least n bytes in all were received (and seen by the observer), or timeoutMs
    // passed. True when reached.
    bool waitForBytes(size_t n, uint32_t timeoutMs) const;
    // Waits until no byte arrived for quietMs, counted from the call at the earliest (so bytes
    // still on their way are waited for), at most timeoutMs. True when quiet.
    bool waitForQuiet(uint32_t quietMs, uint32_t timeoutMs) const;
    // Number of status requests answered so far.
    size_t answeredRequests() const;
    // Called on the printer's thread with each piece of bytes as it arrives (after the
    // printer answered what it holds, before it is counted). Setting another observer, or none,
    // waits for a call in progress. An observer may make the printer wait (it reads nothing
    // meanwhile, as a printer whose buffer is full), in bounded steps that watch stopping().
    using Observer = std::function<void(const uint8_t* bytes, size_t n)>;
    void setObserver(Observer observer);
    // True once stop() or vanish() began, until the next start().
    bool stopping() const;

private:
    struct Impl;
    Impl* impl_;
};

// What the program's own printer is served on when no network was asked for: a pseudo-terminal,
// or on Windows, which has none, the loopback network.
#ifdef _WIN32
inline constexpr VirtualPrinter::Transport kLocalTransport = VirtualPrinter::Transport::Tcp;
#else
inline constexpr VirtualPrinter::Transport kLocalTransport = VirtualPrinter::Transport::PseudoTerminal;
#endif

}  // namespace pellory::vprinter
