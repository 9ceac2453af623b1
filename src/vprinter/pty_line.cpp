#include "vprinter/pty_line.h"

#include <termios.h>

namespace pellory::vprinter {

bool MakeRawLine(int fd, uint32_t rate) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    if (auto code = platform::SpeedCodeOfRate(rate)) {
        cfsetispeed(&t, *code);
        cfsetospeed(&t, *code);
    }
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace pellory::vprinter
