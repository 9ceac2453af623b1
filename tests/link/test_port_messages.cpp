// How messages name a port, and the reason shown when opening one is refused for lack of
// permission: built from permission data as stat reports it, and from real files whose owner,
// group and mode the test sets (the test runs as root).
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "link/port_messages.h"
#include "support/scratch_folder.h"

using pellory::link::PermissionDeniedReason;
using pellory::link::PermissionText;
using pellory::link::PortCaption;
using pellory::platform::DeviceAccess;
using pellory::platform::ReadDeviceAccess;

namespace {

constexpr const char* kPath = "/dev/ttyUSB0";
constexpr uint32_t kDialout = 20;

DeviceAccess Device(uint32_t mode, uint32_t gid, const std::string& group, bool inGroup = false) {
    DeviceAccess a;
    a.mode = S_IFCHR | mode;
    a.ownerId = 0;
    a.ownerName = "root";
    a.groupId = gid;
    a.groupName = group;
    a.processInGroup = inGroup;
    return a;
}

std::string Reason(const DeviceAccess& a) { return PermissionDeniedReason(kPath, a); }

}  // namespace

TEST(PermissionHint, NamesAGroupOnlyWhenJoiningItWouldGiveReadAndWriteAccess) {
    EXPECT_EQ(Reason(Device(0660, kDialout, "dialout")),
              "Permission denied on /dev/ttyUSB0. Join the group 'dialout' (sudo usermod -aG dialout $USER) and log "
              "in again.");
    EXPECT_NE(Reason(Device(0670, kDialout, "uucp")).find(". Join the group 'uucp' (sudo usermod -aG uucp"), std::string::npos);

    // No group that joining would help: root's group, a group that may only read, a mode of
    // 000, a group without a name.
    for (const DeviceAccess& a : {Device(0600, 0, "root"), Device(0660, 0, "root"), Device(0640, kDialout, "dialout"),
                                  Device(0620, kDialout, "dialout"), Device(0000, kDialout, "dialout"),
                                  Device(0660, 4242, "")}) {
        const std::string r = Reason(a);
        SCOPED_TRACE(PermissionText(a));
        EXPECT_EQ(r.rfind("Permission denied on /dev/ttyUSB0. The device's permissions (", 0), 0u) << r;
        EXPECT_NE(r.find(") do not allow access;"), std::string::npos) << r;
        EXPECT_EQ(r.find("usermod"), std::string::npos) << r;
    }
    EXPECT_NE(Reason(Device(0600, 0, "root")).find("(crw------- root:root)"), std::string::npos);
    EXPECT_NE(Reason(Device(0000, kDialout, "dialout")).find("(c--------- root:dialout)"), std::string::npos);

    // Already a member, or open to everyone: the bits are not what refuses it.
    for (const DeviceAccess& a : {Device(0660, kDialout, "dialout", true), Device(0666, 0, "root")}) {
        const std::string r = Reason(a);
        EXPECT_EQ(r.find("usermod"), std::string::npos) << r;
        EXPECT_NE(r.find("would allow it: an access control list or a security policy refuses it."), std::string::npos)
            << r;
    }
    // Nothing known about the device: the refusal alone.
    EXPECT_EQ(PermissionDeniedReason(kPath, std::nullopt), "Permission denied on /dev/ttyUSB0.");
}

TEST(PermissionHint, ReadsTheOwnerGroupAndModeOfARealFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file away";
    const group* dialout = ::getgrnam("dialout");
    if (dialout == nullptr) GTEST_SKIP() << "no group \"dialout\"";
    const pellory::test::ScratchFolder scratch("pellory_hint");
    const std::string path = scratch.Write("device", "x");
    ASSERT_EQ(::chown(path.c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0660), 0);

    const std::optional<DeviceAccess> a = ReadDeviceAccess(path);
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->mode & 07777, 0660u);
    EXPECT_EQ(a->groupName, "dialout");
    EXPECT_EQ(a->ownerName, "root");
    EXPECT_TRUE(a->processIsOwner);
    EXPECT_EQ(PermissionText(*a), "-rw-rw---- root:dialout");

    ASSERT_EQ(::chown(path.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    const std::string closed = PermissionDeniedReason(path, ReadDeviceAccess(path));
    EXPECT_NE(closed.find("(---------- root:root) do not allow access"), std::string::npos) << closed;
    std::remove(path.c_str());
    EXPECT_FALSE(ReadDeviceAccess(path).has_value());
}

TEST(PortCaption, ANumberBoundToAGivenPathIsNamedByThePath) {
    EXPECT_EQ(PortCaption(3, "/dev/ttyUSB0"), "COM3 (/dev/ttyUSB0)");
    EXPECT_EQ(PortCaption(3, ""), "COM3");
    pellory::link::SetNamedByPath(1024, true);
    EXPECT_EQ(PortCaption(1024, "/dev/pts/7"), "/dev/pts/7");
    EXPECT_EQ(PortCaption(1023, "/dev/pts/7"), "COM1023 (/dev/pts/7)");
    pellory::link::SetNamedByPath(1024, false);
    EXPECT_EQ(PortCaption(1024, "/dev/pts/7"), "COM1024 (/dev/pts/7)");
}
