// What the COM port map reads from the system (platform-internal): one implementation per OS,
// port_map_posix.cpp and port_map_win.cpp.
#pragma once

#include <string>
#include <vector>

#include "platform/port_map.h"

namespace pellory::platform::detail {

// The roots PortMap reads the system's ports from unless a test names others.
inline constexpr const char* kDefaultSysRoot = "/sys/class/tty";
inline constexpr const char* kDefaultDevRoot = "/dev";

// Reads the system's serial ports in their numbering order (numbers are given at build time).
// On POSIX systems sysRoot is sysfs's tty class folder (the usbmisc class folder beside it tells
// about USB printers) and devRoot the folder of the device nodes. Windows reads its registry's
// serial map, or, when sysRoot is not the default (kDefaultSysRoot, a test's), the key sysRoot
// under HKEY_CURRENT_USER; it takes no devRoot.
std::vector<PortEntry> ScanSystemPorts(const std::string& sysRoot, const std::string& devRoot);

// The process's environment as "NAME=VALUE" texts (UTF-8 on Windows).
std::vector<std::string> EnvironmentEntries();

}  // namespace pellory::platform::detail
