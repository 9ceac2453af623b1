// Naming the printer's commands: for each command of the stream, its offset, bytes, mnemonic
// and meaning, one line each:
//
//   0005  1B 21 08  ESC ! 08  print mode: emphasized
//
// Offsets are hexadecimal, counted from the first byte of the stream. A text run is one line with
// its characters (through the code table in force) in double quotes. A command the printer does
// not know is named "unknown" and keeps its bytes; it never shifts the commands after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/model_profile.h"

namespace pellory::receipt {

struct CommandInfo {
    std::string mnemonic;  // "ESC ! 08"
    std::string meaning;   // "print mode: emphasized"
    bool known = true;
    // Of an unknown command that another printer family has: that family's name for it
    // ("ESC/P: condensed printing on"), shown after "unknown".
    std::string family;
};

// Names one complete non-text command (as the command splitter bounds it).
CommandInfo DescribeCommand(const uint8_t* bytes, size_t length);
// Names a command from its first bytes alone (its header and a few more; a long command that is
// not held whole): the same name and meaning as the whole command has.
CommandInfo DescribeCommandStart(const uint8_t* head, size_t headLength);

struct DecodedCommand {
    size_t offset = 0;
    std::vector<uint8_t> bytes;  // of a long command, its first bytes only
    size_t length = 0;           // its length in the stream when bytes holds only its start
    std::string mnemonic;  // for text: empty
    std::string meaning;   // for text: the characters in double quotes (UTF-8)
    bool known = true;
    bool text = false;
    std::string family;  // see CommandInfo
};

// One line of the decoding. Long commands show their first bytes and their length.
// The length of a command in the stream (length, or the size of bytes).
inline size_t StreamLength(const DecodedCommand& c) { return c.length > c.bytes.size() ? c.length : c.bytes.size(); }
std::string FormatDecoded(const DecodedCommand& command);
// The first column of a line: the offset in hexadecimal, at least four digits ("002A").
std::string DecodedOffset(size_t offset);

// A count with its digits grouped by commas, as the decoding and the pictures' notes write it:
// "50,000".
std::string GroupedNumber(uint64_t n);

// Decodes a whole stream from the start-up state of a printer of the model (code table PC437), on
// its paper: the print area that margins, page areas and symbols are held against is the model's.
// At most maxLines lines; when more commands follow, a last line counts them ("... and 12 more
// commands"). maxLines 0: no limit.
std::string DecodeStream(const uint8_t* data, size_t n, size_t maxLines = 0,
                         protocol::Model model = protocol::kStartModel);
std::vector<DecodedCommand> DecodeCommands(const uint8_t* data, size_t n,
                                           protocol::Model model = protocol::kStartModel);

}  // namespace pellory::receipt
