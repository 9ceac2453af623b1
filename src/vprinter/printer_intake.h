// One connection's intake (a TCP connection, a serial line or a pseudo-terminal): the bytes a host
// sends go through the command splitter, which finds the requests the printer answers at once;
// they are kept for the job (up to its limit) and go on to printing, or wait while a state stops
// printing. No I/O: the server reads and writes, the intake decides what to send and what to
// print, through its Host. The fuzz target drives it the same way.
//
// Printing stops while a state stops it (holdWhileStopped) and while the server pauses it
// (pause(): the job writers are behind); the status answers know only the states.
//
// Bounded: the job keeps at most maxJobBytes; while printing is stopped at most holdBytes wait
// (room() tells how many more it takes; the caller reads no more than that); the splitter keeps
// no more than a command's head (protocol::PieceSplitter::kMaxHeld); the answers listed are at
// most kMaxAnswersKept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "protocol/command_splitter.h"
#include "vprinter/printer_answers.h"
#include "vprinter/printer_server.h"
#include "vprinter/symbol_storage.h"

namespace pellory::vprinter {

class PrinterIntake {
public:
    // What the intake acts on.
    class Host {
    public:
        virtual ~Host() = default;
        // Bytes to send back to the host at once.
        virtual void send(const uint8_t* bytes, size_t n) = 0;
        // Bytes printed, in order.
        virtual void print(const uint8_t* bytes, size_t n) = 0;
        // A command changed the shared state (a drawer pulse, a recovery).
        virtual void changeStates(States set, States clear) = 0;
        // Each piece the splitter hands out, in order, before it is acted on (the program's own
        // printer counts and records commands from them).
        virtual void command(const protocol::PieceSplitter::Piece& /*piece*/) {}
        // The reaction to one whole command, bytes[0, n), before the intake acts on it, in the
        // state s; the host may change it (the program's own printer answers DLE EOT 5 with a
        // status byte of its own, and only at the host's baud rate where that must match). A
        // request answered in order that had to wait is reviewed again when printing reaches it,
        // in the state then.
        virtual void review(const uint8_t* /*bytes*/, size_t /*n*/, States /*s*/, Reaction& /*r*/) {}
    };

    struct Limits {
        size_t maxJobBytes = 16u << 20;
        size_t holdBytes = 1u << 20;
        // False: nothing of the job is kept (neither its bytes nor its answers) and it has no
        // limit; the intake's memory then stays the same however long the stream.
        bool keepJob = true;
        // False: a state that stops printing holds nothing back (the program's own printer,
        // whose status bits only say what the lamps show).
        bool holdWhileStopped = true;
        // False: the job's bytes are counted and bounded (maxJobBytes) but not kept: the server
        // writes them to a spool (ServerOptions::spool), and FinishedJob::bytes stays empty.
        bool keepBytes = true;
        // The size of a stored symbol, for GS ( k fn 82 (ServerOptions::symbolMeasure). None: every
        // symbol is answered as one that cannot be encoded.
        SymbolMeasure symbolMeasure{};
    };

    PrinterIntake(Model model, Limits limits);

    // How many bytes it takes now in the state s: without a limit (SIZE_MAX) while it prints,
    // the room left in the hold buffer while printing is stopped (without holdWhileStopped no
    // state stops it).
    size_t room(States s) const;
    // Whether printing goes on in the state s: nothing stops it and nothing waits.
    bool printing(States s) const { return !holds(s) && held_.empty(); }
    // Of the next n bytes, how many the job keeps (with keepJob the rest is past maxJobBytes).
    size_t keeps(size_t n) const;

    // The server pauses printing (on) or lets it go on (off) whatever the state: bytes wait as
    // while a state stops printing, requests answered where printing reaches them wait with them;
    // no answer shows it. Off prints what waited unless the state s stops printing.
    void pause(bool on, States s, Host& host);
    bool paused() const { return paused_; }

    enum class Fed : uint8_t { Ok, OverLimit };
    // Takes the next n bytes the host sent (n at most room(s) while printing is stopped), s being
    // the state now. OverLimit when the job reached maxJobBytes: the bytes past it are counted
    // but neither kept nor acted on (the connection should end).
    Fed feed(const uint8_t* bytes, size_t n, States s, Host& host);

    // The shared state changed from `was` to `now`: automatic status back where it was asked for,
    // and printing of what waited when printing may go on (the requests that waited for it are
    // answered in the state `now`).
    void stateChanged(States was, States now, Host& host);

    // A job is in progress: some byte arrived since the last takeJob().
    bool hasJob() const { return received_ > 0; }
    uint64_t received() const { return received_; }
    // The job so far (bytes, receivedBytes, answers, answersLeftOut); the intake starts the next.
    // What waits to be printed stays (it prints when printing goes on).
    FinishedJob takeJob();

    size_t held() const { return held_.size(); }
    // Bytes held by the splitter and the job, for limit checks.
    size_t splitterHeld() const { return splitter_.held(); }
    size_t jobBytes() const { return job_.size(); }
    size_t answersListed() const { return answers_.size(); }
    size_t waitingAnswers() const { return waiting_.size(); }
    bool automaticStatusOn() const { return (asb_ & kAutomaticStatusItems) != 0; }

private:
    struct Waiting {
        uint64_t at;  // print stream offset after which it is sent
        std::string request;
        AnswerBytes answer;
        // A request answered in order (Reaction::When::InOrder) that waited: its bytes, whose
        // answer is made anew in the state when printing reaches it (answer is then unused).
        std::vector<uint8_t> command;
    };
    void answer(const std::string& request, const AnswerBytes& bytes, Host& host);
    void answerWaiting(const Waiting& w, States s, Host& host);
    void printUpTo(const uint8_t* bytes, size_t n, uint64_t from, States s, Host& host);
    void release(States s, Host& host);
    // Whether printing is stopped in the state s (by the state or by the server's pause).
    bool holds(States s) const { return paused_ || (limits_.holdWhileStopped && StopsPrinting(s)); }

    // The answer to a GS ( k fn 82 among the whole commands, from the symbols stored before it.
    void answerSymbolSize(const uint8_t* bytes, size_t n, States s, Reaction& r) const;

    Model model_;
    Limits limits_;
    SymbolStorage symbols_;  // GS ( k's PDF417 and QR code, as the commands so far left them
    protocol::PieceSplitter splitter_;
    std::vector<uint8_t> job_;
    uint64_t received_ = 0;   // of this job
    uint64_t streamAt_ = 0;   // bytes taken over the intake's life (the print stream's offset)
    uint64_t splitAt_ = 0;    // bytes the splitter has handed out so far
    std::vector<SentAnswer> answers_;
    uint64_t answersLeftOut_ = 0;
    uint8_t asb_ = 0;
    bool paused_ = false;
    // Printing stopped: the bytes waiting, from stream offset heldFrom_ on, and the answers that
    // wait for them (GS r, GS ( H).
    std::vector<uint8_t> held_;
    uint64_t heldFrom_ = 0;
    std::deque<Waiting> waiting_;
};

}  // namespace pellory::vprinter
