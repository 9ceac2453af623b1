// The COM port map (see port_map.h for the lookup order).
//
// System ports come from the tty class directory of sysfs:
//  - ttyUSB<k> (USB serial adapters) first, then ttyACM<k> (USB modems and CDC devices), then
//    ttyS<k>; inside each group in natural numeric order of k (ttyS2 before ttyS10).
//  - A ttyS<k> counts only when a real UART is behind it. The kernel creates placeholder ttyS
//    devices for every legacy slot it reserves; those report UART type 0 ("unknown") in their
//    "type" attribute. So: a "type" attribute that reads non-zero means a UART; one that reads 0
//    means a placeholder. Where a driver offers no "type" attribute, the port counts when its
//    device has a driver other than the legacy "serial8250" placeholder platform driver.
//  - The device node must exist under the /dev root: a sysfs entry without a node (as inside a
//    container) cannot be opened, so it gets no number.
// The description names the driver (the first driver found walking up from the tty's device,
// skipping the serial core's own "port"/"ctrl" drivers), the UART type for ttyS ports, and for
// USB devices the maker, product and VID:PID from the USB device above the interface; a USB
// printer file (usb/lp<k>) is described the same way from its usbmisc class entry.
#include "platform/port_map.h"

#include "platform/decimal_text.h"
#include "platform/device_kind.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <set>

extern char** environ;

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

std::string ReadFirstLine(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string ReadLink(const std::string& path) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    if (!::realpath(path.c_str(), buf)) return {};
    return buf;
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}

constexpr int kMaxWalkUp = 10;

// The first driver walking up from a device directory, skipping the serial core's own drivers.
std::string FindDriver(const std::string& deviceDir) {
    std::string dir = deviceDir;
    for (int i = 0; i < kMaxWalkUp && dir != "/" && !dir.empty(); ++i) {
        const std::string target = ReadLink(dir + "/driver");
        if (!target.empty() && target.find("/serial-base/") == std::string::npos) return BaseName(target);
        if (BaseName(dir) == "devices") break;
        dir = Parent(dir);
    }
    return {};
}

// The USB device above a device directory: the first one with idVendor and idProduct.
std::string DescribeUsb(const std::string& deviceDir) {
    std::string dir = deviceDir;
    for (int i = 0; i < kMaxWalkUp && dir != "/" && !dir.empty(); ++i) {
        const std::string vid = ReadFirstLine(dir + "/idVendor");
        const std::string pid = ReadFirstLine(dir + "/idProduct");
        if (!vid.empty() && !pid.empty()) {
            std::string text;
            const std::string maker = ReadFirstLine(dir + "/manufacturer");
            const std::string product = ReadFirstLine(dir + "/product");
            if (!maker.empty()) text = maker;
            if (!product.empty()) text += (text.empty() ? "" : " ") + product;
            if (!text.empty()) text += ", ";
            return text + "USB " + vid + ":" + pid;
        }
        if (BaseName(dir) == "devices") break;
        dir = Parent(dir);
    }
    return {};
}

const char* UartTypeName(int type) {
    static const char* const names[] = {"unknown", "8250",    "16450",  "16550",  "16550A",
                                        "Cirrus",  "16650",   "16650V2", "16750", "Startech",
                                        "16C950",  "16654",   "16850",  "RSA",    "NS16550A",
                                        "XScale"};
    if (type >= 0 && type < static_cast<int>(sizeof names / sizeof names[0])) return names[type];
    return nullptr;
}

struct Candidate {
    int group = 0;  // 0 ttyUSB, 1 ttyACM, 2 ttyS
    long index = 0;
    std::string name;
};

// Splits "ttyUSB12" into its group and number; false for names outside the three groups.
bool Classify(const std::string& name, Candidate& out) {
    static const std::pair<const char*, int> prefixes[] = {{"ttyUSB", 0}, {"ttyACM", 1}, {"ttyS", 2}, {"rfcomm", 3}};
    for (const auto& [prefix, group] : prefixes) {
        const std::string p = prefix;
        if (name.size() <= p.size() || name.compare(0, p.size(), p) != 0) continue;
        const std::optional<int32_t> index = ReadDigits(std::string_view(name).substr(p.size()));
        if (!index) return false;
        out.group = group;
        out.index = *index;
        out.name = name;
        return true;
    }
    return false;
}

// Whether a ttyS entry has a real UART behind it (rule in the file comment).
bool HasRealUart(const std::string& ttyDir, int& uartType) {
    uartType = -1;
    const std::string typeText = ReadFirstLine(ttyDir + "/type");
    if (!typeText.empty()) {
        const std::optional<int32_t> type = ReadDigits(typeText);
        if (!type) return false;
        uartType = *type;
        return *type != 0;
    }
    const std::string device = RealPath(ttyDir + "/device");
    if (device.empty()) return false;
    const std::string driver = FindDriver(device);
    return !driver.empty() && driver != "serial8250";
}

// Reads the system's serial ports in their numbering order (numbers are given at build time).
// sysRoot is sysfs's tty class folder; the usbmisc class folder beside it tells about USB printers.
std::vector<PortEntry> ScanSystemPorts(const std::string& sysRoot, const std::string& devRoot) {
    std::vector<PortEntry> found;
    std::vector<Candidate> candidates;
    if (DIR* dir = ::opendir(sysRoot.c_str())) {
        while (dirent* d = ::readdir(dir)) {
            Candidate c;
            if (Classify(d->d_name, c)) candidates.push_back(c);
        }
        ::closedir(dir);
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return a.group != b.group ? a.group < b.group : a.index < b.index;
    });
    for (const auto& c : candidates) {
        const std::string ttyDir = sysRoot + "/" + c.name;
        int uartType = -1;
        if (c.group == 2 && !HasRealUart(ttyDir, uartType)) continue;
        const std::string devPath = devRoot + "/" + c.name;
        if (!Exists(devPath)) continue;
        const std::string device = RealPath(ttyDir + "/device");
        std::string description;
        if (!device.empty()) description = FindDriver(device);
        if (c.group == 2 && uartType > 0) {
            const char* name = UartTypeName(uartType);
            const std::string uart = name ? std::string(name) + " UART" : "UART type " + std::to_string(uartType);
            description += (description.empty() ? "" : ", ") + uart;
        }
        if (!device.empty()) {
            const std::string usb = DescribeUsb(device);
            if (!usb.empty()) description += (description.empty() ? "" : ", ") + usb;
        }
        if (c.group == 3) description += (description.empty() ? "" : ", ") + std::string("Bluetooth serial port");
        if (description.empty()) description = c.name;
        PortEntry e;
        e.path = devPath;
        e.description = description;
        e.source = PortEntry::Source::System;
        found.push_back(e);
    }
    // Printer device files after the serial ports: USB printers (usb/lp<k>), then parallel
    // ports (lp<k>), each in numeric order.
    const struct {
        std::string dir, prefix, description;
    } printers[] = {{devRoot + "/usb", "lp", "USB printer"}, {devRoot, "lp", "parallel port"}};
    for (const auto& group : printers) {
        std::vector<std::pair<long, std::string>> files;
        if (DIR* dir = ::opendir(group.dir.c_str())) {
            while (dirent* d = ::readdir(dir)) {
                const std::string name = d->d_name;
                if (name.size() <= group.prefix.size() || name.compare(0, group.prefix.size(), group.prefix) != 0) continue;
                const std::optional<int32_t> index = ReadDigits(std::string_view(name).substr(group.prefix.size()));
                if (!index) continue;
                files.emplace_back(*index, name);
            }
            ::closedir(dir);
        }
        std::sort(files.begin(), files.end());
        const bool usb = &group == &printers[0];
        for (const auto& [index, name] : files) {
            PortEntry e;
            e.path = group.dir + "/" + name;
            e.description = group.description;
            // A USB printer says which one it is, as a USB serial adapter does: its maker, product
            // and VID:PID from the USB device above its usbmisc class entry.
            if (usb) {
                const std::string device = RealPath(Parent(sysRoot) + "/usbmisc/" + name + "/device");
                const std::string details = device.empty() ? std::string() : DescribeUsb(device);
                if (!details.empty()) e.description += ", " + details;
            }
            e.source = PortEntry::Source::System;
            found.push_back(e);
        }
    }
    return found;
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
    for (char** env = environ; env && *env; ++env) {
        const std::string item = *env;
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
    virtuals_.erase(std::remove_if(virtuals_.begin(), virtuals_.end(), [&](const PortEntry& e) { return e.path == path; }),
                    virtuals_.end());
}

void PortMap::rescan() {
    std::lock_guard<std::mutex> lock(m_);
    system_ = ScanSystemPorts(sysRoot_, devRoot_);
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
    system_ = ScanSystemPorts(sysRoot_, devRoot_);
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
    int next = kMinPortNumber;
    for (const auto& s : system_) {
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

std::vector<PortEntry> PortMap::entries() {
    std::unique_lock<std::mutex> lock(m_);
    ensureScannedLocked();
    return buildLocked();
}

}  // namespace pellory::platform
