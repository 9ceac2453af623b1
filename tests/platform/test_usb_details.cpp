// The maker and product of USB ports read from a sysfs tree (a fake one in a temporary folder).
#include <gtest/gtest.h>

#include "platform/usb_details.h"
#include "support/fake_sysfs.h"

using namespace pellory::platform;

TEST(UsbDetails, PrintersAndAdaptersNameTheirDeviceAndNothingElseSpeaksForThem) {
    pellory::test::FakeUsbSysfs sys;
    sys.Device("1-1", "ACME Corp.", "Receipt 80");
    sys.Printer("lp0", "1-1");
    sys.Device("1-2", "", "USB-Serial Controller");
    sys.Adapter("ttyUSB0", "1-2");
    sys.Device("1-3", "Orva", "CDC Printer");
    sys.Adapter("ttyACM1", "1-3");
    sys.Device("1-4", "", "");  // gives no strings: the root hub above must not answer for it
    sys.Adapter("ttyACM2", "1-4");
    sys.Printer("lp3", "1-4");
    const std::string& root = sys.root();

    const auto lp0 = ReadUsbDetails("/dev/usb/lp0", root);
    ASSERT_TRUE(lp0.has_value());
    EXPECT_EQ(lp0->manufacturer, "ACME Corp.");
    EXPECT_EQ(lp0->product, "Receipt 80");
    EXPECT_EQ(UsbPortTip("/dev/usb/lp0", root), "/dev/usb/lp0 - ACME Corp. Receipt 80");
    // A ttyUSB port sits one level further down than the interface.
    EXPECT_EQ(UsbPortTip("/dev/ttyUSB0", root), "/dev/ttyUSB0 - USB-Serial Controller");
    EXPECT_EQ(UsbPortTip("/dev/ttyACM1", root), "/dev/ttyACM1 - Orva CDC Printer");

    // Missing strings, a missing class entry, or a port that is not USB: the path alone.
    EXPECT_FALSE(ReadUsbDetails("/dev/ttyACM2", root).has_value());
    EXPECT_EQ(UsbPortTip("/dev/ttyACM2", root), "/dev/ttyACM2");
    EXPECT_EQ(UsbPortTip("/dev/usb/lp3", root), "/dev/usb/lp3");
    EXPECT_EQ(UsbPortTip("/dev/usb/lp7", root), "/dev/usb/lp7");
    EXPECT_EQ(UsbPortTip("/dev/ttyUSB9", root), "/dev/ttyUSB9");
    // /dev/lp0 is a parallel port, whatever usbmisc/lp0 is.
    EXPECT_FALSE(ReadUsbDetails("/dev/lp0", root).has_value());
    EXPECT_EQ(UsbPortTip("/dev/lp0", root), "/dev/lp0");
    EXPECT_FALSE(ReadUsbDetails("/dev/ttyS0", root).has_value());
    EXPECT_FALSE(ReadUsbDetails("tcp://127.0.0.1:9100", root).has_value());
}
