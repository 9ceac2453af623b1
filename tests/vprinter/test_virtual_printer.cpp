// The virtual printer over its pseudo-terminal, driven by plain POSIX host code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <chrono>
#include <thread>

#include "vprinter/virtual_printer.h"

using pellory::vprinter::Bytes;
using pellory::vprinter::Command;
using pellory::vprinter::VirtualPrinter;
using Clock = std::chrono::steady_clock;

namespace {

const Bytes kProbe = {0x10, 0x04, 0x05};

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The host side: opens the slave path as the program opens a serial port.
class Host {
public:
    explicit Host(const std::string& path, speed_t speed = B9600) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        if (::ioctl(fd_, TIOCEXCL) != 0) error_ = errno;
        setSpeed(speed);
    }
    ~Host() { close(); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    bool open() const { return fd_ >= 0 && error_ == 0; }
    int error() const { return error_; }
    int fd() const { return fd_; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    bool setSpeed(speed_t speed) {
        termios t{};
        if (::tcgetattr(fd_, &t) != 0) return false;
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, speed);
        ::cfsetospeed(&t, speed);
        return ::tcsetattr(fd_, TCSANOW, &t) == 0;
    }

    // Writes everything, waiting for room; false on an error or after timeoutMs.
    bool write(const Bytes& b, int timeoutMs = 5000) { return write(b.data(), b.size(), timeoutMs); }
    bool write(const uint8_t* data, size_t n, int timeoutMs = 5000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (n > 0) {
            const ssize_t w = ::write(fd_, data, n);
            if (w > 0) {
                data += w;
                n -= static_cast<size_t>(w);
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR) {
                lastErrno_ = errno;
                return false;
            }
            if (Clock::now() >= deadline) return false;
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
        return true;
    }

    // Reads until n bytes came or timeoutMs passed; returns what came.
    Bytes read(size_t n, int timeoutMs) {
        Bytes out;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            uint8_t buf[256];
            const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - out.size()));
            if (r > 0) out.insert(out.end(), buf, buf + r);
            if (r == 0 || (r < 0 && errno != EAGAIN)) break;
        }
        return out;
    }

    // Sends a probe and returns the answer byte, if one came within timeoutMs.
    std::optional<uint8_t> probe(int timeoutMs = 2000) {
        if (!write(kProbe)) return std::nullopt;
        const Bytes a = read(1, timeoutMs);
        if (a.empty()) return std::nullopt;
        return a[0];
    }

    int lastErrno() const { return lastErrno_; }

private:
    int fd_ = -1;
    int error_ = 0;
    int lastErrno_ = 0;
};

// How long a check for "no answer" waits.
constexpr int kSilenceMs = 200;

class VirtualPrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        printer_.setRecording(true);
        ASSERT_TRUE(printer_.start(&error)) << error;
        ASSERT_FALSE(printer_.slavePath().empty());
    }
    VirtualPrinter printer_;
};

TEST_F(VirtualPrinterTest, AnswersStatusRequestsByMode) {
    Host host(printer_.slavePath());
    ASSERT_TRUE(host.open()) << std::strerror(host.error());

    EXPECT_EQ(host.probe(), std::optional<uint8_t>(0x00));
    printer_.setStatusByte(0x0C);
    EXPECT_EQ(host.probe(), std::optional<uint8_t>(0x0C));
    // DLE EOT 1 answers the printer status of the states the byte stands for (paper end and
    // over heat: offline), as the printer server does.
    ASSERT_TRUE(host.write(Bytes{0x10, 0x04, 0x01}));
    EXPECT_EQ(host.read(1, 1000), Bytes{0x1A});
    EXPECT_EQ(printer_.answeredRequests(), 3u);

    printer_.setAnswerMode(VirtualPrinter::AnswerMode::Silent);
    EXPECT_EQ(host.probe(kSilenceMs), std::nullopt);
    EXPECT_EQ(printer_.answeredRequests(), 3u);

    printer_.setAnswerMode(VirtualPrinter::AnswerMode::FixedByte, 0x10);
    EXPECT_EQ(host.probe(), std::optional<uint8_t>(0x10));

    printer_.setAnswerMode(VirtualPrinter::AnswerMode::Status);
    printer_.setStatusByte(0x00);
    // A request split over two writes is answered once it is complete.
    ASSERT_TRUE(host.write(Bytes{0x10, 0x04}));
    EXPECT_TRUE(host.read(1, kSilenceMs).empty());
    ASSERT_TRUE(host.write(Bytes{0x05}));
    EXPECT_EQ(host.read(1, 1000), Bytes{0x00});
    EXPECT_TRUE(host.read(1, 50).empty()) << "exactly one answer per request";
}

TEST_F(VirtualPrinterTest, StatusRequestInsideImageDataIsNotAnswered) {
    Host host(printer_.slavePath());
    ASSERT_TRUE(host.open());
    Bytes image = {0x1D, 0x76, 0x30, 0x00, 0x03, 0x00, 0x02, 0x00, 0x10, 0x04, 0x05, 0x10, 0x04, 0x05};
    ASSERT_TRUE(host.write(image));
    EXPECT_TRUE(host.read(1, kSilenceMs).empty());
    EXPECT_EQ(host.probe(), std::optional<uint8_t>(0x00));
    EXPECT_EQ(printer_.answeredRequests(), 1u);
    ASSERT_TRUE(printer_.waitForBytes(image.size() + 3, 1000));
    const auto cmds = printer_.commands();
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].bytes, image);
    EXPECT_EQ(cmds[1].bytes, kProbe);
}

TEST_F(VirtualPrinterTest, RequireMatchingBaud) {
    printer_.setBaudRate(115200);
    printer_.setRequireMatchingBaud(true);
    Host host(printer_.slavePath(), B9600);
    ASSERT_TRUE(host.open());
    EXPECT_EQ(printer_.hostBaudRate(), std::optional<uint32_t>(9600));
    EXPECT_EQ(host.probe(kSilenceMs), std::nullopt);
    EXPECT_EQ(printer_.answeredRequests(), 0u);

    ASSERT_TRUE(host.setSpeed(B115200));
    EXPECT_EQ(printer_.hostBaudRate(), std::optional<uint32_t>(115200));
    EXPECT_EQ(host.probe(), std::optional<uint8_t>(0x00));

    // Without the requirement any host rate is answered.
    printer_.setRequireMatchingBaud(false);
    ASSERT_TRUE(host.setSpeed(B2400));
    EXPECT_EQ(host.probe(), std::optional<uint8_t>(0x00));
}

TEST_F(VirtualPrinterTest, SetupCommandsChangeRateAndFlowControl) {
    printer_.setBaudRate(9600);
    printer_.setRequireMatchingBaud(true);
    Host host(printer_.slavePath(), B9600);
    ASSERT_TRUE(host.open());
    EXPECT_EQ(host.probe(), std::optional<uint8_t>(0x00));

    // The program sends the header, then one write per digit.
    ASSERT_TRUE(host.write(Bytes{0x1D, 0x28, 0x45, 0x08, 0x00, 0x0B, 0x01}));
    for (char digit : std::string("115200")) ASSERT_TRUE(host.write(Bytes{static_cast<uint8_t>(digit)}));
    ASSERT_TRUE(printer_.waitForBytes(3 + 13, 1000));
    EXPECT_EQ(printer_.baudRate(), 115200u);
    // It now expects 115200: a host still at 9600 gets no answer, one at 115200 does.
    EXPECT_EQ(host.probe(kSilenceMs), std::nullopt);
    ASSERT_TRUE(host.setSpeed(B115200));
    EXPECT_EQ(host.probe(), std::optional<uint8_t>(0x00));

    ASSERT_TRUE(host.write(Bytes{0x1D, 0x28, 0x45, 0x03, 0x00, 0x0B, 0x03, 0x31}));
    ASSERT_TRUE(printer_.waitForBytes(3 + 13 + 3 + 3 + 8, 1000));
    EXPECT_EQ(printer_.flowControl(), 0x31);
    ASSERT_TRUE(host.write(Bytes{0x1D, 0x28, 0x45, 0x03, 0x00, 0x0B, 0x03, 0x00}));
    ASSERT_TRUE(printer_.waitForBytes(3 + 13 + 3 + 3 + 16, 1000));
    EXPECT_EQ(printer_.flowControl(), 0x00);
    EXPECT_EQ(printer_.baudRate(), 115200u) << "a flow-control change leaves the rate";
}

TEST_F(VirtualPrinterTest, UnsolicitedBytesReachTheHost) {
    Host host(printer_.slavePath());
    ASSERT_TRUE(host.open());
    const Bytes reply = {0x37, 'A', 'B', 0x00, 0x01, 0x0A, 0x0D, 0xFF};
    ASSERT_TRUE(printer_.sendUnsolicited(reply));
    EXPECT_EQ(host.read(reply.size(), 1000), reply) << "bytes arrive untranslated";
}

TEST_F(VirtualPrinterTest, VanishMakesTheHostFailWithoutHanging) {
    Host host(printer_.slavePath());
    ASSERT_TRUE(host.open());
    EXPECT_EQ(host.probe(), std::optional<uint8_t>(0x00));
    printer_.vanish();
    EXPECT_FALSE(printer_.running());

    pollfd p{host.fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1) << "the host's wait ends";
    EXPECT_NE(p.revents & (POLLHUP | POLLERR), 0);
    uint8_t b = 0;
    const ssize_t r = ::read(host.fd(), &b, 1);
    EXPECT_TRUE(r == 0 || (r < 0 && errno == EIO)) << r << " " << std::strerror(errno);
    EXPECT_FALSE(host.write(kProbe, 500));
    EXPECT_EQ(host.lastErrno(), EIO);
    EXPECT_FALSE(printer_.sendUnsolicited(Bytes{0x00}));
}

// Opens path in a child process that lacks CAP_SYS_ADMIN (which would pass over an exclusive
// mark). Returns 0 on success, the errno of the failed open, or kNoDrop when the child could not
// give up the capability.
constexpr int kNoDrop = 99;
int OpenUnprivileged(const std::string& path) {
    const char* p = path.c_str();
    const pid_t pid = ::fork();
    if (pid == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (::syscall(SYS_capget, &header, data) != 0) ::_exit(kNoDrop);
        data[0].effective &= ~(1u << CAP_SYS_ADMIN);
        if (::syscall(SYS_capset, &header, data) != 0) ::_exit(kNoDrop);
        const int fd = ::open(p, O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::_exit(fd >= 0 ? 0 : (errno & 0x7F));
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST_F(VirtualPrinterTest, HostOpensExclusivelyClosesAndReopens) {
    {
        Host host(printer_.slavePath());
        ASSERT_TRUE(host.open()) << "the printer's own descriptor does not block the exclusive open: "
                                 << std::strerror(host.error());
        EXPECT_EQ(host.probe(), std::optional<uint8_t>(0x00));
        const int other = OpenUnprivileged(printer_.slavePath());
        if (other == kNoDrop) GTEST_SKIP() << "cannot run a process without CAP_SYS_ADMIN here";
        EXPECT_EQ(other, EBUSY) << "another program is kept out while the host holds the port";
    }
    // After the host closed, the port can be opened again, even by a process without the
    // capability (the printer clears the exclusive mark that its own descriptor would keep).
    int result = -1;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while ((result = OpenUnprivileged(printer_.slavePath())) != 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(result, 0) << std::strerror(result);

    for (int round = 0; round < 3; ++round) {
        Host again(printer_.slavePath());
        ASSERT_TRUE(again.open()) << round;
        EXPECT_EQ(again.probe(), std::optional<uint8_t>(0x00)) << round;
        ASSERT_TRUE(again.write(Text("round")));
    }
    ASSERT_TRUE(printer_.waitForBytes(3 * 8 + 3, 1000));
    EXPECT_TRUE(printer_.running());
}

TEST_F(VirtualPrinterTest, LogClearingAndQuietWaits) {
    Host host(printer_.slavePath());
    ASSERT_TRUE(host.open());
    ASSERT_TRUE(host.write(Text("abc")));
    ASSERT_TRUE(printer_.waitForBytes(3, 1000));
    EXPECT_FALSE(printer_.waitForBytes(4, 50));
    printer_.clearReceived();
    EXPECT_EQ(printer_.receivedCount(), 0u);
    EXPECT_TRUE(printer_.commands().empty());

    // Half a command before the clear is listed whole once its rest arrives.
    const Bytes head = {0x1D, 0x76, 0x30, 0x00, 0x01, 0x00};
    ASSERT_TRUE(host.write(head));
    ASSERT_TRUE(printer_.waitForBytes(head.size(), 1000));
    EXPECT_EQ(printer_.commandCount(), 0u);
    printer_.clearReceived();
    ASSERT_TRUE(host.write(Bytes{0x01, 0x00, 0xAA}));
    ASSERT_TRUE(printer_.waitForBytes(3, 1000));
    const auto cmds = printer_.commands();
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].bytes, (Bytes{0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, 0x01, 0x00, 0xAA}));

    // A quiet wait sees bytes written during it.
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        host.write(Text("late"));
    });
    EXPECT_TRUE(printer_.waitForQuiet(500, 5000));
    late.join();
    EXPECT_EQ(printer_.receivedCount(), 3u + 4u);
    // While bytes keep coming the wait gives up at its limit.
    std::atomic<bool> flood{true};
    std::thread writer([&] {
        while (flood) {
            host.write(Text("x"), 100);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    EXPECT_FALSE(printer_.waitForQuiet(250, 600));
    flood = false;
    writer.join();
}

TEST_F(VirtualPrinterTest, StopWhileTheHostWritesEndsPromptly) {
    Host host(printer_.slavePath());
    ASSERT_TRUE(host.open());
    std::atomic<bool> failed{false};
    std::thread writer([&] {
        const Bytes chunk(4096, 'w');
        while (host.write(chunk, 2000)) {
        }
        failed = true;
    });
    ASSERT_TRUE(printer_.waitForBytes(64 * 1024, 2000));
    const auto t0 = Clock::now();
    printer_.stop();
    const auto took = Clock::now() - t0;
    writer.join();
    EXPECT_TRUE(failed);
    EXPECT_LT(took, std::chrono::seconds(2)) << "stop does not hang";
    EXPECT_FALSE(printer_.running());
    // It can start again on a new terminal.
    ASSERT_TRUE(printer_.start());
    Host next(printer_.slavePath());
    ASSERT_TRUE(next.open());
    EXPECT_EQ(next.probe(), std::optional<uint8_t>(0x00));
}

// 50 MiB of text runs, line feeds, raster images and 24-dot columns whose data hold status
// requests: every byte arrives in order, text runs stay single commands, no request is answered.
TEST_F(VirtualPrinterTest, LargeStreamArrivesCompleteAndInOrder) {
    constexpr size_t kTotal = 50u << 20;
    Bytes stream;
    stream.reserve(kTotal + 16384);
    size_t blocks = 0;
    while (stream.size() < kTotal) {
        for (int i = 0; i < 8000; ++i) stream.push_back(static_cast<uint8_t>(0x20 + (i + blocks) % 0x60));
        stream.push_back(0x0A);
        // GS v 0: 64 bytes x 16 rows.
        const Bytes raster = {0x1D, 0x76, 0x30, 0x00, 0x40, 0x00, 0x10, 0x00};
        stream.insert(stream.end(), raster.begin(), raster.end());
        for (int i = 0; i < 64 * 16; ++i) stream.push_back(static_cast<uint8_t>(i % 3 == 0 ? 0x10 : i % 3 == 1 ? 0x04 : 0x05));
        // ESC * 33: 100 columns of 3 bytes.
        const Bytes columns = {0x1B, 0x2A, 0x21, 0x64, 0x00};
        stream.insert(stream.end(), columns.begin(), columns.end());
        for (int i = 0; i < 300; ++i) stream.push_back(static_cast<uint8_t>((i * 37 + blocks) & 0xFF));
        ++blocks;
    }

    Host host(printer_.slavePath());
    ASSERT_TRUE(host.open());
    std::atomic<bool> written{false};
    // Watchdog bounds only: under a sanitizer on a loaded machine 50 MiB take minutes.
    std::thread writer([&] { written = host.write(stream.data(), stream.size(), 600000); });
    const bool arrived = printer_.waitForBytes(stream.size(), 600000);
    writer.join();
    ASSERT_TRUE(written);
    ASSERT_TRUE(arrived) << printer_.receivedCount() << " of " << stream.size();
    EXPECT_EQ(printer_.receivedCount(), stream.size());
    EXPECT_TRUE(printer_.received() == stream);

    const auto cmds = printer_.commands();
    EXPECT_EQ(cmds.size(), 4 * blocks);
    Bytes joined;
    joined.reserve(stream.size());
    for (const auto& c : cmds) joined.insert(joined.end(), c.bytes.begin(), c.bytes.end());
    EXPECT_TRUE(joined == stream);
    EXPECT_EQ(cmds[0].kind, Command::Kind::Text);
    EXPECT_EQ(cmds[0].bytes.size(), 8000u);
    EXPECT_EQ(printer_.answeredRequests(), 0u);
    EXPECT_TRUE(host.read(1, 50).empty());
}

// The printer's line starts at the rate it was given, for every rate with a standard speed code
// (those above 1 Mbaud included), read back as the platform reads any line's rate.
TEST(VirtualPrinterLine, StartsAtItsRateWhateverStandardCodeItHas) {
    for (uint32_t rate : {2400u, 9600u, 115200u, 921600u, 1500000u, 4000000u}) {
        SCOPED_TRACE(rate);
        VirtualPrinter printer;
        printer.setBaudRate(rate);
        std::string error;
        ASSERT_TRUE(printer.start(&error)) << error;
        EXPECT_EQ(printer.hostBaudRate(), std::optional<uint32_t>(rate));
        printer.stop();
    }
}

}  // namespace
