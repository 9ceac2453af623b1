// How messages name a port, and why opening one was refused.
#pragma once

#include <optional>
#include <string>

#include "platform/device_access.h"

namespace pellory::link {

// The port as messages name it: "COM3 (/dev/ttyUSB0)"; a number bound to a device path that the
// user gave as a path (the command line's --port /dev/...) is named by that path alone, since
// the number is only the program's own handle for it. Control characters and bytes that are not
// UTF-8 in the path are written \xHH.
std::string PortCaption(int number, const std::string& path);
// Marks number as named by its path (or no longer so). Process-wide; safe from any thread.
void SetNamedByPath(int number, bool byPath);

// The reason shown when opening path was refused for lack of permission. It names a group to
// join only when joining would help: a group other than root whose members may read and write
// the device, and which this process is not in yet. Without access data: the bare refusal.
std::string PermissionDeniedReason(const std::string& path, const std::optional<platform::DeviceAccess>& access);

// "crw-rw---- root:dialout": the type, the permission bits, the owner and the group (numbers
// where they have no name).
std::string PermissionText(const platform::DeviceAccess& access);

}  // namespace pellory::link
