// The tooltip of a history row: the decoding of the row's bytes, its first 50 commands and a
// count of the rest, each line cut to 120 characters. (The history model's Tips column shows it
// as its tooltip.)
#pragma once

#include <cstddef>
#include <string>

namespace pellory::app {

inline constexpr size_t kTooltipCommands = 50;
inline constexpr size_t kTooltipLineLimit = 120;

// From the row's echo text ("1B 21 08 "): one line per command, without the last line break.
std::string HistoryRowDecoding(const std::string& echo);

}  // namespace pellory::app
