// The printer server while it keeps its hosts from sending, over real sockets: a state that stops
// printing, a full hold, jobs its sink has no room for. The idle clock waits meanwhile, GS r waits
// with the bytes before it, the loop never waits for the sink, and the jobs that wait for it are
// bounded and all handed over at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/raw_host.h"
#include "support/server_clients.h"
#include "vprinter/printer_server.h"

namespace pellory::vprinter {
namespace {

using test::Bytes;
using test::HexBytes;
using test::HexText;
using test::PeerSocket;
using test::ServedPrinter;
using test::WaitUntil;

// On the test's clock (ServerOptions::clock), which moves only when the test advances it.
constexpr auto kIdleTimeout = std::chrono::milliseconds(300);
// The printer keeps the host from sending this long: well past the idle time-out.
constexpr auto kHeldFor = std::chrono::milliseconds(1000);
// How long an answer that must not come is waited for.
constexpr int kQuietMs = 300;

// The sink is made to have no room and refuses a first job: every job after it waits in the
// server.
void LeaveAJobWaiting(ServedPrinter& p) {
    p.collector.setRoom(false);
    auto s = p.connect();
    ASSERT_TRUE(s->send(HexBytes("58")));
    s->shutdownWrite();
    ASSERT_TRUE(s->closedByServer(10000));
    ASSERT_TRUE(WaitUntil([&] { return p.collector.refused() >= 1; })) << "the sink was never offered a job";
}

// The sink has room again and says so, as the job recorder does.
void MakeRoom(ServedPrinter& p) {
    p.collector.setRoom(true);
    p.server.jobRoom();
}

Bytes Letters(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>('A' + i % 26);
    return b;
}

struct HeldCase {
    const char* what;
    States states;  // at start; cleared to let the host send again
    bool writers;   // the sink has no room; it gets room to let the host send again
    size_t before;  // bytes sent before the wait (more than the hold: the sender's writes wait)
};

const HeldCase kHeld[] = {
    {"paper-end, the hold full", kPaperEnd, false, 3u << 20},
    {"paper-end, a few bytes held", kPaperEnd, false, 2},
    {"jobs wait for the sink", 0, true, 2},
};

// However long the printer keeps a host from sending, its silence counts only from when it could
// send again: the job goes on where it was and ends when the host closes, whole.
TEST(ServerHolding, IdleClockWaitsWhileThePrinterKeepsTheHostFromSending) {
    for (const HeldCase& c : kHeld) {
        SCOPED_TRACE(c.what);
        ServerOptions o;
        o.states = c.states;
        o.idleTimeout = kIdleTimeout;
        const auto clock = std::make_shared<platform::ManualClock>();
        o.clock = clock;
        ServedPrinter p(o);
        ASSERT_TRUE(p.started) << p.error;
        if (c.writers) LeaveAJobWaiting(p);
        auto s = p.connect();
        Bytes sent = Letters(c.before);
        std::atomic<bool> sentAll{false};
        std::thread sender([&] { sentAll = s->send(sent, 30000); });
        test::SettleAndAdvance(*clock, kHeldFor);
        if (c.writers) {
            MakeRoom(p);
        } else {
            p.server.setStates(0);
        }
        sender.join();
        EXPECT_TRUE(sentAll.load()) << "the connection was cut";
        ASSERT_TRUE(s->send(HexBytes("0A")));
        sent.push_back(0x0A);
        s->shutdownWrite();
        EXPECT_TRUE(s->closedByServer(10000));
        ASSERT_TRUE(p.collector.waitFor(c.writers ? 2 : 1));
        const FinishedJob job = p.collector.jobs().back();
        EXPECT_EQ(JobEndName(job.end), "closed");
        EXPECT_EQ(job.receivedBytes, sent.size());
        EXPECT_TRUE(job.bytes == sent) << job.bytes.size() << " of " << sent.size();
    }
}

// A line's silence ends its job, and counts while a state stops printing; but not while the line
// waits for room in a full hold: the job goes on once it has room.
TEST(ServerHolding, ALineWaitingForRoomKeepsItsJobWhole) {
    ServerOptions o;
    o.states = kPaperEnd;
    o.idleEnd = kIdleTimeout;
    const auto clock = std::make_shared<platform::ManualClock>();
    o.clock = clock;
    o.lines.push_back(LineEndpoint{LineEndpoint::Kind::Pty, ""});
    ServedPrinter p(o, false);
    ASSERT_TRUE(p.started) << p.error;
    test::RawHost host(p.server.ptyPaths().at(0));
    ASSERT_TRUE(host.open());
    const Bytes sent = Letters(2u << 20);
    std::atomic<bool> sentAll{false};
    std::thread sender([&] { sentAll = host.write(sent); });
    // The hold fills in real time; then the line's silence would pass on the clock.
    std::this_thread::sleep_for(kHeldFor);
    clock->advance(kHeldFor);
    p.server.setStates(0);
    sender.join();
    EXPECT_TRUE(sentAll.load());
    test::SettleAndAdvance(*clock, kIdleTimeout);
    ASSERT_TRUE(p.collector.waitFor(1));
    test::SettleAndAdvance(*clock, kHeldFor);
    const std::vector<FinishedJob> jobs = p.collector.jobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].end, JobEnd::Idle);
    EXPECT_TRUE(jobs[0].bytes == sent) << jobs[0].bytes.size() << " of " << sent.size();
}

struct InOrderCase {
    const char* what;
    States states;
    const char* sent;        // hex
    const char* atOnce;      // the answers that come at once
    States later;            // the state when printing goes on
    const char* afterwards;  // the answers that come then
};

const InOrderCase kInOrder[] = {
    // DLE EOT 4 at once (paper end), GS r 1 once printing reaches it: the paper is only near its end.
    {"paper-end", kPaperEnd, "41 1D 72 01 10 04 04 42", "72", kPaperNearEnd, "03"},
    // The drawer opened while the cover was open.
    {"cover-open", kCoverOpen, "41 1D 72 02 10 04 01", "1A", kDrawerOpen, "01"},
    // While nothing waits, GS r is answered at once, in order with DLE EOT.
    {"printing goes on", kPaperNearEnd, "41 1D 72 01 10 04 01", "03 12", kPaperNearEnd, ""},
};

// GS r is answered where printing reaches it, in the state then, after the bytes before it have
// printed; DLE EOT stays real-time.
TEST(ServerHolding, GsRIsAnsweredWherePrintingReachesIt) {
    for (const InOrderCase& c : kInOrder) {
        SCOPED_TRACE(c.what);
        ServerOptions o;
        o.states = c.states;
        std::mutex m;
        Bytes printed;  // outlives the server that writes it
        ServedPrinter p(o, true, false);
        p.server.setPrintObserver([&](uint64_t, const uint8_t* b, size_t n) {
            std::lock_guard<std::mutex> lock(m);
            printed.insert(printed.end(), b, b + n);
        });
        ASSERT_TRUE(p.start()) << p.error;
        auto s = p.connect();
        const Bytes sent = HexBytes(c.sent);
        ASSERT_TRUE(s->send(sent));
        EXPECT_EQ(HexText(s->read(HexBytes(c.atOnce).size())), c.atOnce);
        EXPECT_EQ(HexText(s->readQuiet(kQuietMs)), "");
        p.server.setStates(c.later);
        EXPECT_EQ(HexText(s->read(HexBytes(c.afterwards).size())), c.afterwards);
        // The last GS r was answered after the bytes up to it were printed.
        size_t upTo = 0;
        for (size_t i = 0; i + 2 < sent.size(); ++i) {
            if (sent[i] == 0x1D && sent[i + 1] == 0x72) upTo = i + 3;
        }
        std::lock_guard<std::mutex> lock(m);
        EXPECT_GE(printed.size(), upTo);
    }
}

// A sink that would wait (a recorder whose writers are behind) is never made to: the loop offers
// the job, keeps it when refused, and serves every connection meanwhile, holding what they print
// until the sink takes the job.
TEST(ServerHolding, TheLoopNeverWaitsForTheSink) {
    ServedPrinter p;
    ASSERT_TRUE(p.started) << p.error;
    p.collector.setRoom(false, true);
    auto first = p.connect();
    ASSERT_TRUE(first->send(HexBytes("41 42")));
    first->shutdownWrite();
    EXPECT_TRUE(first->closedByServer(10000));
    auto second = p.connect();
    ASSERT_TRUE(second->send(HexBytes("10 04 01")));
    EXPECT_EQ(HexText(second->read(1, 5000)), "12");
    // GS ( H and GS r wait with the bytes before them; DLE EOT does not.
    ASSERT_TRUE(second->send(HexBytes("43 1D 28 48 06 00 30 30 31 32 33 34 1D 72 01 10 04 01")));
    EXPECT_EQ(HexText(second->read(1, 5000)), "12");
    EXPECT_EQ(HexText(second->readQuiet(kQuietMs)), "");
    EXPECT_EQ(p.collector.count(), 0u);
    MakeRoom(p);
    EXPECT_EQ(HexText(second->read(8)), "37 22 31 32 33 34 00 00");
    second->shutdownWrite();
    EXPECT_TRUE(second->closedByServer(10000));
    ASSERT_TRUE(p.collector.waitFor(2));
    const std::vector<FinishedJob> jobs = p.collector.jobs();
    EXPECT_EQ(jobs.at(0).number, 1u);
    EXPECT_EQ(HexText(jobs.at(0).bytes), "41 42");
    EXPECT_EQ(jobs.at(1).number, 2u);
    EXPECT_EQ(jobs.at(1).bytes.size(), 3u + 18u);
    EXPECT_TRUE(p.collector.handedHow() == std::vector<HandOver>(2, HandOver::IfRoom));
}

struct BoundCase {
    const char* what;
    size_t maxJobs;
    size_t maxBytes;
    std::vector<const char*> jobs;  // each a connection's bytes after DLE EOT 1; the bound is reached with the last
};

const BoundCase kBounds[] = {
    {"their count", 2, 64u << 20, {"31", "32"}},
    {"their bytes", 64, 10, {"31 32", "33 34"}},
};

// While jobs wait for the sink, new connections are served (the waiting jobs take no place among
// maxConnections) until the waiting jobs reach their bound; then none is accepted until the sink
// takes them.
TEST(ServerHolding, WaitingJobsPastTheirBoundStopNewConnections) {
    for (const BoundCase& c : kBounds) {
        SCOPED_TRACE(c.what);
        ServerOptions o;
        o.maxConnections = 1;
        o.maxWaitingJobs = c.maxJobs;
        o.maxWaitingBytes = c.maxBytes;
        ServedPrinter p(o);
        ASSERT_TRUE(p.started) << p.error;
        p.collector.setRoom(false);
        std::vector<std::string> sent;
        for (const char* job : c.jobs) {
            auto s = p.connect();
            ASSERT_TRUE(s->send(HexBytes("10 04 01")));
            EXPECT_EQ(HexText(s->read(1, 5000)), "12") << "not served while jobs wait";
            ASSERT_TRUE(s->send(HexBytes(job)));
            sent.push_back(std::string("10 04 01 ") + job);
            s->shutdownWrite();
            EXPECT_TRUE(s->closedByServer(10000));
            ASSERT_TRUE(WaitUntil([&] { return p.server.openConnections() == 0; }));
        }
        auto last = p.connect();
        ASSERT_TRUE(last->send(HexBytes("10 04 01")));
        EXPECT_EQ(HexText(last->readQuiet(kQuietMs)), "") << "accepted past the bound";
        MakeRoom(p);
        EXPECT_EQ(HexText(last->read(1, 5000)), "12");
        last->close();
        ASSERT_TRUE(p.collector.waitFor(c.jobs.size() + 1));
        const std::vector<FinishedJob> jobs = p.collector.jobs();
        for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(HexText(jobs.at(i).bytes), sent[i]);
    }
}

// stop() hands every job that waits for the sink, then every job in progress, in order, each
// with HandOver::Always.
TEST(ServerHolding, StopHandsTheWaitingJobsThenThoseInProgress) {
    ServedPrinter p;
    ASSERT_TRUE(p.started) << p.error;
    p.collector.setRoom(false);
    for (const char* job : {"41", "42"}) {
        auto s = p.connect();
        ASSERT_TRUE(s->send(HexBytes(job)));
        s->shutdownWrite();
        EXPECT_TRUE(s->closedByServer(10000));
    }
    auto open = p.connect();
    ASSERT_TRUE(open->send(HexBytes("43 10 04 01")));
    EXPECT_EQ(HexText(open->read(1)), "12");
    EXPECT_EQ(p.collector.count(), 0u);
    p.server.stop();
    const std::vector<FinishedJob> jobs = p.collector.jobs();
    ASSERT_EQ(jobs.size(), 3u);
    const char* bytes[] = {"41", "42", "43 10 04 01"};
    const JobEnd ends[] = {JobEnd::Closed, JobEnd::Closed, JobEnd::Incomplete};
    for (size_t i = 0; i < jobs.size(); ++i) {
        EXPECT_EQ(jobs[i].number, i + 1);
        EXPECT_EQ(HexText(jobs[i].bytes), bytes[i]);
        EXPECT_EQ(jobs[i].end, ends[i]);
    }
    EXPECT_TRUE(p.collector.handedHow() == std::vector<HandOver>(3, HandOver::Always));
}

}  // namespace
}  // namespace pellory::vprinter
