// Which names a request may give in its Host header: this machine's, and those given with
// --http-host. A page of another site whose name is made to point at this machine (DNS rebinding)
// sends its own name, and is refused before it reads or changes anything.
//
// Always: the loopback names (localhost, 127.0.0.0/8, [::1]). A server listening on an address that
// others can reach also takes the machine's host name and the addresses of its interfaces (read
// again, at most every few seconds, when an address is not among them: they may change). A name
// may carry a port, 1 to 65535.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/thread_annotations.h"
#include "vprinter/printer_server.h"

namespace pellory::web {

// Why a request's Host headers are refused: the status (400 or 403) and the reason.
struct HostRefusal {
    int status = 403;
    std::string why;
};

// Whether a name fits --http-host: letters, digits, '-' and '.', or an IPv6 address in brackets; at
// most 253 characters, no port.
bool IsHostName(std::string_view name);

class HostNames {
public:
    // bound: the address the web server listens on; given: the names of --http-host.
    HostNames(const vprinter::ListenAddress& bound, std::vector<std::string> given);

    // Nothing when the Host headers of a request (every one it has, in order) name this machine;
    // else the refusal: none, or more than one (400); a port that cannot exist or another name (403).
    std::optional<HostRefusal> refusal(const std::vector<std::string>& hosts) const;

private:
    bool isOwnName(const std::string& name) const;  // lower case, without brackets or port
    bool isOwnAddress(const std::string& name) const EXCLUDES(addressesMutex_);

    bool reachable_ = false;  // others can reach the server: the machine's names count too
    std::vector<std::string> given_;
    std::string hostName_;
    mutable platform::Mutex addressesMutex_;
    mutable std::vector<std::string> addresses_ GUARDED_BY(addressesMutex_);  // the interfaces', in binary
    mutable std::chrono::steady_clock::time_point addressesRead_ GUARDED_BY(addressesMutex_);
};

}  // namespace pellory::web
