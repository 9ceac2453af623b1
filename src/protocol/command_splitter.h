// Splitting the printer's input stream into commands by their real lengths, read from the command
// table (protocol/command_table.h).
//
// A command is one of:
//  - a text run: consecutive bytes from 0x20 up (0x7F and the upper half included);
//  - a single control byte (LF, HT, CR, NUL, ...): any byte below 0x20 other than ESC, FS, GS, DLE;
//  - an ESC (1B), FS (1C) or GS (1D) sequence with all of its parameter and data bytes;
//  - DLE EOT n, DLE ENQ n or DLE DC4 fn ... (10 ...); a DLE followed by anything else is a command
//    of its own one byte, and the byte after it starts the next command.
// An unknown ESC/FS/GS sequence is taken as its two bytes (the introducer and the function byte).
//
// Sequences whose data end at a zero byte are bounded as the printer bounds them, so that a lost
// terminator cannot swallow the rest of the stream: ESC D takes at most 32 tab positions, the
// zero-terminated forms of GS k at most 255 data bytes, and each text of FS V at most 255 bytes;
// past the bound the command ends without its zero byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace pellory::protocol {

using Bytes = std::vector<uint8_t>;

// One command as the printer split it: its bytes, in full.
struct Command {
    enum class Kind { Text, Control, Esc, Fs, Gs, Dle };
    Kind kind = Kind::Text;
    Bytes bytes;
};

// Kind of the command that starts with this byte.
Command::Kind CommandKindOf(uint8_t first);

// Length of the complete command at the start of data[0, n), or 0 when the bytes end inside it
// (or n is 0). A text run is complete at the end of the data.
size_t CommandLength(const uint8_t* data, size_t n);

// The streaming form: fed with bytes as they arrive, it hands out each complete command once,
// in order, and keeps the bytes of an incomplete one until the rest arrives. A text run cut by
// the end of a piece is handed out in parts (consecutive Text commands, to be merged by the
// receiver if it wants whole runs).
class CommandSplitter {
public:
    using Sink = std::function<void(Command::Kind kind, const uint8_t* bytes, size_t length)>;

    void feed(const uint8_t* data, size_t n, const Sink& sink);
    size_t pendingSize() const { return pending_.size(); }
    const Bytes& pending() const { return pending_; }
    void reset() { pending_.clear(); }

private:
    size_t run(const uint8_t* data, size_t n, const Sink& sink);
    Bytes pending_;  // the start of an incomplete command
};

// The bytes every CommandSplitter of the process has handed out as commands so far: how often a
// stream was split, for tests that count it (a stream split once adds its length).
uint64_t SplitBytesHandedOut();

// The streaming form for a receiver that needs no command whole: fed with bytes as they arrive, it
// hands out every command in pieces, in order, as soon as each piece is there. It keeps only the
// head of the command in progress (its introducer and parameters, and the size fields between
// the images of FS q and ESC &), never the data of an image or of GS 8: those pass through and
// are counted down. What it holds stays below kMaxHeld bytes whatever the stream.
//
// A command without data (a status request, a set-up command GS ( ..., a text run) comes as one
// piece, first and last, holding it whole. A command with data comes as several: its head up to
// the data, the data as they arrive, and so on. A text run cut by the end of a piece is handed
// out in parts, as the other form does.
class PieceSplitter {
public:
    struct Piece {
        Command::Kind kind;
        const uint8_t* bytes;
        size_t length;  // more than 0
        bool first;     // the command's first piece
        bool last;      // the command's last piece
    };
    using Sink = std::function<void(const Piece& piece)>;

    // The longest head is a table row of FS V: its positions and 255 cells of up to 256 bytes.
    static constexpr size_t kHeadSlice = 4096;
    static constexpr size_t kMaxHeld = 2 * (4 + 255 + 1 + 255 + 255 * 257) + kHeadSlice;

    void feed(const uint8_t* data, size_t n, const Sink& sink);
    // Bytes kept now: the head of the command in progress.
    size_t held() const { return head_.size(); }
    // Whether a command is in progress (some of it arrived, not its last byte).
    bool inCommand() const { return !head_.empty(); }
    void reset();

private:
    void hand(const uint8_t* bytes, size_t length, bool last, const Sink& sink);
    void headDone(size_t at, bool end, const Sink& sink);

    Bytes head_;             // the head of the command in progress, so far
    size_t handedHead_ = 0;  // how much of head_ went out
    size_t segments_ = 0;    // data runs passed
    size_t dataLeft_ = 0;    // data bytes still to pass in the current run
    Command::Kind kind_ = Command::Kind::Text;
    bool started_ = false;   // a piece of the command in progress went out
};

// Splits a byte stream into printer commands by their real lengths. Bytes of an incomplete
// command at the end are not returned; consumed tells how far the complete commands reach.
struct SplitResult {
    std::vector<Command> commands;
    size_t consumed = 0;  // bytes of complete commands
};
SplitResult SplitCommands(const Bytes& stream);

}  // namespace pellory::protocol
