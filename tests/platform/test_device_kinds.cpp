// Ports that are not terminals: the text forms of a network entry, network printers on the
// loopback interface (and the ways a connection fails), and printer device files, with a FIFO
// standing in for one (it is no terminal and can be made without privileges).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_kind.h"
#include "platform/serial_device.h"
#include "platform/stop_request.h"
#include "support/net_peers.h"
#include "support/scratch_folder.h"
#include "support/support.h"

using namespace pellory::platform;
using pellory::test::Blackhole;
using pellory::test::LoopbackListener;

namespace {

using Clock = std::chrono::steady_clock;

// A listening socket on 127.0.0.1 (or, with listening off, a bound port that refuses).
class Peer {
public:
    explicit Peer(bool listening = true) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len), 0);
        port_ = ntohs(a.sin_port);
        if (listening) {
            EXPECT_EQ(::listen(fd_, 4), 0);
            // Small buffers make "never reads" show after little data.
            const int small = 4096;
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        }
    }
    ~Peer() {
        closeConnection();
        if (fd_ >= 0) ::close(fd_);
    }
    std::string entry() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
    uint16_t port() const { return port_; }
    // Takes the waiting connection (within 5 s).
    bool accept() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1) return false;
        conn_ = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        return conn_ >= 0;
    }
    std::string receive(size_t n, int ms = 5000) {
        std::string out;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        char buf[65536];
        while (out.size() < n && Clock::now() < end) {
            pollfd p{conn_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t r = ::read(conn_, buf, std::min(sizeof buf, n - out.size()));
            if (r <= 0) break;
            out.append(buf, static_cast<size_t>(r));
        }
        return out;
    }
    void send(const std::string& bytes) { ASSERT_EQ(::send(conn_, bytes.data(), bytes.size(), 0), ssize_t(bytes.size())); }
    void closeConnection() {
        if (conn_ >= 0) ::close(conn_);
        conn_ = -1;
    }

private:
    int fd_ = -1;
    int conn_ = -1;
    uint16_t port_ = 0;
};

void Limits(SerialDevice& dev, uint32_t readConstant, uint32_t writeConstant) {
    Timeouts t;
    t.readInterval = 20;
    t.readConstant = readConstant;
    t.writeConstant = writeConstant;
    ASSERT_EQ(dev.setTimeouts(t), SerialResult::Ok);
}

}  // namespace

TEST(NetworkEntry, FormsAndMistakes) {
    EXPECT_TRUE(IsNetworkEntry("TCP://printer"));
    EXPECT_FALSE(IsNetworkEntry("/dev/usb/lp0"));
    EXPECT_EQ(ParseNetworkEntry("tcp://192.168.1.50"), (NetworkAddress{"192.168.1.50", 9100}));
    EXPECT_EQ(ParseNetworkEntry("tcp://printer.local:9101/"), (NetworkAddress{"printer.local", 9101}));
    EXPECT_EQ(ParseNetworkEntry("tcp://[fe80::1]:515"), (NetworkAddress{"fe80::1", 515}));
    EXPECT_EQ(ParseNetworkEntry("tcp://[::1]"), (NetworkAddress{"::1", 9100}));
    for (const char* bad : {"tcp://", "tcp://:9100", "tcp://host:", "tcp://host:0", "tcp://host:65536",
                            "tcp://host:12ab", "tcp://fe80::1", "tcp://[::1", "tcp://[::1]x", "tcp://host/queue",
                            "/dev/lp0"}) {
        std::string error;
        EXPECT_FALSE(ParseNetworkEntry(bad, &error)) << bad;
        EXPECT_NE(error, "") << bad;
    }
    EXPECT_EQ(NetworkEntry({"::1", 9100}), "tcp://[::1]:9100");
    EXPECT_EQ(AddressText({"10.0.0.7", 9100}), "10.0.0.7:9100");
}

// --- network printers ---

TEST(NetworkDevice, MovesBytesBothWaysAndKeepsLineSettingsWithoutALine) {
    Peer peer;
    SerialDevice dev;
    ASSERT_EQ(dev.open(peer.entry(), false), SerialResult::Ok);
    EXPECT_EQ(dev.kind(), DeviceKind::Network);
    ASSERT_TRUE(peer.accept());
    Limits(dev, 2000, 2000);

    // Line settings: accepted, read back as set; the modem lines read as on.
    LineSettings s;
    ASSERT_EQ(dev.getLineSettings(s), SerialResult::Ok);
    EXPECT_EQ(s.baudRate, 9600u);
    s.baudRate = 2400;
    s.byteSize = 7;
    s.parity = kParityEven;
    s.stopBits = kTwoStopBits;
    s.flags |= kFlagOutxCtsFlow;
    EXPECT_EQ(dev.setLineSettings(s), SerialResult::Ok);
    LineSettings back;
    ASSERT_EQ(dev.getLineSettings(back), SerialResult::Ok);
    EXPECT_EQ(back, s);
    s.byteSize = 9;
    EXPECT_EQ(dev.setLineSettings(s), SerialResult::InvalidArgument) << "still checked";
    uint32_t modem = 0;
    ASSERT_EQ(dev.modemStatus(modem), SerialResult::Ok);
    EXPECT_EQ(modem & (kModemCts | kModemDsr), kModemCts | kModemDsr);
    EXPECT_EQ(dev.purge(kPurgeRxClear | kPurgeTxClear), SerialResult::Ok);

    size_t n = 0;
    ASSERT_EQ(dev.write("\x10\x04\x05", 3, n), SerialResult::Ok);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(peer.receive(3), "\x10\x04\x05");
    // Garbage from the peer arrives as it is, byte for byte.
    std::string garbage;
    for (int i = 0; i < 300; ++i) garbage += static_cast<char>((i * 73 + 11) & 0xFF);
    peer.send(garbage);
    std::vector<char> buf(garbage.size());
    size_t got = 0;
    while (got < garbage.size()) {
        ASSERT_EQ(dev.read(buf.data() + got, buf.size() - got, n), SerialResult::Ok);
        ASSERT_GT(n, 0u);
        got += n;
    }
    EXPECT_EQ(std::string(buf.data(), got), garbage);
    CommStatus st;
    EXPECT_EQ(dev.clearError(&st), SerialResult::Ok);
    EXPECT_EQ(st.inQueue, 0u);
}

TEST(NetworkDevice, OpenFailuresSayWhy) {
    SerialDevice dev;
    {
        Peer closed(false);  // bound, not listening: the connection is refused
        EXPECT_EQ(dev.open(closed.entry(), false), SerialResult::NotFound);
        EXPECT_EQ(dev.openFailureReason(), "connection refused by 127.0.0.1:" + std::to_string(closed.port()));
    }
    EXPECT_EQ(dev.open("tcp://no-such-host.invalid:9100", false), SerialResult::NotFound);
    EXPECT_EQ(dev.openFailureReason(), "unknown host no-such-host.invalid");
    EXPECT_EQ(dev.open("tcp://host:0", false), SerialResult::InvalidArgument);
    EXPECT_NE(dev.openFailureReason(), "");
    EXPECT_FALSE(dev.isOpen());
    // A success clears the reason.
    Peer peer;
    ASSERT_EQ(dev.open(peer.entry(), false), SerialResult::Ok);
    EXPECT_EQ(dev.openFailureReason(), "");
}

// A host name with several addresses: each is tried in turn within the one connect limit, so an
// address that never answers (or refuses) before the printer's does not keep it from connecting.
TEST(NetworkDevice, EveryAddressOfAHostNameIsTriedWithinTheLimit) {
    LoopbackListener printer("127.0.0.1");
    ASSERT_TRUE(printer.ok());
    Blackhole silent("127.0.0.2", printer.port());  // its connect requests are dropped
    ASSERT_TRUE(silent.ok());
    // Nothing listens on 127.0.0.3: refused at once.
    const struct {
        const char* name;
        std::vector<std::string> addresses;
    } rows[] = {
        {"silent, then the printer", {"127.0.0.2", "127.0.0.1"}},
        {"refused, then the printer", {"127.0.0.3", "127.0.0.1"}},
        {"silent, refused, then the printer", {"127.0.0.2", "127.0.0.3", "127.0.0.1"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> asked;
        SetNameLookupHook([&asked, &row](const std::string& host) {
            asked.push_back(host);
            return row.addresses;
        });
        SerialDevice dev;
        const auto start = Clock::now();
        const SerialResult r = dev.open("tcp://printer.test:" + std::to_string(printer.port()), false);
        const auto took = Clock::now() - start;
        SetNameLookupHook({});
        ASSERT_EQ(r, SerialResult::Ok) << dev.openFailureReason();
        EXPECT_LT(took, std::chrono::milliseconds(kConnectTimeoutMs) * 2 / 3) << "well within the connect limit";
        EXPECT_EQ(asked, std::vector<std::string>{"printer.test"});
        const int conn = printer.accept(5000);
        EXPECT_GE(conn, 0);
        if (conn >= 0) ::close(conn);
    }
}

// A stop of the program (the command line's SIGINT) while a name is looked up or a connection
// waits for its answer ends the opening at once, as stopped: no "no answer" after the limit.
TEST(NetworkDevice, AStopEndsTheLookupAndTheConnectAtOnce) {
    Blackhole silent;
    ASSERT_TRUE(silent.ok());
    for (const bool lookingUp : {true, false}) {
        SCOPED_TRACE(lookingUp ? "looking up the name" : "connecting");
        std::unique_ptr<pellory::test::SlowNameService> names;
        if (lookingUp) names = std::make_unique<pellory::test::SlowNameService>();
        const std::string entry = lookingUp ? "tcp://printer.test:9100" : silent.entry();
        std::atomic<bool> waiting{false};
        Clock::time_point stoppedAt{};
        std::thread stopper([&] {
            const auto until = Clock::now() + std::chrono::seconds(20);
            while (Clock::now() < until && !waiting) {
                waiting = lookingUp ? names->Waiting() > 0 : pellory::test::ConnectingTo(silent.port());
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            stoppedAt = Clock::now();
            RequestStop(2);
        });
        SerialDevice dev;
        const SerialResult r = dev.open(entry, false);
        const auto ended = Clock::now();
        stopper.join();
        ClearStopRequest();
        EXPECT_TRUE(waiting.load()) << "the opening never reached the wait";
        EXPECT_EQ(r, SerialResult::Interrupted) << dev.openFailureReason();
        EXPECT_FALSE(dev.isOpen());
        EXPECT_LT(ended - stoppedAt, std::chrono::milliseconds(kConnectTimeoutMs) / 3) << "well before the limit";
    }
}

TEST(NetworkDevice, APeerThatNeverReadsIsAStallNotARemoval) {
    Peer peer;
    SerialDevice dev;
    ASSERT_EQ(dev.open(peer.entry(), false), SerialResult::Ok);
    ASSERT_TRUE(peer.accept());
    Limits(dev, 100, 200);
    const std::string big(64 << 20, 'z');
    size_t n = 0;
    EXPECT_EQ(dev.write(big.data(), big.size(), n), SerialResult::Ok) << "the write time-out ends it";
    EXPECT_LT(n, big.size());
    EXPECT_EQ(dev.write(big.data(), big.size(), n), SerialResult::Ok);
    CommStatus st;
    EXPECT_EQ(dev.clearError(&st), SerialResult::Ok);
    EXPECT_GT(st.outQueue, 0u);
}

TEST(NetworkDevice, APeerThatClosesIsARemovalWhetherSendingOrIdle) {
    for (const bool sending : {true, false}) {
        SCOPED_TRACE(sending ? "mid-send" : "idle");
        Peer peer;
        SerialDevice dev;
        ASSERT_EQ(dev.open(peer.entry(), false), SerialResult::Ok);
        ASSERT_TRUE(peer.accept());
        Limits(dev, 100, 0);  // writes without a time limit: only the removal ends them
        std::thread closer([&] {
            if (sending) peer.receive(100000);
            peer.closeConnection();
        });
        SerialResult r = SerialResult::Ok;
        size_t n = 0;
        if (sending) {
            const std::string big(64 << 20, 'q');
            r = dev.write(big.data(), big.size(), n);
            EXPECT_LT(n, big.size());
        } else {
            closer.join();
            char b[8];
            // Every poll shows the far end gone, at once.
            r = dev.read(b, sizeof b, n);
        }
        if (closer.joinable()) closer.join();
        EXPECT_EQ(r, SerialResult::Removed);
        CommStatus st;
        EXPECT_EQ(dev.clearError(&st), SerialResult::Removed);
    }
}

// --- printer device files ---

class FifoPrinterFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0); }
    void TearDown() override { closeReader(); }
    void openReader() { reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }
    void closeReader() {
        if (reader_ >= 0) ::close(reader_);
        reader_ = -1;
    }
    std::string drain(size_t n) {
        std::string out;
        char buf[4096];
        for (int i = 0; i < 500 && out.size() < n; ++i) {
            pollfd p{reader_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            const ssize_t r = ::read(reader_, buf, sizeof buf);
            if (r > 0) out.append(buf, static_cast<size_t>(r));
        }
        return out;
    }

    const pellory::test::ScratchFolder scratch_{"pellory-lp"};
    const std::string path_ = scratch_.Path("lp0");
    int reader_ = -1;
};

TEST_F(FifoPrinterFile, TakesBytesHasNothingToReadAndKeepsSettings) {
    SerialDevice dev;
    EXPECT_EQ(dev.open(path_, false), SerialResult::NotFound) << "nothing reads the file: no printer";
    openReader();
    ASSERT_EQ(dev.open(path_, false), SerialResult::Ok);
    EXPECT_EQ(dev.kind(), DeviceKind::PrinterFile);
    SerialDevice second;
    EXPECT_EQ(second.open(path_, false), SerialResult::Busy);
    Limits(dev, 50, 500);
    LineSettings s;
    ASSERT_EQ(dev.getLineSettings(s), SerialResult::Ok);
    s.baudRate = 115200;
    EXPECT_EQ(dev.setLineSettings(s), SerialResult::Ok);
    size_t n = 0;
    ASSERT_EQ(dev.write("\x1b@hello\n", 8, n), SerialResult::Ok);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(drain(8), "\x1b@hello\n");
    CommStatus st;
    ASSERT_EQ(dev.clearError(&st), SerialResult::Ok);
    EXPECT_EQ(st.inQueue, 0u) << "its own bytes are not input";
    char b[4];
    EXPECT_EQ(dev.read(b, sizeof b, n), SerialResult::Ok);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(dev.waitReadable(50), SerialResult::Timeout);
}

TEST_F(FifoPrinterFile, NeverReadingIsAStallAndGoingAwayIsARemoval) {
    openReader();
    SerialDevice dev;
    ASSERT_EQ(dev.open(path_, false), SerialResult::Ok);
    Limits(dev, 50, 200);
    const std::string big(1 << 20, 'p');
    size_t n = 0;
    EXPECT_EQ(dev.write(big.data(), big.size(), n), SerialResult::Ok);
    EXPECT_LT(n, big.size()) << "the pipe is full: the time-out ends the write";
    CommStatus st;
    EXPECT_EQ(dev.clearError(&st), SerialResult::Ok);

    closeReader();  // the printer goes away; the write must not kill the process with SIGPIPE
    EXPECT_EQ(dev.write(big.data(), big.size(), n), SerialResult::Removed);
    EXPECT_EQ(dev.clearError(&st), SerialResult::Removed);
}
