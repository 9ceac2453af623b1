// The kinds of device a port can be, and the text forms of a port map entry that name them.
//
//   /dev/ttyUSB0, /dev/rfcomm0, /dev/pts/3   a serial terminal (termios line settings, modem lines)
//   /dev/usb/lp0, /dev/lp0                   a printer device file: any file that is not a terminal
//   tcp://HOST[:PORT]                        a network printer (raw TCP, PORT 9100 by default);
//                                            HOST is an IPv4 address, an IPv6 address in
//                                            brackets, or a host name
//
// Every kind is opened, read, written and waited on through the same SerialDevice; where a kind
// has no line settings they are accepted and kept but change nothing, and modem lines it does
// not have read as on.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellory::platform {

enum class DeviceKind { Terminal, PrinterFile, Network };

inline constexpr uint16_t kDefaultNetworkPort = 9100;
// How long connecting to a network printer may take in all, name resolution included.
inline constexpr uint32_t kConnectTimeoutMs = 3000;
inline constexpr std::string_view kNetworkScheme = "tcp://";

struct NetworkAddress {
    std::string host;  // without brackets
    uint16_t port = kDefaultNetworkPort;
    bool operator==(const NetworkAddress&) const = default;
};

// Whether an entry names a network printer (starts with "tcp://", any letter case).
bool IsNetworkEntry(std::string_view entry);
// "tcp://HOST[:PORT]" to its parts. Nothing (error set) for a missing host, a host with a space or
// a control character, a port that is not 1..65535, an IPv6 address without brackets, or a path
// after the address. error names the entry ("\"tcp://:9100\": the host is missing", the entry
// made printable); why, the other form, only says what is wrong ("the host is missing").
std::optional<NetworkAddress> ParseNetworkEntry(std::string_view entry, std::string* error = nullptr);
std::optional<NetworkAddress> ParseNetworkAddress(std::string_view entry, std::string* why);
// The entry text of an address: "tcp://host:port", IPv6 in brackets.
std::string NetworkEntry(const NetworkAddress& address);
// "host:port" for messages, IPv6 in brackets.
std::string AddressText(const NetworkAddress& address);

// Text from outside (a host name, a path, what a device answered) made safe to show on a
// terminal or in a message box: control characters (C0, DEL and C1) and bytes that are not
// UTF-8 are written \xHH, byte by byte; everything else stays as it is.
std::string PrintableText(std::string_view text);

// For tests: runs on the helper thread of every name lookup, with the host name, before the
// name service is asked; a hook that waits stands for a slow name service. What it returns, when
// not empty, is the answer instead of the name service's: numeric addresses (IPv4, or IPv6
// without brackets), tried in that order. The hook in place when a lookup starts is the one it
// runs. Empty (the default): none.
using NameLookupHook = std::function<std::vector<std::string>(const std::string& host)>;
void SetNameLookupHook(NameLookupHook hook);

}  // namespace pellory::platform
