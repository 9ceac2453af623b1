// Writing a function-coded command whole: its introducer, its length bytes (pL pH, or p1..p4 of
// GS 8 L) counted from what follows them, its symbol, function and mode byte where its layout
// (function_table.h) has them, then the parameters and the data. The command library, the pages
// and the tests write the commands they send through it, never counting length bytes by hand.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "protocol/command_table.h"
#include "protocol/function_table.h"

namespace pellory::protocol {

// The function f with these parameters (after fn and m) and data (after the parameters). Its
// parameters and data together must fit the command's length bytes (65535 bytes for pL pH).
std::vector<uint8_t> EncodeFunction(const FunctionEntry& f, std::span<const uint8_t> parameters,
                                    std::span<const uint8_t> data = {});
// A command of a length rule with a length field (Rule::Prefix16, Rule::Prefix32): its
// introducer, its length bytes counted from `body`, then `body`.
std::vector<uint8_t> EncodeWithLength(CommandId command, std::span<const uint8_t> body);

}  // namespace pellory::protocol
