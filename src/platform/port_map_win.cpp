// The system's serial ports on Windows, for the COM port map (port_map.h).
//
// Windows lists its COM ports in the registry, HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: one value per
// port, the value's name the driver's device object (\Device\Serial0, \Device\VCP0, ...), its
// data the port's name (COM3). Each port keeps its own COM number in the map (COM3 is COM3), and
// is described by its device object. Windows has no USB printer class files or
// parallel ports to open as a device file: a printer there is reached through its COM port or
// its network address.
#include "platform/port_map_system.h"

#include "platform/decimal_text.h"
#include "platform/win_text.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <optional>
#include <string_view>

namespace pellory::platform::detail {

namespace {

constexpr const wchar_t* kSerialMapKey = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The number of a "COMn" name; nothing for another name.
std::optional<int32_t> ComNumber(const std::string& name) {
    if (name.size() <= 3) return std::nullopt;
    const std::string prefix = name.substr(0, 3);
    if (prefix != "COM" && prefix != "com" && prefix != "Com") return std::nullopt;
    return ReadDigits(std::string_view(name).substr(3), 4);
}

}  // namespace

std::vector<PortEntry> ScanSystemPorts(const std::string& sysRoot, const std::string&) {
    std::vector<std::pair<int32_t, PortEntry>> found;
    HKEY key = nullptr;
    const bool system = sysRoot == kDefaultSysRoot;
    const std::wstring testKey = Widen(sysRoot);
    if (::RegOpenKeyExW(system ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, system ? kSerialMapKey : testKey.c_str(), 0,
                        KEY_READ, &key) != ERROR_SUCCESS) {
        return {};
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = sizeof name / sizeof name[0];
        wchar_t data[256];
        DWORD dataBytes = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG r =
            ::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataBytes);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        data[dataBytes / sizeof(wchar_t)] = L'\0';
        const std::string port = Narrow(data);
        const std::optional<int32_t> number = ComNumber(port);
        if (!number) continue;
        PortEntry e;
        e.number = *number;  // the port keeps its own COM number in the map
        e.path = port;
        e.description = Narrow(std::wstring(name, nameLength));
        e.source = PortEntry::Source::System;
        found.emplace_back(*number, e);
    }
    ::RegCloseKey(key);
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<PortEntry> out;
    for (auto& [number, e] : found) out.push_back(std::move(e));
    return out;
}

std::vector<std::string> EnvironmentEntries() {
    std::vector<std::string> out;
    wchar_t* block = ::GetEnvironmentStringsW();
    if (!block) return out;
    for (const wchar_t* p = block; *p; p += std::wcslen(p) + 1) out.push_back(Narrow(p));
    ::FreeEnvironmentStringsW(block);
    return out;
}

}  // namespace pellory::platform::detail
