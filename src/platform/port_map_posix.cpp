// The system's serial ports on POSIX systems, for the COM port map (port_map.h).
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
#include "platform/port_map_system.h"

#include "platform/decimal_text.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>

extern char** environ;

namespace pellory::platform::detail {

namespace {

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
    static const char* const names[] = {"unknown", "8250",    "16450",    "16550",    "16550A", "Cirrus",
                                        "16650",   "16650V2", "16750",    "Startech", "16C950", "16654",
                                        "16850",   "RSA",     "NS16550A", "XScale"};
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

}  // namespace

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
                if (name.size() <= group.prefix.size() || name.compare(0, group.prefix.size(), group.prefix) != 0)
                    continue;
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

std::vector<std::string> EnvironmentEntries() {
    std::vector<std::string> out;
    for (char** env = environ; env && *env; ++env) out.emplace_back(*env);
    return out;
}

}  // namespace pellory::platform::detail
