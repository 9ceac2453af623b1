// Splitting the printer's input stream into commands by their real lengths.
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

#include "vprinter/virtual_printer.h"

namespace pellory::vprinter {

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

}  // namespace pellory::vprinter
