// The COM port map on Windows: the COM ports the registry lists, and overrides from the command
// line and the environment in the forms Windows names its ports.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/decimal_text.h"
#include "platform/port_map.h"

namespace pellory::platform {
namespace {

// Sets an environment variable through the wide API (what the map reads) for one test.
class WideVariable {
public:
    WideVariable(const std::wstring& name, const std::wstring& value) : name_(name) {
        ::SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    ~WideVariable() { ::SetEnvironmentVariableW(name_.c_str(), nullptr); }

private:
    std::wstring name_;
};

struct OverrideCase {
    std::vector<std::string> args;
    int number;
    std::string path;
};

TEST(WindowsPortMap, OverridesTakeEveryFormOfComName) {
    const std::vector<OverrideCase> cases = {
        {{"--com", "3=COM7"}, 3, "COM7"},
        {{"--com=COM4=\\\\.\\COM12"}, 4, "\\\\.\\COM12"},
        {{"--com", "5=tcp://192.0.2.1:9100"}, 5, "tcp://192.0.2.1:9100"},
    };
    for (const OverrideCase& c : cases) {
        PortMap map;
        std::vector<std::string> args = c.args;
        std::string error;
        ASSERT_TRUE(map.parseArguments(args, &error)) << error;
        EXPECT_TRUE(args.empty());
        const std::optional<PortEntry> e = map.resolve(c.number);
        ASSERT_TRUE(e.has_value()) << c.path;
        EXPECT_EQ(e->path, c.path);
        EXPECT_EQ(e->source, PortEntry::Source::Override);
    }
}

TEST(WindowsPortMap, EnvironmentIsReadAsUtf8FromTheWideEnvironment) {
    // A path outside the code page: "COM" would not need it, a network host name may.
    const WideVariable com9(L"PELLORY_COM9", L"tcp://dr\u00fccker.example:9100");
    const WideVariable com10(L"PELLORY_COM10", L"COM3");
    PortMap map;
    map.loadEnvironment();
    const std::optional<PortEntry> nine = map.resolve(9);
    ASSERT_TRUE(nine.has_value());
    EXPECT_EQ(nine->path,
              "tcp://dr\xc3\xbc"
              "cker.example:9100");
    const std::optional<PortEntry> ten = map.resolve(10);
    ASSERT_TRUE(ten.has_value());
    EXPECT_EQ(ten->path, "COM3");
    EXPECT_EQ(ten->description, "set by PELLORY_COM10");
}

// A serial map of the test's own under HKEY_CURRENT_USER, removed at the end.
class FakeSerialMap {
public:
    FakeSerialMap() : key_("Software\\PelloryTest\\SerialMap" + std::to_string(::GetCurrentProcessId())) {
        ::RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h_, nullptr);
    }
    ~FakeSerialMap() {
        ::RegCloseKey(h_);
        ::RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
    }
    void Add(const std::string& device, const std::string& port) {
        ::RegSetValueExA(h_, device.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                         static_cast<DWORD>(port.size() + 1));
    }
    const std::string& key() const { return key_; }

private:
    std::string key_;
    HKEY h_ = nullptr;
};

TEST(WindowsPortMap, SystemPortsKeepTheirOwnComNumbersWhileFree) {
    FakeSerialMap serial;
    // Listed out of order, with a name that is no COM port among them.
    serial.Add("\\Device\\Serial1", "COM10");
    serial.Add("\\Device\\VCP0", "COM2");
    serial.Add("\\Device\\Parallel0", "LPT1");
    serial.Add("\\Device\\Serial0", "COM1");
    PortMap map;
    map.setSystemRoots(serial.key(), "");
    map.setOverride(2, "tcp://192.0.2.1");
    std::vector<std::string> seen;
    for (const PortEntry& e : map.entries()) {
        seen.push_back(std::to_string(e.number) + " " + e.path + " " + e.description);
    }
    // COM2's number is the override's: it moves to the lowest number free.
    EXPECT_EQ(seen, (std::vector<std::string>{"1 COM1 \\Device\\Serial0", "2 tcp://192.0.2.1 override",
                                              "3 COM2 \\Device\\VCP0", "10 COM10 \\Device\\Serial1"}));
    // A number nothing maps resolves to nothing, and opening it tries the port of that name.
    EXPECT_FALSE(map.resolve(7).has_value());
    const auto seven = map.portToOpen(7);
    ASSERT_TRUE(seven.has_value());
    EXPECT_EQ(seven->path, "COM7");
}

TEST(WindowsPortMap, SystemPortsAreTheRegistrysComPortsByTheirNumbers) {
    // What the registry lists, read here on its own.
    std::vector<int32_t> listed;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD nameLength = sizeof name;
            char data[256] = {};
            DWORD dataBytes = sizeof data - 1;
            DWORD type = 0;
            const LONG r =
                ::RegEnumValueA(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataBytes);
            if (r == ERROR_NO_MORE_ITEMS) break;
            if (r == ERROR_SUCCESS && type == REG_SZ && std::string(data).rfind("COM", 0) == 0) {
                listed.push_back(ReadDigits(std::string(data).substr(3), 4).value_or(0));
            }
        }
        ::RegCloseKey(key);
    }
    if (listed.empty()) GTEST_SKIP() << "this system lists no COM port";
    std::sort(listed.begin(), listed.end());

    PortMap map;
    map.rescan();
    std::vector<int32_t> mapped;
    for (const PortEntry& e : map.entries()) {
        ASSERT_EQ(e.source, PortEntry::Source::System);
        ASSERT_EQ(e.path.rfind("COM", 0), 0u) << e.path;
        mapped.push_back(ReadDigits(std::string_view(e.path).substr(3), 4).value_or(0));
        EXPECT_EQ(e.number, mapped.back()) << "a system port keeps its own COM number";
        EXPECT_FALSE(e.description.empty()) << e.path;
    }
    EXPECT_EQ(mapped, listed);
}

}  // namespace
}  // namespace pellory::platform
