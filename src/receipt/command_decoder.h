// The decoding of a stream without paper (see decoding.h): fed with the byte stream in pieces as
// it arrives, it follows the printer's modes (PrinterModes, through the same apply the interpreter
// draws over) and hands out each command's line of the decoding as the command is read. Nothing is
// drawn: what the decoding says of a symbol's print it learns from making the symbol alone, judged
// against the widest paper (see SymbolArea).
//
// Commands too long to hold whole are taken piece by piece (LongCommand), so its memory does not
// grow with the length of a command. Not thread-safe: one thread feeds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "protocol/command_splitter.h"
#include "receipt/characters.h"
#include "receipt/decoding.h"
#include "receipt/decoding_lines.h"
#include "receipt/long_command.h"
#include "receipt/printer_modes.h"
#include "receipt/symbol_maker.h"

namespace pellory::receipt {

class CommandDecoder {
public:
    // paperDots: the paper 2-D symbols are made for (their width then judged against widestDots);
    // the narrower model's and the wider model's unless given.
    CommandDecoder();
    CommandDecoder(int paperDots, int widestDots);

    // Each command, as it is read. A text run comes as one command however the pieces cut it (a run
    // longer than DecodingLines::kTextLineBytes in parts of at most that many bytes); it is handed
    // out when the next command comes, or at finish().
    void setDecodeSink(std::function<void(const DecodedCommand&)> sink) { lines_.setSink(std::move(sink)); }
    // Takes the next bytes of the stream.
    void feed(const uint8_t* data, size_t n);
    void feed(const std::vector<uint8_t>& data) { feed(data.data(), data.size()); }
    // The end of the stream: bytes of a command that never completed are handed out as an unknown
    // command (a long command whose header came is named, with how much of it came).
    void finish();
    // Ends the decoding at once: the rest of the bytes being fed, and every byte fed later, is
    // passed by unread (from a sink, a bound reached).
    void halt() { halted_ = true; }
    bool halted() const { return halted_; }
    size_t bytesFed() const { return offset_; }
    const PrinterModes& modes() const { return modes_; }

private:
    void command(protocol::Command::Kind kind, const uint8_t* p, size_t n);
    void text(const uint8_t* p, size_t n);
    // Whether a line has started in standard mode (ESC L is taken at the start of a line only), as
    // far as the commands tell without drawing: a line starts with a character or an ESC * image
    // and ends when it prints. A barcode, 2-D code or stored picture is taken as printed (whether
    // it prints depends on its data).
    void followLine(protocol::CommandId id, const uint8_t* p, size_t n);
    void takeOverLong();
    size_t feedLong(const uint8_t* data, size_t n);
    void endLong(bool complete);

    protocol::CommandSplitter splitter_;
    std::unique_ptr<LongCommand> long_;  // a long command being taken, if any
    DecodingLines lines_;
    PrinterModes modes_;
    SymbolMaker symbols_;
    SymbolArea area_;
    std::shared_ptr<const CharacterDecoder> decoder_;
    std::vector<uint8_t> lead_;  // lead byte of a Kanji pair cut by the end of a piece
    size_t offset_ = 0;
    bool lineStarted_ = false;
    bool halted_ = false;
};

}  // namespace pellory::receipt
