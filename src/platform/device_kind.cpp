#include "platform/device_kind.h"
#include "platform/name_lookup_hook.h"

#include "platform/decimal_text.h"

#include <algorithm>
#include <cctype>
#include <mutex>

namespace pellory::platform {

bool IsNetworkEntry(std::string_view entry) {
    if (entry.size() < kNetworkScheme.size()) return false;
    for (size_t i = 0; i < kNetworkScheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(entry[i])) != kNetworkScheme[i]) return false;
    }
    return true;
}

std::optional<NetworkAddress> ParseNetworkEntry(std::string_view entry, std::string* error) {
    std::string why;
    std::optional<NetworkAddress> a = ParseNetworkAddress(entry, &why);
    if (!a && error) {
        // Appended piece by piece (GCC 12 at -O3 warns wrongly about "\"" + string).
        error->assign(1, '"');
        error->append(PrintableText(entry));
        error->append("\": ");
        error->append(why);
    }
    return a;
}

std::optional<NetworkAddress> ParseNetworkAddress(std::string_view entry, std::string* whyOut) {
    auto fail = [&](const char* why) -> std::optional<NetworkAddress> {
        if (whyOut) *whyOut = why;
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
        if (std::isspace(u) || std::iscntrl(u) || c == '/' || c == '@' || c == '?' || c == '#') {
            return fail("the host has a character no host has");
        }
    }
    if (!portText.empty()) {
        const std::optional<int32_t> port = ReadDigits(portText, 5);
        if (!port || *port == 0 || *port > 65535) return fail("the port is not 1 .. 65535");
        a.port = static_cast<uint16_t>(*port);
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

namespace {

// The length of the UTF-8 sequence at text[i] (1 to 4), or 0 when no valid one starts there.
size_t Utf8Length(std::string_view text, size_t i) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = at(i);
    if (lead < 0x80) return 1;
    size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    if (at(i + 1) < low || at(i + 1) > high) return 0;
    for (size_t k = 2; k < n; ++k) {
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    }
    return n;
}

}  // namespace

std::string PrintableText(std::string_view text) {
    static const char* const kDigits = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    auto escape = [&](unsigned char b) {
        out += "\\x";
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    };
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const size_t n = Utf8Length(text, i);
        const bool c1 = n == 2 && b == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (n == 0 || c1 || b < 0x20 || b == 0x7F) {
            for (size_t k = 0; k < std::max<size_t>(n, 1); ++k) escape(static_cast<unsigned char>(text[i + k]));
            i += std::max<size_t>(n, 1);
            continue;
        }
        out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

// --- the name lookup hook for tests ---

namespace {

std::mutex& LookupHookMutex() {
    static std::mutex m;
    return m;
}

NameLookupHook& LookupHook() {
    static NameLookupHook hook;
    return hook;
}

}  // namespace

void SetNameLookupHook(NameLookupHook hook) {
    std::lock_guard<std::mutex> lock(LookupHookMutex());
    LookupHook() = std::move(hook);
}

namespace detail {

NameLookupHook CurrentNameLookupHook() {
    std::lock_guard<std::mutex> lock(LookupHookMutex());
    return LookupHook();
}

}  // namespace detail

}  // namespace pellory::platform
