// Closing a serial device gives the line back as it was found: exclusive mode off and the line
// settings put back, every time.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "platform/serial_device.h"

#ifndef TIOCGEXCL
#define TIOCGEXCL _IOR('T', 0x40, int)
#endif

using namespace pellory::platform;

namespace {

int Exclusive(int fd) {
    int on = -1;
    EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &on), 0) << std::strerror(errno);
    return on;
}

}  // namespace

TEST(SerialDeviceRelease, CloseRestoresTheLineAndEndsExclusiveUse) {
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    // A cooked 4800-baud line with 7 data bits and even parity, as another program left it.
    termios found{};
    ASSERT_EQ(::tcgetattr(slave, &found), 0);
    ::cfsetispeed(&found, B4800);
    ::cfsetospeed(&found, B4800);
    found.c_cflag = (found.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB;
    found.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(::tcsetattr(slave, TCSANOW, &found), 0);
    ASSERT_EQ(::tcgetattr(slave, &found), 0);

    for (int round = 0; round < 2; ++round) {
        SerialDevice dev;
        ASSERT_EQ(dev.open(name, false), SerialResult::Ok);
        LineSettings s;
        ASSERT_EQ(dev.getLineSettings(s), SerialResult::Ok);
        s.baudRate = 115200;
        s.byteSize = 8;
        s.parity = kParityNone;
        ASSERT_EQ(dev.setLineSettings(s), SerialResult::Ok);
        EXPECT_EQ(Exclusive(slave), 1);
        termios open{};
        ASSERT_EQ(::tcgetattr(slave, &open), 0);
        EXPECT_EQ(cfgetospeed(&open), speed_t{B115200});
        EXPECT_EQ(open.c_lflag & ICANON, 0u);

        dev.close();
        EXPECT_EQ(Exclusive(slave), 0);
        termios after{};
        ASSERT_EQ(::tcgetattr(slave, &after), 0);
        EXPECT_EQ(after.c_iflag, found.c_iflag);
        EXPECT_EQ(after.c_oflag, found.c_oflag);
        EXPECT_EQ(after.c_cflag, found.c_cflag);
        EXPECT_EQ(after.c_lflag, found.c_lflag);
        EXPECT_EQ(std::memcmp(after.c_cc, found.c_cc, sizeof after.c_cc), 0);
        EXPECT_EQ(cfgetospeed(&after), speed_t{B4800});
    }
    ::close(slave);
    ::close(master);
}
