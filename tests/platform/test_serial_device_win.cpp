// The Windows serial device apart from a COM port's line (test_wine_com.cpp has that): what each
// kind of name opens to, and a network printer through Winsock, against a listener of the test's
// own on the loopback address.
#include <gtest/gtest.h>

#include <winsock2.h>
//
#include <ws2tcpip.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_kind.h"
#include "platform/serial_device.h"

namespace pellory::platform {
namespace {

// A TCP listener on 127.0.0.1 standing in for a network printer.
class Listener {
public:
    Listener() {
        WSADATA data{};
        ::WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 4);
        int len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Listener() {
        if (peer_ != INVALID_SOCKET) ::closesocket(peer_);
        ::closesocket(listener_);
        ::WSACleanup();
    }
    uint16_t port() const { return port_; }
    std::string entry(const std::string& host = "127.0.0.1") const {
        return "tcp://" + host + ":" + std::to_string(port_);
    }
    bool Accept() {
        peer_ = ::accept(listener_, nullptr, nullptr);
        return peer_ != INVALID_SOCKET;
    }
    bool Send(const std::string& bytes) {
        return ::send(peer_, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
    }
    // Receives until n bytes came or the peer closed or 10 s passed.
    std::string Receive(size_t n) {
        std::string got;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (got.size() < n && std::chrono::steady_clock::now() < until) {
            WSAPOLLFD p{peer_, POLLIN, 0};
            if (::WSAPoll(&p, 1, 100) <= 0) continue;
            char buf[256];
            const int r = ::recv(peer_, buf, static_cast<int>(std::min(sizeof buf, n - got.size())), 0);
            if (r <= 0) break;
            got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }
    void ClosePeer() {
        ::closesocket(peer_);
        peer_ = INVALID_SOCKET;
    }

private:
    SOCKET listener_ = INVALID_SOCKET;
    SOCKET peer_ = INVALID_SOCKET;
    uint16_t port_ = 0;
};

// A loopback port that nothing listens on: a listener's, closed again.
uint16_t ClosedPort() {
    Listener gone;
    return gone.port();
}

struct OpenCase {
    std::string name;
    SerialResult result;
    std::string reasonHas;  // a part of openFailureReason(); empty: nothing asked
};

TEST(WindowsSerialDevice, EachFormOfNameOpensAsItsKindOrSaysWhyNot) {
    const uint16_t closed = ClosedPort();
    const std::vector<OpenCase> cases = {
        {"", SerialResult::InvalidArgument, ""},
        // Both COM name forms are COM ports (one that this prefix does not have).
        {"COM250", SerialResult::NotFound, ""},
        {"com250", SerialResult::NotFound, ""},
        {"\\\\.\\COM250", SerialResult::NotFound, ""},
        // What Windows has no device file for.
        {"LPT1", SerialResult::Unsupported, "no parallel port"},
        {"/dev/usb/lp0", SerialResult::Unsupported, "not a COM port"},
        {"COMX", SerialResult::Unsupported, "not a COM port"},
        // Network printers.
        {"tcp://:9100", SerialResult::InvalidArgument, "the host is missing"},
        {"tcp://127.0.0.1:" + std::to_string(closed), SerialResult::NotFound,
         "connection refused by 127.0.0.1:" + std::to_string(closed)},
    };
    for (const OpenCase& c : cases) {
        SerialDevice dev;
        EXPECT_EQ(dev.open(c.name, true), c.result) << c.name;
        EXPECT_FALSE(dev.isOpen()) << c.name;
        EXPECT_NE(dev.openFailureReason().find(c.reasonHas), std::string::npos)
            << c.name << ": " << dev.openFailureReason();
    }
}

TEST(WindowsSerialDevice, ClosedDeviceRefusesEveryCall) {
    SerialDevice dev;
    char buf[4] = {};
    size_t moved = 0;
    uint32_t value = 0;
    Timeouts t;
    LineSettings s;
    const std::vector<std::pair<const char*, SerialResult>> calls = {
        {"read", dev.read(buf, sizeof buf, moved)},
        {"write", dev.write(buf, sizeof buf, moved)},
        {"writeNow", dev.writeNow(buf, sizeof buf, moved)},
        {"setTimeouts", dev.setTimeouts(t)},
        {"getLineSettings", dev.getLineSettings(s)},
        {"modemStatus", dev.modemStatus(value)},
        {"purge", dev.purge(kPurgeRxClear)},
        {"setEventMask", dev.setEventMask(kEvRxChar)},
        {"waitEvent", dev.waitEvent(value, 0)},
    };
    for (const auto& [name, result] : calls) EXPECT_EQ(result, SerialResult::InvalidArgument) << name;
    EXPECT_EQ(dev.nativeHandle(), -1);
}

// A connected network printer, its far end accepted.
class NetworkPrinterTest : public ::testing::Test {
protected:
    void Open(const std::string& entry) {
        std::thread accepter([this] { accepted_ = printer_.Accept(); });
        ASSERT_EQ(dev_.open(entry, true), SerialResult::Ok) << dev_.openFailureReason();
        accepter.join();
        ASSERT_TRUE(accepted_);
    }
    Listener printer_;
    SerialDevice dev_;
    bool accepted_ = false;
};

template <size_t N>
std::string LiteralBytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}
const std::string kToPrinter = LiteralBytes("\x1b@receipt\x00\x11\x13\xff\r\n");
const std::string kFromPrinter = LiteralBytes("\x10\x04\x01\x12\x00\xfe");

TEST_F(NetworkPrinterTest, ExchangesExactBytesAndCountsWhatWaits) {
    Open(printer_.entry());
    EXPECT_EQ(dev_.kind(), DeviceKind::Network);
    size_t moved = 0;
    ASSERT_EQ(dev_.write(kToPrinter.data(), kToPrinter.size(), moved), SerialResult::Ok);
    EXPECT_EQ(moved, kToPrinter.size());
    EXPECT_EQ(printer_.Receive(kToPrinter.size()), kToPrinter);

    ASSERT_EQ(dev_.setEventMask(kEvRxChar), SerialResult::Ok);
    ASSERT_TRUE(printer_.Send(kFromPrinter));
    uint32_t events = 0;
    ASSERT_EQ(dev_.waitEvent(events, 10000), SerialResult::Ok);
    EXPECT_EQ(events, kEvRxChar);
    CommStatus status;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (dev_.clearError(&status) == SerialResult::Ok && status.inQueue < kFromPrinter.size() &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(status.inQueue, kFromPrinter.size());
    // More asked for than comes: the gap after the answer ends the read.
    Timeouts limit;
    limit.readInterval = 50;
    limit.readConstant = 10000;
    ASSERT_EQ(dev_.setTimeouts(limit), SerialResult::Ok);
    std::string answer(kFromPrinter.size() + 4, '\0');
    ASSERT_EQ(dev_.read(answer.data(), answer.size(), moved), SerialResult::Ok);
    answer.resize(moved);
    EXPECT_EQ(answer, kFromPrinter);

    // A network printer has no line: the record reads back as set, the modem lines as on.
    LineSettings s;
    ASSERT_EQ(dev_.getLineSettings(s), SerialResult::Ok);
    EXPECT_EQ(s.baudRate, 9600u);
    uint32_t lines = 0;
    ASSERT_EQ(dev_.modemStatus(lines), SerialResult::Ok);
    EXPECT_EQ(lines, kModemCts | kModemDsr);
}

TEST_F(NetworkPrinterTest, InterruptEndsAReadWithoutLimitAndAClosedPeerIsRemoved) {
    Open(printer_.entry());
    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        dev_.interrupt();
    });
    char one = 0;
    size_t moved = 0;
    EXPECT_EQ(dev_.read(&one, 1, moved), SerialResult::Interrupted);
    stopper.join();
    EXPECT_EQ(moved, 0u);
    dev_.clearInterrupt();

    printer_.ClosePeer();
    Timeouts limit;
    limit.readConstant = 10000;
    ASSERT_EQ(dev_.setTimeouts(limit), SerialResult::Ok);
    EXPECT_EQ(dev_.read(&one, 1, moved), SerialResult::Removed);
    EXPECT_EQ(dev_.lossError(), 0) << "a printer that closed the connection hung up: no error";
    uint32_t lines = 0;
    EXPECT_EQ(dev_.modemStatus(lines), SerialResult::Removed) << "the loss sticks";
}

TEST_F(NetworkPrinterTest, HostNamesGoThroughTheLookupHook) {
    std::vector<std::string> asked;
    SetNameLookupHook([&asked](const std::string& host) {
        asked.push_back(host);
        return std::vector<std::string>{"127.0.0.1"};
    });
    Open(printer_.entry("printer.invalid"));
    SetNameLookupHook({});
    EXPECT_EQ(asked, std::vector<std::string>{"printer.invalid"});
    size_t moved = 0;
    ASSERT_EQ(dev_.write(kToPrinter.data(), kToPrinter.size(), moved), SerialResult::Ok);
    EXPECT_EQ(printer_.Receive(kToPrinter.size()), kToPrinter);
}

}  // namespace
}  // namespace pellory::platform
