// The functions of the function-coded commands: one table (function_table.cpp) under the command
// table (command_table.h) that names each function by its number, tells the range of its first
// parameters, the mode byte m it requires, and whether the printer answers it or leaves the paper
// as it is. The commands it covers are understood ones whose function byte sits at a fixed place: GS ( k (cn, then fn), GS ( L and GS 8 L
// (m, then fn), GS ( E, GS ( H, GS ( N, FS ( A, ESC ( A (fn after pL pH), ESC c, GS g and DLE DC4
// (fn after the introducer).
//
// The names of functions.h are the numbers of some of these entries; the table checks that they
// agree, at compile time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "protocol/command_table.h"
#include "protocol/functions.h"

namespace pellory::protocol {

// Where a function-coded command carries its function: byte offsets from the command's first
// byte; 0 where it has no such byte.
struct FunctionLayout {
    CommandId command;
    uint8_t cnAt;  // the symbol of GS ( k
    uint8_t fnAt;  // the function
    uint8_t mAt;   // the mode byte m of the functions that require one
};

// One parameter's range, both ends included.
struct ParameterRange {
    uint8_t low = 0;
    uint8_t high = 255;
};

enum FunctionFlag : uint8_t {
    // The printer answers it (the virtual printer sends bytes back).
    kFunctionAnswered = 1,
    // The printer takes it but the paper shows nothing of it, now or later (a request, a buzzer, a
    // setting the drawing has no part for).
    kFunctionNoPaperEffect = 2,
};

struct FunctionEntry {
    CommandId command;
    uint8_t cn;  // GS ( k: the symbol; 0 for the other commands
    uint8_t fn;
    uint8_t m;                    // the mode byte it requires at the layout's mAt; 0: none
    std::string_view name;        // "QR code: module size"
    std::string_view parameters;  // its parameters after fn and m: "n"
    // The ranges of its first parameters after fn and m (at most two, `ranges` of them counted).
    std::array<ParameterRange, 2> range{};
    uint8_t ranges = 0;
    // Of a command whose length its function decides (DLE DC4): the whole command's length in
    // bytes. 0: the command's length rule tells it.
    uint8_t length = 0;
    uint8_t flags = 0;

    constexpr bool answered() const { return (flags & kFunctionAnswered) != 0; }
    constexpr bool noPaperEffect() const { return (flags & kFunctionNoPaperEffect) != 0; }
};

// Every entry, ordered by command (in the order of CommandId), then cn, then fn; each once.
std::span<const FunctionEntry> FunctionTable();
// The layouts, one for each command the function table covers, in the order of CommandId.
std::span<const FunctionLayout> FunctionLayouts();

// The layout of a command, or nullptr when the function table does not cover it.
const FunctionLayout* LayoutOf(CommandId command);
// The entry of one function, or nullptr.
const FunctionEntry* FindFunction(CommandId command, uint8_t cn, uint8_t fn);
// The entry of the function of the command bytes[0, n) whose command entry is `entry`, or nullptr
// (a command the table does not cover, a function it has no entry for, or bytes that end before
// the function byte). A mode byte other than the one the function requires is no function of it.
const FunctionEntry* FunctionOf(const CommandEntry& entry, const uint8_t* bytes, size_t n);

// The length of DLE DC4 fn ... for the function fn: its entry's length, or 3 (the introducer and
// fn alone) for a function the table does not have.
size_t RealTimeFunctionLength(uint8_t fn);

}  // namespace pellory::protocol
