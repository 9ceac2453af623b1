// The link engine against a virtual printer on a real pseudo-terminal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "link/port_settings.h"
#include "link/serial_engine.h"
#include "support/support.h"

using namespace pellory;
using link::CSerialEngine;
using test::Hex;
using test::MappedPrinter;
using vprinter::VirtualPrinter;

namespace {

constexpr int kCom = 41;

// Counts posted notifications per message number.
class CountingTarget : public link::NotifyTarget {
public:
    bool IsLive() const override { return live; }
    void Post(uint32_t message, uintptr_t wParam, intptr_t) override {
        std::lock_guard<std::mutex> lock(m);
        posts.push_back(message);
        lastWParam = wParam;
    }
    void Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override { Post(message, wParam, lParam); }
    uintptr_t LastWParam() {
        std::lock_guard<std::mutex> lock(m);
        return lastWParam;
    }
    size_t Count(uint32_t message) {
        std::lock_guard<std::mutex> lock(m);
        return static_cast<size_t>(std::count(posts.begin(), posts.end(), message));
    }
    std::atomic<bool> live{true};
    std::mutex m;
    std::vector<uint32_t> posts;
    uintptr_t lastWParam = 0;
};

class EngineTest : public ::testing::Test {
protected:
    bool OpenPageMode(CSerialEngine& e, int port = kCom) {
        e.SetFlags(link::kPageLinkFlags);
        e.SetReceiveThreshold(1);
        return e.Open(port, 8, 0, 0);
    }
    void SendRandomSizes(vprinter::VirtualPrinter::Transport transport);
};

}  // namespace

TEST_F(EngineTest, ConstructionDefaults) {
    CSerialEngine e;
    EXPECT_EQ(e.Flags(), 0x03u);
    EXPECT_FALSE(e.echoSwitch);
    EXPECT_FALSE(e.IsOpen());
    EXPECT_EQ(e.PortNumber(), -1);
    EXPECT_EQ(e.ReceiveThreshold(), 0u);
    EXPECT_EQ(e.EventMask(), 0x1FDu);
    EXPECT_EQ(e.SendBuffer().BlockSize(), 1024u);
    EXPECT_EQ(e.ReceiveBuffer().BlockSize(), 1024u);
}

TEST_F(EngineTest, EchoRecordsEveryByteSentEvenOnAClosedLink) {
    CSerialEngine e;
    e.SetFlags(link::kPageLinkFlags);
    e.echoSwitch = true;
    const uint8_t init[] = {0x1B, 0x40};
    EXPECT_EQ(e.Send(init, 2), 0u);  // queued, not written: the link is closed
    EXPECT_EQ(e.TakeEcho(), "1B 40 ");
    const uint8_t three[] = {0x00, 0x0A, 0xFF};
    e.Send(three, 3);
    const link::EchoRecord echo = e.TakeEcho();
    EXPECT_EQ(echo, "00 0A FF ");
    EXPECT_EQ(echo.hex(), "00 0A FF ");
    EXPECT_EQ(echo.size(), 3u);
    EXPECT_EQ(e.LastTakenEcho(), "00 0A FF ");
    EXPECT_EQ(e.TakeEcho(), "");  // taking twice gives the empty text
    EXPECT_EQ(e.SendBuffer().Count(), 5u);  // stays queued until a later opening

    e.echoSwitch = false;
    e.Send(init, 2);
    EXPECT_EQ(e.EchoText(), "");
}

TEST_F(EngineTest, OpenRefusesNumbersOutsideTheRangeWithoutTouchingThePortNumber) {
    MappedPrinter p(kCom);
    CSerialEngine e;
    EXPECT_FALSE(e.Open(0, 8, 0, 0));
    EXPECT_FALSE(e.Open(1025, 8, 0, 0));
    EXPECT_EQ(e.PortNumber(), -1);
    ASSERT_TRUE(OpenPageMode(e));
    EXPECT_EQ(e.PortNumber(), kCom);
    EXPECT_STREQ(e.PortDeviceName(), "COM41");
    EXPECT_FALSE(e.Open(0, 8, 0, 0));
    EXPECT_EQ(e.PortNumber(), kCom);
    EXPECT_TRUE(e.IsOpen());
}

TEST_F(EngineTest, Port1024IsAcceptedAndAnUnmappedNumberFailsAsAnAbsentPort) {
    MappedPrinter p(1024);
    CSerialEngine e;
    ASSERT_TRUE(OpenPageMode(e, 1024));
    EXPECT_STREQ(e.PortDeviceName(), "COM1024");
    e.Close(500);
    EXPECT_FALSE(OpenPageMode(e, 1023));
    EXPECT_EQ(e.LastOpenError(), platform::SerialResult::NotFound);
    EXPECT_FALSE(e.IsOpen());
}

TEST_F(EngineTest, ThreadsFollowTheFlags) {
    MappedPrinter p(kCom);
    CSerialEngine e;
    EXPECT_FALSE(e.StopThreads(500));  // none running
    e.Close(500);                      // closed: nothing happens
    ASSERT_TRUE(OpenPageMode(e));
    EXPECT_EQ(e.RunningThreadCount(), 2);  // reader and writer, no monitor
    EXPECT_FALSE(e.StartThreads());        // already running: refused, starts nothing
    EXPECT_EQ(e.RunningThreadCount(), 2);
    EXPECT_TRUE(e.StopThreads(500));
    EXPECT_EQ(e.RunningThreadCount(), 0);
    EXPECT_TRUE(e.IsOpen());
    EXPECT_TRUE(e.StartThreads());
    EXPECT_EQ(e.RunningThreadCount(), 2);

    // Reopening an open link closes it first and opens again.
    ASSERT_TRUE(e.Open(kCom, 8, 0, 0));
    EXPECT_EQ(e.RunningThreadCount(), 2);
    e.Close(500);
    EXPECT_FALSE(e.IsOpen());
    EXPECT_EQ(e.RunningThreadCount(), 0);
}

TEST_F(EngineTest, OpenAppliesPortSettingsToTheDevice) {
    MappedPrinter p(kCom);
    link::PortSettings.baudRate = 19200;
    CSerialEngine e;
    e.SetFlags(link::kPageLinkFlags);
    ASSERT_TRUE(e.Open(kCom, 7, 2, 2));
    platform::LineSettings s;
    ASSERT_EQ(e.Device().getLineSettings(s), platform::SerialResult::Ok);
    EXPECT_EQ(s.baudRate, 19200u);
    EXPECT_EQ(s.byteSize, 7);
    EXPECT_EQ(s.parity, platform::kParityEven);
    EXPECT_EQ(s.stopBits, platform::kTwoStopBits);
    EXPECT_TRUE(s.flags & platform::kFlagParity);
    platform::Timeouts t;
    ASSERT_EQ(e.Device().getTimeouts(t), platform::SerialResult::Ok);
    EXPECT_EQ(t, (platform::Timeouts{100, 0, 250, 0, 250}));
}

// Sends of random sizes (up to 64 KiB each, 2 MiB in all) through the link to a virtual printer
// on the transport: every byte arrives, in order. A serial line is written 1 KiB at a time, a
// network printer in larger pieces.
void EngineTest::SendRandomSizes(VirtualPrinter::Transport transport) {
    MappedPrinter p(kCom, transport);
    CSerialEngine e;
    ASSERT_TRUE(OpenPageMode(e));
    std::mt19937 rng(7);
    std::vector<uint8_t> all;
    for (int i = 0; i < 60; ++i) {
        std::vector<uint8_t> chunk(1 + rng() % 65536);
        for (auto& c : chunk) {
            // Keep 10 04 out of the stream so the printer never answers a request.
            c = static_cast<uint8_t>(0x20 + rng() % 0x5F);
        }
        EXPECT_EQ(e.Send(chunk), 0u);
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
    ASSERT_TRUE(p->waitForBytes(all.size(), 20000)) << p->receivedCount() << " of " << all.size();
    EXPECT_EQ(p->received(), all);
    EXPECT_EQ(e.SendBuffer().Count(), 0u);
}

TEST_F(EngineTest, SendsOfRandomSizesArriveCompleteAndInOrder) {
    SendRandomSizes(VirtualPrinter::Transport::PseudoTerminal);
}

TEST_F(EngineTest, SendsOfRandomSizesArriveCompleteAndInOrderOverTheNetwork) {
    SendRandomSizes(VirtualPrinter::Transport::Tcp);
}

// A large send to a network printer with nothing queued before it goes to the port at once,
// from the caller's bytes: nothing is left in the send buffer for the writer to copy.
TEST_F(EngineTest, ALargeSendToAnIdleNetworkPrinterGoesStraightToThePort) {
    MappedPrinter p(kCom, VirtualPrinter::Transport::Tcp);
    CSerialEngine e;
    ASSERT_TRUE(OpenPageMode(e));
    const std::vector<uint8_t> job(16 * 1024, 0x41);
    EXPECT_EQ(e.Send(job), 0u);
    EXPECT_EQ(e.SendBuffer().Count(), 0u);
    ASSERT_TRUE(p->waitForBytes(job.size(), 20000)) << p->receivedCount();
    EXPECT_EQ(p->received(), job);
}

TEST_F(EngineTest, ZeroByteSendGoesTheDirectWayAndThreeBytesWakeTheWriter) {
    MappedPrinter p(kCom);
    CSerialEngine e;
    ASSERT_TRUE(OpenPageMode(e));
    EXPECT_EQ(e.Send(nullptr, 0), 0u);
    EXPECT_EQ(e.SendBuffer().Count(), 0u);
    const auto bytes = Hex("1B 40 0A");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(e.Send(bytes), 0u);
    ASSERT_TRUE(p->waitForBytes(3, 2000));
    // Woken by the send, not found by a later poll: well within one writer pass.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(p->received(), bytes);
}

TEST_F(EngineTest, DirectSendsWithoutTheSendBufferWriteAtOnce) {
    MappedPrinter p(kCom);
    CSerialEngine e;
    e.SetFlags(link::LINK_RX_BUFFER | link::LINK_READ_THREAD);
    ASSERT_TRUE(e.Open(kCom, 8, 0, 0));
    const auto bytes = Hex("1B 61 01");
    EXPECT_EQ(e.Send(bytes), 3u);
    ASSERT_TRUE(p->waitForBytes(3, 2000));
    EXPECT_EQ(p->received(), bytes);
}

TEST_F(EngineTest, ReceiveNotificationOncePerReaderPassThatMovedBytes) {
    MappedPrinter p(kCom);
    CSerialEngine e;
    auto target = std::make_shared<CountingTarget>();
    e.SetNotifyTarget(target);
    ASSERT_TRUE(OpenPageMode(e));
    p->sendUnsolicited(Hex("41 42 43"));
    for (int i = 0; i < 100 && e.ReceiveBuffer().Count() < 3; ++i) platform::SleepMs(10);
    ASSERT_EQ(e.ReceiveBuffer().Count(), 3u);
    platform::SleepMs(300);  // several passes that find the driver queue empty
    EXPECT_EQ(target->Count(link::MSG_LINK_RECEIVE), 1u);
    EXPECT_EQ(target->LastWParam(), static_cast<uintptr_t>(kCom));

    p->sendUnsolicited(Hex("44"));
    for (int i = 0; i < 100 && target->Count(link::MSG_LINK_RECEIVE) < 2; ++i) platform::SleepMs(10);
    platform::SleepMs(200);
    EXPECT_EQ(target->Count(link::MSG_LINK_RECEIVE), 2u);  // the buffer still holds unread bytes

    target->live = false;  // a window that is gone gets nothing
    p->sendUnsolicited(Hex("45"));
    platform::SleepMs(300);
    EXPECT_EQ(target->Count(link::MSG_LINK_RECEIVE), 2u);

    uint8_t b = 0;
    EXPECT_EQ(e.ReadByte(&b), 1u);
    EXPECT_EQ(b, 0x41);
}

TEST_F(EngineTest, ReadByteFromAnEmptyReceiveBufferReturnsAtOnce) {
    MappedPrinter p(kCom);
    CSerialEngine e;
    ASSERT_TRUE(OpenPageMode(e));
    uint8_t b = 0x77;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(e.ReadByte(&b), 0u);
    // At once: well below the 100 ms a timed read would wait.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
    EXPECT_EQ(b, 0x77);  // unchanged
}

TEST_F(EngineTest, PlainReadsFollowThePortTimeouts) {
    MappedPrinter p(kCom);
    CSerialEngine e;
    e.SetFlags(0);  // no threads, no buffers
    ASSERT_TRUE(e.Open(kCom, 8, 0, 0));
    p->sendUnsolicited(Hex("01 02 03 04 05"));
    platform::SleepMs(100);
    uint8_t buf[8] = {};
    // Bytes already queued: a read of fewer returns them without waiting.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(e.Read(buf, 4, 1000), 4u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));  // not the 250 ms constant
    EXPECT_EQ(buf[3], 0x04);
    // One byte left; asking for 8 ends by the time-outs with what came.
    EXPECT_EQ(e.Read(buf, 8, 1000), 1u);
    EXPECT_EQ(buf[0], 0x05);
    uint8_t single = 0;
    EXPECT_EQ(e.ReadByte(&single), 0u);  // nothing more: ends by the read constant
}

TEST_F(EngineTest, OverlappedTimedReadsAndWrites) {
    MappedPrinter p(kCom);
    CSerialEngine e;
    e.SetFlags(link::LINK_OVERLAPPED);
    ASSERT_TRUE(e.Open(kCom, 8, 0, 0));
    p->sendUnsolicited(Hex("0A 0B 0C"));
    platform::SleepMs(100);
    uint8_t buf[8] = {};
    EXPECT_EQ(e.Read(buf, 3, 500), 3u);  // already queued: no wait
    EXPECT_EQ(buf[2], 0x0C);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(e.Read(buf, 2, 150), 0u);  // nothing comes: ends after about the limit
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(140));
    EXPECT_LT(took, std::chrono::milliseconds(1000));

    // A byte that arrives during the wait is taken.
    std::thread later([&] {
        platform::SleepMs(50);
        p->sendUnsolicited(Hex("5A"));
    });
    EXPECT_EQ(e.Read(buf, 1, 1000), 1u);
    later.join();
    EXPECT_EQ(buf[0], 0x5A);

    const auto bytes = Hex("1B 40");
    e.WriteToPort(bytes.data(), bytes.size());
    ASSERT_TRUE(p->waitForBytes(2, 2000));
    EXPECT_EQ(p->received(), bytes);
}

TEST_F(EngineTest, PollingMonitorDrainsAndReceives) {
    MappedPrinter p(kCom);
    CSerialEngine e;
    auto target = std::make_shared<CountingTarget>();
    e.SetNotifyTarget(target);
    e.SetFlags(link::LINK_MONITOR_THREAD | link::LINK_RX_BUFFER | link::LINK_TX_BUFFER);
    e.SetReceiveThreshold(1);
    ASSERT_TRUE(e.Open(kCom, 8, 0, 0));
    EXPECT_EQ(e.RunningThreadCount(), 1);
    std::vector<uint8_t> data(5000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>('a' + i % 26);
    e.Send(data);
    ASSERT_TRUE(p->waitForBytes(data.size(), 5000));
    EXPECT_EQ(p->received(), data);
    p->sendUnsolicited(Hex("31 32"));
    for (int i = 0; i < 100 && target->Count(link::MSG_LINK_RECEIVE) == 0; ++i) platform::SleepMs(10);
    EXPECT_GE(target->Count(link::MSG_LINK_RECEIVE), 1u);
    EXPECT_EQ(e.ReceiveBuffer().Count(), 2u);
}

TEST_F(EngineTest, OverlappedMonitorDrainsOnEmptyEventSetsAndDispatchesReceive) {
    MappedPrinter p(kCom);
    CSerialEngine e;
    auto target = std::make_shared<CountingTarget>();
    e.SetNotifyTarget(target);
    e.SetFlags(link::LINK_MONITOR_THREAD | link::LINK_OVERLAPPED | link::LINK_RX_BUFFER | link::LINK_TX_BUFFER);
    e.SetReceiveThreshold(1);
    ASSERT_TRUE(e.Open(kCom, 8, 0, 0));
    std::vector<uint8_t> data(3000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>('A' + i % 26);
    e.Send(data);  // re-arms the event mask: the monitor wakes with an empty event set
    ASSERT_TRUE(p->waitForBytes(data.size(), 5000));
    EXPECT_EQ(p->received(), data);
    p->sendUnsolicited(Hex("61 62 63"));
    for (int i = 0; i < 200 && target->Count(link::MSG_LINK_RECEIVE) == 0; ++i) platform::SleepMs(10);
    EXPECT_GE(target->Count(link::MSG_LINK_RECEIVE), 1u);
    EXPECT_EQ(e.ReceiveBuffer().Count(), 3u);
    e.Close(500);
    EXPECT_EQ(e.RunningThreadCount(), 0);
}

TEST_F(EngineTest, VanishingDeviceDuringALargeSendEndsCleanly) {
    MappedPrinter p(kCom);
    CSerialEngine e;
    ASSERT_TRUE(OpenPageMode(e));
    std::vector<uint8_t> data(4 << 20, 0x55);
    e.Send(data);
    ASSERT_TRUE(p->waitForBytes(4096, 5000));
    p->vanish();
    platform::SleepMs(300);  // the workers see the dead device and keep going, slowly
    EXPECT_LE(e.RunningThreadCount(), 2);
    const auto start = std::chrono::steady_clock::now();
    e.Close(500);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_FALSE(e.IsOpen());
    EXPECT_EQ(e.RunningThreadCount(), 0);
    // What was not written stays queued, in order, behind what was.
    const size_t left = e.SendBuffer().Count();
    EXPECT_GT(left, 0u);
    EXPECT_LE(left, data.size() - 4096);
}

// A device that goes away stops the link at once: the workers end by themselves, the link
// counts as closed, and the window is told once, however much was still queued.
TEST_F(EngineTest, VanishedDeviceStopsTheLinkAndIsReportedOnce) {
    for (const bool sending : {true, false}) {
        SCOPED_TRACE(sending ? "during a large send" : "while idle");
        auto target = std::make_shared<CountingTarget>();
        std::optional<MappedPrinter> p(std::in_place, kCom);
        CSerialEngine e;
        e.SetNotifyTarget(target);
        ASSERT_TRUE(OpenPageMode(e));
        EXPECT_FALSE(e.DeviceRemoved());
        if (sending) {
            e.Send(std::vector<uint8_t>(4 << 20, 0x55));
            ASSERT_TRUE((*p)->waitForBytes(4096, 5000));
        }
        (*p)->vanish();
        for (int i = 0; i < 1000 && target->Count(link::MSG_LINK_REMOVED) == 0; ++i) platform::SleepMs(10);
        ASSERT_EQ(target->Count(link::MSG_LINK_REMOVED), 1u);
        EXPECT_EQ(target->LastWParam(), static_cast<uintptr_t>(kCom));
        EXPECT_TRUE(e.DeviceRemoved());
        EXPECT_FALSE(e.IsOpen());
        EXPECT_FALSE(e.RunFlag());
        // More sends tell nobody again, and no worker starts on the dead device.
        e.Send(std::vector<uint8_t>(70000, 0x41));
        EXPECT_FALSE(e.WaitUntilSent(5000));
        EXPECT_TRUE(e.StopThreads(500));
        EXPECT_FALSE(e.StartThreads());
        EXPECT_EQ(e.RunningThreadCount(), 0);
        EXPECT_TRUE(e.TakeRemovalReport());
        EXPECT_FALSE(e.TakeRemovalReport());
        EXPECT_EQ(target->Count(link::MSG_LINK_REMOVED), 1u);
        e.Close(500);
        EXPECT_EQ(e.RunningThreadCount(), 0);

        // The device is gone: opening it again fails as an absent port does; a printer on the
        // same number afterwards opens and the state starts afresh.
        EXPECT_FALSE(OpenPageMode(e));
        EXPECT_NE(e.LastOpenError(), platform::SerialResult::Ok);
        p.reset();
        MappedPrinter again(kCom);
        ASSERT_TRUE(OpenPageMode(e));
        EXPECT_FALSE(e.DeviceRemoved());
        EXPECT_FALSE(e.TakeRemovalReport());
        e.Send(Hex("1B 40"));
        EXPECT_TRUE(again->waitForBytes(2, 5000));
        e.Close(500);
    }
}

TEST_F(EngineTest, StopWithDrainWaitsForTheSendBufferButNotForAStuckPort) {
    MappedPrinter p(kCom);
    CSerialEngine e;
    e.SetFlags(link::kPageLinkFlags | link::LINK_DRAIN_ON_STOP);
    ASSERT_TRUE(e.Open(kCom, 8, 0, 0));
    std::vector<uint8_t> data(100000, 0x41);
    e.Send(data);
    EXPECT_TRUE(e.StopThreads(500));
    EXPECT_EQ(e.SendBuffer().Count(), 0u);
    ASSERT_TRUE(p->waitForBytes(data.size(), 5000));

    // A port nobody reads: the drain gives up instead of waiting for ever.
    test::SilentPort silent(kCom + 1);
    CSerialEngine stuck;
    stuck.SetFlags(link::kPageLinkFlags | link::LINK_DRAIN_ON_STOP);
    ASSERT_TRUE(stuck.Open(kCom + 1, 8, 0, 0));
    stuck.Send(std::vector<uint8_t>(1 << 20, 0x42));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(stuck.StopThreads(500));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
    EXPECT_GT(stuck.SendBuffer().Count(), 0u);
}

TEST_F(EngineTest, NotificationsGoToWindowAndThread) {
    class ThreadQueue : public link::ThreadTarget {
    public:
        void PostToThread(uint32_t message, uintptr_t, intptr_t) override { messages.push_back(message); }
        std::vector<uint32_t> messages;
    };
    CSerialEngine e;
    auto window = std::make_shared<CountingTarget>();
    auto thread = std::make_shared<ThreadQueue>();
    e.SetNotifyTarget(window);
    e.SetThreadTarget(thread);
    e.OnTXEmpty();
    e.NotifySpare2();
    e.OnCTS();  // closed port: state 0
    EXPECT_EQ(window->Count(1648) + window->Count(1654) + window->Count(1643), 3u);
    EXPECT_EQ(window->posts, (std::vector<uint32_t>{1648, 1654, 1643}));
    EXPECT_EQ(thread->messages, (std::vector<uint32_t>{1648, 1654, 1643}));
}

TEST_F(EngineTest, WaitUntilSentLetsTheWriterFinishAndGivesUpOnAStuckPort) {
    MappedPrinter p(kCom);
    CSerialEngine e;
    ASSERT_TRUE(OpenPageMode(e));
    std::vector<uint8_t> data(300000, 0x41);
    e.Send(data);
    EXPECT_TRUE(e.WaitUntilSent(2000));
    e.Close(500);
    ASSERT_TRUE(p->waitForBytes(data.size(), 5000));
    EXPECT_EQ(p->receivedCount(), data.size());

    test::SilentPort silent(kCom + 2);
    CSerialEngine stuck;
    ASSERT_TRUE(OpenPageMode(stuck, kCom + 2));
    stuck.Send(std::vector<uint8_t>(1 << 20, 0x42));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(stuck.WaitUntilSent(300));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    CSerialEngine closed;
    EXPECT_TRUE(closed.WaitUntilSent(100));  // nothing queued, nothing to wait for
}

TEST_F(EngineTest, ClosingRightAfterTheLastWriteTakesNothingBackFromThePrinter) {
    MappedPrinter p(kCom);
    std::vector<uint8_t> expected;
    for (int round = 0; round < 20; ++round) {
        CSerialEngine e;
        e.SetFlags(0);  // sends write at once
        ASSERT_TRUE(e.Open(kCom, 8, 0, 0));
        std::vector<uint8_t> data(100 + round * 37, static_cast<uint8_t>('a' + round));
        EXPECT_EQ(e.Send(data), data.size());
        expected.insert(expected.end(), data.begin(), data.end());
        e.Close(500);  // purges both directions at once
    }
    ASSERT_TRUE(p->waitForBytes(expected.size(), 3000)) << p->receivedCount() << " of " << expected.size();
    EXPECT_EQ(p->received(), expected);
}
