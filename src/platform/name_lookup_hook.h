// The name lookup hook of device_kind.h as the network openers read it (platform-internal).
#pragma once

#include "platform/device_kind.h"

namespace pellory::platform::detail {

// The hook in place now (empty when none): a lookup takes it as it starts.
NameLookupHook CurrentNameLookupHook();

}  // namespace pellory::platform::detail
