// The termios serial device against real pseudo-terminals: the test holds the master side and
// plays the far end of the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_device.h"

namespace pellory::platform {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

bool WaitUntil(const std::function<bool()>& cond, int ms = 2000) {
    const auto t0 = Clock::now();
    while (!cond()) {
        if (MsSince(t0) > ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A pseudo-terminal pair. The slave side is what the device opens; the test keeps its own slave
// descriptor to look at the line's termios.
class Pty {
public:
    Pty() {
        char name[128] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0) path_ = name;
    }
    ~Pty() {
        closeMaster();
        if (slave_ >= 0) ::close(slave_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& path() const { return path_; }
    int master() const { return master_; }
    int slave() const { return slave_; }
    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    void send(const std::string& bytes) { ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

    // Reads what the device wrote: up to n bytes, within ms.
    std::string receive(size_t n, int ms = 1000) {
        std::string out;
        const auto t0 = Clock::now();
        while (out.size() < n && MsSince(t0) < ms) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            char buf[4096];
            const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
            if (r <= 0) break;
            out.append(buf, static_cast<size_t>(r));
        }
        return out;
    }

    termios slaveTermios() const {
        termios t{};
        EXPECT_EQ(::tcgetattr(slave_, &t), 0);
        return t;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

uint32_t InQueue(SerialDevice& dev) {
    CommStatus st;
    return dev.clearError(&st) == SerialResult::Ok ? st.inQueue : 0xFFFFFFFFu;
}

// Waits until the device sees n input bytes queued (the pty hands bytes over asynchronously).
bool QueuedWithin(SerialDevice& dev, uint32_t n, int ms = 2000) {
    return WaitUntil([&] { return InQueue(dev) >= n; }, ms);
}

class SerialDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(pty.path().empty()) << "openpty failed";
        ASSERT_EQ(dev.open(pty.path(), false), SerialResult::Ok);
    }
    void setTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
        ASSERT_EQ(dev.setTimeouts(Timeouts{interval, multiplier, constant, 0, 0}), SerialResult::Ok);
    }

    Pty pty;
    SerialDevice dev;
};

// --- opening ---

TEST(SerialDeviceOpen, ExclusiveAgainstDevicesAndProcessesThenReopens) {
    Pty pty;
    ASSERT_FALSE(pty.path().empty());
    SerialDevice a;
    ASSERT_EQ(a.open(pty.path(), true), SerialResult::Ok);
    EXPECT_TRUE(a.isOpen());
    EXPECT_TRUE(a.isOverlapped());
    EXPECT_EQ(a.path(), pty.path());
    EXPECT_GE(a.nativeHandle(), 0);

    SerialDevice b;
    EXPECT_EQ(b.open(pty.path(), false), SerialResult::Busy);
    EXPECT_FALSE(b.isOpen());
    EXPECT_EQ(b.nativeHandle(), -1);

    // Another process asking for the device the same way is refused too.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) ::_exit(errno == EBUSY ? 1 : 3);
        ::_exit(::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK ? 1 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "2: the other process got the lock, 3: open failed otherwise";

    a.close();
    EXPECT_FALSE(a.isOpen());
    EXPECT_EQ(a.nativeHandle(), -1);
    a.close();  // closing twice is harmless
    EXPECT_EQ(b.open(pty.path(), false), SerialResult::Ok);
    EXPECT_FALSE(b.isOverlapped());
    EXPECT_EQ(a.open(pty.path(), false), SerialResult::Busy);

    // Opening an open device closes it first and takes the new path.
    Pty other;
    EXPECT_EQ(b.open(other.path(), false), SerialResult::Ok);
    EXPECT_EQ(b.path(), other.path());
    EXPECT_EQ(a.open(pty.path(), false), SerialResult::Ok) << "the first path was released";
}

TEST(SerialDeviceOpen, FailuresAreClassified) {
    SerialDevice dev;
    EXPECT_EQ(dev.open("/dev/pellory-no-such-port", false), SerialResult::NotFound);
    EXPECT_EQ(dev.open("", false), SerialResult::InvalidArgument);

    char file[] = "/tmp/pellory-serial-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(dev.open(file, false), SerialResult::Unsupported) << "a plain file is no terminal";
    if (::geteuid() != 0) {
        ::chmod(file, 0);
        EXPECT_EQ(dev.open(file, false), SerialResult::AccessDenied);
    }
    ::unlink(file);
    EXPECT_FALSE(dev.isOpen());
}

TEST(SerialDeviceOpen, ClosedDeviceRefusesEveryOperation) {
    SerialDevice dev;
    char buf[4];
    size_t n = 99;
    LineSettings ls;
    Timeouts to;
    uint32_t v = 0;
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::InvalidArgument);
    EXPECT_EQ(n, 0u);
    n = 99;
    EXPECT_EQ(dev.write(buf, sizeof buf, n), SerialResult::InvalidArgument);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(dev.getLineSettings(ls), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.setLineSettings(ls), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.getTimeouts(to), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.setTimeouts(to), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.setQueueSizes(4096, 4096), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.purge(kPurgeRxClear), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.flush(10), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.clearError(nullptr), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.modemStatus(v), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.clearBreak(), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.setEventMask(kEvRxChar), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.waitEvent(v, 10), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.readAsync(buf, 1, n), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.writeAsync(buf, 1, n), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.waitReadable(10), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.pumpPendingWrites(10), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.pendingWriteBytes(), 0u);
}

TEST(SerialDeviceOpen, ReasonsAndDeviceGroup) {
    const SerialResult all[] = {SerialResult::Ok,      SerialResult::InvalidArgument, SerialResult::NotFound,
                                SerialResult::AccessDenied, SerialResult::Busy,       SerialResult::IoError,
                                SerialResult::Timeout, SerialResult::Unsupported,     SerialResult::Pending,
                                SerialResult::Interrupted};
    std::vector<std::string> seen;
    for (SerialResult r : all) {
        const std::string text = DescribeResult(r);
        EXPECT_FALSE(text.empty());
        for (const auto& s : seen) EXPECT_NE(s, text);
        seen.push_back(text);
    }
    EXPECT_EQ(std::string(DescribeResult(SerialResult::Busy)), "device busy: another program holds it");
    EXPECT_EQ(std::string(DescribeResult(SerialResult::AccessDenied)), "permission denied");
    EXPECT_EQ(std::string(DescribeResult(SerialResult::NotFound)), "no such device");

    Pty pty;
    struct stat st {};
    ASSERT_EQ(::stat(pty.path().c_str(), &st), 0);
    const group* g = ::getgrgid(st.st_gid);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(DeviceGroup(pty.path()), std::string(g->gr_name));
    EXPECT_EQ(DeviceGroup("/dev/pellory-no-such-port"), "");
}

// --- line settings ---

#if defined(__linux__) && (defined(__x86_64__) || defined(__aarch64__) || defined(__riscv))
// The kernel's numeric-rate record, to see the rate exactly as the line holds it.
struct Termios2 {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};
uint32_t LineRate(int fd) {
    Termios2 t{};
    EXPECT_EQ(::ioctl(fd, _IOR('T', 0x2A, Termios2), &t), 0);
    return t.c_ospeed;
}
constexpr bool kNumericRates = true;
#else
uint32_t LineRate(int) { return 0; }
constexpr bool kNumericRates = false;
#endif

LineSettings Record(uint32_t baud, uint8_t bits, uint8_t parity, uint8_t stop, uint32_t flags = kFlagBinary) {
    LineSettings s;
    s.baudRate = baud;
    s.byteSize = bits;
    s.parity = parity;
    s.stopBits = stop;
    s.flags = flags | (1u << kDtrControlShift) | (1u << kRtsControlShift);
    s.xonChar = 0x11;
    s.xoffChar = 0x13;
    return s;
}

TEST_F(SerialDeviceTest, OpenPutsTheLineInRawMode) {
    const termios t = pty.slaveTermios();
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    // Descriptor stays non-blocking: every wait is a bounded poll.
    EXPECT_NE(::fcntl(dev.nativeHandle(), F_GETFL) & O_NONBLOCK, 0);
    // Bytes pass untranslated both ways.
    pty.send(std::string("\r\n\x03\x11\x13\x7f", 6));
    ASSERT_TRUE(QueuedWithin(dev, 6));
    char buf[6];
    size_t n = 0;
    setTimeouts(kMaxDword, 0, 0);
    ASSERT_EQ(dev.read(buf, 6, n), SerialResult::Ok);
    EXPECT_EQ(std::string(buf, n), std::string("\r\n\x03\x11\x13\x7f", 6));
}

TEST_F(SerialDeviceTest, BaudRatesRoundTripAndReachTheLine) {
    std::vector<uint32_t> rates = {2400, 4800, 9600, 14400, 19200, 28800, 38400, 56000, 57600, 115200};
    if (kNumericRates) rates.push_back(250000);
    for (uint32_t rate : rates) {
        SCOPED_TRACE(rate);
        const LineSettings in = Record(rate, 8, kParityNone, kOneStopBit);
        ASSERT_EQ(dev.setLineSettings(in), SerialResult::Ok);
        LineSettings out;
        ASSERT_EQ(dev.getLineSettings(out), SerialResult::Ok);
        EXPECT_EQ(out, in);
        if (kNumericRates) {
            EXPECT_EQ(LineRate(pty.slave()), rate);
        }
    }
    // Standard rates use the standard speed codes, so other tools read them too.
    ASSERT_EQ(dev.setLineSettings(Record(9600, 8, kParityNone, kOneStopBit)), SerialResult::Ok);
    termios t = pty.slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    ASSERT_EQ(dev.setLineSettings(Record(115200, 8, kParityNone, kOneStopBit)), SerialResult::Ok);
    t = pty.slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B115200));
}

TEST_F(SerialDeviceTest, FramingRoundTripsAndReachesTheLine) {
    // A pseudo-terminal forces 8 data bits and no parity generation (PARENB), but keeps the
    // parity kind bits and the stop bits, which are checked here.
    for (uint8_t bits = 5; bits <= 8; ++bits) {
        for (uint8_t parity = kParityNone; parity <= kParitySpace; ++parity) {
            for (uint8_t stop = kOneStopBit; stop <= kTwoStopBits; ++stop) {
                SCOPED_TRACE(testing::Message() << int(bits) << " bits, parity " << int(parity) << ", stop " << int(stop));
                const LineSettings in = Record(9600, bits, parity, stop, kFlagBinary | (parity ? uint32_t{kFlagParity} : 0u));
                ASSERT_EQ(dev.setLineSettings(in), SerialResult::Ok);
                LineSettings out;
                ASSERT_EQ(dev.getLineSettings(out), SerialResult::Ok);
                EXPECT_EQ(out, in);
                const termios t = pty.slaveTermios();
                EXPECT_EQ((t.c_cflag & CSTOPB) != 0, stop != kOneStopBit);
                EXPECT_EQ((t.c_cflag & PARODD) != 0, parity == kParityOdd || parity == kParityMark);
                EXPECT_EQ((t.c_cflag & CMSPAR) != 0, parity == kParityMark || parity == kParitySpace);
                EXPECT_EQ((t.c_iflag & INPCK) != 0, parity != kParityNone);
            }
        }
    }
}

TEST_F(SerialDeviceTest, FlowControlWordAndXonXoffRoundTrip) {
    struct Case {
        uint32_t flags;
        bool crtscts, ixon, ixoff;
    };
    const Case cases[] = {
        {kFlagBinary, false, false, false},
        {kFlagBinary | kFlagOutxCtsFlow | (2u << kRtsControlShift), true, false, false},
        {kFlagBinary | kFlagOutX | kFlagInX | kFlagTxContinueOnXoff, false, true, true},
        {kFlagBinary | kFlagOutX, false, true, false},
        {kFlagBinary | kFlagInX, false, false, true},
        // No termios equivalent: must come back exactly as given.
        {kFlagBinary | kFlagOutxDsrFlow | kFlagDsrSensitivity | (2u << kDtrControlShift) | kFlagErrorChar | kFlagNull |
             kFlagAbortOnError | (3u << kRtsControlShift),
         false, false, false},
        {kFlagBinary | (0u << kDtrControlShift) | (0u << kRtsControlShift), false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.flags);
        LineSettings in = Record(19200, 8, kParityNone, kOne5StopBits);
        in.flags = c.flags;
        in.xonChar = 0x21;
        in.xoffChar = 0x22;
        ASSERT_EQ(dev.setLineSettings(in), SerialResult::Ok);
        LineSettings out;
        ASSERT_EQ(dev.getLineSettings(out), SerialResult::Ok);
        EXPECT_EQ(out, in);
        const termios t = pty.slaveTermios();
        EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.crtscts);
        EXPECT_EQ((t.c_iflag & IXON) != 0, c.ixon);
        EXPECT_EQ((t.c_iflag & IXOFF) != 0, c.ixoff);
        EXPECT_EQ(t.c_cc[VSTART], 0x21);
        EXPECT_EQ(t.c_cc[VSTOP], 0x22);
        EXPECT_NE(t.c_cflag & CSTOPB, 0u) << "1.5 stop bits run as two";
        EXPECT_EQ(t.c_cc[VMIN], 0);
    }
}

TEST_F(SerialDeviceTest, ChangesMadeOutsideShowThroughAndBadRecordsAreRefused) {
    LineSettings in = Record(38400, 8, kParityNone, kOne5StopBits, kFlagBinary | kFlagOutxDsrFlow);
    ASSERT_EQ(dev.setLineSettings(in), SerialResult::Ok);

    // Another program changes rate, stop bits and XON/XOFF output flow behind the device's back.
    termios t = pty.slaveTermios();
    t.c_cflag &= ~CSTOPB;
    t.c_iflag |= IXON;
    cfsetspeed(&t, B4800);
    ASSERT_EQ(::tcsetattr(pty.slave(), TCSANOW, &t), 0);
    LineSettings out;
    ASSERT_EQ(dev.getLineSettings(out), SerialResult::Ok);
    EXPECT_EQ(out.baudRate, 4800u);
    EXPECT_EQ(out.stopBits, kOneStopBit);
    EXPECT_NE(out.flags & kFlagOutX, 0u);
    EXPECT_NE(out.flags & kFlagOutxDsrFlow, 0u) << "untouched fields keep the record's value";
    EXPECT_EQ(out.byteSize, 8);

    const LineSettings good = out;
    auto refused = [&](LineSettings bad) {
        EXPECT_EQ(dev.setLineSettings(bad), SerialResult::InvalidArgument);
        LineSettings after;
        ASSERT_EQ(dev.getLineSettings(after), SerialResult::Ok);
        EXPECT_EQ(after, good) << "a refused record changed the line";
    };
    LineSettings bad = good;
    bad.byteSize = 4;
    refused(bad);
    bad.byteSize = 9;
    refused(bad);
    bad = good;
    bad.parity = 5;
    refused(bad);
    bad = good;
    bad.stopBits = 3;
    refused(bad);
    bad = good;
    bad.baudRate = 0;
    refused(bad);
    bad = good;
    bad.flags |= 3u << kDtrControlShift;
    refused(bad);
    bad = good;
    bad.flags |= kFlagInX;
    bad.xonChar = bad.xoffChar = 0x11;
    refused(bad);
}

TEST_F(SerialDeviceTest, TimeoutsAndQueueSizesAreKept) {
    Timeouts t;
    ASSERT_EQ(dev.getTimeouts(t), SerialResult::Ok);
    EXPECT_EQ(t, Timeouts{});
    const Timeouts want{100, 2, 250, 1, 10000};
    ASSERT_EQ(dev.setTimeouts(want), SerialResult::Ok);
    ASSERT_EQ(dev.getTimeouts(t), SerialResult::Ok);
    EXPECT_EQ(t, want);
    EXPECT_EQ(dev.setQueueSizes(4096, 4096), SerialResult::Ok);
    // A fresh opening starts from the defaults again.
    dev.close();
    ASSERT_EQ(dev.open(pty.path(), false), SerialResult::Ok);
    ASSERT_EQ(dev.getTimeouts(t), SerialResult::Ok);
    EXPECT_EQ(t, Timeouts{});
}

// --- reads and their time-outs ---

TEST_F(SerialDeviceTest, ConstantTimeoutReturnsFewerBytesAfterTheConstant) {
    setTimeouts(0, 0, 200);
    pty.send("abc");
    char buf[10];
    size_t n = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Ok);
    const auto ms = MsSince(t0);
    EXPECT_EQ(std::string(buf, n), "abc");
    EXPECT_GE(ms, 195);
    EXPECT_LT(ms, 600);

    // Nothing at all: Ok with no bytes after the constant.
    const auto t1 = Clock::now();
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Ok);
    EXPECT_EQ(n, 0u);
    EXPECT_GE(MsSince(t1), 195);
    EXPECT_LT(MsSince(t1), 600);
}

TEST_F(SerialDeviceTest, MultiplierCountsPerByteAsked) {
    setTimeouts(0, 30, 40);  // 5 bytes: 190 ms
    char buf[5];
    size_t n = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Ok);
    EXPECT_EQ(n, 0u);
    EXPECT_GE(MsSince(t0), 185);
    EXPECT_LT(MsSince(t0), 600);
}

TEST_F(SerialDeviceTest, QueuedBytesReturnAtOnce) {
    setTimeouts(0, 0, 3000);
    pty.send("0123456789ABCDEF");
    ASSERT_TRUE(QueuedWithin(dev, 16));
    char buf[10];
    size_t n = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Ok);
    EXPECT_LT(MsSince(t0), 150);
    EXPECT_EQ(std::string(buf, n), "0123456789");
    EXPECT_EQ(InQueue(dev), 6u);
    EXPECT_EQ(dev.read(buf, 6, n), SerialResult::Ok);
    EXPECT_EQ(std::string(buf, n), "ABCDEF");
}

TEST_F(SerialDeviceTest, IntervalEndsAReadAfterAGapButNotBeforeTheFirstByte) {
    setTimeouts(60, 0, 5000);
    std::thread far([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        pty.send("xy");
    });
    char buf[10];
    size_t n = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Ok);
    const auto ms = MsSince(t0);
    far.join();
    EXPECT_EQ(std::string(buf, n), "xy");
    EXPECT_GE(ms, 150 + 55) << "the interval only runs once a byte has come";
    EXPECT_LT(ms, 1500) << "the gap after the last byte must end the read long before the total";

    // Bytes that keep coming within the interval keep the read going.
    std::thread trickle([&] {
        for (char c : std::string("12345")) {
            pty.send(std::string(1, c));
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
    });
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Ok);
    trickle.join();
    EXPECT_EQ(std::string(buf, n), "12345");
}

TEST_F(SerialDeviceTest, ImmediateAndFirstByteForms) {
    char buf[8];
    size_t n = 9;
    setTimeouts(kMaxDword, 0, 0);
    auto t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Ok);
    EXPECT_EQ(n, 0u);
    EXPECT_LT(MsSince(t0), 50);

    setTimeouts(kMaxDword, kMaxDword, 150);
    t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Ok);
    EXPECT_EQ(n, 0u);
    EXPECT_GE(MsSince(t0), 145);
    EXPECT_LT(MsSince(t0), 600);

    std::thread far([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        pty.send("q");
    });
    t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Ok);
    far.join();
    EXPECT_EQ(std::string(buf, n), "q");
    EXPECT_LT(MsSince(t0), 140) << "the first byte ends the read";
}

TEST_F(SerialDeviceTest, WritesReachTheFarEndInOrder) {
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131 + (i >> 9)) & 0xFF);
    std::string got;
    std::thread far([&] { got = pty.receive(big.size(), 5000); });
    size_t n = 0;
    EXPECT_EQ(dev.write(big.data(), big.size(), n), SerialResult::Ok);
    EXPECT_EQ(n, big.size());
    far.join();
    EXPECT_TRUE(got == big);
    EXPECT_EQ(dev.flush(1000), SerialResult::Ok);
}

TEST_F(SerialDeviceTest, WriteTimeoutEndsAWriteTheLineCannotTake) {
    ASSERT_EQ(dev.setTimeouts(Timeouts{0, 0, 0, 0, 150}), SerialResult::Ok);
    std::vector<char> big(1 << 20, 'w');  // far more than a pty buffers
    size_t n = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(dev.write(big.data(), big.size(), n), SerialResult::Ok);
    EXPECT_GE(MsSince(t0), 145);
    EXPECT_LT(MsSince(t0), 800);
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, big.size());
}

// --- queues, purge, lines ---

TEST_F(SerialDeviceTest, QueueCountsPurgeAndModemLines) {
    CommStatus st;
    ASSERT_EQ(dev.clearError(&st), SerialResult::Ok);
    EXPECT_EQ(st.inQueue, 0u);
    EXPECT_EQ(st.outQueue, 0u);
    EXPECT_EQ(st.errors, 0u);
    EXPECT_EQ(dev.clearError(nullptr), SerialResult::Ok);

    pty.send(std::string(100, 'z'));
    ASSERT_TRUE(QueuedWithin(dev, 100));
    ASSERT_EQ(dev.clearError(&st), SerialResult::Ok);
    EXPECT_EQ(st.inQueue, 100u);
    EXPECT_EQ(st.errors, 0u) << "a pty has no line errors";

    EXPECT_EQ(dev.purge(kPurgeRxAbort | kPurgeRxClear), SerialResult::Ok);
    EXPECT_EQ(InQueue(dev), 0u);
    setTimeouts(kMaxDword, 0, 0);
    char buf[8];
    size_t n = 9;
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Ok);
    EXPECT_EQ(n, 0u) << "purged input came back";
    EXPECT_EQ(dev.purge(0x10), SerialResult::InvalidArgument);

    // After a purge new input is read normally.
    pty.send("after");
    ASSERT_TRUE(QueuedWithin(dev, 5));
    EXPECT_EQ(dev.read(buf, 5, n), SerialResult::Ok);
    EXPECT_EQ(std::string(buf, n), "after");

    uint32_t modem = 0;
    EXPECT_EQ(dev.modemStatus(modem), SerialResult::Ok);
    EXPECT_EQ(modem, kModemCts | kModemDsr) << "a line without modem signals reads as ready";
    EXPECT_EQ(dev.clearBreak(), SerialResult::Ok);
    EXPECT_EQ(dev.flush(500), SerialResult::Ok);
}

// --- events ---

TEST_F(SerialDeviceTest, EventWaitsReportArrivalsOutputAndTimeouts) {
    uint32_t mask = 0;
    EXPECT_EQ(dev.getEventMask(mask), SerialResult::Ok);
    EXPECT_EQ(mask, 0u);
    uint32_t ev = 99;
    EXPECT_EQ(dev.waitEvent(ev, 10), SerialResult::InvalidArgument) << "no mask";

    ASSERT_EQ(dev.setEventMask(kEvRxChar | kEvTxEmpty | kEvCts | kEvDsr | kEvErr | kEvBreak), SerialResult::Ok);
    EXPECT_EQ(dev.getEventMask(mask), SerialResult::Ok);
    EXPECT_EQ(mask, kEvRxChar | kEvTxEmpty | kEvCts | kEvDsr | kEvErr | kEvBreak);

    auto t0 = Clock::now();
    EXPECT_EQ(dev.waitEvent(ev, 120), SerialResult::Timeout);
    EXPECT_EQ(ev, 0u);
    EXPECT_GE(MsSince(t0), 115);
    EXPECT_LT(MsSince(t0), 600);

    std::thread far([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        pty.send("hello");
    });
    t0 = Clock::now();
    EXPECT_EQ(dev.waitEvent(ev, 3000), SerialResult::Ok);
    far.join();
    EXPECT_EQ(ev, kEvRxChar);
    EXPECT_LT(MsSince(t0), 1000);

    // Reported and unread: no second report until more comes or something is read.
    EXPECT_EQ(dev.waitEvent(ev, 80), SerialResult::Timeout);
    ASSERT_TRUE(QueuedWithin(dev, 5));
    setTimeouts(kMaxDword, 0, 0);
    char buf[2];
    size_t n = 0;
    ASSERT_EQ(dev.read(buf, 2, n), SerialResult::Ok);
    EXPECT_EQ(dev.waitEvent(ev, 500), SerialResult::Ok);
    EXPECT_EQ(ev, kEvRxChar) << "bytes still queued after a read are reported again";
    EXPECT_EQ(dev.purge(kPurgeRxClear), SerialResult::Ok);

    // Output written and gone: one TxEmpty.
    ASSERT_EQ(dev.write("out", 3, n), SerialResult::Ok);
    EXPECT_EQ(dev.waitEvent(ev, 1000), SerialResult::Ok);
    EXPECT_EQ(ev, kEvTxEmpty);
    EXPECT_EQ(pty.receive(3), "out");
    EXPECT_EQ(dev.waitEvent(ev, 60), SerialResult::Timeout) << "TxEmpty is owed once per write";

    // A TxEmpty outside the mask is not reported.
    ASSERT_EQ(dev.setEventMask(kEvRxChar), SerialResult::Ok);
    ASSERT_EQ(dev.write("x", 1, n), SerialResult::Ok);
    EXPECT_EQ(dev.waitEvent(ev, 80), SerialResult::Timeout);
}

TEST_F(SerialDeviceTest, NewMaskFromAnotherThreadEndsAWait) {
    ASSERT_EQ(dev.setEventMask(kEvRxChar), SerialResult::Ok);
    // A mask set before the wait does not end it.
    ASSERT_EQ(dev.setEventMask(kEvRxChar | kEvCts), SerialResult::Ok);
    uint32_t ev = 99;
    EXPECT_EQ(dev.waitEvent(ev, 60), SerialResult::Timeout);

    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        EXPECT_EQ(dev.setEventMask(kEvRxChar), SerialResult::Ok);
    });
    const auto t0 = Clock::now();
    EXPECT_EQ(dev.waitEvent(ev, 5000), SerialResult::Ok);
    const auto ms = MsSince(t0);
    other.join();
    EXPECT_EQ(ev, 0u);
    EXPECT_GE(ms, 70);
    EXPECT_LT(ms, 1000);

    // Mask 0 from another thread (how a monitor is stopped) ends the wait too.
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        dev.setEventMask(0);
    });
    EXPECT_EQ(dev.waitEvent(ev, kMaxDword), SerialResult::Ok);
    stopper.join();
    EXPECT_EQ(ev, 0u);
}

// --- interruption ---

TEST_F(SerialDeviceTest, InterruptEndsBlockedCallsUntilCleared) {
    setTimeouts(0, 0, 0);  // no limit at all
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        dev.interrupt();
    });
    char buf[8];
    size_t n = 9;
    auto t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Interrupted);
    other.join();
    EXPECT_EQ(n, 0u);
    EXPECT_LT(MsSince(t0), 1000);

    // While interrupted, every wait returns at once.
    ASSERT_EQ(dev.setEventMask(kEvRxChar), SerialResult::Ok);
    uint32_t ev = 0;
    t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Interrupted);
    EXPECT_EQ(dev.waitEvent(ev, 5000), SerialResult::Interrupted);
    EXPECT_EQ(dev.flush(5000), SerialResult::Ok) << "nothing to flush";
    EXPECT_LT(MsSince(t0), 200);

    // A read that has bytes returns them.
    pty.send("abc");
    ASSERT_TRUE(QueuedWithin(dev, 3));
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Ok);
    EXPECT_EQ(std::string(buf, n), "abc");

    dev.clearInterrupt();
    setTimeouts(0, 0, 100);
    t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Ok);
    EXPECT_GE(MsSince(t0), 95) << "the interrupt outlived clearInterrupt";

    // A write without limit that the line cannot take ends on interrupt with what went out.
    std::vector<char> big(1 << 20, 'i');
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        dev.interrupt();
    });
    ASSERT_EQ(dev.setTimeouts(Timeouts{}), SerialResult::Ok);
    t0 = Clock::now();
    EXPECT_EQ(dev.write(big.data(), big.size(), n), SerialResult::Ok);
    later.join();
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, big.size());
    EXPECT_LT(MsSince(t0), 1000);
    dev.clearInterrupt();
}

TEST_F(SerialDeviceTest, PurgeAbortEndsAReadInAnotherThread) {
    setTimeouts(0, 0, 0);
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        dev.purge(kPurgeRxAbort);
    });
    char buf[4];
    size_t n = 9;
    const auto t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::Ok);
    other.join();
    EXPECT_EQ(n, 0u);
    EXPECT_LT(MsSince(t0), 1000);
}

// --- a device that goes away ---

TEST_F(SerialDeviceTest, VanishWhileReadingGivesAnErrorPromptly) {
    setTimeouts(0, 0, 0);
    std::thread far([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        pty.closeMaster();
    });
    char buf[8];
    size_t n = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::IoError);
    far.join();
    EXPECT_LT(MsSince(t0), 2000);

    // Everything after reports the loss without waiting.
    CommStatus st;
    uint32_t ev = 0;
    ASSERT_EQ(dev.setEventMask(kEvRxChar | kEvCts), SerialResult::Ok);
    const auto t1 = Clock::now();
    EXPECT_EQ(dev.clearError(&st), SerialResult::IoError);
    EXPECT_EQ(dev.waitEvent(ev, 5000), SerialResult::IoError);
    EXPECT_EQ(dev.write("x", 1, n), SerialResult::IoError);
    EXPECT_EQ(dev.read(buf, sizeof buf, n), SerialResult::IoError);
    EXPECT_EQ(dev.waitReadable(5000), SerialResult::IoError);
    EXPECT_EQ(dev.flush(5000), SerialResult::IoError);
    EXPECT_LT(MsSince(t1), 500);
    dev.close();
}

TEST_F(SerialDeviceTest, VanishWhileWritingWithoutLimitGivesAnErrorPromptly) {
    ASSERT_EQ(dev.setTimeouts(Timeouts{}), SerialResult::Ok);
    std::vector<char> big(1 << 20, 'v');
    std::thread far([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.closeMaster();
    });
    size_t n = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(dev.write(big.data(), big.size(), n), SerialResult::IoError);
    far.join();
    EXPECT_LT(n, big.size());
    EXPECT_LT(MsSince(t0), 2000);
}

TEST_F(SerialDeviceTest, VanishDuringAnEventWaitEndsIt) {
    ASSERT_EQ(dev.setEventMask(kEvRxChar | kEvTxEmpty), SerialResult::Ok);
    std::thread far([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        pty.closeMaster();
    });
    uint32_t ev = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(dev.waitEvent(ev, kMaxDword), SerialResult::IoError);
    far.join();
    EXPECT_LT(MsSince(t0), 2000);
}

// --- overlapped style ---

class OverlappedTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(pty.path().empty());
        ASSERT_EQ(dev.open(pty.path(), true), SerialResult::Ok);
    }
    Pty pty;
    SerialDevice dev;
};

std::string Pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 167 + (i >> 10) * seed + seed) & 0xFF);
    return s;
}

TEST_F(OverlappedTest, MegabyteWriteKeepsEveryByteInOrderWhileTheFarEndDrainsSlowly) {
    const std::string first = Pattern(1 << 20, 3);
    const std::string second = Pattern(5000, 11);
    const std::string third = Pattern(3000, 29);
    size_t n = 0;
    EXPECT_EQ(dev.writeAsync(first.data(), first.size(), n), SerialResult::Pending);
    EXPECT_LT(n, first.size());
    EXPECT_EQ(dev.pendingWriteBytes(), first.size() - n);
    // Queued behind the first: nothing of it may go out ahead.
    EXPECT_EQ(dev.writeAsync(second.data(), second.size(), n), SerialResult::Pending);
    EXPECT_EQ(n, 0u);

    const std::string expected = first + second + third;
    std::string got;
    std::thread far([&] {
        const auto t0 = Clock::now();
        char buf[8192];
        while (got.size() < expected.size() && MsSince(t0) < 8000) {
            pollfd p{pty.master(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t r = ::read(pty.master(), buf, sizeof buf);
            if (r <= 0) break;
            got.append(buf, static_cast<size_t>(r));
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    // A plain write goes after everything queued before it.
    ASSERT_EQ(dev.setTimeouts(Timeouts{0, 0, 0, 0, 8000}), SerialResult::Ok);
    EXPECT_EQ(dev.write(third.data(), third.size(), n), SerialResult::Ok);
    EXPECT_EQ(n, third.size());
    EXPECT_EQ(dev.pumpPendingWrites(8000), SerialResult::Ok);
    EXPECT_EQ(dev.pendingWriteBytes(), 0u);
    far.join();
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "bytes lost or reordered";
}

TEST_F(OverlappedTest, EventWaitsPumpPendingOutputUntilTxEmpty) {
    const std::string data = Pattern(300000, 5);
    size_t n = 0;
    ASSERT_EQ(dev.writeAsync(data.data(), data.size(), n), SerialResult::Pending);
    std::string got;
    std::thread far([&] { got = pty.receive(data.size(), 8000); });
    ASSERT_EQ(dev.setEventMask(kEvTxEmpty), SerialResult::Ok);
    uint32_t ev = 0;
    SerialResult r = SerialResult::Timeout;
    const auto t0 = Clock::now();
    while (MsSince(t0) < 8000 && (r = dev.waitEvent(ev, 200)) == SerialResult::Timeout) {
    }
    EXPECT_EQ(r, SerialResult::Ok);
    EXPECT_EQ(ev, kEvTxEmpty);
    EXPECT_EQ(dev.pendingWriteBytes(), 0u);
    far.join();
    EXPECT_TRUE(got == data);
}

TEST_F(OverlappedTest, PendingOutputIsCountedAndPurged) {
    std::vector<char> big(1 << 20, 'p');
    size_t n = 0;
    ASSERT_EQ(dev.writeAsync(big.data(), big.size(), n), SerialResult::Pending);
    const size_t left = dev.pendingWriteBytes();
    EXPECT_EQ(left, big.size() - n);
    CommStatus st;
    ASSERT_EQ(dev.clearError(&st), SerialResult::Ok);
    // clearError pumps first, so the pty may have taken a little more meanwhile.
    EXPECT_LE(st.outQueue, left);
    EXPECT_GT(st.outQueue, 0u);
    EXPECT_EQ(st.outQueue, dev.pendingWriteBytes()) << "a pty keeps no kernel output queue; the rest is pending";
    EXPECT_EQ(dev.pumpPendingWrites(60), SerialResult::Timeout);
    EXPECT_EQ(dev.flush(60), SerialResult::Timeout);
    EXPECT_EQ(dev.purge(kPurgeTxClear), SerialResult::Ok);
    EXPECT_EQ(dev.pendingWriteBytes(), 0u);
    EXPECT_EQ(dev.pumpPendingWrites(0), SerialResult::Ok);

    // Interrupt ends a pump that cannot finish.
    ASSERT_EQ(dev.writeAsync(big.data(), big.size(), n), SerialResult::Pending);
    dev.interrupt();
    EXPECT_EQ(dev.pumpPendingWrites(5000), SerialResult::Interrupted);
    dev.clearInterrupt();
    // Closing drops what is pending instead of waiting for the line.
    const auto t0 = Clock::now();
    dev.close();
    EXPECT_LT(MsSince(t0), 500);
    EXPECT_EQ(dev.pendingWriteBytes(), 0u);
}

TEST_F(OverlappedTest, AsyncReadsAreImmediateAndWaitReadableWaits) {
    char buf[16];
    size_t n = 9;
    EXPECT_EQ(dev.readAsync(buf, sizeof buf, n), SerialResult::Pending);
    EXPECT_EQ(n, 0u);
    auto t0 = Clock::now();
    EXPECT_EQ(dev.waitReadable(80), SerialResult::Timeout);
    EXPECT_GE(MsSince(t0), 75);

    std::thread far([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.send("ready");
    });
    t0 = Clock::now();
    EXPECT_EQ(dev.waitReadable(3000), SerialResult::Ok);
    far.join();
    EXPECT_LT(MsSince(t0), 1000);
    ASSERT_TRUE(QueuedWithin(dev, 5));
    EXPECT_EQ(dev.readAsync(buf, 3, n), SerialResult::Ok);
    EXPECT_EQ(std::string(buf, n), "rea");
    EXPECT_EQ(dev.readAsync(buf, sizeof buf, n), SerialResult::Ok);
    EXPECT_EQ(std::string(buf, n), "dy");

    dev.interrupt();
    EXPECT_EQ(dev.waitReadable(5000), SerialResult::Interrupted);
    dev.clearInterrupt();

    pty.closeMaster();
    EXPECT_EQ(dev.readAsync(buf, sizeof buf, n), SerialResult::IoError);
}

TEST(OverlappedMode, AsyncCallsNeedOverlappedMode) {
    Pty pty;
    SerialDevice dev;
    ASSERT_EQ(dev.open(pty.path(), false), SerialResult::Ok);
    char buf[4] = {};
    size_t n = 0;
    EXPECT_EQ(dev.readAsync(buf, sizeof buf, n), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.writeAsync(buf, sizeof buf, n), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.pumpPendingWrites(0), SerialResult::Ok);
    EXPECT_EQ(dev.pendingWriteBytes(), 0u);
}

}  // namespace
}  // namespace pellory::platform
