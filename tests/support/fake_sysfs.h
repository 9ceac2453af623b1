// A small sysfs tree in a scratch folder, laid out as the kernel lays out USB printers and
// USB serial adapters: class entries whose "device" link leads into the devices tree, a root
// hub with its own strings above every device.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "support/scratch_folder.h"

namespace pellory::test {

class FakeUsbSysfs {
public:
    FakeUsbSysfs() {
        // The root hub speaks for itself only.
        Device("", "Linux xhci-hcd", "xHCI Host Controller");
    }
    const std::string& root() const { return root_; }

    // A USB device below the root hub ("1-1"); an empty maker or product leaves its file out.
    void Device(const std::string& name, const std::string& maker, const std::string& product) {
        const std::string dir = DeviceDir(name);
        std::filesystem::create_directories(dir);
        Write(dir + "/idVendor", "0fe6\n");
        if (!maker.empty()) Write(dir + "/manufacturer", maker + "\n");
        if (!product.empty()) Write(dir + "/product", product + "  \n");
    }
    // The printer class entry usbmisc/lp<k> of interface 0 of device.
    void Printer(const std::string& lp, const std::string& device) {
        const std::string iface = DeviceDir(device) + "/" + device + ":1.0";
        std::filesystem::create_directories(iface + "/usbmisc/" + lp);
        Link(root_ + "/class/usbmisc/" + lp, iface);
    }
    // The tty class entry of a serial adapter: ttyUSB ports sit below the interface, ttyACM ports
    // are the interface itself.
    void Adapter(const std::string& tty, const std::string& device) {
        std::string target = DeviceDir(device) + "/" + device + ":1.0";
        if (tty.rfind("ttyUSB", 0) == 0) target += "/" + tty;
        std::filesystem::create_directories(target);
        Link(root_ + "/class/tty/" + tty, target);
    }

private:
    std::string DeviceDir(const std::string& name) const {
        const std::string hub = root_ + "/devices/pci0000:00/0000:00:14.0/usb1";
        return name.empty() ? hub : hub + "/" + name;
    }
    // class/<kind>/<name> with a "device" link to target, as sysfs has it.
    void Link(const std::string& entry, const std::string& target) {
        std::filesystem::create_directories(entry);
        std::filesystem::create_directory_symlink(target, entry + "/device");
    }
    static void Write(const std::string& file, const std::string& text) { std::ofstream(file) << text; }

    ScratchFolder folder_{"pellory_sysfs"};
    std::string root_ = folder_.Folder();
};

}  // namespace pellory::test
