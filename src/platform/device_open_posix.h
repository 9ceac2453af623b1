// Opening each kind of device, for SerialDevice (platform-internal).
//
// The three kinds share the rest of SerialDevice: one non-blocking descriptor that poll()
// watches, reads and writes of one step at a time, and the waits built on them. What differs is
// here: how the descriptor is made, how a write avoids SIGPIPE, and what an end of file means.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/device_kind.h"
#include "platform/serial_device.h"

namespace pellory::platform::detail {

struct OpenedDevice {
    SerialResult result = SerialResult::Ok;
    int fd = -1;
    DeviceKind kind = DeviceKind::Terminal;
    bool writeOnly = false;  // nothing can be read from it (a FIFO)
    std::string reason;  // why it failed, for the user (empty when the result says it all)
};

// A path: a terminal (raw mode, TIOCEXCL and an advisory lock) or, when the file is not a
// terminal, a printer device file (the advisory lock only): a character device, or a FIFO
// standing in for one, which is opened for writing only (reading it would give back what was
// written). Unsupported for any other file, with the reason saying what it is (a folder, a
// regular file). foundTerminal, when set, is called with a terminal's
// descriptor before anything of its line is changed (so that its settings can be put back).
OpenedDevice OpenDevicePath(const std::string& path, const std::function<void(int fd)>& foundTerminal = {});

// "tcp://HOST[:PORT]": resolves and connects within timeoutMs in all, then sets TCP_NODELAY and
// keep-alive. Name resolution runs on a helper thread, so a slow name service costs at most the
// time-out. Every address of a host name is tried, in the name service's order: each one that
// has not connected after a short head start gets the next one beside it (one that fails at once
// hands over at once), and the first connection made is the one kept.
OpenedDevice ConnectNetwork(const std::string& entry, uint32_t timeoutMs);

// One non-blocking write of the kind: never raises SIGPIPE. Returns what write() returns.
ssize_t WriteNoSignal(int fd, const void* buf, size_t n, DeviceKind kind);

}  // namespace pellory::platform::detail
