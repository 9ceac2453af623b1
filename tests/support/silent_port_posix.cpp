// A port with nothing attached, on a pseudo-terminal: what is written to it stays unread.
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

#include "platform/port_map.h"
#include "support.h"

namespace pellory::test {

SilentPort::SilentPort(int number) : number_(number) {
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    path_ = name;
    platform::PortMap::instance().setOverride(number_, path_, "silent port (test)");
}

SilentPort::~SilentPort() {
    platform::PortMap::instance().clearOverride(number_);
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

}  // namespace pellory::test
