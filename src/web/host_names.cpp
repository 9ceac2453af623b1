#include "web/host_names.h"

#include <algorithm>
#include <cctype>

#include "platform/sockets.h"
#include "web/web_request.h"

namespace pellory::web {

namespace {

// How long the interfaces' addresses, once read, are taken as they are.
constexpr std::chrono::seconds kAddressesFresh{5};

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// An address written as text, in binary (4 bytes for IPv4, 16 for IPv6); empty for a name.
std::string AddressBytes(const std::string& text) { return platform::NumericAddress(text); }

// A name as compared: lower case, without the brackets of an IPv6 address or a last dot.
std::string Comparable(std::string_view name) {
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    if (!name.empty() && name.back() == '.') name.remove_suffix(1);
    return Lower(name);
}

}  // namespace

bool IsHostName(std::string_view name) {
    if (name.empty() || name.size() > 253) return false;
    if (name.front() == '[') {
        return name.size() > 2 && name.back() == ']' &&
               AddressBytes(std::string(name.substr(1, name.size() - 2))).size() == 16;
    }
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.'; });
}

HostNames::HostNames(const vprinter::ListenAddress& bound, std::vector<std::string> given)
    : reachable_(!vprinter::IsLoopback(bound)) {
    for (const std::string& name : given) given_.push_back(Comparable(name));
    if (!reachable_) return;
    if (const std::string name = platform::MachineName(); !name.empty()) hostName_ = Comparable(name);
    addresses_ = platform::InterfaceAddresses();
    addressesRead_ = std::chrono::steady_clock::now();
}

std::optional<HostRefusal> HostNames::refusal(const std::vector<std::string>& hosts) const {
    if (hosts.empty()) return HostRefusal{400, "a Host header is needed"};
    if (hosts.size() > 1) return HostRefusal{400, "more than one Host header"};
    const std::string_view host = hosts.front();
    std::string_view name = host;
    std::optional<std::string_view> port;
    if (!host.empty() && host.front() == '[') {
        const size_t close = host.find(']');
        const std::string_view rest = close == std::string_view::npos ? "?" : host.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return HostRefusal{403, "the Host header is not a host name"};
        name = host.substr(0, close + 1);
        if (!rest.empty()) port = rest.substr(1);
    } else if (const size_t colon = host.find(':'); colon != std::string_view::npos) {
        name = host.substr(0, colon);
        port = host.substr(colon + 1);
    }
    if (port) {
        const std::optional<uint64_t> number = ReadNumber(*port);
        if (!number || *number < 1 || *number > 65535)
            return HostRefusal{403, "the Host header's port cannot exist: it is a number from 1 to 65535"};
    }
    if (!isOwnName(Comparable(name))) {
        return HostRefusal{403,
                           "another host: ask for this server by a name or address of this machine (or serve "
                           "with --http-host NAME)"};
    }
    return std::nullopt;
}

bool HostNames::isOwnName(const std::string& name) const {
    if (name.empty()) return false;
    if (vprinter::IsLoopback(vprinter::ListenAddress{name, 0})) return true;
    const std::string bytes = AddressBytes(name);
    for (const std::string& given : given_) {
        if (given == name || (!bytes.empty() && AddressBytes(given) == bytes)) return true;
    }
    if (!reachable_) return false;
    if (bytes.empty()) return name == hostName_;
    return isOwnAddress(bytes);
}

bool HostNames::isOwnAddress(const std::string& bytes) const {
    platform::MutexLock lock(addressesMutex_);
    const auto listed = [&]() REQUIRES(addressesMutex_) {
        return std::find(addresses_.begin(), addresses_.end(), bytes) != addresses_.end();
    };
    if (listed()) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now - addressesRead_ < kAddressesFresh) return false;
    addresses_ = platform::InterfaceAddresses();
    addressesRead_ = now;
    return listed();
}

}  // namespace pellory::web
