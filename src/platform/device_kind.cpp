#include "platform/device_kind.h"

#include <cctype>

namespace pellory::platform {

bool IsNetworkEntry(std::string_view entry) {
    if (entry.size() < kNetworkScheme.size()) return false;
    for (size_t i = 0; i < kNetworkScheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(entry[i])) != kNetworkScheme[i]) return false;
    }
    return true;
}

std::optional<NetworkAddress> ParseNetworkEntry(std::string_view entry, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<NetworkAddress> {
        if (error) {
            // Appended piece by piece (GCC 12 at -O3 warns wrongly about "\"" + string).
            error->assign(1, '"');
            error->append(entry);
            error->append("\": ");
            error->append(why);
        }
        return std::nullopt;
    };
    if (!IsNetworkEntry(entry)) return fail("not of the form tcp://HOST[:PORT]");
    std::string_view rest = entry.substr(kNetworkScheme.size());
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    NetworkAddress a;
    std::string_view portText;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos) return fail("an IPv6 address needs its closing bracket");
        a.host = std::string(rest.substr(1, close - 1));
        std::string_view after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return fail("only :PORT may follow the address");
            portText = after.substr(1);
            if (portText.empty()) return fail("the port is missing after ':'");
        }
    } else {
        const size_t colon = rest.find(':');
        if (colon != std::string_view::npos && rest.find(':', colon + 1) != std::string_view::npos) {
            return fail("an IPv6 address goes in brackets: tcp://[ADDRESS]:PORT");
        }
        a.host = std::string(rest.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = rest.substr(colon + 1);
            if (portText.empty()) return fail("the port is missing after ':'");
        }
    }
    if (a.host.empty()) return fail("the host is missing");
    for (char c : a.host) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isspace(u) || c == '/' || c == '@' || c == '?' || c == '#') return fail("the host has a character no host has");
    }
    if (!portText.empty()) {
        if (portText.size() > 5) return fail("the port is not 1 .. 65535");
        uint32_t port = 0;
        for (char c : portText) {
            if (c < '0' || c > '9') return fail("the port is not 1 .. 65535");
            port = port * 10 + static_cast<uint32_t>(c - '0');
        }
        if (port == 0 || port > 65535) return fail("the port is not 1 .. 65535");
        a.port = static_cast<uint16_t>(port);
    }
    return a;
}

std::string AddressText(const NetworkAddress& address) {
    const bool v6 = address.host.find(':') != std::string::npos;
    std::string text;
    if (v6) text += '[';
    text += address.host;
    if (v6) text += ']';
    text += ':';
    text += std::to_string(address.port);
    return text;
}

std::string NetworkEntry(const NetworkAddress& address) { return std::string(kNetworkScheme) + AddressText(address); }

}  // namespace pellory::platform
