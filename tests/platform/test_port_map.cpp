// The COM port map: overrides, virtual printers and system ports from a fake sysfs tree.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "platform/port_map.h"
#include "support/scratch_folder.h"

namespace fs = std::filesystem;
using pellory::platform::PortEntry;
using pellory::platform::PortMap;

namespace {

constexpr int kTestHigh = 1000;

class PortMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root_ / "sys/class/tty");
        fs::create_directories(root_ / "dev");
        // Every test starts from a map that sees no system port unless the test adds some.
        map_.setSystemRoots(sysTty(), dev());
    }
    void TearDown() override {
        for (const auto& name : env_) SetVariable(name, nullptr);
    }

    std::string sysTty() const { return (root_ / "sys/class/tty").string(); }
    std::string dev() const { return (root_ / "dev").string(); }

    void setEnv(const std::string& name, const std::string& value) {
        SetVariable(name, value.c_str());
        env_.push_back(name);
    }
    // Sets (value) or removes (nullptr) an environment variable of the process.
    static void SetVariable(const std::string& name, const char* value) {
#ifdef _WIN32
        ::SetEnvironmentVariableA(name.c_str(), value);
#else
        if (value) {
            ::setenv(name.c_str(), value, 1);
        } else {
            ::unsetenv(name.c_str());
        }
#endif
    }

    void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }
    void link(const fs::path& at, const fs::path& target) {
        fs::create_directories(at.parent_path());
        fs::create_directory_symlink(target, at);
    }
    void devNode(const std::string& name) { write(root_ / "dev" / name, ""); }

    // A tty class entry whose device directory is devDir (made if missing).
    void ttyEntry(const std::string& name, const fs::path& devDir) {
        fs::create_directories(devDir);
        fs::create_directories(root_ / "sys/class/tty" / name);
        link(root_ / "sys/class/tty" / name / "device", devDir);
    }
    void driver(const fs::path& devDir, const std::string& bus, const std::string& name) {
        const fs::path target = root_ / "sys/bus" / bus / "drivers" / name;
        fs::create_directories(target);
        link(devDir / "driver", target);
    }
    void usbDevice(const fs::path& dir, const std::string& vid, const std::string& pid, const std::string& maker,
                   const std::string& product) {
        write(dir / "idVendor", vid);
        write(dir / "idProduct", pid);
        write(dir / "manufacturer", maker);
        write(dir / "product", product);
    }

    // The tree of a machine with two USB adapters, a real and a placeholder legacy port, a
    // UART whose driver has no type attribute, and entries that are not serial ports.
    void buildMachine() {
        const fs::path devices = root_ / "sys/devices";
        // ttyUSB0: an FTDI adapter; the tty's device is the usb-serial port under the interface.
        const fs::path usb1 = devices / "pci0000:00/0000:00:14.0/usb1/1-1";
        usbDevice(usb1, "0403", "6001", "FTDI", "FT232R USB UART");
        ttyEntry("ttyUSB0", usb1 / "1-1:1.0/ttyUSB0");
        driver(usb1 / "1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
        driver(usb1 / "1-1:1.0", "usb", "ftdi_sio");
        // ttyACM0: a CDC device; the tty's device is the interface itself.
        const fs::path usb2 = devices / "pci0000:00/0000:00:14.0/usb1/1-2";
        usbDevice(usb2, "2341", "0043", "Arduino", "Uno");
        ttyEntry("ttyACM0", usb2 / "1-2:1.0");
        driver(usb2 / "1-2:1.0", "usb", "cdc_acm");
        // ttyS0: a 16550A on the PnP bus, reached through the serial core's port device.
        const fs::path pnp = devices / "pnp0/00:01";
        ttyEntry("ttyS0", pnp / "00:01:0/00:01:0.0");
        write(root_ / "sys/class/tty/ttyS0/type", "4");
        driver(pnp / "00:01:0/00:01:0.0", "serial-base", "port");
        driver(pnp / "00:01:0", "serial-base", "ctrl");
        driver(pnp, "pnp", "serial");
        // ttyS1: a placeholder slot of the legacy driver (type 0).
        const fs::path legacy = devices / "platform/serial8250";
        ttyEntry("ttyS1", legacy / "serial8250:0/serial8250:0.1");
        write(root_ / "sys/class/tty/ttyS1/type", "0");
        driver(legacy, "platform", "serial8250");
        // ttyS2: an embedded UART whose driver offers no type attribute.
        const fs::path soc = devices / "platform/soc/fe201000.serial";
        ttyEntry("ttyS2", soc);
        driver(soc, "platform", "dw-apb-uart");
        // ttyS3: a legacy placeholder without a type attribute.
        ttyEntry("ttyS3", legacy / "serial8250:0/serial8250:0.3");
        // ttyS10: another real UART, numbered after ttyS2 (natural order, not text order).
        ttyEntry("ttyS10", pnp / "00:01:0/00:01:0.10");
        write(root_ / "sys/class/tty/ttyS10/type", "4");
        // Not serial ports.
        fs::create_directories(root_ / "sys/class/tty/tty0");
        fs::create_directories(root_ / "sys/class/tty/ttyUSBx");
        fs::create_directories(root_ / "sys/class/tty/console");
        for (const char* n : {"ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyS10", "tty0", "console"})
            devNode(n);
        // ttyUSB1 is in sysfs but has no device node: it cannot be opened and gets no number.
        ttyEntry("ttyUSB1", usb1 / "1-1:1.1/ttyUSB1");
        driver(usb1 / "1-1:1.1/ttyUSB1", "usb-serial", "ftdi_sio");
    }

    pellory::test::ScratchFolder scratch_{"pellory-portmap"};
    const fs::path root_ = scratch_.path();
    PortMap map_;
    std::vector<std::string> env_;
};

std::string PathOf(PortMap& map, int n) {
    const auto e = map.resolve(n);
    return e ? e->path : "<none>";
}

TEST_F(PortMapTest, CommandLineOverridesWinOverEnvironment) {
    setEnv("PELLORY_COM3", "/dev/env3");
    setEnv("PELLORY_COM4", "/dev/env4");
    setEnv("PELLORY_COM0", "/dev/zero-is-no-port");
    setEnv("PELLORY_COM1025", "/dev/too-high");
    setEnv("PELLORY_COMX", "/dev/not-a-number");
    setEnv("PELLORY_COM6", "");
    map_.loadEnvironment();

    std::vector<std::string> args = {"pellory", "--com", "3=/dev/cli3", "-v", "--com=7=/dev/cli7", "--comfort"};
    std::string error;
    ASSERT_TRUE(map_.parseArguments(args, &error)) << error;
    EXPECT_EQ(args, (std::vector<std::string>{"pellory", "-v", "--comfort"}));

    EXPECT_EQ(PathOf(map_, 3), "/dev/cli3");
    EXPECT_EQ(PathOf(map_, 4), "/dev/env4");
    EXPECT_EQ(PathOf(map_, 7), "/dev/cli7");
    EXPECT_EQ(PathOf(map_, 6), "<none>");
    EXPECT_EQ(map_.resolve(3)->source, PortEntry::Source::Override);

    // Reading the environment again does not take the number back from the command line.
    map_.loadEnvironment();
    EXPECT_EQ(PathOf(map_, 3), "/dev/cli3");

    std::vector<int> numbers;
    for (const auto& e : map_.entries()) numbers.push_back(e.number);
    EXPECT_EQ(numbers, (std::vector<int>{3, 4, 7}));

    map_.clearOverride(3);
    EXPECT_EQ(PathOf(map_, 3), "<none>");
    map_.clearOverrides();
    EXPECT_TRUE(map_.entries().empty());
}

TEST_F(PortMapTest, MalformedComArgumentsAreRefusedWhole) {
    const std::vector<std::vector<std::string>> bad = {
        {"--com"},                       // no value
        {"--com=abc"},                   // no '='
        {"--com=3"},                     // no path
        {"--com=3="},                    // empty path
        {"--com=0=/dev/x"},              // below range
        {"--com=1025=/dev/x"},           // above range
        {"--com=-2=/dev/x"},             // signed
        {"--com", "x=/dev/x"},           // not a number
        {"--com=2=/dev/ok", "--com=5"},  // one good, one bad: nothing applies
        {"--com=4=tcp://"},              // a network entry without a host
        {"--com=4=tcp://printer:0"},     // or with a port out of range
    };
    for (const auto& input : bad) {
        std::vector<std::string> args = input;
        std::string error;
        EXPECT_FALSE(map_.parseArguments(args, &error)) << input.back();
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(args, input) << "arguments stay as given on failure";
    }
    EXPECT_TRUE(map_.entries().empty());

    std::vector<std::string> edge = {"--com=1=/dev/first", "--com", "COM1024=/dev/last"};
    ASSERT_TRUE(map_.parseArguments(edge));
    EXPECT_EQ(PathOf(map_, 1), "/dev/first");
    EXPECT_EQ(PathOf(map_, 1024), "/dev/last");

    // The three forms of a port, on the command line and in the environment.
    std::vector<std::string> kinds = {"--com=7=tcp://[::1]:9101", "--com", "8=/dev/usb/lp0"};
    ASSERT_TRUE(map_.parseArguments(kinds));
    EXPECT_EQ(PathOf(map_, 7), "tcp://[::1]:9101");
    EXPECT_EQ(PathOf(map_, 8), "/dev/usb/lp0");
    setEnv("PELLORY_COM9", "tcp://192.168.1.50");
    setEnv("PELLORY_COM10", "tcp://bad:99999");
    map_.loadEnvironment();
    EXPECT_EQ(PathOf(map_, 9), "tcp://192.168.1.50");
    EXPECT_EQ(PathOf(map_, 10), "<none>") << "a malformed network entry is ignored like any malformed one";
}

TEST_F(PortMapTest, VirtualPrintersTakeLowestFreeNumbersAndKeepThem) {
    map_.setOverride(1, "/dev/o1");
    map_.setOverride(3, "/dev/o3");
    EXPECT_EQ(map_.addVirtual("/dev/pts/a", "printer a"), 2);
    EXPECT_EQ(map_.addVirtual("/dev/pts/b", "printer b"), 4);
    EXPECT_EQ(map_.addVirtual("/dev/pts/c", "printer c"), 5);
    EXPECT_EQ(map_.resolve(2)->source, PortEntry::Source::Virtual);
    EXPECT_EQ(map_.resolve(2)->description, "printer a");

    // Removing one leaves the others where they are; the freed number goes to the next one.
    map_.removeVirtual("/dev/pts/a");
    EXPECT_EQ(PathOf(map_, 2), "<none>");
    EXPECT_EQ(PathOf(map_, 4), "/dev/pts/b");
    EXPECT_EQ(map_.addVirtual("/dev/pts/d", "printer d"), 2);

    // An override set later takes the number; that printer moves to the lowest free number.
    map_.setOverride(4, "/dev/o4");
    EXPECT_EQ(PathOf(map_, 4), "/dev/o4");
    EXPECT_EQ(PathOf(map_, 5), "/dev/pts/c");
    EXPECT_EQ(PathOf(map_, 2), "/dev/pts/d");
    EXPECT_EQ(PathOf(map_, 6), "/dev/pts/b");
}

#ifndef _WIN32  // the system ports of a fake sysfs tree
TEST_F(PortMapTest, SystemPortsInDocumentedOrderWithDescriptions) {
    buildMachine();
    map_.setOverride(2, "/dev/override2");
    map_.rescan();

    std::vector<std::pair<int, std::string>> got;
    for (const auto& e : map_.entries()) got.emplace_back(e.number, fs::path(e.path).filename().string());
    const std::vector<std::pair<int, std::string>> want = {{1, "ttyUSB0"}, {2, "override2"}, {3, "ttyACM0"},
                                                           {4, "ttyS0"},   {5, "ttyS2"},     {6, "ttyS10"}};
    EXPECT_EQ(got, want);

    const auto usb = map_.resolve(1);
    ASSERT_TRUE(usb);
    EXPECT_EQ(usb->path, dev() + "/ttyUSB0");
    EXPECT_EQ(usb->source, PortEntry::Source::System);
    EXPECT_EQ(usb->description, "ftdi_sio, FTDI FT232R USB UART, USB 0403:6001");
    EXPECT_EQ(map_.resolve(3)->description, "cdc_acm, Arduino Uno, USB 2341:0043");
    EXPECT_EQ(map_.resolve(4)->description, "serial, 16550A UART");
    EXPECT_EQ(map_.resolve(5)->description, "dw-apb-uart");

    // A virtual printer goes before the system ports, which move up around it.
    EXPECT_EQ(map_.addVirtual("/dev/pts/9", "virtual printer"), 1);
    EXPECT_EQ(PathOf(map_, 1), "/dev/pts/9");
    EXPECT_EQ(PathOf(map_, 3), dev() + "/ttyUSB0");
    EXPECT_EQ(PathOf(map_, 7), dev() + "/ttyS10");

    // A device node that appears later is found by the next scan, in its place in the order.
    devNode("ttyUSB1");
    EXPECT_EQ(PathOf(map_, 4), dev() + "/ttyACM0") << "no scan yet";
    map_.rescan();
    EXPECT_EQ(PathOf(map_, 4), dev() + "/ttyUSB1");
    EXPECT_EQ(PathOf(map_, 5), dev() + "/ttyACM0");
}
#endif

#ifndef _WIN32  // the system ports of a fake sysfs tree
TEST_F(PortMapTest, BluetoothPortsAndPrinterDeviceFilesFollowTheSerialPorts) {
    buildMachine();
    ttyEntry("rfcomm0", root_ / "sys/devices/virtual/tty/rfcomm0");
    devNode("rfcomm0");
    devNode("usb/lp1");
    devNode("usb/lp0");
    devNode("lp0");
    devNode("lpx");  // not a printer port
    // usb/lp0's class entry leads to its USB device; usb/lp1 has none.
    const fs::path printer = root_ / "sys/devices/pci0000:00/0000:00:14.0/usb1/1-3";
    usbDevice(printer, "0fe6", "811e", "ACME Corp.", "Receipt 80");
    fs::create_directories(root_ / "sys/class/usbmisc/lp0");
    link(root_ / "sys/class/usbmisc/lp0/device", printer / "1-3:1.0");
    fs::create_directories(printer / "1-3:1.0");
    map_.rescan();
    std::vector<std::string> got;
    for (const auto& e : map_.entries()) got.push_back(e.path.substr(dev().size() + 1) + " " + e.description);
    ASSERT_EQ(got.size(), 9u) << ::testing::PrintToString(got);
    EXPECT_EQ(got[4], "ttyS10 serial, 16550A UART");
    EXPECT_EQ(got[5], "rfcomm0 Bluetooth serial port");
    EXPECT_EQ(got[6], "usb/lp0 USB printer, ACME Corp. Receipt 80, USB 0fe6:811e");
    EXPECT_EQ(got[7], "usb/lp1 USB printer") << "nothing known about it";
    EXPECT_EQ(got[8], "lp0 parallel port");
}
#endif

#ifndef _WIN32  // the system ports of a fake sysfs tree
TEST_F(PortMapTest, NumbersOutsideTheMapResolveToNothing) {
    buildMachine();
    map_.setOverride(kTestHigh, "/dev/high");
    for (int n : {0, -1, 1025, 100000, 7, 1023}) {
        EXPECT_FALSE(map_.resolve(n).has_value()) << n;
    }
    EXPECT_TRUE(map_.resolve(kTestHigh).has_value());
    // Out-of-range overrides and registrations are not taken.
    map_.setOverride(0, "/dev/zero");
    map_.setOverride(1025, "/dev/over");
    EXPECT_FALSE(map_.resolve(0).has_value());
    EXPECT_FALSE(map_.resolve(1025).has_value());
}
#endif

TEST_F(PortMapTest, ConcurrentRegistrationsGetDistinctNumbers) {
    constexpr int kThreads = 4;
    constexpr int kEach = 50;
    std::vector<std::thread> threads;
    std::vector<std::vector<int>> numbers(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const std::string path = "/dev/pts/v" + std::to_string(t) + "_" + std::to_string(i);
                numbers[t].push_back(map_.addVirtual(path, "v"));
                map_.resolve(1);
                if (i % 5 == 4) map_.removeVirtual(path);
            }
        });
    }
    for (auto& th : threads) th.join();
    // Every number handed out while registered was distinct from every other live one.
    const auto entries = map_.entries();
    std::set<int> live;
    std::set<std::string> paths;
    for (const auto& e : entries) {
        live.insert(e.number);
        paths.insert(e.path);
    }
    EXPECT_EQ(entries.size(), static_cast<size_t>(kThreads * kEach * 4 / 5));
    EXPECT_EQ(live.size(), entries.size());
    EXPECT_EQ(paths.size(), entries.size());
    for (const auto& e : entries) {
        const std::string name = fs::path(e.path).filename().string();
        const int t = name[1] - '0';
        const int i = std::stoi(name.substr(3));
        EXPECT_EQ(e.number, numbers[t][i]) << "a registered printer keeps its number";
    }
}

}  // namespace
