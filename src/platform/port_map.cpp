// The COM port map (see port_map.h for the lookup order): the overrides, the virtual printers
// and the numbering, the same on every OS. What the system itself offers is read by the OS's
// file: port_map_posix.cpp (sysfs and /dev), port_map_win.cpp (the registry's serial map).
#include "platform/port_map.h"

#include "platform/decimal_text.h"
#include "platform/device_kind.h"
#include "platform/port_map_system.h"

#include <algorithm>
#include <set>

namespace pellory::platform {

namespace {

constexpr const char* kEnvPrefix = "PELLORY_COM";

// Parses a port number: decimal digits only (an optional "COM" prefix is allowed), in range.
std::optional<int> ParsePortNumber(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 3 && (digits[0] == 'C' || digits[0] == 'c') && (digits[1] == 'O' || digits[1] == 'o') &&
        (digits[2] == 'M' || digits[2] == 'm')) {
        digits = digits.substr(3);
    }
    const std::optional<int32_t> value = ReadDigits(digits, 4);
    if (!value || *value < kMinPortNumber || *value > kMaxPortNumber) return std::nullopt;
    return *value;
}

// Parses "<n>=<port>" with a non-empty port. why, when set, tells what is wrong with a network
// entry that is not well formed.
bool ParsePair(const std::string& text, int& n, std::string& path, std::string* why = nullptr) {
    const auto eq = text.find('=');
    if (eq == std::string::npos) return false;
    const auto number = ParsePortNumber(text.substr(0, eq));
    if (!number) return false;
    path = text.substr(eq + 1);
    if (path.empty()) return false;
    // A network entry must be well formed here already, where the user can be told.
    if (IsNetworkEntry(path) && !ParseNetworkAddress(path, why)) return false;
    n = *number;
    return true;
}

}  // namespace

PortMap& PortMap::instance() {
    static PortMap map;
    return map;
}

PortMap::PortMap() = default;

void PortMap::loadEnvironment() {
    std::map<int, PortEntry> found;
    const std::string prefix = kEnvPrefix;
    for (const std::string& item : detail::EnvironmentEntries()) {
        if (item.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string rest = item.substr(prefix.size());
        int n = 0;
        std::string path;
        // Only the number itself may stand between the prefix and '=': PELLORY_COMX=... is ignored.
        if (rest.empty() || rest[0] < '0' || rest[0] > '9' || !ParsePair(rest, n, path)) continue;
        PortEntry e;
        e.number = n;
        e.path = path;
        e.description = "set by " + prefix + std::to_string(n);
        e.source = PortEntry::Source::Override;
        found[n] = e;
    }
    std::lock_guard<std::mutex> lock(m_);
    envOverrides_ = std::move(found);
}

bool PortMap::parseArguments(std::vector<std::string>& args, std::string* error) {
    std::vector<std::string> rest;
    std::vector<std::pair<int, std::string>> pairs;
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        if (a == "--com") {
            if (i + 1 >= args.size()) return fail("--com needs a value of the form <n>=<port>");
            value = args[++i];
        } else if (a.compare(0, 6, "--com=") == 0) {
            value = a.substr(6);
        } else {
            rest.push_back(a);
            continue;
        }
        int n = 0;
        std::string path;
        std::string why;
        if (!ParsePair(value, n, path, &why)) {
            std::string text = "--com expects <n>=<port> with n from " + std::to_string(kMinPortNumber) + " to " +
                               std::to_string(kMaxPortNumber) + ", got \"" + PrintableText(value) + "\"";
            if (!why.empty()) text += ": " + why;
            return fail(text);
        }
        pairs.emplace_back(n, path);
    }
    for (const auto& [n, path] : pairs) setOverride(n, path, "set by --com");
    args = std::move(rest);
    return true;
}

void PortMap::setOverride(int n, const std::string& path, const std::string& description) {
    if (n < kMinPortNumber || n > kMaxPortNumber || path.empty()) return;
    PortEntry e;
    e.number = n;
    e.path = path;
    e.description = description.empty() ? "override" : description;
    e.source = PortEntry::Source::Override;
    std::lock_guard<std::mutex> lock(m_);
    overrides_[n] = e;
}

void PortMap::clearOverride(int n) {
    std::lock_guard<std::mutex> lock(m_);
    overrides_.erase(n);
    envOverrides_.erase(n);
}

void PortMap::clearOverrides() {
    std::lock_guard<std::mutex> lock(m_);
    overrides_.clear();
    envOverrides_.clear();
}

int PortMap::addVirtual(const std::string& path, const std::string& description) {
    std::lock_guard<std::mutex> lock(m_);
    // A virtual printer keeps the number it got at registration (so removing another one does
    // not move it); it takes the lowest number that neither an override nor another virtual
    // printer holds now.
    std::set<int> taken;
    for (const auto& [n, e] : envOverrides_) taken.insert(n);
    for (const auto& [n, e] : overrides_) taken.insert(n);
    for (const auto& e : buildLocked()) {
        if (e.source == PortEntry::Source::Virtual) taken.insert(e.number);
    }
    int number = 0;
    for (int n = kMinPortNumber; n <= kMaxPortNumber; ++n) {
        if (!taken.count(n)) {
            number = n;
            break;
        }
    }
    if (number == 0) return 0;
    PortEntry e;
    e.number = number;
    e.path = path;
    e.description = description;
    e.source = PortEntry::Source::Virtual;
    virtuals_.push_back(e);
    return number;
}

void PortMap::removeVirtual(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_);
    virtuals_.erase(
        std::remove_if(virtuals_.begin(), virtuals_.end(), [&](const PortEntry& e) { return e.path == path; }),
        virtuals_.end());
}

void PortMap::rescan() {
    std::lock_guard<std::mutex> lock(m_);
    system_ = detail::ScanSystemPorts(sysRoot_, devRoot_);
    scanned_ = true;
}

void PortMap::setSystemRoots(const std::string& sysClassTty, const std::string& devDir) {
    std::lock_guard<std::mutex> lock(m_);
    sysRoot_ = sysClassTty;
    devRoot_ = devDir;
    system_.clear();
    scanned_ = false;
}

void PortMap::ensureScannedLocked() {
    if (scanned_) return;
    system_ = detail::ScanSystemPorts(sysRoot_, devRoot_);
    scanned_ = true;
}

std::vector<PortEntry> PortMap::buildLocked() {
    std::map<int, PortEntry> map = envOverrides_;
    for (const auto& [n, e] : overrides_) map[n] = e;  // the command line wins
    auto lowestFree = [&map](int from) {
        for (int n = from; n <= kMaxPortNumber; ++n) {
            if (!map.count(n)) return n;
        }
        return 0;
    };
    // Virtual printers first keep their own numbers; one whose number an override took since
    // moves to the lowest free number, after the others are placed.
    std::vector<const PortEntry*> moved;
    for (const auto& v : virtuals_) {
        if (map.count(v.number)) {
            moved.push_back(&v);
            continue;
        }
        map[v.number] = v;
    }
    for (const PortEntry* v : moved) {
        const int n = lowestFree(kMinPortNumber);
        if (n == 0) break;
        PortEntry e = *v;
        e.number = n;
        map[n] = e;
    }
    // A system port that carries its own number (Windows' COMn) keeps it while it is free; the
    // others, and one whose number is taken, are numbered upward from the lowest free number.
    std::vector<const PortEntry*> unnumbered;
    for (const auto& s : system_) {
        if (s.number >= kMinPortNumber && s.number <= kMaxPortNumber && !map.count(s.number)) {
            map[s.number] = s;
        } else {
            unnumbered.push_back(&s);
        }
    }
    int next = kMinPortNumber;
    for (const PortEntry* sp : unnumbered) {
        const PortEntry& s = *sp;
        next = lowestFree(next);
        if (next == 0) break;
        PortEntry e = s;
        e.number = next;
        map[next] = e;
    }
    std::vector<PortEntry> out;
    out.reserve(map.size());
    for (auto& [n, e] : map) out.push_back(std::move(e));
    return out;
}

std::optional<PortEntry> PortMap::resolve(int n) {
    if (n < kMinPortNumber || n > kMaxPortNumber) return std::nullopt;
    std::unique_lock<std::mutex> lock(m_);
    ensureScannedLocked();
    for (auto& e : buildLocked()) {
        if (e.number == n) return e;
    }
    return std::nullopt;
}

std::optional<PortEntry> PortMap::portToOpen(int n) {
    std::optional<PortEntry> entry = resolve(n);
#ifdef _WIN32
    // Windows opens a COM port by its own name even where the registry does not list it (a port a
    // driver makes without listing it, a port Wine maps later): opening tells whether it is there.
    if (!entry && n >= kMinPortNumber && n <= kMaxPortNumber) {
        entry = PortEntry{n, "COM" + std::to_string(n), "", PortEntry::Source::System};
    }
#endif
    return entry;
}

std::vector<PortEntry> PortMap::entries() {
    std::unique_lock<std::mutex> lock(m_);
    ensureScannedLocked();
    return buildLocked();
}

}  // namespace pellory::platform
