#include "platform/usb_details.h"

#include "platform/decimal_text.h"

#include <cctype>
#include <fstream>

namespace pellory::platform {

namespace {

// How many folders above the device the search goes.
constexpr int kLevelsUp = 4;

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "<prefix><digits>".
bool NumberedName(const std::string& name, const std::string& prefix) {
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           AllDigits(std::string_view(name).substr(prefix.size()));
}

// The first line of a file without its trailing blanks; nothing when the file cannot be read.
std::optional<std::string> FirstLine(const std::string& file) {
    std::ifstream in(file);
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

// The class folder of the device's sysfs entry, or empty for a path that is no USB port.
std::string ClassEntry(const std::string& devicePath, const std::string& sysRoot) {
    const std::string name = BaseName(devicePath);
    const bool usbFolder = devicePath.find("/usb/") != std::string::npos;
    if (usbFolder && NumberedName(name, "lp")) return sysRoot + "/class/usbmisc/" + name;
    if (NumberedName(name, "ttyUSB") || NumberedName(name, "ttyACM")) return sysRoot + "/class/tty/" + name;
    return {};
}

}  // namespace

std::optional<UsbDetails> ReadUsbDetails(const std::string& devicePath, const std::string& sysRoot) {
    const std::string entry = ClassEntry(devicePath, sysRoot);
    if (entry.empty()) return std::nullopt;
    // "device/.." goes through the link to the device and then up, as the kernel resolves it.
    std::string folder = entry + "/device/..";
    for (int level = 0; level < kLevelsUp; ++level, folder += "/..") {
        const std::optional<std::string> maker = FirstLine(folder + "/manufacturer");
        const std::optional<std::string> product = FirstLine(folder + "/product");
        if (maker || product) return UsbDetails{maker.value_or(""), product.value_or("")};
        // A USB device that gives neither string: the hub above it must not speak for it.
        if (FirstLine(folder + "/idVendor")) break;
    }
    return std::nullopt;
}

std::string UsbPortTip(const std::string& devicePath, const std::string& sysRoot) {
    const std::optional<UsbDetails> details = ReadUsbDetails(devicePath, sysRoot);
    if (!details) return devicePath;
    std::string words = details->manufacturer;
    if (!details->product.empty()) words += (words.empty() ? "" : " ") + details->product;
    return words.empty() ? devicePath : devicePath + " - " + words;
}

}  // namespace pellory::platform
