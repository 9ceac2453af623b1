// The texts of the serial device's results, the same on every OS.
#include "platform/serial_device.h"

namespace pellory::platform {

const char* DescribeResult(SerialResult r) {
    switch (r) {
        case SerialResult::Ok:
            return "success";
        case SerialResult::InvalidArgument:
            return "invalid request or port not open";
        case SerialResult::NotFound:
            return "no such device";
        case SerialResult::AccessDenied:
            return "permission denied";
        case SerialResult::Busy:
            return "device busy: another program holds it";
        case SerialResult::IoError:
            return "input/output error: the device failed";
        case SerialResult::Removed:
            return "the device was removed";
        case SerialResult::Timeout:
            return "timed out";
        case SerialResult::Unsupported:
            return "not supported by the device";
        case SerialResult::Pending:
            return "operation still in progress";
        case SerialResult::Interrupted:
            return "interrupted";
    }
    return "unknown error";
}

}  // namespace pellory::platform
