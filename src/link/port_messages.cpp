#include "link/port_messages.h"

#include <mutex>
#include <set>

#include "platform/device_kind.h"

namespace pellory::link {

namespace {

std::mutex gNamedMutex;
std::set<int>& NamedByPath() {
    static std::set<int> numbers;
    return numbers;
}

// The file type in st_mode, as POSIX numbers it (DeviceAccess::mode is st_mode on every system).
constexpr uint32_t kTypeMask = 0170000;
constexpr uint32_t kCharacterDevice = 0020000;
constexpr uint32_t kBlockDevice = 0060000;
constexpr uint32_t kFolder = 0040000;
constexpr uint32_t kLink = 0120000;
constexpr uint32_t kFifo = 0010000;
constexpr uint32_t kSocket = 0140000;

constexpr uint32_t kGroupReadWrite = 060;
constexpr uint32_t kOwnerReadWrite = 0600;
constexpr uint32_t kOthersReadWrite = 006;

bool All(uint32_t mode, uint32_t bits) { return (mode & bits) == bits; }

}  // namespace

std::string PortCaption(int number, const std::string& path) {
    const std::string shown = platform::PrintableText(path);
    {
        std::lock_guard<std::mutex> lock(gNamedMutex);
        if (!path.empty() && NamedByPath().count(number) != 0) return shown;
    }
    const std::string com = "COM" + std::to_string(number);
    return path.empty() ? com : com + " (" + shown + ")";
}

void SetNamedByPath(int number, bool byPath) {
    std::lock_guard<std::mutex> lock(gNamedMutex);
    if (byPath) {
        NamedByPath().insert(number);
    } else {
        NamedByPath().erase(number);
    }
}

std::string PermissionText(const platform::DeviceAccess& a) {
    std::string text;
    switch (a.mode & kTypeMask) {
        case kCharacterDevice: text += 'c'; break;
        case kBlockDevice: text += 'b'; break;
        case kFolder: text += 'd'; break;
        case kLink: text += 'l'; break;
        case kFifo: text += 'p'; break;
        case kSocket: text += 's'; break;
        default: text += '-'; break;
    }
    static const char kLetters[] = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) text += (a.mode & (0400u >> i)) ? kLetters[i] : '-';
    text += ' ';
    text += a.ownerName.empty() ? std::to_string(a.ownerId) : a.ownerName;
    text += ':';
    text += a.groupName.empty() ? std::to_string(a.groupId) : a.groupName;
    return text;
}

std::string PermissionDeniedReason(const std::string& path, const std::optional<platform::DeviceAccess>& access) {
    const std::string refused = "Permission denied on " + platform::PrintableText(path) + ".";
    if (!access) return refused;
    const platform::DeviceAccess& a = *access;
    const bool groupMayUse = All(a.mode, kGroupReadWrite);
    if (groupMayUse && a.groupId != 0 && !a.groupName.empty() && !a.processInGroup) {
        return refused + " Join the group '" + a.groupName + "' (sudo usermod -aG " + a.groupName +
               " $USER) and log in again.";
    }
    const bool bitsAllow = All(a.mode, kOthersReadWrite) || (a.processInGroup && groupMayUse) ||
                           (a.processIsOwner && All(a.mode, kOwnerReadWrite));
    if (bitsAllow) {
        return refused + " Its permissions (" + PermissionText(a) +
               ") would allow it: an access control list or a security policy refuses it.";
    }
    return refused + " The device's permissions (" + PermissionText(a) +
           ") do not allow access; an administrator has to grant it (a group with read and write access, "
           "for example through a udev rule).";
}

}  // namespace pellory::link
