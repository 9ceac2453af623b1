// Who may use a device, on Windows: a COM port has no owner group to join and no permission
// bits the program could hint at; a port that is refused is held by another program (Busy).
#include "platform/device_access.h"
#include "platform/serial_device.h"

namespace pellory::platform {

std::optional<DeviceAccess> ReadDeviceAccess(const std::string&) { return std::nullopt; }

std::string DeviceGroup(const std::string&) { return {}; }

}  // namespace pellory::platform
