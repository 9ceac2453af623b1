// The COM port map: port numbers COM1..COM1024 to device paths.
//
// Order of lookup for a number n:
//  1. an explicit override: the environment variable PELLORY_COM<n>=PORT, or --com <n>=PORT on
//     the command line (the command line wins over the environment); PORT is a serial terminal's
//     path, a printer device file's path or tcp://HOST[:PORT] (device_kind.h);
//  2. virtual printers started by this program, which take the lowest numbers that no override
//     holds, in the order they were registered;
//  3. the system's ports (ttyUSB*, ttyACM*, ttyS* with a real UART behind them, Bluetooth
//     rfcomm*, then the printer device files usb/lp* and lp*), numbered upward from the lowest
//     number still free, in a stable order; on Windows, the registry's COM ports, each with its
//     own number while no override or virtual printer holds it.
// An unmapped number resolves to nothing, and opening it fails as an absent COM port does; on
// Windows opening it opens the port of its own name (COMn) where the system has one.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pellory::platform {

constexpr int kMinPortNumber = 1;
constexpr int kMaxPortNumber = 1024;

struct PortEntry {
    enum class Source { Override, Virtual, System };
    int number = 0;
    std::string path;
    std::string description;  // driver, USB maker/product and VID:PID where known
    Source source = Source::System;
};

class PortMap {
public:
    // The process-wide map.
    static PortMap& instance();

    PortMap();

    // Reads PELLORY_COM<n> variables from the environment (replacing those read before; an
    // empty value or a number outside 1..1024 is ignored).
    void loadEnvironment();
    // Takes "--com <n>=<port>" (and "--com=<n>=<port>") pairs out of argv; returns the rest.
    // n may be written "COM<n>". Returns false (with error set) for a malformed pair; then
    // args stay as they were and no pair of them is applied.
    bool parseArguments(std::vector<std::string>& args, std::string* error = nullptr);

    // Same level as the command line. n outside 1..1024 or an empty path is ignored.
    void setOverride(int n, const std::string& path, const std::string& description = {});
    // Removes the override of n from both levels (command line and environment).
    void clearOverride(int n);
    void clearOverrides();

    // Registers a virtual printer; returns its port number (0 when none is free): the lowest
    // number that no override and no other virtual printer holds. It keeps that number while
    // registered, whoever else comes and goes; only an override set later on that very number
    // moves it to the lowest free one.
    int addVirtual(const std::string& path, const std::string& description);
    void removeVirtual(const std::string& path);

    // Scans the system's serial ports again (also done lazily on first use).
    void rescan();
    // For tests: read the serial ports from another sysfs and /dev root. On Windows sysClassTty,
    // when not the default, names a key under HKEY_CURRENT_USER that stands in for the registry's
    // serial map (values as its: a driver's device name, a "COMn" port), and devDir is unused.
    void setSystemRoots(const std::string& sysClassTty, const std::string& devDir);

    std::optional<PortEntry> resolve(int n);
    // The port to open for n: resolve(n); on Windows, for a number nothing holds, the COM port of
    // that name (COMn), which the system opens or not.
    std::optional<PortEntry> portToOpen(int n);
    std::vector<PortEntry> entries();  // every mapped number, ascending

private:
    void ensureScannedLocked();
    std::vector<PortEntry> buildLocked();

    std::mutex m_;
    std::map<int, PortEntry> overrides_;
    std::map<int, PortEntry> envOverrides_;
    std::vector<PortEntry> virtuals_;  // in registration order
    std::vector<PortEntry> system_;    // in scan order, numbers assigned at build time
    bool scanned_ = false;
    std::string sysRoot_ = "/sys/class/tty";  // detail::kDefaultSysRoot
    std::string devRoot_ = "/dev";            // detail::kDefaultDevRoot
};

}  // namespace pellory::platform
