// The tooltips of a history row: its hex text laid out 16 bytes a line (the Hex column), and the
// decoding of its bytes, its first 50 commands and a count of the rest, each line cut to 120
// characters (the Tips column).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace pellory::app {

inline constexpr size_t kTooltipCommands = 50;
inline constexpr size_t kTooltipLineLimit = 120;

// From the row's bytes: one line per command, without the last line break.
std::string HistoryRowDecoding(std::span<const uint8_t> bytes);
// The same from the row's echo text ("1B 21 08 ").
std::string HistoryRowDecoding(const std::string& echo);

// The tooltip of a row's hex text: 16 bytes a line, at most kTooltipHexBytes bytes, then how
// many more there are.
inline constexpr size_t kTooltipHexBytes = 1024;
std::string HistoryRowHexTooltip(std::span<const uint8_t> bytes);

}  // namespace pellory::app
