// What the COM port map reads from the system (platform-internal): one implementation per OS,
// port_map_posix.cpp and port_map_win.cpp.
#pragma once

#include <string>
#include <vector>

#include "platform/port_map.h"

namespace pellory::platform::detail {

// Reads the system's serial ports in their numbering order (numbers are given at build time).
// On POSIX systems sysRoot is sysfs's tty class folder (the usbmisc class folder beside it tells
// about USB printers) and devRoot the folder of the device nodes; Windows reads its registry's
// serial map and takes neither.
std::vector<PortEntry> ScanSystemPorts(const std::string& sysRoot, const std::string& devRoot);

// The process's environment as "NAME=VALUE" texts (UTF-8 on Windows).
std::vector<std::string> EnvironmentEntries();

}  // namespace pellory::platform::detail
