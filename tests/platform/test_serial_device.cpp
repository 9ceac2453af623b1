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

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_device.h"
#include "support/scratch_folder.h"

namespace pellory::platform {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

void After(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A pseudo-terminal pair. The device opens the slave by path; the test keeps the master (the far
// end of the line) and its own slave descriptor to look at the line's termios.
class Pty {
public:
    Pty() {
        char name[128] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0) path = name;
    }
    ~Pty() {
        closeMaster();
        if (slave_ >= 0) ::close(slave_);
    }
    int master() const { return master_; }
    int slave() const { return slave_; }
    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    void send(const std::string& b) { ASSERT_EQ(::write(master_, b.data(), b.size()), ssize_t(b.size())); }
    // What the device wrote: up to n bytes within ms; pauseUs after each read drains slowly.
    std::string receive(size_t n, int ms = 1000, int pauseUs = 0) {
        std::string out;
        const auto t0 = Clock::now();
        char buf[8192];
        while (out.size() < n && MsSince(t0) < ms) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
            if (r <= 0) break;
            out.append(buf, static_cast<size_t>(r));
            if (pauseUs) std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
        }
        return out;
    }
    termios slaveTermios() const {
        termios t{};
        EXPECT_EQ(::tcgetattr(slave_, &t), 0);
        return t;
    }
    std::string path;

private:
    int master_ = -1;
    int slave_ = -1;
};

// Calls fire after ms unless destroyed first: a call that should have been woken but was not is
// then ended another way, so a broken wake-up fails the test instead of hanging it.
class Watchdog {
public:
    Watchdog(int ms, std::function<void()> fire)
        : thread_([this, ms, fire = std::move(fire)] {
              std::unique_lock<std::mutex> lock(m_);
              if (!cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done_; })) fire();
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(m_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

uint32_t InQueue(SerialDevice& dev) {
    CommStatus st;
    return dev.clearError(&st) == SerialResult::Ok ? st.inQueue : 0xFFFFFFFFu;
}

// Waits until the device sees n input bytes (the pty hands bytes over asynchronously).
bool Queued(SerialDevice& dev, uint32_t n) {
    const auto t0 = Clock::now();
    while (InQueue(dev) < n) {
        if (MsSince(t0) > 2000) return false;
        After(2);
    }
    return true;
}

std::string Pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 167 + (i >> 10) * seed + seed) & 0xFF);
    return s;
}

class SerialDeviceTest : public ::testing::Test {
protected:
    virtual bool overlapped() const { return false; }
    void SetUp() override {
        ASSERT_FALSE(pty.path.empty()) << "openpty failed";
        ASSERT_EQ(dev.open(pty.path, overlapped()), SerialResult::Ok);
    }
    void setTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
        ASSERT_EQ(dev.setTimeouts(Timeouts{interval, multiplier, constant, 0, 0}), SerialResult::Ok);
    }
    Pty pty;
    SerialDevice dev;
    char buf[16] = {};
    size_t n = 0;
};

class OverlappedTest : public SerialDeviceTest {
protected:
    bool overlapped() const override { return true; }
};

// --- opening ---

TEST(SerialDeviceOpen, ExclusiveAgainstDevicesAndProcessesThenReopens) {
    Pty pty;
    SerialDevice a, b;
    ASSERT_EQ(a.open(pty.path, true), SerialResult::Ok);
    EXPECT_TRUE(a.isOverlapped());
    EXPECT_EQ(a.path(), pty.path);
    EXPECT_GE(a.nativeHandle(), 0);
    EXPECT_EQ(b.open(pty.path, false), SerialResult::Busy);
    EXPECT_FALSE(b.isOpen());

    // Another process asking for the device the same way is refused too.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) ::_exit(errno == EBUSY ? 1 : 3);
        ::_exit(::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK ? 1 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "the other process got the device";

    a.close();
    EXPECT_FALSE(a.isOpen());
    EXPECT_EQ(a.nativeHandle(), -1);
    EXPECT_EQ(b.open(pty.path, false), SerialResult::Ok);
    EXPECT_FALSE(b.isOverlapped());
    size_t moved = 0;
    EXPECT_EQ(b.readAsync(&status, 1, moved), SerialResult::InvalidArgument) << "needs overlapped mode";
    EXPECT_EQ(b.writeAsync(&status, 1, moved), SerialResult::InvalidArgument) << "needs overlapped mode";

    // Opening an open device closes it first.
    Pty other;
    EXPECT_EQ(b.open(other.path, false), SerialResult::Ok);
    EXPECT_EQ(a.open(pty.path, false), SerialResult::Ok) << "the first path was not released";
}

TEST(SerialDeviceOpen, FailuresAndClosedDevices) {
    SerialDevice dev;
    EXPECT_EQ(dev.open("/dev/pellory-no-such-port", false), SerialResult::NotFound);
    const pellory::test::ScratchFolder scratch("pellory-serial");
    const std::string file = scratch.Write("plain", "");
    EXPECT_EQ(dev.open(file, false), SerialResult::Unsupported) << "a plain file is no terminal";
    if (::geteuid() != 0) {
        ::chmod(file.c_str(), 0);
        EXPECT_EQ(dev.open(file, false), SerialResult::AccessDenied);
    }

    char b[4];
    size_t n = 99;
    uint32_t v = 0;
    LineSettings ls;
    EXPECT_EQ(dev.read(b, sizeof b, n), SerialResult::InvalidArgument);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(dev.write(b, sizeof b, n), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.getLineSettings(ls), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.clearError(nullptr), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.waitEvent(v, 10), SerialResult::InvalidArgument);
    EXPECT_EQ(dev.pumpPendingWrites(10), SerialResult::InvalidArgument);
}

TEST(SerialDeviceOpen, ReasonsAndDeviceGroup) {
    EXPECT_STREQ(DescribeResult(SerialResult::Busy), "device busy: another program holds it");
    EXPECT_STREQ(DescribeResult(SerialResult::AccessDenied), "permission denied");
    EXPECT_STREQ(DescribeResult(SerialResult::NotFound), "no such device");
    EXPECT_STRNE(DescribeResult(SerialResult::IoError), DescribeResult(SerialResult::Timeout));

    Pty pty;
    struct stat st {};
    ASSERT_EQ(::stat(pty.path.c_str(), &st), 0);
    const group* g = ::getgrgid(st.st_gid);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(DeviceGroup(pty.path), std::string(g->gr_name));
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
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_cc[VMIN] | t.c_cc[VTIME], 0);
    EXPECT_NE(::fcntl(dev.nativeHandle(), F_GETFL) & O_NONBLOCK, 0);
    const std::string raw("\r\n\x03\x11\x13\x7f", 6);
    pty.send(raw);
    ASSERT_TRUE(Queued(dev, 6));
    ASSERT_EQ(dev.read(buf, 6, n), SerialResult::Ok);
    EXPECT_EQ(std::string(buf, n), raw) << "bytes were translated";
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
    // Standard rates use the standard speed codes, so every other tool reads them too.
    ASSERT_EQ(dev.setLineSettings(Record(115200, 8, kParityNone, kOneStopBit)), SerialResult::Ok);
    const termios t = pty.slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B115200));
}

TEST_F(SerialDeviceTest, FramingRoundTripsAndReachesTheLine) {
    // A pseudo-terminal forces 8 data bits and clears PARENB, but keeps the parity kind bits and
    // the stop bits, which are checked here.
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
                EXPECT_EQ((t.c_cflag & CSTOPB) != 0, stop != kOneStopBit) << "1.5 runs as two";
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
        {kFlagBinary | kFlagInX, false, false, true},
        // No termios equivalent: must come back exactly as given.
        {kFlagBinary | kFlagOutxDsrFlow | kFlagDsrSensitivity | (2u << kDtrControlShift) | kFlagErrorChar | kFlagNull |
             kFlagAbortOnError | (3u << kRtsControlShift),
         false, false, false},
        {kFlagBinary, false, false, false},  // DTR and RTS off
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.flags);
        LineSettings in = Record(19200, 8, kParityNone, kOneStopBit);
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
    }
}

TEST_F(SerialDeviceTest, ChangesMadeOutsideShowThroughAndBadRecordsAreRefused) {
    ASSERT_EQ(dev.setLineSettings(Record(38400, 8, kParityNone, kOne5StopBits, kFlagBinary | kFlagOutxDsrFlow)),
              SerialResult::Ok);
    // Another program changes rate, stop bits and XON/XOFF output flow behind the device's back.
    termios t = pty.slaveTermios();
    t.c_cflag &= ~CSTOPB;
    t.c_iflag |= IXON;
    cfsetspeed(&t, B4800);
    ASSERT_EQ(::tcsetattr(pty.slave(), TCSANOW, &t), 0);
    LineSettings good;
    ASSERT_EQ(dev.getLineSettings(good), SerialResult::Ok);
    EXPECT_EQ(good.baudRate, 4800u);
    EXPECT_EQ(good.stopBits, kOneStopBit);
    EXPECT_NE(good.flags & kFlagOutX, 0u);
    EXPECT_NE(good.flags & kFlagOutxDsrFlow, 0u) << "untouched fields keep the record's value";

    const std::function<void(LineSettings&)> breakers[] = {
        [](LineSettings& s) { s.byteSize = 4; },
        [](LineSettings& s) { s.byteSize = 9; },
        [](LineSettings& s) { s.parity = 5; },
        [](LineSettings& s) { s.stopBits = 3; },
        [](LineSettings& s) { s.baudRate = 0; },
        [](LineSettings& s) { s.flags |= 3u << kDtrControlShift; },
        [](LineSettings& s) { s.xonChar = s.xoffChar; },  // with XON/XOFF flow on
    };
    for (const auto& breakIt : breakers) {
        LineSettings bad = good;
        breakIt(bad);
        EXPECT_EQ(dev.setLineSettings(bad), SerialResult::InvalidArgument);
        LineSettings after;
        ASSERT_EQ(dev.getLineSettings(after), SerialResult::Ok);
        EXPECT_EQ(after, good) << "a refused record changed the line";
    }
}

// --- reads, writes and their time-outs ---

TEST_F(SerialDeviceTest, TotalTimeoutReturnsFewerBytesAfterConstantPlusMultiplier) {
    Timeouts none;
    ASSERT_EQ(dev.getTimeouts(none), SerialResult::Ok);
    EXPECT_EQ(none, Timeouts{}) << "a fresh device starts without time-outs";
    setTimeouts(0, 0, 200);
    pty.send("abc");
    auto t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, 10, n), SerialResult::Ok);
    EXPECT_EQ(std::string(buf, n), "abc");
    EXPECT_GE(MsSince(t0), 195);
    EXPECT_LT(MsSince(t0), 600);

    setTimeouts(0, 30, 40);  // 5 bytes asked: 190 ms, and nothing comes
    t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, 5, n), SerialResult::Ok);
    EXPECT_EQ(n, 0u);
    EXPECT_GE(MsSince(t0), 185);
    EXPECT_LT(MsSince(t0), 600);
}

TEST_F(SerialDeviceTest, QueuedBytesReturnAtOnce) {
    setTimeouts(0, 0, 3000);
    pty.send("0123456789ABCDEF");
    ASSERT_TRUE(Queued(dev, 16));
    const auto t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, 10, n), SerialResult::Ok);
    EXPECT_LT(MsSince(t0), 150);
    EXPECT_EQ(std::string(buf, n), "0123456789");
    EXPECT_EQ(InQueue(dev), 6u);
    EXPECT_EQ(dev.read(buf, 6, n), SerialResult::Ok);
    EXPECT_EQ(std::string(buf, n), "ABCDEF");
}

TEST_F(SerialDeviceTest, IntervalEndsAReadAfterAGapButNotBeforeTheFirstByte) {
    setTimeouts(60, 0, 5000);
    // The gap is measured from the moment the far end sends: the far thread may start before
    // the read does, so the read's own start says nothing about when the bytes came.
    Clock::time_point sent;
    std::thread far([&] {
        After(150);
        sent = Clock::now();
        pty.send("xy");
    });
    const auto t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, 10, n), SerialResult::Ok);
    const auto end = Clock::now();
    const auto ms = MsSince(t0);
    far.join();
    // 150 ms without a byte did not end the read: the interval only runs once a byte has come.
    EXPECT_EQ(std::string(buf, n), "xy");
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(end - sent).count(), 55)
        << "the read ended before the interval after the last byte";
    EXPECT_LT(ms, 1500) << "the gap after the last byte must end the read long before the total";

    // Bytes that keep coming within the interval keep the read going.
    std::thread trickle([&] {
        for (char c : std::string("12345")) {
            pty.send(std::string(1, c));
            After(15);
        }
    });
    EXPECT_EQ(dev.read(buf, 10, n), SerialResult::Ok);
    trickle.join();
    EXPECT_EQ(std::string(buf, n), "12345");
}

TEST_F(SerialDeviceTest, ImmediateAndFirstByteForms) {
    setTimeouts(kMaxDword, 0, 0);
    auto t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, 8, n), SerialResult::Ok);
    EXPECT_EQ(n, 0u);
    EXPECT_LT(MsSince(t0), 50);

    setTimeouts(kMaxDword, kMaxDword, 150);
    t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, 8, n), SerialResult::Ok);
    EXPECT_EQ(n, 0u);
    EXPECT_GE(MsSince(t0), 145);
    EXPECT_LT(MsSince(t0), 600);

    std::thread far([&] {
        After(40);
        pty.send("q");
    });
    t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, 8, n), SerialResult::Ok);
    far.join();
    EXPECT_EQ(std::string(buf, n), "q");
    EXPECT_LT(MsSince(t0), 140) << "the first byte ends the read";
}

TEST_F(SerialDeviceTest, WriteTimeoutEndsAWriteTheLineCannotTake) {
    ASSERT_EQ(dev.setTimeouts(Timeouts{0, 0, 0, 0, 150}), SerialResult::Ok);
    const std::string big(1 << 20, 'w');  // far more than a pty buffers
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
    EXPECT_EQ(st.inQueue + st.outQueue + st.errors, 0u);
    pty.send(std::string(100, 'z'));
    ASSERT_TRUE(Queued(dev, 100));
    ASSERT_EQ(dev.clearError(&st), SerialResult::Ok);
    EXPECT_EQ(st.inQueue, 100u);
    EXPECT_EQ(st.errors, 0u) << "a pty has no line errors";

    EXPECT_EQ(dev.purge(kPurgeRxAbort | kPurgeRxClear), SerialResult::Ok);
    EXPECT_EQ(InQueue(dev), 0u);
    setTimeouts(kMaxDword, 0, 0);
    EXPECT_EQ(dev.read(buf, 8, n), SerialResult::Ok);
    EXPECT_EQ(n, 0u) << "purged input came back";
    EXPECT_EQ(dev.purge(0x10), SerialResult::InvalidArgument);
    pty.send("after");
    ASSERT_TRUE(Queued(dev, 5));
    EXPECT_EQ(dev.read(buf, 5, n), SerialResult::Ok);
    EXPECT_EQ(std::string(buf, n), "after");

    uint32_t modem = 0;
    EXPECT_EQ(dev.modemStatus(modem), SerialResult::Ok);
    EXPECT_EQ(modem, kModemCts | kModemDsr) << "a line without modem signals reads as ready";
    EXPECT_EQ(dev.clearBreak(), SerialResult::Ok);
    EXPECT_EQ(dev.setQueueSizes(4096, 4096), SerialResult::Ok);
    EXPECT_EQ(dev.flush(500), SerialResult::Ok);
}

// --- events ---

TEST_F(SerialDeviceTest, EventWaitsReportArrivalsOutputAndTimeouts) {
    uint32_t ev = 99;
    EXPECT_EQ(dev.waitEvent(ev, 10), SerialResult::InvalidArgument) << "no mask";
    const uint32_t mask = kEvRxChar | kEvTxEmpty | kEvCts | kEvDsr | kEvErr | kEvBreak;
    ASSERT_EQ(dev.setEventMask(mask), SerialResult::Ok);
    uint32_t got = 0;
    EXPECT_EQ(dev.getEventMask(got), SerialResult::Ok);
    EXPECT_EQ(got, mask);

    auto t0 = Clock::now();
    EXPECT_EQ(dev.waitEvent(ev, 120), SerialResult::Timeout);
    EXPECT_EQ(ev, 0u);
    EXPECT_GE(MsSince(t0), 115);
    EXPECT_LT(MsSince(t0), 600);

    std::thread far([&] {
        After(60);
        pty.send("hello");
    });
    t0 = Clock::now();
    EXPECT_EQ(dev.waitEvent(ev, 3000), SerialResult::Ok);
    far.join();
    EXPECT_EQ(ev, kEvRxChar);
    EXPECT_LT(MsSince(t0), 1000);

    // Reported and unread: no second report until more comes or something is read.
    EXPECT_EQ(dev.waitEvent(ev, 80), SerialResult::Timeout);
    ASSERT_TRUE(Queued(dev, 5));
    setTimeouts(kMaxDword, 0, 0);
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
    // Outside the mask it is not reported.
    ASSERT_EQ(dev.setEventMask(kEvRxChar), SerialResult::Ok);
    ASSERT_EQ(dev.write("x", 1, n), SerialResult::Ok);
    EXPECT_EQ(dev.waitEvent(ev, 80), SerialResult::Timeout);
}

TEST_F(SerialDeviceTest, NewMaskFromAnotherThreadEndsAWait) {
    ASSERT_EQ(dev.setEventMask(kEvRxChar), SerialResult::Ok);
    ASSERT_EQ(dev.setEventMask(kEvRxChar | kEvCts), SerialResult::Ok);
    uint32_t ev = 99;
    EXPECT_EQ(dev.waitEvent(ev, 60), SerialResult::Timeout) << "a mask set before the wait ended it";

    // Mask 0, as a monitor thread is stopped, or a new mask, ends the wait with no events.
    for (uint32_t next : {uint32_t{kEvRxChar}, 0u}) {
        std::thread other([&] {
            After(80);
            EXPECT_EQ(dev.setEventMask(next), SerialResult::Ok);
        });
        const auto t0 = Clock::now();
        EXPECT_EQ(dev.waitEvent(ev, 5000), SerialResult::Ok);
        const auto ms = MsSince(t0);
        other.join();
        EXPECT_EQ(ev, 0u);
        EXPECT_GE(ms, 70);
        EXPECT_LT(ms, 1000);
    }
}

// --- interruption ---

TEST_F(SerialDeviceTest, InterruptEndsBlockedCallsUntilCleared) {
    setTimeouts(0, 0, 0);  // no limit at all
    std::thread other([&] {
        After(80);
        dev.interrupt();
    });
    auto t0 = Clock::now();
    {
        Watchdog dog(3000, [&] { dev.purge(kPurgeRxAbort); });
        EXPECT_EQ(dev.read(buf, 8, n), SerialResult::Interrupted);
    }
    other.join();
    EXPECT_LT(MsSince(t0), 1000);

    // While interrupted every wait returns at once; a read that finds bytes returns them.
    ASSERT_EQ(dev.setEventMask(kEvRxChar), SerialResult::Ok);
    uint32_t ev = 0;
    t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, 8, n), SerialResult::Interrupted);
    EXPECT_EQ(dev.waitEvent(ev, 5000), SerialResult::Interrupted);
    EXPECT_EQ(dev.waitReadable(5000), SerialResult::Interrupted);
    EXPECT_LT(MsSince(t0), 200);
    pty.send("abc");
    ASSERT_TRUE(Queued(dev, 3));
    EXPECT_EQ(dev.read(buf, 8, n), SerialResult::Ok);
    EXPECT_EQ(std::string(buf, n), "abc");

    dev.clearInterrupt();
    setTimeouts(0, 0, 100);
    t0 = Clock::now();
    EXPECT_EQ(dev.read(buf, 8, n), SerialResult::Ok);
    EXPECT_GE(MsSince(t0), 95) << "the interrupt outlived clearInterrupt";

    // A write without limit that the line cannot take ends with what went out.
    const std::string big(1 << 20, 'i');
    ASSERT_EQ(dev.setTimeouts(Timeouts{}), SerialResult::Ok);
    std::thread later([&] {
        After(80);
        dev.interrupt();
    });
    t0 = Clock::now();
    {
        Watchdog dog(3000, [&] { dev.purge(kPurgeTxAbort); });
        EXPECT_EQ(dev.write(big.data(), big.size(), n), SerialResult::Ok);
        EXPECT_LT(MsSince(t0), 1000);
    }
    later.join();
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, big.size());
}

TEST_F(SerialDeviceTest, PurgeAbortEndsAReadInAnotherThread) {
    setTimeouts(0, 0, 0);
    std::thread other([&] {
        After(60);
        dev.purge(kPurgeRxAbort);
    });
    const auto t0 = Clock::now();
    {
        Watchdog dog(3000, [&] { dev.interrupt(); });
        EXPECT_EQ(dev.read(buf, 4, n), SerialResult::Ok);
    }
    other.join();
    EXPECT_EQ(n, 0u);
    EXPECT_LT(MsSince(t0), 1000);
}

// --- a device that goes away ---

TEST_F(SerialDeviceTest, VanishDuringReadOrEventWaitReportsTheRemovalPromptly) {
    setTimeouts(0, 0, 0);
    std::thread far([&] {
        After(80);
        pty.closeMaster();
    });
    const auto t0 = Clock::now();
    {
        Watchdog dog(3000, [&] { dev.interrupt(); });
        EXPECT_EQ(dev.read(buf, 8, n), SerialResult::Removed);
    }
    far.join();
    EXPECT_LT(MsSince(t0), 2000);

    // Everything after reports the loss without waiting.
    CommStatus st;
    uint32_t ev = 0;
    ASSERT_EQ(dev.setEventMask(kEvRxChar | kEvCts), SerialResult::Ok);
    const auto t1 = Clock::now();
    EXPECT_EQ(dev.clearError(&st), SerialResult::Removed);
    EXPECT_EQ(dev.waitEvent(ev, 5000), SerialResult::Removed);
    EXPECT_EQ(dev.write("x", 1, n), SerialResult::Removed);
    EXPECT_EQ(dev.read(buf, 8, n), SerialResult::Removed);
    EXPECT_EQ(dev.waitReadable(5000), SerialResult::Removed);
    EXPECT_EQ(dev.flush(5000), SerialResult::Removed);
    EXPECT_EQ(dev.modemStatus(ev), SerialResult::Removed);
    EXPECT_EQ(dev.purge(kPurgeRxClear), SerialResult::Removed);
    EXPECT_LT(MsSince(t1), 500);
    EXPECT_STREQ(DescribeResult(SerialResult::Removed), "the device was removed");

    // Closing ends the state: the same object opens another line and works there.
    dev.close();
    Pty next;
    ASSERT_EQ(dev.open(next.path, false), SerialResult::Ok);
    EXPECT_EQ(dev.clearError(&st), SerialResult::Ok);
    EXPECT_EQ(dev.write("y", 1, n), SerialResult::Ok);
}

TEST_F(SerialDeviceTest, VanishWhileWaitingForEventsOrWritingWithoutLimit) {
    ASSERT_EQ(dev.setEventMask(kEvRxChar | kEvTxEmpty), SerialResult::Ok);
    std::thread far([&] {
        After(60);
        pty.closeMaster();
    });
    uint32_t ev = 0;
    auto t0 = Clock::now();
    EXPECT_EQ(dev.waitEvent(ev, 5000), SerialResult::Removed);
    far.join();
    EXPECT_LT(MsSince(t0), 2000);

    Pty second;
    SerialDevice other;
    ASSERT_EQ(other.open(second.path, false), SerialResult::Ok);
    const std::string big(1 << 20, 'v');
    std::thread gone([&] {
        After(100);
        second.closeMaster();
    });
    t0 = Clock::now();
    {
        Watchdog dog(3000, [&] { other.interrupt(); });
        EXPECT_EQ(other.write(big.data(), big.size(), n), SerialResult::Removed);
    }
    gone.join();
    EXPECT_LT(n, big.size());
    EXPECT_LT(MsSince(t0), 2000);
}

// --- overlapped style ---

TEST_F(OverlappedTest, MegabyteWriteKeepsEveryByteInOrderWhileTheFarEndDrainsSlowly) {
    const std::string first = Pattern(1 << 20, 3), second = Pattern(5000, 11), third = Pattern(3000, 29);
    EXPECT_EQ(dev.writeAsync(first.data(), first.size(), n), SerialResult::Pending);
    EXPECT_LT(n, first.size());
    EXPECT_EQ(dev.pendingWriteBytes(), first.size() - n);
    EXPECT_EQ(dev.writeAsync(second.data(), second.size(), n), SerialResult::Pending);
    EXPECT_EQ(n, 0u) << "bytes went out ahead of queued ones";

    const std::string expected = first + second + third;
    std::string got;
    std::thread far([&] { got = pty.receive(expected.size(), 8000, 500); });
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

TEST_F(OverlappedTest, PendingOutputIsCountedPurgedAndDroppedOnClose) {
    const std::string big(1 << 20, 'p');
    ASSERT_EQ(dev.writeAsync(big.data(), big.size(), n), SerialResult::Pending);
    const size_t left = dev.pendingWriteBytes();
    EXPECT_EQ(left, big.size() - n);
    CommStatus st;
    ASSERT_EQ(dev.clearError(&st), SerialResult::Ok);
    // clearError pumps first, so the pty may have taken a little more meanwhile.
    EXPECT_LE(st.outQueue, left);
    EXPECT_EQ(st.outQueue, dev.pendingWriteBytes()) << "a pty keeps no kernel output queue: the rest is pending";
    EXPECT_EQ(dev.pumpPendingWrites(60), SerialResult::Timeout);
    EXPECT_EQ(dev.flush(60), SerialResult::Timeout);
    EXPECT_EQ(dev.purge(kPurgeTxClear), SerialResult::Ok);
    EXPECT_EQ(dev.pendingWriteBytes(), 0u);
    EXPECT_EQ(dev.pumpPendingWrites(0), SerialResult::Ok);

    ASSERT_EQ(dev.writeAsync(big.data(), big.size(), n), SerialResult::Pending);
    dev.interrupt();
    EXPECT_EQ(dev.pumpPendingWrites(5000), SerialResult::Interrupted);
    dev.clearInterrupt();
    const auto t0 = Clock::now();
    dev.close();
    EXPECT_LT(MsSince(t0), 500) << "close waited for the line";
    EXPECT_EQ(dev.pendingWriteBytes(), 0u);
}

TEST_F(OverlappedTest, AsyncReadsAreImmediateAndWaitReadableWaits) {
    EXPECT_EQ(dev.readAsync(buf, 16, n), SerialResult::Pending);
    EXPECT_EQ(n, 0u);
    auto t0 = Clock::now();
    EXPECT_EQ(dev.waitReadable(80), SerialResult::Timeout);
    EXPECT_GE(MsSince(t0), 75);

    std::thread far([&] {
        After(50);
        pty.send("ready");
    });
    t0 = Clock::now();
    EXPECT_EQ(dev.waitReadable(3000), SerialResult::Ok);
    far.join();
    EXPECT_LT(MsSince(t0), 1000);
    ASSERT_TRUE(Queued(dev, 5));
    EXPECT_EQ(dev.readAsync(buf, 3, n), SerialResult::Ok);
    EXPECT_EQ(std::string(buf, n), "rea");
    EXPECT_EQ(dev.readAsync(buf, 16, n), SerialResult::Ok);
    EXPECT_EQ(std::string(buf, n), "dy");
    pty.closeMaster();
    EXPECT_EQ(dev.readAsync(buf, 16, n), SerialResult::Removed);
}

}  // namespace
}  // namespace pellory::platform
