// A command as the splitters hand it out: its bytes with what the tables say of them, found once
// by the splitter so that no receiver looks them up again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/command_splitter.h"
#include "protocol/command_table.h"
#include "protocol/function_table.h"

namespace pellory::protocol {

struct CommandView {
    Command::Kind kind = Command::Kind::Text;
    const uint8_t* bytes = nullptr;
    size_t length = 0;
    // Its entry; nullptr for a text run and for a command no entry names.
    const CommandEntry* entry = nullptr;
    // The function of a function-coded command the function table has; else nullptr.
    const FunctionEntry* function = nullptr;

    bool is(CommandId id) const { return entry != nullptr && entry->id == id; }
    // The byte at offset i from the command's first byte; 0 past its end.
    uint8_t at(size_t i) const { return i < length ? bytes[i] : 0; }
    // Its i-th parameter (0 the first): the i-th byte after its introducer; 0 past its end.
    uint8_t parameter(size_t i) const { return at((entry ? entry->introducer.size : size_t{1}) + i); }
    // Its data: the bytes after the head its entry gives (empty for a command of fixed length and
    // for one without an entry).
    std::span<const uint8_t> data() const {
        if (entry == nullptr || entry->length.rule == Rule::Fixed || entry->length.head >= length) return {};
        return {bytes + entry->length.head, length - entry->length.head};
    }
};

// The view of the command bytes[0, length) of kind `kind` whose entry is `entry` (found by the
// caller, nullptr for none): its function is looked up here.
CommandView ViewOf(Command::Kind kind, const uint8_t* bytes, size_t length, const CommandEntry* entry);
// The same, the entry looked up too.
CommandView ViewOf(Command::Kind kind, const uint8_t* bytes, size_t length);

}  // namespace pellory::protocol
