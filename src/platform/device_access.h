// Who may use a device file, as its permission bits tell: for the hint shown when opening a
// port is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pellory::platform {

struct DeviceAccess {
    uint32_t mode = 0;         // the file type and permission bits (st_mode)
    uint32_t ownerId = 0;
    uint32_t groupId = 0;
    std::string ownerName;     // empty when the user has no name
    std::string groupName;     // empty when the group has no name
    bool processIsOwner = false;   // this process's effective user owns the device
    bool processInGroup = false;   // the device's group is among this process's groups
};

// The permission data of path (following links); nothing when it cannot be read.
std::optional<DeviceAccess> ReadDeviceAccess(const std::string& path);

}  // namespace pellory::platform
