// Opening network printers on Windows, for SerialDevice (platform-internal).
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <string>

#include "platform/serial_device.h"

namespace pellory::platform::detail {

struct OpenedSocket {
    SerialResult result = SerialResult::Ok;
    SOCKET socket = INVALID_SOCKET;  // non-blocking
    std::string reason;              // why it failed, for the user (empty when the result says it all)
};

// Winsock, started once for the process; false when it cannot start.
bool StartWinsock();

// "tcp://HOST[:PORT]": resolves and connects within timeoutMs in all, then sets TCP_NODELAY and
// keep-alive: the contract of the POSIX ConnectNetwork (device_open_posix.h), the same reasons
// and results. Name resolution runs on a helper thread, so a slow name service costs at most
// the time-out; every address is tried, each after a short head start of the one before.
OpenedSocket ConnectNetwork(const std::string& entry, uint32_t timeoutMs);

}  // namespace pellory::platform::detail
