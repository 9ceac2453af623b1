// The maker and product of the USB device behind a USB printer file or a USB serial adapter, as
// sysfs tells them.
//
//   /dev/usb/lp<k>       <sysfs>/class/usbmisc/lp<k>/device is the USB interface
//   /dev/ttyUSB<k>       <sysfs>/class/tty/ttyUSB<k>/device is the adapter's port, below the interface
//   /dev/ttyACM<k>       <sysfs>/class/tty/ttyACM<k>/device is the interface
//
// From the folder above that device, the first folder holding a "manufacturer" or a "product"
// file, a few levels up at most, is the USB device; a USB device folder (one with "idVendor")
// without either ends the search, so that the hub above never speaks for the device.
#pragma once

#include <optional>
#include <string>

namespace pellory::platform {

struct UsbDetails {
    std::string manufacturer;  // empty when the device does not say
    std::string product;
};

inline constexpr const char* kSysfsRoot = "/sys";

// What sysfs (at sysRoot) says about the USB device behind devicePath; nothing for a path that
// names no USB printer file or adapter, or when no folder on the way up says anything.
std::optional<UsbDetails> ReadUsbDetails(const std::string& devicePath, const std::string& sysRoot = kSysfsRoot);

// A port's tooltip on the USB list: "PATH - MAKER PRODUCT", or the path alone when sysfs tells
// neither.
std::string UsbPortTip(const std::string& devicePath, const std::string& sysRoot = kSysfsRoot);

}  // namespace pellory::platform
