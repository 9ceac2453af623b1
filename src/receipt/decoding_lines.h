// The decoding's lines as a stream is read (see decoding.h): a text run gathered into one line
// however the pieces cut it, each other command named in the modes it comes in (the motion units,
// page mode, why a symbol prints nothing), a long command by its header with its length, and the
// bytes of a command the stream ends in. The interpreter and the decoding without paper hand
// their commands to one of these. Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "protocol/command_splitter.h"
#include "protocol/command_table.h"
#include "receipt/decoding.h"
#include "receipt/long_command.h"
#include "receipt/printer_modes.h"
#include "receipt/symbol_maker.h"

namespace pellory::receipt {

// Appends the UTF-8 bytes of c to s.
void AppendUtf8(std::string& s, char32_t c);

// What the decoding says of a command in the mode it comes in (FF and CAN in page mode, ESC L
// where it is ignored): `lineStarted`, whether a line has begun in standard mode.
void PageMeaning(protocol::CommandId id, const PrinterModes& modes, bool lineStarted, std::string& meaning);
// A distance in motion units once GS P made them other than dots: its value in units and in dots,
// in place of the dots the decoding says otherwise.
void UnitsMeaning(protocol::CommandId id, const uint8_t* p, size_t n, const PrinterModes& modes, std::string& meaning);

class DecodingLines {
public:
    using Sink = std::function<void(const DecodedCommand&)>;
    // A text run longer than this comes in lines of at most this many bytes.
    static constexpr size_t kTextLineBytes = 64 * 1024;

    void setSink(Sink sink) { sink_ = std::move(sink); }
    bool on() const { return static_cast<bool>(sink_); }

    // Bytes of text at `offset` and the characters they read as (UTF-8): the run goes on from the
    // text before it, if no command came between.
    void text(size_t offset, const uint8_t* p, size_t n, const std::string& shown);
    // One complete non-text command at `offset`, in the modes before its effect.
    void command(size_t offset, const uint8_t* p, size_t n, const PrinterModes& modes, bool lineStarted,
                 const SymbolMaker& symbols, SymbolArea area);
    // A long command at `offset`, whole or cut short by the end of the stream.
    void longCommand(size_t offset, const LongCommand& c, bool complete);
    // The bytes of a command the stream ends in, at `offset`.
    void unfinished(size_t offset, const protocol::Bytes& bytes);
    // Hands out the text run gathered (before a command, or at the end of the stream).
    void flush();

private:
    Sink sink_;
    std::optional<DecodedCommand> text_;  // the text run being gathered
};

}  // namespace pellory::receipt
