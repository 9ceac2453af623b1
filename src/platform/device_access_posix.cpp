#include "platform/device_access.h"

#include "platform/serial_device.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace pellory::platform {

namespace {

std::vector<char> LookupBuffer(int name) {
    const long size = ::sysconf(name);
    return std::vector<char>(size > 0 ? static_cast<size_t>(size) : 1024);
}

constexpr size_t kLargestLookupBuffer = size_t{1} << 20;

// The name of a record of the user or group database, looked up by lookup (getpwuid_r or
// getgrgid_r for an id) with a buffer that grows while the record does not fit; empty when there
// is no record or it has no name.
template <typename Record, typename Lookup>
std::string LookupName(int bufferSizeName, Lookup lookup, char* Record::*name) {
    std::vector<char> buf = LookupBuffer(bufferSizeName);
    for (;;) {
        Record r{};
        Record* found = nullptr;
        const int e = lookup(&r, buf.data(), buf.size(), &found);
        if (e == ERANGE && buf.size() < kLargestLookupBuffer) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (e != 0 || found == nullptr || found->*name == nullptr) return {};
        return found->*name;
    }
}

std::string GroupName(gid_t id) {
    return LookupName<group>(
        _SC_GETGR_R_SIZE_MAX,
        [id](group* g, char* buf, size_t size, group** found) { return ::getgrgid_r(id, g, buf, size, found); },
        &group::gr_name);
}

std::string UserName(uid_t id) {
    return LookupName<passwd>(
        _SC_GETPW_R_SIZE_MAX,
        [id](passwd* p, char* buf, size_t size, passwd** found) { return ::getpwuid_r(id, p, buf, size, found); },
        &passwd::pw_name);
}

bool InGroup(gid_t id) {
    if (::getegid() == id) return true;
    const int n = ::getgroups(0, nullptr);
    if (n <= 0) return false;
    std::vector<gid_t> groups(static_cast<size_t>(n));
    const int got = ::getgroups(n, groups.data());
    if (got <= 0) return false;
    groups.resize(static_cast<size_t>(got));
    return std::find(groups.begin(), groups.end(), id) != groups.end();
}

}  // namespace

std::optional<DeviceAccess> ReadDeviceAccess(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
    DeviceAccess a;
    a.mode = static_cast<uint32_t>(st.st_mode);
    a.ownerId = static_cast<uint32_t>(st.st_uid);
    a.groupId = static_cast<uint32_t>(st.st_gid);
    a.ownerName = UserName(st.st_uid);
    a.groupName = GroupName(st.st_gid);
    a.processIsOwner = ::geteuid() == st.st_uid;
    a.processInGroup = InGroup(st.st_gid);
    return a;
}

std::string DeviceGroup(const std::string& path) {
    const std::optional<DeviceAccess> access = ReadDeviceAccess(path);
    return access ? access->groupName : std::string();
}

}  // namespace pellory::platform
