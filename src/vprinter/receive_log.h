// What the program's own printer (VirtualPrinter) received, for the waits and the tests that look
// at it: counts always; a copy of the bytes and of the commands only while recording (off by
// default, for it grows with every byte). Used from any thread: the reader feeds it, callers read
// and wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "protocol/command_splitter.h"

namespace pellory::vprinter {

class ReceiveLog {
public:
    using Bytes = protocol::Bytes;
    using Command = protocol::Command;

    void setRecording(bool on);  // off lets go of what it kept
    bool recording() const;

    // The reader, for each piece of bytes: take() before acting on them (the recording), each
    // command piece as the splitter hands it out (piece()), and counted() once the observer has
    // had them, with take()'s token: bytes from before a clear() are not counted.
    uint64_t take(const uint8_t* bytes, size_t n);
    void piece(const protocol::PieceSplitter::Piece& piece);
    void counted(size_t n, uint64_t token);
    void answered();
    // A new host: a command it had begun is not listed.
    void dropPending();

    // Empties the counts and the recording (the answers stay counted). A command half received
    // stays pending and is counted (and listed) in full once it completes.
    void clear();
    // clear(), and no command pending: the printer starts again.
    void startOver();

    Bytes received() const;
    size_t receivedCount() const;
    std::vector<Command> commands() const;
    size_t commandCount() const;
    size_t answeredCount() const;
    bool waitForBytes(size_t n, uint32_t timeoutMs) const;
    bool waitForQuiet(uint32_t quietMs, uint32_t timeoutMs) const;

private:
    using Clock = std::chrono::steady_clock;
    void list(Command::Kind kind, const uint8_t* bytes, size_t n);

    mutable std::mutex m_;
    mutable std::condition_variable cv_;
    bool recording_ = false;
    size_t receivedTotal_ = 0;
    size_t commandTotal_ = 0;
    bool lastWasText_ = false;  // the last command counted was a text run (the next one joins it)
    uint64_t clears_ = 0;       // clear() calls so far
    Bytes received_;
    std::vector<Command> commands_;
    Command current_;  // recording: the command in progress, so far
    bool keepingCurrent_ = false;
    size_t answered_ = 0;
    Clock::time_point lastByte_ = Clock::now();
};

}  // namespace pellory::vprinter
